#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <variant>
#include <vector>

#include "scripting/record.h"
#include "scripting/request.h"
#include "scripting/status_word.h"

namespace qor::scripting {

class EventDelegate;

// Every class is a reference to an object held by the host: each property read and each request
// goes to the host, one D-Bus message each, and nothing is cached. A request that fails is told
// to the application's delegate and yields an empty result (nullopt, or false for requests
// without a result).
class SBObject {
 public:
  SBObject(ScriptingChannel& channel, std::string path)
      : channel_(&channel), path_(std::move(path)) {}
  const std::string& path() const { return path_; }

 protected:
  ScriptingChannel* channel_;
  std::string path_;
};

class QorSerialPort : public SBObject {
 public:
  using SBObject::SBObject;
  std::optional<std::int64_t> id() const;
  std::optional<std::uint32_t> interface() const;
  std::optional<std::string> address() const;
  std::optional<std::int64_t> port() const;
  // The host name of the computer the address is on; "" for the host's own computer, also from
  // a host that does not say.
  std::optional<std::string> server() const;
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
  // executeAt with base64Encoding, the input given as its bytes: they are encoded straight into
  // the request, so a large input is not also held as a text of its own.
  std::optional<QorGuestProcess> executeWithInputBytes(const std::string& path,
                                                       const std::vector<std::string>& arguments,
                                                       const std::vector<std::string>& environment,
                                                       std::string_view input,
                                                       bool outputCapturing) const;
  std::optional<std::vector<std::string>> queryIp() const;
  // Whether the condition holds; the host holds the request until it does or the milliseconds
  // (at most contract::kWaitForLongestHoldMs) have passed.
  std::optional<bool> waitFor(QorWaitCondition condition, std::int64_t milliseconds) const;

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
  // The URI of the connection the device is plugged into; "" when the host has only one (or
  // does not say).
  std::optional<std::string> connection() const;
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
  VirtualMachineList(ScriptingChannel& channel, std::vector<QorVirtualMachine> elements)
      : channel_(&channel), elements_(std::move(elements)) {}
  const std::vector<QorVirtualMachine>& elements() const { return elements_; }
  QorVirtualMachine objectWithID(const std::string& id) const;
  QorVirtualMachine objectWithName(const std::string& name) const;

 private:
  ScriptingChannel* channel_;
  std::vector<QorVirtualMachine> elements_;
};

class QorApplication {
 public:
  // The application object over a channel to the host: the bridge the run sequence makes for a
  // bundle (applicationForBundle in api_command.h), or a fake in tests. Sends nothing.
  static std::unique_ptr<QorApplication> withChannel(std::unique_ptr<ScriptingChannel> channel);
  ~QorApplication();

  void setLaunchFlags(std::uint32_t flags);
  void setDelegate(EventDelegate* delegate);
  EventDelegate* delegate() const;
  bool setAutoTerminate(bool enabled);

  std::optional<std::vector<QorWindow>> windows();
  std::optional<VirtualMachineList> virtualMachines();
  std::optional<std::vector<QorUsbDevice>> usbDevices();
  // The URIs of the connections whose machines virtualMachines() left out: they cannot be
  // reached now.
  std::optional<std::vector<std::string>> unreachableConnections();

  ScriptingChannel& channel() { return *channel_; }

 private:
  explicit QorApplication(std::unique_ptr<ScriptingChannel> channel);
  std::unique_ptr<ScriptingChannel> channel_;
};

}  // namespace qor::scripting
