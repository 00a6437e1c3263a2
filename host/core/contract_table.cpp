#include <algorithm>

#include "host/core/dispatcher.h"

namespace qor::host {

std::optional<contract::ObjectClass> classOf(PathKind kind) {
  using contract::ObjectClass;
  switch (kind) {
    case PathKind::kApplication:
      return ObjectClass::application;
    case PathKind::kMachine:
      return ObjectClass::virtualMachine;
    case PathKind::kSerialPort:
      return ObjectClass::serialPort;
    case PathKind::kGuestFile:
      return ObjectClass::guestFile;
    case PathKind::kGuestProcess:
      return ObjectClass::guestProcess;
    case PathKind::kUsbDevice:
      return ObjectClass::usbDevice;
    case PathKind::kWindow:
      return ObjectClass::window;
    default:
      return std::nullopt;
  }
}

std::string interfaceOf(PathKind kind) {
  const auto objectClass = classOf(kind);
  return objectClass ? contract::interfaceName(contract::shortName(*objectClass)) : std::string();
}

// One handler for each method of the contract; the contract gives names and signatures.
std::span<const Dispatcher::MethodEntry> Dispatcher::methodTable() {
  namespace m = contract::methods;
  static const MethodEntry kMethods[] = {
      {&m::kSetAutoTerminate, &Dispatcher::setAutoTerminate},
      {&m::kStart, &Dispatcher::start},
      {&m::kSuspend, &Dispatcher::suspend},
      {&m::kStop, &Dispatcher::stop},
      {&m::kDelete, &Dispatcher::deleteMachine},
      {&m::kDuplicate, &Dispatcher::duplicate},
      {&m::kOpenFile, &Dispatcher::openFile},
      {&m::kExecute, &Dispatcher::execute},
      {&m::kQueryIp, &Dispatcher::queryIp},
      {&m::kWaitFor, &Dispatcher::waitFor},
      {&m::kRead, &Dispatcher::readFile},
      {&m::kWrite, &Dispatcher::writeFile},
      {&m::kCloseFile, &Dispatcher::closeFile},
      {&m::kGetResult, &Dispatcher::getResult},
      {&m::kConnect, &Dispatcher::connectDevice},
      {&m::kDisconnect, &Dispatcher::disconnectDevice},
      {&m::kCloseWindow, &Dispatcher::closeWindow},
  };
  return kMethods;
}

bool Dispatcher::handles(const contract::Method& method) {
  const auto table = methodTable();
  return std::any_of(table.begin(), table.end(),
                     [&](const MethodEntry& e) { return e.declared == &method; });
}

const Dispatcher::MethodEntry* Dispatcher::findMethod(PathKind kind, std::string_view member) {
  const auto objectClass = classOf(kind);
  const auto* declared = objectClass ? contract::findMethod(*objectClass, member) : nullptr;
  for (const auto& entry : methodTable()) {
    if (declared && entry.declared == declared) return &entry;
  }
  return nullptr;
}

const contract::Property* Dispatcher::findProperty(PathKind kind, std::string_view name) {
  const auto objectClass = classOf(kind);
  return objectClass ? contract::findProperty(*objectClass, name) : nullptr;
}

std::vector<const contract::Property*> Dispatcher::propertiesOf(PathKind kind) {
  std::vector<const contract::Property*> out;
  const auto objectClass = classOf(kind);
  for (const auto* p : contract::allProperties()) {
    if (objectClass && p->objectClass == *objectClass) out.push_back(p);
  }
  return out;
}

}  // namespace qor::host
