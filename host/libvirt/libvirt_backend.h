#pragma once

#include <optional>
#include <string>

#include "host/backend/backend.h"
#include "host/libvirt/agent_jobs.h"
#include "host/libvirt/connection.h"
#include "host/libvirt/domains.h"
#include "host/libvirt/guest_agent.h"
#include "host/libvirt/libvirt_agent_transport.h"
#include "host/libvirt/libvirt_guest_files.h"
#include "host/libvirt/libvirt_guest_processes.h"
#include "host/libvirt/libvirt_machines.h"
#include "host/libvirt/libvirt_network.h"
#include "host/libvirt/libvirt_readiness.h"
#include "host/libvirt/libvirt_serial_ports.h"
#include "host/libvirt/libvirt_usb_devices.h"
#include "host/libvirt/worker.h"

namespace qor::host::libvirt {

// The machines of a libvirt connection: owns the worker, the worker's connection, the guest
// agent and one object per concern it has (machines, serial ports, guest files and programs,
// network, USB); it has no windows and nothing to persist. Reads answer from the look Domains
// keeps; every request that may take a while runs on the worker's threads and completes on the
// loop.
//
// Built, used and destroyed on the loop's thread. Its destructor ends the worker's threads
// before anything they use goes; requests still under way are answered that the host gave up.
class LibvirtBackend : public Backend {
 public:
  // nullopt: libvirt's default URI. `loop` must be safe to post to from other threads, and
  // outlive the backend.
  LibvirtBackend(Loop& loop, std::optional<std::string> uri);
  ~LibvirtBackend() override;
  LibvirtBackend(const LibvirtBackend&) = delete;
  LibvirtBackend& operator=(const LibvirtBackend&) = delete;

  Backends concerns() override;

 private:
  Worker worker_{4};
  Connection workerConnection_;
  Domains domains_;
  LibvirtAgentTransport agentTransport_{workerConnection_};
  GuestAgent guestAgent_;
  AgentJobs agentJobs_;
  LibvirtMachines machines_{domains_};
  LibvirtSerialPorts serialPorts_{domains_};
  LibvirtUsbDevices usb_{domains_, workerConnection_};
  LibvirtGuestFiles files_{agentJobs_};
  LibvirtGuestProcesses processes_;
  LibvirtNetwork network_{agentJobs_};
  LibvirtReadiness readiness_{agentJobs_};
};

}  // namespace qor::host::libvirt
