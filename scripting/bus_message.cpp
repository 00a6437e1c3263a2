#include "scripting/bus_message.h"

#include <cerrno>
#include <limits>
#include <string_view>
#include <type_traits>

namespace qor::scripting {

namespace {

template <typename T>
int readBasic(sd_bus_message* message, char type, T& value) {
  return sd_bus_message_read_basic(message, type, &value);
}

// Reads one basic value of the given integer type as int64. 0 when the type is no integer.
int readAnyInteger(sd_bus_message* message, char type, std::int64_t& out) {
  auto widen = [&](auto value) {
    const int r = readBasic(message, type, value);
    if constexpr (std::is_same_v<decltype(value), std::uint64_t>) {
      constexpr auto kMax = static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max());
      out = value > kMax ? std::numeric_limits<std::int64_t>::max()
                         : static_cast<std::int64_t>(value);
    } else {
      out = static_cast<std::int64_t>(value);
    }
    return r < 0 ? r : 1;
  };
  switch (type) {
    case 'y':
      return widen(std::uint8_t{});
    case 'n':
      return widen(std::int16_t{});
    case 'q':
      return widen(std::uint16_t{});
    case 'i':
      return widen(std::int32_t{});
    case 'u':
      return widen(std::uint32_t{});
    case 'x':
      return widen(std::int64_t{});
    case 't':
      return widen(std::uint64_t{});
    default:
      return 0;
  }
}

int readVariantValue(sd_bus_message* message, RecordValue& value) {
  char type = 0;
  const char* contents = nullptr;
  int r = sd_bus_message_peek_type(message, &type, &contents);
  if (r <= 0) return r < 0 ? r : -EBADMSG;
  if (type != SD_BUS_TYPE_VARIANT || contents == nullptr) return -EBADMSG;
  const std::string_view signature(contents);

  const bool known = signature == "a{sv}" ||
                     (signature.size() == 1 &&
                      std::string_view("bsynqiuxt").find(signature[0]) != std::string_view::npos);
  if (!known) {
    value.value = RecordValue::Other{};
    return sd_bus_message_skip(message, "v");
  }
  r = sd_bus_message_enter_container(message, SD_BUS_TYPE_VARIANT, contents);
  if (r <= 0) return r < 0 ? r : -EBADMSG;
  if (signature == "a{sv}") {
    Record inner;
    r = readRecord(message, inner);
    value.value = std::move(inner);
  } else if (signature == "b") {
    bool flag = false;
    r = readBoolean(message, flag);
    value.value = flag;
  } else if (signature == "s") {
    std::string text;
    r = readText(message, text);
    value.value = std::move(text);
  } else {
    std::int64_t number = 0;
    r = readAnyInteger(message, signature[0], number);
    value.value = number;
  }
  if (r < 0) return r;
  return sd_bus_message_exit_container(message);
}

int appendVariantValue(sd_bus_message* message, const RecordValue& value) {
  if (const bool* flag = value.boolean()) {
    return sd_bus_message_append(message, "v", "b", static_cast<int>(*flag));
  }
  if (const std::int64_t* number = value.integer()) {
    return sd_bus_message_append(message, "v", "x", *number);
  }
  if (const std::string* text = value.text()) {
    int r = sd_bus_message_open_container(message, SD_BUS_TYPE_VARIANT, "s");
    if (r < 0) return r;
    if ((r = appendText(message, *text)) < 0) return r;
    return sd_bus_message_close_container(message);
  }
  if (const Record* inner = std::get_if<Record>(&value.value)) {
    int r = sd_bus_message_open_container(message, SD_BUS_TYPE_VARIANT, "a{sv}");
    if (r < 0) return r;
    r = appendRecord(message, *inner);
    if (r < 0) return r;
    return sd_bus_message_close_container(message);
  }
  return -EINVAL;  // an Other carries no value that could be sent back
}

template <typename Reader>
int readArray(sd_bus_message* message, const char* elementType, Reader readElement) {
  int r = sd_bus_message_enter_container(message, SD_BUS_TYPE_ARRAY, elementType);
  if (r <= 0) return r < 0 ? r : -EBADMSG;
  while ((r = sd_bus_message_at_end(message, 0)) == 0) {
    r = readElement();
    if (r < 0) return r;
  }
  if (r < 0) return r;
  return sd_bus_message_exit_container(message);
}

int readString(sd_bus_message* message, char type, std::string& out) {
  const char* text = nullptr;
  const int r = sd_bus_message_read_basic(message, type, &text);
  if (r <= 0) return r < 0 ? r : -EBADMSG;
  out = text;
  return r;
}

}  // namespace

