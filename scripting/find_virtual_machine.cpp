#include "scripting/find_virtual_machine.h"

#include <optional>

#include "scripting/api_error.h"
#include "scripting/bus_errors.h"
#include "scripting/event_error_handler.h"
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
  FailureRecorder recorder;
  application.setDelegate(&recorder);
  QorVirtualMachine byName = machines->objectWithName(identifier);
  const auto name = byName.name();
  application.setDelegate(remembered);
  if (name && support::canonicallyEqual(*name, identifier)) return byName;
  // A host that knows why the name selects nothing (machines in two places share it, a place is
  // out of reach) refuses the probe in its own words, which reach the user; any other failure
  // of a probe (no such object, a reply of another type) goes without saying, as before.
  if (recorder.last && recorder.last->code == kRequestFailed &&
      recorder.last->userInfo.contains("ErrorString") && remembered != nullptr) {
    remembered->eventDidFail(*recorder.last);
  }
  throw APIError::virtualMachineNotFound();
}

}  // namespace qor::scripting
