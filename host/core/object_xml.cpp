#include "host/core/object_xml.h"

#include "contract/vocabulary.h"

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

std::string interfaceXml(const Route& route) {
  std::string body(kPropertiesInterfaceXml);
  body += " <interface name=\"" + contract::interfaceName(contract::shortName(route.objectClass)) +
          "\">\n";
  for (const auto& row : route.methods) {
    const auto& m = *row.declared;
    body += "  <method name=\"" + std::string(m.name) + "\">" + argsXml(m.in, "in") +
            argsXml(m.out, "out") + "</method>\n";
  }
  for (const auto& row : route.properties) {
    const auto& p = *row.declared;
    body += "  <property name=\"" + std::string(p.name) + "\" type=\"" + std::string(p.type) +
            "\" access=\"" + (p.settable ? "readwrite" : "read") +
            "\"><annotation name=\"org.freedesktop.DBus.Property.EmitsChangedSignal\" "
            "value=\"false\"/></property>\n";  // the host sends no signals
  }
  body += " </interface>\n";
  return body;
}

}  // namespace

Result<Values> introspect(Context& context, const ParsedPath& parsed, const std::string& sender) {
  std::string body;
  if (parsed.kind == ParsedPath::Kind::object) {
    auto target = context.router.resolve(context, parsed, sender);
    if (const auto* f = failureOf(target)) return *f;
    body = interfaceXml(*parsed.route);
  }
  auto children = context.router.children(context, parsed, sender);
  if (const auto* f = failureOf(children)) return *f;
  std::string xml(kHeader);
  xml += "<node>\n";
  xml += kStandardInterfaces;
  xml += body;
  for (const auto& c : std::get<std::vector<std::string>>(children)) {
    xml += " <node name=\"" + c + "\"/>\n";
  }
  xml += "</node>\n";
  return Values{contract::Value::string(std::move(xml))};
}

}  // namespace qor::host
