#include "scripting/info_plist.h"

#include <gtest/gtest.h>
#include <plist/plist.h>

#include <cstdlib>

#include "scripting/api_command.h"
#include "scripting/object_model.h"
#include "test_support.h"

namespace qor::scripting {
namespace {

namespace fs = std::filesystem;
using testing::TemporaryFolder;
using testing::writeBundle;
using testing::writeFile;

std::string xmlPlist(const std::string& body) {
  return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\">\n" + body +
         "\n</plist>\n";
}

std::string binaryPlist(const char* identifier, const char* executable) {
  plist_t dict = plist_new_dict();
  plist_dict_set_item(dict, "CFBundleIdentifier", plist_new_string(identifier));
  plist_dict_set_item(dict, "CFBundleExecutable", plist_new_string(executable));
  char* bytes = nullptr;
  uint32_t length = 0;
  plist_to_bin(dict, &bytes, &length);
  std::string result(bytes, length);
  std::free(bytes);
  plist_free(dict);
  return result;
}

TEST(ReadBundleInfo, RefusesEveryBundleThatNamesNoHost) {
  TemporaryFolder folder;
  const fs::path root = folder.path();
  fs::create_directories(root / "Empty.app");
  fs::create_directories(root / "PlistIsFolder.app" / "Contents" / "Info.plist");
  writeFile(root / "Garbage.app" / "Contents" / "Info.plist", "this is not a property list");
  writeFile(root / "EmptyFile.app" / "Contents" / "Info.plist", "");
  writeFile(root / "Array.app" / "Contents" / "Info.plist",
            xmlPlist("<array><string>org.qor.Qor</string></array>"));
  writeFile(root / "NumberId.app" / "Contents" / "Info.plist",
            xmlPlist("<dict><key>CFBundleIdentifier</key><integer>7</integer></dict>"));
  writeBundle(root / "NoId.app", std::nullopt, "qor-host");
  writeFile(root / "NotAFolder.app", "file");

  for (const char* bundle :
       {"Missing.app", "NotAFolder.app", "Empty.app", "PlistIsFolder.app", "Garbage.app",
        "EmptyFile.app", "Array.app", "NumberId.app", "NoId.app"}) {
    EXPECT_FALSE(readBundleInfo(root / bundle)) << bundle;
    EXPECT_EQ(applicationForBundle(root / bundle), nullptr) << bundle;
  }
}

TEST(ReadBundleInfo, IdentifierMustBeAWellKnownBusName) {
  TemporaryFolder folder;
  const struct {
    const char* identifier;
    bool valid;
  } cases[] = {
      {"org.qor.Qor", true},  {"org.qor-vm.Qor_2", true}, {"org", false},      {":1.42", false},
      {"org..qor", false},    {".org.qor", false},        {"org.qor.", false}, {"org.1qor", false},
      {"org.qor/Qor", false}, {"org.qor.Qör", false},     {"", false},
  };
  int n = 0;
  for (const auto& c : cases) {
    const fs::path bundle = folder.path() / ("B" + std::to_string(++n) + ".app");
    writeBundle(bundle, c.identifier, "qor-host");
    const auto info = readBundleInfo(bundle);
    EXPECT_EQ(info.has_value(), c.valid) << c.identifier;
    if (info) {
      EXPECT_EQ(info->identifier, c.identifier);
    }
  }
}

TEST(ReadBundleInfo, XmlAndBinaryPlistsGiveTheSameHost) {
  TemporaryFolder folder;
  writeBundle(folder.path() / "Xml.app", "org.qor.Qor", "qor-host");
  writeFile(folder.path() / "Binary.app" / "Contents" / "Info.plist",
            binaryPlist("org.qor.Qor", "qor-host"));
  for (const char* bundle : {"Xml.app", "Binary.app"}) {
    const auto info = readBundleInfo(folder.path() / bundle);
    ASSERT_TRUE(info) << bundle;
    EXPECT_EQ(info->identifier, "org.qor.Qor");
    EXPECT_EQ(info->program(), folder.path() / bundle / "Contents" / "MacOS" / "qor-host");
  }
}

TEST(ReadBundleInfo, AnExecutableThatIsNoPlainFileNameIsNeverLaunched) {
  TemporaryFolder folder;
  int n = 0;
  for (const char* executable : {"../../../bin/sh", "/bin/sh", "..", "sub/qor-host", ""}) {
    const fs::path bundle = folder.path() / ("B" + std::to_string(++n) + ".app");
    writeBundle(bundle, "org.qor.Qor", executable);
    const auto info = readBundleInfo(bundle);
    ASSERT_TRUE(info) << executable;  // the host can still be addressed, just not launched
    EXPECT_FALSE(info->program()) << executable;
  }
  writeBundle(folder.path() / "NoExecutable.app", "org.qor.Qor");
  EXPECT_FALSE(readBundleInfo(folder.path() / "NoExecutable.app")->program());
}

}  // namespace
}  // namespace qor::scripting
