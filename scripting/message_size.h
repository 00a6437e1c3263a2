#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "contract/value.h"

namespace qor::scripting {

// The largest message that reaches a host whole, counted as the host receives it: dbus-daemon
// takes at most 128 MiB from a sender, whatever its configuration asks for (the session bus
// asks for 1,000,000,000 bytes), adds the sender's name to the header, and sd-bus reads only
// messages below 128 MiB. A larger one is not refused with an error: the bus daemon drops the
// sender's connection, or the host's own connection breaks on it.
inline constexpr std::size_t kLargestMessage = 128 * 1024 * 1024 - 1;

// The marshalled size of a sequence of D-Bus values, each aligned to its type as the wire
// format wants.
class MarshalledSize {
 public:
  MarshalledSize& align(std::size_t boundary);
  MarshalledSize& text(std::string_view text);                   // s, o
  MarshalledSize& texts(const std::vector<std::string>& texts);  // as
  MarshalledSize& boolean();                                     // b
  MarshalledSize& extend(std::size_t bytes) {
    bytes_ += bytes;
    return *this;
  }
  std::size_t bytes() const { return bytes_; }

 private:
  std::size_t bytes_ = 0;
};

// The body of a message holding `values`, with the text at `index` counted as `length` bytes
// long whatever it holds; nullopt for a type this does not measure (only basic types and arrays
// of texts are).
std::optional<std::size_t> bodySize(const std::vector<contract::Value>& values, std::size_t index,
                                    std::size_t length);

// The header of a method call as its receiver gets it, padded for the body: the fixed part and
// the fields for path, interface, member, destination and signature, and the sender's unique
// name that the bus adds (counted at its longest, 255 bytes).
std::size_t methodCallHeaderSize(std::string_view destination, std::string_view path,
                                 std::string_view interface, std::string_view member,
                                 std::string_view signature);

}  // namespace qor::scripting
