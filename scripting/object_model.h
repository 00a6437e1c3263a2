#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <variant>
#include <vector>

#include "scripting/four_char_code.h"

namespace qor::scripting {

class Bridge;
class EventDelegate;

// A value in a record (a{sv}). Values of other D-Bus types than these read as `Other`.
// A record's entries are a struct of their own rather than std::pair: clang cannot instantiate
// std::pair<std::string, RecordValue> while the variant holding the record is being defined.
struct RecordEntry;
using Record = std::vector<RecordEntry>;
struct RecordValue {
  struct Other {};
  std::variant<Other, bool, std::int64_t, std::string, Record> value;

  const bool* boolean() const;
  const std::int64_t* integer() const;
  const std::string* text() const;
};
struct RecordEntry {
  std::string first;  // the key
  RecordValue second;
};
inline const bool* RecordValue::boolean() const {
  return std::get_if<bool>(&value);
}
inline const std::int64_t* RecordValue::integer() const {
  return std::get_if<std::int64_t>(&value);
}
inline const std::string* RecordValue::text() const {
  return std::get_if<std::string>(&value);
}
const RecordValue* find(const Record& record, std::string_view key);

// Every class is a reference to an object held by the host: each property read and each request
// goes to the host, one D-Bus message each, and nothing is cached. A request that fails is told
// to the application's delegate and yields an empty result (nullopt, or false for requests
// without a result).
class SBObject {
 public:
  SBObject(Bridge& bridge, std::string path) : bridge_(&bridge), path_(std::move(path)) {}
  const std::string& path() const { return path_; }

 protected:
  Bridge* bridge_;
  std::string path_;
};

class QorSerialPort : public SBObject {
 public:
  using SBObject::SBObject;
  std::optional<std::int64_t> id() const;
  std::optional<std::uint32_t> interface() const;
  std::optional<std::string> address() const;
  std::optional<std::int64_t> port() const;
};

class QorGuestFile : public SBObject {
 public:
  using SBObject::SBObject;
  std::optional<std::string> readAtOffset(std::int64_t offset, QorWhence whence,
                                          std::int64_t length, bool base64Encoding,
                                          bool closing) const;
  bool writeWithData(const std::string& data, std::int64_t offset, QorWhence whence,
                     bool base64Encoding, bool closing) const;
  bool close() const;
};

class QorGuestProcess : public SBObject {
 public:
  using SBObject::SBObject;
  std::optional<Record> getResult() const;
};

class QorVirtualMachine : public SBObject {
 public:
  using SBObject::SBObject;
  std::optional<std::string> id() const;
  std::optional<std::string> name() const;
  std::optional<std::uint32_t> status() const;
  std::optional<std::vector<QorSerialPort>> serialPorts() const;

  bool startSaving(bool saving, bool recovery) const;
  bool suspendSaving(bool saving) const;
  bool stopBy(QorStopMethod method) const;
  bool deleteMachine() const;  // the generic `delete` request
  bool duplicateWithProperties(const Record& properties) const;

  std::optional<QorGuestFile> openFileAt(const std::string& path, QorOpenMode mode,
                                         bool updating) const;
  std::optional<QorGuestProcess> executeAt(const std::string& path,
                                           const std::vector<std::string>& arguments,
                                           const std::vector<std::string>& environment,
                                           const std::string& input, bool base64Encoding,
                                           bool outputCapturing) const;
  std::optional<std::vector<std::string>> queryIp() const;

  // The most input bytes an `executeAt` with these values can carry: the whole request, with
  // the input as base64, must fit in one message of the bus.
  std::size_t executeInputCapacity(const std::string& path,
                                   const std::vector<std::string>& arguments,
                                   const std::vector<std::string>& environment) const;
};

class QorUsbDevice : public SBObject {
 public:
  using SBObject::SBObject;
  std::optional<std::int64_t> id() const;
  std::optional<std::string> name() const;
  std::optional<std::int64_t> vendorId() const;
  std::optional<std::int64_t> productId() const;
  bool connectTo(const QorVirtualMachine& machine) const;
  bool disconnect() const;
};

class QorWindow : public SBObject {
 public:
  using SBObject::SBObject;
  std::optional<std::string> name() const;
  bool closeSaving(QorSaveOptions saving, const std::optional<std::filesystem::path>& file) const;
};

// The element list of virtual machines, read whole; it can also name a single element by id or
// by name, building the reference without sending anything.
class VirtualMachineList {
 public:
  VirtualMachineList(Bridge& bridge, std::vector<QorVirtualMachine> elements)
      : bridge_(&bridge), elements_(std::move(elements)) {}
  const std::vector<QorVirtualMachine>& elements() const { return elements_; }
  QorVirtualMachine objectWithID(const std::string& id) const;
  QorVirtualMachine objectWithName(const std::string& name) const;

 private:
  Bridge* bridge_;
  std::vector<QorVirtualMachine> elements_;
};

class QorApplication {
 public:
  // The application object for a bundle; nullptr when no application can be addressed there
  // (no folder, no readable Contents/Info.plist, no valid CFBundleIdentifier). Sends nothing.
  static std::unique_ptr<QorApplication> initWithURL(const std::filesystem::path& bundle);
  ~QorApplication();

  void setLaunchFlags(std::uint32_t flags);
  void setDelegate(EventDelegate* delegate);
  EventDelegate* delegate() const;
  bool setAutoTerminate(bool enabled);

  std::optional<std::vector<QorWindow>> windows();
  std::optional<VirtualMachineList> virtualMachines();
  std::optional<std::vector<QorUsbDevice>> usbDevices();

  Bridge& bridge() { return *bridge_; }

 private:
  explicit QorApplication(std::unique_ptr<Bridge> bridge);
  std::unique_ptr<Bridge> bridge_;
};

}  // namespace qor::scripting
