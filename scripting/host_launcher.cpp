#include "scripting/host_launcher.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <thread>
#include <vector>

namespace qor::scripting {

namespace {

constexpr auto kPollInterval = std::chrono::milliseconds(20);

// Runs in the forked child: only calls that are safe between fork and exec.
[[noreturn]] void execDetached(const char* program, char* const argv[]) {
  setsid();
  const int null = open("/dev/null", O_RDWR);
  if (null >= 0) {
    dup2(null, STDIN_FILENO);
    dup2(null, STDOUT_FILENO);
    dup2(null, STDERR_FILENO);
  }
  // Descriptors the caller's parent handed down (a test harness's pipes, say) must not stay
  // open in a host that outlives this process.
  close_range(3, ~0U, 0);
  sigset_t none;
  sigemptyset(&none);
  sigprocmask(SIG_SETMASK, &none, nullptr);
  struct sigaction defaults {};
  defaults.sa_handler = SIG_DFL;
  for (int number = 1; number < NSIG; ++number) sigaction(number, &defaults, nullptr);
  execv(program, argv);
  _exit(127);
}

bool childHasExited(pid_t child) {
  int status = 0;
  const pid_t r = waitpid(child, &status, WNOHANG);
  return r == child || r < 0;
}

}  // namespace

std::optional<bool> nameHasOwner(sd_bus* bus, const std::string& name) {
  sd_bus_error error{};  // SD_BUS_ERROR_NULL is a C compound literal
  sd_bus_message* reply = nullptr;
  int r =
      sd_bus_call_method(bus, "org.freedesktop.DBus", "/org/freedesktop/DBus",
                         "org.freedesktop.DBus", "NameHasOwner", &error, &reply, "s", name.c_str());
  sd_bus_error_free(&error);
  if (r < 0) return std::nullopt;
  int owned = 0;
  r = sd_bus_message_read(reply, "b", &owned);
  sd_bus_message_unref(reply);
  if (r <= 0) return std::nullopt;
  return owned != 0;
}

bool launchHost(sd_bus* bus, const std::string& busName, const std::filesystem::path& program,
                bool hidden, std::chrono::milliseconds patience) {
  std::string programText = program.string();
  std::string hiddenFlag = "--hidden";
  std::vector<char*> argv{programText.data()};
  if (hidden) argv.push_back(hiddenFlag.data());
  argv.push_back(nullptr);

  const pid_t child = fork();
  if (child < 0) return false;
  if (child == 0) execDetached(programText.c_str(), argv.data());

  const auto deadline = std::chrono::steady_clock::now() + patience;
  for (;;) {
    const bool exited = childHasExited(child);
    const auto owned = nameHasOwner(bus, busName);
    if (!owned) return false;
    if (*owned) return true;
    // A program that has ended without taking the name will not take it later.
    if (exited || std::chrono::steady_clock::now() >= deadline) return false;
    std::this_thread::sleep_for(kPollInterval);
  }
}

}  // namespace qor::scripting
