#pragma once

// When a held GetResult looks at its program again: a plain function of two durations, no
// state; safe on any thread.

#include <chrono>

namespace qor::host::libvirt {

// A GetResult of a running program is held for up to kResultHold, so that a client asking
// without pause asks about twenty times a second. Meanwhile the agent is asked again, at first
// soon (most programs a client waits for end within milliseconds), then less often the longer
// the program runs, down to one look per GetResult.
inline constexpr std::chrono::milliseconds kResultHold{50};

struct NextLook {
  std::chrono::milliseconds after;  // from now
  bool look;                        // false: answer "still running" then, without asking the agent
};

// `age`: how long the program has run; `held`: how long this GetResult has waited.
NextLook nextLook(std::chrono::steady_clock::duration age,
                  std::chrono::steady_clock::duration held);

}  // namespace qor::host::libvirt
