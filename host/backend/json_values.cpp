#include "host/backend/json_values.h"

#include <cmath>
#include <cstdint>
#include <limits>

namespace qor::host {
namespace {

using contract::dictionaryOf;
using contract::elementsOf;
using contract::isBasicSignature;
using contract::isValidObjectPath;
using contract::RecordBuilder;
using contract::textOf;
using contract::Value;

using Outcome = Result<Value>;

bool isValidSignature(const std::string& s) {
  // Only what a record may carry here: a run of basic types.
  if (s.size() > 255) return false;
  for (char c : s) {
    if (!isBasicSignature(std::string_view(&c, 1))) return false;
  }
  return true;
}

Outcome integerValue(const std::string& type, const Json& v) {
  struct Range {
    char type;
    std::int64_t min;
    std::uint64_t max;
  };
  static constexpr Range kRanges[] = {
      {'y', 0, 0xFF},
      {'n', -32768, 32767},
      {'q', 0, 0xFFFF},
      {'i', std::numeric_limits<std::int32_t>::min(), 0x7FFFFFFF},
      {'u', 0, 0xFFFFFFFF},
      {'x', std::numeric_limits<std::int64_t>::min(),
       static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max())},
      {'t', 0, std::numeric_limits<std::uint64_t>::max()},
  };
  for (const auto& r : kRanges) {
    if (r.type != type[0]) continue;
    if (v.is_number_unsigned()) {
      const auto u = v.get<std::uint64_t>();
      if (u > r.max) break;
      if (r.min < 0) return Value{type, static_cast<std::int64_t>(u)};
      return Value{type, u};
    }
    if (v.is_number_integer()) {
      const auto i = v.get<std::int64_t>();
      if (i < r.min) break;
      if (r.min < 0) return Value{type, i};
      return Value{type, static_cast<std::uint64_t>(i)};
    }
    break;
  }
  return invalidArgs("value out of range for type '" + type + "'");
}

Outcome typedValue(const Json& typed) {
  if (typed.size() != 2 || !typed.contains("type") || !typed.contains("value") ||
      !typed["type"].is_string()) {
    return invalidArgs("expected {\"type\": …, \"value\": …}");
  }
  const auto type = typed["type"].get<std::string>();
  const Json& v = typed["value"];
  if (!isBasicSignature(type)) return invalidArgs("'" + type + "' is not a basic D-Bus type");
  switch (type[0]) {
    case 'b':
      if (v.is_boolean()) return Value::boolean(v.get<bool>());
      break;
    case 'd':
      if (v.is_number()) return Value{"d", v.get<double>()};
      break;
    case 's':
      if (v.is_string()) return Value::string(v.get<std::string>());
      break;
    case 'o':
      if (v.is_string() && isValidObjectPath(v.get<std::string>())) {
        return Value::objectPath(v.get<std::string>());
      }
      break;
    case 'g':
      if (v.is_string() && isValidSignature(v.get<std::string>())) {
        return Value{"g", v.get<std::string>()};
      }
      break;
    default:
      if (v.is_number_integer()) return integerValue(type, v);
      break;
  }
  return invalidArgs("not a valid value of type '" + type + "'");
}

Outcome plainValue(const Json& v) {
  if (v.is_boolean()) return Value::boolean(v.get<bool>());
  if (v.is_number_unsigned() &&
      v.get<std::uint64_t>() >
          static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max())) {
    return Value{"t", v.get<std::uint64_t>()};
  }
  if (v.is_number_integer()) return Value::int64(v.get<std::int64_t>());
  if (v.is_number_float()) return Value{"d", v.get<double>()};
  if (v.is_string()) return Value::string(v.get<std::string>());
  if (v.is_object()) return typedValue(v);
  return invalidArgs("expected a boolean, number, string or {\"type\", \"value\"}");
}

}  // namespace

