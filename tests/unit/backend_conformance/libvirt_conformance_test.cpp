// The conformance suite on the libvirt backend, over libvirt's test driver: machines kept in
// memory, a loop the test runs by hand while the backend's worker threads post to it.
//
// The world is test:///default, which every connection of the process shares. A world read from
// a file would be a separate one for each connection, and the backend opens two (one for reads,
// one for its worker), so it could not see its own changes there. The fixture therefore adds its
// machines to the shared world for each backend, and takes away all it added afterwards.

#include <libvirt/libvirt.h>

#include <chrono>
#include <cstdlib>
#include <memory>
#include <set>
#include <string>
#include <thread>

#include "backend_fixture.h"
#include "host/backend/manual_loop.h"
#include "host/libvirt/handles.h"
#include "host/libvirt/libvirt_backend.h"

namespace qor::host::conformance {
namespace {

constexpr const char* kUri = "test:///default";
// The machine test:///default starts with, running; the fixture leaves it as it is.
constexpr const char* kBuiltIn = "6695eb01-f6a4-8304-79aa-97f2502e193f";

enum class State { stopped, running, paused };
struct Defined {
  const char* uuid;
  const char* name;
  State state;
};
const Defined kMachines[] = {
    {"5d3e2a1c-7b4f-4e8a-9c61-2f0b8d4a1e01", "Debian", State::running},
    {"9a7c4e21-3d5b-4f68-8e12-6b0d3c9f2a02", "Caf\u00e9", State::stopped},
    {"c2f18b6d-0e4a-4b97-a5d3-71e9f4086b03", "macOS Sonoma", State::paused},
    {"e8b45d90-62c1-4a3f-9b7e-0d5f2c8a1e04", "Fedora Server", State::running},
};

std::string domainXml(const Defined& m) {
  return std::string("<domain type='test'><name>") + m.name + "</name><uuid>" + m.uuid +
         "</uuid><memory>65536</memory><os><type>hvm</type></os></domain>";
}

// How long the loop must stay idle before the worker is taken to have answered all it was given:
// the test driver answers in well under a millisecond, so this is only scheduling slack.
constexpr std::chrono::milliseconds kQuiet{200};

class LibvirtFixture : public BackendFixture {
 public:
  LibvirtFixture() : conn_(virConnectOpen(kUri)) {
    if (!conn_) ADD_FAILURE() << "cannot open " << kUri << ": " << libvirt::lastErrorMessage();
    volumes_ = volumes();
  }
  ~LibvirtFixture() override {
    backend_.reset();
    loop_.runPending();  // what the workers posted before they stopped; it finds nothing
    restore();
    if (conn_) virConnectClose(conn_);
  }

  Backends make() override {
    backend_.reset();
    restore();
    for (const auto& m : kMachines) {
      libvirt::Domain d(virDomainDefineXML(conn_, domainXml(m).c_str()));
      if (!d) {
        ADD_FAILURE() << m.name << ": " << libvirt::lastErrorMessage();
        continue;
      }
      if (m.state != State::stopped && virDomainCreate(d.get()) != 0) {
        ADD_FAILURE() << m.name << ": " << libvirt::lastErrorMessage();
      }
      if (m.state == State::paused && virDomainSuspend(d.get()) != 0) {
        ADD_FAILURE() << m.name << ": " << libvirt::lastErrorMessage();
      }
    }
    backend_ = std::make_unique<libvirt::LibvirtBackend>(loop_, kUri);
    return backend_->concerns();
  }

  // Runs the loop until it has been idle for a while, for at most 30 s.
  void settle() override {
    using Clock = std::chrono::steady_clock;
    const auto deadline = Clock::now() + std::chrono::seconds(30);
    auto quietSince = Clock::now();
    while (Clock::now() < deadline) {
      if (loop_.runPending() > 0) {
        quietSince = Clock::now();
      } else if (Clock::now() - quietSince >= kQuiet) {
        return;
      } else {
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
      }
    }
    ADD_FAILURE() << "the loop was still busy after 30 s";
  }

  const WorldFacts& facts() const override { return facts_; }

