// Opening a connection: never a prompt, never a wait without end, the URI named in the failure.
#include "host/libvirt/connection.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>

namespace qor::host::libvirt {
namespace {

TEST(ConnectionTest, SshUrisRunWithoutATerminal) {
  const std::pair<const char*, const char*> cases[] = {
      {"qemu+ssh://me@server/system", "qemu+ssh://me@server/system?no_tty=1"},
      {"qemu+ssh://server/session?keyfile=/k", "qemu+ssh://server/session?keyfile=/k&no_tty=1"},
      {"qemu+libssh2://server/system", "qemu+libssh2://server/system?no_tty=1"},
      {"qemu+ssh://server/system?no_tty=0", "qemu+ssh://server/system?no_tty=0"},  // the user's
      {"qemu:///session", "qemu:///session"},
      {"qemu+unix:///system?socket=/s", "qemu+unix:///system?socket=/s"},
      {"test:///default", "test:///default"},
  };
  for (const auto& [uri, opened] : cases) EXPECT_EQ(withoutTerminal(uri), opened) << uri;
}

TEST(ConnectionTest, AFailedOpenNamesTheUriAndALaterOneTriesAgain) {
  const auto socket = std::filesystem::temp_directory_path() / "qor-no-daemon.sock";
  const std::string uri = "qemu+unix:///session?socket=" + socket.string();
  Connection connection(uri);
  for (int attempt = 0; attempt < 2; ++attempt) {
    const auto r = connection.get();
    const auto* f = failureOf(r);
    ASSERT_TRUE(f);
    EXPECT_EQ(f->kind, HostErrorKind::unavailable);
    EXPECT_EQ(f->message.rfind("Cannot reach libvirt at " + uri + ": ", 0), 0u) << f->message;
  }
  Connection test("test:///default");
  EXPECT_TRUE(succeeded(test.get()));
}

// ssh in batch mode: a server that is not there (nothing listens on port 1 of the loopback) is
// an error at once, with ssh's reason, and nothing waits for a password.
TEST(ConnectionTest, AnSshLoginThatCannotHappenFailsAtOnce) {
  if (std::system("command -v ssh >/dev/null 2>&1") != 0) GTEST_SKIP() << "no ssh client";
  const auto home = std::filesystem::temp_directory_path() / "qor-ssh-home";
  std::filesystem::create_directories(home);
  setenv("HOME", home.c_str(), 1);  // no one's ~/.ssh is read or written
  const std::string uri = "qemu+ssh://nobody@127.0.0.1:1/system";
  Connection connection(uri);
  const auto started = std::chrono::steady_clock::now();
  const auto r = connection.get();
  const auto took = std::chrono::steady_clock::now() - started;
  const auto* f = failureOf(r);
  ASSERT_TRUE(f);
  EXPECT_EQ(f->message.rfind("Cannot reach libvirt at " + uri + ": ", 0), 0u) << f->message;
  EXPECT_LT(took, kOpenWait);
  std::filesystem::remove_all(home);
}

}  // namespace
}  // namespace qor::host::libvirt
