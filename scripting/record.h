#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "contract/value.h"

namespace qor::scripting {

// A value in a record (a{sv}). Values of other D-Bus types than these read as `Other`.
// A record's entries are a struct of their own rather than std::pair: clang cannot instantiate
// std::pair<std::string, RecordValue> while the variant holding the record is being defined.
struct RecordEntry;
using Record = std::vector<RecordEntry>;
struct RecordValue {
  struct Other {};
  std::variant<Other, bool, std::int64_t, std::string, Record> value;

  const bool* boolean() const;
  const std::int64_t* integer() const;
  const std::string* text() const;
};
struct RecordEntry {
  std::string first;  // the key
  RecordValue second;
};
inline const bool* RecordValue::boolean() const {
  return std::get_if<bool>(&value);
}
inline const std::int64_t* RecordValue::integer() const {
  return std::get_if<std::int64_t>(&value);
}
inline const std::string* RecordValue::text() const {
  return std::get_if<std::string>(&value);
}
const RecordValue* find(const Record& record, std::string_view key);

// An a{sv} as a record: any D-Bus integer type reads as int64 (a uint64 above INT64_MAX
// saturates), b as a boolean, s as text, a nested a{sv} as a record; every other type reads as
// RecordValue::Other. Nullopt for a value that is no a{sv}.
std::optional<Record> recordOf(const contract::Value& value);

// The a{sv} that carries a record: b, x, s and nested a{sv}. Nullopt when it holds an Other,
// which carries no value that could be sent back.
std::optional<contract::Value> valueOfRecord(const Record& record);

}  // namespace qor::scripting
