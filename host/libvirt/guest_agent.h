#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "host/libvirt/agent_transport.h"
#include "host/libvirt/guest_agent_errors.h"

namespace qor::host::libvirt {

// The number of a guest file or process: unique for the host's whole run, never reused, and
// not the agent's own number (which a restarted agent hands out again).
using GuestHandle = std::uint64_t;

template <class T>
using GuestResult = std::variant<T, GuestError>;

struct GuestDone {};

// What a finished (or still running) guest program left, in the encoding it was started with.
struct ProcessResult {
  bool exited = false;
  std::int64_t exitCode = 0;  // a program ended by a signal: 128 + the signal
  std::string output;
  std::string error;
  bool outputTruncated = false;
  bool errorTruncated = false;
};

struct InterfaceAddress {
  std::string interface;
  std::string address;
  bool ipv6 = false;
};

// Where libvirt finds a machine's addresses without the agent.
enum class AddressSource { lease, arp };

// Guest files, programs and addresses of libvirt machines through the QEMU guest agent, in
// plain values. Requests block on the agent (up to the timeout), so they run on worker threads,
// never on the host's loop, several at once (one file's requests wait for each other); the
// lists, age and forgetMachine answer at once from any thread.
class GuestAgent {
 public:
  // nullopt: that source failed or is not there; an empty list: it knows no address.
  using AddressLookup = std::function<std::optional<std::vector<InterfaceAddress>>(
      const std::string& domainUuid, AddressSource source)>;

  // `lookup`: the backend's way to the addresses libvirt knows without the agent (leases, ARP).
  explicit GuestAgent(AgentTransport& transport, AddressLookup lookup = {},
                      int timeoutSeconds = 10);
  ~GuestAgent();
  GuestAgent(const GuestAgent&) = delete;
  GuestAgent& operator=(const GuestAgent&) = delete;

  GuestResult<GuestHandle> open(const std::string& domainUuid, const std::string& path,
                                std::uint32_t mode, bool updating);
  GuestResult<std::string> read(const std::string& domainUuid, GuestHandle file,
                                std::int64_t offset, std::uint32_t whence, std::int64_t length,
                                bool base64, bool closing);
  GuestResult<GuestDone> write(const std::string& domainUuid, GuestHandle file,
                               const std::string& data, std::int64_t offset, std::uint32_t whence,
                               bool base64, bool closing);
  GuestResult<GuestDone> close(const std::string& domainUuid, GuestHandle file);

  GuestResult<GuestHandle> execute(const std::string& domainUuid, const std::string& program,
                                   const std::vector<std::string>& arguments,
                                   const std::vector<std::string>& environment,
                                   const std::string& input, bool base64, bool capture);
  // One look at the program (no waiting); a finished program's result is kept and answered
  // again without asking the agent, which forgets the program once it has reported its end.
  GuestResult<ProcessResult> status(const std::string& domainUuid, GuestHandle process);
  // How long the program has been known to run; nullopt for an unknown handle.
  std::optional<std::chrono::steady_clock::duration> age(GuestHandle process);

  // Whether the agent answers a guest-ping within a second: false while it is not there yet,
  // or silent; an error only when it never can (the machine has no agent channel).
  GuestResult<bool> ping(const std::string& domainUuid);

  // IPv4 addresses first, then IPv6, each in the guest's order; loopback left out.
  GuestResult<std::vector<std::string>> addresses(const std::string& domainUuid);

  std::vector<GuestHandle> files(const std::string& domainUuid);
  std::vector<GuestHandle> processes(const std::string& domainUuid);
  // The client that opened the handle has gone: the file is closed in the guest (what it had
  // written goes out first), the process is forgotten (its program goes on). No answer.
  void releaseFile(GuestHandle file);
  void releaseProcess(GuestHandle process);
  // The machine stopped: its agent and everything opened through it are gone. Asks nothing
  // and waits for nothing, so the loop may call it.
  void forgetMachine(const std::string& domainUuid);

 private:
  struct File;
  struct Process;

  // One agent command; `call` turns a failure into the reply for the client, with `context`
  // before the agent's own words.
  AgentReply ask(const std::string& domainUuid, const char* command, nlohmann::json arguments);
  GuestResult<nlohmann::json> call(const std::string& domainUuid, const char* command,
                                   nlohmann::json arguments, std::string_view context);
  std::shared_ptr<File> findFile(const std::string& domainUuid, GuestHandle file);
  std::shared_ptr<Process> findProcess(const std::string& domainUuid, GuestHandle process);
  // The file with its lock held; the caller's reads and writes of it run one at a time.
  GuestResult<std::string> readLocked(File& f, std::int64_t offset, std::int64_t length,
                                      bool base64);
  GuestResult<GuestDone> writeLocked(File& f, std::string bytes, std::int64_t offset);
  std::optional<GuestError> flush(File& f);
  std::optional<GuestError> seekAgent(File& f, std::int64_t offset);
  GuestResult<GuestDone> closeLocked(File& f);
  GuestResult<std::string> fetch(File& f, std::int64_t count, bool& eof);
  void forgetOldProcesses();
  // A close the agent did not answer is tried again after its next answer, so that a file
  // does not stay open in the guest because the agent was busy when its client left.
  void closeLater(const std::string& domain, std::int64_t agentHandle);
  void retryCloses(const std::string& domain);
  GuestResult<std::vector<std::string>> fallbackAddresses(const std::string& domainUuid,
                                                          const GuestError& agentFailure);

  AgentTransport& transport_;
  const int timeoutSeconds_;
  AddressLookup addressLookup_;
  std::mutex mutex_;  // guards the tables and the counters, never held during an agent call
  std::map<GuestHandle, std::shared_ptr<File>> files_;
  std::map<GuestHandle, std::shared_ptr<Process>> processes_;
  std::map<std::string, std::vector<std::int64_t>> unclosed_;  // by domain
  std::atomic<bool> anyUnclosed_{false};
  GuestHandle nextFile_ = 1;
  GuestHandle nextProcess_ = 1;
};

}  // namespace qor::host::libvirt