std::optional<std::uint32_t> codeFromJson(const Json& value) {
  if (value.is_string()) {
    const auto& s = value.get_ref<const std::string&>();
    if (s.size() != 4) return std::nullopt;
    std::uint32_t code = 0;
    for (char c : s) {
      if (static_cast<unsigned char>(c) >= 0x80) return std::nullopt;
      code = (code << 8) | static_cast<unsigned char>(c);
    }
    return code;
  }
  if (value.is_number_unsigned()) {
    const auto u = value.get<std::uint64_t>();
    if (u <= 0xFFFFFFFFu) return static_cast<std::uint32_t>(u);
    return std::nullopt;
  }
  if (value.is_number_integer()) {
    const auto i = value.get<std::int64_t>();
    if (i >= std::numeric_limits<std::int32_t>::min() && i < 0) {
      return static_cast<std::uint32_t>(static_cast<std::int32_t>(i));
    }
  }
  return std::nullopt;
}

Json codeToJson(std::uint32_t code) {
  std::string s;
  for (int shift = 24; shift >= 0; shift -= 8) {
    const auto c = static_cast<char>((code >> shift) & 0xFF);
    if (c < 0x20 || c > 0x7E) return code;
    s += c;
  }
  return s;
}

Result<Value> recordFromJson(const Json& record) {
  if (!record.is_object()) return invalidArgs("a record must be a JSON object");
  RecordBuilder builder;
  for (const auto& [key, v] : record.items()) {
    auto value = plainValue(v);
    if (const auto* f = failureOf(value)) return invalidArgs(key + ": " + f->message);
    builder.add(key, std::get<Value>(std::move(value)));
  }
  return std::move(builder).build();
}

Result<Value> valueFromJson(const Json& json, std::string_view signature) {
  const std::string type(signature);
  if (type == "a{sv}") return recordFromJson(json);
  if (type.size() > 1 && type[0] == 'a') {
    if (!json.is_array()) return invalidArgs("expected a JSON array for type '" + type + "'");
    const std::string element = type.substr(1);
    std::vector<Value> elements;
    for (const auto& item : json) {
      auto value = valueFromJson(item, element);
      if (const auto* f = failureOf(value)) return *f;
      elements.push_back(std::get<Value>(std::move(value)));
    }
    return Value::array(element, std::move(elements));
  }
  if (type == "u" && json.is_string()) {
    if (auto code = codeFromJson(json)) return Value::uint32(*code);
    return invalidArgs("'" + json.get<std::string>() + "' is no four-character code");
  }
  if (!isBasicSignature(type)) return invalidArgs("no value can be given for type '" + type + "'");
  return typedValue(Json{{"type", type}, {"value", json}});
}

Json toJson(const contract::Value& v) {
  if (const auto* b = std::get_if<bool>(&v.data)) return *b;
  if (const auto* i = std::get_if<std::int64_t>(&v.data)) return *i;
  if (const auto* u = std::get_if<std::uint64_t>(&v.data)) return *u;
  if (const auto* d = std::get_if<double>(&v.data)) {
    return std::isfinite(*d) ? Json(*d) : Json(nullptr);
  }
  if (const auto* s = std::get_if<std::string>(&v.data)) return *s;
  const auto& children = std::get<std::vector<Value>>(v.data);
  if (v.type() == 'v') return children.empty() ? Json(nullptr) : toJson(children[0]);
  if (v.signature.rfind("a{", 0) == 0) {
    const bool textKeys = v.signature.size() > 2 &&
                          std::string_view("sog").find(v.signature[2]) != std::string_view::npos;
    Json out = textKeys ? Json::object() : Json::array();
    for (const auto& entry : children) {
      const auto* kv = std::get_if<std::vector<Value>>(&entry.data);
      if (!kv || kv->size() != 2) continue;
      const auto* key = std::get_if<std::string>(&(*kv)[0].data);
      if (textKeys && key) {
        out[*key] = toJson((*kv)[1]);
      } else if (!textKeys) {
        out.push_back(Json::array({toJson((*kv)[0]), toJson((*kv)[1])}));
      }
    }
    return out;
  }
  Json out = Json::array();
  for (const auto& c : children) out.push_back(toJson(c));
  return out;
}

}  // namespace qor::host
