#pragma once

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <optional>
#include <ostream>
#include <string>
#include <utility>
#include <vector>

#include "host/backend/backend.h"

namespace qor::host::conformance {

// What the conformance suite asks of a backend under test. A fixture builds the backend on a
// fixed world it describes, and runs its loop; the suite drives only the concern interfaces in
// the Backends bundle, and skips a concern the bundle leaves out.
//
// Adding a backend is one file: a BackendFixture subclass and an INSTANTIATE_TEST_SUITE_P line
// (see simulated_conformance_test.cpp).

struct MachineFacts {
  std::string id;
  std::string name;
};

// The machines the fixture's world starts with, and what the backend does with them today.
struct WorldFacts {
  MachineFacts running;  // started
  MachineFacts stopped;
  std::optional<MachineFacts> paused;
  std::optional<MachineFacts> secondRunning;  // started too: a device's other claimant
  std::vector<std::string> listOrder;         // the ids of all machines, in list order
  // Names that find a machine although written otherwise (another canonical form, or a name
  // two machines share, which finds the first): {text looked up, id found}.
  std::vector<std::pair<std::string, std::string>> equivalentNames;
  bool idsInAnyCase = false;  // an id in other letter case finds its machine (a UUID does)
  // A new machine (a copy) comes last in the list. The bus side relies only on a stable order;
  // a backend may list its machines otherwise (by name, say).
  bool newMachinesLast = false;
  bool guestAnswers = false;  // the running machine's guest serves files and programs
};

class BackendFixture {
 public:
  virtual ~BackendFixture() = default;
  // A fresh backend on the fixed world; the previous one, if any, is dropped first. The
  // pointers stay valid until the next make() or the fixture's end.
  virtual Backends make() = 0;
  // Runs the loop until every completion due has fired (timers included).
  virtual void settle() = 0;
  // The same, for a request whose answer may take real time (a real machine's): runs the loop
  // until `answered` holds, then settles.
  virtual void settleUntil(const std::function<bool()>& answered) {
    (void)answered;
    settle();
  }
  virtual const WorldFacts& facts() const = 0;
};

struct BackendCase {
  std::string name;  // the instantiation's suffix
  // Answers nullptr where the backend's world is not there to test: its cases skip.
  std::function<std::unique_ptr<BackendFixture>()> makeFixture;
};

inline void PrintTo(const BackendCase& c, std::ostream* os) {
  *os << c.name;
}

inline std::string caseName(const ::testing::TestParamInfo<BackendCase>& info) {
  return info.param.name;
}

class BackendConformance : public ::testing::TestWithParam<BackendCase> {
 protected:
  void SetUp() override {
    fixture_ = GetParam().makeFixture();
    if (!fixture_) GTEST_SKIP() << "the world this backend needs is not set up";
  }
  void TearDown() override { fixture_.reset(); }

  BackendFixture& fixture() { return *fixture_; }
  const WorldFacts& facts() { return fixture_->facts(); }

 private:
  std::unique_ptr<BackendFixture> fixture_;
};

}  // namespace qor::host::conformance
