// The conformance suite on the simulated backend: a small world in a temporary folder, a loop
// the test runs by hand, and programs that never really start.

#include <stdlib.h>

#include <filesystem>
#include <memory>
#include <string>

#include "backend_fixture.h"
#include "host/backend/manual_loop.h"
#include "host/simulated/simulated_backend.h"
#include "host/simulated/world_json.h"

namespace qor::host::conformance {
namespace {

constexpr const char* kWorld = R"({
  "machines": [
    {"id": "5D3E2A1C-7B4F-4E8A-9C61-2F0B8D4A1E01", "name": "Debian", "status": "StSc",
     "backend": "QeMu", "ipAddresses": ["192.168.64.3"],
     "serialPorts": [{"id": 0, "interface": "PtTy", "address": "/dev/pts/7", "port": 0}]},
    {"id": "9A7C4E21-3D5B-4F68-8E12-6B0D3C9F2A02", "name": "Caf\u00e9", "status": "StSa"},
    {"id": "C2F18B6D-0E4A-4B97-A5D3-71E9F4086B03", "name": "macOS Sonoma", "status": "StSe"},
    {"id": "E8B45D90-62C1-4A3F-9B7E-0D5F2C8A1E04", "name": "Fedora Server", "status": "StSc"},
    {"id": "AB0D3C9F-0000-4000-8000-000000000005", "name": "Debian", "status": "StSa"}
  ],
  "usbDevices": [{"id": 4, "name": "Keyboard", "connectedTo": null},
                 {"id": 7, "name": "Stick", "connectedTo": null}],
  "windows": [{"name": "Qor"}, {"name": "Library"}, {"name": "Console"}]
})";

// Every program starts and keeps running, so a GetResult is held until the loop's timer.
class RunningForever : public ProcessLauncher {
 public:
  Result<std::unique_ptr<RunningProcess>> launch(const ProgramLaunch&) override {
    return std::unique_ptr<RunningProcess>(std::make_unique<Process>());
  }

 private:
  struct Process : RunningProcess {
    ProcessSnapshot snapshot() const override { return {}; }
    bool exited() const override { return false; }
  };
};

class SimulatedFixture : public BackendFixture {
 public:
  SimulatedFixture() {
    std::string pattern =
        (std::filesystem::temp_directory_path() / "qor-conformance-XXXXXX").string();
    folder_ = ::mkdtemp(pattern.data());
  }
  ~SimulatedFixture() override {
    backend_.reset();
    std::error_code ec;
    std::filesystem::remove_all(folder_, ec);
  }

  Backends make() override {
    backend_.reset();
    // A folder per backend, so that one's guest files are not the next one's.
    const auto folder = folder_ / std::to_string(++made_);
    std::filesystem::create_directories(folder);
    auto world = worldFromJson(Json::parse(kWorld), folder);
    if (auto* e = failureOf(world)) ADD_FAILURE() << e->message;
    backend_ = std::make_unique<SimulatedBackend>(std::get<World>(std::move(world)), launcher_,
                                                  loop_, folder / "world.json");
    return backend_->concerns();
  }

  void settle() override {
    for (int turn = 0; turn < 8 && loop_.runPending() > 0; ++turn) {
    }
  }

  const WorldFacts& facts() const override { return facts_; }

 private:
  std::filesystem::path folder_;
  int made_ = 0;
  ManualLoop loop_;
  RunningForever launcher_;
  std::unique_ptr<SimulatedBackend> backend_;
  const WorldFacts facts_{
      .running = {"5D3E2A1C-7B4F-4E8A-9C61-2F0B8D4A1E01", "Debian"},
      .stopped = {"9A7C4E21-3D5B-4F68-8E12-6B0D3C9F2A02", "Caf\u00e9"},
      .paused = MachineFacts{"C2F18B6D-0E4A-4B97-A5D3-71E9F4086B03", "macOS Sonoma"},
      .secondRunning = MachineFacts{"E8B45D90-62C1-4A3F-9B7E-0D5F2C8A1E04", "Fedora Server"},
      .listOrder = {"5D3E2A1C-7B4F-4E8A-9C61-2F0B8D4A1E01", "9A7C4E21-3D5B-4F68-8E12-6B0D3C9F2A02",
                    "C2F18B6D-0E4A-4B97-A5D3-71E9F4086B03", "E8B45D90-62C1-4A3F-9B7E-0D5F2C8A1E04",
                    "AB0D3C9F-0000-4000-8000-000000000005"},
      .equivalentNames = {{"Cafe\u0301", "9A7C4E21-3D5B-4F68-8E12-6B0D3C9F2A02"},
                          {"Debian", "5D3E2A1C-7B4F-4E8A-9C61-2F0B8D4A1E01"}},
      .idsInAnyCase = true,  // its ids are UUIDs, which match in either case
      .newMachinesLast = true,
      .guestAnswers = true,
  };
};

INSTANTIATE_TEST_SUITE_P(Simulated, BackendConformance,
                         ::testing::Values(BackendCase{
                             "simulated", [] { return std::make_unique<SimulatedFixture>(); }}),
                         caseName);

}  // namespace
}  // namespace qor::host::conformance
