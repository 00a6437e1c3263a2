#pragma once

// The guest agent's private bookkeeping, shared by its parts (files, programs, addresses).

#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <optional>
#include <string>

#include "host/libvirt/guest_agent.h"

namespace qor::host::libvirt {

// Agent replies of up to 4 MiB of text come through libvirt (its limit for one string: about
// 3 MB of data in base64); requests to the agent must stay far smaller: one of more than about
// 210 KB (the size of a socket's buffer here) reaches qemu-ga cut, and the agent answers
// nothing or a JSON parse error. So files are read in pieces of up to 2 MiB, written in pieces
// of 64 KiB, and a program's input and arguments must fit in one request.
inline constexpr std::size_t kMaxReadPiece = 2 * 1024 * 1024;
inline constexpr std::size_t kMaxWritePiece = 64 * 1024;
inline constexpr std::size_t kMaxAgentRequest = 192 * 1024;
// What one Read may ask for; longer reads are several agent reads.
inline constexpr std::int64_t kMaxReadLength = 16 * 1024 * 1024;
// Each agent round trip costs milliseconds, so a file read from the start is fetched in growing
// pieces and a file being written is sent in pieces of this size.
inline constexpr std::size_t kFirstReadAhead = 64 * 1024;
inline constexpr std::size_t kMaxReadAhead = 1024 * 1024;
inline constexpr std::size_t kWriteBehind = kMaxWritePiece;
// Finished programs whose results are kept for their clients.
inline constexpr std::size_t kMaxFinishedProcesses = 100;
inline constexpr std::size_t kMaxKeptOutput = 64 * 1024 * 1024;

struct GuestAgent::File {
  std::mutex lock;  // one request on the file at a time
  std::string domain;
  std::string path;
  std::int64_t agentHandle = 0;
  bool readable = false;
  bool writable = false;
  std::atomic<bool> closed{false};
  // Read ahead of the client (files open for reading only): the agent's position is past the
  // client's by what is left here. Bytes a raw read could not hand out go back here too.
  std::string ahead;
  std::size_t consumed = 0;
  std::size_t readAhead = kFirstReadAhead;
  bool sawEnd = false;  // the last agent read reached the end of the file
  // Written by the client, not sent yet: the agent's position is behind the client's by this.
  std::string behind;
  // Once a write has failed, every later one fails too, so that no gap is left unnoticed.
  std::optional<Failure> broken;

  std::size_t aheadLeft() const { return ahead.size() - consumed; }
};

struct GuestAgent::Process {
  std::mutex lock;
  std::string domain;
  std::int64_t pid = 0;
  bool base64 = true;
  std::chrono::steady_clock::time_point started;
  // Set once the agent has told the end (it forgets the program then), or once the end can
  // no longer be learnt.
  std::optional<Result<ProcessState>> final;
  // The same, for the table's pruning, which must not wait for a process's lock.
  std::atomic<bool> finished{false};
  std::atomic<std::size_t> keptBytes{0};

  void finish(Result<ProcessState> result);
};

// Domain UUIDs are compared in one case.
std::string domainKey(std::string_view uuid);

}  // namespace qor::host::libvirt
