#pragma once

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <vector>

namespace qor::e2e {

using nlohmann::json;

// Built with AddressSanitizer: memory figures mean nothing, and the host is many times slower.
#if defined(__SANITIZE_ADDRESS__)
inline constexpr bool kSanitizedBuild = true;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
inline constexpr bool kSanitizedBuild = true;
#else
inline constexpr bool kSanitizedBuild = false;
#endif
#else
inline constexpr bool kSanitizedBuild = false;
#endif

struct RunResult {
  std::string out;
  std::string err;
  int status = -1;          // the exit status, or 128 + the signal that ended the program
  int signal = 0;           // the signal that ended the program, if one did
  long peakMemoryKiB = -1;  // measured by runMeasuringMemory only
};

struct RunOptions {
  std::string input;
  std::filesystem::path inputFile;   // when set, standard input is this file instead of a pipe
  bool withBus = true;               // false: no session bus address at all
  std::filesystem::path executable;  // default: the bundle's qorctl
  std::map<std::string, std::string> environment;  // added to (or replacing) the defaults
};

// One request the host received, as it logged it.
struct Request {
  std::string path;
  std::string interface;
  std::string member;
  json args;

  // Compact form for assertions: "VirtualMachine.Start [true,false]" or
  // "Get VirtualMachine.Status" (property reads), with the path left out.
  std::string label() const;
};

// The path the host uses for a machine's id (R/vm/id/E(id)).
std::string machinePath(const std::string& id);

// Each test gets its own temporary folder, its own private bus (started on the first run) and a
// host that qorctl launches itself from the build tree's bundle, with the world and request log
// of that folder. Tests run in parallel safely.
class HostTest : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;

  // Writes the world file; call before the first run (the host reads it once, when launched).
  void setWorld(const json& world);
  json readWorld() const;  // as the host persisted it

  // How long the bus waits for a reply before answering NoReply; set before the first run.
  void setReplyTimeoutMs(int ms) { replyTimeoutMs_ = ms; }

  RunResult run(const std::vector<std::string>& arguments, const RunOptions& options = {});
  RunResult run(const std::vector<std::string>& arguments, const std::string& input) {
    RunOptions options;
    options.input = input;
    return run(arguments, options);
  }

  // The bus (started now if need be) and the environment qorctl runs with.
  void ensureBus() {
    if (busPid_ <= 0) startBus();
  }
  std::vector<std::string> childEnvironment(const RunOptions& options = {}) const;

  // Like run, with the peak resident memory of qorctl itself (not of the test, which spawned
  // it, nor of a host it launched) in peakMemoryKiB.
  RunResult runMeasuringMemory(const std::vector<std::string>& arguments,
                               const RunOptions& options = {});

  // Starts a host the way a user would, before qorctl runs, and waits until it owns the bus
  // name; qorctl then finds it running and launches none itself during that run.
  void startHost();
  bool busNameHasOwner();

  std::vector<Request> requests() const;
  std::vector<std::string> labels() const;  // label() of every request, in order
  void clearRequests();

  std::filesystem::path guestRoot(const std::string& machineId) const;
  const std::filesystem::path& dir() const { return dir_; }
  static std::filesystem::path bundle();
  const std::string& busAddress() const { return busAddress_; }

 private:
  void startBus();
  void stopBus();

  // Hosts a test started itself. They leave with the bus (TearDown); each is then told to end
  // and reaped when the test object goes.
  struct StartedHosts {
    std::vector<int> pids;
    ~StartedHosts();
  };

  std::filesystem::path dir_;
  std::string busAddress_;
  int busPid_ = -1;
  int replyTimeoutMs_ = 25000;
  StartedHosts startedHosts_;
};

// World-building helpers.
json vm(const std::string& id, const std::string& name, const std::string& status = "StSc");

// argv/envp for posix_spawn: pointers into the strings, then a null.
std::vector<char*> cStrings(const std::vector<std::string>& strings);

// Runs a program with the given arguments, environment and input; collects both streams.
RunResult runProgram(const std::vector<std::string>& argv, const std::vector<std::string>& env,
                     const std::string& input, int timeoutSeconds,
                     const std::filesystem::path& inputFile = {});

}  // namespace qor::e2e
