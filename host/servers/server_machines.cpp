#include "host/servers/server_machines.h"

namespace qor::host::servers {
namespace {

Failure gone() {
  return noObject("The virtual machine does not exist.");
}

}  // namespace

Result<Done> ServerMachines::reachable() {
  std::optional<Failure> first;
  for (std::size_t i = 0; i < servers_.size(); ++i) {
    auto r = servers_[i].concerns.machines->reachable();
    if (succeeded(r)) return Done{};
    if (!first) first = *failureOf(r);
  }
  return first ? Result<Done>(*first) : Result<Done>(Done{});
}

std::vector<MachineKey> ServerMachines::list() {
  std::vector<MachineKey> keys;
  for (std::size_t i = 0; i < servers_.size(); ++i) {
    for (const auto key : servers_[i].concerns.machines->list()) {
      keys.push_back(servers_.keys().outer(i, key));
    }
  }
  return keys;
}

std::optional<MachineKey> ServerMachines::byId(std::string_view id) {
  auto found = findById(id);
  if (const auto* key = std::get_if<std::optional<MachineKey>>(&found)) return *key;
  return std::nullopt;
}

std::optional<MachineKey> ServerMachines::byName(std::string_view name) {
  auto found = findByName(name);
  if (const auto* key = std::get_if<std::optional<MachineKey>>(&found)) return *key;
  return std::nullopt;
}

Result<std::optional<MachineKey>> ServerMachines::findById(std::string_view id) {
  return find(By::id, id);
}

Result<std::optional<MachineKey>> ServerMachines::findByName(std::string_view name) {
  return find(By::name, name);
}

Result<std::optional<MachineKey>> ServerMachines::find(By by, std::string_view text) {
  std::optional<MachineKey> found;
  std::vector<std::string> where;
  std::optional<Failure> unreached;
  for (std::size_t i = 0; i < servers_.size(); ++i) {
    auto& machines = *servers_[i].concerns.machines;
    if (auto r = machines.reachable(); !succeeded(r)) {
      if (!unreached) unreached = *failureOf(r);
      continue;
    }
    const auto key = by == By::id ? machines.byId(text) : machines.byName(text);
    if (!key) continue;
    if (!found) found = servers_.keys().outer(i, *key);
    where.push_back(servers_[i].name);
  }
  if (where.size() > 1) {
    std::string places;
    for (std::size_t i = 0; i < where.size(); ++i) {
      places += (i == 0 ? "" : i + 1 == where.size() ? " and " : ", ") + where[i];
    }
    const std::string what = by == By::id ? "id" : "name";
    return invalidArgs("Machines on " + places + " share the " + what + " '" + std::string(text) +
                       "', so it names none of them" +
                       (by == By::name ? ": use the machine's UUID." : "."));
  }
  if (!found && unreached) return *unreached;
  return found;
}

std::optional<MachineInfo> ServerMachines::info(MachineKey key) {
  const auto target = route(key);
  if (!target) return std::nullopt;
  auto info = target->first->info(target->second);
  if (info) info->key = key;
  return info;
}

std::vector<std::string> ServerMachines::unreachable() {
  std::vector<std::string> names;
  for (std::size_t i = 0; i < servers_.size(); ++i) {
    if (!succeeded(servers_[i].concerns.machines->reachable())) {
      names.push_back(servers_[i].name);
    }
  }
  return names;
}

void ServerMachines::start(MachineKey key, bool saving, bool recovery, Completion<Done> done) {
  if (const auto t = route(key))
    return t->first->start(t->second, saving, recovery, std::move(done));
  done(gone());
}

void ServerMachines::suspend(MachineKey key, bool saving, Completion<Done> done) {
  if (const auto t = route(key)) return t->first->suspend(t->second, saving, std::move(done));
  done(gone());
}

void ServerMachines::stop(MachineKey key, std::uint32_t method, Completion<Done> done) {
  if (const auto t = route(key)) return t->first->stop(t->second, method, std::move(done));
  done(gone());
}

void ServerMachines::remove(MachineKey key, Completion<Done> done) {
  if (const auto t = route(key)) return t->first->remove(t->second, std::move(done));
  done(gone());
}

void ServerMachines::duplicate(MachineKey key, std::optional<std::string> name,
                               Completion<Done> done) {
  if (const auto t = route(key)) {
    return t->first->duplicate(t->second, std::move(name), std::move(done));
  }
  done(gone());
}

std::optional<std::pair<Machines*, MachineKey>> ServerMachines::route(MachineKey key) const {
  const auto [server, inner] = servers_.keys().inner(key);
  if (server >= servers_.size()) return std::nullopt;
  return std::pair{servers_[server].concerns.machines, inner};
}

}  // namespace qor::host::servers
