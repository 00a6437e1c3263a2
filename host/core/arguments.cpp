#include "host/core/arguments.h"

namespace qor::host {
namespace {

using contract::dictionaryOf;
using contract::elementsOf;
using contract::textOf;
using contract::Value;

Failure badRecord() {
  return invalidArgs(
      "The properties must hold only \"configuration\": a record that is empty or holds only "
      "\"name\", a string.");
}

const Value* variantContent(const Value& v) {
  if (v.signature != "v") return nullptr;
  const auto* inner = elementsOf(v);
  return inner && inner->size() == 1 ? &(*inner)[0] : nullptr;
}

}  // namespace

Result<std::optional<std::string>> duplicateName(const Value& properties) {
  if (properties.signature != "a{sv}") return badRecord();
  const auto outer = dictionaryOf(properties);
  if (!outer || outer->size() != 1 || (*outer)[0].first != "configuration") return badRecord();
  const Value* configuration = variantContent(*(*outer)[0].second);
  if (!configuration || configuration->signature != "a{sv}") return badRecord();
  const auto inner = dictionaryOf(*configuration);
  if (!inner || inner->size() > 1) return badRecord();
  if (inner->empty()) return std::optional<std::string>();
  if ((*inner)[0].first != "name") return badRecord();
  const Value* name = variantContent(*(*inner)[0].second);
  if (!name || name->signature != "s") return badRecord();
  return std::optional<std::string>(*textOf(*name));
}

std::vector<std::string> textsOf(const Value& array) {
  std::vector<std::string> out;
  if (const auto* elements = elementsOf(array)) {
    for (const auto& e : *elements) out.push_back(*textOf(e));
  }
  return out;
}

}  // namespace qor::host
