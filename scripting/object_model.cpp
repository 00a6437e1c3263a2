#include "scripting/object_model.h"

#include "scripting/bridge.h"
#include "scripting/bus_message.h"
#include "scripting/object_path.h"

namespace qor::scripting {

namespace {

template <typename T>
using Reader = int (*)(sd_bus_message*, T&);

template <typename T>
std::optional<T> readProperty(Bridge& bridge, const std::string& path, const char* interfaceName,
                              const char* name, const char* signature, Reader<T> reader) {
  T value{};
  const bool answered = bridge.call(Request::property(path, interfaceName, name, signature),
                                    [&](sd_bus_message* reply) { return reader(reply, value); });
  if (!answered) return std::nullopt;
  return value;
}

bool invoke(Bridge& bridge, const std::string& path, const char* interfaceName, const char* member,
            ArgumentWriter arguments = {}) {
  return bridge.call(Request::method(path, interfaceName, member, "", std::move(arguments)));
}

template <typename T>
std::optional<T> invokeForResult(Bridge& bridge, const std::string& path, const char* interfaceName,
                                 const char* member, const char* signature, Reader<T> reader,
                                 ArgumentWriter arguments = {}) {
  T value{};
  const bool answered =
      bridge.call(Request::method(path, interfaceName, member, signature, std::move(arguments)),
                  [&](sd_bus_message* reply) { return reader(reply, value); });
  if (!answered) return std::nullopt;
  return value;
}

template <typename Object>
std::optional<std::vector<Object>> elements(Bridge& bridge, const std::string& path,
                                            const char* interfaceName, const char* name) {
  const auto paths = readProperty<std::vector<std::string>>(bridge, path, interfaceName, name, "ao",
                                                            readObjectPaths);
  if (!paths) return std::nullopt;
  std::vector<Object> objects;
  objects.reserve(paths->size());
  for (const auto& element : *paths) objects.emplace_back(bridge, element);
  return objects;
}

}  // namespace

const RecordValue* find(const Record& record, std::string_view key) {
  for (const auto& [entryKey, value] : record) {
    if (entryKey == key) return &value;
  }
  return nullptr;
}

// Serial port

std::optional<std::int64_t> QorSerialPort::id() const {
  return readProperty<std::int64_t>(*bridge_, path_, "SerialPort", "Id", "x", readInteger);
}

std::optional<std::uint32_t> QorSerialPort::interface() const {
  return readProperty<std::uint32_t>(*bridge_, path_, "SerialPort", "Interface", "u", readCode);
}

std::optional<std::string> QorSerialPort::address() const {
  return readProperty<std::string>(*bridge_, path_, "SerialPort", "Address", "s", readText);
}

std::optional<std::int64_t> QorSerialPort::port() const {
  return readProperty<std::int64_t>(*bridge_, path_, "SerialPort", "Port", "x", readInteger);
}

// Guest file

std::optional<std::string> QorGuestFile::readAtOffset(std::int64_t offset, QorWhence whence,
                                                      std::int64_t length, bool base64Encoding,
                                                      bool closing) const {
  return invokeForResult<std::string>(
      *bridge_, path_, "GuestFile", "Read", "s", readText, [=](sd_bus_message* m) {
        return sd_bus_message_append(m, "xuxbb", offset, static_cast<std::uint32_t>(whence), length,
                                     static_cast<int>(base64Encoding), static_cast<int>(closing));
      });
}

bool QorGuestFile::writeWithData(const std::string& data, std::int64_t offset, QorWhence whence,
                                 bool base64Encoding, bool closing) const {
  return invoke(*bridge_, path_, "GuestFile", "Write", [&](sd_bus_message* m) {
    const int r = appendText(m, data);
    if (r < 0) return r;
    return sd_bus_message_append(m, "xubb", offset, static_cast<std::uint32_t>(whence),
                                 static_cast<int>(base64Encoding), static_cast<int>(closing));
  });
}

bool QorGuestFile::close() const {
  return invoke(*bridge_, path_, "GuestFile", "Close");
}

// Guest process

std::optional<Record> QorGuestProcess::getResult() const {
  return invokeForResult<Record>(*bridge_, path_, "GuestProcess", "GetResult", "a{sv}", readRecord);
}

// USB device

std::optional<std::int64_t> QorUsbDevice::id() const {
  return readProperty<std::int64_t>(*bridge_, path_, "UsbDevice", "Id", "x", readInteger);
}

std::optional<std::string> QorUsbDevice::name() const {
  return readProperty<std::string>(*bridge_, path_, "UsbDevice", "Name", "s", readText);
}

std::optional<std::int64_t> QorUsbDevice::vendorId() const {
  return readProperty<std::int64_t>(*bridge_, path_, "UsbDevice", "VendorId", "x", readInteger);
}

std::optional<std::int64_t> QorUsbDevice::productId() const {
  return readProperty<std::int64_t>(*bridge_, path_, "UsbDevice", "ProductId", "x", readInteger);
}

bool QorUsbDevice::connectTo(const QorVirtualMachine& machine) const {
  return invoke(*bridge_, path_, "UsbDevice", "Connect", [&](sd_bus_message* m) {
    return sd_bus_message_append_basic(m, SD_BUS_TYPE_OBJECT_PATH, machine.path().c_str());
  });
}

bool QorUsbDevice::disconnect() const {
  return invoke(*bridge_, path_, "UsbDevice", "Disconnect");
}

// Window

std::optional<std::string> QorWindow::name() const {
  return readProperty<std::string>(*bridge_, path_, "Window", "Name", "s", readText);
}

bool QorWindow::closeSaving(QorSaveOptions saving,
                            const std::optional<std::filesystem::path>& file) const {
  const std::string fileText = file ? file->string() : std::string();
  return invoke(*bridge_, path_, "Window", "Close", [&](sd_bus_message* m) {
    const auto code = static_cast<std::uint32_t>(saving);
    const int r = sd_bus_message_append_basic(m, SD_BUS_TYPE_UINT32, &code);
    if (r < 0) return r;
    return appendText(m, fileText);
  });
}

// Element list of virtual machines

QorVirtualMachine VirtualMachineList::objectWithID(const std::string& id) const {
  return QorVirtualMachine(*bridge_, machinePathWithID(id));
}

QorVirtualMachine VirtualMachineList::objectWithName(const std::string& name) const {
  return QorVirtualMachine(*bridge_, machinePathWithName(name));
}

// Application

std::unique_ptr<QorApplication> QorApplication::initWithURL(const std::filesystem::path& bundle) {
  auto info = readBundleInfo(bundle);
  if (!info) return nullptr;
  return std::unique_ptr<QorApplication>(
      new QorApplication(std::make_unique<Bridge>(std::move(*info))));
}

QorApplication::QorApplication(std::unique_ptr<Bridge> bridge) : bridge_(std::move(bridge)) {}
QorApplication::~QorApplication() = default;

void QorApplication::setLaunchFlags(std::uint32_t flags) {
  bridge_->setLaunchFlags(flags);
}
void QorApplication::setDelegate(EventDelegate* delegate) {
  bridge_->setDelegate(delegate);
}
EventDelegate* QorApplication::delegate() const {
  return bridge_->delegate();
}

bool QorApplication::setAutoTerminate(bool enabled) {
  const std::string root(kRootPath);
  return invoke(*bridge_, root, "Application", "SetAutoTerminate", [=](sd_bus_message* m) {
    return sd_bus_message_append(m, "b", static_cast<int>(enabled));
  });
}

std::optional<std::vector<QorWindow>> QorApplication::windows() {
  return elements<QorWindow>(*bridge_, std::string(kRootPath), "Application", "Windows");
}

std::optional<VirtualMachineList> QorApplication::virtualMachines() {
  auto machines = elements<QorVirtualMachine>(*bridge_, std::string(kRootPath), "Application",
                                              "VirtualMachines");
  if (!machines) return std::nullopt;
  return VirtualMachineList(*bridge_, std::move(*machines));
}

std::optional<std::vector<QorUsbDevice>> QorApplication::usbDevices() {
  return elements<QorUsbDevice>(*bridge_, std::string(kRootPath), "Application", "UsbDevices");
}

}  // namespace qor::scripting
