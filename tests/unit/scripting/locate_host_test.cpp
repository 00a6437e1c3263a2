#include <gtest/gtest.h>

#include "scripting/api_command.h"
#include "test_support.h"

namespace qor::scripting {
namespace {

namespace fs = std::filesystem;
using testing::TemporaryFolder;
using testing::writeFile;

const fs::path kFixed = "/Applications/Qor.app";

class LocateHostApplication : public ::testing::Test {
 protected:
  fs::path tool(const std::string& bundle) {
    const fs::path file = root() / bundle / "Contents" / "MacOS" / "qorctl";
    writeFile(file, "#!/bin/sh\n", true);
    return file;
  }
  fs::path root() const { return fs::canonical(folder_.path()); }

  TemporaryFolder folder_;
};

TEST_F(LocateHostApplication, TheBundleThreeLevelsAboveTheResolvedExecutable) {
  const fs::path inQor = tool("Qor.app");
  const fs::path inOther = tool("Other.app");
  const fs::path inUpperCase = tool("Qor.APP");
  const fs::path inHiddenBundle = tool(".app");  // the text after the last dot is "app"
  writeFile(root() / "bin" / "copy" / "qorctl", "#!/bin/sh\n", true);
  fs::create_directories(root() / "links");
  fs::create_symlink(inQor, root() / "links" / "qorctl");
  fs::create_symlink(root() / "links" / "qorctl", root() / "links" / "qorctl-again");
  // A link inside a bundle that points outside: where the file really is decides.
  fs::create_symlink(root() / "bin" / "copy" / "qorctl",
                     root() / "Qor.app" / "Contents" / "MacOS" / "outside");

  const struct {
    const char* label;
    fs::path executable;
    fs::path host;
  } cases[] = {
      {"inside the bundle", inQor, root() / "Qor.app"},
      {"through a link", root() / "links" / "qorctl", root() / "Qor.app"},
      {"through a chain of links", root() / "links" / "qorctl-again", root() / "Qor.app"},
      {"another bundle", inOther, root() / "Other.app"},
      {"hidden bundle name", inHiddenBundle, root() / ".app"},
      {"upper-case extension", inUpperCase, kFixed},
      {"a copy outside any bundle", root() / "bin" / "copy" / "qorctl", kFixed},
      {"link out of the bundle", root() / "Qor.app" / "Contents" / "MacOS" / "outside", kFixed},
      {"executable missing", root() / "Qor.app" / "Contents" / "MacOS" / "gone", kFixed},
      {"no path", fs::path(), kFixed},
      {"near the root", "/bin/sh", kFixed},
  };
  for (const auto& c : cases) EXPECT_EQ(locateHostApplication(c.executable), c.host) << c.label;
}

TEST_F(LocateHostApplication, TheRunningProgramIsLocatedFromProcSelfExe) {
  EXPECT_EQ(locateHostApplication(), locateHostApplication(fs::read_symlink("/proc/self/exe")));
}

}  // namespace
}  // namespace qor::scripting
