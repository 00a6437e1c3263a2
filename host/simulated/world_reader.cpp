#include "host/simulated/world_json.h"

#include <limits>

#include "host/backend/json_values.h"

namespace qor::host {
namespace {

// Reads the keys of one JSON object into a struct, remembering the keys it does not know.
class Reader {
 public:
  Reader(const Json& object, std::string where) : object_(object), where_(std::move(where)) {
    if (!object_.is_object()) fail("expected a JSON object");
  }

  template <class T, class Convert>
  void read(const char* key, std::optional<T>& out, Convert convert, const char* expected) {
    known_.push_back(key);
    if (!ok() || !object_.contains(key)) return;
    const Json& v = object_[key];
    if (auto converted = convert(v)) {
      out = std::move(*converted);
    } else {
      fail(std::string(key) + ": expected " + expected);
    }
  }

  void text(const char* key, std::optional<std::string>& out) {
    read(
        key, out,
        [](const Json& v) -> std::optional<std::string> {
          if (v.is_string()) return v.get<std::string>();
          return std::nullopt;
        },
        "a string");
  }

  void integer(const char* key, std::optional<std::int64_t>& out) {
    read(
        key, out,
        [](const Json& v) -> std::optional<std::int64_t> {
          if (v.is_number_integer() &&
              (!v.is_number_unsigned() ||
               v.get<std::uint64_t>() <= std::uint64_t{std::numeric_limits<std::int64_t>::max()})) {
            return v.get<std::int64_t>();
          }
          return std::nullopt;
        },
        "a 64-bit integer");
  }

  void code(const char* key, std::optional<std::uint32_t>& out) {
    read(
        key, out, [](const Json& v) { return codeFromJson(v); },
        "a four-character string or a 32-bit integer");
  }

  void flag(const char* key, std::optional<bool>& out) {
    read(
        key, out,
        [](const Json& v) -> std::optional<bool> {
          if (v.is_boolean()) return v.get<bool>();
          return std::nullopt;
        },
        "true or false");
  }

  const Json* raw(const char* key) {
    known_.push_back(key);
    return object_.contains(key) ? &object_[key] : nullptr;
  }

  Json extra() const {
    Json out = Json::object();
    if (!object_.is_object()) return out;
    for (const auto& [key, v] : object_.items()) {
      bool known = false;
      for (const auto* k : known_) known = known || key == k;
      if (!known) out[key] = v;
    }
    return out;
  }

  void fail(const std::string& message) {
    if (error_.empty()) error_ = where_ + ": " + message;
  }
  bool ok() const { return error_.empty(); }
  Result<Done> outcome() const {
    if (error_.empty()) return Done{};
    return failed(error_);
  }
  const std::string& where() const { return where_; }

