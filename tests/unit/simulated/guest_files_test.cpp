#include <gtest/gtest.h>
#include <sys/stat.h>

#include <fstream>

#include "contract/codes.h"
#include "contract/errors.h"
#include "host/backend/manual_loop.h"
#include "host/simulated/open_files.h"
#include "host/simulated/simulated_backend.h"
#include "simulated_test_support.h"
#include "support/base64.h"

namespace qor::host {
namespace {

using namespace testing;
using contract::code;
using contract::fourCharCode;
using contract::QorOpenMode;
using contract::QorWhence;
namespace error_names = contract::error_names;

// The simulated guest files through their concern interface; a failure is read as the error
// name a client would get.
class GuestFilesTest : public ::testing::Test {
 protected:
  GuestFilesTest()
      : backend_(worldFrom(R"({"machines": [
                  {"id": "M1", "status": "StSc", "guestRoot": "g"},
                  {"id": "M2", "status": "StSa", "guestRoot": "g2"}]})",
                           folder_.path()),
                 launcher_, loop_),
        b_(backend_.concerns()) {
    std::filesystem::create_directories(root() / "etc");
    std::ofstream(root() / "etc" / "hostname") << "debian\n";
    std::ofstream(folder_.path() / "outside.txt") << "host";
  }

  std::filesystem::path root() const { return folder_.path() / "g"; }
  MachineKey key(const char* machine) { return *b_.machines->byId(machine); }

  // Everything here completes at once.
  template <class T, class Request>
  static Result<T> now(Request request) {
    std::optional<Result<T>> out;
    request(Completion<T>([&out](Result<T> r) { out = std::move(r); }));
    EXPECT_TRUE(out) << "answered at once";
    return out ? std::move(*out) : Result<T>(failed("no answer"));
  }

  Result<GuestHandle> open(const std::string& path, std::uint32_t mode, bool updating = false,
                           const char* machine = "M1") {
    return now<GuestHandle>([&](auto done) {
      b_.files->open(key(machine), {path, mode, updating}, std::move(done));
    });
  }
  GuestHandle openOk(const std::string& path, std::uint32_t mode) {
    auto r = open(path, mode);
    EXPECT_TRUE(succeeded(r)) << path << ": " << (failureOf(r) ? failureOf(r)->message : "");
    return succeeded(r) ? std::get<GuestHandle>(r) : 0;
  }
  Result<std::string> read(GuestHandle file, std::int64_t length, std::int64_t offset = 0,
                           bool base64 = true, std::uint32_t whence = code(QorWhence::current),
                           bool closing = false) {
    return now<std::string>([&](auto done) {
      b_.files->read(key("M1"), file, {offset, whence, length, base64, closing}, std::move(done));
    });
  }
  Result<Done> write(GuestHandle file, const std::string& data, bool base64 = true,
                     std::int64_t offset = 0, bool closing = false) {
    return now<Done>([&](auto done) {
      b_.files->write(key("M1"), file, {data, offset, code(QorWhence::current), base64, closing},
                      std::move(done));
    });
  }
  Result<Done> close(GuestHandle file) {
    return now<Done>([&](auto done) { b_.files->close(key("M1"), file, std::move(done)); });
  }
  template <class T>
  static std::string errorName(const Result<T>& r) {
    return failureOf(r) ? std::string(failureOf(r)->errorName()) : "";
  }
  static std::string text(const Result<std::string>& r) {
    return succeeded(r) ? std::get<std::string>(r) : "(failed: " + failureOf(r)->message + ")";
  }
  std::string bytesRead(const Result<std::string>& r) {
    return support::base64Decode(text(r)).value_or("(not base64)");
  }

  TempFolder folder_;
  FakeLauncher launcher_;
  ManualLoop loop_;
  SimulatedBackend backend_;
  Backends b_;
};

TEST_F(GuestFilesTest, ReadsChunkByChunkToAnEmptyEnd) {
  const GuestHandle file = openOk("/etc/hostname", code(QorOpenMode::reading));
  EXPECT_EQ(file, 1u);  // the run's first file
  EXPECT_EQ(bytesRead(read(file, 3)), "deb");
  EXPECT_EQ(bytesRead(read(file, 4096)), "ian\n");
  EXPECT_EQ(text(read(file, 4096)), "");  // the end, and again
  EXPECT_EQ(text(read(file, 4096)), "");
  EXPECT_EQ(bytesRead(read(file, 2, -4)), "ia");  // offsets count from the current position
  EXPECT_TRUE(succeeded(close(file)));
  EXPECT_EQ(errorName(close(file)), error_names::kUnknownObject);
  EXPECT_EQ(errorName(read(file, 1)), error_names::kUnknownObject);
}

TEST_F(GuestFilesTest, WritesFollowOneAnotherAndCreateOrEmptyTheFile) {
  std::ofstream(root() / "old.txt") << "a much longer old content";
  const GuestHandle file = openOk("old.txt", code(QorOpenMode::writing));
  EXPECT_EQ(std::filesystem::file_size(root() / "old.txt"), 0u);  // emptied at once
  EXPECT_TRUE(succeeded(write(file, support::base64Encode("hello "))));
  EXPECT_TRUE(succeeded(write(file, support::base64Encode("world"))));
  EXPECT_TRUE(succeeded(write(file, "")));  // the empty last chunk of every push
  EXPECT_TRUE(succeeded(close(file)));
  std::ifstream in(root() / "old.txt");
  EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), "hello world");

  openOk("/new.txt", code(QorOpenMode::writing));
  struct stat st {};
  ASSERT_EQ(::stat((root() / "new.txt").c_str(), &st), 0);
  EXPECT_EQ(
      st.st_mode & 0777, 0644u & ~[] {
        const mode_t mask = ::umask(0);
        ::umask(mask);
        return mask;
      }());
}

