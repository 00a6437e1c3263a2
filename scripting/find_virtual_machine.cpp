#include "scripting/find_virtual_machine.h"

#include <utf8proc.h>

#include <cstdlib>
#include <memory>

#include "scripting/api_error.h"

namespace qor::scripting {

namespace {

struct Free {
  void operator()(utf8proc_uint8_t* text) const { std::free(text); }
};

// NFC of a UTF-8 text; nullopt when the text is not valid UTF-8.
std::optional<std::string> composed(const std::string& text) {
  if (text.find('\0') != std::string::npos) return std::nullopt;
  std::unique_ptr<utf8proc_uint8_t, Free> normal(
      utf8proc_NFC(reinterpret_cast<const utf8proc_uint8_t*>(text.c_str())));
  if (!normal) return std::nullopt;
  return std::string(reinterpret_cast<const char*>(normal.get()));
}

}  // namespace

bool canonicallyEqual(const std::string& a, const std::string& b) {
  if (a == b) return true;
  const auto composedA = composed(a);
  const auto composedB = composed(b);
  // Bytes that are not UTF-8 have no canonical form; only identical bytes are equal then.
  if (!composedA || !composedB) return false;
  return *composedA == *composedB;
}

QorVirtualMachine findVirtualMachine(QorApplication& application, const std::string& identifier) {
  // Asked with the delegate in place: a host that cannot be reached is reported here.
  const auto machines = application.virtualMachines();
  if (!machines) throw APIError::virtualMachineNotFound();

  // The probe by id fails whenever the identifier is a name; such failures are not reported.
  EventDelegate* const remembered = application.delegate();
  application.setDelegate(nullptr);

  QorVirtualMachine byID = machines->objectWithID(identifier);
  if (const auto id = byID.id(); id && canonicallyEqual(*id, identifier)) {
    application.setDelegate(remembered);
    return byID;
  }
  QorVirtualMachine byName = machines->objectWithName(identifier);
  if (const auto name = byName.name(); name && canonicallyEqual(*name, identifier)) {
    application.setDelegate(remembered);
    return byName;
  }
  // The error ends the process, so the delegate is not put back.
  throw APIError::virtualMachineNotFound();
}

}  // namespace qor::scripting
