// Requests as a client could send them, arguments of any type and shape included, against the
// simulated host's request handling on a small world. Every request ends in a reply the bus can
// carry: well-formed values of the type the contract names, or an error with a valid D-Bus error
// name. Guest files stay inside the guest roots, and no program is ever started.
//
// Input: up to 16 requests (see request_decoder.h), separated by A5 A5, sent to one fresh host,
// so that a file opened or a program started by one request is there for the next.
#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>
#include <cstdint>
#include <map>
#include <set>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "fuzz/checks.h"
#include "fuzz/host_fixture.h"
#include "fuzz/request_decoder.h"
#include "host/backend/manual_loop.h"
#include "host/bus/direct_host.h"
#include "host/objects/routes.h"
#include "host/simulated/simulated_backend.h"

namespace {

using qor::contract::Value;
using qor::fuzz::check;
using qor::host::Reply;
using qor::host::Request;

constexpr std::string_view kSeparator = "\xa5\xa5";

bool isObjectPath(std::string_view s) {
  if (s.empty() || s[0] != '/') return false;
  if (s.size() == 1) return true;
  if (s.back() == '/' || s.find("//") != std::string_view::npos) return false;
  for (const char c : s) {
    const bool ok = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') ||
                    c == '_' || c == '/';
    if (!ok) return false;
  }
  return true;
}

// The value is what appendValue can put on the bus: data of its type, texts the bus accepts,
// containers whose elements agree with their signature.
void checkWellFormed(const Value& v) {
  const std::string& sig = v.signature;
  check(!sig.empty(), "a value has a type");
  const char t = sig.front();
  const auto* children = std::get_if<std::vector<Value>>(&v.data);
  if (sig.size() == 1 && t != 'v') {
    const bool basic = std::string_view("ybnqiuxtdsog").find(t) != std::string_view::npos;
    check(basic, "a single-character type is basic", sig);
    if (t == 'b') check(std::holds_alternative<bool>(v.data), "a boolean holds a bool");
    if (t == 'd') check(std::holds_alternative<double>(v.data), "a double holds a double");
    if (t == 's' || t == 'o' || t == 'g') {
      const auto* s = std::get_if<std::string>(&v.data);
      check(s != nullptr, "a text holds a string", sig);
      check(qor::fuzz::isBusText(*s), "a text is valid UTF-8 without NUL", *s);
      if (t == 'o') check(isObjectPath(*s), "an object path is valid", *s);
    }
    if (std::string_view("ynqiuxt").find(t) != std::string_view::npos) {
      check(std::holds_alternative<std::int64_t>(v.data) ||
                std::holds_alternative<std::uint64_t>(v.data),
            "an integer holds an integer", sig);
    }
    return;
  }
  check(children != nullptr, "a container holds elements", sig);
  if (t == 'v') {
    check(sig == "v" && children->size() == 1, "a variant holds one value", sig);
  } else if (t == 'a') {
    for (const auto& c : *children) {
      check(c.signature == sig.substr(1), "array elements are of the array's type", sig);
    }
  } else if (t == '{') {
    check(children->size() == 2 && sig.back() == '}', "a dictionary entry is a pair", sig);
    check(sig == "{" + (*children)[0].signature + (*children)[1].signature + "}",
          "a dictionary entry's type is its key's and value's", sig);
  } else {
    std::string joined = "(";
    for (const auto& c : *children) joined += c.signature;
    check(t == '(' && sig == joined + ")", "a struct's type is its fields'", sig);
  }
  for (const auto& c : *children) checkWellFormed(c);
}

// What each member of the contract answers when it succeeds.
const std::map<std::string, std::string, std::less<>>& outSignatures() {
  static const std::map<std::string, std::string, std::less<>> kOut = {
      {"Get", "v"},     {"GetAll", "a{sv}"},      {"Set", ""},       {"Introspect", "s"},
      {"Ping", ""},     {"SetAutoTerminate", ""}, {"Start", ""},     {"Suspend", ""},
      {"Stop", ""},     {"Delete", ""},           {"Duplicate", ""}, {"OpenFile", "o"},
      {"Execute", "o"}, {"QueryIp", "as"},        {"Read", "s"},     {"Write", ""},
      {"Close", ""},    {"GetResult", "a{sv}"},   {"Connect", ""},   {"Disconnect", ""},
  };
  return kOut;
}

void checkReply(const Request& request, const Reply& reply) {
  if (reply.error) {
    check(qor::fuzz::isErrorName(reply.error->name), "an error has a valid D-Bus error name",
          reply.error->name);
    check(qor::fuzz::isBusText(reply.error->message), "an error message is a bus text",
          reply.error->message);
    check(reply.values.empty(), "an error carries no values");
    return;
  }
  std::string joined;
  for (const auto& v : reply.values) {
    checkWellFormed(v);
    joined += v.signature;
  }
  const auto out = outSignatures().find(request.member);
  check(out != outSignatures().end(), "only a member of the contract succeeds", request.member);
  check(joined == out->second, "a reply has the type the contract names",
        request.member + " -> " + joined);
}

// The members that reach the guest's files; after other requests the guest roots need neither
// a check nor a reset.
bool touchesGuestFiles(const Request& request) {
  static const std::set<std::string, std::less<>> kMembers = {"OpenFile", "Write", "Execute",
                                                              "Duplicate"};
  return kMembers.contains(request.member);
}

// The simulated backend behind the host's layers, without a bus.
struct FuzzedHost {
  FuzzedHost(qor::host::World world, qor::host::ProcessLauncher& launcher)
      : backend(std::move(world), launcher, loop),
        direct(backend, loop, qor::host::objects::routes()) {}
  qor::host::ManualLoop loop;
  qor::host::SimulatedBackend backend;
  qor::host::DirectHost direct;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const qor::fuzz::GuestSandbox sandbox;
  static const qor::host::World world = qor::fuzz::fixtureWorld(sandbox.worldFolder());
  static const qor::fuzz::Vocabulary known = qor::fuzz::vocabularyOf(world);
  static qor::fuzz::EchoLauncher launcher;
  static bool touched = true;

  if (touched) sandbox.reset();
  touched = false;
  FuzzedHost host(world, launcher);
  qor::fuzz::Vocabulary vocabulary = known;
  // Each request comes from its own slice, the slices separated by kSeparator, so a change to
  // one request leaves the others as they were and inputs combine request by request.
  const std::string_view input(reinterpret_cast<const char*>(data), size);
  std::size_t at = 0;
  for (int i = 0; i < 16 && at <= input.size(); ++i) {
    const std::size_t end = std::min(input.find(kSeparator, at), input.size());
    const std::string_view slice = input.substr(at, end - at);
    at = end + kSeparator.size();
    FuzzedDataProvider in(reinterpret_cast<const std::uint8_t*>(slice.data()), slice.size());
    const Request request = qor::fuzz::decodeRequest(in, vocabulary);
    touched = touched || touchesGuestFiles(request);
    // The fault table looks at every request before it is handled.
    (void)host.direct.diagnostics().factsOf(request);
    const Reply reply = host.direct.handle(request);
    checkReply(request, reply);
    for (const auto& v : reply.values) qor::fuzz::collectObjectPaths(v, vocabulary);
    for (const auto kind : {qor::host::FaultReply::kWrongType, qor::host::FaultReply::kNoObject}) {
      for (const auto& v : host.direct.diagnostics().substituteReply(request, kind).values)
        checkWellFormed(v);
    }
    (void)host.backend.takeChanged();
  }
  if (touched) sandbox.checkConfined();
  return 0;
}
