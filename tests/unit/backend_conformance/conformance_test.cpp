// What the bus side relies on from every backend, through the concern interfaces only.

#include <algorithm>
#include <cctype>
#include <functional>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "backend_fixture.h"
#include "contract/codes.h"
#include "outcome.h"

namespace qor::host::conformance {
namespace {

TEST_P(BackendConformance, ListsMachinesInOrderAndFindsThemByIdAndName) {
  Backends b = fixture().make();
  ASSERT_TRUE(b.machines);
  ASSERT_TRUE(succeeded(b.machines->reachable()));
  std::vector<std::string> ids;
  std::set<MachineKey> keys;
  for (MachineKey key : b.machines->list()) {
    auto info = b.machines->info(key);
    ASSERT_TRUE(info);
    EXPECT_EQ(info->key, key);
    ids.push_back(info->id.value_or("?"));
    keys.insert(key);
  }
  EXPECT_EQ(ids, facts().listOrder);
  EXPECT_EQ(keys.size(), ids.size()) << "keys are distinct";

  std::vector<MachineFacts> known = {facts().running, facts().stopped};
  if (facts().paused) known.push_back(*facts().paused);
  for (const auto& m : known) {
    const auto byId = b.machines->byId(m.id);
    ASSERT_TRUE(byId) << m.id;
    EXPECT_EQ(b.machines->byName(m.name), byId) << m.name;
    EXPECT_EQ(b.machines->info(*byId)->name, m.name);
  }
  for (const auto& [text, id] : facts().equivalentNames) {
    EXPECT_EQ(b.machines->byName(text), b.machines->byId(id)) << text;
  }
  std::string otherCase = facts().running.id;
  for (char& c : otherCase)
    c = static_cast<char>(std::islower(c) ? std::toupper(c) : std::tolower(c));
  ASSERT_NE(otherCase, facts().running.id) << "the id has letters";
  EXPECT_EQ(b.machines->byId(otherCase).has_value(), facts().idsInAnyCase);

  for (const char* unknown : {"", "no such machine", "00000000-0000-0000-0000-000000000000"}) {
    EXPECT_FALSE(b.machines->byId(unknown)) << unknown;
    EXPECT_FALSE(b.machines->byName(unknown)) << unknown;
  }
  const MachineKey unused = *std::max_element(keys.begin(), keys.end()) + 1000;
  EXPECT_FALSE(b.machines->info(unused));
  if (b.serialPorts) {
    EXPECT_FALSE(b.serialPorts->serialPorts(unused));
  }
}

TEST_P(BackendConformance, InfoTellsEachMachinesState) {
  Backends b = fixture().make();
  EXPECT_EQ(statusOf(b, keyOf(b, facts().running.id)), code(QorStatus::started));
  EXPECT_EQ(statusOf(b, keyOf(b, facts().stopped.id)), code(QorStatus::stopped));
  if (facts().paused) {
    EXPECT_EQ(statusOf(b, keyOf(b, facts().paused->id)), code(QorStatus::paused));
  }
}

enum class From { running, stopped, paused };
enum class Action { start, suspend, stop, remove, duplicate };

struct LifecycleRow {
  From from;
  Action action;
  std::optional<HostErrorKind> expected;  // nullopt: success
  std::optional<QorStatus> after;         // nullopt: the machine is gone
};

const LifecycleRow kLifecycle[] = {
    {From::stopped, Action::start, std::nullopt, QorStatus::started},
    {From::paused, Action::start, std::nullopt, QorStatus::started},
    {From::running, Action::start, kInvalidState, QorStatus::started},
    {From::running, Action::suspend, std::nullopt, QorStatus::paused},
    {From::stopped, Action::suspend, kInvalidState, QorStatus::stopped},
    {From::paused, Action::suspend, kInvalidState, QorStatus::paused},
    {From::running, Action::stop, std::nullopt, QorStatus::stopped},
    {From::paused, Action::stop, std::nullopt, QorStatus::stopped},
    {From::stopped, Action::stop, kInvalidState, QorStatus::stopped},
    {From::stopped, Action::remove, std::nullopt, std::nullopt},
    {From::running, Action::remove, kInvalidState, QorStatus::started},
    {From::paused, Action::remove, kInvalidState, QorStatus::paused},
    {From::stopped, Action::duplicate, std::nullopt, QorStatus::stopped},
    {From::running, Action::duplicate, kInvalidState, QorStatus::started},
};

const char* nameOf(Action a) {
  switch (a) {
    case Action::start:
      return "start";
    case Action::suspend:
      return "suspend";
    case Action::stop:
      return "stop";
    case Action::remove:
      return "remove";
    case Action::duplicate:
      return "duplicate";
  }
  return "?";
}

TEST_P(BackendConformance, LifecycleOutcomesAndTheStatesTheyLeave) {
  for (const auto& row : kLifecycle) {
    const MachineFacts* m = row.from == From::running   ? &facts().running
                            : row.from == From::stopped ? &facts().stopped
                            : facts().paused            ? &*facts().paused
                                                        : nullptr;
    if (!m) continue;  // the world has no paused machine
    SCOPED_TRACE(std::string(nameOf(row.action)) + " " + m->name);
    Backends b = fixture().make();
    const MachineKey key = keyOf(b, m->id);
    const std::size_t before = b.machines->list().size();
    const auto outcome = ask<Done>(fixture(), [&](Completion<Done> done) {
      switch (row.action) {
        case Action::start:
          return b.machines->start(key, false, false, done);
        case Action::suspend:
          return b.machines->suspend(key, false, done);
        case Action::stop:
          return b.machines->stop(key, code(contract::QorStopMethod::force), done);
        case Action::remove:
          return b.machines->remove(key, done);
        case Action::duplicate:
          return b.machines->duplicate(key, std::nullopt, done);
      }
    });
    EXPECT_EQ(describe(outcome.kind()), describe(row.expected));
    if (!row.after) {
      EXPECT_FALSE(b.machines->info(key));
      EXPECT_FALSE(b.machines->byId(m->id));
      EXPECT_FALSE(b.machines->byName(m->name));
      EXPECT_EQ(b.machines->list().size(), before - 1);
      continue;
    }
    EXPECT_EQ(statusOf(b, key), code(*row.after));
    const bool copied = row.action == Action::duplicate && !row.expected;
    EXPECT_EQ(b.machines->list().size(), before + (copied ? 1 : 0));
  }
}

TEST_P(BackendConformance, ADuplicateIsANewStoppedMachine) {
  for (const std::optional<std::string>& name :
       {std::optional<std::string>("Conformance Copy"), std::optional<std::string>()}) {
    SCOPED_TRACE(name.value_or("(the backend's choice)"));
    Backends b = fixture().make();
    const auto before = b.machines->list();
    ask<Done>(fixture(), [&](Completion<Done> done) {
      b.machines->duplicate(keyOf(b, facts().stopped.id), name, done);
    });
    const auto after = b.machines->list();
    ASSERT_EQ(after.size(), before.size() + 1);
    if (facts().newMachinesLast) {
      EXPECT_TRUE(std::equal(before.begin(), before.end(), after.begin())) << "added at the end";
    }
    const auto added = std::find_if(after.begin(), after.end(), [&](MachineKey k) {
      return std::find(before.begin(), before.end(), k) == before.end();
    });
    ASSERT_NE(added, after.end()) << "the copy has a key of its own";
    const auto copy = b.machines->info(*added);
    ASSERT_TRUE(copy && copy->id && copy->name);
    EXPECT_NE(*copy->id, facts().stopped.id);
    EXPECT_EQ(b.machines->byId(*copy->id), copy->key);
    EXPECT_EQ(copy->status, code(QorStatus::stopped));
    if (name) {
      EXPECT_EQ(copy->name, *name);
    } else {
      EXPECT_NE(copy->name, facts().stopped.name);
    }
    EXPECT_EQ(b.machines->byName(*copy->name), copy->key);
  }
}

TEST_P(BackendConformance, AMachineThatHasGoneIsNoObject) {
  Backends b = fixture().make();
  const MachineKey key = keyOf(b, facts().stopped.id);
  ask<Done>(fixture(), [&](Completion<Done> done) { b.machines->remove(key, done); });
  ASSERT_FALSE(b.machines->info(key));
  using Request = std::function<void(Completion<Done>)>;
  const std::vector<std::pair<const char*, Request>> requests = {
      {"start", [&](Completion<Done> d) { b.machines->start(key, false, false, d); }},
      {"suspend", [&](Completion<Done> d) { b.machines->suspend(key, false, d); }},
      {"stop",
       [&](Completion<Done> d) { b.machines->stop(key, code(contract::QorStopMethod::kill), d); }},
      {"remove", [&](Completion<Done> d) { b.machines->remove(key, d); }},
      {"duplicate", [&](Completion<Done> d) { b.machines->duplicate(key, std::nullopt, d); }},
  };
  for (const auto& [name, request] : requests) {
    EXPECT_EQ(describe(ask<Done>(fixture(), request).kind()), describe(HostErrorKind::noObject))
        << name;
  }
  if (b.serialPorts) {
    EXPECT_FALSE(b.serialPorts->serialPorts(key));
  }
  if (b.files) {
    EXPECT_TRUE(b.files->files(key).empty());
    const auto opened = ask<GuestHandle>(fixture(), [&](Completion<GuestHandle> d) {
      b.files->open(key, {"/x", code(contract::QorOpenMode::reading), false}, d);
    });
    EXPECT_EQ(describe(opened.kind()), describe(HostErrorKind::noObject));
  }
  if (b.processes) {
    EXPECT_TRUE(b.processes->processes(key).empty());
    const auto executed = ask<GuestHandle>(fixture(), [&](Completion<GuestHandle> d) {
      b.processes->execute(key, {"/bin/true", {}, {}, "", true, true}, d);
    });
    EXPECT_EQ(describe(executed.kind()), describe(HostErrorKind::noObject));
  }
  if (b.network) {
    const auto addresses = ask<std::vector<std::string>>(
        fixture(), [&](Completion<std::vector<std::string>> d) { b.network->addresses(key, d); });
    EXPECT_EQ(describe(addresses.kind()), describe(HostErrorKind::noObject));
  }
}

TEST_P(BackendConformance, AGuestThatDoesNotRunIsInvalidState) {
  std::vector<const MachineFacts*> notRunning = {&facts().stopped};
  if (facts().paused) notRunning.push_back(&*facts().paused);
  for (const MachineFacts* m : notRunning) {
    SCOPED_TRACE(m->name);
    Backends b = fixture().make();
    const MachineKey key = keyOf(b, m->id);
    if (b.files) {
      const auto opened = ask<GuestHandle>(fixture(), [&](Completion<GuestHandle> d) {
        b.files->open(key, {"/conformance.txt", code(contract::QorOpenMode::writing), false}, d);
      });
      EXPECT_EQ(describe(opened.kind()), describe(kInvalidState)) << "open";
    }
    if (b.processes) {
      const auto executed = ask<GuestHandle>(fixture(), [&](Completion<GuestHandle> d) {
        b.processes->execute(key, {"/bin/true", {}, {}, "", true, true}, d);
      });
      EXPECT_EQ(describe(executed.kind()), describe(kInvalidState)) << "execute";
    }
    if (b.network) {
      const auto addresses = ask<std::vector<std::string>>(
          fixture(), [&](Completion<std::vector<std::string>> d) { b.network->addresses(key, d); });
      EXPECT_EQ(describe(addresses.kind()), describe(kInvalidState)) << "addresses";
    }
  }
}

}  // namespace
}  // namespace qor::host::conformance
