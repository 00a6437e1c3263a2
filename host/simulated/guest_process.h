#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "contract/value.h"
#include "host/backend/completion.h"
#include "host/backend/loop.h"
#include "host/backend/objects.h"
#include "host/backend/result.h"

namespace qor::host {

// A guest program of the simulated host and what runs it: the launch a request asks for, the
// running program behind a seam (real child processes, or a fake in tests), the search for the
// file to run, and the record GetResult answers. It never blocks: a program's end is reported
// by the loop.

// What Execute asks to run, after its arguments were checked.
struct ProgramLaunch {
  std::string program;     // as the client named it; the program's argv[0]
  std::string executable;  // the file to run, as locateProgram found it
  std::vector<std::string> arguments;
  std::vector<std::string> environment;  // complete, PATH included
  std::string input;                     // the bytes for standard input
  bool capture = true;
  std::filesystem::path root;  // the guest root: the working folder
};

struct ProcessSnapshot {
  bool exited = false;
  std::int64_t exitCode = 0;
  std::string output;
  std::string error;
  // Whether a stream was cut at the capture limit.
  bool outputTruncated = false;
  bool errorTruncated = false;
};

// A program running for a guest. Dropping it kills a program that has not ended.
class RunningProcess {
 public:
  virtual ~RunningProcess() = default;
  virtual ProcessSnapshot snapshot() const = 0;
  virtual bool exited() const = 0;
  // `callback` runs once the program has ended (from the event loop). A process that never
  // says so is asked again later.
  virtual void whenExited(std::function<void()> callback) { (void)callback; }
};

class ProcessLauncher {
 public:
  virtual ~ProcessLauncher() = default;
  virtual Result<std::unique_ptr<RunningProcess>> launch(const ProgramLaunch& launch) = 0;
};

inline constexpr const char* kDefaultPath =
    "/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin";

// The environment a program gets: the given entries, and a default PATH when none sets one.
std::vector<std::string> programEnvironment(const std::vector<std::string>& given);

// The file to run for `program`: a name without "/" is searched in the PATH of `environment`,
// a relative path with "/" lies inside the guest root, an absolute one is used as it is (the
// simulated guest shares the host's programs).
Result<std::string> locateProgram(const std::string& program,
                                  const std::vector<std::string>& environment,
                                  const std::filesystem::path& root);

// A guest process of the host: a real program, or a scripted sequence of GetResult records.
struct GuestProcess {
  MachineKey machineKey = 0;
  std::unique_ptr<RunningProcess> live;
  std::vector<contract::Value> scripted;
  std::size_t nextRecord = 0;
  bool base64 = true;  // how Execute was asked to carry data
  // GetResult requests held while the program runs.
  struct Waiter {
    std::uint64_t id = 0;
    Completion<contract::Value> done;
    std::unique_ptr<Timer> timer;
  };
  std::vector<Waiter> waiting;

  // The next GetResult record: the scripted ones in order, repeating the last; for a real
  // program hasExited, and once it has ended exitCode, outputData and errorData.
  contract::Value result();
  // Ended, and its last record handed out at least once.
  bool finished() const { return live ? live->exited() : nextRecord >= scripted.size(); }
};

// Finished processes kept for GetResult; past this the oldest are forgotten, so a long-running
// host does not keep every output it ever captured.
inline constexpr std::size_t kMaxFinishedProcesses = 100;

}  // namespace qor::host
