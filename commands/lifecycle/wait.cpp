#include <unistd.h>
#include <csignal>

#include <algorithm>
#include <array>
#include <chrono>
#include <string>
#include <thread>
#include <utility>

#include "cli/output.h"
#include "commands/command_base.h"
#include "commands/commands.h"

namespace qor::commands {
namespace {

using Clock = std::chrono::steady_clock;
using scripting::QorWaitCondition;

// The convention of timeout(1), so that a script can tell a timeout from a failure.
constexpr int kTimedOut = 124;
// What a shell reports for a command ended by Ctrl-C.
constexpr int kInterrupted = 130;
// Whatever the host does, no more requests than this reach it in a second of waiting.
constexpr std::chrono::milliseconds kLeastRequestSpacing{100};
// Longer than any machine runs, and short enough for the clock's arithmetic: no limit.
constexpr std::int64_t kLongestTimeoutSeconds = std::int64_t{100} * 365 * 24 * 3600;

constexpr std::array<std::pair<std::string_view, QorWaitCondition>, 5> kConditions{{
    {"agent", QorWaitCondition::agent},
    {"ip", QorWaitCondition::ip},
    {"started", QorWaitCondition::started},
    {"stopped", QorWaitCondition::stopped},
    {"paused", QorWaitCondition::paused},
}};

QorWaitCondition conditionNamed(std::string_view name) {
  for (const auto& [word, condition] : kConditions) {
    if (word == name) return condition;
  }
  return QorWaitCondition::agent;  // the parser has checked the word
}

std::string timeoutMessage(std::string_view condition, std::int64_t seconds) {
  const std::string span = std::to_string(seconds) + (seconds == 1 ? " second" : " seconds");
  if (condition == "agent") {
    return "The guest agent of the virtual machine did not answer within " + span + ".";
  }
  if (condition == "ip") {
    return "The virtual machine's guest reported no IP address within " + span + ".";
  }
  return "The virtual machine was not " + std::string(condition) + " within " + span + ".";
}

// The request on the bus is the only thing held; leaving at once drops the connection, and the
// host forgets the held request with it.
extern "C" void leaveOnInterrupt(int) {
  ::_exit(kInterrupted);
}

class Wait final : public MachineCommand {
 public:
  explicit Wait(const cli::ParsedArguments& arguments)
      : MachineCommand(arguments),
        conditionName_(arguments.value("for").value_or("agent")),
        condition_(conditionNamed(conditionName_)),
        timeoutSeconds_(std::stoll(arguments.value("timeout").value_or("300"))) {}

  int execute(scripting::QorApplication& application) override {
    struct sigaction interrupt {};
    interrupt.sa_handler = leaveOnInterrupt;
    sigemptyset(&interrupt.sa_mask);
    sigaction(SIGINT, &interrupt, nullptr);

    auto machine = findMachine(application);
    const bool limited = timeoutSeconds_ > 0 && timeoutSeconds_ < kLongestTimeoutSeconds;
    const Clock::time_point deadline =
        Clock::now() + std::chrono::seconds(limited ? timeoutSeconds_ : 0);
    for (;;) {
      const Clock::time_point asked = Clock::now();
      std::int64_t hold = contract::kWaitForLongestHoldMs;
      if (limited) hold = std::min(hold, millisecondsUntil(deadline, asked));
      const auto holds = machine.waitFor(condition_, hold);
      if (!holds) return kExitRequestFailed;  // reported by the event handler
      if (*holds) return kExitSuccess;
      const Clock::time_point answered = Clock::now();
      if (limited && answered >= deadline) {
        cli::standardErrorStream().write("Error: " +
                                         timeoutMessage(conditionName_, timeoutSeconds_));
        return kTimedOut;
      }
      Clock::time_point next = asked + kLeastRequestSpacing;
      if (limited) next = std::min(next, deadline);
      std::this_thread::sleep_until(next);
    }
  }

 private:
  static std::int64_t millisecondsUntil(Clock::time_point deadline, Clock::time_point now) {
    if (deadline <= now) return 0;
    // Rounded up, so that the host's answer does not come before the deadline.
    return std::chrono::ceil<std::chrono::milliseconds>(deadline - now).count();
  }

  std::string conditionName_;
  QorWaitCondition condition_;
  std::int64_t timeoutSeconds_;
};

}  // namespace

const std::vector<std::string>& waitConditionNames() {
  static const std::vector<std::string> names = [] {
    std::vector<std::string> all;
    for (const auto& entry : kConditions) all.emplace_back(entry.first);
    return all;
  }();
  return names;
}

CommandPtr makeWait(const cli::ParsedArguments& arguments) {
  return std::make_unique<Wait>(arguments);
}

}  // namespace qor::commands
