#include <gtest/gtest.h>

#include "host_test_support.h"

namespace qor::host {
namespace {

using namespace testing;

class DispatchTest : public ::testing::Test {
 protected:
  DispatchTest()
      : host_(worldFrom(R"({
          "machines": [
            {"id": "ID-1", "name": "Caf\u00e9", "status": "StSc", "backend": "QeMu",
             "serialPorts": [{"id": 0, "interface": "TcP ", "port": 4555}]},
            {"id": "ID-2", "name": "Caf\u00e9", "status": 1234},
            {"name": "ID-1"},
            {"id": "ID-1", "name": "Shadowed"}
          ],
          "usbDevices": [{"id": 4, "vendorId": 1452}],
          "windows": [{"name": "Qor"}, {"name": "Other", "visible": false}]})",
                        folder_.path()),
              launcher_) {}

  Reply handle(Request r) { return host_.handle(r); }

  TempFolder folder_;
  FakeLauncher launcher_;
  Host host_;
};

TEST_F(DispatchTest, AnswersWhatCannotBeServedWithTheStandardErrors) {
  const std::string vm = vmById("ID-1");
  struct Case {
    const char* what;
    Request request;
    std::string_view error;
  };
  const std::vector<Case> cases = {
      {"a path outside the tree", call("/elsewhere", kVmInterface, "Start"),
       error_names::kUnknownObject},
      {"an inner node", call(std::string(kRoot) + "/vm", kVmInterface, "Start"),
       error_names::kUnknownObject},
      {"an unknown id", call(vmById("nope"), kVmInterface, "QueryIp"), error_names::kUnknownObject},
      {"a port past the list", get(vm + "/serial/1", "org.qor.Scripting1.SerialPort", "Id"),
       error_names::kUnknownObject},
      {"a file never opened", call(vm + "/file/1", "org.qor.Scripting1.GuestFile", "Close"),
       error_names::kUnknownObject},
      {"a window by position",
       get(std::string(kRoot) + "/window/0", "org.qor.Scripting1.Window", "Name"),
       error_names::kUnknownObject},
      {"another class's method", call(std::string(kRoot) + "/usb/0", kVmInterface, "Start"),
       error_names::kUnknownInterface},
      {"another class's property", get(std::string(kRoot) + "/usb/0", kVmInterface, "Status"),
       error_names::kUnknownInterface},
      {"an unknown method", call(vm, kVmInterface, "Reboot"), error_names::kUnknownMethod},
      {"an unknown property", get(vm, kVmInterface, "Color"), error_names::kUnknownProperty},
      {"a wrong signature", call(vm, kVmInterface, "Start", {Value::boolean(true)}),
       error_names::kInvalidArgs},
      {"Get with one argument",
       call(vm, "org.freedesktop.DBus.Properties", "Get", {Value::string(kVmInterface)}),
       error_names::kInvalidArgs},
      {"a read-only property",
       call(vm, "org.freedesktop.DBus.Properties", "Set",
            {Value::string(kVmInterface), Value::string("Name"),
             Value::variant(Value::string("x"))}),
       error_names::kPropertyReadOnly},
      {"an absent value", get(vm + "/serial/0", "org.qor.Scripting1.SerialPort", "Address"),
       error_names::kNoValue},
  };
  for (const auto& c : cases) {
    const Reply reply = handle(c.request);
    EXPECT_EQ(errorName(reply), c.error) << c.what;
    EXPECT_FALSE(reply.error && reply.error->message.empty()) << c.what;
  }
  EXPECT_FALSE(host_.takeChanged());
}

TEST_F(DispatchTest, ResolvesPathsAtEveryRequest) {
  // By name: the first machine in list order, under canonical equivalence, case-sensitive.
  EXPECT_EQ(*textOf(answer(handle(get(vmByName("Cafe\xCC\x81"), kVmInterface, "Id")))), "ID-1");
  EXPECT_EQ(errorName(handle(get(vmByName("caf\xC3\xA9"), kVmInterface, "Id"))),
            error_names::kUnknownObject);
  // By id, the id wins even where another machine has that text as its name.
  EXPECT_EQ(*textOf(answer(handle(get(vmById("ID-1"), kVmInterface, "Name")))), "Caf\xC3\xA9");

  // The list names each machine by id, except where the id cannot name it.
  const Value list =
      answer(handle(get(kRoot, "org.qor.Scripting1.Application", "VirtualMachines")));
  ASSERT_EQ(list.signature, "ao");
  std::vector<std::string> paths;
  for (const auto& p : *elementsOf(list)) paths.push_back(*textOf(p));
  ASSERT_EQ(paths.size(), 4u);
  EXPECT_EQ(paths[0], vmById("ID-1"));
  EXPECT_EQ(paths[1], vmById("ID-2"));
  for (const std::size_t i : {2u, 3u}) {
    EXPECT_EQ(paths[i].rfind(std::string(kRoot) + "/vm/key/", 0), 0u) << paths[i];
    const Reply name = handle(get(paths[i], kVmInterface, "Name"));
    EXPECT_FALSE(name.error) << paths[i];
  }
  EXPECT_EQ(*textOf(answer(handle(get(paths[3], kVmInterface, "Name")))), "Shadowed");
}

