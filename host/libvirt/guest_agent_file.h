#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <thread>

#include "host/libvirt/guest_agent_channel.h"

namespace qor::host::libvirt {

// Agent replies of up to 4 MiB of text come through libvirt (its limit for one string: about
// 3 MB of data in base64); requests to the agent must stay far smaller: one of more than about
// 210 KB (the size of a socket's buffer here) reaches qemu-ga cut, and the agent answers
// nothing or a JSON parse error. So files are read in pieces of up to 2 MiB and written in
// pieces of 64 KiB.
inline constexpr std::size_t kMaxReadPiece = 2 * 1024 * 1024;
inline constexpr std::size_t kMaxWritePiece = 64 * 1024;
// Each agent round trip costs milliseconds, so a file read from the start is fetched in growing
// pieces and a file being written is sent in pieces of this size.
inline constexpr std::size_t kFirstReadAhead = 64 * 1024;
inline constexpr std::size_t kMaxReadAhead = 1024 * 1024;
inline constexpr std::size_t kWriteBehind = kMaxWritePiece;

// One agent call on a thread of its own, so that the client's next requests are answered while
// it runs: the next piece of a file read ahead, or the last piece written behind. Nothing else
// reaches the file's agent handle until it is finished, so the agent sees the calls in order.
// Its end waits for the call: a file is dropped with a call on its way only when the client
// left (the close has waited already) or its machine stopped, which ends the call at once.
class CallInFlight {
 public:
  CallInFlight() = default;
  CallInFlight(const CallInFlight&) = delete;
  CallInFlight& operator=(const CallInFlight&) = delete;
  ~CallInFlight();

  bool running() const { return thread_.joinable(); }
  void start(std::function<Result<nlohmann::json>()> call);
  // Waits for the call; answers its outcome.
  Result<nlohmann::json> finish();

 private:
  std::thread thread_;
  std::optional<Result<nlohmann::json>> outcome_;
};

// One file open in a guest through its agent. It owns the client's position, kept exact while
// data is read ahead of it (a file open for reading only) or written behind it, and a write
// failure, after which every later write fails too so that no gap is left unnoticed.
//
// While the client takes what was read ahead, the next piece is already on its way; a piece
// written behind goes out while the client sends the next one. A failure of such a call is
// told to the request that needs its outcome: the read that reaches the missing bytes, the next
// write or the close.
//
// Its calls block on the agent (worker threads only), and the caller holds `lock` around each
// of them: one request on the file at a time.
class GuestFile {
 public:
  GuestFile(AgentChannel& channel, std::string domain, std::string path, AgentRun run,
            std::int64_t agentHandle, bool readable, bool writable);
  GuestFile(const GuestFile&) = delete;
  GuestFile& operator=(const GuestFile&) = delete;

  const std::string& domain() const { return domain_; }
  // Whether the agent that opened it has been replaced: then the agent's handle may name
  // another file, and nothing is sent through it.
  bool stale() const { return channel_.run(domain_) != run_; }

  // Up to `length` bytes after moving `offset` from the client's position; raw text stops
  // before a character the length cuts, and bytes that are not text are refused and stay unread.
  Result<std::string> read(std::int64_t offset, std::int64_t length, bool base64);
  Result<Done> write(std::string bytes, std::int64_t offset);
  // Sends what was written behind and closes the file in the guest; a close the agent does not
  // answer is tried again later (AgentChannel). A stale file is only marked closed.
  Result<Done> close();

  std::mutex lock;
  // Set once closed: then no request may use it.
  std::atomic<bool> closed{false};

 private:
  Result<std::string> fetch(std::int64_t count, bool& eof);
  Result<std::string> pieceOf(Result<nlohmann::json> reply, std::int64_t count, bool& eof);
  // Takes the piece read ahead in the background, if one is on its way, after what the buffer
  // holds; its failure is the answer.
  Result<Done> collectAhead();
  void readAheadInBackground();
  // Waits for the piece written in the background, if one is on its way.
  Result<Done> collectBehind();
  // Whether the agent took all `size` bytes; a write it did not take breaks the file.
  Result<Done> written(const Result<nlohmann::json>& reply, std::size_t size);
  Result<Done> send(std::string_view piece);
  Result<Done> flush();
  Result<Done> seek(std::int64_t offset);
  std::size_t aheadLeft() const { return ahead_.size() - consumed_; }

  AgentChannel& channel_;
  const std::string domain_;
  const std::string path_;
  const AgentRun run_;
  const std::int64_t agentHandle_;
  const bool readable_;
  const bool writable_;
  // Read ahead of the client: the agent's position is past the client's by what is left here.
  // Bytes a raw read could not hand out go back here too.
  std::string ahead_;
  std::size_t consumed_ = 0;
  std::size_t readAhead_ = kFirstReadAhead;
  bool sawEnd_ = false;  // the last agent read reached the end of the file
  // Written by the client, not sent yet: the agent's position is behind the client's by this.
  std::string behind_;
  std::optional<Failure> broken_;
  // The call on its way in the background, and the size of what it reads or writes.
  CallInFlight inFlight_;
  std::size_t inFlightSize_ = 0;
  bool inFlightReads_ = false;
};

}  // namespace qor::host::libvirt
