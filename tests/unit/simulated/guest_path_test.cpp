#include "host/simulated/guest_path.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstring>
#include <fstream>

#include "simulated_test_support.h"

namespace qor::host {
namespace {

using testing::TempFolder;

std::string contentOf(int fd) {
  std::string out(256, '\0');
  const auto n = ::pread(fd, out.data(), out.size(), 0);
  out.resize(n > 0 ? static_cast<std::size_t>(n) : 0);
  return out;
}

// root/ is the guest; secret.txt lies beside it, where no guest path may reach.
class GuestPathTest : public ::testing::TestWithParam<GuestResolver> {
 protected:
  void SetUp() override {
    namespace fs = std::filesystem;
    root_ = folder_.path() / "root";
    fs::create_directories(root_ / "etc");
    fs::create_directories(root_ / "home" / "user");
    std::ofstream(root_ / "etc" / "hostname") << "guest";
    std::ofstream(folder_.path() / "secret.txt") << "host secret";
    std::ofstream(root_ / "secret.txt") << "guest secret";
    fs::create_symlink("/etc/hostname", root_ / "home" / "user" / "absolute-link");
    fs::create_symlink("../../../secret.txt", root_ / "home" / "user" / "climbing-link");
    fs::create_symlink(folder_.path() / "secret.txt", root_ / "host-path-link");
    fs::create_symlink("/proc/self/root/etc/hostname", root_ / "proc-link");
    fs::create_symlink("loop-b", root_ / "loop-a");
    fs::create_symlink("loop-a", root_ / "loop-b");
    fs::create_symlink("/etc/created-by-link", root_ / "dangling-link");
    rootFd_ = UniqueFd(::open(root_.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC));
  }

  std::variant<UniqueFd, int> open(const char* path, int flags = O_RDONLY) {
    return openInGuest(rootFd_.get(), path, flags, 0644, GetParam());
  }

  TempFolder folder_;
  std::filesystem::path root_;
  UniqueFd rootFd_;
};

TEST_P(GuestPathTest, EveryPathResolvesInsideTheRoot) {
  struct Case {
    const char* path;
    const char* content;  // what the file opened holds
  };
  const Case cases[] = {
      {"/etc/hostname", "guest"},
      {"etc/hostname", "guest"},
      {"/../../etc/hostname", "guest"},  // ".." stops at the root
      {"home/user/../../etc/./hostname", "guest"},
      {"../secret.txt", "guest secret"},     // not the file beside the root
      {"home/user/absolute-link", "guest"},  // an absolute link starts at the root
      {"home/user/climbing-link", "guest secret"},
      {"host-path-link", nullptr},  // a host path means nothing in the guest
      {"proc-link", nullptr},       // nor does the host's /proc
      {"loop-a", nullptr},
      {"", nullptr},
  };
  for (const auto& c : cases) {
    auto opened = open(c.path);
    if (c.content == nullptr) {
      EXPECT_TRUE(std::holds_alternative<int>(opened)) << c.path;
      continue;
    }
    ASSERT_TRUE(std::holds_alternative<UniqueFd>(opened))
        << c.path << ": " << std::strerror(std::get<int>(opened));
    EXPECT_EQ(contentOf(std::get<UniqueFd>(opened).get()), c.content) << c.path;
  }
}

TEST_P(GuestPathTest, CreatingThroughALinkCreatesInsideTheRoot) {
  auto opened = open("dangling-link", O_WRONLY | O_CREAT);
  ASSERT_TRUE(std::holds_alternative<UniqueFd>(opened));
  EXPECT_TRUE(std::filesystem::exists(root_ / "etc" / "created-by-link"));
  EXPECT_FALSE(std::filesystem::exists("/etc/created-by-link"));

  auto climbing = open("../../outside.txt", O_WRONLY | O_CREAT);
  ASSERT_TRUE(std::holds_alternative<UniqueFd>(climbing));
  EXPECT_TRUE(std::filesystem::exists(root_ / "outside.txt"));
  EXPECT_FALSE(std::filesystem::exists(folder_.path() / "outside.txt"));
}

INSTANTIATE_TEST_SUITE_P(Resolvers, GuestPathTest,
                         ::testing::Values(GuestResolver::kKernel, GuestResolver::kWalk),
                         [](const auto& param) {
                           return param.param == GuestResolver::kKernel ? "Kernel" : "Walk";
                         });

}  // namespace
}  // namespace qor::host
