#pragma once

// How a failed guest-agent command reads to the client, from libvirt's words: plain functions,
// no state; safe on any thread.

#include <string>
#include <string_view>

#include "host/backend/result.h"

namespace qor::host::libvirt {

// Why an agent command did not give an answer, read from libvirt's message.
enum class AgentFault {
  notConfigured,  // the machine has no agent channel
  notConnected,   // the channel is there, no agent behind it (yet)
  notAnswering,   // the agent is connected but silent, or unusable after an error
  notRunning,     // the machine is paused or stopped
  replyTooLarge,  // the answer does not fit through libvirt
  handleLost,     // the agent does not know a file handle it gave out: it started afresh
  agentError,     // the agent itself refused the command
  other,          // anything else libvirt says (the connection is gone, ...)
};

AgentFault classifyAgentFailure(std::string_view libvirtMessage);

// The agent's own words without libvirt's "unable to execute QEMU agent command 'x': " frame.
std::string agentWords(std::string_view libvirtMessage);

// The failure for a command that failed: the machine-level faults say which, in the same words
// whatever was asked; the agent's own refusals carry `context` ("Cannot open '/x' in the
// guest") in front of its words.
Failure agentFailure(std::string_view libvirtMessage, std::string_view context);

// What a request answers on a file or process that an earlier run of the agent handed out.
Failure staleFile();
Failure staleProcess();

// The agent answered `command` with something that is not that command's reply.
Failure malformedReply(std::string_view command);

}  // namespace qor::host::libvirt
