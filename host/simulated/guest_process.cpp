#include "host/simulated/guest_process.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "host/backend/process_record.h"
#include "host/backend/unique_fd.h"
#include "host/simulated/guest_path.h"
#include "support/base64.h"
#include "support/utf8.h"

namespace qor::host {
namespace {

bool isExecutableFile(const struct stat& st) {
  return S_ISREG(st.st_mode) && (st.st_mode & 0111) != 0;
}

// The host path of a file inside the guest root, found with the guest's confinement.
std::variant<std::string, int> hostPathInGuest(const std::filesystem::path& root,
                                               const std::string& guestPath) {
  UniqueFd rootFd(::open(root.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC));
  if (!rootFd) return errno;
  auto opened = openInGuest(rootFd.get(), guestPath, O_PATH, 0);
  if (auto* e = std::get_if<int>(&opened)) return *e;
  const auto& fd = std::get<UniqueFd>(opened);
  struct stat st {};
  if (::fstat(fd.get(), &st) != 0) return errno;
  if (!isExecutableFile(st)) return S_ISDIR(st.st_mode) ? EISDIR : EACCES;
  std::string target(4096, '\0');
  const auto link = "/proc/self/fd/" + std::to_string(fd.get());
  const auto n = ::readlink(link.c_str(), target.data(), target.size());
  if (n < 0) return errno;
  target.resize(static_cast<std::size_t>(n));
  return target;
}

Failure cannotStart(const std::string& program, int error) {
  return failed("Cannot start '" + program + "': " + std::strerror(error) + ".");
}

}  // namespace

std::vector<std::string> programEnvironment(const std::vector<std::string>& given) {
  std::vector<std::string> out = given;
  for (const auto& entry : given) {
    if (entry.rfind("PATH=", 0) == 0) return out;
  }
  out.push_back(std::string("PATH=") + kDefaultPath);
  return out;
}

Result<std::string> locateProgram(const std::string& program,
                                  const std::vector<std::string>& environment,
                                  const std::filesystem::path& root) {
  if (program.empty()) return invalidArgs("No program was given.");
  if (program.front() == '/') return program;
  if (program.find('/') != std::string::npos) {
    auto found = hostPathInGuest(root, program);
    if (auto* e = std::get_if<int>(&found)) return cannotStart(program, *e);
    return std::get<std::string>(std::move(found));
  }
  std::string path = kDefaultPath;
  for (const auto& entry : environment) {
    if (entry.rfind("PATH=", 0) == 0) path = entry.substr(5);  // the last one wins, as in execve
  }
  int firstError = ENOENT;
  std::size_t start = 0;
  while (start <= path.size()) {
    const auto colon = path.find(':', start);
    const auto end = colon == std::string::npos ? path.size() : colon;
    const std::string dir = path.substr(start, end - start);
    start = end + 1;
    const std::string candidate = (dir.empty() ? std::string(".") : dir) + "/" + program;
    if (candidate.front() == '/') {
      struct stat st {};
      if (::stat(candidate.c_str(), &st) == 0 && isExecutableFile(st) &&
          ::access(candidate.c_str(), X_OK) == 0) {
        return candidate;
      }
      if (errno == EACCES && firstError == ENOENT) firstError = EACCES;
    } else if (auto found = hostPathInGuest(root, candidate);
               std::holds_alternative<std::string>(found)) {
      return std::get<std::string>(std::move(found));
    }
    if (colon == std::string::npos) break;
  }
  return cannotStart(program, firstError);
}

contract::Value GuestProcess::result() {
  if (!live) {
    if (scripted.empty()) return contract::RecordBuilder().build();
    const auto i = std::min(nextRecord, scripted.size() - 1);
    ++nextRecord;
    return scripted[i];
  }
  const auto snapshot = live->snapshot();
  const auto encoded = [this](const std::string& bytes) {
    return base64 ? support::base64Encode(bytes) : support::validText(bytes);
  };
  ProcessState state;
  state.exited = snapshot.exited;
  if (snapshot.exited) {
    state.exitCode = snapshot.exitCode;
    state.output = encoded(snapshot.output);
    state.error = encoded(snapshot.error);
    state.outputTruncated = snapshot.outputTruncated;
    state.errorTruncated = snapshot.errorTruncated;
  }
  return processRecord(state);
}

}  // namespace qor::host
