#include "scripting/message_size.h"

namespace qor::scripting {

namespace {

constexpr std::size_t kLongestBusName = 255;

// One header field: its code byte and the variant's signature ("s", three bytes), then the
// value: a length, the bytes and a NUL for texts, a length byte for a signature.
std::size_t textField(std::size_t length) {
  return 4 + 4 + length + 1;
}
std::size_t signatureField(std::size_t length) {
  return 4 + 1 + length + 1;
}
std::size_t padded(std::size_t size) {
  return (size + 7) / 8 * 8;
}

}  // namespace

MarshalledSize& MarshalledSize::align(std::size_t boundary) {
  bytes_ = (bytes_ + boundary - 1) / boundary * boundary;
  return *this;
}

MarshalledSize& MarshalledSize::text(std::string_view text) {
  align(4);
  bytes_ += 4 + text.size() + 1;  // length, bytes, NUL
  return *this;
}

MarshalledSize& MarshalledSize::texts(const std::vector<std::string>& texts) {
  align(4);
  bytes_ += 4;  // the array's length; its elements need no more alignment than it has
  for (const auto& t : texts) text(t);
  return *this;
}

MarshalledSize& MarshalledSize::boolean() {
  align(4);
  bytes_ += 4;
  return *this;
}

std::optional<std::size_t> bodySize(const std::vector<contract::Value>& values, std::size_t index,
                                    std::size_t length) {
  MarshalledSize size;
  for (std::size_t i = 0; i < values.size(); ++i) {
    const contract::Value& value = values[i];
    const std::string& type = value.signature;
    if (type == "s" || type == "o") {
      if (i == index) {
        size.text(std::string_view()).extend(length);
      } else if (const auto* text = contract::textOf(value)) {
        size.text(*text);
      }
    } else if (type == "b" || type == "u" || type == "i") {
      size.boolean();  // four bytes, four-aligned, like every 32-bit value
    } else if (type == "x" || type == "t") {
      size.align(8).extend(8);
    } else if (type == "as" || type == "ao") {
      std::vector<std::string> texts;
      for (const auto& element : *contract::elementsOf(value))
        texts.push_back(*contract::textOf(element));
      size.texts(texts);
    } else {
      return std::nullopt;
    }
  }
  return size.bytes();
}

std::size_t methodCallHeaderSize(std::string_view destination, std::string_view path,
                                 std::string_view interface, std::string_view member,
                                 std::string_view signature) {
  // Endianness, type, flags, version, body length, serial, and the field array's length. Every
  // field starts on an 8-byte boundary and the body after the last one, so each counts padded,
  // in whatever order the bus puts them.
  std::size_t size = 16;
  for (const auto value : {path, interface, member, destination}) {
    size += padded(textField(value.size()));
  }
  size += padded(signatureField(signature.size()));
  size += padded(textField(kLongestBusName));
  return size;
}

}  // namespace qor::scripting
