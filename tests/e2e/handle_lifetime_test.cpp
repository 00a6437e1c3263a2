// What the host keeps for a client: a guest file opened by a qorctl that is interrupted is
// closed in the host once that qorctl's connection leaves the bus; a program's result is asked
// for at a pace the host sets, not thousands of times a second.
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <thread>

#include "tests/e2e/harness.h"

using namespace qor::e2e;
using ::testing::HasSubstr;

namespace {

namespace fs = std::filesystem;
constexpr const char* kId = "77777777-7777-4777-8777-777777777777";

class HandleLifetimeTest : public HostTest {
 protected:
  void SetUp() override {
    HostTest::SetUp();
    setWorld({{"machines", {vm(kId, "guest", "StSc")}}});
    fs::create_directories(guestRoot(kId));
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

  // How many of the process's descriptors are open on `file`.
  static int openDescriptors(int pid, const fs::path& file) {
    int n = 0;
    std::error_code ec;
    for (const auto& fd : fs::directory_iterator("/proc/" + std::to_string(pid) + "/fd", ec)) {
      std::error_code gone;
      if (fs::read_symlink(fd.path(), gone) == file) ++n;
    }
    return n;
  }

  template <class Condition>
  static bool waitFor(Condition condition) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (!condition()) {
      if (std::chrono::steady_clock::now() > deadline) return false;
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return true;
  }
};

TEST_F(HandleLifetimeTest, AnInterruptedPullLeavesNoFileOpenInTheHost) {
  const fs::path file = fs::canonical(guestRoot(kId)) / "big.bin";
  {
    std::ofstream out(file, std::ios::binary);
    const std::string block(1 << 20, 'x');
    for (int i = 0; i < 64; ++i) out << block;
  }
  ASSERT_EQ(run({"list"}).status, 0);  // launches the host
  const int host = hostPid();
  ASSERT_GT(host, 0);

  // Standard output is a pipe nobody reads: the pull stops mid-transfer with the file open.
  int pipeFds[2];
  ASSERT_EQ(::pipe2(pipeFds, O_CLOEXEC), 0);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, pipeFds[1], 1);
  posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
  const std::vector<std::string> args = {(bundle() / "Contents" / "MacOS" / "qorctl").string(),
                                         "file", "pull", kId, "big.bin"};
  auto argv = cStrings(args);
  auto env = childEnvironment();
  auto envp = cStrings(env);
  pid_t pull = -1;
  ASSERT_EQ(::posix_spawn(&pull, argv[0], &actions, nullptr, argv.data(), envp.data()), 0);
  posix_spawn_file_actions_destroy(&actions);
  ::close(pipeFds[1]);

  EXPECT_TRUE(waitFor([&] { return openDescriptors(host, file) > 0; }))
      << "the host opened the file";
  ::kill(pull, SIGINT);
  int status = 0;
  ::waitpid(pull, &status, 0);
  ::close(pipeFds[0]);
  EXPECT_TRUE(waitFor([&] { return openDescriptors(host, file) == 0; }))
      << "the host closed the file when the interrupted client left the bus";

  // The file's path names nothing now, for any client.
  std::string path;
  for (const auto& r : requests()) {
    if (r.member == "Read") path = r.path;
  }
  ASSERT_FALSE(path.empty());
  const auto read = runProgram(
      {"/usr/bin/dbus-send", "--bus=" + busAddress(), "--print-reply",
       std::string("--dest=") + QOR_BUS_NAME, path, "org.qor.Scripting1.GuestFile.Close"},
      childEnvironment(), "", 10);
  EXPECT_THAT(read.err, HasSubstr("org.freedesktop.DBus.Error.UnknownObject"));
}

TEST_F(HandleLifetimeTest, AResultIsAskedForAtTheHostsPace) {
  const auto start = std::chrono::steady_clock::now();
  const auto result = run({"exec", kId, "--cmd", "sleep", "1"});
  const auto elapsed = std::chrono::duration_cast<std::chrono::milliseconds>(
      std::chrono::steady_clock::now() - start);
  EXPECT_EQ(result.status, 0) << result.err;
  std::size_t polls = 0;
  for (const auto& r : requests()) polls += r.member == "GetResult" ? 1 : 0;
  // Each answer to a running program waits about 50 ms, so the count follows the time taken.
  EXPECT_GE(polls, 1u);
  EXPECT_LE(polls, static_cast<std::size_t>(elapsed.count() / 50 + 3)) << elapsed.count() << " ms";
}

TEST_F(HandleLifetimeTest, AnUnknownBackendIsACommandLineError) {
  const auto result =
      runProgram({(bundle() / "Contents" / "MacOS" / "qor-host").string(), "--backend", "xen"},
                 childEnvironment(), "", 10);
  EXPECT_EQ(result.status, 64);
  EXPECT_THAT(result.err, HasSubstr("unknown backend 'xen' (known: simulated, libvirt)"));
  EXPECT_THAT(result.err, HasSubstr("usage: qor-host [--backend simulated|libvirt]"));
}

}  // namespace
