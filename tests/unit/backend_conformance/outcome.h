#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "backend_fixture.h"
#include "contract/codes.h"

namespace qor::host::conformance {

using contract::code;
using contract::QorStatus;

inline constexpr auto kInvalidState = HostErrorKind::invalidState;

// What a Completion dropped unanswered fires with.
inline constexpr std::string_view kGaveUp = "The host gave up on the request.";

// The outcome of one request: how often its completion fired, and with what.
template <class T>
struct Outcome {
  int calls = 0;
  std::optional<Result<T>> last;

  Completion<T> completion() {
    return Completion<T>([this](Result<T> r) {
      ++calls;
      last = std::move(r);
    });
  }
  // Fired once, and by the backend rather than by a completion it dropped.
  bool answered() const {
    if (calls != 1 || !last) return false;
    const Failure* f = failureOf(*last);
    return !f || f->message != kGaveUp;
  }
  const T* value() const { return last ? std::get_if<T>(&*last) : nullptr; }
  std::optional<HostErrorKind> kind() const {
    if (!last) return std::nullopt;
    const Failure* f = failureOf(*last);
    return f ? std::optional(f->kind) : std::nullopt;
  }
};

// A kind as the error name a client would read; "success" for none.
inline std::string describe(const std::optional<HostErrorKind>& kind) {
  return kind ? std::string(contract::errorNameOf(*kind)) : "success";
}

// Fires the request, settles the loop, and checks that it was answered exactly once.
template <class T, class Request>
Outcome<T> ask(BackendFixture& fixture, Request request) {
  Outcome<T> outcome;
  request(outcome.completion());
  fixture.settleUntil([&] { return outcome.calls > 0; });
  EXPECT_TRUE(outcome.answered()) << "fired " << outcome.calls << " times";
  return outcome;
}

// Whether `holds` comes true while the loop settles, within five seconds: a backend may carry
// out a release in the background.
template <class Predicate>
bool eventually(BackendFixture& fixture, Predicate holds) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
  while (!holds()) {
    if (std::chrono::steady_clock::now() >= deadline) return false;
    fixture.settle();
  }
  return true;
}

inline MachineKey keyOf(Backends& b, const std::string& id) {
  auto key = b.machines->byId(id);
  EXPECT_TRUE(key) << id;
  return key.value_or(0);
}

inline std::optional<std::uint32_t> statusOf(Backends& b, MachineKey key) {
  auto info = b.machines->info(key);
  return info ? info->status : std::nullopt;
}

inline bool contains(const std::vector<GuestHandle>& handles, GuestHandle h) {
  return std::find(handles.begin(), handles.end(), h) != handles.end();
}

}  // namespace qor::host::conformance
