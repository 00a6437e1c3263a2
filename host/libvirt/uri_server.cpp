#include "host/libvirt/uri_server.h"

#include <cstdlib>

namespace qor::host::libvirt {

std::string serverOfUri(std::string_view uri) {
  const auto scheme = uri.find("://");
  if (scheme == std::string_view::npos) return {};
  std::string_view authority = uri.substr(scheme + 3);
  authority = authority.substr(0, authority.find_first_of("/?#"));
  // user@host: a user name may itself hold an "@" only escaped, so the last one ends it.
  if (const auto at = authority.rfind('@'); at != std::string_view::npos) {
    authority.remove_prefix(at + 1);
  }
  if (authority.starts_with('[')) {
    authority.remove_prefix(1);
    return std::string(authority.substr(0, authority.find(']')));
  }
  return std::string(authority.substr(0, authority.find(':')));
}

std::string serverOfConnection(const std::optional<std::string>& uri) {
  if (uri) return serverOfUri(*uri);
  const char* fallback = std::getenv("LIBVIRT_DEFAULT_URI");
  return fallback != nullptr ? serverOfUri(fallback) : std::string();
}

}  // namespace qor::host::libvirt
