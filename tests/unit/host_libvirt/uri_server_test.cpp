// Which computer a connection's URI reaches: the host part, whatever surrounds it.
#include "host/libvirt/uri_server.h"

#include <gtest/gtest.h>

#include <cstdlib>

namespace qor::host::libvirt {
namespace {

TEST(UriServerTest, TheHostPartWithoutUserOrPort) {
  const std::pair<const char*, const char*> cases[] = {
      {"qemu+ssh://u@h:22/system", "h"},
      {"qemu+ssh://h/system", "h"},
      {"qemu+ssh://me@build-server:2222/system?keyfile=/k", "build-server"},
      {"qemu+tcp://[::1]/system", "::1"},
      {"qemu+tcp://me@[fe80::1%25eth0]:16509/system", "fe80::1%25eth0"},
      {"qemu+ssh://user@127.0.0.1:2222/session", "127.0.0.1"},  // another daemon all the same
      {"qemu+tls://host.example?pkipath=/p", "host.example"},
      {"qemu:///session", ""},
      {"qemu:///system", ""},
      {"test:///default", ""},
      {"qemu+unix:///system?socket=/run/s", ""},
      {"", ""},
      {"not a uri", ""},
  };
  for (const auto& [uri, server] : cases) EXPECT_EQ(serverOfUri(uri), server) << uri;
}

TEST(UriServerTest, LibvirtsDefaultIsReadFromItsVariable) {
  const char* before = std::getenv("LIBVIRT_DEFAULT_URI");
  const std::string saved = before != nullptr ? before : "";
  setenv("LIBVIRT_DEFAULT_URI", "qemu+ssh://me@far/system", 1);
  EXPECT_EQ(serverOfConnection(std::nullopt), "far");
  EXPECT_EQ(serverOfConnection(std::string("qemu:///session")), "");
  unsetenv("LIBVIRT_DEFAULT_URI");
  EXPECT_EQ(serverOfConnection(std::nullopt), "");
  if (before != nullptr) setenv("LIBVIRT_DEFAULT_URI", saved.c_str(), 1);
}

}  // namespace
}  // namespace qor::host::libvirt
