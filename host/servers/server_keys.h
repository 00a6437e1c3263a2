#pragma once

#include <cstddef>
#include <cstdint>
#include <utility>

namespace qor::host::servers {

// The numbers the composite hands out for machines and guest handles: each server's own
// numbers, interleaved (server i's n becomes n * count + i). So a number names one server's
// object without a table, stays stable while the host runs, and is never reused when the
// server's own never is.
class ServerKeys {
 public:
  explicit ServerKeys(std::size_t count) : count_(count == 0 ? 1 : count) {}

  std::uint64_t outer(std::size_t server, std::uint64_t inner) const {
    return inner * count_ + server;
  }
  // The server and its own number.
  std::pair<std::size_t, std::uint64_t> inner(std::uint64_t outer) const {
    return {static_cast<std::size_t>(outer % count_), outer / count_};
  }
  std::size_t count() const { return count_; }

 private:
  std::uint64_t count_;
};

}  // namespace qor::host::servers
