#include "cli/output.h"

#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>

#include "cli/errors.h"

namespace qor::cli {
namespace {

std::string streamName(int fd) {
  switch (fd) {
    case 0:
      return "standard input";
    case 1:
      return "standard output";
    case 2:
      return "standard error";
    default:
      return "file descriptor " + std::to_string(fd);
  }
}

// A descriptor inherited in non-blocking mode answers EAGAIN; wait until it is ready instead of
// failing. Returns false when waiting itself fails.
bool waitUntilReady(int fd, short events) {
  pollfd entry{fd, events, 0};
  while (poll(&entry, 1, -1) < 0) {
    if (errno != EINTR) return false;
  }
  return true;
}

// Writes every byte, across short writes and interruptions. Returns 0, or the errno of the failure.
int writeAll(int fd, std::string_view bytes) {
  while (!bytes.empty()) {
    ssize_t written = ::write(fd, bytes.data(), bytes.size());
    if (written < 0) {
      if (errno == EINTR) continue;
      if ((errno == EAGAIN || errno == EWOULDBLOCK) && waitUntilReady(fd, POLLOUT)) continue;
      return errno;
    }
    bytes.remove_prefix(static_cast<std::size_t>(written));
  }
  return 0;
}

// One read of up to `count` bytes into `buffer`; 0 at end of input.
std::size_t readSome(char* buffer, std::size_t count) {
  while (true) {
    ssize_t got = ::read(STDIN_FILENO, buffer, count);
    if (got >= 0) return static_cast<std::size_t>(got);
    int error = errno;
    if (error == EINTR) continue;
    if ((error == EAGAIN || error == EWOULDBLOCK) && waitUntilReady(STDIN_FILENO, POLLIN)) continue;
    throw CommandError("Could not read from " + streamName(STDIN_FILENO) + ": " +
                       std::strerror(error));
  }
}

// The one newline buffer of the process, shared by every line the text stream writes.
std::string_view newlineBuffer() {
  static const char newline = '\n';
  return {&newline, 1};
}

}  // namespace

void print(std::string_view text) {
  std::fwrite(text.data(), 1, text.size(), stdout);
  std::fputc('\n', stdout);
}

void FileHandleTextStream::write(std::string_view text) const {
  // Neither write reports a failure: a diagnostic that cannot be written has nowhere to go.
  if (!text.empty()) writeAll(fd_, text);
  writeAll(fd_, newlineBuffer());
}

FileHandleTextStream standardErrorStream() {
  return FileHandleTextStream(STDERR_FILENO);
}

void writeRaw(int fd, std::string_view bytes) {
  if (int error = writeAll(fd, bytes); error != 0) {
    throw CommandError("Could not write to " + streamName(fd) + ": " + std::strerror(error));
  }
}

std::string readStandardInput(std::size_t count) {
  // Up to `count` bytes: short reads of a pipe are joined, so only the end of input gives less.
  std::string bytes(count, '\0');
  std::size_t filled = 0;
  while (filled < count) {
    std::size_t got = readSome(bytes.data() + filled, count - filled);
    if (got == 0) break;
    filled += got;
  }
  bytes.resize(filled);
  return bytes;
}

std::string readStandardInputToEnd(std::size_t limit) {
  std::string bytes;
  char buffer[65536];
  while (bytes.size() <= limit) {
    const std::size_t got = readSome(buffer, sizeof buffer);
    if (got == 0) break;
    bytes.append(buffer, got);
  }
  return bytes;
}

std::optional<std::uint64_t> standardInputFileRemaining() {
  struct stat status {};
  if (fstat(STDIN_FILENO, &status) != 0 || !S_ISREG(status.st_mode)) return std::nullopt;
  const off_t position = lseek(STDIN_FILENO, 0, SEEK_CUR);
  if (position < 0 || position > status.st_size) return std::nullopt;
  return static_cast<std::uint64_t>(status.st_size - position);
}

}  // namespace qor::cli
