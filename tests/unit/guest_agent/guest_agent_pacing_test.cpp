#include <gtest/gtest.h>

#include "host/libvirt/guest_agent_pacing.h"

namespace qor::host::libvirt {
namespace {

using std::chrono::milliseconds;

TEST(ResultPacingTest, YoungProgramsAreLookedAtSoonOldOnesOncePerHold) {
  struct Case {
    int age, held;
    int after;
    bool look;
  } cases[] = {
      {0, 0, 5, true},       // just started: again in 5 ms
      {40, 20, 10, true},    // a quarter of its age
      {40, 45, 5, false},    // the next look would pass the hold: answer when it ends
      {1000, 0, 50, false},  // long-running: one look per GetResult, held the whole time
      {1000, 12, 38, false}, {1000, 60, 0, false},  // held too long already: answer now
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << "age " << c.age << " held " << c.held);
    const NextLook next = nextLook(milliseconds(c.age), milliseconds(c.held));
    EXPECT_EQ(next.after, milliseconds(c.after));
    EXPECT_EQ(next.look, c.look);
  }
}

// A client that asks without pause makes at most a handful of agent calls per hold.
TEST(ResultPacingTest, LooksPerHoldAreBounded) {
  for (int age : {0, 10, 100, 10000}) {
    int looks = 1;         // the one when the GetResult arrives
    milliseconds held(2);  // an agent call takes milliseconds
    for (;;) {
      const NextLook next = nextLook(milliseconds(age) + held, held);
      held += next.after;
      if (!next.look) break;
      ++looks;
      held += milliseconds(2);
    }
    EXPECT_LE(looks, 8) << age;
    if (age >= 200) {
      EXPECT_EQ(looks, 1) << age;
    }
    EXPECT_GE(held, milliseconds(50)) << age;
  }
}

}  // namespace
}  // namespace qor::host::libvirt
