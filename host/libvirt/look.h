#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "host/backend/objects.h"
#include "host/backend/result.h"
#include "host/libvirt/connection.h"
#include "host/libvirt/domain_xml.h"
#include "host/libvirt/usb_xml.h"

namespace qor::host::libvirt {

// What reads are answered from: libvirt's machines at one moment, read with a few quick calls
// for all machines at once. Taken on any thread but the loop's; the loop only ever reads one.
struct Look {
  struct Row {
    MachineKey key = 0;  // given on the loop; 0 in a look just taken
    std::string uuid;    // in capitals
    std::string name;
    int state = 0;
    int reason = 0;
    bool saved = false;
    int id = -1;  // libvirt's number for a run; -1 while stopped
  };
  // When its first call began: of two looks, the one begun later knows more.
  std::chrono::steady_clock::time_point begun;
  std::vector<Row> rows;  // by name, then UUID
  std::optional<Failure> error;
  std::uint64_t number = 0;    // counts the looks published, so that a reader can tell a new one
  std::vector<UsbDevice> usb;  // the host computer's USB devices, by location
};

// A look through `connection`; a connection found dead is opened again at once, once.
Look takeLook(Connection& connection);

// The host computer's USB devices as libvirt's node devices, by location.
std::vector<UsbDevice> readUsbDevices(virConnectPtr conn);

// A machine's serial ports from its definition (the live one while it runs).
std::optional<std::vector<SerialPort>> readSerialPorts(virConnectPtr conn, const std::string& uuid,
                                                       bool running);

}  // namespace qor::host::libvirt
