#include <gtest/gtest.h>

#include "contract/errors.h"
#include "host/libvirt/guest_agent_errors.h"

namespace qor::host::libvirt {
namespace {

namespace names = contract::error_names;

// libvirt's messages as it gives them here (libvirt 9, QEMU 7.2).
TEST(AgentFailureTest, MachineLevelFaultsSayWhichWhateverWasAsked) {
  struct Case {
    const char* libvirt;
    std::string_view name;
    const char* says;
  } cases[] = {
      {"argument unsupported: QEMU guest agent is not configured", names::kInvalidState,
       "has no guest agent"},
      {"Guest agent is not responding: QEMU guest agent is not connected", names::kInvalidState,
       "not running in the guest"},
      {"Guest agent is not responding: Guest agent not available for now", names::kHostFailed,
       "does not answer"},
      {"Guest agent is not responding: QEMU guest agent is not available due to an error",
       names::kHostFailed, "does not answer"},
      {"Requested operation is not valid: domain is not running", names::kInvalidState,
       "paused or stopped"},
      {"Unable to encode message payload", names::kHostFailed, "too large"},
      {"internal error: unable to execute QEMU agent command 'guest-file-open': failed to open "
       "file '/x' (mode: 'r'): No such file or directory",
       names::kHostFailed, "Cannot open '/x': failed to open file '/x' (mode: 'r'): No such file"},
      {"Cannot recv data: Connection reset by peer", names::kHostFailed,
       "Cannot open '/x': Cannot recv data: Connection reset by peer."},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.libvirt);
    const Failure e = agentFailure(c.libvirt, "Cannot open '/x'");
    EXPECT_EQ(e.errorName(), c.name);
    EXPECT_NE(e.message.find(c.says), std::string::npos) << e.message;
    EXPECT_EQ(e.message.back(), '.');
  }
}

TEST(AgentFailureTest, TheAgentsOwnWordsLoseLibvirtsFrame) {
  EXPECT_EQ(agentWords("internal error: unable to execute QEMU agent command 'guest-exec-status': "
                       "Invalid parameter 'pid'"),
            "Invalid parameter 'pid'");
  EXPECT_EQ(agentWords("Invalid parameter 'pid'"), "Invalid parameter 'pid'");
}

}  // namespace
}  // namespace qor::host::libvirt
