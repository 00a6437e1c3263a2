#include "host/core/dispatcher.h"

#include "contract/vocabulary.h"
#include "host/core/object_xml.h"
#include "host/core/properties.h"

namespace qor::host {
namespace {

// A request whose arguments do not spell out its signature, or hold data of another kind than
// their types, came from no bus; it is refused like one of a wrong signature.
bool argumentsMatchSignature(const Request& request) {
  std::string joined;
  for (const auto& a : request.args) {
    if (!contract::isWellFormed(a)) return false;
    joined += a.signature;
  }
  return joined == request.signature;
}

const MethodRow* findMethod(const Route& route, std::string_view member) {
  for (const auto& row : route.methods) {
    if (row.declared->name == member) return &row;
  }
  return nullptr;
}

}  // namespace

Dispatcher::Dispatcher(Backends backends, std::span<const Route> routes, Loop* loop)
    : backends_(backends),
      router_(routes),
      waits_(backends_, loop),
      context_{backends_, handles_, waits_, application_, router_} {}

void Dispatcher::handle(const Request& request, Completion<Values> done) {
  if (!argumentsMatchSignature(request)) {
    done(invalidArgs("The arguments do not match their signature."));
    return;
  }
  const ParsedPath parsed = router_.parse(request.path);
  const std::string_view iface = request.interface ? std::string_view(*request.interface) : "";
  if (request.member == "Introspect" &&
      (iface == contract::kIntrospectableInterface || iface.empty())) {
    if (!request.signature.empty()) {
      done(wrongSignature("", request.signature));
      return;
    }
    if (parsed.kind != ParsedPath::Kind::none) {
      done(introspect(context_, parsed, request.sender));
      return;
    }
  }
  if (iface == contract::kPeerInterface && request.member == "Ping" && request.signature.empty()) {
    done(Values{});
    return;
  }
  if (parsed.kind != ParsedPath::Kind::object) {
    done(noObject("There is no object at this path."));
    return;
  }
  // A VM manager the host cannot reach answers nothing, and says why.
  if (auto reachable = backends_.machines->reachable(); !succeeded(reachable)) {
    done(*failureOf(reachable));
    return;
  }
  auto target = router_.resolve(context_, parsed, request.sender);
  if (const auto* f = failureOf(target)) {
    done(*f);
    return;
  }
  dispatch(*parsed.route, std::get<Target>(std::move(target)), request, std::move(done));
}

void Dispatcher::dispatch(const Route& route, Target target, const Request& request,
                          Completion<Values> done) {
  const std::string own = contract::interfaceName(contract::shortName(route.objectClass));
  const std::string_view iface = request.interface ? std::string_view(*request.interface) : "";
  const bool propertyMember =
      request.member == "Get" || request.member == "GetAll" || request.member == "Set";
  if (iface == contract::kPropertiesInterface ||
      (iface.empty() && propertyMember && !findMethod(route, request.member))) {
    done(serveProperties(context_, route, target, request));
    return;
  }
  if (!iface.empty() && iface != own) {
    done(Failure{HostErrorKind::noInterface,
                 "The object has no interface " + std::string(iface) + "."});
    return;
  }
  const MethodRow* row = findMethod(route, request.member);
  if (!row) {
    done(Failure{HostErrorKind::noMethod, "The object has no method " + request.member + "."});
    return;
  }
  if (request.signature != row->declared->in) {
    done(wrongSignature(row->declared->in, request.signature));
    return;
  }
  row->handler(context_, target, request, std::move(done));
}

void Dispatcher::connectionLeft(const std::string& uniqueName) {
  handles_.connectionLeft(uniqueName, backends_);
  waits_.connectionLeft(uniqueName);
}

std::pair<std::string_view, bool> Dispatcher::answerType(const Request& request) const {
  const ParsedPath parsed = router_.parse(request.path);
  const std::string* name = request.args.size() > 1 ? contract::textOf(request.args[1]) : nullptr;
  if (request.member == "Get" && request.signature == "ss" && name) {
    const auto* p =
        parsed.route ? contract::findProperty(parsed.route->objectClass, *name) : nullptr;
    return {p ? p->type : std::string_view(), true};
  }
  const auto* m = parsed.route ? findMethod(*parsed.route, request.member) : nullptr;
  return {m ? m->declared->out : std::string_view(), false};
}

}  // namespace qor::host
