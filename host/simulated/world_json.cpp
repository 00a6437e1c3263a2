#include "host/simulated/world_json.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <fstream>
#include <limits>

namespace qor::host {
namespace {

void putOptional(Json& out, const char* key, const auto& value) {
  if (value) out[key] = *value;
}

void putCode(Json& out, const char* key, const std::optional<std::uint32_t>& code) {
  if (code) out[key] = codeToJson(*code);
}

void putExtra(Json& out, const Json& extra) {
  for (const auto& [key, v] : extra.items()) out[key] = v;
}

Json machineToJson(const Machine& m) {
  Json out = Json::object();
  putOptional(out, "id", m.id);
  putOptional(out, "name", m.name);
  putCode(out, "status", m.status);
  putCode(out, "backend", m.backend);
  putOptional(out, "ipAddresses", m.ipAddresses);
  if (m.serialPorts) {
    out["serialPorts"] = Json::array();
    for (const auto& p : *m.serialPorts) {
      Json port = Json::object();
      putOptional(port, "id", p.id);
      putCode(port, "interface", p.interface);
      putOptional(port, "address", p.address);
      putOptional(port, "port", p.port);
      putExtra(port, p.extra);
      out["serialPorts"].push_back(std::move(port));
    }
  }
  putOptional(out, "guestRoot", m.guestRoot);
  if (!m.processResults.empty()) out["processResults"] = m.processResults;
  if (m.lastStart) {
    out["lastStart"] = {{"saving", m.lastStart->saving}, {"recovery", m.lastStart->recovery}};
  }
  if (m.lastSuspendSaving) out["lastSuspend"] = {{"saving", *m.lastSuspendSaving}};
  if (m.lastStopMethod) out["lastStop"] = {{"method", codeToJson(*m.lastStopMethod)}};
  putExtra(out, m.extra);
  return out;
}

}  // namespace

Json worldToJson(const World& world) {
  Json out = Json::object();
  out["machines"] = Json::array();
  for (const auto& m : world.machines) out["machines"].push_back(machineToJson(m));
  out["usbDevices"] = Json::array();
  for (const auto& d : world.usbDevices) {
    Json device = Json::object();
    putOptional(device, "id", d.id);
    putOptional(device, "name", d.name);
    putOptional(device, "manufacturerName", d.manufacturerName);
    putOptional(device, "productName", d.productName);
    putOptional(device, "vendorId", d.vendorId);
    putOptional(device, "productId", d.productId);
    device["connectedTo"] = d.connectedTo ? Json(*d.connectedTo) : Json(nullptr);
    putExtra(device, d.extra);
    out["usbDevices"].push_back(std::move(device));
  }
  out["windows"] = Json::array();
  for (const auto& w : world.windows) {
    Json window = Json::object();
    putOptional(window, "name", w.name);
    putOptional(window, "visible", w.visible);
    putExtra(window, w.extra);
    out["windows"].push_back(std::move(window));
  }
  out["faults"] = world.faults;
  putExtra(out, world.extra);
  return out;
}

Result<World> loadWorldFile(const std::filesystem::path& file) {
  std::ifstream in(file, std::ios::binary);
  if (!in) return failed(file.string() + ": " + std::strerror(errno));
  Json json = Json::parse(in, nullptr, false);
  if (json.is_discarded()) return failed(file.string() + ": not valid JSON");
  auto world = worldFromJson(json, file.parent_path());
  if (auto* e = failureOf(world)) return failed(file.string() + ": " + e->message);
  return world;
}

Result<Done> saveWorldFile(const World& world, const std::filesystem::path& file) {
  const std::string text = worldToJson(world).dump(2) + "\n";
  const auto temporary = file.string() + ".tmp." + std::to_string(::getpid());
  const int fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0) return failed(temporary + ": " + std::strerror(errno));
  std::size_t done = 0;
  while (done < text.size()) {
    const auto n = ::write(fd, text.data() + done, text.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      const std::string error = temporary + ": " + std::strerror(errno);
      ::close(fd);
      ::unlink(temporary.c_str());
      return failed(error);
    }
    done += static_cast<std::size_t>(n);
  }
  ::close(fd);
  if (::rename(temporary.c_str(), file.c_str()) != 0) {
    const std::string error = file.string() + ": " + std::strerror(errno);
    ::unlink(temporary.c_str());
    return failed(error);
  }
  return Done{};
}

}  // namespace qor::host
