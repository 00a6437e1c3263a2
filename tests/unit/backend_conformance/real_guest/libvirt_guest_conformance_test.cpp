// The conformance suite on the libvirt backend with real guests under QEMU, through a libvirt
// daemon that tests/vm/conformance.sh starts and defines the machines on. It names them in the
// environment; without it every case skips:
//
//   QOR_CONFORMANCE_URI       the daemon's URI
//   QOR_CONFORMANCE_RUNNING   a machine whose guest agent answers
//   QOR_CONFORMANCE_STOPPED   a machine that is shut off
//   QOR_CONFORMANCE_PAUSED    a paused machine (optional)
//   QOR_CONFORMANCE_SECOND    a second running machine (optional)
//
// The names sort alike in any collation (lower-case ASCII), and the world holds no other machine.
// Before each backend the fixture puts every machine back into its state, so a case that
// stops or removes one costs a boot only for the machine it changed; a copy a case made goes,
// with the volumes it added to the pools.

#include <libvirt/libvirt-qemu.h>
#include <libvirt/libvirt.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cstdlib>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "backend_fixture.h"
#include "host/backend/manual_loop.h"
#include "host/libvirt/handles.h"
#include "host/libvirt/libvirt_backend.h"

namespace qor::host::conformance {
namespace {

using Clock = std::chrono::steady_clock;

enum class State { stopped, running, paused };

struct Machine {
  std::string name;
  State state;
  std::string uuid;  // as libvirt gives it
  std::string xml;   // its inactive definition, to define it again once a case removed it
};

std::optional<std::string> environment(const char* name) {
  const char* value = std::getenv(name);
  if (!value || !*value) return std::nullopt;
  return std::string(value);
}

std::string upper(std::string text) {
  for (char& c : text) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return text;
}

// How long a guest may take from start until its agent answers; the Debian guest under TCG on
// a loaded machine takes up to a few minutes.
std::chrono::seconds bootWait() {
  const auto text = environment("QORVM_BOOT_WAIT");
  return std::chrono::seconds(text ? std::atoi(text->c_str()) : 60);
}

class RealGuestFixture : public BackendFixture {
 public:
  RealGuestFixture() {
    uri_ = environment("QOR_CONFORMANCE_URI");
    if (!uri_) return;
    libvirt::silenceLibvirtErrors();
    conn_ = virConnectOpen(uri_->c_str());
    if (!conn_) {
      ADD_FAILURE() << "cannot open " << *uri_ << ": " << libvirt::lastErrorMessage();
      return;
    }
    const std::pair<const char*, State> roles[] = {{"QOR_CONFORMANCE_RUNNING", State::running},
                                                   {"QOR_CONFORMANCE_STOPPED", State::stopped},
                                                   {"QOR_CONFORMANCE_PAUSED", State::paused},
                                                   {"QOR_CONFORMANCE_SECOND", State::running}};
    for (const auto& [variable, state] : roles) {
      const auto name = environment(variable);
      if (!name) continue;
      libvirt::Domain d(virDomainLookupByName(conn_, name->c_str()));
      if (!d) {
        ADD_FAILURE() << *name << ": " << libvirt::lastErrorMessage();
        continue;
      }
      char uuid[VIR_UUID_STRING_BUFLEN] = {};
      virDomainGetUUIDString(d.get(), uuid);
      machines_.push_back(
          {*name, state, uuid,
           libvirt::takeString(virDomainGetXMLDesc(d.get(), VIR_DOMAIN_XML_INACTIVE))});
    }
    volumes_ = volumes();
    facts_ = describe();
  }

  ~RealGuestFixture() override {
    backend_.reset();
    loop_.runPending();  // what the workers posted before they stopped
    if (conn_) {
      restore();
      virConnectClose(conn_);
    }
  }

  bool configured() const { return conn_ && machines_.size() >= 2; }

  Backends make() override {
    backend_.reset();
    loop_.runPending();
    restore();
    backend_ = std::make_unique<libvirt::LibvirtBackend>(loop_, *uri_);
    return backend_->concerns();
  }

