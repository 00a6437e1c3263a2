// Spawning a program with its three standard streams as pipes, fed and drained together so
// that large inputs and outputs never block each other.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <stdexcept>

#include "tests/e2e/harness.h"

namespace qor::e2e {
namespace {

void makePipe(int fds[2]) {
  if (pipe2(fds, O_CLOEXEC) != 0) throw std::runtime_error("pipe2 failed");
}

}  // namespace

std::vector<char*> cStrings(const std::vector<std::string>& strings) {
  std::vector<char*> out;
  for (const auto& s : strings) out.push_back(const_cast<char*>(s.c_str()));
  out.push_back(nullptr);
  return out;
}

RunResult runProgram(const std::vector<std::string>& argv, const std::vector<std::string>& env,
                     const std::string& input, int timeoutSeconds,
                     const std::filesystem::path& inputFile) {
  // A program that stops reading its input early must not end the test with SIGPIPE; the write
  // fails with EPIPE instead. The program itself starts with the default, as from a shell.
  ::signal(SIGPIPE, SIG_IGN);
  posix_spawnattr_t attributes;
  posix_spawnattr_init(&attributes);
  sigset_t defaults;
  sigemptyset(&defaults);
  sigaddset(&defaults, SIGPIPE);
  posix_spawnattr_setsigdefault(&attributes, &defaults);
  posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGDEF);
  int in[2], out[2], err[2];
  makePipe(in);
  makePipe(out);
  makePipe(err);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  if (inputFile.empty()) {
    posix_spawn_file_actions_adddup2(&actions, in[0], 0);
  } else {
    posix_spawn_file_actions_addopen(&actions, 0, inputFile.c_str(), O_RDONLY, 0);
  }
  posix_spawn_file_actions_adddup2(&actions, out[1], 1);
  posix_spawn_file_actions_adddup2(&actions, err[1], 2);
  auto args = cStrings(argv);
  auto envp = cStrings(env);
  pid_t pid = -1;
  const int spawned = posix_spawn(&pid, args[0], &actions, &attributes, args.data(), envp.data());
  posix_spawn_file_actions_destroy(&actions);
  posix_spawnattr_destroy(&attributes);
  close(in[0]);
  close(out[1]);
  close(err[1]);
  if (spawned != 0) throw std::runtime_error("cannot spawn " + argv[0]);

  RunResult result;
  std::size_t written = 0;
  int inFd = in[1];
  if (input.empty()) {
    close(inFd);
    inFd = -1;
  } else {
    fcntl(inFd, F_SETFL, O_NONBLOCK);
  }
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(timeoutSeconds);
  int outFd = out[0], errFd = err[0];
  char buffer[65536];
  while (outFd >= 0 || errFd >= 0) {
    pollfd fds[3] = {{outFd, POLLIN, 0}, {errFd, POLLIN, 0}, {inFd, POLLOUT, 0}};
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0 || poll(fds, 3, static_cast<int>(left.count())) == 0) {
      kill(pid, SIGKILL);
      result.err += "\n[harness: timed out after " + std::to_string(timeoutSeconds) + " s]";
      break;
    }
    for (int i = 0; i < 2; ++i) {
      int& fd = i == 0 ? outFd : errFd;
      if (fd < 0 || fds[i].revents == 0) continue;
      const ssize_t n = read(fd, buffer, sizeof buffer);
      if (n > 0) {
        (i == 0 ? result.out : result.err).append(buffer, static_cast<std::size_t>(n));
      } else {
        close(fd);
        fd = -1;
      }
    }
    if (inFd >= 0 && fds[2].revents != 0) {
      const ssize_t n = (fds[2].revents & POLLOUT)
                            ? write(inFd, input.data() + written, input.size() - written)
                            : -1;
      if (n > 0) written += static_cast<std::size_t>(n);
      if (n < 0 || written == input.size()) {
        close(inFd);
        inFd = -1;
      }
    }
  }
  for (int fd : {inFd, outFd, errFd}) {
    if (fd >= 0) close(fd);
  }
  int status = 0;
  waitpid(pid, &status, 0);
  result.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  if (WIFSIGNALED(status)) result.signal = WTERMSIG(status);
  return result;
}

}  // namespace qor::e2e