 private:
  // The shared world as the fixture found it: the built-in machine running, none of the ones
  // added (nor their copies), no volume a copy made.
  void restore() {
    if (!conn_) return;
    virDomainPtr* all = nullptr;
    const int n = virConnectListAllDomains(conn_, &all, 0);
    for (int i = 0; i < n; ++i) {
      libvirt::Domain d(all[i]);
      char uuid[VIR_UUID_STRING_BUFLEN] = {};
      virDomainGetUUIDString(d.get(), uuid);
      int state = 0;
      virDomainGetState(d.get(), &state, nullptr, 0);
      if (std::string(uuid) == kBuiltIn) {
        if (virDomainIsActive(d.get()) != 1) virDomainCreate(d.get());
        if (state == VIR_DOMAIN_PAUSED) virDomainResume(d.get());
        continue;
      }
      if (virDomainIsActive(d.get()) == 1) virDomainDestroy(d.get());
      virDomainUndefineFlags(d.get(), VIR_DOMAIN_UNDEFINE_MANAGED_SAVE);
    }
    std::free(all);
    libvirt::Pool pool(virStoragePoolLookupByName(conn_, "default-pool"));
    if (!pool) return;
    virStorageVolPtr* vols = nullptr;
    const int m = virStoragePoolListAllVolumes(pool.get(), &vols, 0);
    for (int i = 0; i < m; ++i) {
      if (!volumes_.count(virStorageVolGetName(vols[i]))) virStorageVolDelete(vols[i], 0);
      virStorageVolFree(vols[i]);
    }
    std::free(vols);
  }

  std::set<std::string> volumes() {
    std::set<std::string> names;
    libvirt::Pool pool(conn_ ? virStoragePoolLookupByName(conn_, "default-pool") : nullptr);
    if (!pool) return names;
    virStorageVolPtr* vols = nullptr;
    const int n = virStoragePoolListAllVolumes(pool.get(), &vols, 0);
    for (int i = 0; i < n; ++i) {
      names.insert(virStorageVolGetName(vols[i]));
      virStorageVolFree(vols[i]);
    }
    std::free(vols);
    return names;
  }

  virConnectPtr conn_ = nullptr;
  std::set<std::string> volumes_;
  ManualLoop loop_;
  std::unique_ptr<libvirt::LibvirtBackend> backend_;
  // The backend lists machines by name (a copy takes its place among them) and gives their UUIDs
  // in capitals; it has no guest agent to talk to here, and no host USB device to lend.
  const WorldFacts facts_{
      .running = {"5D3E2A1C-7B4F-4E8A-9C61-2F0B8D4A1E01", "Debian"},
      .stopped = {"9A7C4E21-3D5B-4F68-8E12-6B0D3C9F2A02", "Caf\u00e9"},
      .paused = MachineFacts{"C2F18B6D-0E4A-4B97-A5D3-71E9F4086B03", "macOS Sonoma"},
      .secondRunning = MachineFacts{"E8B45D90-62C1-4A3F-9B7E-0D5F2C8A1E04", "Fedora Server"},
      .listOrder = {"9A7C4E21-3D5B-4F68-8E12-6B0D3C9F2A02", "5D3E2A1C-7B4F-4E8A-9C61-2F0B8D4A1E01",
                    "E8B45D90-62C1-4A3F-9B7E-0D5F2C8A1E04", "C2F18B6D-0E4A-4B97-A5D3-71E9F4086B03",
                    "6695EB01-F6A4-8304-79AA-97F2502E193F"},
      .equivalentNames = {{"Cafe\u0301", "9A7C4E21-3D5B-4F68-8E12-6B0D3C9F2A02"}},
      .idsInAnyCase = true,
      .newMachinesLast = false,
      .guestAnswers = false,
  };
};

INSTANTIATE_TEST_SUITE_P(Libvirt, BackendConformance,
                         ::testing::Values(BackendCase{
                             "libvirt", [] { return std::make_unique<LibvirtFixture>(); }}),
                         caseName);

}  // namespace
}  // namespace qor::host::conformance
