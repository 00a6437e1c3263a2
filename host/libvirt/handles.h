#pragma once

#include <libvirt/libvirt.h>
#include <libvirt/virterror.h>

#include <cstdlib>
#include <memory>
#include <string>

#include "host/backend/result.h"

namespace qor::host::libvirt {

// Owners of libvirt's objects: each frees its object with libvirt's own call.
struct DomainFree {
  void operator()(virDomainPtr d) const { virDomainFree(d); }
};
struct NodeDeviceFree {
  void operator()(virNodeDevicePtr d) const { virNodeDeviceFree(d); }
};
struct PoolFree {
  void operator()(virStoragePoolPtr p) const { virStoragePoolFree(p); }
};
struct VolumeFree {
  void operator()(virStorageVolPtr v) const { virStorageVolFree(v); }
};
struct CharsFree {
  void operator()(char* p) const { std::free(p); }
};

using Domain = std::unique_ptr<virDomain, DomainFree>;
using NodeDevice = std::unique_ptr<virNodeDevice, NodeDeviceFree>;
using Pool = std::unique_ptr<virStoragePool, PoolFree>;
using Volume = std::unique_ptr<virStorageVol, VolumeFree>;
using Chars = std::unique_ptr<char, CharsFree>;

// A connection shared by the calls that use it; the last user closes it.
using ConnectionRef = std::shared_ptr<virConnect>;

// libvirt's message for the last call that failed on this thread (libvirt keeps its errors per
// thread), or `fallback` when it left none.
std::string lastErrorMessage(const std::string& fallback = "The libvirt call failed.");
// Whether the last failure on this thread was an operation the object's state does not allow
// (a machine that is not running, one that is already running).
bool lastErrorIsInvalidState();
// libvirt's last error on this thread as the host's failure: invalidState for an operation the
// machine's state does not allow, else failed; libvirt's own message either way.
Failure libvirtError();

// A string libvirt allocated, taken over (nullptr gives an empty one).
std::string takeString(char* text);

// The domain of this UUID (either case) on a connection; empty, with libvirt's error, if none.
Domain lookupDomain(virConnectPtr conn, const std::string& uuid);

// libvirt prints every error on stderr unless told otherwise; the host reports them itself.
void silenceLibvirtErrors();

}  // namespace qor::host::libvirt
