// The host qorctl depends on, as it comes and goes: a host that cannot start says why, a host
// that has gone is not launched again behind the user's back, and a request that may take
// minutes is waited for as long as the host is there to answer it.
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <fstream>
#include <thread>

#include "tests/e2e/harness.h"

using namespace qor::e2e;
using ::testing::AnyOf;
using ::testing::HasSubstr;
using Clock = std::chrono::steady_clock;

namespace {

namespace fs = std::filesystem;
constexpr const char* kId = "44444444-4444-4444-8444-444444444444";

class HostPresenceTest : public HostTest {
 protected:
  void SetUp() override {
    HostTest::SetUp();
    setWorld({{"machines", {vm(kId, "guest", "StSc"), vm("off-id", "off", "StSa")}}});
    fs::create_directories(guestRoot(kId));
  }

  void setFaults(const json& faults) {
    json world = readWorld();
    world["faults"] = faults;
    setWorld(world);
  }

  int hostPid() {
    const auto reply = runProgram(
        {"/usr/bin/dbus-send", "--bus=" + busAddress(), "--print-reply=literal",
         "--dest=org.freedesktop.DBus", "/org/freedesktop/DBus",
         "org.freedesktop.DBus.GetConnectionUnixProcessID", std::string("string:") + QOR_BUS_NAME},
        childEnvironment(), "", 10);
    const auto at = reply.out.find("uint32 ");
    return at == std::string::npos ? -1 : std::stoi(reply.out.substr(at + 7));
  }

  // qorctl running in the background, its standard error in a file.
  struct Background {
    pid_t pid = -1;
    fs::path err;
    int status = -1;
    bool ended = false;

    // Waits up to `limit` for it to end; true when it has.
    bool waitFor(std::chrono::milliseconds limit) {
      const auto deadline = Clock::now() + limit;
      while (!ended) {
        int raw = 0;
        if (waitpid(pid, &raw, WNOHANG) == pid) {
          ended = true;
          status = raw;
          break;
        }
        if (Clock::now() > deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
      }
      return true;
    }
    std::string errors() const {
      std::ifstream in(err);
      return {std::istreambuf_iterator<char>(in), {}};
    }
    ~Background() {
      if (!ended && pid > 0) {
        kill(pid, SIGKILL);
        waitpid(pid, nullptr, 0);
      }
    }
  };

  std::unique_ptr<Background> start(const std::vector<std::string>& arguments,
                                    const RunOptions& options) {
    ensureBus();
    auto background = std::make_unique<Background>();
    background->err = dir() / "background-err.txt";
    std::vector<std::string> args = {(bundle() / "Contents" / "MacOS" / "qorctl").string()};
    args.insert(args.end(), arguments.begin(), arguments.end());
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, background->err.c_str(),
                                     O_WRONLY | O_CREAT | O_TRUNC, 0644);
    auto argv = cStrings(args);
    const auto env = childEnvironment(options);
    auto envp = cStrings(env);
    EXPECT_EQ(posix_spawn(&background->pid, argv[0], &actions, nullptr, argv.data(), envp.data()),
              0);
    posix_spawn_file_actions_destroy(&actions);
    return background;
  }

