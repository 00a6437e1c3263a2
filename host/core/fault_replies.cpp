#include "host/core/dispatcher.h"
#include "host/core/record_json.h"

namespace qor::host {
namespace {


const std::string* textArg(const Request& request, std::size_t i) {
  return i < request.args.size() ? textOf(request.args[i]) : nullptr;
}

}  // namespace

RequestFacts Dispatcher::factsOf(const Request& request) {
  RequestFacts facts;
  facts.path = request.path;
  facts.member = request.member;
  const bool propertyCall = (request.member == "Get" && request.signature == "ss") ||
                            (request.member == "Set" && request.signature == "ssv");
  const std::string* name = textArg(request, 1);
  if (propertyCall && name && (!request.interface || *request.interface == kPropertiesInterface)) {
    facts.member += "." + *name;
  }
  const ParsedPath parsed = parsePath(request.path);
  if (!parsed.machinePath.empty()) {
    if (const auto key = resolveMachine(parsed)) {
      if (auto m = backend_.machine(*key); m && m->id) facts.machineId = *m->id;
    }
  }
  return facts;
}

std::pair<std::string_view, bool> Dispatcher::answerType(const Request& request) {
  const ParsedPath parsed = parsePath(request.path);
  const std::string* name = textArg(request, 1);
  if (request.member == "Get" && request.signature == "ss" && name) {
    const auto* entry = findProperty(parsed.kind, *name);
    return {entry ? entry->type : std::string_view(), true};
  }
  const auto* entry = findMethod(parsed.kind, request.member);
  return {entry ? entry->declared->out : std::string_view(), false};
}

Reply Dispatcher::substituteReply(const Request& request, FaultReply kind) {
  auto [type, get] = answerType(request);
  if (get && type.empty()) type = "s";
  Value value = kind == FaultReply::kNoObject ? Value::objectPath("/")
                : type == "s"                 ? Value::int32(0)
                                              : Value::string("a value of another type");
  return Reply::of(get ? Value::variant(std::move(value)) : std::move(value));
}

Reply Dispatcher::replyWithValue(const Request& request, const Json& json) {
  const auto [type, get] = answerType(request);
  if (type.empty()) {
    return Reply::failure(failed("The fault's value answers a request with no result."));
  }
  auto value = valueFromJson(json, type);
  if (auto* e = std::get_if<std::string>(&value)) {
    return Reply::failure(failed("The fault's value is no " + std::string(type) + ": " + *e));
  }
  Value answer = std::get<Value>(std::move(value));
  return Reply::of(get ? Value::variant(std::move(answer)) : std::move(answer));
}

}  // namespace qor::host
