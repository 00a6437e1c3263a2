#include "host/core/value.h"

#include <cmath>

namespace qor::host {

nlohmann::ordered_json toJson(const Value& v) {
  if (const auto* b = std::get_if<bool>(&v.data)) return *b;
  if (const auto* i = std::get_if<std::int64_t>(&v.data)) return *i;
  if (const auto* u = std::get_if<std::uint64_t>(&v.data)) return *u;
  if (const auto* d = std::get_if<double>(&v.data)) {
    return std::isfinite(*d) ? nlohmann::ordered_json(*d) : nlohmann::ordered_json(nullptr);
  }
  if (const auto* s = std::get_if<std::string>(&v.data)) return *s;
  const auto& children = std::get<std::vector<Value>>(v.data);
  if (v.type() == 'v')
    return children.empty() ? nlohmann::ordered_json(nullptr) : toJson(children[0]);
  if (v.signature.rfind("a{", 0) == 0) {
    const bool textKeys = v.signature.size() > 2 &&
                          std::string_view("sog").find(v.signature[2]) != std::string_view::npos;
    nlohmann::ordered_json out =
        textKeys ? nlohmann::ordered_json::object() : nlohmann::ordered_json::array();
    for (const auto& entry : children) {
      const auto* kv = std::get_if<std::vector<Value>>(&entry.data);
      if (!kv || kv->size() != 2) continue;
      const auto* key = std::get_if<std::string>(&(*kv)[0].data);
      if (textKeys && key) {
        out[*key] = toJson((*kv)[1]);
      } else if (!textKeys) {
        out.push_back(nlohmann::ordered_json::array({toJson((*kv)[0]), toJson((*kv)[1])}));
      }
    }
    return out;
  }
  nlohmann::ordered_json out = nlohmann::ordered_json::array();
  for (const auto& c : children) out.push_back(toJson(c));
  return out;
}

}  // namespace qor::host
