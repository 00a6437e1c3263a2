#include "scripting/record.h"

#include <limits>

namespace qor::scripting {
namespace {

using contract::Value;

RecordValue recordValueOf(const Value& inner) {
  const std::string& signature = inner.signature;
  if (signature == "a{sv}") {
    if (auto nested = recordOf(inner)) return {std::move(*nested)};
    return {RecordValue::Other{}};
  }
  if (signature.size() != 1) return {RecordValue::Other{}};
  if (signature == "b") {
    if (const auto* flag = std::get_if<bool>(&inner.data)) return {*flag};
  } else if (signature == "s") {
    if (const auto* text = std::get_if<std::string>(&inner.data)) return {*text};
  } else if (std::string_view("ynqiuxt").find(signature[0]) != std::string_view::npos) {
    if (const auto* number = std::get_if<std::int64_t>(&inner.data)) return {*number};
    if (const auto* number = std::get_if<std::uint64_t>(&inner.data)) {
      constexpr auto kMax = static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max());
      return {*number > kMax ? std::numeric_limits<std::int64_t>::max()
                             : static_cast<std::int64_t>(*number)};
    }
  }
  return {RecordValue::Other{}};
}

}  // namespace

const RecordValue* find(const Record& record, std::string_view key) {
  for (const auto& [entryKey, value] : record) {
    if (entryKey == key) return &value;
  }
  return nullptr;
}

std::optional<Record> recordOf(const Value& value) {
  if (value.signature != "a{sv}") return std::nullopt;
  const auto entries = contract::dictionaryOf(value);
  if (!entries) return std::nullopt;
  Record record;
  for (const auto& [key, variant] : *entries) {
    const auto* contents = contract::elementsOf(*variant);
    if (variant->type() != 'v' || contents == nullptr || contents->size() != 1) {
      return std::nullopt;
    }
    record.push_back({key, recordValueOf(contents->front())});
  }
  return record;
}

std::optional<Value> valueOfRecord(const Record& record) {
  contract::RecordBuilder builder;
  for (const auto& [key, entry] : record) {
    if (const bool* flag = entry.boolean()) {
      builder.add(key, Value::boolean(*flag));
    } else if (const std::int64_t* number = entry.integer()) {
      builder.add(key, Value::int64(*number));
    } else if (const std::string* text = entry.text()) {
      builder.add(key, Value::string(*text));
    } else if (const auto* nested = std::get_if<Record>(&entry.value)) {
      auto inner = valueOfRecord(*nested);
      if (!inner) return std::nullopt;
      builder.add(key, std::move(*inner));
    } else {
      return std::nullopt;
    }
  }
  return std::move(builder).build();
}

}  // namespace qor::scripting
