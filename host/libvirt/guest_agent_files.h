#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "host/backend/objects.h"
#include "host/libvirt/guest_agent_file.h"

namespace qor::host::libvirt {

// What one Read may ask for; longer reads are several agent reads.
inline constexpr std::int64_t kMaxReadLength = 16 * 1024 * 1024;

// The guest files open through the agents: it owns the table of handles (never reused, not the
// agent's numbers) and checks a request's arguments before its file sees it.
//
// A file an earlier run of the agent opened stays in the table, answering that the agent
// restarted, until its client closes it or goes.
//
// Requests block on the agent (worker threads only), several at once, one file's one at a
// time; files and release may be called from any thread. The table's lock is never held across
// an agent call.
class AgentFiles {
 public:
  explicit AgentFiles(AgentChannel& channel) : channel_(channel) {}

  Result<GuestHandle> open(const std::string& domainUuid, const std::string& path,
                           std::uint32_t mode, bool updating);
  Result<std::string> read(const std::string& domainUuid, GuestHandle file, std::int64_t offset,
                           std::uint32_t whence, std::int64_t length, bool base64, bool closing);
  Result<Done> write(const std::string& domainUuid, GuestHandle file, const std::string& data,
                     std::int64_t offset, std::uint32_t whence, bool base64, bool closing);
  Result<Done> close(const std::string& domainUuid, GuestHandle file);

  std::vector<GuestHandle> files(const std::string& domainUuid);
  // The client has gone: what it wrote goes out and the file is closed in the guest.
  void release(GuestHandle file);
  // The machine stopped: its files are gone, and no request may use them.
  void forgetMachine(const std::string& domain);

 private:
  std::shared_ptr<GuestFile> find(const std::string& domainUuid, GuestHandle file);
  void drop(GuestHandle file);

  AgentChannel& channel_;
  std::mutex mutex_;  // guards the table
  std::map<GuestHandle, std::shared_ptr<GuestFile>> files_;
  GuestHandle next_ = 1;
};

}  // namespace qor::host::libvirt
