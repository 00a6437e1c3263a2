// The libvirt backend against libvirt's test driver: machines and a storage pool kept in
// memory, from a node file written per test.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>

#include "contract/codes.h"
#include "host/libvirt/handles.h"
#include "host/libvirt/libvirt_backend.h"
#include "queue_loop.h"

namespace qor::host::libvirt {
namespace {

using contract::QorStatus;
using testing::QueueLoop;

// libvirt's test:///default keeps one world per process, which every connection of the
// process shares (a test driver opened from a file gives each connection a world of its own):
// its running machine "test" and an empty pool "default-pool". Each test adds a stopped
// machine "beta" with a pool volume and a shared ISO image, and takes away what it added.
constexpr const char* kUri = "test:///default";
constexpr const char* kBeta = R"(<domain type='test'>
  <name>beta</name>
  <uuid>1b2c3d4e-0000-4000-8000-0000000000b2</uuid>
  <memory>65536</memory>
  <os><type>hvm</type></os>
  <devices>
    <disk type='file' device='disk'><source file='/default-pool/beta.qcow2'/><target dev='vda'/></disk>
    <disk type='file' device='cdrom'><source file='/iso/install.iso'/><target dev='hdc'/><readonly/></disk>
    <interface type='network'><mac address='52:54:00:aa:bb:01'/><source network='default'/></interface>
  </devices>
</domain>)";

class LibvirtBackendTest : public ::testing::Test {
 protected:
  void SetUp() override {
    conn_ = virConnectOpen(kUri);
    ASSERT_TRUE(conn_);
    Pool pool(virStoragePoolLookupByName(conn_, "default-pool"));
    Volume vol(virStorageVolCreateXML(pool.get(),
                                      "<volume><name>beta.qcow2</name><capacity>1000000</capacity>"
                                      "<target><format type='qcow2'/></target></volume>",
                                      0));
    ASSERT_TRUE(vol) << lastErrorMessage();
    Domain beta(virDomainDefineXML(conn_, kBeta));
    ASSERT_TRUE(beta) << lastErrorMessage();
    backend_ = std::make_unique<LibvirtBackend>(loop_, kUri);
  }
  void TearDown() override {
    backend_.reset();
    virDomainPtr* all = nullptr;
    const int n = virConnectListAllDomains(conn_, &all, 0);
    for (int i = 0; i < n; ++i) {
      Domain d(all[i]);
      if (std::string(virDomainGetName(d.get())) == "test") {
        if (virDomainIsActive(d.get()) != 1) virDomainCreate(d.get());
        int state = 0;
        virDomainGetState(d.get(), &state, nullptr, 0);
        if (state == VIR_DOMAIN_PAUSED) virDomainResume(d.get());
        continue;
      }
      if (virDomainIsActive(d.get()) == 1) virDomainDestroy(d.get());
      virDomainUndefineFlags(d.get(), VIR_DOMAIN_UNDEFINE_MANAGED_SAVE);
    }
    std::free(all);
    Pool pool(virStoragePoolLookupByName(conn_, "default-pool"));
    virStorageVolPtr* vols = nullptr;
    const int m = virStoragePoolListAllVolumes(pool.get(), &vols, 0);
    for (int i = 0; i < m; ++i) {
      virStorageVolDelete(vols[i], 0);
      virStorageVolFree(vols[i]);
    }
    std::free(vols);
    virConnectClose(conn_);
  }

  template <class T>
  Result<T> waitFor(const std::function<void(Completion<T>)>& call) {
    std::optional<Result<T>> out;
    call(Completion<T>([&](Result<T> r) { out = std::move(r); }));
    EXPECT_TRUE(loop_.runUntil([&] { return out.has_value(); }));
    return out ? *out : Result<T>(failed("no answer"));
  }
  Result<Done> wait(const std::function<void(Completion<Done>)>& call) {
    return waitFor<Done>(call);
  }
  template <class T>
  static std::string errorOf(const Result<T>& r) {
    const auto* e = failureOf(r);
    return e ? std::string(e->errorName()) + ": " + e->message : "no error";
  }
  Machines& machines() { return *backend_->concerns().machines; }
  MachineKey key(const std::string& name) { return machines().byName(name).value_or(0); }
  std::uint32_t status(const std::string& name) {
    return machines().info(key(name)).value().status.value();
  }
  std::string xmlOf(const std::string& name) {
    Domain d(virDomainLookupByName(conn_, name.c_str()));
    return d ? takeString(virDomainGetXMLDesc(d.get(), VIR_DOMAIN_XML_INACTIVE)) : "";
  }
  std::vector<std::string> volumes() {
    std::vector<std::string> names;
    Pool pool(virStoragePoolLookupByName(conn_, "default-pool"));
    virStorageVolPtr* vols = nullptr;
    const int n = virStoragePoolListAllVolumes(pool.get(), &vols, 0);
    for (int i = 0; i < n; ++i) {
      names.emplace_back(virStorageVolGetName(vols[i]));
      virStorageVolFree(vols[i]);
    }
    std::free(vols);
    std::sort(names.begin(), names.end());
    return names;
  }

