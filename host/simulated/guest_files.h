#pragma once

#include <cstdint>
#include <filesystem>
#include <map>
#include <string>
#include <variant>
#include <vector>

#include "host/core/request.h"
#include "host/core/vocabulary.h"
#include "host/core/unique_fd.h"

namespace qor::host {

// A read asks for at most this much; a client may ask for less.
inline constexpr std::int64_t kMaxReadLength = 16 * 1024 * 1024;

struct OpenGuestFile {
  std::uint64_t machineKey = 0;
  UniqueFd fd;
  bool readable = false;
  bool writable = false;
  std::int64_t position = 0;
};

// The guest files open on the host's guest agents, numbered for the whole run so a closed
// file's number never names another file.
class GuestFiles {
 public:
  // Opens `guestPath` inside `root` (created when missing). Reading needs an existing regular
  // file; writing creates it (mode 0644) or empties it. `updating` opens for both reading and
  // writing and never empties the file.
  std::variant<std::uint64_t, HostError> open(std::uint64_t machineKey,
                                              const std::filesystem::path& root,
                                              const std::string& guestPath, std::uint32_t mode,
                                              bool updating);

  OpenGuestFile* find(std::uint64_t number, std::uint64_t machineKey);
  void close(std::uint64_t number) { files_.erase(number); }
  void closeAllOf(std::uint64_t machineKey);
  std::vector<std::uint64_t> numbersOf(std::uint64_t machineKey) const;

  // The next bytes at the current position + offset, at most `length`; base64 text, or the
  // bytes themselves as text when `base64` is false (then only whole UTF-8 characters).
  static Reply read(OpenGuestFile& file, std::int64_t offset, std::uint32_t whence,
                    std::int64_t length, bool base64);
  static Reply write(OpenGuestFile& file, const std::string& data, std::int64_t offset,
                     std::uint32_t whence, bool base64);

 private:
  std::map<std::uint64_t, OpenGuestFile> files_;
  std::uint64_t next_ = 1;
};

}  // namespace qor::host
