#include "host/diagnostics/diagnostics.h"

#include <unistd.h>

#include <cstdio>

#include "contract/errors.h"
#include "contract/vocabulary.h"
#include "host/backend/json_values.h"

namespace qor::host {
namespace {

using contract::Value;

const std::string* textArg(const Request& request, std::size_t i) {
  return i < request.args.size() ? contract::textOf(request.args[i]) : nullptr;
}

}  // namespace

Diagnostics::Diagnostics(Dispatcher& dispatcher, std::vector<Fault> faults,
                         std::function<void()> releaseName)
    : dispatcher_(dispatcher), faults_(std::move(faults)), releaseName_(std::move(releaseName)) {}

void Diagnostics::dispatch(const Request& request, Completion<Reply> done) {
  dispatcher_.handle(request, Completion<Values>([done](Result<Values> outcome) {
                       done(Reply::from(std::move(outcome)));
                     }));
}

void Diagnostics::serve(const Request& request, Completion<Reply> done) {
  const Fault* fault = faults_.match(factsOf(request));
  if (!fault) {
    dispatch(request, std::move(done));
    return;
  }
  switch (fault->action) {
    case FaultAction::kExit:
      std::fflush(nullptr);
      ::_exit(0);
    case FaultAction::kHang:
      hung_.push_back(std::move(done));  // never answered; other requests go on being served
      return;
    case FaultAction::kReleaseName:
      if (releaseName_) releaseName_();
      break;
    case FaultAction::kNone:
      break;
  }
  if (fault->reply == FaultReply::kValue) {
    done(replyWithValue(request, fault->value));
  } else if (fault->reply != FaultReply::kNone) {
    done(substituteReply(request, fault->reply));
  } else if (fault->error || fault->action == FaultAction::kNone) {
    done(Reply::named(
        fault->error ? *fault->error : std::string(contract::error_names::kHostFailed),
        fault->error || !fault->message.empty() ? fault->message : "The request failed."));
  } else {
    dispatch(request, std::move(done));
  }
}

RequestFacts Diagnostics::factsOf(const Request& request) {
  RequestFacts facts;
  facts.path = request.path;
  facts.member = request.member;
  const bool propertyCall = (request.member == "Get" && request.signature == "ss") ||
                            (request.member == "Set" && request.signature == "ssv");
  const std::string* name = textArg(request, 1);
  if (propertyCall && name &&
      (!request.interface || *request.interface == contract::kPropertiesInterface)) {
    facts.member += "." + *name;
  }
  auto& context = dispatcher_.context();
  const ParsedPath parsed = context.router.parse(request.path);
  if (parsed.namesMachine) {
    if (const auto key = context.router.machineOf(context, parsed.captures)) {
      if (auto m = context.backends.machines->info(*key); m && m->id) facts.machineId = *m->id;
    }
  }
  return facts;
}

Reply Diagnostics::substituteReply(const Request& request, FaultReply kind) {
  auto [type, get] = dispatcher_.answerType(request);
  if (get && type.empty()) type = "s";
  Value value = kind == FaultReply::kNoObject ? Value::objectPath("/")
                : type == "s"                 ? Value::int32(0)
                                              : Value::string("a value of another type");
  return Reply::of({get ? Value::variant(std::move(value)) : std::move(value)});
}

Reply Diagnostics::replyWithValue(const Request& request, const Json& json) {
  const auto [type, get] = dispatcher_.answerType(request);
  if (type.empty()) {
    return Reply::failure(failed("The fault's value answers a request with no result."));
  }
  auto value = valueFromJson(json, type);
  if (const auto* f = failureOf(value)) {
    return Reply::failure(
        failed("The fault's value is no " + std::string(type) + ": " + f->message));
  }
  Value answer = std::get<Value>(std::move(value));
  return Reply::of({get ? Value::variant(std::move(answer)) : std::move(answer)});
}

}  // namespace qor::host
