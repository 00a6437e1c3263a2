#include "host/diagnostics/faults.h"
#include "support/dbus_names.h"

#include "support/text_equal.h"

namespace qor::host {
namespace {

std::optional<std::uint64_t> count(const Json& v) {
  if (v.is_number_unsigned()) return v.get<std::uint64_t>();
  if (v.is_number_integer() && v.get<std::int64_t>() >= 0) {
    return static_cast<std::uint64_t>(v.get<std::int64_t>());
  }
  return std::nullopt;
}

Result<Done> parseOne(const Json& json, Fault& f) {
  const auto bad = [](std::string why) { return invalidArgs(std::move(why)); };
  if (!json.is_object()) return bad("expected a JSON object");
  for (const auto& [key, v] : json.items()) {
    if (key == "member" || key == "path" || key == "machine" || key == "error" ||
        key == "message" || key == "reply" || key == "action") {
      if (!v.is_string()) return bad(key + ": expected a string");
    } else if (key == "value") {
      // Any JSON: it is converted to the type of the request it answers when one arrives.
    } else if (key == "after" || key == "times") {
      if (!count(v)) return bad(key + ": expected a count (an integer of 0 or more)");
    } else {
      return bad("unknown key '" + key + "'");
    }
  }
  if (!json.contains("member")) return bad("member: required");
  f.member = json["member"].get<std::string>();
  if (json.contains("path")) f.path = json["path"].get<std::string>();
  if (json.contains("machine")) f.machine = json["machine"].get<std::string>();
  if (json.contains("after")) f.after = *count(json["after"]);
  if (json.contains("times")) f.times = count(json["times"]);
  if (json.contains("error")) {
    f.error = json["error"].get<std::string>();
    if (!support::isErrorName(*f.error))
      return bad("error: '" + *f.error + "' is no D-Bus error name");
  }
  if (json.contains("message")) f.message = json["message"].get<std::string>();
  if (json.contains("reply")) {
    const auto reply = json["reply"].get<std::string>();
    if (reply == "wrong-type") {
      f.reply = FaultReply::kWrongType;
    } else if (reply == "no-object") {
      f.reply = FaultReply::kNoObject;
    } else {
      return bad("reply: expected \"wrong-type\" or \"no-object\"");
    }
    if (f.error) return bad("a fault answers with either error or reply, not both");
  }
  if (json.contains("value")) {
    if (f.error || f.reply != FaultReply::kNone) {
      return bad("a fault answers with one of error, reply or value");
    }
    f.reply = FaultReply::kValue;
    f.value = json["value"];
  }
  if (json.contains("action")) {
    const auto action = json["action"].get<std::string>();
    if (action == "exit") {
      f.action = FaultAction::kExit;
    } else if (action == "hang") {
      f.action = FaultAction::kHang;
    } else if (action == "release-name") {
      f.action = FaultAction::kReleaseName;
    } else {
      return bad("action: expected \"exit\", \"hang\" or \"release-name\"");
    }
  }
  return Done{};
}

}  // namespace

Result<std::vector<Fault>> parseFaults(const Json& faults) {
  if (!faults.is_array()) return invalidArgs("faults: expected an array");
  std::vector<Fault> out;
  for (std::size_t i = 0; i < faults.size(); ++i) {
    Fault f;
    if (auto r = parseOne(faults[i], f); !succeeded(r)) {
      return invalidArgs("faults[" + std::to_string(i) + "]: " + failureOf(r)->message);
    }
    out.push_back(std::move(f));
  }
  return out;
}

const Fault* FaultTable::match(const RequestFacts& facts) {
  for (std::size_t i = 0; i < faults_.size(); ++i) {
    const Fault& f = faults_[i];
    if (f.member != facts.member) continue;
    if (f.path && *f.path != facts.path) continue;
    if (f.machine && (!facts.machineId || !support::canonicallyEqual(*f.machine, *facts.machineId)))
      continue;
    const std::uint64_t n = ++seen_[i];
    if (n <= f.after) continue;
    if (f.times && n - f.after > *f.times) continue;
    return &f;
  }
  return nullptr;
}

}  // namespace qor::host
