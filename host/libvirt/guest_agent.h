#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "host/backend/objects.h"
#include "host/backend/result.h"
#include "host/libvirt/agent_transport.h"
#include "host/libvirt/guest_agent_channel.h"
#include "host/libvirt/guest_agent_files.h"
#include "host/libvirt/guest_agent_network.h"
#include "host/libvirt/guest_agent_programs.h"

namespace qor::host::libvirt {

// Guest files, programs and addresses of libvirt machines through the QEMU guest agent, in
// plain values: the one face of the agent's parts (AgentFiles, AgentPrograms, AgentNetwork over
// one AgentChannel), which own the handles they hand out and what they keep of each.
//
// Requests block on the agent (up to the timeout), so they run on worker threads, never on the
// host's loop, several at once (one file's requests wait for each other); the lists, age and
// agentRestarted answer at once from any thread.
class GuestAgent {
 public:
  // `lookup`: the backend's way to the addresses libvirt knows without the agent (leases, ARP).
  explicit GuestAgent(AgentTransport& transport, AddressLookup lookup = {},
                      int timeoutSeconds = 10);
  GuestAgent(const GuestAgent&) = delete;
  GuestAgent& operator=(const GuestAgent&) = delete;

  Result<GuestHandle> open(const std::string& domainUuid, const std::string& path,
                           std::uint32_t mode, bool updating) {
    return files_.open(domainUuid, path, mode, updating);
  }
  Result<std::string> read(const std::string& domainUuid, GuestHandle file, std::int64_t offset,
                           std::uint32_t whence, std::int64_t length, bool base64, bool closing) {
    return files_.read(domainUuid, file, offset, whence, length, base64, closing);
  }
  Result<Done> write(const std::string& domainUuid, GuestHandle file, const std::string& data,
                     std::int64_t offset, std::uint32_t whence, bool base64, bool closing) {
    return files_.write(domainUuid, file, data, offset, whence, base64, closing);
  }
  Result<Done> close(const std::string& domainUuid, GuestHandle file) {
    return files_.close(domainUuid, file);
  }

  Result<GuestHandle> execute(const std::string& domainUuid, const std::string& program,
                              const std::vector<std::string>& arguments,
                              const std::vector<std::string>& environment, const std::string& input,
                              bool base64, bool capture) {
    return programs_.execute(domainUuid, program, arguments, environment, input, base64, capture);
  }
  Result<ProcessState> status(const std::string& domainUuid, GuestHandle process) {
    return programs_.status(domainUuid, process);
  }
  std::optional<std::chrono::steady_clock::duration> age(GuestHandle process) {
    return programs_.age(process);
  }

  Result<bool> ping(const std::string& domainUuid) { return channel_.ping(domainUuid); }

  Result<std::vector<std::string>> addresses(const std::string& domainUuid) {
    return network_.addresses(domainUuid);
  }

  std::vector<GuestHandle> files(const std::string& domainUuid) { return files_.files(domainUuid); }
  std::vector<GuestHandle> processes(const std::string& domainUuid) {
    return programs_.processes(domainUuid);
  }
  // The client that opened the handle has gone: the file is closed in the guest (what it had
  // written goes out first), the process is forgotten (its program goes on). No answer.
  void releaseFile(GuestHandle file) { files_.release(file); }
  void releaseProcess(GuestHandle process) { programs_.release(process); }
  // The machine's agent started afresh (a new run of the machine, a guest reboot, the agent
  // reconnected): everything opened through the old one is stale, and its requests answer so.
  // Asks nothing and waits for nothing, so the loop may call it.
  void agentRestarted(const std::string& domainUuid) { channel_.restarted(domainUuid); }
  // The machine stopped: its agent and everything opened through it are gone, and no longer
  // listed. Asks nothing and waits for nothing, so the loop may call it.
  void machineStopped(const std::string& domainUuid);

 private:
  AgentChannel channel_;
  AgentFiles files_{channel_};
  AgentPrograms programs_{channel_};
  AgentNetwork network_;
};

}  // namespace qor::host::libvirt
