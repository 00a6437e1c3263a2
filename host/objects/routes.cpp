#include "host/objects/routes.h"

#include "host/objects/application.h"
#include "host/objects/guest_file.h"
#include "host/objects/guest_process.h"
#include "host/objects/serial_port.h"
#include "host/objects/usb_device.h"
#include "host/objects/virtual_machine.h"
#include "host/objects/window.h"

namespace qor::host::objects {

std::span<const Route> routes() {
  static const Route kRoutes[] = {
      kApplication, kVirtualMachine, kSerialPort, kGuestFile, kGuestProcess, kUsbDevice, kWindow,
  };
  return kRoutes;
}

}  // namespace qor::host::objects