  QueueLoop loop_;
  std::unique_ptr<LibvirtBackend> backend_;
  virConnectPtr conn_ = nullptr;
};

TEST_F(LibvirtBackendTest, MachinesByNameWithUuidsInCapitalsFoundInEitherCase) {
  EXPECT_TRUE(succeeded(machines().reachable()));
  const auto keys = machines().list();
  ASSERT_EQ(keys.size(), 2u);
  auto first = machines().info(keys[0]);
  auto second = machines().info(keys[1]);
  EXPECT_EQ(first->name, "beta");
  EXPECT_EQ(first->id, "1B2C3D4E-0000-4000-8000-0000000000B2");
  EXPECT_EQ(first->backend, contract::kQemuBackend);
  EXPECT_EQ(second->name, "test");
  EXPECT_EQ(machines().byId("1b2c3d4e-0000-4000-8000-0000000000b2"), keys[0]);
  EXPECT_EQ(machines().byId("1B2C3D4E-0000-4000-8000-0000000000B2"), keys[0]);
  EXPECT_EQ(machines().byId("1B2C3D4E"), std::nullopt);
  EXPECT_EQ(machines().byName("BETA"), std::nullopt);
  EXPECT_EQ(first->status, contract::code(QorStatus::stopped));
  EXPECT_EQ(second->status, contract::code(QorStatus::started));
  EXPECT_TRUE(backend_->concerns().usb->devices().empty());
  // It has no windows and nothing of its own to write: it provides neither.
  EXPECT_EQ(backend_->concerns().windows, nullptr);
  EXPECT_EQ(backend_->concerns().persistence, nullptr);
}

TEST_F(LibvirtBackendTest, LifecycleThroughTheWorker) {
  EXPECT_EQ(errorOf(wait([&](auto d) { machines().suspend(key("test"), false, d); })), "no error");
  EXPECT_EQ(status("test"), contract::code(QorStatus::paused));
  EXPECT_EQ(errorOf(wait([&](auto d) { machines().start(key("test"), true, false, d); })),
            "no error");
  EXPECT_EQ(status("test"), contract::code(QorStatus::started));
  EXPECT_EQ(errorOf(wait([&](auto d) { machines().suspend(key("test"), true, d); })), "no error");
  EXPECT_EQ(status("test"), contract::code(QorStatus::paused));  // saved
  EXPECT_EQ(errorOf(wait([&](auto d) { machines().start(key("test"), true, false, d); })),
            "no error");
  EXPECT_EQ(status("test"), contract::code(QorStatus::started));
  const auto kill = contract::code(contract::QorStopMethod::kill);
  EXPECT_EQ(errorOf(wait([&](auto d) { machines().stop(key("test"), kill, d); })), "no error");
  EXPECT_EQ(status("test"), contract::code(QorStatus::stopped));
  // libvirt's own words for what the state does not allow.
  EXPECT_EQ(errorOf(wait([&](auto d) { machines().stop(key("test"), kill, d); })),
            "org.qor.Scripting1.Error.InvalidState: Requested operation is not valid: domain is "
            "not running");
  EXPECT_EQ(errorOf(wait([&](auto d) { machines().start(key("test"), true, true, d); })),
            "org.qor.Scripting1.Error.Failed: These virtual machines have no recovery mode.");
}

TEST_F(LibvirtBackendTest, DuplicateCopiesWritableDisksAndDeleteRemovesOnlyThose) {
  EXPECT_EQ(errorOf(wait([&](auto d) { machines().duplicate(key("test"), std::nullopt, d); })),
            "org.qor.Scripting1.Error.InvalidState: Only a stopped virtual machine can be "
            "duplicated: stop it first.");
  EXPECT_EQ(errorOf(wait([&](auto d) { machines().duplicate(key("beta"), std::nullopt, d); })),
            "no error");
  EXPECT_EQ(volumes(), (std::vector<std::string>{"beta-copy.qcow2", "beta.qcow2"}));
  const auto copy = xmlOf("beta copy");
  ASSERT_FALSE(copy.empty());
  EXPECT_NE(copy.find("/default-pool/beta-copy.qcow2"), std::string::npos) << copy;
  EXPECT_NE(copy.find("/iso/install.iso"), std::string::npos);  // shared
  EXPECT_EQ(copy.find("52:54:00:aa:bb:01"), std::string::npos);
  EXPECT_EQ(copy.find("1b2c3d4e-0000-4000-8000-0000000000b2"), std::string::npos);

  EXPECT_EQ(errorOf(wait([&](auto d) { machines().duplicate(key("beta"), "named", d); })),
            "no error");
  EXPECT_EQ(volumes(), (std::vector<std::string>{"beta-copy.qcow2", "beta.qcow2", "named.qcow2"}));

  EXPECT_EQ(errorOf(wait([&](auto d) { machines().remove(key("beta copy"), d); })), "no error");
  EXPECT_FALSE(machines().byName("beta copy"));
  EXPECT_EQ(volumes(), (std::vector<std::string>{"beta.qcow2", "named.qcow2"}));
  // The user's own machine goes, its disk stays.
  EXPECT_EQ(errorOf(wait([&](auto d) { machines().remove(key("beta"), d); })), "no error");
  EXPECT_EQ(volumes(), (std::vector<std::string>{"beta.qcow2", "named.qcow2"}));
  EXPECT_EQ(errorOf(wait([&](auto d) { machines().remove(key("test"), d); })),
            "org.qor.Scripting1.Error.InvalidState: The virtual machine is running: stop it "
            "before deleting it.");
}

TEST_F(LibvirtBackendTest, ADiskAnotherMachineUsesIsKeptOnDelete) {
  ASSERT_EQ(errorOf(wait([&](auto d) { machines().duplicate(key("beta"), "copy", d); })),
            "no error");
  // Someone points a machine of their own at the copy's disk.
  std::string other = xmlOf("beta");
  other.replace(other.find("<name>beta</name>"), 17, "<name>other</name>");
  other.erase(other.find("<uuid>"), other.find("</uuid>") + 7 - other.find("<uuid>"));
  const std::string disk = "/default-pool/beta.qcow2";
  other.replace(other.find(disk), disk.size(), "/default-pool/copy.qcow2");
  while (other.find("<mac ") != std::string::npos) {
    const auto at = other.find("<mac ");
    other.erase(at, other.find("/>", at) + 2 - at);
  }
  Domain defined(virDomainDefineXML(conn_, other.c_str()));
  ASSERT_TRUE(defined) << lastErrorMessage();
  EXPECT_EQ(errorOf(wait([&](auto d) { machines().remove(key("copy"), d); })), "no error");
  EXPECT_EQ(volumes(), (std::vector<std::string>{"beta.qcow2", "copy.qcow2"}));
}

// Guest requests reach the agent, on the worker, only for a running machine; the others say
// why not at once.
TEST_F(LibvirtBackendTest, GuestRequestsNeedARunningMachine) {
  GuestFiles& files = *backend_->concerns().files;
  GuestProcesses& processes = *backend_->concerns().processes;
  Network& network = *backend_->concerns().network;
  OpenFileArgs open;
  open.path = "/etc/hostname";
  open.mode = contract::code(contract::QorOpenMode::reading);
  ExecuteArgs run;
  run.program = "/bin/true";
  const std::string notRunning =
      "org.qor.Scripting1.Error.InvalidState: The virtual machine is not running, so it has no "
      "guest agent.";
  EXPECT_EQ(errorOf(waitFor<GuestHandle>([&](auto d) { files.open(key("beta"), open, d); })),
            notRunning);
  EXPECT_EQ(errorOf(waitFor<std::vector<std::string>>(
                [&](auto d) { network.addresses(key("beta"), d); })),
            notRunning);
  EXPECT_EQ(errorOf(waitFor<GuestHandle>([&](auto d) { files.open(999, open, d); })),
            "org.freedesktop.DBus.Error.UnknownObject: The virtual machine does not exist.");

  ASSERT_EQ(errorOf(wait([&](auto d) { machines().suspend(key("test"), false, d); })), "no error");
  EXPECT_EQ(errorOf(waitFor<GuestHandle>([&](auto d) { processes.execute(key("test"), run, d); })),
            "org.qor.Scripting1.Error.InvalidState: The virtual machine is paused, so its guest "
            "agent cannot answer; start it to resume it.");
  ASSERT_EQ(errorOf(wait([&](auto d) { machines().start(key("test"), true, false, d); })),
            "no error");

  // Asked of the agent's side on the worker: a program it never started is unknown.
  EXPECT_EQ(
      errorOf(waitFor<contract::Value>([&](auto d) { processes.result(key("test"), 99, d); })),
      "org.freedesktop.DBus.Error.UnknownObject: The guest process is not known (any "
      "more).");
  EXPECT_TRUE(files.files(key("test")).empty());
  EXPECT_TRUE(processes.processes(key("test")).empty());
  files.releaseFile(99);  // a handle already gone is no error
  processes.releaseProcess(99);
}

TEST(LibvirtBackendUnreachable, EveryRequestSaysWhyAndNothingIsListed) {
  QueueLoop loop;
  LibvirtBackend backend(loop, "qemu+unix:///session?socket=/nonexistent/qor-test-sock");
  Machines& machines = *backend.concerns().machines;
  const auto reachable = machines.reachable();
  const Failure* e = failureOf(reachable);
  ASSERT_TRUE(e);
  EXPECT_EQ(e->kind, HostErrorKind::unavailable);
  EXPECT_EQ(e->errorName(), "org.qor.Scripting1.Error.Failed");
  EXPECT_EQ(e->message.rfind("Cannot reach libvirt at qemu+unix:///session?socket=/nonexistent/"
                             "qor-test-sock: ",
                             0),
            0u)
      << e->message;
  EXPECT_NE(e->message.find("/nonexistent/qor-test-sock"), std::string::npos);
  EXPECT_TRUE(machines.list().empty());
}

}  // namespace
}  // namespace qor::host::libvirt
