#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace qor::contract {

// One D-Bus value of any type, as it arrives in a request or leaves in a reply. `signature` is
// the complete single type ("s", "ao", "a{sv}", "v"); containers keep their elements in
// `data` as a vector (a variant holds exactly one element, a dict entry two).
struct Value {
  std::string signature;
  std::variant<bool, std::int64_t, std::uint64_t, double, std::string, std::vector<Value>> data;

  char type() const { return signature.empty() ? '\0' : signature.front(); }

  static Value boolean(bool b) { return {"b", b}; }
  static Value int32(std::int32_t i) { return {"i", std::int64_t{i}}; }
  static Value uint32(std::uint32_t u) { return {"u", std::uint64_t{u}}; }
  static Value int64(std::int64_t i) { return {"x", i}; }
  static Value string(std::string s) { return {"s", std::move(s)}; }
  static Value objectPath(std::string s) { return {"o", std::move(s)}; }
  static Value variant(Value inner);
  static Value array(std::string elementSignature, std::vector<Value> elements);
  static Value stringArray(const std::vector<std::string>& texts);
  static Value objectPathArray(const std::vector<std::string>& paths);
};

// A record (a{sv}) built key by key, in the order the keys are added.
class RecordBuilder {
 public:
  RecordBuilder& add(std::string key, Value value);
  Value build() &&;

 private:
  std::vector<Value> entries_;
};

// Safe readers: they answer nullopt (or nullptr) for a value of another type, so a handler never
// trusts the shape of what a client sent.
const std::string* textOf(const Value& v);  // s, o or g
std::optional<bool> booleanOf(const Value& v);
std::optional<std::int64_t> signedOf(const Value& v);   // y n q i u x, and t when it fits
std::optional<std::uint32_t> uint32Of(const Value& v);  // u only
const std::vector<Value>* elementsOf(const Value& v);   // a, (, {, v

// The entries of an a{s…} dictionary by key; nullopt when `v` is no such dictionary.
std::optional<std::vector<std::pair<std::string, const Value*>>> dictionaryOf(const Value& v);

// Whether the data of `v` (and of everything inside it) is of the kind its signature says, so
// the safe readers above answer for every value a handler expects. A bus always delivers such
// values; a request built by hand (a test, a fuzzer) may not.
bool isWellFormed(const Value& v);

// Whether `s` is one complete D-Bus type made only of basic types ("s", "u", …).
bool isBasicSignature(std::string_view s);
bool isValidObjectPath(std::string_view s);

}  // namespace qor::contract
