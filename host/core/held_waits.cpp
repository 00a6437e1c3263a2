#include "host/core/held_waits.h"

#include <algorithm>

#include "contract/codes.h"

namespace qor::host {
namespace {

using Clock = std::chrono::steady_clock;
using contract::code;
using contract::QorStatus;
using contract::QorWaitCondition;

// Between two looks at a machine: how late a client may learn that the condition holds.
constexpr std::chrono::milliseconds kLookInterval{150};

bool isState(std::uint32_t condition) {
  return condition == code(QorWaitCondition::started) ||
         condition == code(QorWaitCondition::stopped) ||
         condition == code(QorWaitCondition::paused);
}

}  // namespace

struct HeldWaits::Wait {
  std::uint64_t number = 0;
  std::string sender;
  MachineKey key = 0;
  std::uint32_t condition = 0;
  Clock::time_point deadline;
  Completion<Values> done;
  std::unique_ptr<Timer> timer;
};

void HeldWaits::hold(MachineKey key, std::uint32_t condition, std::chrono::milliseconds hold,
                     const std::string& sender, Completion<Values> done) {
  auto wait = std::make_shared<Wait>(
      Wait{next_++, sender, key, condition, Clock::now() + hold, std::move(done), nullptr});
  waits_[wait->number] = wait;
  look(wait);
}

void HeldWaits::look(const std::shared_ptr<Wait>& wait) {
  const std::weak_ptr<Wait> weak = wait;
  const auto later = [this, weak](Result<bool> outcome) {
    if (auto held = weak.lock()) settle(held, std::move(outcome));
  };
  if (auto reachable = backends_.machines->reachable(); !succeeded(reachable)) {
    return later(*failureOf(reachable));
  }
  const auto machine = backends_.machines->info(wait->key);
  if (!machine) return later(noObject("The virtual machine does not exist."));
  const std::uint32_t status = machine->status.value_or(0);
  if (isState(wait->condition)) return later(status == wait->condition);
  // A stopped or paused machine's guest does not come up by itself: no use waiting.
  if (status == code(QorStatus::stopped) || status == code(QorStatus::paused)) {
    return later(invalidState(std::string("The virtual machine is ") +
                              (status == code(QorStatus::stopped) ? "stopped" : "paused") +
                              "; its guest cannot become ready until it is started."));
  }
  if (status != code(QorStatus::started)) return later(false);  // starting, resuming, …
  if (!backends_.readiness) {
    return later(notSupported("This host cannot tell whether its machines' guests are ready."));
  }
  backends_.readiness->ready(wait->key, wait->condition, Completion<bool>(later));
}

// Answers when the condition holds, a failure came or the time is up; else looks again soon.
void HeldWaits::settle(const std::shared_ptr<Wait>& wait, Result<bool> outcome) {
  const auto* holds = std::get_if<bool>(&outcome);
  const Clock::time_point now = Clock::now();
  if (holds && !*holds && loop_ && now < wait->deadline) {
    const auto pause = std::min<Clock::duration>(kLookInterval, wait->deadline - now);
    const std::weak_ptr<Wait> weak = wait;
    wait->timer = loop_->after(std::chrono::ceil<std::chrono::milliseconds>(pause), [this, weak] {
      if (auto held = weak.lock()) look(held);
    });
    return;
  }
  waits_.erase(wait->number);
  wait->timer.reset();
  if (holds) {
    wait->done(Values{contract::Value::boolean(*holds)});
  } else {
    wait->done(std::get<Failure>(std::move(outcome)));
  }
}

void HeldWaits::connectionLeft(const std::string& uniqueName) {
  std::erase_if(waits_, [&](const auto& entry) { return entry.second->sender == uniqueName; });
}

}  // namespace qor::host
