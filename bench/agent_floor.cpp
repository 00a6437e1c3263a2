// The floor for qorctl's guest operations on libvirt machines: the same guest-agent commands,
// made by a bare program straight through libvirt (virDomainQemuAgentCommand). It opens its own
// libvirt connection every run, which qorctl's host keeps open: "connect" shows that cost.
//
//   agent_floor URI DOMAIN connect              only the connection and the lookup
//   agent_floor URI DOMAIN exec                 guest-exec /bin/true, guest-exec-status until
//                                               it has ended (asking without pause)
//   agent_floor URI DOMAIN read PATH [PIECE]    guest-file-open, guest-file-reads of PIECE bytes
//                                               (4096) until one comes back empty,
//                                               guest-file-close
//   agent_floor URI DOMAIN write PATH COUNT [PIECE]
//                                               guest-file-open, COUNT guest-file-writes of PIECE
//                                               bytes (4096) and an empty one, guest-file-close
#include <libvirt/libvirt-qemu.h>
#include <libvirt/libvirt.h>
#include <libvirt/virterror.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <nlohmann/json.hpp>
#include <string>

#include "support/base64.h"

namespace {

virDomainPtr domain = nullptr;

[[noreturn]] void die(const std::string& what) {
  std::fprintf(stderr, "agent_floor: %s: %s\n", what.c_str(), virGetLastErrorMessage());
  std::exit(1);
}

nlohmann::json agent(const char* command, nlohmann::json arguments) {
  nlohmann::json request = {{"execute", command}, {"arguments", std::move(arguments)}};
  char* reply = virDomainQemuAgentCommand(domain, request.dump().c_str(), 10, 0);
  if (!reply) die(command);
  auto parsed = nlohmann::json::parse(reply);
  std::free(reply);
  return parsed.at("return");
}

// The piece, in base64, that every write sends: not compressible.
std::string chunk(std::size_t size) {
  std::string bytes(size, '\0');
  unsigned state = 12345;
  for (char& c : bytes) {
    state = state * 1103515245 + 12345;
    c = static_cast<char>(state >> 16);
  }
  return qor::support::base64Encode(bytes);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 4) {
    std::fprintf(stderr,
                 "usage: agent_floor URI DOMAIN connect | exec | read PATH [PIECE] |"
                 " write PATH COUNT [PIECE]\n");
    return 64;
  }
  virSetErrorFunc(nullptr, [](void*, virErrorPtr) {});
  virConnectPtr conn = virConnectOpen(argv[1]);
  if (!conn) die("connect");
  domain = virDomainLookupByName(conn, argv[2]);
  if (!domain) die("lookup");
  const std::string mode = argv[3];
  if (mode == "connect") {
  } else if (mode == "exec") {
    auto pid = agent("guest-exec", {{"path", "/bin/true"}, {"capture-output", true}}).at("pid");
    for (int i = 0; i < 100000; ++i) {
      if (agent("guest-exec-status", {{"pid", pid}}).at("exited").get<bool>()) break;
    }
  } else if (mode == "read" && (argc == 5 || argc == 6)) {
    const long piece = argc == 6 ? std::strtol(argv[5], nullptr, 10) : 4096;
    auto handle = agent("guest-file-open", {{"path", argv[4]}, {"mode", "r"}});
    for (int i = 0; i < 10000000; ++i) {
      if (agent("guest-file-read", {{"handle", handle}, {"count", piece}}).at("count") == 0) break;
    }
    agent("guest-file-close", {{"handle", handle}});
  } else if (mode == "write" && (argc == 6 || argc == 7)) {
    const long piece = argc == 7 ? std::strtol(argv[6], nullptr, 10) : 4096;
    auto handle = agent("guest-file-open", {{"path", argv[4]}, {"mode", "w"}});
    const std::string data = chunk(static_cast<std::size_t>(piece));
    const long count = std::strtol(argv[5], nullptr, 10);
    for (long i = 0; i < count; ++i)
      agent("guest-file-write", {{"handle", handle}, {"buf-b64", data}});
    agent("guest-file-write", {{"handle", handle}, {"buf-b64", ""}});
    agent("guest-file-close", {{"handle", handle}});
  } else {
    std::fprintf(stderr, "agent_floor: unknown mode %s\n", mode.c_str());
    return 64;
  }
  virDomainFree(domain);
  virConnectClose(conn);
  return 0;
}
