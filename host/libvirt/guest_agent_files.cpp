// Guest files: guest-file-open/read/write/seek/close, with the client's position kept exact
// while data is read ahead of it or written behind it.

#include <algorithm>
#include <utility>

#include "contract/codes.h"
#include "host/libvirt/guest_agent.h"
#include "host/libvirt/guest_agent_state.h"
#include "support/base64.h"
#include "support/utf8.h"

namespace qor::host::libvirt {
namespace {

using contract::code;
using contract::QorOpenMode;
using contract::QorWhence;

std::optional<std::int64_t> integerOf(const nlohmann::json& j, const char* key) {
  if (!j.is_object()) return std::nullopt;
  auto it = j.find(key);
  if (it == j.end() || !it->is_number_integer()) return std::nullopt;
  return it->get<std::int64_t>();
}

Failure malformed(const char* command) {
  return failed(std::string("The guest agent answered ") + command +
                     " with something that is not its reply.");
}

Failure closedFile() {
  return noObject("The guest file is closed.");
}

}  // namespace

Result<GuestHandle> GuestAgent::open(const std::string& domainUuid, const std::string& path,
                                          std::uint32_t mode, bool updating) {
  const bool reading = mode == code(QorOpenMode::reading);
  if (!reading && mode != code(QorOpenMode::writing)) {
    return invalidArgs("The open mode must be 'OpRo' (reading) or 'OpWo' (writing).");
  }
  // fopen()'s modes: "+" opens for both; "w" creates the file or empties it.
  const char* fopenMode = reading ? (updating ? "r+" : "r") : (updating ? "w+" : "w");
  auto opened = call(domainUuid, "guest-file-open", {{"path", path}, {"mode", fopenMode}},
                     "Cannot open '" + path + "' in the guest");
  if (auto* e = std::get_if<Failure>(&opened)) return std::move(*e);
  const auto& ret = std::get<nlohmann::json>(opened);
  if (!ret.is_number_integer()) return malformed("guest-file-open");

  auto f = std::make_shared<File>();
  f->domain = domainKey(domainUuid);
  f->path = path;
  f->agentHandle = ret.get<std::int64_t>();
  f->readable = reading || updating;
  f->writable = !reading || updating;
  std::lock_guard guard(mutex_);
  const GuestHandle handle = nextFile_++;
  files_.emplace(handle, std::move(f));
  return handle;
}

Result<std::string> GuestAgent::read(const std::string& domainUuid, GuestHandle file,
                                          std::int64_t offset, std::uint32_t whence,
                                          std::int64_t length, bool base64, bool closing) {
  auto f = findFile(domainUuid, file);
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
  auto result = readLocked(*f, offset, length, base64);
  // The bytes read are the answer even when the close after them fails: nothing was lost.
  if (closing && succeeded(result)) {
    (void)closeLocked(*f);
    std::lock_guard guard(mutex_);
    files_.erase(file);
  }
  if (base64) {
    if (auto* bytes = std::get_if<std::string>(&result)) *bytes = support::base64Encode(*bytes);
  }
  return result;
}

Result<std::string> GuestAgent::readLocked(File& f, std::int64_t offset, std::int64_t length,
                                                bool base64) {
  if (!f.readable) return invalidState("The file is not open for reading.");
  if (auto flushed = flush(f); !succeeded(flushed)) return std::get<Failure>(std::move(flushed));
  if (offset != 0) {
    const auto left = static_cast<std::int64_t>(f.aheadLeft());
    if (offset >= -static_cast<std::int64_t>(f.consumed) && offset <= left) {
      f.consumed = static_cast<std::size_t>(static_cast<std::int64_t>(f.consumed) + offset);
    } else {
      if (auto moved = seekAgent(f, offset - left); !succeeded(moved)) {
        return std::get<Failure>(std::move(moved));
      }
      f.ahead.clear();
      f.consumed = 0;
      f.sawEnd = false;
    }
  }

  const auto wanted = static_cast<std::size_t>(length);
  std::string out;
  bool atEnd = false;
  // A read that began with bytes from the buffer ends with them when the agent reached the
  // end; one that finds the buffer empty asks the agent, since the file may have grown.
  if (f.aheadLeft() > 0 && f.sawEnd) atEnd = true;
  while (out.size() < wanted) {
    if (f.aheadLeft() > 0) {
      const std::size_t n = std::min(f.aheadLeft(), wanted - out.size());
      out.append(f.ahead, f.consumed, n);
      f.consumed += n;
      continue;
    }
    if (atEnd) break;
    std::size_t count = wanted - out.size();
    // Only a file nobody writes through this handle is read ahead: a write must land where
    // the client is, not where the agent is.
    if (!f.writable) count = std::max(count, f.readAhead);
    count = std::min(count, kMaxReadPiece);
    bool eof = false;
    auto fetched = fetch(f, static_cast<std::int64_t>(count), eof);
    if (auto* e = std::get_if<Failure>(&fetched)) {
      // What was taken from the buffer stays the client's next bytes.
      f.ahead = out + f.ahead.substr(f.consumed);
      f.consumed = 0;
      return std::move(*e);
    }
    f.ahead = std::get<std::string>(std::move(fetched));
    f.consumed = 0;
    if (!f.writable) f.readAhead = std::min(f.readAhead * 2, kMaxReadAhead);
    atEnd = eof || f.ahead.size() < count;
    f.sawEnd = atEnd;
  }

  if (!base64) {
    // Raw text stops before a character the length cuts; bytes that are not text are refused
    // and stay unread.
    bool complete = true;
    const std::size_t usable = support::textPrefixLength(out, complete);
    const bool refused = !complete || (usable == 0 && !out.empty());
    const std::size_t keep = refused ? 0 : usable;
    f.ahead = out.substr(keep) + f.ahead.substr(f.consumed);
    f.consumed = 0;
    out.resize(keep);
    if (refused) {
      return failed("The file holds bytes that are not text; read it as base64.");
    }
  }
  return out;
}

Result<std::string> GuestAgent::fetch(File& f, std::int64_t count, bool& eof) {
  auto reply = call(f.domain, "guest-file-read", {{"handle", f.agentHandle}, {"count", count}},
                    "Cannot read '" + f.path + "' in the guest");
  if (auto* e = std::get_if<Failure>(&reply)) return std::move(*e);
  const auto& ret = std::get<nlohmann::json>(reply);
  auto read = integerOf(ret, "count");
  auto data = ret.is_object() ? ret.find("buf-b64") : ret.end();
  if (!read || data == ret.end() || !data->is_string()) return malformed("guest-file-read");
  auto bytes = support::base64Decode(data->get_ref<const std::string&>());
  if (!bytes || static_cast<std::int64_t>(bytes->size()) != *read || *read > count) {
    return malformed("guest-file-read");
  }
  auto end = ret.find("eof");
  eof = end != ret.end() && end->is_boolean() && end->get<bool>();
  return std::move(*bytes);
}

Result<Done> GuestAgent::write(const std::string& domainUuid, GuestHandle file,
                                         const std::string& data, std::int64_t offset,
                                         std::uint32_t whence, bool base64, bool closing) {
  auto f = findFile(domainUuid, file);
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
  auto result = writeLocked(*f, std::move(bytes), offset);
  if (closing && succeeded(result)) {
    result = closeLocked(*f);
    std::lock_guard guard(mutex_);
    files_.erase(file);
  }
  return result;
}

Result<Done> GuestAgent::writeLocked(File& f, std::string bytes, std::int64_t offset) {
  if (!f.writable) return invalidState("The file is not open for writing.");
  if (f.broken) return *f.broken;
  // Bytes read ahead (a raw read's leftovers) lie behind the agent's position.
  if (f.aheadLeft() > 0) {
    if (auto moved = seekAgent(f, -static_cast<std::int64_t>(f.aheadLeft())); !succeeded(moved)) {
      return moved;
    }
  }
  f.ahead.clear();
  f.consumed = 0;
  f.sawEnd = false;
  if (offset != 0) {
    if (auto flushed = flush(f); !succeeded(flushed)) return flushed;
    if (auto moved = seekAgent(f, offset); !succeeded(moved)) return moved;
  }
  f.behind += bytes;
  if (f.behind.size() >= kWriteBehind) return flush(f);
  return Done{};
}

Result<Done> GuestAgent::flush(File& f) {
  if (f.behind.empty()) return Done{};
  if (f.broken) return *f.broken;
  std::size_t sent = 0;
  while (sent < f.behind.size()) {
    const std::string_view piece =
        std::string_view(f.behind).substr(sent, std::min(kMaxWritePiece, f.behind.size() - sent));
    auto reply = call(f.domain, "guest-file-write",
                      {{"handle", f.agentHandle}, {"buf-b64", support::base64Encode(piece)}},
                      "Cannot write '" + f.path + "' in the guest");
    std::optional<Failure> failure;
    if (auto* e = std::get_if<Failure>(&reply)) {
      failure = std::move(*e);
    } else if (auto count = integerOf(std::get<nlohmann::json>(reply), "count"); !count) {
      failure = malformed("guest-file-write");
    } else if (*count != static_cast<std::int64_t>(piece.size())) {
      failure = failed("The guest took only " + std::to_string(*count) + " of " +
                            std::to_string(piece.size()) + " bytes for '" + f.path +
                            "'; the file is incomplete.");
    }
    if (failure) {
      f.behind.clear();
      f.broken = failure;
      return *failure;
    }
    sent += piece.size();
  }
  f.behind.clear();
  return Done{};
}

Result<Done> GuestAgent::seekAgent(File& f, std::int64_t offset) {
  auto reply = call(f.domain, "guest-file-seek",
                    {{"handle", f.agentHandle}, {"offset", offset}, {"whence", "cur"}},
                    "Cannot move in '" + f.path + "' in the guest");
  if (auto* e = std::get_if<Failure>(&reply)) {
    // The agent's position is unknown now: writing on could leave a gap.
    if (f.writable) f.broken = *e;
    return std::move(*e);
  }
  if (!integerOf(std::get<nlohmann::json>(reply), "position")) return malformed("guest-file-seek");
  return Done{};
}

Result<Done> GuestAgent::close(const std::string& domainUuid, GuestHandle file) {
  auto f = findFile(domainUuid, file);
  if (!f) return closedFile();
  std::lock_guard fileGuard(f->lock);
  if (f->closed) return closedFile();
  auto result = closeLocked(*f);
  std::lock_guard guard(mutex_);
  files_.erase(file);
  return result;
}

Result<Done> GuestAgent::closeLocked(File& f) {
  auto flushed = flush(f);
  f.closed = true;
  const auto closed = ask(f.domain, "guest-file-close", {{"handle", f.agentHandle}});
  const Failure* refused = failureOf(closed);
  if (refused && classifyAgentFailure(refused->message) == AgentFault::notAnswering) {
    closeLater(f.domain, f.agentHandle);
  }
  // A failed write is the news that matters, told again here: the file is incomplete.
  if (!succeeded(flushed)) return flushed;
  if (f.broken) return *f.broken;
  if (refused) return agentFailure(refused->message, "Cannot close '" + f.path + "' in the guest");
  return Done{};
}

}  // namespace qor::host::libvirt
