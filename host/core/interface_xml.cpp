#include <algorithm>

#include "host/core/dispatcher.h"

namespace qor::host {
namespace {

constexpr std::string_view kHeader =
    "<!DOCTYPE node PUBLIC \"-//freedesktop//DTD D-BUS Object Introspection 1.0//EN\"\n"
    " \"http://www.freedesktop.org/standards/dbus/1.0/introspect.dtd\">\n";

constexpr std::string_view kStandardInterfaces =
    " <interface name=\"org.freedesktop.DBus.Peer\">\n"
    "  <method name=\"Ping\"/>\n"
    "  <method name=\"GetMachineId\"><arg type=\"s\" direction=\"out\"/></method>\n"
    " </interface>\n"
    " <interface name=\"org.freedesktop.DBus.Introspectable\">\n"
    "  <method name=\"Introspect\"><arg type=\"s\" direction=\"out\"/></method>\n"
    " </interface>\n";

constexpr std::string_view kPropertiesInterfaceXml =
    " <interface name=\"org.freedesktop.DBus.Properties\">\n"
    "  <method name=\"Get\"><arg type=\"s\" direction=\"in\"/><arg type=\"s\" direction=\"in\"/>"
    "<arg type=\"v\" direction=\"out\"/></method>\n"
    "  <method name=\"GetAll\"><arg type=\"s\" direction=\"in\"/>"
    "<arg type=\"a{sv}\" direction=\"out\"/></method>\n"
    "  <method name=\"Set\"><arg type=\"s\" direction=\"in\"/><arg type=\"s\" direction=\"in\"/>"
    "<arg type=\"v\" direction=\"in\"/></method>\n"
    " </interface>\n";

// One <arg/> per complete type of a signature.
std::string argsXml(std::string_view signature, const char* direction) {
  std::string out;
  std::size_t i = 0;
  while (i < signature.size()) {
    std::size_t end = i;
    int depth = 0;
    do {
      const char c = signature[end];
      if (c == '(' || c == '{') ++depth;
      if (c == ')' || c == '}') --depth;
      ++end;
    } while (end < signature.size() && (depth > 0 || signature[end - 1] == 'a'));
    out += "<arg type=\"" + std::string(signature.substr(i, end - i)) + "\" direction=\"" +
           direction + "\"/>";
    i = end;
  }
  return out;
}

}  // namespace

Reply Dispatcher::introspect(const ParsedPath& parsed, const std::string& path,
                             const std::string& sender) {
  std::string body;
  std::vector<std::string> children;
  if (parsed.kind == PathKind::kNode) {
    const std::string root(kRootPath);
    const std::string rel = path.size() > root.size() ? path.substr(root.size()) : "";
    if (path == "/") children = {"org"};
    if (path == "/org") children = {"qor"};
    if (path == "/org/qor") children = {"Scripting1"};
    std::vector<std::string> listed;
    if (rel == "/vm" || rel == "/vm/id" || rel == "/vm/key") {
      for (const auto key : backend_.machines()) {
        if (auto m = backend_.machine(key)) listed.push_back(pathOf(*m));
      }
    }
    if (rel == "/vm") {
      children = {"id", "name"};
      const std::string byKey = root + "/vm/key/";
      if (std::any_of(listed.begin(), listed.end(),
                      [&](const std::string& p) { return p.rfind(byKey, 0) == 0; })) {
        children.push_back("key");
      }
    }
    if (rel == "/vm/id" || rel == "/vm/key") {
      for (const auto& p : listed) {
        if (p.rfind(path + "/", 0) == 0) children.push_back(p.substr(path.size() + 1));
      }
    }
    if (rel == "/usb") {
      const std::size_t count = backend_.usbDevices().size();
      for (std::size_t i = 0; i < count; ++i) children.push_back(std::to_string(i));
    }
    if (rel == "/window") {
      for (const auto& w : backend_.windows()) children.push_back(std::to_string(w.key));
    }
    if (!parsed.machinePath.empty()) {
      const auto key = resolveMachine(parsed);
      const auto m = key ? backend_.machine(*key) : std::nullopt;
      if (!m) {
        return Reply::failure(error_names::kUnknownObject, "The virtual machine does not exist.");
      }
      const std::string sub = path.substr(parsed.machinePath.size());
      if (sub == "/serial" && m->serialPorts) {
        for (std::size_t i = 0; i < m->serialPorts->size(); ++i) {
          children.push_back(std::to_string(i));
        }
      }
      // Only the caller's own handles: another connection's are no objects for it.
      if (sub == "/process") {
        for (auto n : backend_.processes(m->key)) {
          if (ownedBy(processOwners_, n, sender)) children.push_back(std::to_string(n));
        }
      }
      if (sub == "/file") {
        for (auto n : backend_.files(m->key)) {
          if (ownedBy(fileOwners_, n, sender)) children.push_back(std::to_string(n));
        }
      }
    }
  } else {
    auto resolved = resolve(parsed, sender);
    if (auto* e = std::get_if<HostError>(&resolved)) return Reply::failure(*e);
    const PathKind kind = parsed.kind;
    if (kind == PathKind::kApplication) children = {"vm", "usb", "window"};
    if (kind == PathKind::kMachine) children = {"serial", "file", "process"};
    body += kPropertiesInterfaceXml;
    body += " <interface name=\"" + interfaceOf(kind) + "\">\n";
    for (const auto& entry : methodTable()) {
      const auto& m = *entry.declared;
      if (m.objectClass != classOf(kind)) continue;
      body += "  <method name=\"" + std::string(m.name) + "\">" + argsXml(m.in, "in") +
              argsXml(m.out, "out") + "</method>\n";
    }
    for (const auto* property : propertiesOf(kind)) {
      const auto& p = *property;
      body += "  <property name=\"" + std::string(p.name) + "\" type=\"" + std::string(p.type) +
              "\" access=\"" + (p.settable ? "readwrite" : "read") +
              "\"><annotation name=\"org.freedesktop.DBus.Property.EmitsChangedSignal\" "
              "value=\"false\"/></property>\n";  // the host sends no signals
    }
    body += " </interface>\n";
  }
  std::string xml(kHeader);
  xml += "<node>\n";
  xml += kStandardInterfaces;
  xml += body;
  for (const auto& c : children) xml += " <node name=\"" + c + "\"/>\n";
  xml += "</node>\n";
  return Reply::of(Value::string(std::move(xml)));
}

}  // namespace qor::host
