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

std::string takeString(char* text) {
  Chars owned(text);
  return owned ? std::string(owned.get()) : std::string();
}

void silenceLibvirtErrors() {
  virSetErrorFunc(nullptr, [](void*, virErrorPtr) {});
}

}  // namespace qor::host::libvirt
