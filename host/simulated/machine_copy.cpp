#include "host/simulated/machine_copy.h"

#include <cstdio>
#include <system_error>

#include "contract/codes.h"

namespace qor::host {

std::string newUuid(std::mt19937_64& random) {
  std::uint64_t hi = random();
  std::uint64_t lo = random();
  hi = (hi & ~0xF000ull) | 0x4000ull;              // version 4
  lo = (lo & ~(0xC0ull << 56)) | (0x80ull << 56);  // RFC 4122 variant
  char text[37];
  std::snprintf(text, sizeof text, "%08llX-%04llX-%04llX-%04llX-%012llX",
                static_cast<unsigned long long>(hi >> 32),
                static_cast<unsigned long long>((hi >> 16) & 0xFFFF),
                static_cast<unsigned long long>(hi & 0xFFFF),
                static_cast<unsigned long long>(lo >> 48),
                static_cast<unsigned long long>(lo & 0xFFFFFFFFFFFFull));
  return text;
}

std::string copyName(const World& world, const std::string& name) {
  std::string candidate = name + " Copy";
  for (int n = 2; world.machineByName(candidate); ++n) {
    candidate = name + " Copy " + std::to_string(n);
  }
  return candidate;
}

Machine copyOfMachine(const Machine& source, World& world, const std::optional<std::string>& name,
                      std::mt19937_64& random) {
  Machine copy = source;
  copy.key = world.newKey();
  do {
    copy.id = newUuid(random);
  } while (world.machineById(*copy.id));
  copy.name = name ? *name : copyName(world, source.name.value_or("Virtual Machine"));
  copy.status = contract::code(contract::QorStatus::stopped);
  copy.guestRoot.reset();
  copy.processResults.clear();
  copy.lastStart.reset();
  copy.lastSuspendSaving.reset();
  copy.lastStopMethod.reset();
  return copy;
}

void copyGuestFiles(const std::filesystem::path& from, const std::filesystem::path& to) {
  std::error_code ec;
  if (!std::filesystem::is_directory(from, ec)) return;  // made when the copy first needs it
  std::filesystem::create_directories(to, ec);
  // Links are copied as links, so a link in the guest never pulls host files into the copy.
  std::filesystem::copy(from, to,
                        std::filesystem::copy_options::recursive |
                            std::filesystem::copy_options::copy_symlinks |
                            std::filesystem::copy_options::skip_existing,
                        ec);
}

}  // namespace qor::host
