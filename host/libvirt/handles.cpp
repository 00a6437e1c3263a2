#include "host/libvirt/handles.h"

namespace qor::host::libvirt {

std::string lastErrorMessage(const std::string& fallback) {
  const virError* e = virGetLastError();
  if (!e || e->code == VIR_ERR_OK || !e->message) return fallback;
  return e->message;
}

bool lastErrorIsInvalidState() {
  const virError* e = virGetLastError();
  return e && e->code == VIR_ERR_OPERATION_INVALID;
}

Failure libvirtError() {
  return lastErrorIsInvalidState() ? invalidState(lastErrorMessage()) : failed(lastErrorMessage());
}

std::string takeString(char* text) {
  Chars owned(text);
  return owned ? std::string(owned.get()) : std::string();
}

Domain lookupDomain(virConnectPtr conn, const std::string& uuid) {
  return Domain(virDomainLookupByUUIDString(conn, uuid.c_str()));
}

void silenceLibvirtErrors() {
  virSetErrorFunc(nullptr, [](void*, virErrorPtr) {});
}

}  // namespace qor::host::libvirt
