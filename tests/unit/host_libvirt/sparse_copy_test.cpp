#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <iterator>

#include "host/libvirt/disk_paths.h"

namespace qor::host::libvirt {
namespace {

std::string contentOf(const std::filesystem::path& p) {
  std::ifstream in(p, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), {}};
}

TEST(SparseCopy, SameBytesHolesKeptModeKeptNeverOverwrites) {
  const auto dir =
      std::filesystem::temp_directory_path() / ("qor-sparse-" + std::to_string(::getpid()));
  std::filesystem::create_directories(dir);
  const auto from = dir / "disk.img";
  {
    std::ofstream out(from, std::ios::binary);
    out << "head";
    out.seekp(16 << 20);  // a 16 MiB hole
    out << "tail";
  }
  ::chmod(from.c_str(), 0640);
  const auto to = dir / "copy.img";
  ASSERT_TRUE(succeeded(copySparse(from, to)));
  EXPECT_EQ(contentOf(to), contentOf(from));
  struct stat st {};
  ASSERT_EQ(::stat(to.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0640u);
  EXPECT_LT(st.st_blocks * 512, 4 << 20) << "the hole was written out";
  EXPECT_FALSE(succeeded(copySparse(from, to)));  // an existing file is not overwritten
  EXPECT_EQ(contentOf(to), contentOf(from));
  EXPECT_FALSE(succeeded(copySparse(dir / "missing", dir / "other")));
  EXPECT_FALSE(std::filesystem::exists(dir / "other"));
  std::filesystem::remove_all(dir);
}

}  // namespace
}  // namespace qor::host::libvirt
