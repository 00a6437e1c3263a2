#include <gtest/gtest.h>

#include "host/libvirt/domain_xml.h"

namespace qor::host::libvirt {
namespace {

constexpr const char* kRunning = R"(<domain type='kvm' id='3'>
  <name>web</name>
  <uuid>c7a5fdbd-cdaf-9455-926a-d65c16db1809</uuid>
  <os><type>hvm</type><nvram template='/usr/share/OVMF/OVMF_VARS.fd'>/var/lib/libvirt/qemu/nvram/web_VARS.fd</nvram></os>
  <metadata><app:info xmlns:app='http://example.com/app'>keep me</app:info></metadata>
  <devices>
    <disk type='file' device='disk'><driver name='qemu' type='qcow2'/><source file='/images/web.qcow2'/><backingStore/><target dev='vda' bus='virtio'/></disk>
    <disk type='volume' device='disk'><driver name='qemu' type='raw'/><source pool='default' volume='web-data.img'/><target dev='vdb' bus='virtio'/></disk>
    <disk type='file' device='cdrom'><source file='/iso/debian.iso'/><target dev='sda'/><readonly/></disk>
    <disk type='block' device='disk'><source dev='/dev/vg/shared'/><target dev='vdc'/><shareable/></disk>
    <interface type='network'><mac address='52:54:00:12:34:56'/><source network='default'/></interface>
    <serial type='pty'><source path='/dev/pts/7'/><target port='0'/></serial>
    <serial type='tcp'><source mode='bind' host='127.0.0.1' service='4555'/><target port='1'/></serial>
    <serial type='tcp'><source mode='connect' host='10.0.0.1' service='9'/><target port='2'/></serial>
    <serial type='file'><source path='/tmp/log'/><target port='3'/></serial>
    <console type='pty' tty='/dev/pts/7'><source path='/dev/pts/7'/><target type='serial' port='0'/></console>
    <console type='pty' tty='/dev/pts/8'><source path='/dev/pts/8'/><target type='virtio' port='1'/></console>
  </devices>
</domain>)";

TEST(DomainXml, SerialPortsOfARunningMachine) {
  auto ports = serialPortsOf(kRunning, true);
  ASSERT_TRUE(ports);
  ASSERT_EQ(ports->size(), 5u);  // the console on serial port 0 is that port
  using K = SerialPort::Kind;
  EXPECT_EQ((*ports)[0].kind, K::pty);
  EXPECT_EQ((*ports)[0].address, "/dev/pts/7");
  EXPECT_EQ((*ports)[0].id, 0);
  EXPECT_EQ((*ports)[1].kind, K::tcp);
  EXPECT_EQ((*ports)[1].address, "127.0.0.1");
  EXPECT_EQ((*ports)[1].port, 4555);
  EXPECT_EQ((*ports)[2].kind, K::unavailable);  // connects out: nothing to attach to
  EXPECT_EQ((*ports)[3].kind, K::unavailable);  // a file
  EXPECT_EQ((*ports)[4].kind, K::pty);          // the virtio console
  EXPECT_EQ((*ports)[4].address, "/dev/pts/8");
  EXPECT_EQ((*ports)[4].id, 1);
}

TEST(DomainXml, AStoppedMachinesPortsAreUnavailable) {
  auto ports = serialPortsOf(kRunning, false);
  ASSERT_TRUE(ports);
  ASSERT_EQ(ports->size(), 5u);
  for (const auto& p : *ports) {
    EXPECT_EQ(p.kind, SerialPort::Kind::unavailable);
    EXPECT_FALSE(p.address);
  }
  EXPECT_FALSE(serialPortsOf("<domain", true));
}

TEST(DomainXml, DisksAndWhichAreWritable) {
  auto disks = disksOf(kRunning);
  ASSERT_TRUE(disks);
  ASSERT_EQ(disks->size(), 4u);
  EXPECT_EQ((*disks)[0].file, "/images/web.qcow2");
  EXPECT_EQ((*disks)[0].format, "qcow2");
  EXPECT_TRUE((*disks)[0].writable());
  EXPECT_EQ((*disks)[1].pool, "default");
  EXPECT_EQ((*disks)[1].volume, "web-data.img");
  EXPECT_TRUE((*disks)[1].writable());
  EXPECT_FALSE((*disks)[2].writable());  // a read-only ISO image is shared
  EXPECT_FALSE((*disks)[3].writable());  // so is a shareable disk
  EXPECT_EQ((*disks)[3].file, "/dev/vg/shared");
}

TEST(DomainXml, ACopyHasItsNameDisksAndMetadataAndNoUuidMacOrNvramFile) {
  std::vector<DiskCopy> copies(2);
  copies[0].target = "vda";
  copies[0].file = "/images/web-copy-vda.qcow2";
  copies[0].path = "/images/web-copy-vda.qcow2";
  copies[1].target = "vdb";
  copies[1].volume = "web-copy-vdb.img";
  copies[1].path = "/var/lib/libvirt/images/web-copy-vdb.img";
  auto xml = copyDefinition(kRunning, "web <copy> & co", copies);
  ASSERT_TRUE(xml);
  EXPECT_EQ(xml->find("<uuid>"), std::string::npos);
  EXPECT_EQ(xml->find("52:54:00:12:34:56"), std::string::npos);
  EXPECT_EQ(xml->find("web_VARS.fd"), std::string::npos);
  EXPECT_NE(xml->find("OVMF_VARS.fd"), std::string::npos);  // the template stays
  EXPECT_NE(xml->find("<name>web &lt;copy&gt; &amp; co</name>"), std::string::npos) << *xml;
  EXPECT_NE(xml->find("keep me"), std::string::npos);  // others' metadata stays
  EXPECT_EQ(xml->find("<backingStore"), std::string::npos);
  auto disks = disksOf(*xml);
  ASSERT_TRUE(disks);
  EXPECT_EQ((*disks)[0].file, "/images/web-copy-vda.qcow2");
  EXPECT_EQ((*disks)[1].pool, "default");
  EXPECT_EQ((*disks)[1].volume, "web-copy-vdb.img");
  EXPECT_EQ((*disks)[2].file, "/iso/debian.iso");
  EXPECT_EQ(ownedDiskPaths(*xml),
            (std::vector<std::string>{"/images/web-copy-vda.qcow2",
                                      "/var/lib/libvirt/images/web-copy-vdb.img"}));
  EXPECT_TRUE(ownedDiskPaths(kRunning).empty());

  // A copy of a copy owns only its own disks.
  std::vector<DiskCopy> again(1);
  again[0].target = "vda";
  again[0].file = again[0].path = "/images/third.qcow2";
  auto third = copyDefinition(*xml, "third", again);
  ASSERT_TRUE(third);
  EXPECT_EQ(ownedDiskPaths(*third), std::vector<std::string>{"/images/third.qcow2"});
}

TEST(DomainXml, ADisposableRunHasTransientWritableDisksOnly) {
  auto xml = disposableDefinition(kRunning);
  ASSERT_TRUE(xml);
  auto disks = disksOf(*xml);
  ASSERT_TRUE(disks);
  std::size_t transient = 0;
  for (std::size_t at = xml->find("<transient"); at != std::string::npos;
       at = xml->find("<transient", at + 1)) {
    ++transient;
  }
  EXPECT_EQ(transient, 2u);
  const auto cdrom = xml->find("<target dev=\"sda\"");
  ASSERT_NE(cdrom, std::string::npos);
  EXPECT_EQ(xml->substr(cdrom, xml->find("</disk>", cdrom) - cdrom).find("transient"),
            std::string::npos);
}

}  // namespace
}  // namespace qor::host::libvirt
