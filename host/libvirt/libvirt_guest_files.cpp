#include "host/libvirt/libvirt_guest_files.h"

#include <utility>

namespace qor::host::libvirt {

std::vector<GuestHandle> LibvirtGuestFiles::files(MachineKey key) {
  const auto uuid = jobs_.known(key);
  if (!uuid) return {};
  return jobs_.agent().files(*uuid);
}

void LibvirtGuestFiles::open(MachineKey key, OpenFileArgs args, Completion<GuestHandle> done) {
  jobs_.run<GuestHandle>(
      key,
      [&agent = jobs_.agent(), args = std::move(args)](const std::string& uuid) {
        return agent.open(uuid, args.path, args.mode, args.updating);
      },
      std::move(done));
}

void LibvirtGuestFiles::read(MachineKey key, GuestHandle file, ReadArgs a,
                             Completion<std::string> done) {
  jobs_.run<std::string>(
      key,
      [&agent = jobs_.agent(), file, a](const std::string& uuid) {
        return agent.read(uuid, file, a.offset, a.whence, a.length, a.base64, a.closing);
      },
      std::move(done));
}

void LibvirtGuestFiles::write(MachineKey key, GuestHandle file, WriteArgs a,
                              Completion<Done> done) {
  jobs_.run<Done>(
      key,
      [&agent = jobs_.agent(), file, a = std::move(a)](const std::string& uuid) {
        return agent.write(uuid, file, a.data, a.offset, a.whence, a.base64, a.closing);
      },
      std::move(done));
}

void LibvirtGuestFiles::close(MachineKey key, GuestHandle file, Completion<Done> done) {
  jobs_.run<Done>(
      key,
      [&agent = jobs_.agent(), file](const std::string& uuid) { return agent.close(uuid, file); },
      std::move(done));
}

void LibvirtGuestFiles::releaseFile(GuestHandle file) {
  jobs_.detached([&agent = jobs_.agent(), file] { agent.releaseFile(file); });
}

}  // namespace qor::host::libvirt
