#include "contract/value.h"

#include <cmath>
#include <limits>

namespace qor::contract {

Value Value::variant(Value inner) {
  std::vector<Value> one;
  one.push_back(std::move(inner));
  return {"v", std::move(one)};
}

Value Value::array(std::string elementSignature, std::vector<Value> elements) {
  return {"a" + elementSignature, std::move(elements)};
}

Value Value::stringArray(const std::vector<std::string>& texts) {
  std::vector<Value> elements;
  elements.reserve(texts.size());
  for (const auto& t : texts) elements.push_back(string(t));
  return array("s", std::move(elements));
}

Value Value::objectPathArray(const std::vector<std::string>& paths) {
  std::vector<Value> elements;
  elements.reserve(paths.size());
  for (const auto& p : paths) elements.push_back(objectPath(p));
  return array("o", std::move(elements));
}

RecordBuilder& RecordBuilder::add(std::string key, Value value) {
  std::vector<Value> pair;
  pair.push_back(Value::string(std::move(key)));
  pair.push_back(Value::variant(std::move(value)));
  entries_.push_back(Value{"{sv}", std::move(pair)});
  return *this;
}

Value RecordBuilder::build() && {
  return Value::array("{sv}", std::move(entries_));
}

const std::string* textOf(const Value& v) {
  const char t = v.type();
  if (t != 's' && t != 'o' && t != 'g') return nullptr;
  return std::get_if<std::string>(&v.data);
}

std::optional<bool> booleanOf(const Value& v) {
  if (v.type() != 'b') return std::nullopt;
  if (const auto* b = std::get_if<bool>(&v.data)) return *b;
  return std::nullopt;
}

std::optional<std::int64_t> signedOf(const Value& v) {
  if (v.signature.size() != 1) return std::nullopt;
  if (const auto* i = std::get_if<std::int64_t>(&v.data)) {
    if (std::string_view("nix").find(v.type()) != std::string_view::npos) return *i;
  }
  if (const auto* u = std::get_if<std::uint64_t>(&v.data)) {
    if (std::string_view("yqut").find(v.type()) == std::string_view::npos) return std::nullopt;
    if (*u > static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max())) {
      return std::nullopt;
    }
    return static_cast<std::int64_t>(*u);
  }
  return std::nullopt;
}

std::optional<std::uint32_t> uint32Of(const Value& v) {
  if (v.signature != "u") return std::nullopt;
  const auto* u = std::get_if<std::uint64_t>(&v.data);
  if (!u || *u > 0xFFFFFFFFu) return std::nullopt;
  return static_cast<std::uint32_t>(*u);
}

const std::vector<Value>* elementsOf(const Value& v) {
  const char t = v.type();
  if (t != 'a' && t != '(' && t != '{' && t != 'v') return nullptr;
  return std::get_if<std::vector<Value>>(&v.data);
}

std::optional<std::vector<std::pair<std::string, const Value*>>> dictionaryOf(const Value& v) {
  if (v.signature.rfind("a{s", 0) != 0) return std::nullopt;
  const auto* entries = elementsOf(v);
  if (!entries) return std::nullopt;
  std::vector<std::pair<std::string, const Value*>> out;
  for (const auto& entry : *entries) {
    const auto* kv = elementsOf(entry);
    if (!kv || kv->size() != 2) return std::nullopt;
    const auto* key = textOf((*kv)[0]);
    if (!key) return std::nullopt;
    out.emplace_back(*key, &(*kv)[1]);
  }
  return out;
}

bool isWellFormed(const Value& v) {
  const std::string& sig = v.signature;
  if (sig.empty()) return false;
  if (sig.size() == 1) {
    switch (sig[0]) {
      case 'b':
        return std::holds_alternative<bool>(v.data);
      case 'n':
      case 'i':
      case 'x':
      case 'h':
        return std::holds_alternative<std::int64_t>(v.data);
      case 'y':
      case 'q':
      case 'u':
      case 't':
        return std::holds_alternative<std::uint64_t>(v.data);
      case 'd':
        return std::holds_alternative<double>(v.data);
      case 's':
      case 'o':
      case 'g':
        return std::holds_alternative<std::string>(v.data);
      case 'v':
        break;
      default:
        return false;
    }
  }
  const auto* children = std::get_if<std::vector<Value>>(&v.data);
  if (!children) return false;
  for (const auto& c : *children) {
    if (!isWellFormed(c)) return false;
  }
  switch (sig[0]) {
    case 'v':
      return children->size() == 1;
    case 'a':
      for (const auto& c : *children) {
        if (c.signature != std::string_view(sig).substr(1)) return false;
      }
      return sig.size() > 1;
    case '(':
    case '{': {
      if (sig.size() < 3 || sig.back() != (sig[0] == '(' ? ')' : '}')) return false;
      std::string joined;
      for (const auto& c : *children) joined += c.signature;
      return joined == std::string_view(sig).substr(1, sig.size() - 2) &&
             (sig[0] == '(' || children->size() == 2);
    }
    default:
      return false;
  }
}

bool isBasicSignature(std::string_view s) {
  return s.size() == 1 && std::string_view("ybnqiuxtdsog").find(s[0]) != std::string_view::npos;
}

bool isValidObjectPath(std::string_view s) {
  if (s.empty() || s.front() != '/') return false;
  if (s.size() == 1) return true;
  if (s.back() == '/') return false;
  bool previousSlash = false;
  for (char c : s) {
    const bool ok = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') ||
                    c == '_' || c == '/';
    if (!ok) return false;
    if (c == '/' && previousSlash) return false;
    previousSlash = c == '/';
  }
  return true;
}

}  // namespace qor::contract
