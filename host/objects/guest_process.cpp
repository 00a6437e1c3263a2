#include "host/objects/guest_process.h"

#include "host/core/handles.h"
#include "host/objects/reply.h"

namespace qor::host::objects {
namespace {

using contract::ObjectClass;
using contract::Value;
namespace m = contract::methods;

void getResult(Context& c, const Target& t, const Request&, Completion<Values> done) {
  c.backends.processes->result(
      t.key(), t.element,
      replying<Value>(std::move(done), [](Value record) { return Values{std::move(record)}; }));
}

// Only the caller's own processes are objects for it; a backend without guest processes has
// none.
Result<Target> find(Context& c, const Captures&, const std::string& sender, Target t) {
  if (!c.backends.processes ||
      !c.handles.present(HandleOwners::Kind::process, c.backends.processes->processes(t.key()),
                         t.element, sender)) {
    return noObject("The guest process does not exist.");
  }
  return t;
}

std::vector<std::uint64_t> elements(Context& c, const Target& machine, const std::string& sender) {
  std::vector<std::uint64_t> out;
  if (!c.backends.processes) return out;
  for (auto n : c.backends.processes->processes(machine.key())) {
    if (c.handles.ownedBy(HandleOwners::Kind::process, n, sender)) out.push_back(n);
  }
  return out;
}

constexpr MethodRow kMethods[] = {
    {&m::kGetResult, getResult},
};

}  // namespace

const Route kGuestProcess{
    "vm/{vm}/process/{n}", ObjectClass::guestProcess, find, {}, kMethods, elements};

}  // namespace qor::host::objects
