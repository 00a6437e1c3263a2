#include "contract/vocabulary.h"

namespace qor::contract {

std::string interfaceName(std::string_view shortName) {
  std::string name(kInterfacePrefix);
  name += shortName;
  return name;
}

std::string_view shortInterfaceName(std::string_view interface) {
  if (interface.substr(0, kInterfacePrefix.size()) != kInterfacePrefix) return {};
  return interface.substr(kInterfacePrefix.size());
}

}  // namespace qor::contract
