#include "host/simulated/process_runner.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <utility>

#include "host/backend/unique_fd.h"

namespace qor::host {
namespace {

constexpr std::size_t kReadBlock = 64 * 1024;

struct Stream {
  UniqueFd fd;
  sd_event_source* source = nullptr;
  std::string data;        // output collected, or input still to write
  bool truncated = false;  // output was dropped past the capture limit

  void close() {
    source = sd_event_source_disable_unref(source);
    fd.reset();
  }
};

class SpawnedProcess : public RunningProcess {
 public:
  SpawnedProcess() = default;
  SpawnedProcess(const SpawnedProcess&) = delete;
  SpawnedProcess& operator=(const SpawnedProcess&) = delete;

  ~SpawnedProcess() override {
    for (auto* s : {&input_, &output_, &error_}) s->close();
    child_ = sd_event_source_disable_unref(child_);
    if (!state_.exited && pid_ > 0) {
      ::kill(pid_, SIGKILL);
      while (::waitpid(pid_, nullptr, 0) < 0 && errno == EINTR) {
      }
    }
  }

  ProcessSnapshot snapshot() const override { return state_; }
  bool exited() const override { return state_.exited; }
  void whenExited(std::function<void()> callback) override { exitCallback_ = std::move(callback); }

  int start(sd_event* event, pid_t pid, UniqueFd in, UniqueFd out, UniqueFd err,
            std::string input) {
    pid_ = pid;
    input_.fd = std::move(in);
    input_.data = std::move(input);
    output_.fd = std::move(out);
    error_.fd = std::move(err);
    if (int r = sd_event_add_child(event, &child_, pid, WEXITED, &SpawnedProcess::onExit, this);
        r < 0) {
      return r;
    }
    for (auto* s : {&output_, &error_}) {
      if (!s->fd) continue;
      if (int r = sd_event_add_io(event, &s->source, s->fd.get(), EPOLLIN,
                                  &SpawnedProcess::onReadable, this);
          r < 0) {
        return r;
      }
    }
    if (input_.data.empty()) {
      input_.close();
    } else if (int r = sd_event_add_io(event, &input_.source, input_.fd.get(), EPOLLOUT,
                                       &SpawnedProcess::onWritable, this);
               r < 0) {
      return r;
    }
    return 0;
  }

 private:
  // Reads what is there; answers false once the stream has ended.
  static bool drain(Stream& s, std::size_t maxBlocks) {
    char block[kReadBlock];
    for (std::size_t i = 0; i < maxBlocks; ++i) {
      const auto n = ::read(s.fd.get(), block, sizeof block);
      if (n < 0 && errno == EINTR) continue;
      if (n < 0 && errno == EAGAIN) return true;
      if (n <= 0) return false;
      const auto room = kMaxCapturedBytes - std::min(kMaxCapturedBytes, s.data.size());
      const auto kept = std::min(room, static_cast<std::size_t>(n));
      s.data.append(block, kept);
      if (kept < static_cast<std::size_t>(n)) s.truncated = true;
    }
    return true;
  }

  static int onReadable(sd_event_source* source, int, uint32_t, void* userdata) {
    auto* self = static_cast<SpawnedProcess*>(userdata);
    Stream& s = source == self->output_.source ? self->output_ : self->error_;
    if (!drain(s, 4)) s.close();
    return 0;
  }

  static int onWritable(sd_event_source*, int, uint32_t, void* userdata) {
    auto* self = static_cast<SpawnedProcess*>(userdata);
    Stream& s = self->input_;
    const auto n =
        ::write(s.fd.get(), s.data.data() + self->written_, s.data.size() - self->written_);
    if (n < 0 && (errno == EINTR || errno == EAGAIN)) return 0;
    if (n < 0) {
      s.close();  // EPIPE: the program stopped reading; the rest of the input is dropped
      return 0;
    }
    self->written_ += static_cast<std::size_t>(n);
    if (self->written_ == s.data.size()) s.close();
    return 0;
  }

