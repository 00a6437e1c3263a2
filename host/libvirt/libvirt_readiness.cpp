#include "host/libvirt/libvirt_readiness.h"

#include <utility>

#include "contract/codes.h"

namespace qor::host::libvirt {

void LibvirtReadiness::ready(MachineKey key, std::uint32_t condition, Completion<bool> done) {
  const bool withAddress = condition == contract::code(contract::QorWaitCondition::ip);
  // A machine whose agent cannot be asked now (not running yet, as libvirt last looked) is not
  // ready; the bus side tells a stopped one from a starting one by its status.
  Completion<bool> notYetOnState([done](Result<bool> outcome) {
    const Failure* f = failureOf(outcome);
    done(f && f->kind == HostErrorKind::invalidState ? Result<bool>(false) : std::move(outcome));
  });
  jobs_.run<bool>(
      key,
      [&agent = jobs_.agent(), withAddress](const std::string& uuid) -> Result<bool> {
        auto answers = agent.ping(uuid);
        if (!succeeded(answers) || !std::get<bool>(answers) || !withAddress) return answers;
        auto found = agent.addresses(uuid);
        const auto* list = std::get_if<std::vector<std::string>>(&found);
        return list != nullptr && !list->empty();
      },
      std::move(notYetOnState));
}

}  // namespace qor::host::libvirt
