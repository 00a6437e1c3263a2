#include "tests/e2e/harness.h"

using namespace qor::e2e;
using ::testing::ElementsAre;
using ::testing::HasSubstr;

namespace {

constexpr const char* kId = "88888888-8888-4888-8888-888888888888";

json device(std::int64_t location, const std::string& name, std::int64_t vendor,
            std::int64_t product) {
  return {{"id", location},        {"name", name},       {"manufacturerName", "Acme"},
          {"productName", "P"},    {"vendorId", vendor}, {"productId", product},
          {"connectedTo", nullptr}};
}

class UsbTest : public HostTest {
 protected:
  void devices(const json& list, const std::string& status = "StSc") {
    setWorld({{"machines", {vm(kId, "guest", status)}}, {"usbDevices", list}});
  }
  std::vector<std::string> deviceRequests() {
    std::vector<std::string> out;
    for (const auto& r : requests()) {
      if (r.path.find("/usb/") != std::string::npos) out.push_back(r.label());
    }
    return out;
  }
};

TEST_F(UsbTest, ListLaysOutNameIdsAndLocation) {
  devices({device(4, "Keyboard", 0x5AC, 0x24F),
           device(12, "A name that is much longer than thirty-two", 0xDEAD, 0xBEEF),
           device(-3, "Caméra", 0x1234, 0x5), device(7, std::string(31, 'e') + "😀x", 1, 2)});
  const auto result = run({"usb", "list"});
  EXPECT_EQ(result.err, "");
  EXPECT_EQ(result.status, 0);
  EXPECT_EQ(result.out,
            "Name                             VID :PID  Location\n"
            "Keyboard                         05AC:024F 4\n"
            "A name that is much longer than  DEAD:BEEF 12\n"
            "Caméra                           1234:0005 -3\n" +
                std::string(31, 'e') + "  0001:0002 7\n");
  // Each device's connection first (the header depends on them), then row by row.
  EXPECT_THAT(
      deviceRequests(),
      ElementsAre("Get UsbDevice.Connection", "Get UsbDevice.Connection",
                  "Get UsbDevice.Connection", "Get UsbDevice.Connection", "Get UsbDevice.Name",
                  "Get UsbDevice.VendorId", "Get UsbDevice.ProductId", "Get UsbDevice.Id",
                  "Get UsbDevice.Name", "Get UsbDevice.VendorId", "Get UsbDevice.ProductId",
                  "Get UsbDevice.Id", "Get UsbDevice.Name", "Get UsbDevice.VendorId",
                  "Get UsbDevice.ProductId", "Get UsbDevice.Id", "Get UsbDevice.Name",
                  "Get UsbDevice.VendorId", "Get UsbDevice.ProductId", "Get UsbDevice.Id"));
}

// A host over several connections names the one each device is plugged into; the table then
// has a column for it, and the document a value. Without one the output is as before.
TEST_F(UsbTest, ListNamesTheConnectionOfEachDeviceWhenTheHostHasSeveral) {
  const auto on = [](int device, const std::string& uri) {
    return json{{"member", "Get.Connection"},
                {"path", "/org/qor/Scripting1/usb/" + std::to_string(device)},
                {"value", uri}};
  };
  const json older = {{"member", "Get.Connection"},
                      {"error", "org.freedesktop.DBus.Error.UnknownProperty"},
                      {"message", "The object has no property Connection."}};
  const json list = {device(4, "Keyboard", 0x5AC, 0x24F), device(1005, "Stick", 0x781, 0x5581),
                     device(123456789, "Hub", 1, 2)};
  const std::string keyboard = "Keyboard                         05AC:024F ";
  const std::string stick = "Stick                            0781:5581 ";
  const std::string hub = "Hub                              0001:0002 ";
  const std::string header = "Name                             VID :PID  Location";
  struct Case {
    const char* name;
    json faults;
    std::string table;
    std::string document;
  };
  const Case cases[] = {
      {"two connections",
       {on(0, "qemu:///session"), on(1, "qemu+ssh://me@build-server/system"),
        on(2, "qemu+ssh://me@build-server/system")},
       header + "  Connection\n" + keyboard + "4         qemu:///session\n" + stick +
           "1005      qemu+ssh://me@build-server/system\n" + hub +
           "123456789  qemu+ssh://me@build-server/system\n",
       R"([{"name": "Keyboard", "vendorId": "05AC", "productId": "024F", "location": 4, )"
       R"("connection": "qemu:///session"}, )"
       R"({"name": "Stick", "vendorId": "0781", "productId": "5581", "location": 1005, )"
       R"("connection": "qemu+ssh://me@build-server/system"}, )"
       R"({"name": "Hub", "vendorId": "0001", "productId": "0002", "location": 123456789, )"
       R"("connection": "qemu+ssh://me@build-server/system"}])"},
      {"one connection", json::array(),
       header + "\n" + keyboard + "4\n" + stick + "1005\n" + hub + "123456789\n",
       R"([{"name": "Keyboard", "vendorId": "05AC", "productId": "024F", "location": 4, )"
       R"("connection": null}, )"
       R"({"name": "Stick", "vendorId": "0781", "productId": "5581", "location": 1005, )"
       R"("connection": null}, )"
       R"({"name": "Hub", "vendorId": "0001", "productId": "0002", "location": 123456789, )"
       R"("connection": null}])"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    TearDown();
    SetUp();
    setWorld({{"machines", {vm(kId, "guest")}}, {"usbDevices", list}, {"faults", c.faults}});
    const auto table = run({"usb", "list"});
    EXPECT_EQ(table.out, c.table);
    EXPECT_EQ(table.err, "");
    EXPECT_EQ(table.status, 0);
    const auto document = run({"usb", "list", "--format", "json"});
    EXPECT_EQ(document.out, c.document + "\n");
    EXPECT_EQ(document.status, 0);
  }

  // A host that does not know the property lists as one with a single connection.
  TearDown();
  SetUp();
  setWorld({{"machines", {vm(kId, "guest")}}, {"usbDevices", list}, {"faults", {older}}});
  const auto table = run({"usb", "list"});
  EXPECT_EQ(table.out, cases[1].table);
  EXPECT_EQ(table.err, "");
  EXPECT_EQ(table.status, 0);

  // A connection that cannot be read is reported, shown as unknown, and fails the list; the
  // document is absent.
  TearDown();
  SetUp();
  setWorld({{"machines", {vm(kId, "guest")}},
            {"usbDevices", list},
            {"faults",
             {on(0, "qemu:///session"),
              {{"member", "Get.Connection"},
               {"path", "/org/qor/Scripting1/usb/1"},
               {"error", "org.qor.Scripting1.Error.Failed"},
               {"message", "boom"}},
              on(2, "qemu:///session")}}});
  const auto failed = run({"usb", "list"});
  EXPECT_EQ(failed.out, header + "  Connection\n" + keyboard + "4         qemu:///session\n" +
                            stick + "1005      ?\n" + hub + "123456789  qemu:///session\n");
  EXPECT_THAT(failed.err, HasSubstr("UsbDevice.Connection failed"));
  EXPECT_EQ(failed.status, 1);
  const auto absent = run({"usb", "list", "--format", "json"});
  EXPECT_EQ(absent.out, "");
  EXPECT_EQ(absent.err, failed.err);
  EXPECT_EQ(absent.status, 1);
}

TEST_F(UsbTest, ListWithoutDevicesSaysSo) {
  devices(json::array());
  const auto result = run({"usb", "list"});
  EXPECT_EQ(result.out, "No devices found. Make sure a USB sharing enabled VM is running.\n");
  EXPECT_EQ(result.status, 0);
}

TEST_F(UsbTest, AFailedDeviceListIsNotAnEmptyOne) {
  setWorld(
      {{"usbDevices", {device(4, "Keyboard", 1, 2)}},
       {"faults", {{{"member", "Get.UsbDevices"}, {"error", "org.qor.Scripting1.Error.Failed"}}}}});
  const auto result = run({"usb", "list"});
  EXPECT_EQ(result.out, "");
  EXPECT_THAT(result.err, HasSubstr("Application.UsbDevices failed"));
  EXPECT_EQ(result.status, 1);
}

TEST_F(UsbTest, ADeviceWithoutANameIsListedBlankAndFails) {
  json nameless = device(5, "", 1, 2);
  nameless.erase("name");
  devices({nameless, device(6, "Mouse", 3, 4)});
  const auto result = run({"usb", "list"});
  EXPECT_EQ(result.out, "Name                             VID :PID  Location\n" +
                            std::string(32, ' ') +
                            " 0001:0002 5\nMouse                            0003:0004 6\n");
  EXPECT_THAT(result.err, HasSubstr("UsbDevice.Name failed"));
  EXPECT_EQ(result.status, 1);
}

TEST_F(UsbTest, IdentifiersPickTheRightDevice) {
  const json list = {device(10, "first", 0x10, 0x20), device(12, "second", 0xDEAD, 0xBEEF),
                     device(4, "third", 0xDEAD, 0xBEEF), device(4, "fourth", 0x1, 0x2),
                     device(-1, "fifth", 0x3, 0x4)};
  struct Case {
    std::string identifier;
    std::string expected;  // the device name that ends up connected, or the error
  };
  const Case cases[] = {
      {"DEAD:BEEF", "second"},
      {"dead:beef", "second"},
      {"10:20", "first"},
      {"12", "second"},
      {"+4", "third"},
      {"4", "third"},
      {"-1", "fifth"},
      {"::10:20::", "first"},
      {"1:2:3", "Error: Identifier '1:2:3' is invalid.\n"},
      {":4", "Error: Identifier ':4' is invalid.\n"},
      {"4:", "Error: Identifier '4:' is invalid.\n"},
      {"::4", "Error: Identifier '::4' is invalid.\n"},
      {"0x12:0x34", "Error: Identifier '0x12:0x34' is invalid.\n"},
      {"+:1", "Error: Identifier '+:1' is invalid.\n"},
      {"", "Error: Identifier '' is invalid.\n"},
      {"12345678901234567890", "Error: Identifier '12345678901234567890' is invalid.\n"},
      {"BEEF:DEAD", "Error: Device not found.\n"},
      {"11", "Error: Device not found.\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.identifier);
    TearDown();
    SetUp();
    devices(list);
    // "--" ends the options, so an identifier may start with a dash ("-1").
    const auto result = run({"usb", "connect", kId, "--", c.identifier});
    if (c.expected.rfind("Error", 0) == 0) {
      EXPECT_EQ(result.err, c.expected);
      EXPECT_EQ(result.status, 1);
      for (const auto& r : requests()) EXPECT_NE(r.member, "Connect");
      continue;
    }
    EXPECT_EQ(result.err, "");
    EXPECT_EQ(result.status, 0);
    // Held in a variable: a range-for over a member of a temporary reads freed memory.
    const auto world = readWorld();
    for (const auto& d : world["usbDevices"]) {
      EXPECT_EQ(d["connectedTo"] == kId, d["name"] == c.expected) << d.dump();
    }
  }
}

TEST_F(UsbTest, ProductIdIsReadOnlyAfterTheVendorMatched) {
  devices(
      {device(1, "a", 0x1111, 0x2), device(2, "b", 0xDEAD, 0x3), device(3, "c", 0xDEAD, 0xBEEF)});
  ASSERT_EQ(run({"usb", "connect", kId, "DEAD:BEEF"}).status, 0);
  EXPECT_THAT(deviceRequests(), ElementsAre("Get UsbDevice.VendorId", "Get UsbDevice.VendorId",
                                            "Get UsbDevice.ProductId", "Get UsbDevice.VendorId",
                                            "Get UsbDevice.ProductId",
                                            "UsbDevice.Connect [\"" + machinePath(kId) + "\"]"));
}

TEST_F(UsbTest, ConnectLooksUpTheMachineBeforeTheDevice) {
  devices(json::array({device(4, "Keyboard", 1, 2)}));
  const auto result = run({"usb", "connect", "no such machine", "not:an:identifier"});
  EXPECT_EQ(result.err, "Error: Virtual machine not found.\n");
  EXPECT_EQ(result.status, 1);
}

TEST_F(UsbTest, ConnectThenDisconnectMovesTheDevice) {
  devices(json::array({device(4, "Keyboard", 0x5AC, 0x24F)}));
  ASSERT_EQ(run({"usb", "connect", "guest", "05ac:024f"}).status, 0);
  EXPECT_EQ(readWorld()["usbDevices"][0]["connectedTo"], kId);
  const auto disconnect = run({"usb", "disconnect", "4"});
  EXPECT_EQ(disconnect.out, "");
  EXPECT_EQ(disconnect.status, 0);
  EXPECT_TRUE(readWorld()["usbDevices"][0]["connectedTo"].is_null());
}

TEST_F(UsbTest, RejectedConnectAndDisconnectFail) {
  devices(json::array({device(4, "Keyboard", 1, 2)}), "StSa");
  const auto connect = run({"usb", "connect", "guest", "4"});
  EXPECT_THAT(connect.err, testing::StartsWith("Error from event: The request UsbDevice.Connect"));
  EXPECT_EQ(connect.status, 1);
  const auto disconnect = run({"usb", "disconnect", "4"});
  EXPECT_THAT(disconnect.err,
              testing::StartsWith("Error from event: The request UsbDevice.Disconnect"));
  EXPECT_EQ(disconnect.status, 1);
}

}  // namespace
