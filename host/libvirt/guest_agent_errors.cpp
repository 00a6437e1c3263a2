#include "host/libvirt/guest_agent_errors.h"

#include <array>
#include <utility>

namespace qor::host::libvirt {
namespace {

bool contains(std::string_view text, std::string_view part) {
  return text.find(part) != std::string_view::npos;
}

// libvirt's wording (libvirt 9); a message none of them matches keeps its own words.
struct Pattern {
  std::string_view text;
  AgentFault fault;
};
constexpr std::array kPatterns{
    Pattern{"guest agent is not configured", AgentFault::notConfigured},
    Pattern{"guest agent is not connected", AgentFault::notConnected},
    Pattern{"Cannot connect to QEMU guest agent", AgentFault::notConnected},
    Pattern{"domain is not running", AgentFault::notRunning},
    Pattern{"Unable to encode message payload", AgentFault::replyTooLarge},
    Pattern{"No complete agent response found", AgentFault::replyTooLarge},
    Pattern{"Guest agent not available for now", AgentFault::notAnswering},
    Pattern{"Guest agent is not responding", AgentFault::notAnswering},
    Pattern{"not available due to an error", AgentFault::notAnswering},
    Pattern{"Guest agent disappeared", AgentFault::notAnswering},
    Pattern{"while connecting to the guest agent", AgentFault::notAnswering},
    // qemu-ga's words for a file handle it does not have.
    Pattern{"' has not been found", AgentFault::handleLost},
    Pattern{"unable to execute QEMU agent command", AgentFault::agentError},
};

std::string sentence(std::string text) {
  while (!text.empty() && (text.back() == ' ' || text.back() == '\n')) text.pop_back();
  if (!text.empty() && text.back() != '.') text += '.';
  return text;
}

}  // namespace

AgentFault classifyAgentFailure(std::string_view libvirtMessage) {
  for (const auto& p : kPatterns) {
    if (contains(libvirtMessage, p.text)) return p.fault;
  }
  return AgentFault::other;
}

std::string agentWords(std::string_view libvirtMessage) {
  constexpr std::string_view frame = "unable to execute QEMU agent command '";
  const auto at = libvirtMessage.find(frame);
  if (at == std::string_view::npos) return std::string(libvirtMessage);
  const auto end = libvirtMessage.find("': ", at + frame.size());
  if (end == std::string_view::npos) return std::string(libvirtMessage);
  return std::string(libvirtMessage.substr(end + 3));
}

Failure agentFailure(std::string_view libvirtMessage, std::string_view context) {
  const std::string said(libvirtMessage);
  switch (classifyAgentFailure(libvirtMessage)) {
    case AgentFault::notConfigured:
      return invalidState(
          "The virtual machine has no guest agent: its definition has no "
          "org.qemu.guest_agent.0 channel.");
    case AgentFault::notConnected:
      return invalidState(
          "The guest agent is not running in the guest (it has not connected; the guest may "
          "still be starting, or has no qemu-guest-agent).");
    case AgentFault::notAnswering:
      return failed("The guest agent does not answer: " + sentence(said));
    case AgentFault::notRunning:
      return invalidState(
          "The virtual machine is not running (it is paused or stopped), so its guest agent "
          "cannot answer.");
    case AgentFault::replyTooLarge:
      return failed("The guest agent's answer is too large to come through libvirt: " +
                    sentence(said));
    case AgentFault::handleLost:
      return staleFile();
    case AgentFault::agentError:
      return failed(std::string(context) + ": " + sentence(agentWords(libvirtMessage)));
    case AgentFault::other:
      break;
  }
  return failed(std::string(context) + ": " + sentence(said));
}

Failure staleFile() {
  return noObject("The guest agent restarted; the file is no longer open.");
}

Failure staleProcess() {
  return noObject("The guest agent restarted; the process is no longer known.");
}

Failure malformedReply(std::string_view command) {
  return failed("The guest agent answered " + std::string(command) +
                " with something that is not its reply.");
}

}  // namespace qor::host::libvirt
