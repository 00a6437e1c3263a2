#pragma once

#include <filesystem>
#include <memory>
#include <variant>

#include "fuzz/request_decoder.h"
#include "host/simulated/guest_process.h"
#include "host/simulated/world.h"

namespace qor::fuzz {

// A temporary folder for the whole run: the world's folder (guest roots below it), and beside
// it a folder no guest path may reach, with links to it planted in the started guest's root.
class GuestSandbox {
 public:
  GuestSandbox();
  ~GuestSandbox();
  GuestSandbox(const GuestSandbox&) = delete;
  GuestSandbox& operator=(const GuestSandbox&) = delete;

  std::filesystem::path worldFolder() const { return base_ / "world"; }

  // Guest files as every input starts with them.
  void reset() const;
  // Stops the run when anything was written beside the guest roots or outside the world's
  // folder, or the file outside changed.
  void checkConfined() const;

 private:
  std::filesystem::path base_;
};

// Starts nothing: the "program" has either ended already, having written its input back (so
// any bytes may come out of a guest), or is still running.
class EchoLauncher : public host::ProcessLauncher {
 public:
  host::Result<std::unique_ptr<host::RunningProcess>> launch(
      const host::ProgramLaunch& launch) override;
};

// Every kind of object, a started machine with scripted programs, a started one without an id,
// and one whose id is no plain folder name; guest roots in `folder`.
host::World fixtureWorld(const std::filesystem::path& folder);

// The world's ids and names, a few that name nothing, and guest paths that try to leave.
Vocabulary vocabularyOf(const host::World& world);

}  // namespace qor::fuzz
