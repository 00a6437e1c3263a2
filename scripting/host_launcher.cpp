#include "scripting/host_launcher.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <thread>
#include <vector>

#include "support/utf8.h"

namespace qor::scripting {

namespace {

constexpr auto kPollInterval = std::chrono::milliseconds(20);
// What a host says when it cannot start is a line or two (a file and line in its settings);
// more is kept out of the way of qorctl's own report.
constexpr std::size_t kKeptBytes = 4096;
constexpr std::size_t kShownLines = 5;
constexpr std::size_t kShownLineBytes = 300;

// What the child writes, followed by errno, when the program cannot be run at all.
constexpr char kExecFailed[] =
    "\x01"
    "exec failed: ";

// Runs in the forked child: only calls that are safe between fork and exec.
[[noreturn]] void execDetached(const char* program, char* const argv[], int errorPipe) {
  setsid();
  const int null = open("/dev/null", O_RDWR);
  if (null >= 0) {
    dup2(null, STDIN_FILENO);
    dup2(null, STDOUT_FILENO);
  }
  if (errorPipe < 0 || dup2(errorPipe, STDERR_FILENO) < 0) {
    if (null >= 0) dup2(null, STDERR_FILENO);
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
  // The reason, for the parent to word: the marker and errno in decimal (no stdio here).
  char text[sizeof kExecFailed + 12];
  std::size_t length = 0;
  for (const char* c = kExecFailed; *c != '\0'; ++c) text[length++] = *c;
  char digits[12];
  std::size_t count = 0;
  for (int error = errno; count == 0 || error > 0; error /= 10) {
    digits[count++] = static_cast<char>('0' + error % 10);
  }
  while (count > 0) text[length++] = digits[--count];
  [[maybe_unused]] const auto written = write(STDERR_FILENO, text, length);
  _exit(127);
}

// Whether the child has ended (reaped then, with its wait status), or cannot be waited for.
bool childHasExited(pid_t child, int& status) {
  const pid_t r = waitpid(child, &status, WNOHANG);
  return r == child || r < 0;
}

// Reads what is there now, keeping the first kKeptBytes.
void drain(int fd, std::string& kept) {
  char buffer[4096];
  for (;;) {
    const ssize_t got = read(fd, buffer, sizeof buffer);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) return;
    const auto room = kKeptBytes - std::min(kKeptBytes, kept.size());
    kept.append(buffer, std::min(room, static_cast<std::size_t>(got)));
  }
}

std::string endingOf(const std::filesystem::path& program, int status) {
  std::string how = "The host program " + program.string();
  if (WIFEXITED(status)) return how + " ended with status " + std::to_string(WEXITSTATUS(status));
  if (WIFSIGNALED(status)) return how + " was ended by signal " + std::to_string(WTERMSIG(status));
  return how + " ended";
}

// "…; it said:" and its first lines, indented, as valid text.
std::string reportOf(const std::filesystem::path& program, int status, const std::string& said) {
  if (said.starts_with(kExecFailed)) {
    const int error = std::atoi(said.c_str() + sizeof kExecFailed - 1);
    return "The host program " + program.string() + " could not be run: " + std::strerror(error);
  }
  std::string report = endingOf(program, status) + " before it took its bus name";
  std::vector<std::string> lines;
  std::size_t start = 0;
  while (start < said.size()) {
    auto end = said.find('\n', start);
    if (end == std::string::npos) end = said.size();
    std::string line = said.substr(start, end - start);
    start = end + 1;
    if (line.find_first_not_of(" \t\r") == std::string::npos) continue;
    if (lines.size() == kShownLines) {
      lines.push_back("…");
      break;
    }
    if (line.size() > kShownLineBytes) line = line.substr(0, kShownLineBytes) + "…";
    lines.push_back(support::validText(line));
  }
  if (lines.empty()) return report + ", and said nothing.";
  report += "; it said:";
  for (const auto& line : lines) report += "\n  " + line;
  return report;
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

std::string nameOwner(sd_bus* bus, const std::string& name) {
  sd_bus_error error{};
  sd_bus_message* reply = nullptr;
  int r =
      sd_bus_call_method(bus, "org.freedesktop.DBus", "/org/freedesktop/DBus",
                         "org.freedesktop.DBus", "GetNameOwner", &error, &reply, "s", name.c_str());
  sd_bus_error_free(&error);
  if (r < 0) return {};
  const char* owner = nullptr;
  r = sd_bus_message_read(reply, "s", &owner);
  std::string result = r > 0 && owner != nullptr ? owner : "";
  sd_bus_message_unref(reply);
  return result;
}

LaunchOutcome launchHost(sd_bus* bus, const std::string& busName,
                         const std::filesystem::path& program, bool hidden,
                         std::chrono::milliseconds patience) {
  std::string programText = program.string();
  std::string hiddenFlag = "--hidden";
  std::vector<char*> argv{programText.data()};
  if (hidden) argv.push_back(hiddenFlag.data());
  argv.push_back(nullptr);

  int errors[2] = {-1, -1};
  if (pipe2(errors, O_CLOEXEC) < 0) errors[0] = errors[1] = -1;
  const pid_t child = fork();
  if (child < 0) {
    if (errors[0] >= 0) {
      close(errors[0]);
      close(errors[1]);
    }
    return {};
  }
  if (child == 0) execDetached(programText.c_str(), argv.data(), errors[1]);
  if (errors[1] >= 0) {
    close(errors[1]);
    fcntl(errors[0], F_SETFL, O_NONBLOCK);
  }

  std::string said;
  LaunchOutcome outcome;
  const auto deadline = std::chrono::steady_clock::now() + patience;
  for (;;) {
    int status = 0;
    const bool exited = childHasExited(child, status);
    if (errors[0] >= 0) drain(errors[0], said);
    const auto owned = nameHasOwner(bus, busName);
    if (owned && *owned) {
      outcome.running = true;
      break;
    }
    // A program that has ended without taking the name will not take it later.
    if (owned && exited) {
      outcome.report = reportOf(program, status, said);
      break;
    }
    if (!owned || std::chrono::steady_clock::now() >= deadline) break;
    std::this_thread::sleep_for(kPollInterval);
  }
  if (errors[0] >= 0) close(errors[0]);
  return outcome;
}

}  // namespace qor::scripting
