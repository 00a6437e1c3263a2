#pragma once

#include <optional>
#include <string>

#include "host/backend/backend.h"
#include "host/libvirt/agent_jobs.h"
#include "host/libvirt/agent_restart_events.h"
#include "host/libvirt/connection.h"
#include "host/libvirt/domains.h"
#include "host/libvirt/guest_agent.h"
#include "host/libvirt/lanes.h"
#include "host/libvirt/libvirt_agent_transport.h"
#include "host/libvirt/libvirt_guest_files.h"
#include "host/libvirt/libvirt_guest_processes.h"
#include "host/libvirt/libvirt_machines.h"
#include "host/libvirt/libvirt_network.h"
#include "host/libvirt/libvirt_readiness.h"
#include "host/libvirt/libvirt_serial_ports.h"
#include "host/libvirt/libvirt_usb_devices.h"
#include "host/libvirt/watcher.h"

namespace qor::host::libvirt {

// The machines of a libvirt connection: owns the lanes, the watcher, the actions' connection,
// the guest agent and one object per concern it has (machines, serial ports, guest files and
// programs, network, USB); it has no windows and nothing to persist. Reads answer from the
// watcher's looks; every request that calls libvirt runs on a lane (a machine's lifecycle, a
// machine's agent) and completes on the loop, so the loop itself never calls libvirt.
//
// Built, used and destroyed on the loop's thread. Its destructor ends the lanes' threads before
// anything they use goes; requests still under way are answered that the host gave up.
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
  Lanes lanes_;
  Connection actions_;
  Watcher watcher_;
  Domains domains_;
  LibvirtAgentTransport agentTransport_;
  GuestAgent guestAgent_;
  AgentJobs agentJobs_;
  LibvirtMachines machines_{domains_};
  LibvirtSerialPorts serialPorts_;
  LibvirtUsbDevices usb_{domains_, actions_};
  LibvirtGuestFiles files_{agentJobs_};
  LibvirtGuestProcesses processes_;
  LibvirtNetwork network_{agentJobs_};
  LibvirtReadiness readiness_{agentJobs_};
  // Last: its events reach the agent above, so it goes first.
  AgentRestartEvents restarts_;
};

}  // namespace qor::host::libvirt
