#pragma once

#include <mutex>
#include <optional>
#include <string>
#include "host/backend/result.h"
#include "host/libvirt/handles.h"

namespace qor::host::libvirt {

// One libvirt connection, opened on first use and opened again when it has gone (the daemon
// restarted, a remote link broke), so the host outlives its VM manager. Safe to use from
// several threads; a call keeps the connection it was handed alive.
class Connection {
 public:
  // nullopt: libvirt's own default (LIBVIRT_DEFAULT_URI, then its configuration).
  explicit Connection(std::optional<std::string> uri) : uri_(std::move(uri)) {}

  // The live connection, or why libvirt cannot be reached (kind unavailable).
  Result<ConnectionRef> get();
  // A call failed: if the connection is no longer alive, the next get opens a new one.
  void checkAlive();

  const std::optional<std::string>& uri() const { return uri_; }

 private:
  std::optional<std::string> uri_;
  std::mutex mutex_;
  ConnectionRef current_;
};

}  // namespace qor::host::libvirt
