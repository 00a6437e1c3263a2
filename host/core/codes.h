#pragma once

#include <cstdint>

namespace qor::host {

// Four ASCII characters, the first in the most significant byte; trailing spaces count.
constexpr std::uint32_t code(const char (&c)[5]) {
  return (std::uint32_t{static_cast<unsigned char>(c[0])} << 24) |
         (std::uint32_t{static_cast<unsigned char>(c[1])} << 16) |
         (std::uint32_t{static_cast<unsigned char>(c[2])} << 8) |
         std::uint32_t{static_cast<unsigned char>(c[3])};
}

namespace status {
inline constexpr std::uint32_t kStopped = code("StSa");
inline constexpr std::uint32_t kStarting = code("StSb");
inline constexpr std::uint32_t kStarted = code("StSc");
inline constexpr std::uint32_t kPausing = code("StSd");
inline constexpr std::uint32_t kPaused = code("StSe");
inline constexpr std::uint32_t kResuming = code("StSf");
inline constexpr std::uint32_t kStopping = code("StSg");
}  // namespace status

namespace stop_method {
inline constexpr std::uint32_t kForce = code("FoRc");
inline constexpr std::uint32_t kKill = code("KiLl");
inline constexpr std::uint32_t kRequest = code("ReQu");
}  // namespace stop_method

namespace save_option {
inline constexpr std::uint32_t kYes = code("yes ");
inline constexpr std::uint32_t kNo = code("no  ");
inline constexpr std::uint32_t kAsk = code("ask ");
}  // namespace save_option

}  // namespace qor::host
