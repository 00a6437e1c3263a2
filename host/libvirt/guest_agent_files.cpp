#include "host/libvirt/guest_agent_files.h"

#include <utility>

#include "contract/codes.h"
#include "support/base64.h"

namespace qor::host::libvirt {
namespace {

using contract::code;
using contract::QorOpenMode;
using contract::QorWhence;

Failure closedFile() {
  return noObject("The guest file is closed.");
}

}  // namespace

Result<GuestHandle> AgentFiles::open(const std::string& domainUuid, const std::string& path,
                                     std::uint32_t mode, bool updating) {
  const bool reading = mode == code(QorOpenMode::reading);
  if (!reading && mode != code(QorOpenMode::writing)) {
    return invalidArgs("The open mode must be 'OpRo' (reading) or 'OpWo' (writing).");
  }
  // fopen()'s modes: "+" opens for both; "w" creates the file or empties it.
  const char* fopenMode = reading ? (updating ? "r+" : "r") : (updating ? "w+" : "w");
  auto opened =
      channel_.handOut(domainUuid, "guest-file-open", {{"path", path}, {"mode", fopenMode}},
                       "Cannot open '" + path + "' in the guest");
  if (auto* e = std::get_if<Failure>(&opened)) return std::move(*e);
  const auto& handed = std::get<AgentChannel::Handed>(opened);
  if (!handed.reply.is_number_integer()) return malformedReply("guest-file-open");

  auto f = std::make_shared<GuestFile>(channel_, domainKey(domainUuid), path, handed.run,
                                       handed.reply.get<std::int64_t>(), reading || updating,
                                       !reading || updating);
  std::lock_guard guard(mutex_);
  const GuestHandle handle = next_++;
  files_.emplace(handle, std::move(f));
  return handle;
}

Result<std::string> AgentFiles::read(const std::string& domainUuid, GuestHandle file,
                                     std::int64_t offset, std::uint32_t whence, std::int64_t length,
                                     bool base64, bool closing) {
  auto f = find(domainUuid, file);
  if (!f) return closedFile();
  if (whence != code(QorWhence::current)) {
    return invalidArgs("The only origin of an offset is the current position ('CuRr').");
  }
  if (length < 0 || length > kMaxReadLength) {
    return invalidArgs("The length must be between 0 and " + std::to_string(kMaxReadLength) +
                       " bytes.");
  }
  std::lock_guard fileGuard(f->lock);
  if (f->closed) return closedFile();
  // Not even bytes read ahead: the transfer cannot be finished, so it ends here.
  if (f->stale()) return staleFile();
  auto result = f->read(offset, length, base64);
  // The bytes read are the answer even when the close after them fails: nothing was lost.
  if (closing && succeeded(result)) {
    (void)f->close();
    drop(file);
  }
  if (base64) {
    if (auto* bytes = std::get_if<std::string>(&result)) *bytes = support::base64Encode(*bytes);
  }
  return result;
}

Result<Done> AgentFiles::write(const std::string& domainUuid, GuestHandle file,
                               const std::string& data, std::int64_t offset, std::uint32_t whence,
                               bool base64, bool closing) {
  auto f = find(domainUuid, file);
  if (!f) return closedFile();
  if (whence != code(QorWhence::current)) {
    return invalidArgs("The only origin of an offset is the current position ('CuRr').");
  }
  std::string bytes;
  if (base64) {
    auto decoded = support::base64Decode(data);
    if (!decoded) return invalidArgs("The data is not valid base64 text.");
    bytes = std::move(*decoded);
  } else {
    bytes = data;
  }
  std::lock_guard fileGuard(f->lock);
  if (f->closed) return closedFile();
  // Bytes kept behind would be taken, and then lost.
  if (f->stale()) return staleFile();
  auto result = f->write(std::move(bytes), offset);
  if (closing && succeeded(result)) {
    result = f->close();
    drop(file);
  }
  return result;
}

Result<Done> AgentFiles::close(const std::string& domainUuid, GuestHandle file) {
  auto f = find(domainUuid, file);
  if (!f) return closedFile();
  std::lock_guard fileGuard(f->lock);
  if (f->closed) return closedFile();
  auto result = f->close();
  drop(file);
  return result;
}

std::shared_ptr<GuestFile> AgentFiles::find(const std::string& domainUuid, GuestHandle file) {
  std::lock_guard guard(mutex_);
  auto it = files_.find(file);
  if (it == files_.end() || it->second->domain() != domainKey(domainUuid)) return nullptr;
  return it->second;
}

void AgentFiles::drop(GuestHandle file) {
  std::lock_guard guard(mutex_);
  files_.erase(file);
}

std::vector<GuestHandle> AgentFiles::files(const std::string& domainUuid) {
  const std::string key = domainKey(domainUuid);
  std::lock_guard guard(mutex_);
  std::vector<GuestHandle> out;
  for (const auto& [handle, f] : files_) {
    if (f->domain() == key) out.push_back(handle);
  }
  return out;
}

void AgentFiles::release(GuestHandle file) {
  std::shared_ptr<GuestFile> f;
  {
    std::lock_guard guard(mutex_);
    auto it = files_.find(file);
    if (it == files_.end()) return;
    f = std::move(it->second);
    files_.erase(it);
  }
  // Waits for a request still running on the file; its outcome no longer has a reader.
  std::lock_guard fileGuard(f->lock);
  if (!f->closed) (void)f->close();
}

void AgentFiles::forgetMachine(const std::string& domain) {
  std::lock_guard guard(mutex_);
  for (auto it = files_.begin(); it != files_.end();) {
    if (it->second->domain() == domain) {
      // Not through its lock: a request still on the file may wait seconds for the agent.
      it->second->closed = true;
      it = files_.erase(it);
    } else {
      ++it;
    }
  }
}

}  // namespace qor::host::libvirt
