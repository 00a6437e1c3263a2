#include "host/libvirt/libvirt_factory.h"

#include "host/libvirt/libvirt_backend.h"

namespace qor::host::libvirt {

BackendFactory libvirtBackend(std::optional<std::string> uri) {
  return [uri](EventLoop& loop) -> Result<BackendSetup> {
    BackendSetup setup;
    setup.backend = std::make_unique<LibvirtBackend>(loop, uri);
    return setup;
  };
}

}  // namespace qor::host::libvirt
