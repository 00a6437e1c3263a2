#include "host/settings/host_conf.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <map>

#include "host/settings/settings.h"

namespace qor::host {
namespace {

std::string errorOf(const Result<HostConf>& r) {
  const auto* f = failureOf(r);
  return f ? f->message : "no error";
}

TEST(HostConfTest, KeysCommentsAndBlankLines) {
  auto conf =
      std::get<HostConf>(parseHostConf("# the user's machines\n\n  backend = libvirt  "
                                       "\n\tconnect=qemu+ssh://server/system?x=a=b\r\n"));
  EXPECT_EQ(conf.backend, "libvirt");
  EXPECT_EQ(conf.connect, std::vector<std::string>{"qemu+ssh://server/system?x=a=b"});
  auto empty = std::get<HostConf>(parseHostConf(""));
  EXPECT_FALSE(empty.backend);
  EXPECT_TRUE(empty.connect.empty());
}

TEST(HostConfTest, ConnectionsKeepTheirOrder) {
  auto conf = std::get<HostConf>(parseHostConf(
      "connect = qemu+ssh://b/system\nbackend = libvirt\nconnect = qemu:///session\n"));
  EXPECT_EQ(conf.connect, (std::vector<std::string>{"qemu+ssh://b/system", "qemu:///session"}));
}

TEST(HostConfTest, BadLinesAreNamed) {
  const std::pair<const char*, const char*> cases[] = {
      {"backend = libvirt\ncolour = blue\n",
       "line 2: unknown key 'colour' (known: backend, connect)"},
      {"backend libvirt\n", "line 1: expected 'key = value'"},
      {"\n\nconnect =\n", "line 3: 'connect' needs a value"},
      {"backend = a\nbackend = b\n", "line 2: 'backend' is given twice"},
      {"connect = test:///default\n\nconnect = test:///default\n",
       "line 3: 'test:///default' is given twice"},
  };
  for (const auto& [text, message] : cases)
    EXPECT_EQ(errorOf(parseHostConf(text)), message) << text;
}

TEST(HostConfTest, FileBelowXdgConfigHomeElseHome) {
  std::map<std::string, std::string> env = {{"HOME", "/home/u"}};
  auto lookup = [&](const char* name) -> std::optional<std::string> {
    auto it = env.find(name);
    return it == env.end() ? std::nullopt : std::optional<std::string>(it->second);
  };
  EXPECT_EQ(hostConfPath(lookup), "/home/u/.config/qor/host.conf");
  env["XDG_CONFIG_HOME"] = "relative";  // only an absolute one counts
  EXPECT_EQ(hostConfPath(lookup), "/home/u/.config/qor/host.conf");
  env["XDG_CONFIG_HOME"] = "/xdg";
  EXPECT_EQ(hostConfPath(lookup), "/xdg/qor/host.conf");
}

TEST(HostConfTest, NoFileIsNoChoiceABadOneNamesItself) {
  const auto dir =
      std::filesystem::temp_directory_path() / ("qor-conf-" + std::to_string(::getpid()));
  std::filesystem::create_directories(dir);
  EXPECT_EQ(errorOf(readHostConf(dir / "missing.conf")), "no error");
  std::ofstream(dir / "bad.conf") << "backend = libvirt\nconect = x\n";
  EXPECT_EQ(
      errorOf(readHostConf(dir / "bad.conf")),
      (dir / "bad.conf").string() + ": line 2: unknown key 'conect' (known: backend, connect)");
  std::filesystem::remove_all(dir);
}

TEST(HostConfTest, OptionsWinOverTheFile) {
  const auto env = [](const char* name) -> std::optional<std::string> {
    if (std::string(name) == "HOME") return "/home/u";
    return std::nullopt;
  };
  HostConf conf;
  conf.backend = "libvirt";
  conf.connect = {"qemu:///session", "qemu+ssh://b/system"};
  auto fromFile = std::get<Settings>(parseSettings({"qor-host", "--hidden"}, env, conf));
  EXPECT_EQ(fromFile.backend, "libvirt");
  EXPECT_EQ(fromFile.connect, conf.connect);
  auto given = std::get<Settings>(parseSettings(
      {"qor-host", "--backend", "simulated", "--connect=test:///default"}, env, conf));
  EXPECT_EQ(given.backend, "simulated");
  EXPECT_EQ(given.connect, std::vector<std::string>{"test:///default"});
  auto several = std::get<Settings>(
      parseSettings({"qor-host", "--connect=test:///a", "--connect", "test:///b"}, env, conf));
  EXPECT_EQ(several.connect, (std::vector<std::string>{"test:///a", "test:///b"}));
  EXPECT_TRUE(std::holds_alternative<Failure>(
      parseSettings({"qor-host", "--connect=test:///a", "--connect=test:///a"}, env)));
  auto none = std::get<Settings>(parseSettings({"qor-host", "--hidden"}, env));
  EXPECT_EQ(none.backend, "simulated");
  EXPECT_TRUE(none.connect.empty());
}

}  // namespace
}  // namespace qor::host
