#include "support/base64.h"

#include <array>
#include <cstdint>

namespace qor::support {
namespace {

constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

constexpr std::array<std::int8_t, 256> makeDecodeTable() {
  std::array<std::int8_t, 256> table{};
  for (auto& v : table) v = -1;
  for (int i = 0; i < 64; ++i)
    table[static_cast<unsigned char>(kAlphabet[i])] = static_cast<std::int8_t>(i);
  return table;
}
constexpr auto kDecode = makeDecodeTable();

}  // namespace

std::size_t base64Length(std::size_t byteCount) {
  return (byteCount + 2) / 3 * 4;
}

void base64EncodeInto(std::string_view bytes, char* out) {
  std::size_t i = 0;
  auto at = [&](std::size_t k) { return std::uint32_t{static_cast<unsigned char>(bytes[k])}; };
  for (; i + 3 <= bytes.size(); i += 3) {
    std::uint32_t n = (at(i) << 16) | (at(i + 1) << 8) | at(i + 2);
    *out++ = kAlphabet[(n >> 18) & 63];
    *out++ = kAlphabet[(n >> 12) & 63];
    *out++ = kAlphabet[(n >> 6) & 63];
    *out++ = kAlphabet[n & 63];
  }
  if (std::size_t rest = bytes.size() - i; rest > 0) {
    std::uint32_t n = at(i) << 16;
    if (rest == 2) n |= at(i + 1) << 8;
    *out++ = kAlphabet[(n >> 18) & 63];
    *out++ = kAlphabet[(n >> 12) & 63];
    *out++ = rest == 2 ? kAlphabet[(n >> 6) & 63] : '=';
    *out++ = '=';
  }
}

std::string base64Encode(std::string_view bytes) {
  std::string out(base64Length(bytes.size()), '\0');
  base64EncodeInto(bytes, out.data());
  return out;
}

std::optional<std::string> base64Decode(std::string_view text) {
  if (text.size() % 4 != 0) return std::nullopt;
  std::string out;
  out.reserve(text.size() / 4 * 3);
  for (std::size_t i = 0; i < text.size(); i += 4) {
    const bool last = i + 4 == text.size();
    std::size_t pads = 0;
    if (last) pads = text[i + 3] == '=' ? (text[i + 2] == '=' ? 2 : 1) : 0;
    std::uint32_t n = 0;
    for (std::size_t k = 0; k < 4; ++k) {
      if (k >= 4 - pads) {
        n <<= 6;
        continue;
      }
      const std::int8_t v = kDecode[static_cast<unsigned char>(text[i + k])];
      if (v < 0) return std::nullopt;  // outside the alphabet, a line break, or a stray pad
      n = (n << 6) | static_cast<std::uint32_t>(v);
    }
    out += static_cast<char>((n >> 16) & 0xFF);
    if (pads < 2) out += static_cast<char>((n >> 8) & 0xFF);
    if (pads < 1) out += static_cast<char>(n & 0xFF);
  }
  return out;
}

}  // namespace qor::support
