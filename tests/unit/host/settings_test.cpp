#include "host/settings/settings.h"

#include <gtest/gtest.h>

#include <fstream>
#include <map>

#include "host/diagnostics/request_log.h"
#include "host_test_support.h"

namespace qor::host {
namespace {

using namespace testing;

Environment environmentOf(std::map<std::string, std::string> values) {
  return [values = std::move(values)](const char* name) -> std::optional<std::string> {
    auto it = values.find(name);
    if (it == values.end()) return std::nullopt;
    return it->second;
  };
}

TEST(SettingsTest, OptionsWinOverTheEnvironmentWhichWinsOverDefaults) {
  const auto env = environmentOf({{"HOME", "/home/u"},
                                  {"QOR_SIM_WORLD", "/env/world.json"},
                                  {"QOR_SIM_LOG", "/env/log"},
                                  {"QOR_SIM_BUS_NAME", "org.example.Env"}});
  auto s = std::get<Settings>(parseSettings(
      {"qor-host", "--hidden", "--world", "/opt/w.json", "--bus-name=org.example.Opt"}, env));
  EXPECT_TRUE(s.hidden);
  EXPECT_EQ(s.world, "/opt/w.json");
  EXPECT_EQ(s.log, "/env/log");
  EXPECT_EQ(s.busName, "org.example.Opt");
  EXPECT_EQ(s.idleSeconds, kDefaultIdleSeconds);

  auto defaults = std::get<Settings>(parseSettings({"qor-host"}, environmentOf({{"HOME", "/h"}})));
  EXPECT_EQ(defaults.world, "/h/.local/state/qor-sim/world.json");
  EXPECT_FALSE(defaults.log);
  EXPECT_EQ(defaults.busName, kDefaultBusName);
  auto xdg = std::get<Settings>(
      parseSettings({"qor-host"}, environmentOf({{"HOME", "/h"}, {"XDG_STATE_HOME", "/s"}})));
  EXPECT_EQ(xdg.world, "/s/qor-sim/world.json");
}

TEST(SettingsTest, RefusesWhatItCannotUse) {
  const auto env = environmentOf({});
  for (std::vector<std::string> args : {std::vector<std::string>{"qor-host", "--world"},
                                        {"qor-host", "--frobnicate"},
                                        {"qor-host", "--bus-name", "not a name"},
                                        {"qor-host", "--bus-name", "single"},
                                        {"qor-host", "--idle-timeout", "soon"},
                                        {"qor-host", "--hidden=yes"}}) {
    EXPECT_TRUE(std::holds_alternative<Failure>(parseSettings(args, env))) << args[1];
  }
}

TEST(SettingsTest, TheBusNameComesFromTheBundleTheProgramLiesIn) {
  TempFolder folder;
  const auto contents = folder.path() / "Other.app" / "Contents";
  std::filesystem::create_directories(contents / "MacOS");
  std::ofstream(contents / "Info.plist") << R"(<?xml version="1.0" encoding="UTF-8"?>
<plist version="1.0"><dict>
<key>CFBundleExecutable</key><string>qor-host</string>
<key>CFBundleIdentifier</key><string>com.example.OtherQor</string>
</dict></plist>)";
  const std::string program = (contents / "MacOS" / "qor-host").string();
  EXPECT_EQ(std::get<Settings>(parseSettings({program}, environmentOf({}))).busName,
            "com.example.OtherQor");

  std::ofstream(contents / "Info.plist") << "<plist><dict><key>CFBundleIdentifier</key>"
                                            "<string>no dots</string></dict></plist>";
  EXPECT_EQ(std::get<Settings>(parseSettings({program}, environmentOf({}))).busName,
            kDefaultBusName);
}

TEST(RequestLogTest, WritesOneReadableLinePerRequest) {
  RecordBuilder inner;
  inner.add("name", Value::string("New \"one\""));
  RecordBuilder outer;
  outer.add("configuration", std::move(inner).build());
  Request r = call("/org/qor/Scripting1/vm/id/A", "org.qor.Scripting1.VirtualMachine", "Duplicate",
                   {std::move(outer).build()});
  EXPECT_EQ(
      requestLogLine(r),
      R"({"path": "/org/qor/Scripting1/vm/id/A", "interface": "org.qor.Scripting1.VirtualMachine", )"
      R"("member": "Duplicate", "args": [{"configuration": {"name": "New \"one\""}}]})");

  Request mixed = call("/x", "", "M",
                       {Value::boolean(true), Value::uint32(7), Value::objectPath("/o"),
                        Value::stringArray({"a"}), Value{"d", 0.5}});
  mixed.interface.reset();
  EXPECT_EQ(
      requestLogLine(mixed),
      R"({"path": "/x", "interface": null, "member": "M", "args": [true, 7, "/o", ["a"], 0.5]})");
}

}  // namespace
}  // namespace qor::host