  bool logged(const std::string& member) {
    for (const auto& request : requests()) {
      if (request.member == member) return true;
    }
    return false;
  }
};

TEST_F(HostPresenceTest, AHostThatCannotStartSaysWhy) {
  const fs::path config = dir() / "config";
  fs::create_directories(config / "qor");
  std::ofstream(config / "qor" / "host.conf") << "# a typing error\nbackend = libvrt\n";
  RunOptions options;
  options.environment["XDG_CONFIG_HOME"] = config.string();
  const auto result = run({"list"}, options);
  EXPECT_EQ(result.status, 1);
  EXPECT_EQ(result.out, "");
  EXPECT_THAT(result.err, HasSubstr("Error from event: The request Application.VirtualMachines "
                                    "failed: the host is not running and could not be launched"));
  EXPECT_THAT(result.err, HasSubstr(" ended with status 64 before it took its bus name; it said:\n"
                                    "  qor-host: "));
  EXPECT_THAT(result.err, HasSubstr("libvrt"));
  // A few lines, not the host's whole usage text.
  EXPECT_LE(std::count(result.err.begin(), result.err.end(), '\n'), 9) << result.err;
  EXPECT_FALSE(busNameHasOwner());
}

// A host that was running before the command, and is gone after its first request: no later
// request starts another, not even the close that tidies up after a transfer.
TEST_F(HostPresenceTest, OnlyTheFirstRequestMayLaunchTheHost) {
  setFaults({{{"member", "Read"}, {"after", 1}, {"action", "exit"}}});
  std::ofstream(guestRoot(kId) / "big.bin", std::ios::binary) << std::string(20000, 'x');
  startHost();
  const auto pull = run({"file", "pull", kId, "big.bin"});
  EXPECT_EQ(pull.status, 1);
  EXPECT_EQ(pull.out, std::string(4096, 'x'));
  EXPECT_THAT(pull.err, HasSubstr("Error from event: The request GuestFile.Close failed: the host "
                                  "is not running and could not be launched"));
  EXPECT_THAT(pull.err, HasSubstr("Error: The transfer stopped after 4096 bytes"));
  EXPECT_FALSE(busNameHasOwner()) << "a host was launched after the first request";
  EXPECT_FALSE(logged("Close"));

  // The next command's first request launches one as always.
  setFaults(json::array());
  EXPECT_EQ(run({"status", kId}).out, "started\n");
}

// A request that may take minutes outlasts the short timeout of quick requests (one second
// here) for as long as the host is there; when the host goes, or the user presses Ctrl-C, the
// wait ends at once.
TEST_F(HostPresenceTest, ALengthyRequestIsWaitedForWhileTheHostIsThere) {
  setReplyTimeoutMs(120000);  // the bus itself never gives up first
  setFaults({{{"member", "Duplicate"}, {"action", "hang"}}});
  RunOptions options;
  options.environment["SYSTEMD_BUS_TIMEOUT"] = "1";
  for (const bool interrupt : {false, true}) {
    SCOPED_TRACE(interrupt ? "Ctrl-C" : "the host ends");
    clearRequests();
    auto clone = start({"clone", kId}, options);
    const auto deadline = Clock::now() + std::chrono::seconds(20);
    while (!logged("Duplicate") && Clock::now() < deadline) {
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    ASSERT_TRUE(logged("Duplicate")) << clone->errors();
    EXPECT_FALSE(clone->waitFor(std::chrono::milliseconds(2500)))
        << "gave up on a lengthy request while the host was there: " << clone->errors();
    const auto stopped = Clock::now();
    if (interrupt) {
      kill(clone->pid, SIGINT);
    } else {
      const int host = hostPid();
      ASSERT_GT(host, 0);
      kill(host, SIGKILL);
    }
    ASSERT_TRUE(clone->waitFor(std::chrono::seconds(10)));
    EXPECT_LT(Clock::now() - stopped, std::chrono::seconds(3));
    if (interrupt) {
      EXPECT_TRUE(WIFSIGNALED(clone->status) && WTERMSIG(clone->status) == SIGINT);
    } else {
      ASSERT_TRUE(WIFEXITED(clone->status));
      EXPECT_EQ(WEXITSTATUS(clone->status), 1);
      EXPECT_THAT(clone->errors(),
                  HasSubstr("Error from event: The request VirtualMachine.Duplicate failed: "));
      EXPECT_THAT(clone->errors(),
                  AnyOf(HasSubstr("the host left the bus before it answered"),
                        HasSubstr("Message recipient disconnected from message bus without "
                                  "replying")));
    }
  }
}

}  // namespace
