#include "host/libvirt/mapping.h"

#include <libvirt/libvirt.h>

#include <cctype>

#include "contract/codes.h"

namespace qor::host::libvirt {

using contract::QorStatus;
using contract::QorStopMethod;

std::uint32_t statusOf(int state, int reason, bool managedSave) {
  auto code = [](QorStatus s) { return contract::code(s); };
  switch (state) {
    case VIR_DOMAIN_RUNNING:
    case VIR_DOMAIN_BLOCKED:
      return code(QorStatus::started);
    case VIR_DOMAIN_PAUSED:
      switch (reason) {
        case VIR_DOMAIN_PAUSED_SAVE:
        case VIR_DOMAIN_PAUSED_SNAPSHOT:
          return code(QorStatus::pausing);
        case VIR_DOMAIN_PAUSED_STARTING_UP:
          return code(QorStatus::starting);
        case VIR_DOMAIN_PAUSED_SHUTTING_DOWN:
          return code(QorStatus::stopping);
        default:
          return code(QorStatus::paused);
      }
    case VIR_DOMAIN_PMSUSPENDED:
      return code(QorStatus::paused);
    case VIR_DOMAIN_SHUTDOWN:
      return code(QorStatus::stopping);
    case VIR_DOMAIN_SHUTOFF:
    case VIR_DOMAIN_CRASHED:
    case VIR_DOMAIN_NOSTATE:
    default:
      return code(managedSave ? QorStatus::paused : QorStatus::stopped);
  }
}

std::string uuidForHost(std::string_view libvirtUuid) {
  std::string out(libvirtUuid);
  for (auto& c : out) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return out;
}

bool sameUuid(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (std::toupper(static_cast<unsigned char>(a[i])) !=
        std::toupper(static_cast<unsigned char>(b[i]))) {
      return false;
    }
  }
  return true;
}

std::optional<std::string> copyName(const std::string& original,
                                    const std::function<bool(const std::string&)>& taken) {
  for (int n = 1; n <= 1000; ++n) {
    std::string name = original + " copy" + (n == 1 ? std::string() : " " + std::to_string(n));
    if (!taken(name)) return name;
  }
  return std::nullopt;
}

std::int64_t usbLocation(unsigned bus, unsigned device) {
  return std::int64_t{bus} * 1000 + device;
}

std::optional<StopAction> stopActionOf(std::uint32_t method) {
  if (method == contract::code(QorStopMethod::request)) return StopAction::shutdown;
  if (method == contract::code(QorStopMethod::force)) return StopAction::gracefulDestroy;
  if (method == contract::code(QorStopMethod::kill)) return StopAction::destroy;
  return std::nullopt;
}

}  // namespace qor::host::libvirt
