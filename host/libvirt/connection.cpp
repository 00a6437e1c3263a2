#include "host/libvirt/connection.h"

#include <condition_variable>
#include <thread>

#include "host/libvirt/libvirt_events.h"

namespace qor::host::libvirt {
namespace {

// Every credential libvirt may ask for is refused, so an open never waits for a person.
int refuseCredentials(virConnectCredentialPtr, unsigned int, void*) {
  return -1;
}

ConnectionRef open(const std::optional<std::string>& uri, std::string& error) {
  int credentialTypes[] = {VIR_CRED_USERNAME,     VIR_CRED_AUTHNAME,   VIR_CRED_LANGUAGE,
                           VIR_CRED_CNONCE,       VIR_CRED_PASSPHRASE, VIR_CRED_ECHOPROMPT,
                           VIR_CRED_NOECHOPROMPT, VIR_CRED_REALM,      VIR_CRED_EXTERNAL};
  virConnectAuth auth{credentialTypes, sizeof credentialTypes / sizeof *credentialTypes,
                      refuseCredentials, nullptr};
  const std::string opened = uri ? withoutTerminal(*uri) : std::string();
  virConnectPtr raw = virConnectOpenAuth(uri ? opened.c_str() : nullptr, &auth, 0);
  if (!raw) {
    error = lastErrorMessage("no connection");
    return nullptr;
  }
  // A driver without keepalive (a local or test one) refuses it; nothing is lost then.
  if (virConnectSetKeepAlive(raw, kKeepAliveInterval, kKeepAliveCount) < 0) virResetLastError();
  return ConnectionRef(raw, [](virConnectPtr c) { virConnectClose(c); });
}

}  // namespace

// An open on a thread of its own, so that the requests waiting for it can stop waiting.
struct Connection::Opening {
  std::mutex mutex;
  std::condition_variable finished;
  bool done = false;
  ConnectionRef connection;
  std::string error;
  std::chrono::steady_clock::time_point deadline = std::chrono::steady_clock::now() + kOpenWait;
};

std::string withoutTerminal(const std::string& uri) {
  const auto scheme = uri.find("://");
  if (scheme == std::string::npos || uri.substr(0, scheme).find("ssh") == std::string::npos ||
      uri.find("no_tty=") != std::string::npos) {
    return uri;
  }
  return uri + (uri.find('?') == std::string::npos ? "?" : "&") + "no_tty=1";
}

Result<ConnectionRef> Connection::get() {
  std::shared_ptr<Opening> opening;
  {
    std::lock_guard lock(mutex_);
    if (current_ && virConnectIsAlive(current_.get()) == 1) return current_;
    current_.reset();
    if (!opening_) {
      startLibvirtEvents();
      opening_ = std::make_shared<Opening>();
      std::thread([opening = opening_, uri = uri_] {
        std::string error;
        auto connection = open(uri, error);
        std::lock_guard held(opening->mutex);
        opening->connection = std::move(connection);
        opening->error = std::move(error);
        opening->done = true;
        opening->finished.notify_all();
      }).detach();
    }
    opening = opening_;
  }
  std::unique_lock wait(opening->mutex);
  opening->finished.wait_until(wait, opening->deadline, [&] { return opening->done; });
  if (!opening->done) {
    return unanswered(kOpenWait);
  }
  const ConnectionRef connection = opening->connection;
  const std::string error = opening->error;
  wait.unlock();
  std::lock_guard lock(mutex_);
  if (opening_ == opening) opening_.reset();  // the next failure tries again
  if (!connection) return unreachable(error);
  if (!current_) current_ = connection;
  return current_;
}

bool Connection::checkAlive() {
  std::lock_guard lock(mutex_);
  if (!current_ || virConnectIsAlive(current_.get()) == 1) return true;
  current_.reset();
  return false;
}

Failure Connection::callFailed(std::string message) {
  if (checkAlive()) return failed(std::move(message));
  return unreachable(message);
}

Failure Connection::unreachable(const std::string& why) const {
  return unavailable("Cannot reach libvirt" + (uri_ ? " at " + *uri_ : std::string()) + ": " + why);
}

Failure Connection::unanswered(std::chrono::seconds waited) const {
  return unreachable("no answer within " + std::to_string(waited.count()) + " s");
}

}  // namespace qor::host::libvirt
