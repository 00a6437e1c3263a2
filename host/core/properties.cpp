#include "host/core/properties.h"

#include "contract/vocabulary.h"

namespace qor::host {
namespace {

using contract::Value;

const PropertyRow* findRow(const Route& route, std::string_view name) {
  for (const auto& row : route.properties) {
    if (row.declared->name == name) return &row;
  }
  return nullptr;
}

// An interface argument names this object's interface, or none.
Result<Done> checkInterface(const Route& route, const Value& v) {
  const std::string* name = contract::textOf(v);
  const std::string own = contract::interfaceName(contract::shortName(route.objectClass));
  if (!name || name->empty() || *name == own) return Done{};
  return Failure{HostErrorKind::noInterface, "The object has no interface " + *name + "."};
}

Result<Values> setProperty(Context& context, const PropertyRow& row, const Target& target,
                           const Value& value) {
  const auto& p = *row.declared;
  if (!p.settable || !row.set) {
    return Failure{HostErrorKind::readOnly,
                   "The property " + std::string(p.name) + " cannot be changed."};
  }
  const auto* inner = contract::elementsOf(value);
  const Value* v = inner && inner->size() == 1 ? &(*inner)[0] : nullptr;
  if (!v || v->signature != p.type) {
    return invalidArgs("The property " + std::string(p.name) + " takes a value of type '" +
                       std::string(p.type) + "'.");
  }
  auto done = row.set(context, target, *v);
  if (const auto* f = failureOf(done)) return *f;
  return Values{};
}

}  // namespace

Result<Values> serveProperties(Context& context, const Route& route, const Target& target,
                               const Request& request) {
  if (request.member == "GetAll") {
    if (request.signature != "s") return wrongSignature("s", request.signature);
    if (auto c = checkInterface(route, request.args[0]); !succeeded(c)) return *failureOf(c);
    contract::RecordBuilder all;
    for (const auto& row : route.properties) {
      auto value = row.get(context, target);
      if (auto* v = std::get_if<Value>(&value))
        all.add(std::string(row.declared->name), std::move(*v));
    }
    return Values{std::move(all).build()};
  }
  const bool get = request.member == "Get";
  if (!get && request.member != "Set") {
    return Failure{HostErrorKind::noMethod,
                   "The properties interface has no method " + request.member + "."};
  }
  const std::string_view expected = get ? "ss" : "ssv";
  if (request.signature != expected) return wrongSignature(expected, request.signature);
  if (auto c = checkInterface(route, request.args[0]); !succeeded(c)) return *failureOf(c);
  const std::string& name = *contract::textOf(request.args[1]);
  const PropertyRow* row = findRow(route, name);
  if (!row) {
    return Failure{HostErrorKind::noProperty, "The object has no property " + name + "."};
  }
  if (!get) return setProperty(context, *row, target, request.args[2]);
  auto value = row->get(context, target);
  if (const auto* f = failureOf(value)) return *f;
  return Values{Value::variant(std::get<Value>(std::move(value)))};
}

}  // namespace qor::host
