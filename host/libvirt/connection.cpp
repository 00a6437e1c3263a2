#include "host/libvirt/connection.h"

namespace qor::host::libvirt {

Result<ConnectionRef> Connection::get() {
  std::lock_guard lock(mutex_);
  if (current_ && virConnectIsAlive(current_.get()) == 1) return current_;
  current_.reset();
  virConnectPtr raw = virConnectOpen(uri_ ? uri_->c_str() : nullptr);
  if (!raw) {
    return unavailable("Cannot reach libvirt" + (uri_ ? " at " + *uri_ : std::string()) + ": " +
                       lastErrorMessage("no connection"));
  }
  current_ = ConnectionRef(raw, [](virConnectPtr c) { virConnectClose(c); });
  return current_;
}

void Connection::checkAlive() {
  std::lock_guard lock(mutex_);
  if (current_ && virConnectIsAlive(current_.get()) != 1) current_.reset();
}

}  // namespace qor::host::libvirt
