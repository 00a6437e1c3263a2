#pragma once

#include <chrono>
#include <map>

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

#include "host/backend/json.h"
#include "host/backend/objects.h"

namespace qor::host {

// The simulated host's state as the world file holds it: plain data and its lookups, shared by
// every simulated concern. It knows nothing of requests or the bus, and never writes itself.

// Every value the world file may leave out is optional: an absent value is a failed read
// (NoValue), not a default. `extra` keeps keys the host does not know, so saving loses nothing.
struct SerialPort {
  std::optional<std::int64_t> id;
  std::optional<std::uint32_t> interface;
  std::optional<std::string> address;
  std::optional<std::int64_t> port;
  Json extra = Json::object();
};

struct StartRecord {
  bool saving = true;
  bool recovery = false;
};

struct Machine {
  std::uint64_t key = 0;  // the host's own handle for this run; never written out
  std::optional<std::string> id;
  std::optional<std::string> name;
  std::optional<std::uint32_t> status;
  std::optional<std::uint32_t> backend;
  std::optional<std::vector<std::string>> ipAddresses;
  std::optional<std::vector<SerialPort>> serialPorts;
  std::optional<std::string> guestRoot;  // relative to the world file's folder
  std::vector<Json> processResults;      // scripted GetResult sequences, one per Execute
  // What the last lifecycle requests asked for, so a test can see what reached the host.
  std::optional<StartRecord> lastStart;
  std::optional<bool> lastSuspendSaving;
  std::optional<std::uint32_t> lastStopMethod;
  Json extra = Json::object();
};

// What the host tells of a device, and where the world keeps it.
struct UsbDevice : UsbDeviceInfo {
  std::optional<std::string> connectedTo;  // id of the machine holding the device
  Json extra = Json::object();
};

struct Window {
  std::uint64_t key = 0;  // stable for this run, so closing one window renames no other
  std::optional<std::string> name;
  std::optional<bool> visible;  // absent: visible
  Json extra = Json::object();
};

struct World {
  std::vector<Machine> machines;
  std::vector<UsbDevice> usbDevices;
  std::vector<Window> windows;
  Json faults = Json::array();  // kept as written; the fault table works from a parsed copy
  Json extra = Json::object();
  std::filesystem::path folder;  // where relative guest roots live
  std::uint64_t nextKey = 1;
  std::uint64_t nextWindowKey = 1;

  std::uint64_t newKey() { return nextKey++; }
  std::uint64_t newWindowKey() { return nextWindowKey++; }

  // The first machine, in list order, whose id (or name) equals the text under canonical
  // equivalence; nullptr when none does.
  const Machine* machineById(std::string_view id) const;
  const Machine* machineByName(std::string_view name) const;
  const Machine* machineByKey(std::uint64_t key) const;
  Machine* machineById(std::string_view id) {
    return mutableOf(std::as_const(*this).machineById(id));
  }
  Machine* machineByName(std::string_view name) {
    return mutableOf(std::as_const(*this).machineByName(name));
  }
  Machine* machineByKey(std::uint64_t key) {
    return mutableOf(std::as_const(*this).machineByKey(key));
  }

  std::filesystem::path guestRootOf(const Machine& machine) const;

  // Must follow every change to the list of machines (an added or removed machine); ids and
  // names of a machine never change.
  void machinesChanged() { index_.valid = false; }

 private:
  // Lookups by id and by name are hashed, so a host with many machines answers each request
  // without comparing texts with every machine. Built on first use after a change.
  struct Index {
    bool valid = false;
    std::unordered_map<std::string, std::size_t> byId;  // canonical text -> first machine
    std::unordered_map<std::string, std::size_t> byName;
    std::unordered_map<std::string, std::size_t> byUuid;  // ids that are UUIDs, in capitals
  };
  const Index& index() const;
  mutable Index index_;

  // The machines are this world's own, so handing back a mutable one is sound.
  Machine* mutableOf(const Machine* m) { return const_cast<Machine*>(m); }
};

// The world the simulated concerns share, and whether a request changed it since it was last
// written (WorldPersistence writes it then).
struct SharedWorld {
  World world;
  bool changed = false;
  // When this host booted a machine (started it from stopped); its agent comes up after that.
  std::map<MachineKey, std::chrono::steady_clock::time_point> bootedAt;
};

}  // namespace qor::host
