#include "fuzz/host_fixture.h"

#include <unistd.h>

#include <cstdint>
#include <fstream>
#include <iterator>
#include <set>
#include <string>
#include <system_error>

#include "fuzz/checks.h"
#include "host/simulated/world_json.h"

namespace qor::fuzz {
namespace {

namespace fs = std::filesystem;

// The started machine whose root holds a few files and the links out of it.
constexpr const char* kStartedId = "5D3E2A1C-7B4F-4E8A-9C61-2F0B8D4A1E01";

constexpr const char* kWorld = R"({
  "machines": [
    {"id": "5D3E2A1C-7B4F-4E8A-9C61-2F0B8D4A1E01", "name": "Debian", "status": "StSc",
     "backend": "QeMu", "ipAddresses": ["192.168.64.3", "fe80::1"],
     "serialPorts": [{"id": 0, "interface": "PtTy", "address": "/dev/pts/7", "port": 0},
                     {"id": 1, "interface": "TcP ", "address": "127.0.0.1", "port": 4555}]},
    {"id": "9A7C4E21-3D5B-4F68-8E12-6B0D3C9F2A02", "name": "Windows 11", "status": "StSa",
     "backend": "QeMu", "ipAddresses": [], "serialPorts": []},
    {"id": "C2F18B6D-0E4A-4B97-A5D3-71E9F4086B03", "name": "macOS", "status": "StSe",
     "backend": "Appl", "serialPorts": [{"id": 0}]},
    {"id": "A1B2C3D4-0000-4000-8000-000000000005", "name": "Scripted", "status": "StSc",
     "processResults": [
       [{"hasExited": false}, {"hasExited": true, "exitCode": 3, "outputData": "aGk=",
                               "errorData": ""}],
       [{"hasExited": true, "exitCode": {"type": "t", "value": 18446744073709551615},
         "outputData": {"type": "d", "value": 1.5}}]]},
    {"name": "No Id", "status": "StSc"},
    {"id": "../escape", "name": "", "status": "StSa"}
  ],
  "usbDevices": [
    {"id": 4, "name": "Keyboard", "manufacturerName": "Acme", "productName": "K1",
     "vendorId": 1452, "productId": 591, "connectedTo": null},
    {"id": 7, "name": "Stick", "vendorId": 1921, "productId": 21889,
     "connectedTo": "5D3E2A1C-7B4F-4E8A-9C61-2F0B8D4A1E01"},
    {"id": 12, "connectedTo": "gone"}
  ],
  "windows": [{"name": "Qor"}, {"name": "Qor", "visible": false}],
  "faults": []
})";

constexpr const char* kSecret = "not for guests";

std::set<std::string> entries(const fs::path& folder) {
  std::set<std::string> names;
  for (const auto& entry : fs::directory_iterator(folder)) {
    names.insert(entry.path().filename().string());
  }
  return names;
}

// A program that has not ended, or one that has with its input as output.
struct Echo : host::RunningProcess {
  host::ProcessSnapshot state;
  host::ProcessSnapshot snapshot() const override { return state; }
  bool exited() const override { return state.exited; }
};

}  // namespace

GuestSandbox::GuestSandbox() {
  std::string pattern = (fs::temp_directory_path() / "qor-host-fuzz-XXXXXX").string();
  if (::mkdtemp(pattern.data()) == nullptr) fail("cannot create a temporary folder");
  base_ = pattern;
  fs::create_directories(base_ / "world");
  fs::create_directories(base_ / "outside");
  std::ofstream(base_ / "outside" / "secret") << kSecret;
}

GuestSandbox::~GuestSandbox() {
  std::error_code ignored;
  fs::remove_all(base_, ignored);
}

void GuestSandbox::reset() const {
  const fs::path guests = worldFolder() / "guests";
  fs::remove_all(guests);
  const fs::path root = guests / kStartedId;
  fs::create_directories(root / "etc");
  fs::create_directories(root / "home" / "user");
  std::ofstream(root / "etc" / "hostname") << "debian\n";
  std::ofstream(root / "home" / "user" / "notes.txt") << "bytes \xff\xfe and text\n";
  fs::create_symlink("../../../outside/secret", root / "up-link");
  fs::create_symlink(base_ / "outside" / "secret", root / "abs-link");
  fs::create_directory_symlink(base_ / "outside", root / "dir-link");
}

void GuestSandbox::checkConfined() const {
  check(entries(base_) == std::set<std::string>{"outside", "world"}, "the base folder is kept");
  check(entries(base_ / "outside") == std::set<std::string>{"secret"},
        "nothing is created outside the guest roots");
  std::ifstream in(base_ / "outside" / "secret");
  const std::string content{std::istreambuf_iterator<char>(in), {}};
  check(content == kSecret, "a file outside the guest roots keeps its content");
  check(entries(worldFolder()) == std::set<std::string>{"guests"},
        "guest files stay in guest roots");
  for (const auto& entry : fs::directory_iterator(worldFolder() / "guests")) {
    check(entry.is_directory() && !entry.is_symlink(), "the guests folder holds only roots",
          entry.path().string());
  }
}

host::Result<std::unique_ptr<host::RunningProcess>> EchoLauncher::launch(
    const host::ProgramLaunch& launch) {
  if (launch.arguments.size() == 1 && launch.arguments[0] == "fail") {
    return host::failed("The program cannot start.");
  }
  auto echo = std::make_unique<Echo>();
  echo->state.exited = !launch.arguments.empty();
  echo->state.exitCode = static_cast<std::int64_t>(launch.input.size()) - 128;
  echo->state.output = launch.input;
  echo->state.error = launch.program;
  return std::unique_ptr<host::RunningProcess>(std::move(echo));
}

host::World fixtureWorld(const fs::path& folder) {
  auto world = host::worldFromJson(host::Json::parse(kWorld), folder);
  if (const auto* f = host::failureOf(world)) fail("the world is refused", f->message);
  return std::get<host::World>(std::move(world));
}

Vocabulary vocabularyOf(const host::World& world) {
  Vocabulary v;
  for (const auto& m : world.machines) {
    if (m.id) v.machineIds.push_back(*m.id);
    if (m.name) v.machineNames.push_back(*m.name);
  }
  v.machineIds.push_back("00000000-0000-0000-0000-000000000000");
  v.machineNames.push_back("debian");  // differs only in case
  v.guestPaths = {"/etc/hostname",
                  "home/user/notes.txt",
                  "/home/user/new.bin",
                  "../../outside/secret",
                  "../../../outside/secret",
                  "up-link",
                  "abs-link",
                  "dir-link/new",
                  "dir-link/secret",
                  "/../../../x",
                  "etc",
                  "/dev/null",
                  "",
                  "a/./b/../c"};
  return v;
}

}  // namespace qor::fuzz
