#include "host/libvirt/usb_xml.h"

#include <cstdio>
#include <cstdlib>

#include "host/libvirt/xml_doc.h"

namespace qor::host::libvirt {
namespace {

std::optional<unsigned long long> parseNumber(const std::optional<std::string>& text, int base) {
  if (!text || text->empty()) return std::nullopt;
  char* end = nullptr;
  const unsigned long long n = std::strtoull(text->c_str(), &end, base);
  if (*end != '\0') return std::nullopt;
  return n;
}

std::optional<std::string> nonEmpty(std::string text) {
  if (text.empty()) return std::nullopt;
  return text;
}

std::string hex4(std::int64_t n) {
  char buffer[16];
  std::snprintf(buffer, sizeof buffer, "0x%04llx", static_cast<unsigned long long>(n));
  return buffer;
}

}  // namespace

std::optional<UsbDevice> usbDeviceOf(std::string_view nodeDeviceXml) {
  auto doc = XmlDoc::parse(nodeDeviceXml);
  if (!doc) return std::nullopt;
  for (xmlNodePtr cap : children(doc->root(), "capability")) {
    if (attribute(cap, "type") != "usb_device") continue;
    const auto bus = parseNumber(content(child(cap, "bus")), 10);
    const auto device = parseNumber(content(child(cap, "device")), 10);
    xmlNodePtr vendor = child(cap, "vendor");
    xmlNodePtr product = child(cap, "product");
    const auto vendorId = parseNumber(attribute(vendor, "id"), 16);
    const auto productId = parseNumber(attribute(product, "id"), 16);
    if (!bus || !device || !vendorId || !productId) return std::nullopt;
    UsbDevice d;
    d.bus = static_cast<unsigned>(*bus);
    d.device = static_cast<unsigned>(*device);
    d.vendorId = static_cast<std::int64_t>(*vendorId);
    d.productId = static_cast<std::int64_t>(*productId);
    d.vendorName = nonEmpty(content(vendor));
    d.productName = nonEmpty(content(product));
    return d;
  }
  return std::nullopt;
}

std::string usbHostdevXml(const UsbDevice& d) {
  return "<hostdev mode='subsystem' type='usb' managed='yes'><source><vendor id='" +
         hex4(d.vendorId) + "'/><product id='" + hex4(d.productId) + "'/><address bus='" +
         std::to_string(d.bus) + "' device='" + std::to_string(d.device) + "'/></source></hostdev>";
}

std::optional<std::string> heldUsbHostdev(std::string_view domainXml, const UsbDevice& d) {
  auto doc = XmlDoc::parse(domainXml);
  if (!doc) return std::nullopt;
  for (xmlNodePtr hostdev : children(child(doc->root(), "devices"), "hostdev")) {
    if (attribute(hostdev, "type") != "usb") continue;
    xmlNodePtr source = child(hostdev, "source");
    xmlNodePtr address = child(source, "address");
    const auto bus = parseNumber(attribute(address, "bus"), 0);
    const auto device = parseNumber(attribute(address, "device"), 0);
    if (bus && device && *bus == d.bus && *device == d.device) {
      xmlBufferPtr buffer = xmlBufferCreate();
      xmlNodeDump(buffer, doc->get(), hostdev, 0, 0);
      std::string out(reinterpret_cast<const char*>(xmlBufferContent(buffer)),
                      static_cast<std::size_t>(xmlBufferLength(buffer)));
      xmlBufferFree(buffer);
      return out;
    }
  }
  return std::nullopt;
}

}  // namespace qor::host::libvirt
