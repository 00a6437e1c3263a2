#include "host/simulated/simulated_files.h"

#include "host/simulated/guest_access.h"

namespace qor::host {

std::vector<GuestHandle> SimulatedFiles::files(MachineKey key) {
  return files_.numbersOf(key);
}

Result<OpenGuestFile*> SimulatedFiles::usable(MachineKey key, GuestHandle number) {
  // A file that is gone is reported before the guest's state, as the bus side finds it first.
  OpenGuestFile* file = files_.find(number, key);
  if (!file) return noObject("The guest file is not open.");
  auto guest = runningGuest(shared_.world, key);
  if (auto* e = failureOf(guest)) return *e;
  return file;
}

void SimulatedFiles::open(MachineKey key, OpenFileArgs args, Completion<GuestHandle> done) {
  auto guest = runningGuest(shared_.world, key);
  if (auto* e = failureOf(guest)) return done(*e);
  const Machine& m = *std::get<Machine*>(guest);
  done(files_.open(m.key, shared_.world.guestRootOf(m), args.path, args.mode, args.updating));
}

void SimulatedFiles::read(MachineKey key, GuestHandle number, ReadArgs args,
                          Completion<std::string> done) {
  auto file = usable(key, number);
  if (auto* e = failureOf(file)) return done(*e);
  auto bytes = OpenFiles::read(*std::get<OpenGuestFile*>(file), args.offset, args.whence,
                               args.length, args.base64);
  if (succeeded(bytes) && args.closing) files_.close(number);
  done(std::move(bytes));
}

void SimulatedFiles::write(MachineKey key, GuestHandle number, WriteArgs args,
                           Completion<Done> done) {
  auto file = usable(key, number);
  if (auto* e = failureOf(file)) return done(*e);
  auto written = OpenFiles::write(*std::get<OpenGuestFile*>(file), args.data, args.offset,
                                  args.whence, args.base64);
  if (succeeded(written) && args.closing) files_.close(number);
  done(std::move(written));
}

void SimulatedFiles::close(MachineKey key, GuestHandle number, Completion<Done> done) {
  auto file = usable(key, number);
  if (auto* e = failureOf(file)) return done(*e);
  files_.close(number);
  done(Done{});
}

}  // namespace qor::host