  // A real machine answers in its own time: the loop runs until the request is answered (or
  // two minutes have passed), then a little longer, so that a second answer would show.
  void settleUntil(const std::function<bool()>& answered) override {
    const auto deadline = Clock::now() + std::chrono::minutes(2);
    while (!answered() && Clock::now() < deadline) {
      if (loop_.runPending() == 0) std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    const auto quiet = Clock::now() + std::chrono::milliseconds(100);
    while (Clock::now() < quiet) {
      if (loop_.runPending() == 0) std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
  }
  void settle() override {
    settleUntil([] { return true; });
  }

  const WorldFacts& facts() const override { return facts_; }

 private:
  WorldFacts describe() const {
    WorldFacts f;
    std::vector<const Machine*> byName;
    bool secondSeen = false;
    for (const auto& m : machines_) {
      const MachineFacts facts{upper(m.uuid), m.name};
      byName.push_back(&m);
      if (m.state == State::stopped) {
        f.stopped = facts;
      } else if (m.state == State::paused) {
        f.paused = facts;
      } else if (f.running.id.empty()) {
        f.running = facts;
      } else if (!secondSeen) {
        f.secondRunning = facts;
        secondSeen = true;
      }
    }
    // The backend lists its machines by name and gives their UUIDs in capitals; a copy takes
    // its place among them.
    std::sort(byName.begin(), byName.end(),
              [](const Machine* a, const Machine* b) { return a->name < b->name; });
    for (const Machine* m : byName) f.listOrder.push_back(upper(m->uuid));
    f.idsInAnyCase = true;
    f.newMachinesLast = false;
    f.guestAnswers = true;  // the running machine's agent answers, as the script made sure
    return f;
  }

  // Every machine back in its state, no other machine, no volume the fixture did not find.
  void restore() {
    virDomainPtr* all = nullptr;
    const int n = virConnectListAllDomains(conn_, &all, 0);
    std::set<std::string> known;
    for (const auto& m : machines_) known.insert(m.uuid);
    for (int i = 0; i < n; ++i) {
      libvirt::Domain d(all[i]);
      char uuid[VIR_UUID_STRING_BUFLEN] = {};
      virDomainGetUUIDString(d.get(), uuid);
      if (known.count(uuid)) continue;
      if (virDomainIsActive(d.get()) == 1) virDomainDestroy(d.get());
      virDomainUndefineFlags(d.get(), VIR_DOMAIN_UNDEFINE_MANAGED_SAVE);
    }
    std::free(all);
    removeAddedVolumes();
    std::vector<std::string> booted;
    for (const auto& m : machines_) {
      if (!bringTo(m)) continue;
      if (m.state == State::running) booted.push_back(m.name);
    }
    for (const auto& name : booted) waitForAgent(name);
  }

  // Answers whether the machine was started.
  bool bringTo(const Machine& m) {
    libvirt::Domain d(virDomainLookupByUUIDString(conn_, m.uuid.c_str()));
    if (!d) d.reset(virDomainDefineXML(conn_, m.xml.c_str()));
    if (!d) {
      ADD_FAILURE() << m.name << " cannot be defined again: " << libvirt::lastErrorMessage();
      return false;
    }
    int state = VIR_DOMAIN_NOSTATE;
    virDomainGetState(d.get(), &state, nullptr, 0);
    const bool active = virDomainIsActive(d.get()) == 1;
    bool started = false;
    if (m.state == State::stopped) {
      if (active) virDomainDestroy(d.get());
      if (virDomainHasManagedSaveImage(d.get(), 0) == 1) virDomainManagedSaveRemove(d.get(), 0);
      return false;
    }
    if (!active) {
      // A machine saved by a case comes back as it was saved: a paused one stays paused.
      if (virDomainCreate(d.get()) != 0) {
        ADD_FAILURE() << m.name << " does not start: " << libvirt::lastErrorMessage();
        return false;
      }
      started = true;
      virDomainGetState(d.get(), &state, nullptr, 0);
    }
    if (m.state == State::running && state == VIR_DOMAIN_PAUSED) virDomainResume(d.get());
    if (m.state == State::paused && state != VIR_DOMAIN_PAUSED) virDomainSuspend(d.get());
    return started;
  }

  void waitForAgent(const std::string& name) {
    libvirt::Domain d(virDomainLookupByName(conn_, name.c_str()));
    const auto deadline = Clock::now() + bootWait();
    while (d && Clock::now() < deadline) {
      char* reply = virDomainQemuAgentCommand(d.get(), R"({"execute":"guest-ping"})", 2, 0);
      if (reply) {
        std::free(reply);
        return;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(250));
    }
    ADD_FAILURE() << "the agent of " << name << " did not answer after its start";
  }

  std::map<std::string, std::set<std::string>> volumes() {
    std::map<std::string, std::set<std::string>> out;
    forEachVolume([&](const std::string& pool, virStorageVolPtr v) {
      out[pool].insert(virStorageVolGetName(v));
    });
    return out;
  }

  void removeAddedVolumes() {
    forEachVolume([&](const std::string& pool, virStorageVolPtr v) {
      if (!volumes_[pool].count(virStorageVolGetName(v))) virStorageVolDelete(v, 0);
    });
  }

  void forEachVolume(const std::function<void(const std::string&, virStorageVolPtr)>& visit) {
    virStoragePoolPtr* pools = nullptr;
    const int n =
        virConnectListAllStoragePools(conn_, &pools, VIR_CONNECT_LIST_STORAGE_POOLS_ACTIVE);
    for (int i = 0; i < n; ++i) {
      libvirt::Pool pool(pools[i]);
      virStoragePoolRefresh(pool.get(), 0);
      const std::string poolName = virStoragePoolGetName(pool.get());
      virStorageVolPtr* vols = nullptr;
      const int m = virStoragePoolListAllVolumes(pool.get(), &vols, 0);
      for (int j = 0; j < m; ++j) {
        libvirt::Volume v(vols[j]);
        visit(poolName, v.get());
      }
      std::free(vols);
    }
    std::free(pools);
  }

  std::optional<std::string> uri_;
  virConnectPtr conn_ = nullptr;
  std::vector<Machine> machines_;
  std::map<std::string, std::set<std::string>> volumes_;
  WorldFacts facts_;
  ManualLoop loop_;
  std::unique_ptr<libvirt::LibvirtBackend> backend_;
};

// Without a daemon to talk to there is no fixture, and each case skips.
std::unique_ptr<BackendFixture> realGuest() {
  auto fixture = std::make_unique<RealGuestFixture>();
  if (!fixture->configured()) return nullptr;
  return fixture;
}

INSTANTIATE_TEST_SUITE_P(LibvirtGuest, BackendConformance,
                         ::testing::Values(BackendCase{"libvirt_guest", realGuest}), caseName);

}  // namespace
}  // namespace qor::host::conformance
