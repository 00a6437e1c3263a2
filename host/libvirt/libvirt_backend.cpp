#include "host/libvirt/libvirt_backend.h"

#include <algorithm>
#include <tuple>

#include "contract/codes.h"
#include "host/libvirt/domain_xml.h"
#include "host/libvirt/mapping.h"
#include "support/text_equal.h"

namespace qor::host::libvirt {
namespace {

std::uint32_t interfaceCode(SerialPort::Kind kind) {
  using contract::QorSerialInterface;
  switch (kind) {
    case SerialPort::Kind::pty:
      return contract::code(QorSerialInterface::ptty);
    case SerialPort::Kind::tcp:
      return contract::code(QorSerialInterface::tcp);
    case SerialPort::Kind::unavailable:
      break;
  }
  return contract::code(QorSerialInterface::unavailable);
}

HostError noWindow() { return failed("This host has no windows."); }

}  // namespace

HostError libvirtError() {
  return lastErrorIsInvalidState() ? invalidState(lastErrorMessage()) : failed(lastErrorMessage());
}

LibvirtBackend::LibvirtBackend(Loop& loop, std::optional<std::string> uri)
    : loop_(loop), readConnection_(uri), workerConnection_(uri) {
  silenceLibvirtErrors();
}

LibvirtBackend::~LibvirtBackend() = default;

std::optional<HostError> LibvirtBackend::unavailable() {
  const auto& s = snapshot();
  if (s.error) return failed(*s.error);
  return std::nullopt;
}

MachineKey LibvirtBackend::keyFor(const std::string& uuid) {
  auto [it, added] = keys_.emplace(uuid, nextKey_);
  if (added) ++nextKey_;
  return it->second;
}

LibvirtBackend::Snapshot& LibvirtBackend::snapshot() {
  const auto now = std::chrono::steady_clock::now();
  // While a request of this host runs, its machine changes state without notice.
  const auto life = pending_->waiting.empty() ? kSnapshotLife : kBusySnapshotLife;
  if (!snapshot_ || now - snapshot_->taken >= life) {
    Snapshot s;
    refresh(s);
    s.taken = std::chrono::steady_clock::now();
    snapshot_ = std::move(s);
  }
  return *snapshot_;
}

void LibvirtBackend::refresh(Snapshot& s) {
  // A connection found dead by a failed call is opened again at once, once.
  for (int attempt = 0; attempt < 2; ++attempt) {
    s.rows.clear();
    s.error.reset();
    auto c = readConnection_.get();
    if (auto* e = std::get_if<std::string>(&c)) {
      s.error = *e;
      return;
    }
    virConnectPtr conn = std::get<ConnectionRef>(c).get();
    virDomainPtr* all = nullptr;
    const int n = virConnectListAllDomains(conn, &all, 0);
    if (n < 0) {
      s.error = "libvirt cannot list its machines: " + lastErrorMessage();
      readConnection_.checkAlive();
      continue;
    }
    std::vector<std::shared_ptr<virDomain>> domains;
    for (int i = 0; i < n; ++i) domains.emplace_back(all[i], DomainFree{});
    std::free(all);
    std::vector<std::string> saved;
    virDomainPtr* withImage = nullptr;
    if (const int m =
            virConnectListAllDomains(conn, &withImage, VIR_CONNECT_LIST_DOMAINS_MANAGEDSAVE);
        m >= 0) {
      for (int i = 0; i < m; ++i) {
        char uuid[VIR_UUID_STRING_BUFLEN];
        if (virDomainGetUUIDString(withImage[i], uuid) == 0) saved.push_back(uuidForHost(uuid));
        virDomainFree(withImage[i]);
      }
      std::free(withImage);
    }
    for (auto& d : domains) {
      Row r;
      char uuid[VIR_UUID_STRING_BUFLEN];
      const char* name = virDomainGetName(d.get());
      if (virDomainGetUUIDString(d.get(), uuid) != 0 || !name) continue;
      // A machine that went away between the list and this call is left out.
      if (virDomainGetState(d.get(), &r.state, &r.reason, 0) < 0) continue;
      r.uuid = uuidForHost(uuid);
      r.name = name;
      r.saved = std::find(saved.begin(), saved.end(), r.uuid) != saved.end();
      r.id = static_cast<int>(virDomainGetID(d.get()));
      r.domain = d;
      s.rows.push_back(std::move(r));
    }
    std::sort(s.rows.begin(), s.rows.end(), [](const Row& a, const Row& b) {
      return std::tie(a.name, a.uuid) < std::tie(b.name, b.uuid);
    });
    for (auto& r : s.rows) r.key = keyFor(r.uuid);
    return;
  }
}

const LibvirtBackend::Row* LibvirtBackend::row(MachineKey key) {
  for (const auto& r : snapshot().rows) {
    if (r.key == key) return &r;
  }
  return nullptr;
}

std::vector<MachineKey> LibvirtBackend::machines() {
  std::vector<MachineKey> keys;
  for (const auto& r : snapshot().rows) keys.push_back(r.key);
  return keys;
}

std::optional<MachineKey> LibvirtBackend::machineById(std::string_view id) {
  for (const auto& r : snapshot().rows) {
    if (sameUuid(r.uuid, id)) return r.key;
  }
  return std::nullopt;
}

std::optional<MachineKey> LibvirtBackend::machineByName(std::string_view name) {
  for (const auto& r : snapshot().rows) {
    if (support::canonicallyEqual(r.name, name)) return r.key;
  }
  return std::nullopt;
}

std::optional<MachineInfo> LibvirtBackend::machine(MachineKey key) {
  const Row* r = row(key);
  if (!r) return std::nullopt;
  MachineInfo m;
  m.key = r->key;
  m.id = r->uuid;
  m.name = r->name;
  m.backend = contract::kQemuBackend;
  m.status = statusOf(r->state, r->reason, r->saved);
  m.serialPorts = portsOf(*r);
  return m;
}

std::optional<std::vector<SerialPortInfo>> LibvirtBackend::portsOf(const Row& r) {
  const auto now = std::chrono::steady_clock::now();
  auto& cached = ports_[r.uuid];
  if (cached.ports && cached.id == r.id && cached.state == r.state && now - cached.read < kPortsLife) {
    return cached.ports;
  }
  const bool running = r.id >= 0;
  auto xml = takeString(virDomainGetXMLDesc(r.domain.get(), 0));
  auto parsed = xml.empty() ? std::nullopt : serialPortsOf(xml, running);
  if (!parsed) return std::nullopt;
  std::vector<SerialPortInfo> ports;
  for (const auto& p : *parsed) {
    SerialPortInfo info;
    info.id = p.id;
    info.interface = interfaceCode(p.kind);
    info.address = p.address;
    info.port = p.port;
    ports.push_back(std::move(info));
  }
  cached = Ports{r.id, r.state, now, ports};
  return ports;
}

void LibvirtBackend::onWorker(MachineKey key, Job job, Completion<Done> done) {
  const Row* r = row(key);
  if (!r) {
    done(failed("The virtual machine does not exist."));
    return;
  }
  Target target{r->uuid, r->name};
  later<Done>(
      [this, job = std::move(job), target]() -> Result<Done> {
        auto c = workerConnection_.get();
        if (auto* e = std::get_if<std::string>(&c)) return failed(*e);
        const auto conn = std::get<ConnectionRef>(c);
        Result<Done> outcome = job(conn.get(), target);
        if (std::holds_alternative<HostError>(outcome)) workerConnection_.checkAlive();
        return outcome;
      },
      std::move(done));
}

void LibvirtBackend::runOnWorker(const std::shared_ptr<Pending>& pending,
                                 std::function<std::any()> job,
                                 std::function<void(std::any&)> finish) {
  const std::uint64_t number = pending->next++;
  pending->waiting.emplace(number, std::move(finish));
  std::weak_ptr<Pending> weak = pending;
  worker_.submit([this, weak, number, job = std::move(job)] {
    std::any outcome = job();
    loop_.post([weak, number, outcome = std::move(outcome)]() mutable {
      auto still = weak.lock();
      if (!still) return;
      auto it = still->waiting.find(number);
      if (it == still->waiting.end()) return;
      auto done = std::move(it->second);
      still->waiting.erase(it);
      done(outcome);
    });
  });
}

void LibvirtBackend::closeWindow(std::uint64_t, std::uint32_t, std::string,
                                 Completion<Done> done) {
  done(noWindow());
}
std::optional<HostError> LibvirtBackend::setWindowVisible(std::uint64_t, bool) {
  return noWindow();
}
std::optional<HostError> LibvirtBackend::moveWindow(std::uint64_t, std::int64_t) {
  return noWindow();
}

}  // namespace qor::host::libvirt
