#include <fstream>

#include "tests/e2e/harness.h"

using namespace qor::e2e;
using ::testing::HasSubstr;
namespace fs = std::filesystem;

namespace {

constexpr const char* kId = "99999999-9999-4999-8999-999999999999";

std::string plist(const std::string& identifier, const std::string& executable) {
  return R"(<?xml version="1.0" encoding="UTF-8"?>
<plist version="1.0"><dict>
<key>CFBundleIdentifier</key><string>)" +
         identifier + R"(</string>
<key>CFBundleExecutable</key><string>)" +
         executable + "</string>\n</dict></plist>\n";
}

// Bundles laid out in the test's folder, holding real copies of qorctl (the location rule
// resolves links, so a link would lead back to the build tree's bundle).
class LocationTest : public HostTest {
 protected:
  void SetUp() override {
    HostTest::SetUp();
    setWorld({{"machines", {vm(kId, "vm", "StSe")}}});
  }

  fs::path makeBundle(const std::string& name, const std::optional<std::string>& infoPlist) {
    const fs::path bundle = dir() / name;
    fs::create_directories(bundle / "Contents" / "MacOS");
    if (infoPlist) std::ofstream(bundle / "Contents" / "Info.plist") << *infoPlist;
    fs::copy_file(qorctl(), bundle / "Contents" / "MacOS" / "qorctl");
    return bundle;
  }
  static fs::path qorctl() { return bundle() / "Contents" / "MacOS" / "qorctl"; }
  static fs::path host() { return bundle() / "Contents" / "MacOS" / "qor-host"; }

  RunResult runFrom(const fs::path& executable, const std::vector<std::string>& arguments) {
    RunOptions options;
    options.executable = executable;
    return run(arguments, options);
  }
};

TEST_F(LocationTest, ALinkToTheToolUsesTheBundleItPointsInto) {
  fs::create_directories(dir() / "bin");
  fs::create_symlink(qorctl(), dir() / "bin" / "qorctl");
  const auto result = runFrom(dir() / "bin" / "qorctl", {"status", kId});
  EXPECT_EQ(result.out, "paused\n");
  EXPECT_EQ(result.status, 0);
}

TEST_F(LocationTest, AnotherBundleIsUsedAsTheHostWhateverItsName) {
  // Its own bus name, and its host program a link to the simulated host.
  const fs::path other = makeBundle("Other.app", plist("org.qor.test.Other", "other-host"));
  fs::create_symlink(host(), other / "Contents" / "MacOS" / "other-host");
  const auto result = runFrom(other / "Contents" / "MacOS" / "qorctl", {"status", kId});
  EXPECT_EQ(result.out, "paused\n");
  EXPECT_EQ(result.status, 0);
}

TEST_F(LocationTest, OutsideABundleTheFixedLocationIsUsed) {
  // A copy outside any bundle, and a bundle whose extension is not exactly "app": both look in
  // /Applications/Qor.app, which a test machine does not have.
  ASSERT_FALSE(fs::exists("/Applications/Qor.app"));
  fs::create_directories(dir() / "a" / "b");
  fs::copy_file(qorctl(), dir() / "a" / "b" / "qorctl");
  const fs::path upper = makeBundle("Upper.APP", plist("org.qor.test.Upper", "qor-host"));
  for (const fs::path& executable :
       {dir() / "a" / "b" / "qorctl", upper / "Contents" / "MacOS" / "qorctl"}) {
    const auto result = runFrom(executable, {"list"});
    EXPECT_EQ(result.out, "") << executable;
    EXPECT_EQ(result.err, "Error: Application not found.\n") << executable;
    EXPECT_EQ(result.status, 1) << executable;
  }
  EXPECT_TRUE(requests().empty());
}

TEST_F(LocationTest, ABundleWithoutAUsableInfoPlistIsNoApplication) {
  const std::pair<const char*, std::optional<std::string>> cases[] = {
      {"Missing.app", std::nullopt},
      {"Garbage.app", std::string("this is not a property list")},
      {"NoIdentifier.app", std::string(R"(<?xml version="1.0"?><plist version="1.0"><dict>
<key>CFBundleExecutable</key><string>qor-host</string></dict></plist>)")},
      {"BadName.app", plist("not a bus name", "qor-host")},
      {"ArrayRoot.app",
       std::string(R"(<?xml version="1.0"?><plist version="1.0"><array/></plist>)")},
  };
  for (const auto& [name, info] : cases) {
    const fs::path bundle = makeBundle(name, info);
    const auto result = runFrom(bundle / "Contents" / "MacOS" / "qorctl", {"status", kId});
    EXPECT_EQ(result.err, "Error: Application not found.\n") << name;
    EXPECT_EQ(result.status, 1) << name;
  }
}

TEST_F(LocationTest, AHostThatCannotBeLaunchedIsReportedOnce) {
  const fs::path bundle = makeBundle("Broken.app", plist("org.qor.test.Broken", "no-such-program"));
  const auto result = runFrom(bundle / "Contents" / "MacOS" / "qorctl", {"list"});
  EXPECT_EQ(result.out, "");
  EXPECT_EQ(result.err,
            "Error from event: The request Application.VirtualMachines failed: the host is not "
            "running and could not be launched (OSStatus error -600.)\nThe host program " +
                (bundle / "Contents" / "MacOS" / "no-such-program").string() +
                " could not be run: No such file or directory\n");
  EXPECT_EQ(result.status, 1);

  const auto status = runFrom(bundle / "Contents" / "MacOS" / "qorctl", {"status", kId});
  EXPECT_THAT(status.err, HasSubstr("(OSStatus error -600.)\n"));
  EXPECT_THAT(status.err, testing::EndsWith("Error: Virtual machine not found.\n"));
}

}  // namespace
