#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace qor::scripting {

// Four ASCII characters, the first in the most significant byte; trailing spaces are part of it.
constexpr std::uint32_t fourCharCode(const char (&c)[5]) {
  return (std::uint32_t{static_cast<unsigned char>(c[0])} << 24) |
         (std::uint32_t{static_cast<unsigned char>(c[1])} << 16) |
         (std::uint32_t{static_cast<unsigned char>(c[2])} << 8) |
         std::uint32_t{static_cast<unsigned char>(c[3])};
}

enum class QorStatus : std::uint32_t {
  stopped = fourCharCode("StSa"),
  starting = fourCharCode("StSb"),
  started = fourCharCode("StSc"),
  pausing = fourCharCode("StSd"),
  paused = fourCharCode("StSe"),
  resuming = fourCharCode("StSf"),
  stopping = fourCharCode("StSg"),
};

enum class QorStopMethod : std::uint32_t {
  force = fourCharCode("FoRc"),
  kill = fourCharCode("KiLl"),
  request = fourCharCode("ReQu"),
};

enum class QorSerialInterface : std::uint32_t {
  ptty = fourCharCode("PtTy"),
  tcp = fourCharCode("TcP "),
  unavailable = fourCharCode("IUnA"),
};

enum class QorOpenMode : std::uint32_t {
  reading = fourCharCode("OpRo"),
  writing = fourCharCode("OpWo"),
};

enum class QorWhence : std::uint32_t {
  current = fourCharCode("CuRr"),
};

enum class QorSaveOptions : std::uint32_t {
  no = fourCharCode("no  "),
};

// The program holds no values of the backend; it is a code like the others.
using QorBackend = std::uint32_t;

// The word `list` and `status` print for a status value: the whole 32-bit value is compared with
// the seven codes; anything else is "unknown".
std::string_view statusWord(std::uint32_t status);

}  // namespace qor::scripting
