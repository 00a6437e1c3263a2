#pragma once

#include <cstdint>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "host/backend/objects.h"
#include "host/backend/result.h"
#include "host/backend/unique_fd.h"

namespace qor::host {

// The guest files open on the simulated guests: the descriptors, their positions, and the
// bytes read and written through them. It never leaves a guest's root and never blocks (a FIFO
// is refused, not waited for); whether a guest may be asked at all is its caller's to decide.

// A read asks for at most this much; a client may ask for less.
inline constexpr std::int64_t kMaxReadLength = 16 * 1024 * 1024;

struct OpenGuestFile {
  MachineKey machineKey = 0;
  UniqueFd fd;
  bool readable = false;
  bool writable = false;
  std::int64_t position = 0;
};

// Numbered for the whole run, so a closed file's number never names another file.
class OpenFiles {
 public:
  // Opens `guestPath` inside `root` (created when missing). Reading needs an existing regular
  // file; writing creates it (mode 0644) or empties it. `updating` opens for both reading and
  // writing and never empties the file.
  Result<GuestHandle> open(MachineKey machineKey, const std::filesystem::path& root,
                           const std::string& guestPath, std::uint32_t mode, bool updating);

  OpenGuestFile* find(GuestHandle number, MachineKey machineKey);
  void close(GuestHandle number) { files_.erase(number); }
  void closeAllOf(MachineKey machineKey);
  std::vector<GuestHandle> numbersOf(MachineKey machineKey) const;

  // The next bytes at the current position + offset, at most `length`; base64 text, or the
  // bytes themselves as text when `base64` is false (then only whole UTF-8 characters).
  static Result<std::string> read(OpenGuestFile& file, std::int64_t offset, std::uint32_t whence,
                                  std::int64_t length, bool base64);
  static Result<Done> write(OpenGuestFile& file, const std::string& data, std::int64_t offset,
                            std::uint32_t whence, bool base64);

 private:
  std::map<GuestHandle, OpenGuestFile> files_;
  GuestHandle next_ = 1;
};

}  // namespace qor::host
