#include "scripting/object_model.h"

#include "contract/object_path.h"
#include "contract/vocabulary.h"
#include "scripting/reply_values.h"

namespace qor::scripting {

namespace {

namespace props = contract::properties;
namespace calls = contract::methods;
using contract::Value;

template <typename Object>
std::optional<std::vector<Object>> elements(ScriptingChannel& channel, const std::string& path,
                                            const contract::Property& property) {
  const auto paths = readProperty(channel, path, property, replyTexts);
  if (!paths) return std::nullopt;
  std::vector<Object> objects;
  objects.reserve(paths->size());
  for (const auto& element : *paths) objects.emplace_back(channel, element);
  return objects;
}

const std::string& rootPath() {
  static const std::string root(contract::kRootPath);
  return root;
}

}  // namespace

// Serial port

std::optional<std::int64_t> QorSerialPort::id() const {
  return readProperty(*channel_, path_, props::kPortId, replyInteger);
}

std::optional<std::uint32_t> QorSerialPort::interface() const {
  return readProperty(*channel_, path_, props::kPortInterface, replyCode);
}

std::optional<std::string> QorSerialPort::address() const {
  return readProperty(*channel_, path_, props::kPortAddress, replyText);
}

std::optional<std::int64_t> QorSerialPort::port() const {
  return readProperty(*channel_, path_, props::kPortNumber, replyInteger);
}

std::optional<std::string> QorSerialPort::server() const {
  return readOptionalText(*channel_, path_, props::kPortServer);
}

// Guest file

std::optional<std::string> QorGuestFile::readAtOffset(std::int64_t offset, QorWhence whence,
                                                      std::int64_t length, bool base64Encoding,
                                                      bool closing) const {
  return invokeForResult(
      *channel_, path_, calls::kRead,
      {Value::int64(offset), Value::uint32(contract::code(whence)), Value::int64(length),
       Value::boolean(base64Encoding), Value::boolean(closing)},
      replyText);
}

bool QorGuestFile::writeWithData(const std::string& data, std::int64_t offset, QorWhence whence,
                                 bool base64Encoding, bool closing) const {
  return invoke(*channel_, path_, calls::kWrite,
                {Value::string(data), Value::int64(offset), Value::uint32(contract::code(whence)),
                 Value::boolean(base64Encoding), Value::boolean(closing)});
}

bool QorGuestFile::close() const {
  return invoke(*channel_, path_, calls::kCloseFile);
}

// Guest process

std::optional<Record> QorGuestProcess::getResult() const {
  return invokeForResult(*channel_, path_, calls::kGetResult, {}, recordOf);
}

// USB device

std::optional<std::int64_t> QorUsbDevice::id() const {
  return readProperty(*channel_, path_, props::kDeviceId, replyInteger);
}

std::optional<std::string> QorUsbDevice::name() const {
  return readProperty(*channel_, path_, props::kDeviceName, replyText);
}

std::optional<std::int64_t> QorUsbDevice::vendorId() const {
  return readProperty(*channel_, path_, props::kVendorId, replyInteger);
}

std::optional<std::int64_t> QorUsbDevice::productId() const {
  return readProperty(*channel_, path_, props::kProductId, replyInteger);
}

std::optional<std::string> QorUsbDevice::connection() const {
  return readOptionalText(*channel_, path_, props::kDeviceConnection);
}

bool QorUsbDevice::connectTo(const QorVirtualMachine& machine) const {
  return invoke(*channel_, path_, calls::kConnect, {Value::objectPath(machine.path())});
}

bool QorUsbDevice::disconnect() const {
  return invoke(*channel_, path_, calls::kDisconnect);
}

// Window

std::optional<std::string> QorWindow::name() const {
  return readProperty(*channel_, path_, props::kWindowName, replyText);
}

bool QorWindow::closeSaving(QorSaveOptions saving,
                            const std::optional<std::filesystem::path>& file) const {
  return invoke(*channel_, path_, calls::kCloseWindow,
                {Value::uint32(contract::code(saving)),
                 Value::string(file ? file->string() : std::string())});
}

// Element list of virtual machines

QorVirtualMachine VirtualMachineList::objectWithID(const std::string& id) const {
  return QorVirtualMachine(*channel_, contract::machinePathWithID(id));
}

QorVirtualMachine VirtualMachineList::objectWithName(const std::string& name) const {
  return QorVirtualMachine(*channel_, contract::machinePathWithName(name));
}

// Application

std::unique_ptr<QorApplication> QorApplication::withChannel(
    std::unique_ptr<ScriptingChannel> channel) {
  return std::unique_ptr<QorApplication>(new QorApplication(std::move(channel)));
}

QorApplication::QorApplication(std::unique_ptr<ScriptingChannel> channel)
    : channel_(std::move(channel)) {}
QorApplication::~QorApplication() = default;

void QorApplication::setLaunchFlags(std::uint32_t flags) {
  channel_->setLaunchFlags(flags);
}
void QorApplication::setDelegate(EventDelegate* delegate) {
  channel_->setDelegate(delegate);
}
EventDelegate* QorApplication::delegate() const {
  return channel_->delegate();
}

bool QorApplication::setAutoTerminate(bool enabled) {
  return invoke(*channel_, rootPath(), calls::kSetAutoTerminate, {Value::boolean(enabled)});
}

std::optional<std::vector<QorWindow>> QorApplication::windows() {
  return elements<QorWindow>(*channel_, rootPath(), props::kWindows);
}

std::optional<VirtualMachineList> QorApplication::virtualMachines() {
  auto machines = elements<QorVirtualMachine>(*channel_, rootPath(), props::kVirtualMachines);
  if (!machines) return std::nullopt;
  return VirtualMachineList(*channel_, std::move(*machines));
}

std::optional<std::vector<QorUsbDevice>> QorApplication::usbDevices() {
  return elements<QorUsbDevice>(*channel_, rootPath(), props::kUsbDevices);
}

std::optional<std::vector<std::string>> QorApplication::unreachableConnections() {
  return readProperty(*channel_, rootPath(), props::kUnreachableConnections, replyTexts);
}

}  // namespace qor::scripting