 private:
  const Json& object_;
  std::string where_;
  std::vector<const char*> known_;
  std::string error_;
};

std::string itemName(const std::string& list, std::size_t i) {
  return list + "[" + std::to_string(i) + "]";
}

Result<Done> readSerialPort(const Json& json, const std::string& where, SerialPort& port) {
  Reader r(json, where);
  r.integer("id", port.id);
  r.code("interface", port.interface);
  r.text("address", port.address);
  r.integer("port", port.port);
  port.extra = r.extra();
  return r.outcome();
}

Result<Done> readLifecycleRecords(Reader& r, Machine& m) {
  if (const Json* start = r.raw("lastStart")) {
    if (!start->is_object() || !start->value("saving", Json()).is_boolean() ||
        !start->value("recovery", Json()).is_boolean()) {
      return failed(r.where() + ": lastStart: expected {\"saving\": bool, \"recovery\": bool}");
    }
    m.lastStart = StartRecord{(*start)["saving"].get<bool>(), (*start)["recovery"].get<bool>()};
  }
  if (const Json* suspend = r.raw("lastSuspend")) {
    if (!suspend->is_object() || !suspend->value("saving", Json()).is_boolean()) {
      return failed(r.where() + ": lastSuspend: expected {\"saving\": bool}");
    }
    m.lastSuspendSaving = (*suspend)["saving"].get<bool>();
  }
  if (const Json* stop = r.raw("lastStop")) {
    const auto method = stop->is_object() && stop->contains("method")
                            ? codeFromJson((*stop)["method"])
                            : std::nullopt;
    if (!method) return failed(r.where() + ": lastStop: expected {\"method\": code}");
    m.lastStopMethod = method;
  }
  return Done{};
}

Result<Done> readMachine(const Json& json, const std::string& where, Machine& m) {
  Reader r(json, where);
  r.text("id", m.id);
  r.text("name", m.name);
  r.code("status", m.status);
  r.code("backend", m.backend);
  r.text("guestRoot", m.guestRoot);
  if (!r.ok()) return r.outcome();
  if (const Json* ips = r.raw("ipAddresses")) {
    if (!ips->is_array()) return failed(where + ": ipAddresses: expected an array of strings");
    m.ipAddresses.emplace();
    for (const auto& ip : *ips) {
      if (!ip.is_string()) return failed(where + ": ipAddresses: expected an array of strings");
      m.ipAddresses->push_back(ip.get<std::string>());
    }
  }
  if (const Json* ports = r.raw("serialPorts")) {
    if (!ports->is_array()) return failed(where + ": serialPorts: expected an array");
    m.serialPorts.emplace();
    for (std::size_t i = 0; i < ports->size(); ++i) {
      SerialPort port;
      if (auto read = readSerialPort((*ports)[i], itemName(where + ".serialPorts", i), port);
          failureOf(read)) {
        return read;
      }
      m.serialPorts->push_back(std::move(port));
    }
  }
  if (const Json* results = r.raw("processResults")) {
    if (!results->is_array()) {
      return failed(where + ": processResults: expected an array of arrays");
    }
    for (std::size_t i = 0; i < results->size(); ++i) {
      const Json& sequence = (*results)[i];
      const auto seqWhere = itemName(where + ".processResults", i);
      if (!sequence.is_array()) return failed(seqWhere + ": expected an array of records");
      for (std::size_t k = 0; k < sequence.size(); ++k) {
        auto record = recordFromJson(sequence[k]);
        if (const auto* f = failureOf(record)) {
          return failed(itemName(seqWhere, k) + ": " + f->message);
        }
      }
      m.processResults.push_back(sequence);
    }
  }
  if (auto records = readLifecycleRecords(r, m); failureOf(records)) return records;
  m.extra = r.extra();
  return Done{};
}

Result<Done> readUsbDevice(const Json& json, const std::string& where, UsbDevice& d) {
  Reader r(json, where);
  r.integer("id", d.id);
  r.text("name", d.name);
  r.text("manufacturerName", d.manufacturerName);
  r.text("productName", d.productName);
  r.integer("vendorId", d.vendorId);
  r.integer("productId", d.productId);
  if (const Json* to = r.raw("connectedTo"); to && !to->is_null()) {
    if (!to->is_string()) return failed(where + ": connectedTo: expected a machine id or null");
    d.connectedTo = to->get<std::string>();
  }
  d.extra = r.extra();
  return r.outcome();
}

Result<Done> readWindow(const Json& json, const std::string& where, Window& w) {
  Reader r(json, where);
  r.text("name", w.name);
  r.flag("visible", w.visible);
  w.extra = r.extra();
  return r.outcome();
}

template <class T, class ReadOne>
Result<Done> readList(const Json& json, const char* key, std::vector<T>& out, ReadOne readOne) {
  if (!json.contains(key)) return Done{};
  const Json& list = json[key];
  if (!list.is_array()) return failed(std::string(key) + ": expected an array");
  for (std::size_t i = 0; i < list.size(); ++i) {
    T item;
    if (auto read = readOne(list[i], itemName(key, i), item); failureOf(read)) return read;
    out.push_back(std::move(item));
  }
  return Done{};
}

}  // namespace

Result<World> worldFromJson(const Json& json, std::filesystem::path folder) {
  if (!json.is_object()) return failed("the world must be a JSON object");
  World world;
  world.folder = std::move(folder);
  if (auto read = readList(json, "machines", world.machines, readMachine); failureOf(read)) {
    return std::get<Failure>(std::move(read));
  }
  if (auto read = readList(json, "usbDevices", world.usbDevices, readUsbDevice); failureOf(read)) {
    return std::get<Failure>(std::move(read));
  }
  if (auto read = readList(json, "windows", world.windows, readWindow); failureOf(read)) {
    return std::get<Failure>(std::move(read));
  }
  if (json.contains("faults")) world.faults = json["faults"];
  for (auto& m : world.machines) m.key = world.newKey();
  for (auto& w : world.windows) w.key = world.newWindowKey();
  for (const auto& [key, v] : json.items()) {
    if (key != "machines" && key != "usbDevices" && key != "windows" && key != "faults") {
      world.extra[key] = v;
    }
  }
  return world;
}

}  // namespace qor::host
