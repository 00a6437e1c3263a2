// Jobs on the lanes: the outcome crosses to the loop typed, and nothing of a job escapes its
// thread or outlives its owner.
#include <gtest/gtest.h>

#include <optional>
#include <stdexcept>
#include <thread>

#include "host/libvirt/worker_jobs.h"
#include "queue_loop.h"

namespace qor::host::libvirt {
namespace {

using testing::QueueLoop;

class WorkerJobsTest : public ::testing::Test {
 protected:
  template <class T>
  Result<T> outcomeOf(std::function<Result<T>()> job) {
    std::optional<Result<T>> out;
    std::thread::id finishedOn;
    jobs.run<T>("machine", std::move(job), [&](Result<T> r) {
      finishedOn = std::this_thread::get_id();
      out = std::move(r);
    });
    EXPECT_FALSE(jobs.idle());
    EXPECT_TRUE(loop.runUntil([&] { return out.has_value(); }));
    EXPECT_EQ(finishedOn, std::this_thread::get_id()) << "a finish ran off the loop's thread";
    EXPECT_TRUE(jobs.idle());
    return out ? std::move(*out) : Result<T>(failed("no answer"));
  }

  QueueLoop loop;
  Lanes lanes;
  WorkerJobs jobs{lanes, loop};
};

TEST_F(WorkerJobsTest, ValuesAndFailuresArriveOnTheLoopAsTheJobGaveThem) {
  const auto workerThread = std::make_shared<std::thread::id>();
  auto value = outcomeOf<std::vector<std::string>>([workerThread] {
    *workerThread = std::this_thread::get_id();
    return std::vector<std::string>{"10.0.2.15", "fe80::1"};
  });
  ASSERT_TRUE(succeeded(value));
  EXPECT_EQ(std::get<0>(value), (std::vector<std::string>{"10.0.2.15", "fe80::1"}));
  EXPECT_NE(*workerThread, std::this_thread::get_id()) << "the job ran on the loop's thread";

  auto refused = outcomeOf<Done>([] { return Result<Done>(invalidState("not now")); });
  ASSERT_TRUE(failureOf(refused));
  EXPECT_EQ(*failureOf(refused), invalidState("not now"));
}

TEST_F(WorkerJobsTest, AnExceptionBecomesAFailureAndTheLaneGoesOn) {
  auto thrown = outcomeOf<std::uint64_t>(
      []() -> Result<std::uint64_t> { throw std::runtime_error("disk on fire"); });
  ASSERT_TRUE(failureOf(thrown));
  EXPECT_EQ(failureOf(thrown)->kind, HostErrorKind::failed);
  EXPECT_NE(failureOf(thrown)->message.find("disk on fire"), std::string::npos);
  auto after = outcomeOf<std::uint64_t>([] { return Result<std::uint64_t>(7u); });
  ASSERT_TRUE(succeeded(after));
  EXPECT_EQ(std::get<0>(after), 7u);
}

TEST(WorkerJobsOwner, AFinishWhoseOwnerHasGoneNeverRuns) {
  QueueLoop loop;
  Lanes lanes;
  bool finished = false;
  {
    WorkerJobs jobs{lanes, loop};
    jobs.run<Done>(
        "machine", [] { return Result<Done>(Done{}); }, [&](Result<Done>) { finished = true; });
    ASSERT_TRUE(loop.waitForPost());
  }
  // The job's task, posted first, runs before this one: it finds no owner and does nothing.
  bool ran = false;
  loop.post([&] { ran = true; });
  EXPECT_TRUE(loop.runUntil([&] { return ran; }));
  EXPECT_FALSE(finished);
}

}  // namespace
}  // namespace qor::host::libvirt
