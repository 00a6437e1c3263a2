#pragma once

#include <any>
#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "host/core/backend.h"
#include "host/core/loop.h"
#include "host/libvirt/connection.h"
#include "host/libvirt/guest_agent.h"
#include "host/libvirt/handles.h"
#include "host/libvirt/libvirt_agent_transport.h"
#include "host/libvirt/usb_xml.h"
#include "host/libvirt/worker.h"

namespace qor::host::libvirt {

// How long a look at libvirt's machines serves reads: long enough for one client's run of
// requests (a list of many machines), short enough that a change made elsewhere (virsh) shows
// at once to a person. A change made through this host is seen at once.
inline constexpr std::chrono::milliseconds kSnapshotLife{100};
inline constexpr std::chrono::milliseconds kBusySnapshotLife{20};
// A machine's serial ports are read again when it starts or stops, and after this long.
inline constexpr std::chrono::seconds kPortsLife{10};

// Machines of a libvirt connection. Reads answer from a short-lived snapshot taken on the
// loop's own connection (a few quick calls for all machines at once); every request that may
// take a while runs on the worker's threads with a connection of their own and completes on
// the loop.
class LibvirtBackend : public Backend {
 public:
  // nullopt: libvirt's default URI.
  LibvirtBackend(Loop& loop, std::optional<std::string> uri);
  ~LibvirtBackend() override;

  std::optional<HostError> unavailable() override;

  std::vector<MachineKey> machines() override;
  std::optional<MachineKey> machineById(std::string_view id) override;
  std::optional<MachineKey> machineByName(std::string_view name) override;
  std::optional<MachineInfo> machine(MachineKey key) override;
  std::vector<UsbDeviceInfo> usbDevices() override;
  std::vector<WindowInfo> windows() override { return {}; }
  std::vector<GuestHandle> files(MachineKey key) override;
  std::vector<GuestHandle> processes(MachineKey key) override;

  void start(MachineKey key, bool saving, bool recovery, Completion<Done> done) override;
  void suspend(MachineKey key, bool saving, Completion<Done> done) override;
  void stop(MachineKey key, std::uint32_t method, Completion<Done> done) override;
  void remove(MachineKey key, Completion<Done> done) override;
  void duplicate(MachineKey key, std::optional<std::string> name, Completion<Done> done) override;
  void queryIp(MachineKey key, Completion<std::vector<std::string>> done) override;
  // A guest-ping through the agent; ip also needs an address QueryIp would answer.
  void guestReady(MachineKey key, std::uint32_t condition, Completion<bool> done) override;

  void openFile(MachineKey key, OpenFileArgs args, Completion<GuestHandle> done) override;
  void readFile(MachineKey key, GuestHandle file, ReadArgs args,
                Completion<std::string> done) override;
  void writeFile(MachineKey key, GuestHandle file, WriteArgs args, Completion<Done> done) override;
  void closeFile(MachineKey key, GuestHandle file, Completion<Done> done) override;
  void execute(MachineKey key, ExecuteArgs args, Completion<GuestHandle> done) override;
  void getResult(MachineKey key, GuestHandle process, Completion<Value> done) override;
  void releaseFile(GuestHandle file) override;
  void releaseProcess(GuestHandle process) override;

  void connectUsb(std::size_t device, MachineKey machine, Completion<Done> done) override;
  void disconnectUsb(std::size_t device, Completion<Done> done) override;
  void closeWindow(std::uint64_t window, std::uint32_t saving, std::string file,
                   Completion<Done> done) override;
  std::optional<HostError> setWindowVisible(std::uint64_t window, bool visible) override;
  std::optional<HostError> moveWindow(std::uint64_t window, std::int64_t index) override;

  std::optional<std::string> persist() override { return std::nullopt; }

  // The worker's connection, for calls made on the worker's threads (the guest agent's).
  Connection& workerConnection() { return workerConnection_; }

