#include "host/simulated/simulated_backend.h"

#include "host/simulated/world_json.h"

namespace qor::host {

SimulatedBackend::SimulatedBackend(World world, ProcessLauncher& launcher, Loop& loop,
                                   std::filesystem::path worldFile)
    : world_(std::move(world)), launcher_(launcher), loop_(loop), worldFile_(std::move(worldFile)) {}

SimulatedBackend::~SimulatedBackend() {
  // Running programs end with the host; nobody is left to answer.
  processes_.clear();
}

std::vector<MachineKey> SimulatedBackend::machines() {
  std::vector<MachineKey> keys;
  keys.reserve(world_.machines.size());
  for (const auto& m : world_.machines) keys.push_back(m.key);
  return keys;
}

std::optional<MachineKey> SimulatedBackend::machineById(std::string_view id) {
  const Machine* m = world_.machineById(id);
  return m ? std::optional(m->key) : std::nullopt;
}

std::optional<MachineKey> SimulatedBackend::machineByName(std::string_view name) {
  const Machine* m = world_.machineByName(name);
  return m ? std::optional(m->key) : std::nullopt;
}

std::optional<MachineInfo> SimulatedBackend::machine(MachineKey key) {
  const Machine* m = find(key);
  if (!m) return std::nullopt;
  MachineInfo info{m->key, m->id, m->name, m->backend, m->status, std::nullopt};
  if (m->serialPorts) {
    info.serialPorts.emplace();
    for (const auto& p : *m->serialPorts) {
      info.serialPorts->push_back({p.id, p.interface, p.address, p.port});
    }
  }
  return info;
}

std::vector<UsbDeviceInfo> SimulatedBackend::usbDevices() {
  std::vector<UsbDeviceInfo> out;
  for (const auto& d : world_.usbDevices) {
    out.push_back({d.id, d.name, d.manufacturerName, d.productName, d.vendorId, d.productId});
  }
  return out;
}

std::vector<WindowInfo> SimulatedBackend::windows() {
  std::vector<WindowInfo> out;
  for (const auto& w : world_.windows) out.push_back({w.key, w.name, w.visible.value_or(true)});
  return out;
}

std::vector<GuestHandle> SimulatedBackend::files(MachineKey key) {
  return files_.numbersOf(key);
}

std::vector<GuestHandle> SimulatedBackend::processes(MachineKey key) {
  std::vector<GuestHandle> out;
  for (const auto& [number, p] : processes_) {
    if (p.machineKey == key) out.push_back(number);
  }
  return out;
}

std::optional<std::string> SimulatedBackend::persist() {
  if (!takeChanged() || worldFile_.empty()) return std::nullopt;
  return saveWorldFile(world_, worldFile_);
}

}  // namespace qor::host
