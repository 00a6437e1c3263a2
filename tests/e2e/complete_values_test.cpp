// The hidden query behind the completion scripts: `qorctl --complete-values <kind> [<word>]`.
#include <chrono>

#include "tests/e2e/harness.h"

using namespace qor::e2e;

namespace {

constexpr const char* kDebian = "5D3E2A1C-7B4F-4E8A-9C61-2F0B8D4A1E01";
constexpr const char* kWindows = "9A7C4E21-3D5B-4F68-8E12-6B0D3C9F2A02";

json device(std::int64_t location, std::int64_t vendor, std::int64_t product) {
  return {{"id", location},
          {"name", "D"},
          {"vendorId", vendor},
          {"productId", product},
          {"connectedTo", nullptr}};
}

class CompleteValuesTest : public HostTest {
 protected:
  void world(const json& faults = json::array()) {
    setWorld({{"machines", {vm(kDebian, "Debian"), vm(kWindows, "Windows 11")}},
              {"usbDevices",
               {device(4, 0x5AC, 0x24F), device(12, 0xDEAD, 0xBEEF), device(7, 0x5AC, 0x24F)}},
              {"faults", faults}});
  }
  // What a completion script gets, checked for being quiet and successful.
  std::string values(const std::vector<std::string>& words, const RunOptions& options = {}) {
    std::vector<std::string> arguments{"--complete-values"};
    arguments.insert(arguments.end(), words.begin(), words.end());
    const auto result = run(arguments, options);
    EXPECT_EQ(result.err, "");
    EXPECT_EQ(result.status, 0);
    return result.out;
  }
};

TEST_F(CompleteValuesTest, ARunningHostsNamesThenIdsOnceAUuidIsBegun) {
  world();
  startHost();
  EXPECT_EQ(values({"identifier"}), "Debian\nWindows 11\n");
  EXPECT_EQ(values({"identifier", "Win"}), "Debian\nWindows 11\n");
  EXPECT_EQ(values({"identifier", "9A7C"}),
            std::string("Debian\nWindows 11\n") + kDebian + "\n" + kWindows + "\n");
  // Every pair and location as `usb list` shows them, each once.
  EXPECT_EQ(values({"usb-device"}), "05AC:024F\nDEAD:BEEF\n4\n12\n7\n");
}

TEST_F(CompleteValuesTest, AHostThatIsNotRunningIsNotLaunched) {
  world();
  EXPECT_EQ(values({"identifier"}), "");
  EXPECT_EQ(values({"usb-device"}), "");
  EXPECT_FALSE(busNameHasOwner());
  EXPECT_TRUE(requests().empty());
}

TEST_F(CompleteValuesTest, AnyFailureGivesNothing) {
  RunOptions noBus;
  noBus.withBus = false;
  EXPECT_EQ(values({"identifier"}, noBus), "");
  // Words it does not know: nothing, and never a usage message.
  for (const std::vector<std::string>& words :
       std::vector<std::vector<std::string>>{{}, {"names"}, {"identifier", "a", "b"}, {"--help"}}) {
    EXPECT_EQ(values(words), "");
  }
  // A failed read of one name fails the whole answer rather than leaving a machine out.
  world({{{"member", "Get.Name"}, {"machine", kWindows}}});
  startHost();
  EXPECT_EQ(values({"identifier"}), "");
  EXPECT_EQ(values({"usb-device"}), "05AC:024F\nDEAD:BEEF\n4\n12\n7\n");
}

TEST_F(CompleteValuesTest, AHangingHostIsGivenUpOnWithinAboutASecond) {
  world({{{"member", "Get.VirtualMachines"}, {"action", "hang"}}});
  startHost();
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(values({"identifier"}), "");
  // The bus itself would wait 25 s for the reply.
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
}

}  // namespace
