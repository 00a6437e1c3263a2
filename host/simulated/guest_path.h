#pragma once

#include <sys/types.h>

#include <string_view>
#include <variant>

#include "host/backend/unique_fd.h"

namespace qor::host {

enum class GuestResolver {
  kAuto,    // the kernel's openat2 confinement, else the walk below
  kKernel,  // openat2 with RESOLVE_IN_ROOT | RESOLVE_NO_MAGICLINKS only
  kWalk,    // component by component, by hand
};

// Opens `guestPath` as the guest sees it, with the directory `rootFd` as its "/": absolute and
// relative paths both start at the root, ".." at the root stays there, and symbolic links are
// followed with the root as "/", so no path can reach outside the guest. Answers the open
// descriptor or an errno value.
std::variant<UniqueFd, int> openInGuest(int rootFd, std::string_view guestPath, int flags,
                                        mode_t mode, GuestResolver resolver = GuestResolver::kAuto);

}  // namespace qor::host
