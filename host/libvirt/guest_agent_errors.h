#pragma once

#include <string>
#include <string_view>

namespace qor::host::libvirt {

// A guest request that failed, as the bus side answers it: an error name of the contract and
// a message written for the user.
struct GuestError {
  std::string_view name;
  std::string message;
};

GuestError guestInvalidArgs(std::string message);
GuestError guestInvalidState(std::string message);
GuestError guestFailed(std::string message);
GuestError guestUnknownObject(std::string message);

// Why an agent command did not give an answer, read from libvirt's message.
enum class AgentFault {
  notConfigured,  // the machine has no agent channel
  notConnected,   // the channel is there, no agent behind it (yet)
  notAnswering,   // the agent is connected but silent, or unusable after an error
  notRunning,     // the machine is paused or stopped
  replyTooLarge,  // the answer does not fit through libvirt
  agentError,     // the agent itself refused the command
  other,          // anything else libvirt says (the connection is gone, ...)
};

AgentFault classifyAgentFailure(std::string_view libvirtMessage);

// The agent's own words without libvirt's "unable to execute QEMU agent command 'x': " frame.
std::string agentWords(std::string_view libvirtMessage);

// The reply for a command that failed: the machine-level faults say which, in the same words
// whatever was asked; the agent's own refusals carry `context` ("Cannot open '/x' in the
// guest") in front of its words.
GuestError agentFailure(std::string_view libvirtMessage, std::string_view context);

}  // namespace qor::host::libvirt
