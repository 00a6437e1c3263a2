// Hosts a test starts itself, the bus name's owner, and qorctl's own peak memory.
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <thread>

#include "tests/e2e/harness.h"

namespace qor::e2e {
namespace fs = std::filesystem;

HostTest::StartedHosts::~StartedHosts() {
  for (int pid : pids) {
    kill(pid, SIGTERM);
    int status = 0;
    waitpid(pid, &status, 0);
  }
}

bool HostTest::busNameHasOwner() {
  ensureBus();
  const auto reply =
      runProgram({"/usr/bin/dbus-send", "--bus=" + busAddress(), "--print-reply=literal",
                  "--dest=org.freedesktop.DBus", "/org/freedesktop/DBus",
                  "org.freedesktop.DBus.NameHasOwner", std::string("string:") + QOR_BUS_NAME},
                 childEnvironment(), "", 10);
  EXPECT_EQ(reply.status, 0) << reply.err;
  return reply.out.find("true") != std::string::npos;
}

void HostTest::startHost() {
  ensureBus();
  const std::string program = (bundle() / "Contents" / "MacOS" / "qor-host").string();
  const fs::path log = dir() / ("host-" + std::to_string(startedHosts_.pids.size() + 1) + ".log");
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 1, log.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  posix_spawn_file_actions_adddup2(&actions, 1, 2);
  const std::vector<std::string> env = childEnvironment();
  const std::vector<std::string> args = {program};
  auto argv = cStrings(args);
  auto envp = cStrings(env);
  pid_t pid = -1;
  const int spawned = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), envp.data());
  posix_spawn_file_actions_destroy(&actions);
  ASSERT_EQ(spawned, 0) << "cannot start " << program;
  startedHosts_.pids.push_back(pid);

  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (!busNameHasOwner()) {
    int status = 0;
    ASSERT_EQ(waitpid(pid, &status, WNOHANG), 0) << "the host ended at start; see " << log;
    ASSERT_LT(std::chrono::steady_clock::now(), deadline) << "the host took no name; see " << log;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
}

RunResult HostTest::runMeasuringMemory(const std::vector<std::string>& arguments,
                                       const RunOptions& options) {
  if (options.withBus) ensureBus();
  // The test process is large (it holds the data it compares), and a child it spawns inherits
  // its high-water mark at exec; /usr/bin/time forks qorctl from a small process of its own.
  const fs::path report = dir() / "peak-memory.txt";
  const fs::path executable =
      options.executable.empty() ? bundle() / "Contents" / "MacOS" / "qorctl" : options.executable;
  std::vector<std::string> argv = {"/usr/bin/time",    "-f", "%M", "-o", report.string(),
                                   executable.string()};
  argv.insert(argv.end(), arguments.begin(), arguments.end());
  RunResult result =
      runProgram(argv, childEnvironment(options), options.input, 90, options.inputFile);
  // The last line; GNU time puts "Command exited with non-zero status N" before it then.
  std::ifstream in(report);
  std::string line, last;
  while (std::getline(in, line)) {
    if (!line.empty()) last = line;
  }
  if (!last.empty() && last.find_first_not_of("0123456789") == std::string::npos) {
    result.peakMemoryKiB = std::stol(last);
  }
  return result;
}

}  // namespace qor::e2e
