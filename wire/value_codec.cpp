#include "wire/value_codec.h"

#include <cerrno>
#include <cstdint>
#include <string>
#include <string_view>

namespace qor::wire {

using contract::Value;

namespace {

template <class T>
int readBasic(sd_bus_message* m, char type, T& out) {
  return sd_bus_message_read_basic(m, type, &out);
}

int readOne(sd_bus_message* m, char type, const char* contents, Value& out);

int readContainer(sd_bus_message* m, char type, const char* contents, Value& out) {
  // Appended piece by piece: GCC 12 warns falsely (-Wrestrict) on "a" + std::string here.
  const std::string_view inner = contents ? contents : "";
  out.signature.clear();
  switch (type) {
    case SD_BUS_TYPE_ARRAY:
      out.signature += 'a';
      out.signature += inner;
      break;
    case SD_BUS_TYPE_VARIANT:
      out.signature += 'v';
      break;
    case SD_BUS_TYPE_STRUCT:
      out.signature += '(';
      out.signature += inner;
      out.signature += ')';
      break;
    default:
      out.signature += '{';
      out.signature += inner;
      out.signature += '}';
      break;
  }
  int r = sd_bus_message_enter_container(m, type, contents);
  if (r < 0) return r;
  std::vector<Value> children;
  for (;;) {
    char t = 0;
    const char* c = nullptr;
    r = sd_bus_message_peek_type(m, &t, &c);
    if (r < 0) return r;
    if (r == 0) break;
    Value child;
    r = readOne(m, t, c, child);
    if (r < 0) return r;
    children.push_back(std::move(child));
  }
  out.data = std::move(children);
  return sd_bus_message_exit_container(m);
}

int readOne(sd_bus_message* m, char type, const char* contents, Value& out) {
  int r = 0;
  out.signature = std::string(1, type);
  switch (type) {
    case 'b': {
      int b = 0;
      r = readBasic(m, type, b);
      out.data = b != 0;
      break;
    }
    case 'y': {
      std::uint8_t v = 0;
      r = readBasic(m, type, v);
      out.data = std::uint64_t{v};
      break;
    }
    case 'n': {
      std::int16_t v = 0;
      r = readBasic(m, type, v);
      out.data = std::int64_t{v};
      break;
    }
    case 'q': {
      std::uint16_t v = 0;
      r = readBasic(m, type, v);
      out.data = std::uint64_t{v};
      break;
    }
    case 'i':
    case 'h': {
      std::int32_t v = 0;
      r = readBasic(m, type, v);
      out.data = std::int64_t{v};
      break;
    }
    case 'u': {
      std::uint32_t v = 0;
      r = readBasic(m, type, v);
      out.data = std::uint64_t{v};
      break;
    }
    case 'x': {
      std::int64_t v = 0;
      r = readBasic(m, type, v);
      out.data = v;
      break;
    }
    case 't': {
      std::uint64_t v = 0;
      r = readBasic(m, type, v);
      out.data = v;
      break;
    }
    case 'd': {
      double v = 0;
      r = readBasic(m, type, v);
      out.data = v;
      break;
    }
    case 's':
    case 'o':
    case 'g': {
      const char* v = nullptr;
      r = readBasic(m, type, v);
      out.data = std::string(v ? v : "");
      break;
    }
    default:
      return readContainer(m, type, contents, out);
  }
  return r;
}

std::int64_t signedData(const Value& v) {
  if (const auto* i = std::get_if<std::int64_t>(&v.data)) return *i;
  if (const auto* u = std::get_if<std::uint64_t>(&v.data)) return static_cast<std::int64_t>(*u);
  return 0;
}

std::uint64_t unsignedData(const Value& v) {
  if (const auto* u = std::get_if<std::uint64_t>(&v.data)) return *u;
  if (const auto* i = std::get_if<std::int64_t>(&v.data)) return static_cast<std::uint64_t>(*i);
  return 0;
}

}  // namespace

int readValue(sd_bus_message* m, Value& out) {
  char type = 0;
  const char* contents = nullptr;
  const int r = sd_bus_message_peek_type(m, &type, &contents);
  if (r < 0) return r;
  if (r == 0) return -ENXIO;  // nothing left to read
  return readOne(m, type, contents, out);
}

int readValues(sd_bus_message* m, std::vector<Value>& out) {
  out.clear();
  for (;;) {
    char type = 0;
    const char* contents = nullptr;
    const int r = sd_bus_message_peek_type(m, &type, &contents);
    if (r < 0) return r;
    if (r == 0) return 0;
    Value v;
    if (const int e = readOne(m, type, contents, v); e < 0) return e;
    out.push_back(std::move(v));
  }
}

int appendValue(sd_bus_message* m, const Value& v) {
  const char t = v.type();
  switch (t) {
    case 'b': {
      const int b = std::get_if<bool>(&v.data) ? *std::get_if<bool>(&v.data) : 0;
      return sd_bus_message_append_basic(m, t, &b);
    }
    case 'y': {
      const auto x = static_cast<std::uint8_t>(unsignedData(v));
      return sd_bus_message_append_basic(m, t, &x);
    }
    case 'n': {
      const auto x = static_cast<std::int16_t>(signedData(v));
      return sd_bus_message_append_basic(m, t, &x);
    }
    case 'q': {
      const auto x = static_cast<std::uint16_t>(unsignedData(v));
      return sd_bus_message_append_basic(m, t, &x);
    }
    case 'i': {
      const auto x = static_cast<std::int32_t>(signedData(v));
      return sd_bus_message_append_basic(m, t, &x);
    }
    case 'u': {
      const auto x = static_cast<std::uint32_t>(unsignedData(v));
      return sd_bus_message_append_basic(m, t, &x);
    }
    case 'x': {
      const std::int64_t x = signedData(v);
      return sd_bus_message_append_basic(m, t, &x);
    }
    case 't': {
      const std::uint64_t x = unsignedData(v);
      return sd_bus_message_append_basic(m, t, &x);
    }
    case 'd': {
      const double x = std::get_if<double>(&v.data) ? *std::get_if<double>(&v.data) : 0.0;
      return sd_bus_message_append_basic(m, t, &x);
    }
    case 's':
    case 'o':
    case 'g': {
      const auto* s = std::get_if<std::string>(&v.data);
      // A text holding NUL cannot travel whole; it is refused, never cut short.
      if (s != nullptr && s->find('\0') != std::string::npos) return -EINVAL;
      return sd_bus_message_append_basic(m, t, s ? s->c_str() : "");
    }
    default:
      break;
  }
  const auto* children = std::get_if<std::vector<Value>>(&v.data);
  if (!children) return -EINVAL;
  char container = 0;
  std::string contents;
  if (t == 'a') {
    container = SD_BUS_TYPE_ARRAY;
    contents = v.signature.substr(1);
  } else if (t == 'v') {
    if (children->size() != 1) return -EINVAL;
    container = SD_BUS_TYPE_VARIANT;
    contents = children->front().signature;
  } else if ((t == '(' || t == '{') && v.signature.size() >= 2) {
    container = t == '(' ? SD_BUS_TYPE_STRUCT : SD_BUS_TYPE_DICT_ENTRY;
    contents = v.signature.substr(1, v.signature.size() - 2);
  } else {
    return -EINVAL;
  }
  int r = sd_bus_message_open_container(m, container, contents.c_str());
  if (r < 0) return r;
  for (const auto& child : *children) {
    r = appendValue(m, child);
    if (r < 0) return r;
  }
  return sd_bus_message_close_container(m);
}

}  // namespace qor::wire
