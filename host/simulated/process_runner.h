#pragma once

#include <systemd/sd-event.h>

#include "host/simulated/guest_process.h"

namespace qor::host {

// Runs guest programs as real child processes on the host's event loop: standard input is fed
// and standard output and error are collected through non-blocking pipes, so neither a large
// input nor a large output can stall the host. SIGCHLD must be blocked before the first launch.
class SpawnLauncher : public ProcessLauncher {
 public:
  explicit SpawnLauncher(sd_event* event) : event_(event) {}
  Result<std::unique_ptr<RunningProcess>> launch(const ProgramLaunch& launch) override;

 private:
  sd_event* event_;
};

// Captured output beyond this many bytes per stream is read and dropped, so the reply that
// carries it stays well below the bus's message size limit.
inline constexpr std::size_t kMaxCapturedBytes = 32 * 1024 * 1024;

}  // namespace qor::host
