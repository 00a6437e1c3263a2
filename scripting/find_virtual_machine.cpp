#include "scripting/find_virtual_machine.h"

#include "scripting/api_error.h"
#include "support/text_equal.h"
#include "support/uuid.h"

namespace qor::scripting {

QorVirtualMachine findVirtualMachine(QorApplication& application, const std::string& identifier) {
  // Asked with the delegate in place: a host that cannot be reached is reported here.
  const auto machines = application.virtualMachines();
  if (!machines) throw APIError::virtualMachineNotFound();

  // The probe by id fails whenever the identifier is a name; such failures are not reported.
  EventDelegate* const remembered = application.delegate();
  application.setDelegate(nullptr);

  QorVirtualMachine byID = machines->objectWithID(identifier);
  // A UUID matches in either case; the host answers with its own spelling of it.
  if (const auto id = byID.id(); id && support::sameIdentifier(*id, identifier)) {
    application.setDelegate(remembered);
    return byID;
  }
  QorVirtualMachine byName = machines->objectWithName(identifier);
  if (const auto name = byName.name(); name && support::canonicallyEqual(*name, identifier)) {
    application.setDelegate(remembered);
    return byName;
  }
  // The error ends the process, so the delegate is not put back.
  throw APIError::virtualMachineNotFound();
}

}  // namespace qor::scripting
