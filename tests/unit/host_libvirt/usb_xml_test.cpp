#include <gtest/gtest.h>

#include "host/libvirt/usb_xml.h"

namespace qor::host::libvirt {
namespace {

constexpr const char* kNodeDevice = R"(<device>
  <name>usb_1_5</name>
  <parent>usb_usb1</parent>
  <capability type='usb_device'>
    <bus>1</bus>
    <device>5</device>
    <product id='0x024f'>Aluminium Keyboard</product>
    <vendor id='0x05ac'>Apple, Inc.</vendor>
  </capability>
</device>)";

TEST(UsbXml, NodeDeviceGivesBusDeviceIdsAndNames) {
  auto d = usbDeviceOf(kNodeDevice);
  ASSERT_TRUE(d);
  EXPECT_EQ(d->bus, 1u);
  EXPECT_EQ(d->device, 5u);
  EXPECT_EQ(d->vendorId, 0x05ac);
  EXPECT_EQ(d->productId, 0x024f);
  EXPECT_EQ(d->vendorName, "Apple, Inc.");
  EXPECT_EQ(d->productName, "Aluminium Keyboard");
}

TEST(UsbXml, OtherDevicesAndBrokenOnesAreNotUsbDevices) {
  EXPECT_FALSE(usbDeviceOf("<device><name>usb_usb1</name><capability type='usb'/></device>"));
  EXPECT_FALSE(
      usbDeviceOf("<device><capability type='usb_device'><bus>1</bus><device>x</device>"
                  "<product id='0x1'/><vendor id='0x2'/></capability></device>"));
  EXPECT_FALSE(usbDeviceOf("not xml"));
}

TEST(UsbXml, HostdevNamesTheDeviceAndIsFoundAgainInTheMachine) {
  const UsbDevice d = *usbDeviceOf(kNodeDevice);
  const std::string hostdev = usbHostdevXml(d);
  EXPECT_EQ(hostdev,
            "<hostdev mode='subsystem' type='usb' managed='yes'><source><vendor id='0x05ac'/>"
            "<product id='0x024f'/><address bus='1' device='5'/></source></hostdev>");
  const std::string domain = "<domain><devices><disk/>" + hostdev + "</devices></domain>";
  auto held = heldUsbHostdev(domain, d);
  ASSERT_TRUE(held);
  EXPECT_NE(held->find("bus=\"1\" device=\"5\""), std::string::npos) << *held;
  UsbDevice other = d;
  other.device = 6;
  EXPECT_FALSE(heldUsbHostdev(domain, other));
  EXPECT_FALSE(heldUsbHostdev("<domain><devices/></domain>", d));
}

}  // namespace
}  // namespace qor::host::libvirt
