#include "scripting/status_word.h"

#include <array>
#include <utility>

namespace qor::scripting {

std::string_view statusWord(std::uint32_t status) {
  static constexpr std::array<std::pair<QorStatus, std::string_view>, 7> kWords{{
      {QorStatus::stopped, "stopped"},
      {QorStatus::starting, "starting"},
      {QorStatus::started, "started"},
      {QorStatus::pausing, "pausing"},
      {QorStatus::paused, "paused"},
      {QorStatus::resuming, "resuming"},
      {QorStatus::stopping, "stopping"},
  }};
  for (const auto& [code, word] : kWords) {
    if (static_cast<std::uint32_t>(code) == status) return word;
  }
  return "unknown";
}

}  // namespace qor::scripting
