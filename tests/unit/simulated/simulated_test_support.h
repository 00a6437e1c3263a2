#pragma once

#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "host/simulated/guest_process.h"
#include "host/simulated/world_json.h"

namespace qor::host::testing {

// Programs are never really started through this one; it answers what a test tells it to.
class FakeLauncher : public ProcessLauncher {
 public:
  struct Fake : RunningProcess {
    ProcessSnapshot state;
    std::function<void()> onExit;
    ProcessSnapshot snapshot() const override { return state; }
    bool exited() const override { return state.exited; }
    void whenExited(std::function<void()> callback) override { onExit = std::move(callback); }
    // The program ends now, as the event loop would see it.
    void finish(ProcessSnapshot end) {
      state = std::move(end);
      state.exited = true;
      if (auto c = std::exchange(onExit, nullptr)) c();
    }
  };
  Result<std::unique_ptr<RunningProcess>> launch(const ProgramLaunch& launch) override {
    launched.push_back(launch);
    if (failWith) return *failWith;
    auto p = std::make_unique<Fake>();
    p->state = next;
    started.push_back(p.get());
    return std::unique_ptr<RunningProcess>(std::move(p));
  }
  std::vector<ProgramLaunch> launched;
  std::vector<Fake*> started;  // owned by the host; valid while it keeps the process
  ProcessSnapshot next{true, 0, "", ""};
  std::optional<Failure> failWith;
};

inline World worldFrom(const char* json, std::filesystem::path folder) {
  auto w = worldFromJson(Json::parse(json), std::move(folder));
  if (auto* e = failureOf(w)) ADD_FAILURE() << e->message;
  return std::get<World>(std::move(w));
}

// A fresh folder under the test's temporary directory, removed afterwards.
class TempFolder {
 public:
  TempFolder() {
    std::string pattern =
        (std::filesystem::temp_directory_path() / "qor-host-test-XXXXXX").string();
    path_ = ::mkdtemp(pattern.data());
  }
  ~TempFolder() {
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
  }
  const std::filesystem::path& path() const { return path_; }

 private:
  std::filesystem::path path_;
};

}  // namespace qor::host::testing
