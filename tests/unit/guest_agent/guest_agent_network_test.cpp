#include <gtest/gtest.h>

#include "contract/errors.h"
#include "fake_agent.h"

namespace qor::host::libvirt {
namespace {

using namespace testing;
namespace names = contract::error_names;

nlohmann::json address(const char* ip, const char* type) {
  return {{"ip-address", ip}, {"ip-address-type", type}, {"prefix", 24}};
}

TEST(GuestAddressesTest, IPv4FirstThenIPv6WithoutLoopback) {
  FakeAgent agent;
  GuestAgent guest(agent);
  agent.script.push_back(ok(nlohmann::json::array({
      {{"name", "lo"}, {"ip-addresses", {address("127.0.0.1", "ipv4"), address("::1", "ipv6")}}},
      {{"name", "eth0"},
       {"hardware-address", "52:54:00:51:00:01"},
       {"ip-addresses", {address("fe80::5054:ff:fe51:1", "ipv6"), address("10.0.2.15", "ipv4")}}},
      {{"name", "eth1"}},
      {{"name", "eth2"},
       {"ip-addresses", {address("192.168.1.9", "ipv4"), address("2001:db8::9", "ipv6")}}},
  })));
  EXPECT_EQ(value(guest.addresses(kDomain)),
            (std::vector<std::string>{"10.0.2.15", "192.168.1.9", "fe80::5054:ff:fe51:1",
                                      "2001:db8::9"}));
  EXPECT_EQ(agent.sent[0], (nlohmann::json{{"execute", "guest-network-get-interfaces"}}));

  agent.script.push_back(ok({{"name", "eth0"}}));
  EXPECT_EQ(errorOf(guest.addresses(kDomain)).errorName(), names::kHostFailed);
}

TEST(GuestAddressesTest, WithoutAnAgentLibvirtsLeasesThenItsArpTable) {
  struct Case {
    const char* name;
    std::optional<std::vector<InterfaceAddress>> lease, arp;
    std::vector<std::string> expected;  // empty: the agent's error
  } cases[] = {
      {"lease",
       std::vector<InterfaceAddress>{{"vnet0", "192.168.122.7", false}},
       std::nullopt,
       {"192.168.122.7"}},
      {"no lease, ARP",
       std::vector<InterfaceAddress>{},
       std::vector<InterfaceAddress>{{"vnet0", "fe80::1", true}, {"vnet0", "192.168.122.8", false}},
       {"192.168.122.8", "fe80::1"}},
      {"lease fails, ARP fails", std::nullopt, std::nullopt, {}},
      {"nothing known", std::vector<InterfaceAddress>{}, std::vector<InterfaceAddress>{}, {}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    FakeAgent agent;
    std::vector<AddressSource> asked;
    GuestAgent guest(agent, [&](const std::string& uuid, AddressSource source) {
      EXPECT_EQ(uuid, kDomain);
      asked.push_back(source);
      return source == AddressSource::lease ? c.lease : c.arp;
    });
    agent.script.push_back(failure("QEMU guest agent is not connected"));
    auto got = guest.addresses(kDomain);
    if (c.expected.empty()) {
      auto e = errorOf(got);
      EXPECT_EQ(e.errorName(), names::kInvalidState);
      EXPECT_NE(e.message.find("not running in the guest"), std::string::npos) << e.message;
      EXPECT_NE(e.message.find("ARP"), std::string::npos) << e.message;
    } else {
      EXPECT_EQ(value(got), c.expected);
    }
    EXPECT_EQ(asked.front(), AddressSource::lease);
  }
}

TEST(GuestAddressesTest, AMachineThatIsNotRunningIsNotLookedUpElsewhere) {
  FakeAgent agent;
  bool asked = false;
  GuestAgent guest(agent, [&](const std::string&, AddressSource) {
    asked = true;
    return std::optional<std::vector<InterfaceAddress>>{{{"vnet0", "192.168.122.7", false}}};
  });
  agent.script.push_back(failure("Requested operation is not valid: domain is not running"));
  EXPECT_EQ(errorOf(guest.addresses(kDomain)).errorName(), names::kInvalidState);
  EXPECT_FALSE(asked);
}

}  // namespace
}  // namespace qor::host::libvirt
