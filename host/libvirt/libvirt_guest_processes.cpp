#include "host/libvirt/libvirt_guest_processes.h"

#include <utility>

#include "host/backend/process_record.h"
#include "host/libvirt/guest_agent_pacing.h"

namespace qor::host::libvirt {

std::vector<GuestHandle> LibvirtGuestProcesses::processes(MachineKey key) {
  const auto uuid = jobs_.known(key);
  if (!uuid) return {};
  return jobs_.agent().processes(*uuid);
}

void LibvirtGuestProcesses::execute(MachineKey key, ExecuteArgs a, Completion<GuestHandle> done) {
  jobs_.run<GuestHandle>(
      key,
      [&agent = jobs_.agent(), a = std::move(a)](const std::string& uuid) {
        return agent.execute(uuid, a.program, a.arguments, a.environment, a.input, a.base64,
                             a.capture);
      },
      std::move(done));
}

void LibvirtGuestProcesses::result(MachineKey key, GuestHandle process,
                                   Completion<contract::Value> done) {
  lookForEnd(key, process, std::chrono::steady_clock::now(), std::move(done));
}

void LibvirtGuestProcesses::lookForEnd(MachineKey key, GuestHandle process,
                                       std::chrono::steady_clock::time_point arrived,
                                       Completion<contract::Value> done) {
  Completion<ProcessState> looked([this, key, process, arrived, done](Result<ProcessState> r) {
    auto* state = std::get_if<ProcessState>(&r);
    if (!state) return done(std::get<Failure>(std::move(r)));
    if (state->exited) return done(processRecord(*state));
    const auto age = jobs_.agent().age(process).value_or(std::chrono::steady_clock::duration{});
    const NextLook next = nextLook(age, std::chrono::steady_clock::now() - arrived);
    const std::uint64_t id = nextHeld_++;
    held_[id] = loop_.after(next.after, [this, id, key, process, arrived, next, done] {
      held_.erase(id);
      if (next.look) return lookForEnd(key, process, arrived, done);
      done(processRecord(ProcessState{}));
    });
  });
  jobs_.run<ProcessState>(
      key,
      [&agent = jobs_.agent(), process](const std::string& uuid) {
        return agent.status(uuid, process);
      },
      std::move(looked));
}

void LibvirtGuestProcesses::releaseProcess(GuestHandle process) {
  jobs_.detached([&agent = jobs_.agent(), process] { agent.releaseProcess(process); });
}

}  // namespace qor::host::libvirt
