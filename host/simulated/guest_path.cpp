#include "host/simulated/guest_path.h"

#include <fcntl.h>
#include <linux/openat2.h>
#include <sys/stat.h>
#include <sys/syscall.h>

#include <cerrno>
#include <deque>
#include <string>
#include <vector>

namespace qor::host {
namespace {

constexpr int kMaxSymlinks = 40;

std::variant<UniqueFd, int> openWithKernel(int rootFd, std::string_view guestPath, int flags,
                                           mode_t mode) {
  open_how how{};
  how.flags = static_cast<std::uint64_t>(flags | O_CLOEXEC);
  how.mode = (flags & (O_CREAT | O_TMPFILE)) ? mode : 0;
  how.resolve = RESOLVE_IN_ROOT | RESOLVE_NO_MAGICLINKS;
  const std::string path(guestPath);
  for (int attempt = 0; attempt < 16; ++attempt) {
    const long fd = ::syscall(SYS_openat2, rootFd, path.c_str(), &how, sizeof how);
    if (fd >= 0) return UniqueFd(static_cast<int>(fd));
    if (errno != EAGAIN && errno != EINTR) return errno;  // EAGAIN: a rename raced the lookup
  }
  return EAGAIN;
}

void pushFront(std::deque<std::string>& components, std::string_view path) {
  std::vector<std::string> parts;
  std::size_t start = 0;
  while (start <= path.size()) {
    const auto slash = path.find('/', start);
    const auto end = slash == std::string_view::npos ? path.size() : slash;
    if (end > start) parts.emplace_back(path.substr(start, end - start));
    if (slash == std::string_view::npos) break;
    start = slash + 1;
  }
  for (auto it = parts.rbegin(); it != parts.rend(); ++it) components.push_front(*it);
}

std::variant<std::string, int> readLink(int fd) {
  std::string target(4096, '\0');
  const auto n = ::readlinkat(fd, "", target.data(), target.size());
  if (n < 0) return errno;
  target.resize(static_cast<std::size_t>(n));
  return target;
}

// The same confinement by hand: every component is opened without following links, and a
// link's target is walked again inside the root.
std::variant<UniqueFd, int> openByWalking(int rootFd, std::string_view guestPath, int flags,
                                          mode_t mode) {
  if (guestPath.empty()) return ENOENT;
  std::deque<std::string> components;
  pushFront(components, guestPath);
  std::vector<UniqueFd> stack;  // the directories from the root down to the current one
  stack.emplace_back(::fcntl(rootFd, F_DUPFD_CLOEXEC, 0));
  if (!stack.back()) return errno;
  int links = 0;
  auto followLink = [&](int linkFd) -> int {
    if (++links > kMaxSymlinks) return ELOOP;
    auto target = readLink(linkFd);
    if (auto* e = std::get_if<int>(&target)) return *e;
    const auto& text = std::get<std::string>(target);
    if (!text.empty() && text.front() == '/') stack.resize(1);
    pushFront(components, text);
    return 0;
  };
  while (!components.empty()) {
    const std::string c = std::move(components.front());
    components.pop_front();
    if (c == ".") continue;
    if (c == "..") {
      if (stack.size() > 1) stack.pop_back();
      continue;
    }
    const int dir = stack.back().get();
    if (!components.empty()) {
      UniqueFd fd(::openat(dir, c.c_str(), O_PATH | O_NOFOLLOW | O_CLOEXEC));
      if (!fd) return errno;
      struct stat st {};
      if (::fstat(fd.get(), &st) != 0) return errno;
      if (S_ISLNK(st.st_mode)) {
        if (int e = followLink(fd.get())) return e;
      } else if (S_ISDIR(st.st_mode)) {
        stack.push_back(std::move(fd));
      } else {
        return ENOTDIR;
      }
      continue;
    }
    UniqueFd fd(::openat(dir, c.c_str(), flags | O_NOFOLLOW | O_CLOEXEC, mode));
    if (!fd) {
      if (errno != ELOOP) return errno;
      UniqueFd link(::openat(dir, c.c_str(), O_PATH | O_NOFOLLOW | O_CLOEXEC));
      if (!link) return errno;
      if (int e = followLink(link.get())) return e;
      continue;
    }
    if (flags & O_PATH) {
      struct stat st {};
      if (::fstat(fd.get(), &st) != 0) return errno;
      if (S_ISLNK(st.st_mode)) {
        if (int e = followLink(fd.get())) return e;
        continue;
      }
    }
    return fd;
  }
  // The path ended in ".", ".." or the root itself: open the directory reached.
  UniqueFd fd(::openat(stack.back().get(), ".", flags | O_CLOEXEC, mode));
  if (!fd) return errno;
  return fd;
}

}  // namespace

std::variant<UniqueFd, int> openInGuest(int rootFd, std::string_view guestPath, int flags,
                                        mode_t mode, GuestResolver resolver) {
  static bool kernelMissing = false;
  if (resolver == GuestResolver::kWalk || (resolver == GuestResolver::kAuto && kernelMissing)) {
    return openByWalking(rootFd, guestPath, flags, mode);
  }
  auto result = openWithKernel(rootFd, guestPath, flags, mode);
  if (resolver == GuestResolver::kAuto) {
    if (const int* e = std::get_if<int>(&result); e && (*e == ENOSYS || *e == EPERM)) {
      // Kernels before 5.6, or a filter refusing the call; EPERM is also what a plain
      // permission problem gives, so the walk answers that case the same way.
      if (*e == ENOSYS) kernelMissing = true;
      return openByWalking(rootFd, guestPath, flags, mode);
    }
  }
  return result;
}

}  // namespace qor::host