int readText(sd_bus_message* message, std::string& text) {
  return readString(message, SD_BUS_TYPE_STRING, text);
}

int readObjectPath(sd_bus_message* message, std::string& path) {
  return readString(message, SD_BUS_TYPE_OBJECT_PATH, path);
}

int readBoolean(sd_bus_message* message, bool& value) {
  int flag = 0;
  const int r = sd_bus_message_read_basic(message, SD_BUS_TYPE_BOOLEAN, &flag);
  if (r <= 0) return r < 0 ? r : -EBADMSG;
  value = flag != 0;
  return r;
}

int readCode(sd_bus_message* message, std::uint32_t& code) {
  const int r = sd_bus_message_read_basic(message, SD_BUS_TYPE_UINT32, &code);
  return r == 0 ? -EBADMSG : r;
}

int readInteger(sd_bus_message* message, std::int64_t& value) {
  const int r = sd_bus_message_read_basic(message, SD_BUS_TYPE_INT64, &value);
  return r == 0 ? -EBADMSG : r;
}

int readObjectPaths(sd_bus_message* message, std::vector<std::string>& out) {
  out.clear();
  return readArray(message, "o", [&] {
    std::string path;
    const int r = readObjectPath(message, path);
    out.push_back(std::move(path));
    return r;
  });
}

int readTexts(sd_bus_message* message, std::vector<std::string>& out) {
  out.clear();
  return readArray(message, "s", [&] {
    std::string text;
    const int r = readText(message, text);
    out.push_back(std::move(text));
    return r;
  });
}

int readRecord(sd_bus_message* message, Record& record) {
  record.clear();
  return readArray(message, "{sv}", [&] {
    int r = sd_bus_message_enter_container(message, SD_BUS_TYPE_DICT_ENTRY, "sv");
    if (r <= 0) return r < 0 ? r : -EBADMSG;
    std::string key;
    if ((r = readText(message, key)) < 0) return r;
    RecordValue value;
    if ((r = readVariantValue(message, value)) < 0) return r;
    record.push_back({std::move(key), std::move(value)});
    return sd_bus_message_exit_container(message);
  });
}

int appendText(sd_bus_message* message, const std::string& text) {
  if (text.find('\0') != std::string::npos) return -EINVAL;
  return sd_bus_message_append_basic(message, SD_BUS_TYPE_STRING, text.c_str());
}

int appendTexts(sd_bus_message* message, const std::vector<std::string>& texts) {
  int r = sd_bus_message_open_container(message, SD_BUS_TYPE_ARRAY, "s");
  if (r < 0) return r;
  for (const auto& text : texts) {
    if ((r = appendText(message, text)) < 0) return r;
  }
  return sd_bus_message_close_container(message);
}

int appendRecord(sd_bus_message* message, const Record& record) {
  int r = sd_bus_message_open_container(message, SD_BUS_TYPE_ARRAY, "{sv}");
  if (r < 0) return r;
  for (const auto& [key, value] : record) {
    if ((r = sd_bus_message_open_container(message, SD_BUS_TYPE_DICT_ENTRY, "sv")) < 0) return r;
    if ((r = appendText(message, key)) < 0) return r;
    if ((r = appendVariantValue(message, value)) < 0) return r;
    if ((r = sd_bus_message_close_container(message)) < 0) return r;
  }
  return sd_bus_message_close_container(message);
}

}  // namespace qor::scripting
