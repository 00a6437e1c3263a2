#include "host/libvirt/xml_doc.h"

#include <libxml/parser.h>

namespace qor::host::libvirt {
namespace {

bool named(xmlNodePtr n, std::string_view name) {
  return n->type == XML_ELEMENT_NODE &&
         (name.empty() || std::string_view(reinterpret_cast<const char*>(n->name)) == name);
}

const xmlChar* x(const char* s) {
  return reinterpret_cast<const xmlChar*>(s);
}

}  // namespace

std::optional<XmlDoc> XmlDoc::parse(std::string_view text) {
  xmlDocPtr d = xmlReadMemory(text.data(), static_cast<int>(text.size()), nullptr, nullptr,
                              XML_PARSE_NONET | XML_PARSE_NOERROR | XML_PARSE_NOWARNING);
  if (!d) return std::nullopt;
  XmlDoc doc(d);
  if (!doc.root()) return std::nullopt;
  return doc;
}

std::string XmlDoc::text() const {
  xmlBufferPtr buffer = xmlBufferCreate();
  xmlNodeDump(buffer, doc_.get(), root(), 0, 0);
  std::string out(reinterpret_cast<const char*>(xmlBufferContent(buffer)),
                  static_cast<std::size_t>(xmlBufferLength(buffer)));
  xmlBufferFree(buffer);
  return out;
}

std::vector<xmlNodePtr> children(xmlNodePtr parent, std::string_view name) {
  std::vector<xmlNodePtr> out;
  if (!parent) return out;
  for (xmlNodePtr n = parent->children; n; n = n->next) {
    if (named(n, name)) out.push_back(n);
  }
  return out;
}

xmlNodePtr child(xmlNodePtr parent, std::string_view name) {
  if (!parent) return nullptr;
  for (xmlNodePtr n = parent->children; n; n = n->next) {
    if (named(n, name)) return n;
  }
  return nullptr;
}

std::optional<std::string> attribute(xmlNodePtr node, const char* name) {
  if (!node) return std::nullopt;
  xmlChar* value = xmlGetProp(node, x(name));
  if (!value) return std::nullopt;
  std::string out(reinterpret_cast<const char*>(value));
  xmlFree(value);
  return out;
}

std::string content(xmlNodePtr node) {
  if (!node) return {};
  xmlChar* value = xmlNodeGetContent(node);
  std::string out = value ? reinterpret_cast<const char*>(value) : "";
  xmlFree(value);
  return out;
}

void setAttribute(xmlNodePtr node, const char* name, const std::string& value) {
  xmlSetProp(node, x(name), x(value.c_str()));
}

xmlNodePtr addChild(xmlNodePtr parent, const char* name) {
  return xmlNewChild(parent, nullptr, x(name), nullptr);
}

void removeNode(xmlNodePtr node) {
  xmlUnlinkNode(node);
  xmlFreeNode(node);
}

}  // namespace qor::host::libvirt
