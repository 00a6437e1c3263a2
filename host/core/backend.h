#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "host/core/completion.h"
#include "host/core/value.h"

namespace qor::host {

// The backend's own number for a machine, stable while the host runs; key paths use it.
using MachineKey = std::uint64_t;
// The number of a guest file or process, unique for the host's whole run and never reused.
using GuestHandle = std::uint64_t;

// What the host knows of an object at the moment it is asked; an absent value is read as
// NoValue, not as a default.
struct SerialPortInfo {
  std::optional<std::int64_t> id;
  std::optional<std::uint32_t> interface;
  std::optional<std::string> address;
  std::optional<std::int64_t> port;
};

struct MachineInfo {
  MachineKey key = 0;
  std::optional<std::string> id;
  std::optional<std::string> name;
  std::optional<std::uint32_t> backend;
  std::optional<std::uint32_t> status;
  std::optional<std::vector<SerialPortInfo>> serialPorts;
};

struct UsbDeviceInfo {
  std::optional<std::int64_t> id;
  std::optional<std::string> name;
  std::optional<std::string> manufacturerName;
  std::optional<std::string> productName;
  std::optional<std::int64_t> vendorId;
  std::optional<std::int64_t> productId;
};

struct WindowInfo {
  std::uint64_t key = 0;  // its path element; stable while the window exists
  std::optional<std::string> name;
  bool visible = true;
};

// The arguments of the guest requests as the client sent them; data travels in the encoding
// the request names, so a backend whose guest speaks base64 can pass it through.
struct OpenFileArgs {
  std::string path;
  std::uint32_t mode = 0;
  bool updating = false;
};
struct ReadArgs {
  std::int64_t offset = 0;
  std::uint32_t whence = 0;
  std::int64_t length = 0;
  bool base64 = true;
  bool closing = false;
};
struct WriteArgs {
  std::string data;
  std::int64_t offset = 0;
  std::uint32_t whence = 0;
  bool base64 = true;
  bool closing = false;
};
struct ExecuteArgs {
  std::string program;
  std::vector<std::string> arguments;
  std::vector<std::string> environment;
  std::string input;
  bool base64 = true;
  bool capture = true;
};

// Where the host's machines live: the simulated world, or a real VM manager. The bus side
// resolves paths, checks interfaces, members and signatures, keeps the request log, the fault
// switches and who owns which guest handle, and builds every reply; a backend answers in plain
// values.
//
// Lookups and reads answer at once (a backend that must ask elsewhere keeps a cache or makes a
// quick call). Requests complete through their Completion, at once or later; a request that
// takes seconds runs elsewhere and completes from the loop's thread, so other clients are
// served meanwhile. Requests name objects the bus side has just resolved, but a request that
// completes later must expect its object to have gone meanwhile.
class Backend {
 public:
  virtual ~Backend() = default;

  // Why the backend cannot answer at all (its VM manager cannot be reached), asked before every
  // request that names an object; the request is then answered with this error.
  virtual std::optional<HostError> unavailable() { return std::nullopt; }

  // Machines in list order. The id and name lookups answer the first machine, in that order,
  // whose id (name) equals the text under canonical equivalence.
  virtual std::vector<MachineKey> machines() = 0;
  virtual std::optional<MachineKey> machineById(std::string_view id) = 0;
  virtual std::optional<MachineKey> machineByName(std::string_view name) = 0;
  virtual std::optional<MachineInfo> machine(MachineKey key) = 0;
  virtual std::vector<UsbDeviceInfo> usbDevices() = 0;
  virtual std::vector<WindowInfo> windows() = 0;
  // The guest files and processes of a machine that are there to be asked.
  virtual std::vector<GuestHandle> files(MachineKey key) = 0;
  virtual std::vector<GuestHandle> processes(MachineKey key) = 0;

  virtual void start(MachineKey key, bool saving, bool recovery, Completion<Done> done) = 0;
  virtual void suspend(MachineKey key, bool saving, Completion<Done> done) = 0;
  // `method` is one of the stop methods; the bus side has checked it.
  virtual void stop(MachineKey key, std::uint32_t method, Completion<Done> done) = 0;
  virtual void remove(MachineKey key, Completion<Done> done) = 0;
  // nullopt: the backend picks the copy's name.
  virtual void duplicate(MachineKey key, std::optional<std::string> name,
                         Completion<Done> done) = 0;
  virtual void queryIp(MachineKey key, Completion<std::vector<std::string>> done) = 0;
  // One look at the guest of a running machine: `condition` is QorWaitCondition::agent (its
  // agent answers) or ::ip (it also reports an address QueryIp would answer). Answers soon (a
  // guest that does not answer within a second or so is not ready); the bus side asks again
  // until the condition holds or the client's time is up.
  virtual void guestReady(MachineKey key, std::uint32_t condition, Completion<bool> done) = 0;

  virtual void openFile(MachineKey key, OpenFileArgs args, Completion<GuestHandle> done) = 0;
  virtual void readFile(MachineKey key, GuestHandle file, ReadArgs args,
                        Completion<std::string> done) = 0;
  virtual void writeFile(MachineKey key, GuestHandle file, WriteArgs args,
                         Completion<Done> done) = 0;
  virtual void closeFile(MachineKey key, GuestHandle file, Completion<Done> done) = 0;
  virtual void execute(MachineKey key, ExecuteArgs args, Completion<GuestHandle> done) = 0;
  // The record (a{sv}) GetResult answers. A backend may hold it while the program runs, for a
  // short while, so that a client asking without pause does not spin.
  virtual void getResult(MachineKey key, GuestHandle process, Completion<Value> done) = 0;
  // The client that opened the handle has left the bus: close the file, forget the process.
  // Nothing to answer; a handle already gone is no error.
  virtual void releaseFile(GuestHandle file) = 0;
  virtual void releaseProcess(GuestHandle process) = 0;

  // `device` is a position in usbDevices().
  virtual void connectUsb(std::size_t device, MachineKey machine, Completion<Done> done) = 0;
  virtual void disconnectUsb(std::size_t device, Completion<Done> done) = 0;

  // `saving` is one of the save options; the bus side has checked it.
  virtual void closeWindow(std::uint64_t window, std::uint32_t saving, std::string file,
                           Completion<Done> done) = 0;
  virtual std::optional<HostError> setWindowVisible(std::uint64_t window, bool visible) = 0;
  // `index` counts from 1 and lies within the list; the bus side has checked it.
  virtual std::optional<HostError> moveWindow(std::uint64_t window, std::int64_t index) = 0;

  // Called after every request, before its reply goes out: a backend that keeps state of its
  // own writes what changed. An error message turns the reply into a failure.
  virtual std::optional<std::string> persist() = 0;
};

}  // namespace qor::host
