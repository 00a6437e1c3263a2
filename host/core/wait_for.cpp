// WaitFor: the request is held while the machine is looked at again and again, so that a
// client waiting for a guest sends a request a second, not one every few milliseconds.

#include <algorithm>
#include <chrono>

#include "host/core/dispatcher.h"

namespace qor::host {
namespace {

using Clock = std::chrono::steady_clock;

// Between two looks at a machine; what a client waits for after the condition holds.
constexpr std::chrono::milliseconds kLookInterval{150};

bool isState(std::uint32_t condition) {
  return condition == code(QorWaitCondition::started) ||
         condition == code(QorWaitCondition::stopped) ||
         condition == code(QorWaitCondition::paused);
}

bool isGuest(std::uint32_t condition) {
  return condition == code(QorWaitCondition::agent) || condition == code(QorWaitCondition::ip);
}

}  // namespace

struct Dispatcher::HeldWait {
  std::uint64_t number = 0;
  std::string sender;
  MachineKey key = 0;
  std::uint32_t condition = 0;
  Clock::time_point deadline;
  Completion<Reply> done;
  std::unique_ptr<Timer> timer;
};

Dispatcher::~Dispatcher() = default;

void Dispatcher::waitFor(Target& target, const Request& request, Completion<Reply> done) {
  const std::uint32_t condition = *uint32Of(request.args[0]);
  const std::int64_t milliseconds = *signedOf(request.args[1]);
  if (!isState(condition) && !isGuest(condition)) {
    done(Reply::failure(invalidArgs(
        "The condition must be 'WfAg' (agent), 'WfIp' (ip), 'StSc' (started), 'StSa' (stopped) "
        "or 'StSe' (paused).")));
    return;
  }
  if (milliseconds < 0) {
    done(Reply::failure(invalidArgs("The time to wait must not be negative.")));
    return;
  }
  auto wait = std::make_shared<HeldWait>(HeldWait{
      nextWait_++, request.sender, target.key(), condition,
      Clock::now() + std::chrono::milliseconds(
                         std::min(milliseconds, contract::kWaitForLongestHoldMs)),
      std::move(done), nullptr});
  waits_[wait->number] = wait;
  lookAgain(wait);
}

void Dispatcher::lookAgain(const std::shared_ptr<HeldWait>& wait) {
  if (auto e = backend_.unavailable()) return finishWait(wait, *e);
  const auto machine = backend_.machine(wait->key);
  if (!machine) return finishWait(wait, unknownObject(PathKind::kMachine));
  const std::uint32_t status = machine->status.value_or(0);
  const std::weak_ptr<HeldWait> weak = wait;
  const auto later = [this, weak](Result<bool> outcome) {
    if (auto held = weak.lock()) finishWait(held, std::move(outcome));
  };
  if (isState(wait->condition)) return later(status == wait->condition);
  // A stopped or paused machine's guest does not come up by itself: no use waiting.
  if (status == code(QorStatus::stopped) || status == code(QorStatus::paused)) {
    return later(invalidState(std::string("The virtual machine is ") +
                              (status == code(QorStatus::stopped) ? "stopped" : "paused") +
                              "; its guest cannot become ready until it is started."));
  }
  if (status != code(QorStatus::started)) return later(false);  // starting, resuming, …
  backend_.guestReady(wait->key, wait->condition, Completion<bool>(later));
}

// Answers when the condition holds, an error came or the time is up; else looks again soon.
void Dispatcher::finishWait(const std::shared_ptr<HeldWait>& wait, Result<bool> outcome) {
  const auto* holds = std::get_if<bool>(&outcome);
  const Clock::time_point now = Clock::now();
  if (holds && !*holds && loop_ && now < wait->deadline) {
    const auto pause = std::min<Clock::duration>(kLookInterval, wait->deadline - now);
    const std::weak_ptr<HeldWait> weak = wait;
    wait->timer = loop_->after(std::chrono::ceil<std::chrono::milliseconds>(pause), [this, weak] {
      if (auto held = weak.lock()) lookAgain(held);
    });
    return;
  }
  waits_.erase(wait->number);
  wait->timer.reset();
  if (holds) {
    wait->done(Reply::of(Value::boolean(*holds)));
  } else {
    wait->done(Reply::failure(std::get<HostError>(std::move(outcome))));
  }
}

void Dispatcher::dropWaitsOf(const std::string& uniqueName) {
  std::erase_if(waits_, [&](const auto& entry) { return entry.second->sender == uniqueName; });
}

}  // namespace qor::host
