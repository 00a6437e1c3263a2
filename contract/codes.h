#pragma once

#include <cstdint>

namespace qor::contract {

// Four ASCII characters, the first in the most significant byte; trailing spaces are part of it.
constexpr std::uint32_t fourCharCode(const char (&c)[5]) {
  return (std::uint32_t{static_cast<unsigned char>(c[0])} << 24) |
         (std::uint32_t{static_cast<unsigned char>(c[1])} << 16) |
         (std::uint32_t{static_cast<unsigned char>(c[2])} << 8) |
         std::uint32_t{static_cast<unsigned char>(c[3])};
}

// Every enumeration crosses the bus as its code, one 32-bit value ("u").
template <typename Enumeration>
constexpr std::uint32_t code(Enumeration value) {
  return static_cast<std::uint32_t>(value);
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
  yes = fourCharCode("yes "),
  no = fourCharCode("no  "),
  ask = fourCharCode("ask "),
};

// What WaitFor waits for. The states are the status codes themselves; the other two ask the
// guest: its agent answers, or it also reports an address.
enum class QorWaitCondition : std::uint32_t {
  agent = fourCharCode("WfAg"),
  ip = fourCharCode("WfIp"),
  started = code(QorStatus::started),
  stopped = code(QorStatus::stopped),
  paused = code(QorStatus::paused),
};

// The longest a host holds one WaitFor; a client asking for longer is answered after this.
inline constexpr std::int64_t kWaitForLongestHoldMs = 1000;

// The tool holds no values of the backend; a host names its own ("QeMu" for QEMU machines).
using QorBackend = std::uint32_t;
inline constexpr QorBackend kQemuBackend = fourCharCode("QeMu");

}  // namespace qor::contract