  static int onExit(sd_event_source*, const siginfo_t* info, void* userdata) {
    auto* self = static_cast<SpawnedProcess*>(userdata);
    // Everything the program wrote is in the pipes now; what a left-behind child might still
    // write later is not part of this program's result.
    for (auto* s : {&self->output_, &self->error_}) {
      if (s->fd) drain(*s, 1024);
    }
    self->state_.output = std::move(self->output_.data);
    self->state_.error = std::move(self->error_.data);
    self->state_.outputTruncated = self->output_.truncated;
    self->state_.errorTruncated = self->error_.truncated;
    for (auto* s : {&self->input_, &self->output_, &self->error_}) s->close();
    self->state_.exitCode = info->si_code == CLD_EXITED ? info->si_status : 128 + info->si_status;
    self->state_.exited = true;
    self->child_ = sd_event_source_disable_unref(self->child_);
    // Last: whoever is told may drop this process.
    if (auto callback = std::exchange(self->exitCallback_, nullptr)) callback();
    return 0;
  }

  pid_t pid_ = -1;
  sd_event_source* child_ = nullptr;
  Stream input_, output_, error_;
  std::size_t written_ = 0;
  ProcessSnapshot state_;
  std::function<void()> exitCallback_;
};

struct Pipe {
  UniqueFd read, write;
  int open() {
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0) return errno;
    read.reset(fds[0]);
    write.reset(fds[1]);
    return 0;
  }
};

Failure cannotStart(const std::string& program, int error) {
  return failed("Cannot start '" + program + "': " + std::strerror(error) + ".");
}

}  // namespace

Result<std::unique_ptr<RunningProcess>> SpawnLauncher::launch(const ProgramLaunch& launch) {
  Pipe in, out, err;
  for (auto* p : {&in, &out, &err}) {
    if (int e = p->open()) return cannotStart(launch.program, e);
  }
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, in.read.get(), 0);
  if (launch.capture) {
    posix_spawn_file_actions_adddup2(&actions, out.write.get(), 1);
    posix_spawn_file_actions_adddup2(&actions, err.write.get(), 2);
  } else {
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
  }
  posix_spawn_file_actions_addchdir_np(&actions, launch.root.c_str());

  // The host blocks SIGCHLD and ignores SIGPIPE; the program starts with neither.
  posix_spawnattr_t attributes;
  posix_spawnattr_init(&attributes);
  sigset_t none, all;
  sigemptyset(&none);
  sigfillset(&all);
  posix_spawnattr_setsigmask(&attributes, &none);
  posix_spawnattr_setsigdefault(&attributes, &all);
  posix_spawnattr_setflags(&attributes,
                           POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSID);

  std::vector<char*> argv, envp;
  argv.push_back(const_cast<char*>(launch.program.c_str()));
  for (const auto& a : launch.arguments) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  for (const auto& e : launch.environment) envp.push_back(const_cast<char*>(e.c_str()));
  envp.push_back(nullptr);

  const std::string executable = launch.executable.empty() ? launch.program : launch.executable;
  pid_t pid = -1;
  const int e =
      ::posix_spawn(&pid, executable.c_str(), &actions, &attributes, argv.data(), envp.data());
  posix_spawn_file_actions_destroy(&actions);
  posix_spawnattr_destroy(&attributes);
  if (e != 0) return cannotStart(launch.program, e);

  in.read.reset();
  out.write.reset();
  err.write.reset();
  for (auto* fd : {&in.write, &out.read, &err.read}) {
    ::fcntl(fd->get(), F_SETFL, ::fcntl(fd->get(), F_GETFL) | O_NONBLOCK);
  }
  if (!launch.capture) {
    out.read.reset();
    err.read.reset();
  }
  auto process = std::make_unique<SpawnedProcess>();
  if (int r = process->start(event_, pid, std::move(in.write), std::move(out.read),
                             std::move(err.read), launch.input);
      r < 0) {
    return cannotStart(launch.program, -r);  // the destructor kills and reaps the child
  }
  return std::unique_ptr<RunningProcess>(std::move(process));
}

}  // namespace qor::host
