#pragma once

#include <libxml/tree.h>

#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace qor::host::libvirt {

// A parsed XML document (libxml2) and the few walks the host makes through libvirt's XML.
class XmlDoc {
 public:
  // nullopt when the text is not well-formed XML; never reaches the network, prints nothing.
  static std::optional<XmlDoc> parse(std::string_view text);

  xmlNodePtr root() const { return xmlDocGetRootElement(doc_.get()); }
  xmlDocPtr get() const { return doc_.get(); }
  std::string text() const;  // the document written out again, without the XML declaration

 private:
  struct Free {
    void operator()(xmlDocPtr d) const { xmlFreeDoc(d); }
  };
  explicit XmlDoc(xmlDocPtr d) : doc_(d) {}
  std::unique_ptr<xmlDoc, Free> doc_;
};

// The element children of `parent` named `name` (any name when empty), in order.
std::vector<xmlNodePtr> children(xmlNodePtr parent, std::string_view name = {});
xmlNodePtr child(xmlNodePtr parent, std::string_view name);
std::optional<std::string> attribute(xmlNodePtr node, const char* name);
std::string content(xmlNodePtr node);
void setAttribute(xmlNodePtr node, const char* name, const std::string& value);
xmlNodePtr addChild(xmlNodePtr parent, const char* name);
void removeNode(xmlNodePtr node);

}  // namespace qor::host::libvirt
