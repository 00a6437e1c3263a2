#include "host/servers/server_guests.h"

namespace qor::host::servers {
namespace {

Failure notThere(const char* what) {
  return notSupported(std::string("This host has no ") + what + ".");
}
Failure noFile() {
  return noObject("The file is not open.");
}
Failure noProcess() {
  return noObject("The process does not exist.");
}
Failure noMachine() {
  return noObject("The virtual machine does not exist.");
}

}  // namespace

std::optional<ServerGuests::Place> ServerGuests::place(MachineKey key) const {
  const auto [server, inner] = servers_.keys().inner(key);
  if (server >= servers_.size()) return std::nullopt;
  return Place{server, inner, servers_[server].concerns};
}

std::optional<GuestHandle> ServerGuests::handleOn(const Place& p, GuestHandle handle) const {
  const auto [server, inner] = servers_.keys().inner(handle);
  if (server != p.server) return std::nullopt;
  return inner;
}

std::vector<GuestHandle> ServerGuests::outerHandles(std::size_t server,
                                                    std::vector<GuestHandle> inner) const {
  for (auto& h : inner) h = servers_.keys().outer(server, h);
  return inner;
}

Completion<GuestHandle> ServerGuests::outerHandle(std::size_t server,
                                                  Completion<GuestHandle> done) const {
  const ServerKeys keys = servers_.keys();
  return Completion<GuestHandle>([keys, server, done](Result<GuestHandle> r) {
    if (const auto* h = std::get_if<GuestHandle>(&r)) return done(keys.outer(server, *h));
    done(std::move(r));
  });
}

std::optional<std::vector<SerialPortInfo>> ServerGuests::serialPorts(MachineKey key) {
  const auto p = place(key);
  if (!p || !p->concerns.serialPorts) return std::nullopt;
  return p->concerns.serialPorts->serialPorts(p->key);
}

std::vector<GuestHandle> ServerGuests::files(MachineKey key) {
  const auto p = place(key);
  if (!p || !p->concerns.files) return {};
  return outerHandles(p->server, p->concerns.files->files(p->key));
}

void ServerGuests::open(MachineKey key, OpenFileArgs args, Completion<GuestHandle> done) {
  const auto p = place(key);
  if (!p) return done(noMachine());
  if (!p->concerns.files) return done(notThere("guest files"));
  p->concerns.files->open(p->key, std::move(args), outerHandle(p->server, std::move(done)));
}

void ServerGuests::read(MachineKey key, GuestHandle file, ReadArgs args,
                        Completion<std::string> done) {
  const auto p = place(key);
  const auto inner = p ? handleOn(*p, file) : std::nullopt;
  if (!inner || !p->concerns.files) return done(noFile());
  p->concerns.files->read(p->key, *inner, std::move(args), std::move(done));
}

void ServerGuests::write(MachineKey key, GuestHandle file, WriteArgs args, Completion<Done> done) {
  const auto p = place(key);
  const auto inner = p ? handleOn(*p, file) : std::nullopt;
  if (!inner || !p->concerns.files) return done(noFile());
  p->concerns.files->write(p->key, *inner, std::move(args), std::move(done));
}

void ServerGuests::close(MachineKey key, GuestHandle file, Completion<Done> done) {
  const auto p = place(key);
  const auto inner = p ? handleOn(*p, file) : std::nullopt;
  if (!inner || !p->concerns.files) return done(noFile());
  p->concerns.files->close(p->key, *inner, std::move(done));
}

void ServerGuests::releaseFile(GuestHandle file) {
  const auto [server, inner] = servers_.keys().inner(file);
  if (server < servers_.size() && servers_[server].concerns.files) {
    servers_[server].concerns.files->releaseFile(inner);
  }
}

std::vector<GuestHandle> ServerGuests::processes(MachineKey key) {
  const auto p = place(key);
  if (!p || !p->concerns.processes) return {};
  return outerHandles(p->server, p->concerns.processes->processes(p->key));
}

void ServerGuests::execute(MachineKey key, ExecuteArgs args, Completion<GuestHandle> done) {
  const auto p = place(key);
  if (!p) return done(noMachine());
  if (!p->concerns.processes) return done(notThere("guest programs"));
  p->concerns.processes->execute(p->key, std::move(args), outerHandle(p->server, std::move(done)));
}

void ServerGuests::result(MachineKey key, GuestHandle process, Completion<contract::Value> done) {
  const auto p = place(key);
  const auto inner = p ? handleOn(*p, process) : std::nullopt;
  if (!inner || !p->concerns.processes) return done(noProcess());
  p->concerns.processes->result(p->key, *inner, std::move(done));
}

void ServerGuests::releaseProcess(GuestHandle process) {
  const auto [server, inner] = servers_.keys().inner(process);
  if (server < servers_.size() && servers_[server].concerns.processes) {
    servers_[server].concerns.processes->releaseProcess(inner);
  }
}

void ServerGuests::ready(MachineKey key, std::uint32_t condition, Completion<bool> done) {
  const auto p = place(key);
  if (!p) return done(noMachine());
  if (!p->concerns.readiness) return done(notThere("guest agent"));
  p->concerns.readiness->ready(p->key, condition, std::move(done));
}

void ServerGuests::addresses(MachineKey key, Completion<std::vector<std::string>> done) {
  const auto p = place(key);
  if (!p) return done(noMachine());
  if (!p->concerns.network) return done(notThere("guest network"));
  p->concerns.network->addresses(p->key, std::move(done));
}

}  // namespace qor::host::servers