TEST_F(GuestFilesTest, RefusesBadRequestsWithoutSideEffects) {
  const GuestHandle file = openOk("data.bin", code(QorOpenMode::writing));
  ASSERT_TRUE(succeeded(write(file, support::base64Encode("keep"))));
  EXPECT_EQ(errorName(write(file, "not base64!")), error_names::kInvalidArgs);
  EXPECT_EQ(errorName(write(file, "aGk")), error_names::kInvalidArgs);  // unpadded
  EXPECT_EQ(errorName(write(file, "aGk=", true, -5)), error_names::kInvalidArgs);
  EXPECT_EQ(errorName(read(file, 1)), error_names::kInvalidState);  // open for writing only
  ASSERT_TRUE(succeeded(close(file)));
  EXPECT_EQ(std::filesystem::file_size(root() / "data.bin"), 4u);

  const GuestHandle reading = openOk("data.bin", code(QorOpenMode::reading));
  EXPECT_EQ(errorName(read(reading, 1, 0, true, fourCharCode("SeEk"))), error_names::kInvalidArgs);
  EXPECT_EQ(errorName(read(reading, -1)), error_names::kInvalidArgs);
  EXPECT_EQ(errorName(read(reading, kMaxReadLength + 1)), error_names::kInvalidArgs);
  EXPECT_EQ(errorName(write(reading, "aGk=")), error_names::kInvalidState);
  EXPECT_EQ(bytesRead(read(reading, 4096)), "keep");  // the position did not move
}

TEST_F(GuestFilesTest, OpeningNeedsARunningGuestAndARegularFileInside) {
  EXPECT_EQ(errorName(open("/etc/hostname", code(QorOpenMode::reading), false, "M2")),
            error_names::kInvalidState);
  EXPECT_EQ(errorName(open("/missing", code(QorOpenMode::reading))), error_names::kHostFailed);
  EXPECT_EQ(errorName(open("/etc", code(QorOpenMode::reading))), error_names::kHostFailed);
  EXPECT_EQ(errorName(open("/etc/hostname", fourCharCode("OpRw"))), error_names::kInvalidArgs);
  ASSERT_EQ(::mkfifo((root() / "fifo").c_str(), 0600), 0);
  EXPECT_EQ(errorName(open("/fifo", code(QorOpenMode::reading))),
            error_names::kHostFailed);  // no hang
  // "../outside.txt" is the guest's own /outside.txt, which does not exist.
  EXPECT_EQ(errorName(open("../outside.txt", code(QorOpenMode::reading))),
            error_names::kHostFailed);
  const GuestHandle file = openOk("../outside.txt", code(QorOpenMode::writing));
  ASSERT_TRUE(succeeded(close(file)));
  EXPECT_TRUE(std::filesystem::exists(root() / "outside.txt"));
  std::ifstream host(folder_.path() / "outside.txt");
  EXPECT_EQ(std::string(std::istreambuf_iterator<char>(host), {}), "host");
}

TEST_F(GuestFilesTest, ClosingFlagAndRawText) {
  const GuestHandle file = openOk("text.txt", code(QorOpenMode::writing));
  ASSERT_TRUE(succeeded(write(file, "caf\xC3\xA9", false, 0, true)));  // raw, and closes
  EXPECT_EQ(errorName(close(file)), error_names::kUnknownObject);

  const GuestHandle reading = openOk("text.txt", code(QorOpenMode::reading));
  // A raw read stops before a character the length would cut.
  EXPECT_EQ(text(read(reading, 4, 0, false)), "caf");
  EXPECT_EQ(text(read(reading, 4096, 0, false)), "\xC3\xA9");

  std::ofstream(root() / "binary.bin") << std::string("a\0b", 3);
  const GuestHandle binary = openOk("binary.bin", code(QorOpenMode::reading));
  EXPECT_EQ(errorName(read(binary, 10, 0, false)), error_names::kHostFailed);
  EXPECT_EQ(bytesRead(read(binary, 10)), std::string("a\0b", 3));
}

TEST_F(GuestFilesTest, StoppingTheMachineClosesItsFiles) {
  const GuestHandle file = openOk("/etc/hostname", code(QorOpenMode::reading));
  ASSERT_TRUE(succeeded(
      now<Done>([&](auto done) { b_.machines->suspend(key("M1"), false, std::move(done)); })));
  EXPECT_EQ(errorName(read(file, 1)), error_names::kInvalidState);
  ASSERT_TRUE(succeeded(now<Done>(
      [&](auto done) { b_.machines->stop(key("M1"), fourCharCode("FoRc"), std::move(done)); })));
  EXPECT_EQ(errorName(read(file, 1)), error_names::kUnknownObject);
}

}  // namespace
}  // namespace qor::host
