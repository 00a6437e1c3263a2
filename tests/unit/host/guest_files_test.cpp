#include <gtest/gtest.h>
#include <sys/stat.h>

#include <fstream>

#include "host/simulated/guest_files.h"
#include "host_test_support.h"
#include "support/base64.h"

namespace qor::host {
namespace {

using namespace testing;

constexpr const char* kFile = "org.qor.Scripting1.GuestFile";

class GuestFilesTest : public ::testing::Test {
 protected:
  GuestFilesTest()
      : host_(worldFrom(R"({"machines": [
                  {"id": "M1", "status": "StSc", "guestRoot": "g"},
                  {"id": "M2", "status": "StSa", "guestRoot": "g2"}]})",
                        folder_.path()),
              launcher_) {
    std::filesystem::create_directories(root() / "etc");
    std::ofstream(root() / "etc" / "hostname") << "debian\n";
    std::ofstream(folder_.path() / "outside.txt") << "host";
  }

  std::filesystem::path root() const { return folder_.path() / "g"; }

  Reply open(const std::string& path, std::uint32_t mode, bool updating = false,
             const char* machine = "M1") {
    return host_.handle(call(vmById(machine), kVmInterface, "OpenFile",
                             {Value::string(path), Value::uint32(mode), Value::boolean(updating)}));
  }
  std::string openOk(const std::string& path, std::uint32_t mode) {
    const Reply r = open(path, mode);
    EXPECT_FALSE(r.error) << path << ": " << (r.error ? r.error->message : "");
    return r.error ? "" : *textOf(answer(r));
  }
  Reply read(const std::string& file, std::int64_t length, std::int64_t offset = 0,
             bool base64 = true, std::uint32_t whence = code(QorWhence::current), bool closing = false) {
    return host_.handle(call(file, kFile, "Read",
                             {Value::int64(offset), Value::uint32(whence), Value::int64(length),
                              Value::boolean(base64), Value::boolean(closing)}));
  }
  Reply write(const std::string& file, const std::string& data, bool base64 = true,
              std::int64_t offset = 0, bool closing = false) {
    return host_.handle(
        call(file, kFile, "Write",
             {Value::string(data), Value::int64(offset), Value::uint32(code(QorWhence::current)),
              Value::boolean(base64), Value::boolean(closing)}));
  }
  Reply close(const std::string& file) { return host_.handle(call(file, kFile, "Close")); }
  std::string bytesRead(const Reply& r) { return *qor::support::base64Decode(*textOf(answer(r))); }

  TempFolder folder_;
  FakeLauncher launcher_;
  Host host_;
};

TEST_F(GuestFilesTest, ReadsChunkByChunkToAnEmptyEnd) {
  const std::string file = openOk("/etc/hostname", code(QorOpenMode::reading));
  EXPECT_EQ(file, vmById("M1") + "/file/1");
  EXPECT_EQ(bytesRead(read(file, 3)), "deb");
  EXPECT_EQ(bytesRead(read(file, 4096)), "ian\n");
  EXPECT_EQ(*textOf(answer(read(file, 4096))), "");  // the end, and again
  EXPECT_EQ(*textOf(answer(read(file, 4096))), "");
  EXPECT_EQ(bytesRead(read(file, 2, -4)), "ia");  // offsets count from the current position
  EXPECT_FALSE(close(file).error);
  EXPECT_EQ(errorName(close(file)), error_names::kUnknownObject);
  EXPECT_EQ(errorName(read(file, 1)), error_names::kUnknownObject);
}

TEST_F(GuestFilesTest, WritesFollowOneAnotherAndCreateOrEmptyTheFile) {
  std::ofstream(root() / "old.txt") << "a much longer old content";
  const std::string file = openOk("old.txt", code(QorOpenMode::writing));
  EXPECT_EQ(std::filesystem::file_size(root() / "old.txt"), 0u);  // emptied at once
  EXPECT_FALSE(write(file, qor::support::base64Encode("hello ")).error);
  EXPECT_FALSE(write(file, qor::support::base64Encode("world")).error);
  EXPECT_FALSE(write(file, "").error);  // the empty last chunk of every push
  EXPECT_FALSE(close(file).error);
  std::ifstream in(root() / "old.txt");
  EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), "hello world");

  const std::string created = openOk("/new.txt", code(QorOpenMode::writing));
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
  const std::string file = openOk("data.bin", code(QorOpenMode::writing));
  ASSERT_FALSE(write(file, qor::support::base64Encode("keep")).error);
  EXPECT_EQ(errorName(write(file, "not base64!")), error_names::kInvalidArgs);
  EXPECT_EQ(errorName(write(file, "aGk")), error_names::kInvalidArgs);  // unpadded
  EXPECT_EQ(errorName(write(file, "aGk=", true, -5)), error_names::kInvalidArgs);
  EXPECT_EQ(errorName(read(file, 1)), error_names::kInvalidState);  // open for writing only
  ASSERT_FALSE(close(file).error);
  EXPECT_EQ(std::filesystem::file_size(root() / "data.bin"), 4u);

  const std::string reading = openOk("data.bin", code(QorOpenMode::reading));
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
  EXPECT_EQ(errorName(open("/fifo", code(QorOpenMode::reading))), error_names::kHostFailed);  // no hang
  // "../outside.txt" is the guest's own /outside.txt, which does not exist.
  EXPECT_EQ(errorName(open("../outside.txt", code(QorOpenMode::reading))), error_names::kHostFailed);
  const std::string file = openOk("../outside.txt", code(QorOpenMode::writing));
  ASSERT_FALSE(close(file).error);
  EXPECT_TRUE(std::filesystem::exists(root() / "outside.txt"));
  std::ifstream host(folder_.path() / "outside.txt");
  EXPECT_EQ(std::string(std::istreambuf_iterator<char>(host), {}), "host");
}

TEST_F(GuestFilesTest, ClosingFlagAndRawText) {
  const std::string file = openOk("text.txt", code(QorOpenMode::writing));
  ASSERT_FALSE(write(file, "caf\xC3\xA9", false, 0, true).error);  // raw, and closes
  EXPECT_EQ(errorName(close(file)), error_names::kUnknownObject);

  const std::string reading = openOk("text.txt", code(QorOpenMode::reading));
  // A raw read stops before a character the length would cut.
  EXPECT_EQ(*textOf(answer(read(reading, 4, 0, false))), "caf");
  EXPECT_EQ(*textOf(answer(read(reading, 4096, 0, false))), "\xC3\xA9");

  std::ofstream(root() / "binary.bin") << std::string("a\0b", 3);
  const std::string binary = openOk("binary.bin", code(QorOpenMode::reading));
  EXPECT_EQ(errorName(read(binary, 10, 0, false)), error_names::kHostFailed);
  EXPECT_EQ(bytesRead(read(binary, 10)), std::string("a\0b", 3));
}

TEST_F(GuestFilesTest, StoppingTheMachineClosesItsFiles) {
  const std::string file = openOk("/etc/hostname", code(QorOpenMode::reading));
  ASSERT_FALSE(
      host_.handle(call(vmById("M1"), kVmInterface, "Suspend", {Value::boolean(false)})).error);
  EXPECT_EQ(errorName(read(file, 1)), error_names::kInvalidState);
  ASSERT_FALSE(
      host_.handle(call(vmById("M1"), kVmInterface, "Stop", {Value::uint32(fourCharCode("FoRc"))})).error);
  EXPECT_EQ(errorName(read(file, 1)), error_names::kUnknownObject);
}

}  // namespace
}  // namespace qor::host
