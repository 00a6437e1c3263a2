#include "tests/e2e/harness.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <sstream>

extern char** environ;

namespace qor::e2e {
namespace fs = std::filesystem;

namespace {

constexpr const char* kRoot = "/org/qor/Scripting1";

std::string shortInterface(const std::string& name) {
  const auto dot = name.rfind('.');
  return dot == std::string::npos ? name : name.substr(dot + 1);
}

// GLib's escaping of a text into one path element.
std::string escapePathElement(const std::string& text) {
  if (text.empty()) return "_";
  static const char* hex = "0123456789abcdef";
  std::string out;
  for (char byte : text) {
    const auto c = static_cast<unsigned char>(byte);
    if ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9')) {
      out += static_cast<char>(c);
    } else {
      out += '_';
      out += hex[c >> 4];
      out += hex[c & 15];
    }
  }
  return out;
}

std::string busConfig(const fs::path& socket, int replyTimeoutMs) {
  std::ostringstream xml;
  xml << R"(<!DOCTYPE busconfig PUBLIC "-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN"
 "http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd">
<busconfig>
  <type>session</type>
  <keep_umask/>
  <listen>unix:path=)"
      << socket.string() << R"(</listen>
  <auth>EXTERNAL</auth>
  <policy context="default">
    <allow send_destination="*" eavesdrop="true"/>
    <allow eavesdrop="true"/>
    <allow own="*"/>
  </policy>
  <limit name="reply_timeout">)"
      << replyTimeoutMs << R"(</limit>
  <limit name="max_message_size">1000000000</limit>
  <limit name="max_incoming_bytes">1000000000</limit>
  <limit name="max_outgoing_bytes">1000000000</limit>
</busconfig>
)";
  return xml.str();
}

}  // namespace

std::string Request::label() const {
  if (member == "Get" && interface == "org.freedesktop.DBus.Properties" && args.size() == 2) {
    return "Get " + shortInterface(args[0].get<std::string>()) + "." + args[1].get<std::string>();
  }
  std::string text = shortInterface(interface) + "." + member;
  if (!args.empty()) text += " " + args.dump();
  return text;
}

std::string machinePath(const std::string& id) {
  return std::string(kRoot) + "/vm/id/" + escapePathElement(id);
}

fs::path HostTest::bundle() {
  return QOR_BUNDLE;
}

void HostTest::SetUp() {
  std::string pattern = (fs::temp_directory_path() / "qor-e2e-XXXXXX").string();
  if (mkdtemp(pattern.data()) == nullptr) FAIL() << "mkdtemp failed";
  dir_ = pattern;
  fs::create_directories(dir_ / "run");
  fs::create_directories(dir_ / "state");
}

void HostTest::TearDown() {
  stopBus();
  std::error_code ignored;
  if (std::getenv("QOR_KEEP_TEST_DIRS") == nullptr) fs::remove_all(dir_, ignored);
}

void HostTest::startBus() {
  const fs::path config = dir_ / "bus.conf";
  std::ofstream(config) << busConfig(dir_ / "bus", replyTimeoutMs_);
  int fds[2];
  if (pipe(fds) != 0) FAIL() << "pipe failed";
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, fds[1], 1);
  // The daemon's own complaints (it cannot raise its descriptor limit here) stay out of the
  // test output, in the test's folder.
  posix_spawn_file_actions_addopen(&actions, 2, (dir_ / "bus.log").c_str(),
                                   O_WRONLY | O_CREAT | O_TRUNC, 0644);
  posix_spawn_file_actions_addclose(&actions, fds[0]);
  const std::string configArg = "--config-file=" + config.string();
  const char* argv[] = {"/usr/bin/dbus-daemon", configArg.c_str(), "--nofork", "--print-address=1",
                        nullptr};
  pid_t pid = -1;
  const int spawned =
      posix_spawn(&pid, argv[0], &actions, nullptr, const_cast<char**>(argv), environ);
  posix_spawn_file_actions_destroy(&actions);
  close(fds[1]);
  if (spawned != 0) {
    close(fds[0]);
    FAIL() << "cannot start dbus-daemon";
  }
  busPid_ = pid;
  std::string address;
  char c;
  while (read(fds[0], &c, 1) == 1 && c != '\n') address += c;
  close(fds[0]);
  ASSERT_FALSE(address.empty()) << "dbus-daemon printed no address";
  busAddress_ = address;
}

void HostTest::stopBus() {
  if (busPid_ <= 0) return;
  // The host leaves when its bus connection closes.
  kill(busPid_, SIGTERM);
  int status = 0;
  waitpid(busPid_, &status, 0);
  busPid_ = -1;
}

void HostTest::setWorld(const json& world) {
  std::ofstream(dir_ / "world.json") << world.dump(2);
}

json HostTest::readWorld() const {
  std::ifstream in(dir_ / "world.json");
  return json::parse(in);
}

std::vector<std::string> HostTest::childEnvironment(const RunOptions& options) const {
  std::map<std::string, std::string> env = {
      {"PATH", "/usr/local/bin:/usr/bin:/bin"},
      {"HOME", dir_.string()},
      {"LANG", "C.UTF-8"},
      {"XDG_RUNTIME_DIR", (dir_ / "run").string()},
      {"XDG_STATE_HOME", (dir_ / "state").string()},
      {"QOR_SIM_WORLD", (dir_ / "world.json").string()},
      {"QOR_SIM_LOG", (dir_ / "requests.jsonl").string()},
  };
  if (options.withBus) env["DBUS_SESSION_BUS_ADDRESS"] = busAddress_;
  for (const char* name : {"ASAN_OPTIONS", "UBSAN_OPTIONS", "LSAN_OPTIONS"}) {
    if (const char* value = std::getenv(name)) env[name] = value;
  }
  for (const auto& [name, value] : options.environment) env[name] = value;
  std::vector<std::string> list;
  for (const auto& [name, value] : env) list.push_back(name + "=" + value);
  return list;
}

RunResult HostTest::run(const std::vector<std::string>& arguments, const RunOptions& options) {
  if (options.withBus) ensureBus();
  const fs::path executable =
      options.executable.empty() ? bundle() / "Contents" / "MacOS" / "qorctl" : options.executable;
  std::vector<std::string> argv = {executable.string()};
  argv.insert(argv.end(), arguments.begin(), arguments.end());
  return runProgram(argv, childEnvironment(options), options.input, 90, options.inputFile);
}

std::vector<Request> HostTest::requests() const {
  std::vector<Request> out;
  std::ifstream in(dir_ / "requests.jsonl");
  std::string line;
  while (std::getline(in, line)) {
    if (line.empty()) continue;
    const json entry = json::parse(line);
    out.push_back({entry.value("path", ""), entry.value("interface", ""), entry.value("member", ""),
                   entry.value("args", json::array())});
  }
  return out;
}

std::vector<std::string> HostTest::labels() const {
  std::vector<std::string> out;
  for (const auto& request : requests()) out.push_back(request.label());
  return out;
}

void HostTest::clearRequests() {
  std::ofstream(dir_ / "requests.jsonl", std::ios::trunc);
}

fs::path HostTest::guestRoot(const std::string& machineId) const {
  return dir_ / "guests" / machineId;
}

json vm(const std::string& id, const std::string& name, const std::string& status) {
  return {{"id", id}, {"name", name}, {"status", status}};
}

}  // namespace qor::e2e