TEST_F(DispatchTest, PropertiesHaveTheirDeclaredTypes) {
  struct Case {
    std::string path;
    const char* interface;
    const char* property;
    const char* type;
  };
  const std::string vm = vmById("ID-1");
  const std::string app = kRoot;
  const Case cases[] = {
      {app, "org.qor.Scripting1.Application", "Name", "s"},
      {app, "org.qor.Scripting1.Application", "Version", "s"},
      {app, "org.qor.Scripting1.Application", "Frontmost", "b"},
      {app, "org.qor.Scripting1.Application", "UsbDevices", "ao"},
      {app, "org.qor.Scripting1.Application", "Windows", "ao"},
      {vm, kVmInterface, "Status", "u"},
      {vm, kVmInterface, "Backend", "u"},
      {vm, kVmInterface, "SerialPorts", "ao"},
      {vm + "/serial/0", "org.qor.Scripting1.SerialPort", "Interface", "u"},
      {vm + "/serial/0", "org.qor.Scripting1.SerialPort", "Port", "x"},
      {app + "/usb/0", "org.qor.Scripting1.UsbDevice", "VendorId", "x"},
  };
  for (const auto& c : cases) {
    const Reply reply = handle(get(c.path, c.interface, c.property));
    ASSERT_FALSE(reply.error) << c.property << ": " << reply.error->message;
    ASSERT_EQ(reply.values.size(), 1u);
    EXPECT_EQ(reply.values[0].signature, "v");
    EXPECT_EQ(answer(reply).signature, c.type) << c.property;
  }
  EXPECT_EQ(*uint32Of(answer(
                handle(get(vm + "/serial/0", "org.qor.Scripting1.SerialPort", "Interface")))),
            fourCharCode("TcP "));
  // The empty interface name means the object's own.
  EXPECT_FALSE(handle(get(vm, "", "Status")).error);
}

TEST_F(DispatchTest, WindowsKeepTheirPathsWhenOthersClose) {
  const auto windows = [&] {
    std::vector<std::string> out;
    const Value list = answer(handle(get(kRoot, "org.qor.Scripting1.Application", "Windows")));
    for (const auto& p : *elementsOf(list)) out.push_back(*textOf(p));
    return out;
  };
  const auto before = windows();
  ASSERT_EQ(before.size(), 2u);
  EXPECT_FALSE(*booleanOf(answer(handle(get(before[1], "org.qor.Scripting1.Window", "Visible")))));
  EXPECT_EQ(*signedOf(answer(handle(get(before[1], "org.qor.Scripting1.Window", "Index")))), 2);

  ASSERT_FALSE(handle(call(before[0], "org.qor.Scripting1.Window", "Close",
                           {Value::uint32(fourCharCode("no  ")), Value::string("")}))
                   .error);
  EXPECT_TRUE(host_.takeChanged());
  EXPECT_EQ(windows(), std::vector<std::string>{before[1]});
  EXPECT_EQ(*textOf(answer(handle(get(before[1], "org.qor.Scripting1.Window", "Name")))), "Other");
  EXPECT_EQ(*signedOf(answer(handle(get(before[1], "org.qor.Scripting1.Window", "Index")))), 1);
  EXPECT_EQ(errorName(handle(call(before[1], "org.qor.Scripting1.Window", "Close",
                                  {Value::uint32(1), Value::string("")}))),
            error_names::kInvalidArgs);
}

TEST_F(DispatchTest, MalformedRequestsGetErrorsNotCrashes) {
  Request lying = call(vmById("ID-1"), kVmInterface, "Start", {Value::boolean(true)});
  lying.signature = "bb";  // claims two arguments, carries one
  EXPECT_EQ(errorName(handle(lying)), error_names::kInvalidArgs);

  Request mislabelled =
      call(vmById("ID-1"), kVmInterface, "Start", {Value::boolean(true), Value::boolean(true)});
  mislabelled.args[1].data = std::string("not a boolean");  // says "b", holds a text
  EXPECT_EQ(errorName(handle(mislabelled)), error_names::kInvalidArgs);

  Request noInterface = get(vmById("ID-1"), kVmInterface, "Status");
  noInterface.interface.reset();
  EXPECT_FALSE(handle(noInterface).error);

  Request deep = call(vmById("ID-1"), kVmInterface, "Duplicate",
                      {Value::array("{sv}", {Value{"{sv}", std::vector<Value>{}}})});
  EXPECT_EQ(errorName(handle(deep)), error_names::kInvalidArgs);

  EXPECT_EQ(errorName(handle(call("", "", ""))), error_names::kUnknownObject);
}

}  // namespace
}  // namespace qor::host