 private:
  struct Row {
    MachineKey key = 0;
    std::string uuid;  // in capitals
    std::string name;
    int state = 0;
    int reason = 0;
    bool saved = false;
    int id = -1;  // libvirt's number for a run; -1 while stopped
    std::shared_ptr<virDomain> domain;
  };
  struct Snapshot {
    std::chrono::steady_clock::time_point taken;
    std::vector<Row> rows;  // in list order
    std::optional<std::string> error;
    std::vector<UsbDevice> usb;
    bool usbRead = false;
  };
  struct Ports {
    int id = -1;
    int state = 0;
    std::chrono::steady_clock::time_point read;
    std::optional<std::vector<SerialPortInfo>> ports;
  };
  // Completions of requests that run on the worker, by number; the loop's side only. Tasks the
  // worker posts find them through a weak reference, so a task that runs after the backend has
  // gone does nothing.
  struct Pending {
    std::uint64_t next = 1;
    std::map<std::uint64_t, std::function<void(std::any&)>> waiting;
  };
  // What a job is told of the machine it works on.
  struct Target {
    std::string uuid;
    std::string name;
  };
  using Job = std::function<Result<Done>(virConnectPtr, const Target&)>;

  Snapshot& snapshot();
  const std::vector<UsbDevice>& usbList();
  void refresh(Snapshot& s);
  const Row* row(MachineKey key);
  std::optional<std::vector<SerialPortInfo>> portsOf(const Row& r);
  MachineKey keyFor(const std::string& uuid);

  // Runs `job` on a worker thread with the worker's connection and the machine's domain looked
  // up there, then completes `done` on the loop; the snapshot is read afresh afterwards.
  void onWorker(MachineKey key, Job job, Completion<Done> done);
  template <class T>
  void later(std::function<Result<T>()> job, Completion<T> done);
  // Both of the above: `job` on a worker thread, then `finish` on the loop with its outcome,
  // unless the backend or `pending` has gone meanwhile.
  void runOnWorker(const std::shared_ptr<Pending>& pending, std::function<std::any()> job,
                   std::function<void(std::any&)> finish);

  Loop& loop_;
  Connection readConnection_;
  Connection workerConnection_;
  std::optional<Snapshot> snapshot_;
  std::map<std::string, MachineKey> keys_;  // by UUID in capitals; never reused
  MachineKey nextKey_ = 1;
  std::map<std::string, Ports> ports_;
  std::shared_ptr<Pending> pending_ = std::make_shared<Pending>();
  // The guest agent's side (guest_agent_backend.cpp): the uuid of a machine whose agent can
  // be asked, or why not; jobs on the worker with that uuid; a GetResult held while its program
  // runs.
  std::variant<std::string, HostError> agentMachine(MachineKey key);
  void noteRun(const Row& r);
  template <class T>
  void onAgent(MachineKey key, std::function<Result<T>(const std::string&)> job,
               Completion<T> done);
  void lookForEnd(MachineKey key, GuestHandle process,
                  std::chrono::steady_clock::time_point arrived, Completion<Value> done);
  std::optional<std::vector<InterfaceAddress>> libvirtAddresses(const std::string& uuid,
                                                                AddressSource source);
  LibvirtAgentTransport agentTransport_{workerConnection_};
  GuestAgent guestAgent_{agentTransport_, [this](const std::string& uuid, AddressSource source) {
                           return libvirtAddresses(uuid, source);
                         }};
  // Guest requests under way, apart from pending_: they change nothing the look shows.
  std::shared_ptr<Pending> agentPending_ = std::make_shared<Pending>();
  std::map<std::string, int> agentRuns_;  // the run (libvirt's id) the agent's handles are of
  std::map<std::uint64_t, std::unique_ptr<Timer>> heldResults_;
  std::uint64_t nextHeld_ = 1;

  Worker worker_{4};  // last: its threads end before anything they use goes
};

}  // namespace qor::host::libvirt

namespace qor::host::libvirt {

template <class T>
void LibvirtBackend::later(std::function<Result<T>()> job, Completion<T> done) {
  runOnWorker(
      pending_, [job = std::move(job)]() -> std::any { return job(); },
      [this, done](std::any& outcome) {
        snapshot_.reset();  // whatever the request changed shows in the next read
        done(std::move(std::any_cast<Result<T>&>(outcome)));
      });
}

// libvirt's last error on this thread as the host's error: InvalidState for an operation the
// machine's state does not allow, else Failed; libvirt's own message either way.
HostError libvirtError();

// The domain of this UUID (either case) on a connection; empty, with libvirt's error, if none.
Domain lookupDomain(virConnectPtr conn, const std::string& uuid);

}  // namespace qor::host::libvirt
