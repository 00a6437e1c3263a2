// Lanes: jobs of one lane run in order, one at a time; a lane that is stuck holds up no other.
#include "host/libvirt/lanes.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <future>
#include <mutex>
#include <thread>
#include <vector>

namespace qor::host::libvirt {
namespace {

using namespace std::chrono_literals;

TEST(LanesTest, OneLaneRunsItsJobsInOrderOneAtATime) {
  std::mutex mutex;
  std::vector<int> order;
  std::atomic<int> inside{0};
  std::atomic<int> most{0};
  std::promise<void> allDone;
  {
    Lanes lanes;
    for (int i = 0; i < 50; ++i) {
      lanes.submit("vm1/agent", [&, i] {
        most = std::max(most.load(), ++inside);
        {
          std::lock_guard lock(mutex);
          order.push_back(i);
        }
        --inside;
        if (i == 49) allDone.set_value();
      });
    }
    ASSERT_EQ(allDone.get_future().wait_for(10s), std::future_status::ready);
  }
  ASSERT_EQ(order.size(), 50u);
  for (int i = 0; i < 50; ++i) EXPECT_EQ(order[static_cast<std::size_t>(i)], i);
  EXPECT_EQ(most.load(), 1);
}

// The fault this prevents: six calls to one machine's silent agent held every shared worker,
// and another machine's clone waited for them.
TEST(LanesTest, AStuckLaneHoldsUpNoOtherLane) {
  std::promise<void> release;
  std::shared_future<void> released = release.get_future().share();
  std::promise<void> otherRan;
  Lanes lanes(4);
  for (int i = 0; i < 6; ++i) lanes.submit("vm1/agent", [released] { released.wait(); });
  lanes.submit("vm2/lifecycle", [&] { otherRan.set_value(); });
  EXPECT_EQ(otherRan.get_future().wait_for(10s), std::future_status::ready);
  release.set_value();
}

TEST(LanesTest, ALaneBeyondTheThreadLimitWaitsForAPlace) {
  std::promise<void> release;
  std::shared_future<void> released = release.get_future().share();
  std::promise<void> thirdRan;
  Lanes lanes(2);
  lanes.submit("a", [released] { released.wait(); });
  lanes.submit("b", [released] { released.wait(); });
  lanes.submit("c", [&] { thirdRan.set_value(); });
  auto third = thirdRan.get_future();
  EXPECT_EQ(third.wait_for(50ms), std::future_status::timeout);
  release.set_value();
  EXPECT_EQ(third.wait_for(10s), std::future_status::ready);
}

TEST(LanesTest, QueuedJobsAreDroppedWhenTheLanesGo) {
  std::promise<void> release;
  std::shared_future<void> released = release.get_future().share();
  std::atomic<int> ran{0};
  std::promise<void> started;
  std::thread releaser;
  {
    Lanes lanes;
    lanes.submit("a", [&, released] {
      started.set_value();
      released.wait();
      ++ran;
    });
    for (int i = 0; i < 5; ++i) lanes.submit("a", [&] { ++ran; });
    started.get_future().wait();
    releaser = std::thread([&] {
      std::this_thread::sleep_for(20ms);
      release.set_value();
    });
  }  // waits for the running job, drops the five queued
  releaser.join();
  EXPECT_EQ(ran.load(), 1);
}

}  // namespace
}  // namespace qor::host::libvirt
