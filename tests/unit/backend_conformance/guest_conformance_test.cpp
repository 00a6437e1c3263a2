// What the bus side relies on from a backend's guests, USB devices, windows and persistence.
// Each case skips when the backend has no such concern.

#include <algorithm>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "backend_fixture.h"
#include "contract/value.h"
#include "contract/vocabulary.h"
#include "outcome.h"

namespace qor::host::conformance {
namespace {

using contract::QorOpenMode;
using contract::QorWhence;

OpenFileArgs opening(std::string path, QorOpenMode mode) {
  return {std::move(path), code(mode), false};
}

ExecuteArgs running(std::string program) {
  return {std::move(program), {}, {}, "", true, true};
}

// The guest cases need a guest that serves files and programs.
#define SKIP_WITHOUT(concern, b)                                    \
  if (!(b).concern) GTEST_SKIP() << "the backend has no " #concern; \
  if (!facts().guestAnswers) GTEST_SKIP() << "no guest of this world answers"

TEST_P(BackendConformance, GuestFilesHandlesAreNeverReused) {
  Backends b = fixture().make();
  SKIP_WITHOUT(files, b);
  const MachineKey key = keyOf(b, facts().running.id);
  auto open = [&](QorOpenMode mode) {
    return ask<GuestHandle>(fixture(), [&](Completion<GuestHandle> d) {
      b.files->open(key, opening("/conformance.txt", mode), d);
    });
  };
  const auto written = open(QorOpenMode::writing);
  ASSERT_TRUE(written.value()) << describe(written.kind());
  const GuestHandle first = *written.value();
  EXPECT_TRUE(contains(b.files->files(key), first));
  const auto write = ask<Done>(fixture(), [&](Completion<Done> d) {
    b.files->write(key, first, {"aGk=", 0, code(QorWhence::current), true, false}, d);
  });
  EXPECT_EQ(describe(write.kind()), describe(std::nullopt));
  const auto closed =
      ask<Done>(fixture(), [&](Completion<Done> d) { b.files->close(key, first, d); });
  EXPECT_EQ(describe(closed.kind()), describe(std::nullopt));
  EXPECT_FALSE(contains(b.files->files(key), first));
  const auto readClosed = ask<std::string>(fixture(), [&](Completion<std::string> d) {
    b.files->read(key, first, {0, code(QorWhence::current), 16, true, false}, d);
  });
  EXPECT_EQ(describe(readClosed.kind()), describe(HostErrorKind::noObject));

  const auto reopened = open(QorOpenMode::reading);
  ASSERT_TRUE(reopened.value());
  EXPECT_NE(*reopened.value(), first);
  const auto read = ask<std::string>(fixture(), [&](Completion<std::string> d) {
    b.files->read(key, *reopened.value(), {0, code(QorWhence::current), 16, true, false}, d);
  });
  EXPECT_EQ(read.value() ? *read.value() : describe(read.kind()), "aGk=");
  b.files->releaseFile(*reopened.value());
  EXPECT_TRUE(
      eventually(fixture(), [&] { return !contains(b.files->files(key), *reopened.value()); }));
  b.files->releaseFile(*reopened.value());  // gone already: no error, nothing to answer
  const auto third = open(QorOpenMode::reading);
  ASSERT_TRUE(third.value());
  EXPECT_NE(*third.value(), first);
  EXPECT_NE(*third.value(), *reopened.value());
}

TEST_P(BackendConformance, GuestProcessHandlesAreNeverReusedAndResultsAreRecords) {
  Backends b = fixture().make();
  SKIP_WITHOUT(processes, b);
  const MachineKey key = keyOf(b, facts().running.id);
  auto execute = [&] {
    const auto started = ask<GuestHandle>(fixture(), [&](Completion<GuestHandle> d) {
      b.processes->execute(key, running("/bin/true"), d);
    });
    EXPECT_TRUE(started.value()) << describe(started.kind());
    return started.value() ? *started.value() : GuestHandle{0};
  };
  const GuestHandle first = execute();
  const GuestHandle second = execute();
  EXPECT_NE(first, second);
  EXPECT_TRUE(contains(b.processes->processes(key), first));

  const auto result = ask<contract::Value>(
      fixture(), [&](Completion<contract::Value> d) { b.processes->result(key, first, d); });
  ASSERT_TRUE(result.value()) << describe(result.kind());
  EXPECT_EQ(result.value()->signature, "a{sv}");
  const auto record = contract::dictionaryOf(*result.value());
  ASSERT_TRUE(record);
  EXPECT_TRUE(std::any_of(record->begin(), record->end(), [](const auto& entry) {
    return entry.first == contract::record_keys::kHasExited;
  }));

  b.processes->releaseProcess(first);
  EXPECT_TRUE(eventually(fixture(), [&] { return !contains(b.processes->processes(key), first); }));
  const auto released = ask<contract::Value>(
      fixture(), [&](Completion<contract::Value> d) { b.processes->result(key, first, d); });
  EXPECT_EQ(describe(released.kind()), describe(HostErrorKind::noObject));
  const GuestHandle third = execute();
  EXPECT_NE(third, first);
  EXPECT_NE(third, second);
}

TEST_P(BackendConformance, StoppingAMachineReleasesItsGuest) {
  Backends b = fixture().make();
  const MachineKey key = keyOf(b, facts().running.id);
  std::optional<GuestHandle> file, process;
  if (b.files && facts().guestAnswers) {
    const auto opened = ask<GuestHandle>(fixture(), [&](Completion<GuestHandle> d) {
      b.files->open(key, opening("/conformance.txt", QorOpenMode::writing), d);
    });
    ASSERT_TRUE(opened.value()) << describe(opened.kind());
    file = *opened.value();
  }
  if (b.processes && facts().guestAnswers) {
    const auto started = ask<GuestHandle>(fixture(), [&](Completion<GuestHandle> d) {
      b.processes->execute(key, running("/bin/true"), d);
    });
    ASSERT_TRUE(started.value()) << describe(started.kind());
    process = *started.value();
  }
  const bool lends = b.usb && !b.usb->devices().empty() && facts().secondRunning;
  if (lends) {
    const auto lent = ask<Done>(fixture(), [&](Completion<Done> d) { b.usb->connect(0, key, d); });
    ASSERT_EQ(describe(lent.kind()), describe(std::nullopt));
  }
  if (!file && !process && !lends) GTEST_SKIP() << "nothing a guest could hold";

  ask<Done>(fixture(), [&](Completion<Done> d) {
    b.machines->stop(key, code(contract::QorStopMethod::force), d);
  });
  if (file) {
    EXPECT_TRUE(b.files->files(key).empty());
  }
  if (process) {
    EXPECT_TRUE(b.processes->processes(key).empty());
  }
  if (lends) {
    const MachineKey other = keyOf(b, facts().secondRunning->id);
    const auto taken =
        ask<Done>(fixture(), [&](Completion<Done> d) { b.usb->connect(0, other, d); });
    EXPECT_EQ(describe(taken.kind()), describe(std::nullopt)) << "the device is free again";
  }
}

TEST_P(BackendConformance, AUsbDeviceGoesToOneRunningMachineAtATime) {
  Backends b = fixture().make();
  if (!b.usb) GTEST_SKIP() << "the backend has no usb";
  if (b.usb->devices().empty() || !facts().secondRunning) {
    GTEST_SKIP() << "this world has no device or no second running machine";
  }
  const MachineKey first = keyOf(b, facts().running.id);
  const MachineKey second = keyOf(b, facts().secondRunning->id);
  const MachineKey stopped = keyOf(b, facts().stopped.id);
  struct Row {
    const char* what;
    std::function<void(Completion<Done>)> request;
    std::optional<HostErrorKind> expected;
  };
  const Row rows[] = {
      {"to a stopped machine", [&](auto d) { b.usb->connect(0, stopped, d); }, kInvalidState},
      {"disconnect a free device", [&](auto d) { b.usb->disconnect(0, d); }, kInvalidState},
      {"connect", [&](auto d) { b.usb->connect(0, first, d); }, std::nullopt},
      {"again to the same machine", [&](auto d) { b.usb->connect(0, first, d); }, std::nullopt},
      {"to another machine", [&](auto d) { b.usb->connect(0, second, d); }, kInvalidState},
      {"disconnect", [&](auto d) { b.usb->disconnect(0, d); }, std::nullopt},
      {"then to the other machine", [&](auto d) { b.usb->connect(0, second, d); }, std::nullopt},
  };
  for (const auto& row : rows) {
    EXPECT_EQ(describe(ask<Done>(fixture(), row.request).kind()), describe(row.expected))
        << row.what;
  }
}

TEST_P(BackendConformance, WindowsMoveHideAndCloseByTheirKey) {
  Backends b = fixture().make();
  if (!b.windows) GTEST_SKIP() << "the backend has no windows";
  const auto before = b.windows->windows();
  if (before.size() < 2) GTEST_SKIP() << "this world has fewer than two windows";
  const std::uint64_t last = before.back().key;
  ASSERT_TRUE(succeeded(b.windows->move(last, 1)));
  EXPECT_EQ(b.windows->windows().front().key, last);
  EXPECT_EQ(b.windows->windows().size(), before.size());
  ASSERT_TRUE(succeeded(b.windows->setVisible(last, false)));
  EXPECT_FALSE(b.windows->windows().front().visible);
  const auto closed = ask<Done>(fixture(), [&](Completion<Done> d) {
    b.windows->close(last, code(contract::QorSaveOptions::no), "", d);
  });
  EXPECT_EQ(describe(closed.kind()), describe(std::nullopt));
  const auto after = b.windows->windows();
  EXPECT_EQ(after.size(), before.size() - 1);
  EXPECT_TRUE(std::none_of(after.begin(), after.end(), [&](const WindowInfo& w) {
    return w.key == last;
  })) << "a closed window's key names no other";
  auto kindOf = [](const Result<Done>& r) {
    return describe(failureOf(r) ? std::optional(failureOf(r)->kind) : std::nullopt);
  };
  EXPECT_EQ(kindOf(b.windows->setVisible(last, true)), describe(HostErrorKind::noObject));
  EXPECT_EQ(kindOf(b.windows->move(last, 1)), describe(HostErrorKind::noObject));
}

TEST_P(BackendConformance, PersistingAfterAChangeSucceeds) {
  Backends b = fixture().make();
  if (!b.persistence) GTEST_SKIP() << "the backend keeps no state of its own";
  EXPECT_TRUE(succeeded(b.persistence->persist())) << "nothing changed";
  ask<Done>(fixture(), [&](Completion<Done> d) {
    b.machines->start(keyOf(b, facts().stopped.id), false, false, d);
  });
  const auto persisted = b.persistence->persist();
  EXPECT_TRUE(succeeded(persisted)) << (failureOf(persisted) ? failureOf(persisted)->message : "");
}

}  // namespace
}  // namespace qor::host::conformance
