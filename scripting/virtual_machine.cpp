#include "scripting/bridge.h"
#include "scripting/bus_message.h"
#include "scripting/message_size.h"
#include "scripting/object_model.h"
#include "scripting/object_path.h"

namespace qor::scripting {

namespace {

constexpr const char* kInterface = "VirtualMachine";

template <typename T>
std::optional<T> get(Bridge& bridge, const std::string& path, const char* name,
                     const char* signature, int (*reader)(sd_bus_message*, T&)) {
  T value{};
  if (!bridge.call(Request::property(path, kInterface, name, signature),
                   [&](sd_bus_message* reply) { return reader(reply, value); })) {
    return std::nullopt;
  }
  return value;
}

bool invoke(Bridge& bridge, const std::string& path, const char* member,
            ArgumentWriter arguments = {}) {
  return bridge.call(Request::method(path, kInterface, member, "", std::move(arguments)));
}

// A method whose answer is an object path; "/" is the host's "no object", which is empty but
// not a failure.
std::optional<std::string> invokeForObject(Bridge& bridge, const std::string& path,
                                           const char* member, ArgumentWriter arguments) {
  std::string result;
  if (!bridge.call(Request::method(path, kInterface, member, "o", std::move(arguments)),
                   [&](sd_bus_message* reply) { return readObjectPath(reply, result); })) {
    return std::nullopt;
  }
  if (result == "/") return std::nullopt;
  return result;
}

}  // namespace

std::optional<std::string> QorVirtualMachine::id() const {
  return get<std::string>(*bridge_, path_, "Id", "s", readText);
}

std::optional<std::string> QorVirtualMachine::name() const {
  return get<std::string>(*bridge_, path_, "Name", "s", readText);
}

std::optional<std::uint32_t> QorVirtualMachine::status() const {
  return get<std::uint32_t>(*bridge_, path_, "Status", "u", readCode);
}

std::optional<std::vector<QorSerialPort>> QorVirtualMachine::serialPorts() const {
  const auto paths =
      get<std::vector<std::string>>(*bridge_, path_, "SerialPorts", "ao", readObjectPaths);
  if (!paths) return std::nullopt;
  std::vector<QorSerialPort> ports;
  for (const auto& port : *paths) ports.emplace_back(*bridge_, port);
  return ports;
}

bool QorVirtualMachine::startSaving(bool saving, bool recovery) const {
  return invoke(*bridge_, path_, "Start", [=](sd_bus_message* m) {
    return sd_bus_message_append(m, "bb", static_cast<int>(saving), static_cast<int>(recovery));
  });
}

bool QorVirtualMachine::suspendSaving(bool saving) const {
  return invoke(*bridge_, path_, "Suspend", [=](sd_bus_message* m) {
    return sd_bus_message_append(m, "b", static_cast<int>(saving));
  });
}

bool QorVirtualMachine::stopBy(QorStopMethod method) const {
  return invoke(*bridge_, path_, "Stop", [=](sd_bus_message* m) {
    return sd_bus_message_append(m, "u", static_cast<std::uint32_t>(method));
  });
}

bool QorVirtualMachine::deleteMachine() const {
  return invoke(*bridge_, path_, "Delete");
}

bool QorVirtualMachine::duplicateWithProperties(const Record& properties) const {
  return invoke(*bridge_, path_, "Duplicate",
                [&](sd_bus_message* m) { return appendRecord(m, properties); });
}

std::optional<QorGuestFile> QorVirtualMachine::openFileAt(const std::string& path, QorOpenMode mode,
                                                          bool updating) const {
  const auto file = invokeForObject(*bridge_, path_, "OpenFile", [&](sd_bus_message* m) {
    const int r = appendText(m, path);
    if (r < 0) return r;
    return sd_bus_message_append(m, "ub", static_cast<std::uint32_t>(mode),
                                 static_cast<int>(updating));
  });
  if (!file) return std::nullopt;
  return QorGuestFile(*bridge_, *file);
}

std::optional<QorGuestProcess> QorVirtualMachine::executeAt(
    const std::string& path, const std::vector<std::string>& arguments,
    const std::vector<std::string>& environment, const std::string& input, bool base64Encoding,
    bool outputCapturing) const {
  const auto process = invokeForObject(*bridge_, path_, "Execute", [&](sd_bus_message* m) {
    int r = appendText(m, path);
    if (r >= 0) r = appendTexts(m, arguments);
    if (r >= 0) r = appendTexts(m, environment);
    if (r >= 0) r = appendText(m, input);
    if (r >= 0) {
      r = sd_bus_message_append(m, "bb", static_cast<int>(base64Encoding),
                                static_cast<int>(outputCapturing));
    }
    return r;
  });
  if (!process) return std::nullopt;
  return QorGuestProcess(*bridge_, *process);
}

std::size_t QorVirtualMachine::executeInputCapacity(
    const std::string& path, const std::vector<std::string>& arguments,
    const std::vector<std::string>& environment) const {
  const std::size_t header = methodCallHeaderSize(bridge_->bundleInfo().identifier, path_,
                                                  hostInterface(kInterface), "Execute", "sasassbb");
  MarshalledSize before;
  before.text(path).texts(arguments).texts(environment).align(4);
  // The input's length and NUL around its base64 text, then the two Booleans, which a text of
  // whole base64 quanta leaves three bytes short of their alignment.
  const std::size_t fixed = header + before.bytes() + 4 + 1 + 3 + 8;
  if (fixed >= kLargestMessage) return 0;
  return (kLargestMessage - fixed) / 4 * 3;
}

std::optional<std::vector<std::string>> QorVirtualMachine::queryIp() const {
  std::vector<std::string> addresses;
  if (!bridge_->call(Request::method(path_, kInterface, "QueryIp", "as"),
                     [&](sd_bus_message* reply) { return readTexts(reply, addresses); })) {
    return std::nullopt;
  }
  return addresses;
}

}  // namespace qor::scripting
