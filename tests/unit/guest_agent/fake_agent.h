#pragma once

#include <gtest/gtest.h>

#include <deque>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "contract/codes.h"
#include "host/libvirt/guest_agent.h"
#include "support/base64.h"

namespace qor::host::libvirt::testing {

inline constexpr const char* kDomain = "0f1e2d3c-4b5a-6978-8796-a5b4c3d2e1f0";
inline const std::uint32_t kReading = contract::code(contract::QorOpenMode::reading);
inline const std::uint32_t kWriting = contract::code(contract::QorOpenMode::writing);
inline const std::uint32_t kCurrent = contract::code(contract::QorWhence::current);

// What the transport hands back for one command.
using Reply = Result<nlohmann::json>;

inline Reply ok(nlohmann::json ret) {
  return Reply(std::in_place_index<0>, std::move(ret));
}
inline Reply failure(std::string message) {
  return failed(std::move(message));
}
// How libvirt words an error the agent itself returned.
inline Reply agentRefusal(const std::string& command, const std::string& words) {
  return failure("internal error: unable to execute QEMU agent command '" + command +
                 "': " + words);
}

// A guest agent for the tests: answers from a script when one is queued, else keeps files in
// memory as qemu-ga does (stdio semantics: eof only once a read asked for more than was there).
// Every request it gets is recorded.
class FakeAgent : public AgentTransport {
 public:
  Reply command(const std::string& domainUuid, const nlohmann::json& request,
                int timeoutSeconds) override {
    domains.push_back(domainUuid);
    timeouts.push_back(timeoutSeconds);
    sent.push_back(request);
    // What qemu-ga does with a request larger than a socket's buffer: it gets it cut.
    if (request.dump().size() > 210 * 1024) {
      ADD_FAILURE() << "a request of " << request.dump().size() << " bytes";
      return agentRefusal(request.at("execute"), "JSON parse error, expecting value");
    }
    if (fault) {
      if (auto reply = fault(request)) return *reply;
    }
    if (!script.empty()) {
      Reply reply = script.front();
      script.pop_front();
      return reply;
    }
    return files(request);
  }

  // The commands sent, by name, in order.
  std::vector<std::string> commands() const {
    std::vector<std::string> out;
    for (const auto& r : sent) out.push_back(r.at("execute").get<std::string>());
    return out;
  }
  std::size_t count(const std::string& name) const {
    std::size_t n = 0;
    for (const auto& c : commands()) n += c == name ? 1 : 0;
    return n;
  }

  std::vector<nlohmann::json> sent;
  std::vector<std::string> domains;
  std::vector<int> timeouts;
  std::deque<Reply> script;
  std::function<std::optional<Reply>(const nlohmann::json&)> fault;
  std::map<std::string, std::string> disk;  // path -> content
  struct Open {
    std::string path;
    std::size_t position = 0;
    bool readable = false;
    bool writable = false;
  };
  std::map<std::int64_t, Open> open;
  std::int64_t nextHandle = 1000;

  // qemu-ga started afresh: its files are closed; after a guest reboot it counts its handles
  // from the start again (the count lives in the guest's /run), after a restart within one boot
  // it goes on counting.
  void restart(bool rebooted) {
    open.clear();
    if (rebooted) nextHandle = 1000;
  }

 private:
  Reply files(const nlohmann::json& request) {
    const std::string name = request.at("execute");
    const nlohmann::json args = request.value("arguments", nlohmann::json::object());
    if (name == "guest-file-open") {
      const std::string path = args.at("path");
      const std::string mode = args.value("mode", "r");
      const bool exists = disk.count(path) != 0;
      if (mode[0] == 'r' && !exists) {
        return agentRefusal(name, "failed to open file '" + path + "' (mode: '" + mode +
                                      "'): No such file or directory");
      }
      if (mode[0] == 'w') disk[path].clear();
      open[nextHandle] = {path, 0, mode[0] == 'r' || mode.size() > 1,
                          mode[0] == 'w' || mode.size() > 1};
      return ok(nextHandle++);
    }
    auto it = open.find(args.value("handle", std::int64_t{-1}));
    if (it == open.end()) {
      return agentRefusal(
          name, "handle '" + std::to_string(args.value("handle", -1)) + "' has not been found");
    }
    Open& f = it->second;
    std::string& content = disk[f.path];
    if (name == "guest-file-read") {
      const auto count = static_cast<std::size_t>(args.value("count", 4096));
      const std::string bytes =
          f.position < content.size() ? content.substr(f.position, count) : std::string();
      f.position += bytes.size();
      return ok({{"count", bytes.size()},
                 {"buf-b64", support::base64Encode(bytes)},
                 {"eof", bytes.size() < count}});
    }
    if (name == "guest-file-write") {
      auto bytes = support::base64Decode(args.at("buf-b64").get<std::string>());
      EXPECT_TRUE(bytes.has_value());
      if (content.size() < f.position) content.resize(f.position, '\0');
      content.replace(f.position, std::min(bytes->size(), content.size() - f.position), *bytes);
      f.position += bytes->size();
      return ok({{"count", bytes->size()}, {"eof", false}});
    }
    if (name == "guest-file-seek") {
      EXPECT_EQ(args.at("whence"), "cur");
      const auto to = static_cast<std::int64_t>(f.position) + args.at("offset").get<std::int64_t>();
      if (to < 0) return agentRefusal(name, "failed to seek file: Invalid argument");
      f.position = static_cast<std::size_t>(to);
      return ok({{"position", to}, {"eof", false}});
    }
    if (name == "guest-file-close") {
      open.erase(it);
      return ok(nlohmann::json::object());
    }
    ADD_FAILURE() << "unexpected agent command " << request.dump();
    return failure("unexpected command");
  }
};

template <class T>
const T& value(const Result<T>& r) {
  if (const auto* e = std::get_if<Failure>(&r)) {
    ADD_FAILURE() << "failed: " << e->errorName() << ": " << e->message;
    static const T empty{};
    return empty;
  }
  return std::get<T>(r);
}

template <class T>
Failure errorOf(const Result<T>& r) {
  if (const auto* e = std::get_if<Failure>(&r)) return *e;
  ADD_FAILURE() << "succeeded where it should fail";
  return {};
}

}  // namespace qor::host::libvirt::testing
