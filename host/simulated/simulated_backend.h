#pragma once

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <map>
#include <optional>
#include <utility>

#include "host/core/backend.h"
#include "host/core/loop.h"
#include "host/simulated/guest_files.h"
#include "host/simulated/guest_process.h"
#include "host/simulated/world.h"

namespace qor::host {

// How long a GetResult of a running program may wait for its end before answering that it is
// still running: a client that asks without pause then asks about twenty times a second.
inline constexpr std::chrono::milliseconds kResultPause{50};

// Machines from a world file: every request acts on the world, which is written back after
// each request that changed it. Everything completes at once, except a GetResult of a running
// program, which waits for its end or kResultPause.
class SimulatedBackend : public Backend {
 public:
  // `worldFile` empty: nothing is written (tests).
  SimulatedBackend(World world, ProcessLauncher& launcher, Loop& loop,
                   std::filesystem::path worldFile = {});
  ~SimulatedBackend() override;

  std::vector<MachineKey> machines() override;
  std::optional<MachineKey> machineById(std::string_view id) override;
  std::optional<MachineKey> machineByName(std::string_view name) override;
  std::optional<MachineInfo> machine(MachineKey key) override;
  std::vector<UsbDeviceInfo> usbDevices() override;
  std::vector<WindowInfo> windows() override;
  std::vector<GuestHandle> files(MachineKey key) override;
  std::vector<GuestHandle> processes(MachineKey key) override;

  void start(MachineKey key, bool saving, bool recovery, Completion<Done> done) override;
  void suspend(MachineKey key, bool saving, Completion<Done> done) override;
  void stop(MachineKey key, std::uint32_t method, Completion<Done> done) override;
  void remove(MachineKey key, Completion<Done> done) override;
  void duplicate(MachineKey key, std::optional<std::string> name, Completion<Done> done) override;
  void queryIp(MachineKey key, Completion<std::vector<std::string>> done) override;
  // The agent of a machine this host started answers once the machine's "agentDelayMs" (in
  // the world file; default 0) has passed; ip also needs an address in the world.
  void guestReady(MachineKey key, std::uint32_t condition, Completion<bool> done) override;

  void openFile(MachineKey key, OpenFileArgs args, Completion<GuestHandle> done) override;
  void readFile(MachineKey key, GuestHandle file, ReadArgs args,
                Completion<std::string> done) override;
  void writeFile(MachineKey key, GuestHandle file, WriteArgs args, Completion<Done> done) override;
  void closeFile(MachineKey key, GuestHandle file, Completion<Done> done) override;
  void execute(MachineKey key, ExecuteArgs args, Completion<GuestHandle> done) override;
  void getResult(MachineKey key, GuestHandle process, Completion<Value> done) override;
  void releaseFile(GuestHandle file) override { files_.close(file); }
  void releaseProcess(GuestHandle process) override;

  void connectUsb(std::size_t device, MachineKey machine, Completion<Done> done) override;
  void disconnectUsb(std::size_t device, Completion<Done> done) override;
  void closeWindow(std::uint64_t window, std::uint32_t saving, std::string file,
                   Completion<Done> done) override;
  std::optional<HostError> setWindowVisible(std::uint64_t window, bool visible) override;
  std::optional<HostError> moveWindow(std::uint64_t window, std::int64_t index) override;

  std::optional<std::string> persist() override;

  // True once after every request that changed the world.
  bool takeChanged() { return std::exchange(changed_, false); }
  const World& world() const { return world_; }

 private:
  Machine* find(MachineKey key) { return world_.machineByKey(key); }
  Window* findWindow(std::uint64_t key);
  // A machine that stops loses its guest: open files and running programs end, and the USB
  // devices it held go back to the host.
  void releaseGuest(const Machine& machine);
  void forgetOldProcesses();
  // Drops a process, answering every GetResult still waiting for it first.
  void eraseProcess(std::map<GuestHandle, GuestProcess>::iterator it);
  void answerWaiting(GuestHandle number, std::optional<std::uint64_t> onlyWaiter);

  World world_;
  ProcessLauncher& launcher_;
  Loop& loop_;
  std::filesystem::path worldFile_;
  GuestFiles files_;
  std::map<GuestHandle, GuestProcess> processes_;
  // When this host started a machine from stopped; its guest's agent comes up after that.
  std::map<MachineKey, std::chrono::steady_clock::time_point> startedAt_;
  GuestHandle nextProcess_ = 1;
  std::uint64_t nextWaiter_ = 1;
  bool changed_ = false;
};

}  // namespace qor::host
