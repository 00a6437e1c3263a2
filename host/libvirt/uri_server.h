#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace qor::host::libvirt {

// The computer a libvirt URI reaches, as its host part names it: "build-server" for
// qemu+ssh://me@build-server:2222/system, "::1" for qemu+tcp://[::1]/system; "" for a URI
// without one (qemu:///session, test:///default), which is this computer. A host part that
// names this computer all the same (127.0.0.1) is kept: the daemon behind it is another one.
std::string serverOfUri(std::string_view uri);

// The same for a backend's connection; nullopt is libvirt's default, which names its URI in
// LIBVIRT_DEFAULT_URI when it is set (else a local one).
std::string serverOfConnection(const std::optional<std::string>& uri);

}  // namespace qor::host::libvirt
