#include "host/libvirt/domain_xml.h"

#include <cstdlib>

#include "host/libvirt/xml_doc.h"

namespace qor::host::libvirt {
namespace {

std::optional<std::int64_t> number(const std::optional<std::string>& text) {
  if (!text || text->empty()) return std::nullopt;
  char* end = nullptr;
  const long long n = std::strtoll(text->c_str(), &end, 10);
  if (*end != '\0') return std::nullopt;
  return n;
}

SerialPort describe(xmlNodePtr node, bool running) {
  SerialPort port;
  xmlNodePtr target = child(node, "target");
  port.id = number(attribute(target, "port")).value_or(0);
  if (!running) return port;
  const auto type = attribute(node, "type").value_or("pty");
  xmlNodePtr source = child(node, "source");
  if (type == "pty") {
    auto path = attribute(source, "path");
    if (!path) path = attribute(node, "tty");
    if (path) {
      port.kind = SerialPort::Kind::pty;
      port.address = path;
      port.port = 0;
    }
  } else if (type == "tcp" && attribute(source, "mode").value_or("connect") == "bind") {
    // Only a listening port can be reached; one that connects out belongs to someone else.
    auto service = number(attribute(source, "service"));
    if (service) {
      port.kind = SerialPort::Kind::tcp;
      port.address = attribute(source, "host").value_or("127.0.0.1");
      port.port = service;
    }
  }
  return port;
}

xmlNodePtr devicesOf(const XmlDoc& doc) {
  return child(doc.root(), "devices");
}

// The host's element in <metadata>, if there is one.
xmlNodePtr ownElement(const XmlDoc& doc) {
  for (xmlNodePtr n : children(child(doc.root(), "metadata"))) {
    if (n->ns && n->ns->href &&
        std::string_view(reinterpret_cast<const char*>(n->ns->href)) == kMetadataNamespace) {
      return n;
    }
  }
  return nullptr;
}

}  // namespace

std::optional<std::vector<SerialPort>> serialPortsOf(std::string_view domainXml, bool running) {
  auto doc = XmlDoc::parse(domainXml);
  if (!doc) return std::nullopt;
  std::vector<SerialPort> ports;
  xmlNodePtr devices = devicesOf(*doc);
  for (xmlNodePtr serial : children(devices, "serial")) ports.push_back(describe(serial, running));
  for (xmlNodePtr console : children(devices, "console")) {
    const auto targetType = attribute(child(console, "target"), "type").value_or("serial");
    if (targetType == "serial") continue;
    ports.push_back(describe(console, running));
  }
  return ports;
}

std::optional<std::vector<Disk>> disksOf(std::string_view domainXml) {
  auto doc = XmlDoc::parse(domainXml);
  if (!doc) return std::nullopt;
  std::vector<Disk> disks;
  for (xmlNodePtr node : children(devicesOf(*doc), "disk")) {
    Disk d;
    d.type = attribute(node, "type").value_or("file");
    d.device = attribute(node, "device").value_or("disk");
    d.target = attribute(child(node, "target"), "dev").value_or("");
    d.format = attribute(child(node, "driver"), "type").value_or("raw");
    d.readOnly = child(node, "readonly") != nullptr;
    d.shareable = child(node, "shareable") != nullptr;
    xmlNodePtr source = child(node, "source");
    if (d.type == "file") d.file = attribute(source, "file");
    if (d.type == "block") d.file = attribute(source, "dev");
    if (d.type == "volume") {
      d.pool = attribute(source, "pool");
      d.volume = attribute(source, "volume");
    }
    disks.push_back(std::move(d));
  }
  return disks;
}

std::optional<std::string> copyDefinition(std::string_view domainXml, const std::string& name,
                                          const std::vector<DiskCopy>& copies) {
  auto doc = XmlDoc::parse(domainXml);
  if (!doc) return std::nullopt;
  xmlNodePtr root = doc->root();
  if (xmlNodePtr uuid = child(root, "uuid")) removeNode(uuid);
  xmlNodePtr nameNode = child(root, "name");
  if (!nameNode) return std::nullopt;
  xmlNodeSetContent(nameNode, nullptr);
  xmlNodeAddContent(nameNode, reinterpret_cast<const xmlChar*>(name.c_str()));
  xmlNodePtr devices = devicesOf(*doc);
  for (xmlNodePtr iface : children(devices, "interface")) {
    if (xmlNodePtr mac = child(iface, "mac")) removeNode(mac);
  }
  if (xmlNodePtr nvram = child(child(root, "os"), "nvram")) xmlNodeSetContent(nvram, nullptr);
  for (xmlNodePtr node : children(devices, "disk")) {
    const auto target = attribute(child(node, "target"), "dev").value_or("");
    for (const auto& c : copies) {
      if (c.target != target) continue;
      xmlNodePtr source = child(node, "source");
      if (!source) source = addChild(node, "source");
      if (c.volume) {
        setAttribute(source, "volume", *c.volume);
      } else if (c.file) {
        setAttribute(source, "file", *c.file);
      }
      // A backing chain the original showed belongs to the original's image.
      if (xmlNodePtr backing = child(node, "backingStore")) removeNode(backing);
    }
  }
  if (xmlNodePtr own = ownElement(*doc)) removeNode(own);
  xmlNodePtr metadata = child(root, "metadata");
  if (!metadata) metadata = addChild(root, "metadata");
  xmlNodePtr own = addChild(metadata, "copy");
  xmlNsPtr ns = xmlNewNs(own, reinterpret_cast<const xmlChar*>(kMetadataNamespace),
                         reinterpret_cast<const xmlChar*>(kMetadataPrefix));
  xmlSetNs(own, ns);
  for (const auto& c : copies) {
    xmlNodePtr disk = xmlNewChild(own, ns, reinterpret_cast<const xmlChar*>("disk"), nullptr);
    setAttribute(disk, "path", c.path);
  }
  return doc->text();
}

std::optional<std::string> disposableDefinition(std::string_view domainXml) {
  auto doc = XmlDoc::parse(domainXml);
  auto disks = disksOf(domainXml);
  if (!doc || !disks) return std::nullopt;
  auto nodes = children(devicesOf(*doc), "disk");
  for (std::size_t i = 0; i < nodes.size() && i < disks->size(); ++i) {
    if ((*disks)[i].writable() && !child(nodes[i], "transient")) addChild(nodes[i], "transient");
  }
  return doc->text();
}

std::vector<std::string> ownedDiskPaths(std::string_view domainXml) {
  std::vector<std::string> paths;
  auto doc = XmlDoc::parse(domainXml);
  if (!doc) return paths;
  for (xmlNodePtr disk : children(ownElement(*doc), "disk")) {
    if (auto path = attribute(disk, "path"); path && !path->empty()) paths.push_back(*path);
  }
  return paths;
}

}  // namespace qor::host::libvirt
