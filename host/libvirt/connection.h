#pragma once

#include <chrono>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include "host/backend/result.h"
#include "host/libvirt/handles.h"

namespace qor::host::libvirt {

// How long a request waits for a connection being opened before it is told libvirt cannot be
// reached (the open goes on, and a later request gets the connection once it is there): a
// server that accepts but never answers must not hold up the host.
inline constexpr std::chrono::seconds kOpenWait{5};
// Keepalive: a probe after 5 s without a word from the server and every 5 s after it; libvirt
// gives the connection up when it would send the (count + 1)th in a row, so a server that stops
// answering is noticed 15 s into its silence.
inline constexpr int kKeepAliveInterval = 5;
inline constexpr unsigned kKeepAliveCount = 2;

// One libvirt connection, opened on first use and opened again when it has gone (the daemon
// restarted, a remote link broke), so the host outlives its VM manager. It never prompts: no
// credentials are asked for, and an ssh transport runs without a terminal (no_tty=1), taking
// keys from the user's agent or ~/.ssh; a login that needs more fails with ssh's reason. Safe
// to use from several threads; a call keeps the connection it was handed alive.
class Connection {
 public:
  // nullopt: libvirt's own default (LIBVIRT_DEFAULT_URI, then its configuration).
  explicit Connection(std::optional<std::string> uri) : uri_(std::move(uri)) {}

  // The live connection, or why libvirt cannot be reached (kind unavailable), naming the URI.
  Result<ConnectionRef> get();
  // A call failed: if the connection is no longer alive, the next get opens a new one.
  // Whether it was still alive.
  bool checkAlive();
  // A call failed with libvirt's `message`: the failure as the caller tells it. When the
  // connection died under the call (keepalive gave up, the daemon went), the request failed
  // because the server cannot be reached, and the failure says so, naming the URI.
  Failure callFailed(std::string message);
  // "Cannot reach libvirt at URI: why" (or without the URI when libvirt's default is used).
  Failure unreachable(const std::string& why) const;
  // The same for a server that gave no answer in `waited`.
  Failure unanswered(std::chrono::seconds waited) const;

  const std::optional<std::string>& uri() const { return uri_; }

 private:
  struct Opening;

  std::optional<std::string> uri_;
  std::mutex mutex_;
  ConnectionRef current_;
  std::shared_ptr<Opening> opening_;  // an open under way, or finished and not yet taken
};

// The URI as it is opened: an ssh transport without no_tty gets no_tty=1.
std::string withoutTerminal(const std::string& uri);

}  // namespace qor::host::libvirt
