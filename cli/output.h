#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace qor::cli {

// Line printing: the text and one newline, through the process's buffered standard output.
void print(std::string_view text);

// A text stream over one file descriptor (always standard error here): every write is the text's
// UTF-8 bytes in one write request, then the shared newline buffer in a second one. Unbuffered,
// never closes the descriptor, reports no failure.
class FileHandleTextStream {
 public:
  explicit FileHandleTextStream(int fd) : fd_(fd) {}
  void write(std::string_view text) const;

 private:
  int fd_;
};

FileHandleTextStream standardErrorStream();

// Raw byte writes, unconverted and unbuffered; throw CommandError when the platform reports a
// failed write (all bytes are written otherwise, across short writes).
void writeRaw(int fd, std::string_view bytes);
inline void writeStandardOutput(std::string_view bytes) {
  writeRaw(1, bytes);
}
inline void writeStandardError(std::string_view bytes) {
  writeRaw(2, bytes);
}

// Reads of standard input: up to `count` bytes (empty at end of input), or everything to the
// end but stopping once more than `limit` bytes have come. Throw CommandError when the read
// fails.
std::string readStandardInput(std::size_t count);
std::string readStandardInputToEnd(std::size_t limit = SIZE_MAX);

// The bytes left to read when standard input is a regular file; nullopt for anything else.
std::optional<std::uint64_t> standardInputFileRemaining();

}  // namespace qor::cli
