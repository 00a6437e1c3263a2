#pragma once

#include <functional>
#include <memory>

#include "host/backend/event_loop.h"
#include "host/backend/guest_files.h"
#include "host/backend/guest_processes.h"
#include "host/backend/guest_readiness.h"
#include "host/backend/json.h"
#include "host/backend/machines.h"
#include "host/backend/network.h"
#include "host/backend/persistence.h"
#include "host/backend/serial_ports.h"
#include "host/backend/usb_devices.h"
#include "host/backend/windows.h"

namespace qor::host {

// The concerns a backend has, one interface each; null where it has none of that kind. The
// bus side answers for an absent concern: its lists are empty and a request to it fails as not
// supported, so a backend implements what it has and stubs nothing.
struct Backends {
  Machines* machines = nullptr;  // always there
  SerialPorts* serialPorts = nullptr;
  GuestFiles* files = nullptr;
  GuestProcesses* processes = nullptr;
  GuestReadiness* readiness = nullptr;
  Network* network = nullptr;
  UsbDevices* usb = nullptr;
  Windows* windows = nullptr;
  Persistence* persistence = nullptr;
};

// Where the host's machines live: the simulated world, or a real VM manager. It owns the
// objects behind its concerns for as long as it lives.
class Backend {
 public:
  virtual ~Backend() = default;
  virtual Backends concerns() = 0;
};

// What a backend brings to the bus side: itself, and the fault switches its state names, to be
// put in front of it.
struct BackendSetup {
  std::unique_ptr<Backend> backend;
  Json faults = Json::array();
};

// Builds the backend on the host's loop; a failure when it cannot (a world file that cannot be
// read, say), and the host then exits with status 1.
using BackendFactory = std::function<Result<BackendSetup>(EventLoop& loop)>;

}  // namespace qor::host
