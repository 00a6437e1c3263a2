#include "host/core/dispatcher.h"

namespace qor::host {

std::string interfaceOf(PathKind kind) {
  const char* name = nullptr;
  switch (kind) {
    case PathKind::kApplication:
      name = "Application";
      break;
    case PathKind::kMachine:
      name = "VirtualMachine";
      break;
    case PathKind::kSerialPort:
      name = "SerialPort";
      break;
    case PathKind::kGuestFile:
      name = "GuestFile";
      break;
    case PathKind::kGuestProcess:
      name = "GuestProcess";
      break;
    case PathKind::kUsbDevice:
      name = "UsbDevice";
      break;
    case PathKind::kWindow:
      name = "Window";
      break;
    default:
      return {};
  }
  return std::string(kInterfacePrefix) + name;
}

std::span<const Dispatcher::MethodEntry> Dispatcher::methodTable() {
  static const MethodEntry kMethods[] = {
      {PathKind::kApplication, "SetAutoTerminate", "b", "", &Dispatcher::setAutoTerminate},
      {PathKind::kMachine, "Start", "bb", "", &Dispatcher::start},
      {PathKind::kMachine, "Suspend", "b", "", &Dispatcher::suspend},
      {PathKind::kMachine, "Stop", "u", "", &Dispatcher::stop},
      {PathKind::kMachine, "Delete", "", "", &Dispatcher::deleteMachine},
      {PathKind::kMachine, "Duplicate", "a{sv}", "", &Dispatcher::duplicate},
      {PathKind::kMachine, "OpenFile", "sub", "o", &Dispatcher::openFile},
      {PathKind::kMachine, "Execute", "sasassbb", "o", &Dispatcher::execute},
      {PathKind::kMachine, "QueryIp", "", "as", &Dispatcher::queryIp},
      {PathKind::kGuestFile, "Read", "xuxbb", "s", &Dispatcher::readFile},
      {PathKind::kGuestFile, "Write", "sxubb", "", &Dispatcher::writeFile},
      {PathKind::kGuestFile, "Close", "", "", &Dispatcher::closeFile},
      {PathKind::kGuestProcess, "GetResult", "", "a{sv}", &Dispatcher::getResult},
      {PathKind::kUsbDevice, "Connect", "o", "", &Dispatcher::connectDevice},
      {PathKind::kUsbDevice, "Disconnect", "", "", &Dispatcher::disconnectDevice},
      {PathKind::kWindow, "Close", "us", "", &Dispatcher::closeWindow},
  };
  return kMethods;
}

std::span<const Dispatcher::PropertyEntry> Dispatcher::propertyTable() {
  static const PropertyEntry kProperties[] = {
      {PathKind::kApplication, "Name", "s", false},
      {PathKind::kApplication, "Frontmost", "b", false},
      {PathKind::kApplication, "Version", "s", false},
      {PathKind::kApplication, "VirtualMachines", "ao", false},
      {PathKind::kApplication, "UsbDevices", "ao", false},
      {PathKind::kApplication, "Windows", "ao", false},
      {PathKind::kMachine, "Id", "s", false},
      {PathKind::kMachine, "Name", "s", false},
      {PathKind::kMachine, "Backend", "u", false},
      {PathKind::kMachine, "Status", "u", false},
      {PathKind::kMachine, "SerialPorts", "ao", false},
      {PathKind::kSerialPort, "Id", "x", false},
      {PathKind::kSerialPort, "Interface", "u", false},
      {PathKind::kSerialPort, "Address", "s", false},
      {PathKind::kSerialPort, "Port", "x", false},
      {PathKind::kUsbDevice, "Id", "x", false},
      {PathKind::kUsbDevice, "Name", "s", false},
      {PathKind::kUsbDevice, "ManufacturerName", "s", false},
      {PathKind::kUsbDevice, "ProductName", "s", false},
      {PathKind::kUsbDevice, "VendorId", "x", false},
      {PathKind::kUsbDevice, "ProductId", "x", false},
      {PathKind::kWindow, "Name", "s", false},
      {PathKind::kWindow, "Index", "x", true},
      {PathKind::kWindow, "Visible", "b", true},
  };
  return kProperties;
}

const Dispatcher::MethodEntry* Dispatcher::findMethod(PathKind kind, std::string_view member) {
  for (const auto& m : methodTable()) {
    if (m.kind == kind && m.member == member) return &m;
  }
  return nullptr;
}

const Dispatcher::PropertyEntry* Dispatcher::findProperty(PathKind kind, std::string_view name) {
  for (const auto& p : propertyTable()) {
    if (p.kind == kind && p.name == name) return &p;
  }
  return nullptr;
}

}  // namespace qor::host
