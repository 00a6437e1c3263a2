#include "host/simulated/open_files.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstring>
#include <system_error>

#include "contract/codes.h"
#include "host/simulated/guest_path.h"
#include "support/base64.h"
#include "support/utf8.h"

namespace qor::host {
namespace {

using contract::code;
using contract::QorOpenMode;
using contract::QorWhence;

Result<std::int64_t> startPosition(const OpenGuestFile& file, std::int64_t offset,
                                   std::uint32_t whence) {
  if (whence != code(QorWhence::current)) {
    return invalidArgs("The only origin of an offset is the current position ('CuRr').");
  }
  std::int64_t start = 0;
  if (__builtin_add_overflow(file.position, offset, &start) || start < 0) {
    return invalidArgs("The offset leads before the start of the file.");
  }
  return start;
}

Failure ioFailure(const char* what, int error) {
  return failed(std::string(what) + ": " + std::strerror(error) + ".");
}

}  // namespace

Result<GuestHandle> OpenFiles::open(MachineKey machineKey, const std::filesystem::path& root,
                                    const std::string& guestPath, std::uint32_t mode,
                                    bool updating) {
  if (mode != code(QorOpenMode::reading) && mode != code(QorOpenMode::writing)) {
    return invalidArgs("The open mode must be 'OpRo' (reading) or 'OpWo' (writing).");
  }
  std::error_code ec;
  std::filesystem::create_directories(root, ec);
  UniqueFd rootFd(::open(root.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC));
  if (!rootFd) return ioFailure("The guest's files cannot be reached", errno);

  const bool reading = mode == code(QorOpenMode::reading);
  int flags = updating ? O_RDWR : (reading ? O_RDONLY : O_WRONLY);
  if (!reading) flags |= O_CREAT;
  // Non-blocking, so that a FIFO cannot stall the host before it is refused below.
  auto opened = openInGuest(rootFd.get(), guestPath, flags | O_NONBLOCK | O_NOCTTY, 0644);
  const std::string what = "Cannot open '" + guestPath + "' in the guest";
  if (auto* e = std::get_if<int>(&opened)) return ioFailure(what.c_str(), *e);
  UniqueFd fd = std::get<UniqueFd>(std::move(opened));
  struct stat st {};
  if (::fstat(fd.get(), &st) != 0) return ioFailure(what.c_str(), errno);
  if (!S_ISREG(st.st_mode)) return failed(what + ": it is not a regular file.");
  // Emptied only now that it is known to be a regular file.
  if (!reading && !updating && ::ftruncate(fd.get(), 0) != 0) {
    return ioFailure(what.c_str(), errno);
  }
  const GuestHandle number = next_++;
  OpenGuestFile& file = files_[number];
  file.machineKey = machineKey;
  file.fd = std::move(fd);
  file.readable = reading || updating;
  file.writable = !reading || updating;
  return number;
}

OpenGuestFile* OpenFiles::find(GuestHandle number, MachineKey machineKey) {
  auto it = files_.find(number);
  if (it == files_.end() || it->second.machineKey != machineKey) return nullptr;
  return &it->second;
}

void OpenFiles::closeAllOf(MachineKey machineKey) {
  std::erase_if(files_, [&](const auto& entry) { return entry.second.machineKey == machineKey; });
}

std::vector<GuestHandle> OpenFiles::numbersOf(MachineKey machineKey) const {
  std::vector<GuestHandle> out;
  for (const auto& [number, file] : files_) {
    if (file.machineKey == machineKey) out.push_back(number);
  }
  return out;
}

Result<std::string> OpenFiles::read(OpenGuestFile& file, std::int64_t offset, std::uint32_t whence,
                                    std::int64_t length, bool base64) {
  if (!file.readable) return invalidState("The file is not open for reading.");
  if (length < 0 || length > kMaxReadLength) {
    return invalidArgs("The length must be between 0 and " + std::to_string(kMaxReadLength) +
                       " bytes.");
  }
  auto start = startPosition(file, offset, whence);
  if (auto* e = failureOf(start)) return *e;
  const std::int64_t at = std::get<std::int64_t>(start);
  std::string bytes(static_cast<std::size_t>(length), '\0');
  std::size_t got = 0;
  while (got < bytes.size()) {
    const auto n = ::pread(file.fd.get(), bytes.data() + got, bytes.size() - got,
                           static_cast<off_t>(at + static_cast<std::int64_t>(got)));
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return ioFailure("Cannot read the guest file", errno);
    if (n == 0) break;
    got += static_cast<std::size_t>(n);
  }
  bytes.resize(got);
  if (!base64) {
    bool complete = true;
    const auto usable = support::textPrefixLength(bytes, complete);
    if (!complete || (usable == 0 && !bytes.empty())) {
      return failed("The file holds bytes that are not text; read it as base64.");
    }
    bytes.resize(usable);
  }
  file.position = at + static_cast<std::int64_t>(bytes.size());
  return base64 ? support::base64Encode(bytes) : std::move(bytes);
}

Result<Done> OpenFiles::write(OpenGuestFile& file, const std::string& data, std::int64_t offset,
                              std::uint32_t whence, bool base64) {
  if (!file.writable) return invalidState("The file is not open for writing.");
  auto start = startPosition(file, offset, whence);
  if (auto* e = failureOf(start)) return *e;
  const std::int64_t at = std::get<std::int64_t>(start);
  std::optional<std::string> decoded;
  if (base64) {
    decoded = support::base64Decode(data);
    if (!decoded) return invalidArgs("The data is not valid base64 text.");
  }
  const std::string& bytes = base64 ? *decoded : data;
  std::size_t done = 0;
  while (done < bytes.size()) {
    const auto n = ::pwrite(file.fd.get(), bytes.data() + done, bytes.size() - done,
                            static_cast<off_t>(at + static_cast<std::int64_t>(done)));
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return ioFailure("Cannot write the guest file", errno);
    done += static_cast<std::size_t>(n);
  }
  file.position = at + static_cast<std::int64_t>(bytes.size());
  return Done{};
}

}  // namespace qor::host
