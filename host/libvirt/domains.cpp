#include "host/libvirt/domains.h"

#include <algorithm>
#include <cstdlib>
#include <tuple>

#include "host/libvirt/mapping.h"

namespace qor::host::libvirt {

Domains::Domains(Loop& loop, Worker& worker, Connection& workerConnection,
                 std::optional<std::string> uri)
    : readConnection_(std::move(uri)),
      workerConnection_(workerConnection),
      changes_(worker, loop) {}

MachineKey Domains::keyFor(const std::string& uuid) {
  auto [it, added] = keys_.emplace(uuid, nextKey_);
  if (added) ++nextKey_;
  return it->second;
}

const Domains::Look& Domains::look() {
  const auto now = std::chrono::steady_clock::now();
  const auto life = changes_.idle() ? kSnapshotLife : kBusySnapshotLife;
  if (!look_ || now - look_->taken >= life) {
    Look fresh;
    refresh(fresh);
    fresh.taken = std::chrono::steady_clock::now();
    fresh.number = ++looks_;
    look_ = std::move(fresh);
  }
  return *look_;
}

void Domains::refresh(Look& look) {
  // A connection found dead by a failed call is opened again at once, once.
  for (int attempt = 0; attempt < 2; ++attempt) {
    look.rows.clear();
    look.error.reset();
    auto c = readConnection_.get();
    if (auto* e = failureOf(c)) {
      look.error = *e;
      return;
    }
    virConnectPtr conn = std::get<ConnectionRef>(c).get();
    virDomainPtr* all = nullptr;
    const int n = virConnectListAllDomains(conn, &all, 0);
    if (n < 0) {
      look.error = failed("libvirt cannot list its machines: " + lastErrorMessage());
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
      look.rows.push_back(std::move(r));
    }
    std::sort(look.rows.begin(), look.rows.end(), [](const Row& a, const Row& b) {
      return std::tie(a.name, a.uuid) < std::tie(b.name, b.uuid);
    });
    for (auto& r : look.rows) r.key = keyFor(r.uuid);
    return;
  }
}

const Domains::Row* Domains::row(MachineKey key) {
  for (const auto& r : look().rows) {
    if (r.key == key) return &r;
  }
  return nullptr;
}

void Domains::onMachine(MachineKey key, MachineJob job, Completion<Done> done) {
  const Row* r = row(key);
  if (!r) {
    done(noObject("The virtual machine does not exist."));
    return;
  }
  Target target{r->uuid, r->name};
  change<Done>(
      [&worker = workerConnection_, job = std::move(job), target]() -> Result<Done> {
        auto c = worker.get();
        if (auto* e = failureOf(c)) return *e;
        const auto conn = std::get<ConnectionRef>(c);
        Result<Done> outcome = job(conn.get(), target);
        if (!succeeded(outcome)) worker.checkAlive();
        return outcome;
      },
      std::move(done));
}

}  // namespace qor::host::libvirt
