#include <gtest/gtest.h>
#include <libvirt/libvirt.h>

#include <set>

#include "contract/codes.h"
#include "host/libvirt/mapping.h"

namespace qor::host::libvirt {
namespace {

using contract::QorStatus;

TEST(LibvirtStatus, EachStateHasItsWord) {
  struct Case {
    int state;
    int reason;
    bool saved;
    QorStatus status;
  };
  const Case cases[] = {
      {VIR_DOMAIN_RUNNING, VIR_DOMAIN_RUNNING_BOOTED, false, QorStatus::started},
      {VIR_DOMAIN_RUNNING, VIR_DOMAIN_RUNNING_RESTORED, false, QorStatus::started},
      {VIR_DOMAIN_BLOCKED, 0, false, QorStatus::started},
      {VIR_DOMAIN_PAUSED, VIR_DOMAIN_PAUSED_USER, false, QorStatus::paused},
      {VIR_DOMAIN_PAUSED, VIR_DOMAIN_PAUSED_MIGRATION, false, QorStatus::paused},
      {VIR_DOMAIN_PAUSED, VIR_DOMAIN_PAUSED_SAVE, false, QorStatus::pausing},
      {VIR_DOMAIN_PAUSED, VIR_DOMAIN_PAUSED_STARTING_UP, false, QorStatus::starting},
      {VIR_DOMAIN_PAUSED, VIR_DOMAIN_PAUSED_SHUTTING_DOWN, false, QorStatus::stopping},
      {VIR_DOMAIN_PMSUSPENDED, 0, false, QorStatus::paused},
      {VIR_DOMAIN_SHUTDOWN, 0, false, QorStatus::stopping},
      {VIR_DOMAIN_SHUTOFF, VIR_DOMAIN_SHUTOFF_SHUTDOWN, false, QorStatus::stopped},
      {VIR_DOMAIN_SHUTOFF, VIR_DOMAIN_SHUTOFF_SAVED, true, QorStatus::paused},
      {VIR_DOMAIN_CRASHED, 0, false, QorStatus::stopped},
      {VIR_DOMAIN_NOSTATE, 0, false, QorStatus::stopped},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(statusOf(c.state, c.reason, c.saved), contract::code(c.status))
        << "state " << c.state << " reason " << c.reason << " saved " << c.saved;
  }
}

TEST(LibvirtUuid, CapitalsForTheHostEitherCaseToFind) {
  EXPECT_EQ(uuidForHost("6695eb01-f6a4-8304-79aa-97f2502e193f"),
            "6695EB01-F6A4-8304-79AA-97F2502E193F");
  EXPECT_TRUE(
      sameUuid("6695EB01-F6A4-8304-79AA-97F2502E193F", "6695eb01-F6A4-8304-79aa-97f2502e193f"));
  EXPECT_FALSE(
      sameUuid("6695EB01-F6A4-8304-79AA-97F2502E193F", "6695EB01-F6A4-8304-79AA-97F2502E193"));
  EXPECT_FALSE(sameUuid("6695EB01", "6695EB02"));
}

TEST(LibvirtCopyName, FirstFreeOfNameCopyThenNumbers) {
  std::set<std::string> taken = {"Debian", "Debian copy", "Debian copy 2"};
  auto isTaken = [&](const std::string& n) { return taken.count(n) > 0; };
  EXPECT_EQ(copyName("Debian", isTaken), "Debian copy 3");
  EXPECT_EQ(copyName("Other", isTaken), "Other copy");
  EXPECT_EQ(copyName("Debian", [](const std::string&) { return true; }), std::nullopt);
}

TEST(LibvirtStopMethod, EachMethodItsAction) {
  EXPECT_EQ(stopActionOf(contract::code(contract::QorStopMethod::request)), StopAction::shutdown);
  EXPECT_EQ(stopActionOf(contract::code(contract::QorStopMethod::force)),
            StopAction::gracefulDestroy);
  EXPECT_EQ(stopActionOf(contract::code(contract::QorStopMethod::kill)), StopAction::destroy);
  EXPECT_EQ(stopActionOf(0), std::nullopt);
}

TEST(LibvirtUsbLocation, BusAndDeviceReadable) {
  EXPECT_EQ(usbLocation(1, 5), 1005);
  EXPECT_EQ(usbLocation(3, 127), 3127);
}

}  // namespace
}  // namespace qor::host::libvirt
