#include "host/libvirt/guest_agent_file.h"

#include <algorithm>
#include <system_error>
#include <utility>

#include "support/base64.h"
#include "support/utf8.h"

namespace qor::host::libvirt {
namespace {

std::optional<std::int64_t> integerOf(const nlohmann::json& j, const char* key) {
  if (!j.is_object()) return std::nullopt;
  auto it = j.find(key);
  if (it == j.end() || !it->is_number_integer()) return std::nullopt;
  return it->get<std::int64_t>();
}

}  // namespace

CallInFlight::~CallInFlight() {
  if (thread_.joinable()) thread_.join();
}

void CallInFlight::start(std::function<Result<nlohmann::json>()> call) {
  outcome_.reset();
  try {
    thread_ = std::thread([this, call = std::move(call)] { outcome_ = call(); });
  } catch (const std::system_error&) {
    outcome_ = call();  // no thread to be had: the call is made now, as it would have been
  }
}

Result<nlohmann::json> CallInFlight::finish() {
  if (thread_.joinable()) thread_.join();
  auto outcome = std::move(outcome_).value_or(failed("The agent call was not made."));
  outcome_.reset();
  return outcome;
}

GuestFile::GuestFile(AgentChannel& channel, std::string domain, std::string path, AgentRun run,
                     std::int64_t agentHandle, bool readable, bool writable)
    : channel_(channel),
      domain_(std::move(domain)),
      path_(std::move(path)),
      run_(run),
      agentHandle_(agentHandle),
      readable_(readable),
      writable_(writable) {}

Result<std::string> GuestFile::read(std::int64_t offset, std::int64_t length, bool base64) {
  if (!readable_) return invalidState("The file is not open for reading.");
  if (auto flushed = flush(); !succeeded(flushed)) return std::get<Failure>(std::move(flushed));
  if (offset != 0) {
    // The piece on its way lies between the buffer and the agent's position.
    if (auto collected = collectAhead(); !succeeded(collected)) {
      return std::get<Failure>(std::move(collected));
    }
    const auto left = static_cast<std::int64_t>(aheadLeft());
    if (offset >= -static_cast<std::int64_t>(consumed_) && offset <= left) {
      consumed_ = static_cast<std::size_t>(static_cast<std::int64_t>(consumed_) + offset);
    } else {
      if (auto moved = seek(offset - left); !succeeded(moved)) {
        return std::get<Failure>(std::move(moved));
      }
      ahead_.clear();
      consumed_ = 0;
      sawEnd_ = false;
    }
  }

  const auto wanted = static_cast<std::size_t>(length);
  std::string out;
  bool atEnd = false;
  // A read that began with bytes from the buffer ends with them when the agent reached the
  // end; one that finds the buffer empty asks the agent, since the file may have grown.
  if (aheadLeft() > 0 && sawEnd_) atEnd = true;
  while (out.size() < wanted) {
    if (aheadLeft() > 0) {
      const std::size_t n = std::min(aheadLeft(), wanted - out.size());
      out.append(ahead_, consumed_, n);
      consumed_ += n;
      continue;
    }
    if (atEnd) break;
    if (inFlight_.running()) {
      if (auto collected = collectAhead(); !succeeded(collected)) {
        ahead_ = out + ahead_.substr(consumed_);
        consumed_ = 0;
        return std::get<Failure>(std::move(collected));
      }
      atEnd = sawEnd_;
      continue;
    }
    std::size_t count = wanted - out.size();
    // Only a file nobody writes through this handle is read ahead: a write must land where
    // the client is, not where the agent is.
    if (!writable_) count = std::max(count, readAhead_);
    count = std::min(count, kMaxReadPiece);
    bool eof = false;
    auto fetched = fetch(static_cast<std::int64_t>(count), eof);
    if (auto* e = std::get_if<Failure>(&fetched)) {
      // What was taken from the buffer stays the client's next bytes.
      ahead_ = out + ahead_.substr(consumed_);
      consumed_ = 0;
      return std::move(*e);
    }
    ahead_ = std::get<std::string>(std::move(fetched));
    consumed_ = 0;
    if (!writable_) readAhead_ = std::min(readAhead_ * 2, kMaxReadAhead);
    atEnd = eof || ahead_.size() < count;
    sawEnd_ = atEnd;
  }

  readAheadInBackground();

  if (!base64) {
    // Raw text stops before a character the length cuts; bytes that are not text are refused
    // and stay unread.
    bool complete = true;
    const std::size_t usable = support::textPrefixLength(out, complete);
    const bool refused = !complete || (usable == 0 && !out.empty());
    const std::size_t keep = refused ? 0 : usable;
    ahead_ = out.substr(keep) + ahead_.substr(consumed_);
    consumed_ = 0;
    out.resize(keep);
    if (refused) {
      return failed("The file holds bytes that are not text; read it as base64.");
    }
  }
  return out;
}

Result<std::string> GuestFile::fetch(std::int64_t count, bool& eof) {
  return pieceOf(channel_.callIn(run_, domain_, "guest-file-read",
                                 {{"handle", agentHandle_}, {"count", count}},
                                 "Cannot read '" + path_ + "' in the guest", staleFile()),
                 count, eof);
}

Result<std::string> GuestFile::pieceOf(Result<nlohmann::json> reply, std::int64_t count,
                                       bool& eof) {
  if (auto* e = std::get_if<Failure>(&reply)) return std::move(*e);
  const auto& ret = std::get<nlohmann::json>(reply);
  auto read = integerOf(ret, "count");
  auto data = ret.is_object() ? ret.find("buf-b64") : ret.end();
  if (!read || data == ret.end() || !data->is_string()) return malformedReply("guest-file-read");
  auto bytes = support::base64Decode(data->get_ref<const std::string&>());
  if (!bytes || static_cast<std::int64_t>(bytes->size()) != *read || *read > count) {
    return malformedReply("guest-file-read");
  }
  auto end = ret.find("eof");
  eof = end != ret.end() && end->is_boolean() && end->get<bool>();
  return std::move(*bytes);
}

void GuestFile::readAheadInBackground() {
  // Only a file nobody writes through this handle is read ahead, and only up to its end.
  if (writable_ || sawEnd_ || inFlight_.running()) return;
  const std::size_t count = std::min(readAhead_, kMaxReadPiece);
  inFlightSize_ = count;
  inFlightReads_ = true;
  inFlight_.start([&channel = channel_, run = run_, domain = domain_, handle = agentHandle_,
                   context = "Cannot read '" + path_ + "' in the guest", count] {
    return channel.callIn(run, domain, "guest-file-read",
                          {{"handle", handle}, {"count", static_cast<std::int64_t>(count)}},
                          context, staleFile());
  });
}

Result<Done> GuestFile::collectAhead() {
  if (!inFlight_.running() || !inFlightReads_) return Done{};
  bool eof = false;
  auto piece = pieceOf(inFlight_.finish(), static_cast<std::int64_t>(inFlightSize_), eof);
  if (auto* e = std::get_if<Failure>(&piece)) return std::move(*e);
  const auto& bytes = std::get<std::string>(piece);
  ahead_ = ahead_.substr(consumed_) + bytes;
  consumed_ = 0;
  readAhead_ = std::min(readAhead_ * 2, kMaxReadAhead);
  sawEnd_ = eof || bytes.size() < inFlightSize_;
  return Done{};
}

Result<Done> GuestFile::write(std::string bytes, std::int64_t offset) {
  if (!writable_) return invalidState("The file is not open for writing.");
  if (broken_) return *broken_;
  // Bytes read ahead (a raw read's leftovers) lie behind the agent's position.
  if (aheadLeft() > 0) {
    if (auto moved = seek(-static_cast<std::int64_t>(aheadLeft())); !succeeded(moved)) {
      return moved;
    }
  }
  ahead_.clear();
  consumed_ = 0;
  sawEnd_ = false;
  if (offset != 0) {
    if (auto flushed = flush(); !succeeded(flushed)) return flushed;
    if (auto moved = seek(offset); !succeeded(moved)) return moved;
  }
  behind_ += bytes;
  if (behind_.size() < kWriteBehind) return Done{};
  // Whole pieces but the last go now; the last goes out while the client sends more.
  if (auto collected = collectBehind(); !succeeded(collected)) return collected;
  while (behind_.size() > kMaxWritePiece) {
    const std::string piece = behind_.substr(0, kMaxWritePiece);
    behind_.erase(0, kMaxWritePiece);
    if (auto sent = send(piece); !succeeded(sent)) return sent;
  }
  if (behind_.size() < kWriteBehind) return Done{};
  inFlightSize_ = behind_.size();
  inFlightReads_ = false;
  inFlight_.start([&channel = channel_, run = run_, domain = domain_, handle = agentHandle_,
                   context = "Cannot write '" + path_ + "' in the guest",
                   data = support::base64Encode(behind_)] {
    return channel.callIn(run, domain, "guest-file-write", {{"handle", handle}, {"buf-b64", data}},
                          context, staleFile());
  });
  behind_.clear();
  return Done{};
}

Result<Done> GuestFile::written(const Result<nlohmann::json>& reply, std::size_t size) {
  std::optional<Failure> failure;
  if (const auto* e = std::get_if<Failure>(&reply)) {
    failure = *e;
  } else if (auto count = integerOf(std::get<nlohmann::json>(reply), "count"); !count) {
    failure = malformedReply("guest-file-write");
  } else if (*count != static_cast<std::int64_t>(size)) {
    failure = failed("The guest took only " + std::to_string(*count) + " of " +
                     std::to_string(size) + " bytes for '" + path_ + "'; the file is incomplete.");
  }
  if (!failure) return Done{};
  behind_.clear();
  broken_ = failure;
  return *failure;
}

Result<Done> GuestFile::send(std::string_view piece) {
  return written(
      channel_.callIn(run_, domain_, "guest-file-write",
                      {{"handle", agentHandle_}, {"buf-b64", support::base64Encode(piece)}},
                      "Cannot write '" + path_ + "' in the guest", staleFile()),
      piece.size());
}

Result<Done> GuestFile::collectBehind() {
  if (!inFlight_.running() || inFlightReads_) return Done{};
  return written(inFlight_.finish(), inFlightSize_);
}

Result<Done> GuestFile::flush() {
  if (auto collected = collectBehind(); !succeeded(collected)) return collected;
  if (behind_.empty()) return Done{};
  if (broken_) return *broken_;
  for (std::size_t at = 0; at < behind_.size(); at += kMaxWritePiece) {
    if (auto sent = send(std::string_view(behind_).substr(at, kMaxWritePiece)); !succeeded(sent)) {
      return sent;
    }
  }
  behind_.clear();
  return Done{};
}

Result<Done> GuestFile::seek(std::int64_t offset) {
  auto reply = channel_.callIn(run_, domain_, "guest-file-seek",
                               {{"handle", agentHandle_}, {"offset", offset}, {"whence", "cur"}},
                               "Cannot move in '" + path_ + "' in the guest", staleFile());
  if (auto* e = std::get_if<Failure>(&reply)) {
    // The agent's position is unknown now: writing on could leave a gap.
    if (writable_) broken_ = *e;
    return std::move(*e);
  }
  if (!integerOf(std::get<nlohmann::json>(reply), "position"))
    return malformedReply("guest-file-seek");
  return Done{};
}

Result<Done> GuestFile::close() {
  auto flushed = flush();
  // A piece read ahead that nobody will take.
  if (inFlight_.running()) (void)inFlight_.finish();
  closed = true;
  const auto reply =
      channel_.askIn(run_, domain_, "guest-file-close", {{"handle", agentHandle_}}, staleFile());
  const Failure* refused = failureOf(reply);
  if (refused && classifyAgentFailure(refused->message) == AgentFault::notAnswering) {
    channel_.closeLater(domain_, run_, agentHandle_);
  }
  // Whatever was written behind is lost with the old agent: that is the news.
  if (refused && refused->kind == HostErrorKind::noObject) return staleFile();
  // A failed write is the news that matters, told again here: the file is incomplete.
  if (!succeeded(flushed)) return flushed;
  if (broken_) return *broken_;
  if (refused) return agentFailure(refused->message, "Cannot close '" + path_ + "' in the guest");
  return Done{};
}

}  // namespace qor::host::libvirt
