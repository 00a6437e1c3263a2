// The host's loop: tasks posted from other threads run on the loop's thread, all of them, in
// the order each thread posted them; timers run once unless dropped first.
#include "host/backend/event_loop.h"

#include <gtest/gtest.h>

#include <chrono>
#include <thread>
#include <vector>

namespace qor::host {
namespace {

class EventLoopTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_GE(sd_event_new(&event_), 0);
    loop_ = std::make_unique<EventLoop>(event_);
    ASSERT_GE(loop_->start(), 0);
  }
  void TearDown() override {
    loop_.reset();
    sd_event_unref(event_);
  }
  // Turns the loop until `done` holds, for at most a few seconds.
  template <class Done>
  void runUntil(Done done) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (!done() && std::chrono::steady_clock::now() < deadline) sd_event_run(event_, 100000);
  }

  sd_event* event_ = nullptr;
  std::unique_ptr<EventLoop> loop_;
};

TEST_F(EventLoopTest, TasksPostedFromWorkerThreadsRunOnTheLoopThread) {
  constexpr int kThreads = 4;
  constexpr int kTasks = 2000;
  const auto loopThread = std::this_thread::get_id();
  std::vector<std::vector<int>> seen(kThreads);
  int elsewhere = 0;
  std::vector<std::thread> workers;
  for (int t = 0; t < kThreads; ++t) {
    workers.emplace_back([&, t] {
      for (int i = 0; i < kTasks; ++i) {
        loop_->post([&, t, i] {
          if (std::this_thread::get_id() != loopThread) ++elsewhere;
          seen[static_cast<std::size_t>(t)].push_back(i);
        });
      }
    });
  }
  for (auto& w : workers) w.join();
  runUntil([&] {
    for (const auto& s : seen) {
      if (s.size() < kTasks) return false;
    }
    return true;
  });
  EXPECT_EQ(elsewhere, 0);
  for (const auto& s : seen) {
    ASSERT_EQ(s.size(), static_cast<std::size_t>(kTasks));
    for (int i = 0; i < kTasks; ++i) ASSERT_EQ(s[static_cast<std::size_t>(i)], i);
  }
}

TEST_F(EventLoopTest, ATimerRunsOnceAndADroppedOneNever) {
  int fired = 0;
  int dropped = 0;
  auto timer = loop_->after(std::chrono::milliseconds(1), [&] { ++fired; });
  loop_->after(std::chrono::milliseconds(1), [&] { ++dropped; }).reset();
  runUntil([&] { return fired > 0; });
  sd_event_run(event_, 20000);
  EXPECT_EQ(fired, 1);
  EXPECT_EQ(dropped, 0);
}

}  // namespace
}  // namespace qor::host
