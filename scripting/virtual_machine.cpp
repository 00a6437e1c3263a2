#include "scripting/object_model.h"
#include "scripting/reply_values.h"

namespace qor::scripting {

namespace {

namespace props = contract::properties;
namespace calls = contract::methods;
using contract::Value;

// A method whose answer is an object path; "/" is the host's "no object", which is empty but
// not a failure.
std::optional<std::string> invokeForObject(ScriptingChannel& channel, const std::string& path,
                                           const contract::Method& method,
                                           std::vector<Value> arguments) {
  auto result = invokeForResult(channel, path, method, std::move(arguments), replyText);
  if (!result || *result == "/") return std::nullopt;
  return result;
}

}  // namespace

std::optional<std::string> QorVirtualMachine::id() const {
  return readProperty(*channel_, path_, props::kMachineId, replyText);
}

std::optional<std::string> QorVirtualMachine::name() const {
  return readProperty(*channel_, path_, props::kMachineName, replyText);
}

std::optional<std::uint32_t> QorVirtualMachine::status() const {
  return readProperty(*channel_, path_, props::kStatus, replyCode);
}

std::optional<std::vector<QorSerialPort>> QorVirtualMachine::serialPorts() const {
  const auto paths = readProperty(*channel_, path_, props::kSerialPorts, replyTexts);
  if (!paths) return std::nullopt;
  std::vector<QorSerialPort> ports;
  for (const auto& port : *paths) ports.emplace_back(*channel_, port);
  return ports;
}

bool QorVirtualMachine::startSaving(bool saving, bool recovery) const {
  return invoke(*channel_, path_, calls::kStart,
                {Value::boolean(saving), Value::boolean(recovery)});
}

bool QorVirtualMachine::suspendSaving(bool saving) const {
  return invoke(*channel_, path_, calls::kSuspend, {Value::boolean(saving)});
}

bool QorVirtualMachine::stopBy(QorStopMethod method) const {
  return invoke(*channel_, path_, calls::kStop, {Value::uint32(contract::code(method))});
}

bool QorVirtualMachine::deleteMachine() const {
  return invoke(*channel_, path_, calls::kDelete);
}

bool QorVirtualMachine::duplicateWithProperties(const Record& properties) const {
  auto record = valueOfRecord(properties);
  // A record that cannot be carried goes out as nothing: the channel refuses the request as one
  // that does not match the method, so the failure is reported like any other.
  std::vector<Value> arguments;
  if (record) arguments.push_back(std::move(*record));
  return invoke(*channel_, path_, calls::kDuplicate, std::move(arguments));
}

std::optional<QorGuestFile> QorVirtualMachine::openFileAt(const std::string& path, QorOpenMode mode,
                                                          bool updating) const {
  const auto file = invokeForObject(
      *channel_, path_, calls::kOpenFile,
      {Value::string(path), Value::uint32(contract::code(mode)), Value::boolean(updating)});
  if (!file) return std::nullopt;
  return QorGuestFile(*channel_, *file);
}

std::optional<QorGuestProcess> QorVirtualMachine::executeAt(
    const std::string& path, const std::vector<std::string>& arguments,
    const std::vector<std::string>& environment, const std::string& input, bool base64Encoding,
    bool outputCapturing) const {
  const auto process = invokeForObject(
      *channel_, path_, calls::kExecute,
      {Value::string(path), Value::stringArray(arguments), Value::stringArray(environment),
       Value::string(input), Value::boolean(base64Encoding), Value::boolean(outputCapturing)});
  if (!process) return std::nullopt;
  return QorGuestProcess(*channel_, *process);
}

std::optional<QorGuestProcess> QorVirtualMachine::executeWithInputBytes(
    const std::string& path, const std::vector<std::string>& arguments,
    const std::vector<std::string>& environment, std::string_view input,
    bool outputCapturing) const {
  constexpr std::size_t kInput = 3;  // the input's place among Execute's arguments
  Request request = Request::method(
      path_, calls::kExecute,
      {Value::string(path), Value::stringArray(arguments), Value::stringArray(environment),
       Value::string(""), Value::boolean(true), Value::boolean(outputCapturing)});
  request.base64Index = kInput;
  request.base64Bytes = input;
  const auto values = channel_->call(request);
  if (!values || values->size() != 1) return std::nullopt;
  const auto process = replyText(values->front());
  // "/" is the host's "no object": empty, not a failure.
  if (!process || *process == "/") return std::nullopt;
  return QorGuestProcess(*channel_, *process);
}

std::size_t QorVirtualMachine::executeInputCapacity(
    const std::string& path, const std::vector<std::string>& arguments,
    const std::vector<std::string>& environment) const {
  constexpr std::size_t kInput = 3;  // the input's place among Execute's arguments
  const Request request = Request::method(
      path_, calls::kExecute,
      {Value::string(path), Value::stringArray(arguments), Value::stringArray(environment),
       Value::string(""), Value::boolean(true), Value::boolean(true)});
  // The input travels as base64: four characters for every three bytes.
  return channel_->textCapacity(request, kInput) / 4 * 3;
}

std::optional<std::vector<std::string>> QorVirtualMachine::queryIp() const {
  return invokeForResult(*channel_, path_, calls::kQueryIp, {}, replyTexts);
}

std::optional<bool> QorVirtualMachine::waitFor(QorWaitCondition condition,
                                               std::int64_t milliseconds) const {
  return invokeForResult(*channel_, path_, calls::kWaitFor,
                         {Value::uint32(contract::code(condition)), Value::int64(milliseconds)},
                         replyBoolean);
}

}  // namespace qor::scripting
