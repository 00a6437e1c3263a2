// The libvirt backend's guest requests: each runs the guest agent on a worker thread and
// completes on the loop; a GetResult of a running program is held on the loop meanwhile.

#include <libvirt/libvirt.h>

#include <utility>

#include "host/core/vocabulary.h"
#include "host/libvirt/guest_agent_pacing.h"
#include "host/libvirt/libvirt_backend.h"

namespace qor::host::libvirt {
namespace {

HostError hostError(GuestError e) {
  return HostError{e.name, std::move(e.message)};
}

template <class T, class U, class F>
Result<T> converted(GuestResult<U> r, F convert) {
  if (auto* e = std::get_if<GuestError>(&r)) return hostError(std::move(*e));
  return convert(std::get<U>(std::move(r)));
}

template <class T>
Result<T> same(GuestResult<T> r) {
  return converted<T>(std::move(r), [](T v) { return v; });
}

Result<Done> doneOf(GuestResult<GuestDone> r) {
  return converted<Done>(std::move(r), [](GuestDone) { return Done{}; });
}

Value recordOf(const ProcessResult& r) {
  RecordBuilder record;
  record.add("hasExited", Value::boolean(r.exited));
  if (r.exited) {
    record.add("exitCode", Value::int64(r.exitCode));
    record.add("outputData", Value::string(r.output));
    record.add("errorData", Value::string(r.error));
    // Only a stream that was cut says so; a missing key means the stream is whole.
    if (r.outputTruncated) record.add("outputTruncated", Value::boolean(true));
    if (r.errorTruncated) record.add("errorTruncated", Value::boolean(true));
  }
  return std::move(record).build();
}

}  // namespace

// Runs on a worker thread, with a connection of the worker's.
std::optional<std::vector<InterfaceAddress>> LibvirtBackend::libvirtAddresses(
    const std::string& uuid, AddressSource source) {
  auto c = workerConnection_.get();
  if (std::holds_alternative<std::string>(c)) return std::nullopt;
  auto d = lookupDomain(std::get<ConnectionRef>(c).get(), uuid);
  if (!d) return std::nullopt;
  virDomainInterfacePtr* interfaces = nullptr;
  const int n = virDomainInterfaceAddresses(d.get(), &interfaces,
                                            source == AddressSource::lease
                                                ? VIR_DOMAIN_INTERFACE_ADDRESSES_SRC_LEASE
                                                : VIR_DOMAIN_INTERFACE_ADDRESSES_SRC_ARP,
                                            0);
  if (n < 0) return std::nullopt;
  std::vector<InterfaceAddress> out;
  for (int i = 0; i < n; ++i) {
    const virDomainInterfacePtr iface = interfaces[i];
    for (unsigned j = 0; j < iface->naddrs; ++j) {
      const auto& a = iface->addrs[j];
      if (!a.addr) continue;
      out.push_back({iface->name ? iface->name : "", a.addr, a.type == VIR_IP_ADDR_TYPE_IPV6});
    }
    virDomainInterfaceFree(iface);
  }
  std::free(interfaces);
  return out;
}

void LibvirtBackend::noteRun(const Row& r) {
  // A new run of the machine has a new agent: whatever the old one had open is gone.
  auto [it, added] = agentRuns_.emplace(r.uuid, r.id);
  if (!added && it->second != r.id) {
    guestAgent_.forgetMachine(r.uuid);
    it->second = r.id;
  }
}

std::variant<std::string, HostError> LibvirtBackend::agentMachine(MachineKey key) {
  const Row* r = row(key);
  if (!r) return failed("The virtual machine does not exist.");
  noteRun(*r);
  switch (r->state) {
    case VIR_DOMAIN_RUNNING:
      return r->uuid;
    case VIR_DOMAIN_PAUSED:
      return invalidState(
          "The virtual machine is paused, so its guest agent cannot answer; start it to "
          "resume it.");
    default:
      return invalidState("The virtual machine is not running, so it has no guest agent.");
  }
}

template <class T>
void LibvirtBackend::onAgent(MachineKey key, std::function<Result<T>(const std::string&)> job,
                             Completion<T> done) {
  auto machine = agentMachine(key);
  if (auto* e = std::get_if<HostError>(&machine)) return done(std::move(*e));
  // As later(), but guest requests change nothing the snapshot shows, so it is kept, and they
  // do not count as requests that shorten its life: a file transfer's thousands of requests do
  // not each read every machine again.
  // GCC 12 warns, falsely, of uninitialised bytes when a variant with a small alternative is
  // moved out of a std::any; so the outcome travels behind a pointer and goes on by alternative.
  using Slot = std::shared_ptr<Result<T>>;
  runOnWorker(
      agentPending_,
      [uuid = std::get<std::string>(machine), job = std::move(job)]() -> std::any {
        return std::make_shared<Result<T>>(job(uuid));
      },
      [done](std::any& outcome) {
        Result<T>& result = *std::any_cast<Slot&>(outcome);
        if (auto* e = std::get_if<HostError>(&result)) return done(std::move(*e));
        done(std::move(std::get<T>(result)));
      });
}

std::vector<GuestHandle> LibvirtBackend::files(MachineKey key) {
  const Row* r = row(key);
  if (!r) return {};
  noteRun(*r);
  return guestAgent_.files(r->uuid);
}

std::vector<GuestHandle> LibvirtBackend::processes(MachineKey key) {
  const Row* r = row(key);
  if (!r) return {};
  noteRun(*r);
  return guestAgent_.processes(r->uuid);
}

void LibvirtBackend::queryIp(MachineKey key, Completion<std::vector<std::string>> done) {
  onAgent<std::vector<std::string>>(
      key, [this](const std::string& uuid) { return same(guestAgent_.addresses(uuid)); },
      std::move(done));
}

void LibvirtBackend::guestReady(MachineKey key, std::uint32_t condition, Completion<bool> done) {
  // A machine not running (yet) is not ready; the bus side tells a stopped one from a starting
  // one by its status.
  if (std::holds_alternative<HostError>(agentMachine(key))) return done(false);
  const bool withAddress = condition == code(QorWaitCondition::ip);
  onAgent<bool>(
      key,
      [this, withAddress](const std::string& uuid) -> Result<bool> {
        auto answers = guestAgent_.ping(uuid);
        if (auto* e = std::get_if<GuestError>(&answers)) return hostError(std::move(*e));
        if (!std::get<bool>(answers) || !withAddress) return std::get<bool>(answers);
        auto found = guestAgent_.addresses(uuid);
        auto* list = std::get_if<std::vector<std::string>>(&found);
        return list != nullptr && !list->empty();
      },
      std::move(done));
}

void LibvirtBackend::openFile(MachineKey key, OpenFileArgs args, Completion<GuestHandle> done) {
  onAgent<GuestHandle>(
      key,
      [this, args = std::move(args)](const std::string& uuid) {
        return same(guestAgent_.open(uuid, args.path, args.mode, args.updating));
      },
      std::move(done));
}

void LibvirtBackend::readFile(MachineKey key, GuestHandle file, ReadArgs a,
                              Completion<std::string> done) {
  onAgent<std::string>(
      key,
      [this, file, a](const std::string& uuid) {
        return same(
            guestAgent_.read(uuid, file, a.offset, a.whence, a.length, a.base64, a.closing));
      },
      std::move(done));
}

void LibvirtBackend::writeFile(MachineKey key, GuestHandle file, WriteArgs a,
                               Completion<Done> done) {
  onAgent<Done>(
      key,
      [this, file, a = std::move(a)](const std::string& uuid) {
        return doneOf(
            guestAgent_.write(uuid, file, a.data, a.offset, a.whence, a.base64, a.closing));
      },
      std::move(done));
}

void LibvirtBackend::closeFile(MachineKey key, GuestHandle file, Completion<Done> done) {
  onAgent<Done>(
      key, [this, file](const std::string& uuid) { return doneOf(guestAgent_.close(uuid, file)); },
      std::move(done));
}

void LibvirtBackend::execute(MachineKey key, ExecuteArgs a, Completion<GuestHandle> done) {
  onAgent<GuestHandle>(
      key,
      [this, a = std::move(a)](const std::string& uuid) {
        return same(guestAgent_.execute(uuid, a.program, a.arguments, a.environment, a.input,
                                        a.base64, a.capture));
      },
      std::move(done));
}

void LibvirtBackend::getResult(MachineKey key, GuestHandle process, Completion<Value> done) {
  lookForEnd(key, process, std::chrono::steady_clock::now(), std::move(done));
}

void LibvirtBackend::lookForEnd(MachineKey key, GuestHandle process,
                                std::chrono::steady_clock::time_point arrived,
                                Completion<Value> done) {
  Completion<ProcessResult> looked([this, key, process, arrived, done](Result<ProcessResult> r) {
    auto* result = std::get_if<ProcessResult>(&r);
    if (!result) return done(std::get<HostError>(std::move(r)));
    if (result->exited) return done(recordOf(*result));
    const auto age = guestAgent_.age(process).value_or(std::chrono::steady_clock::duration{});
    const NextLook next = nextLook(age, std::chrono::steady_clock::now() - arrived);
    const std::uint64_t id = nextHeld_++;
    heldResults_[id] = loop_.after(next.after, [this, id, key, process, arrived, next, done] {
      heldResults_.erase(id);
      if (next.look) return lookForEnd(key, process, arrived, done);
      done(recordOf(ProcessResult{}));
    });
  });
  onAgent<ProcessResult>(
      key,
      [this, process](const std::string& uuid) { return same(guestAgent_.status(uuid, process)); },
      std::move(looked));
}

void LibvirtBackend::releaseFile(GuestHandle file) {
  worker_.submit([this, file] { guestAgent_.releaseFile(file); });
}

void LibvirtBackend::releaseProcess(GuestHandle process) {
  worker_.submit([this, process] { guestAgent_.releaseProcess(process); });
}

}  // namespace qor::host::libvirt
