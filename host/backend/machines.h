#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "host/backend/completion.h"
#include "host/backend/objects.h"

namespace qor::host {

// The machines a backend keeps, and their lifecycle. Every backend has this concern.
//
// Lookups and reads answer at once (a backend that must ask elsewhere keeps a snapshot); they
// never block the loop. Requests complete through their Completion, at once or later from the
// loop's thread, and must expect their machine to have gone meanwhile.
class Machines {
 public:
  virtual ~Machines() = default;

  // Whether the backend can answer at all (its VM manager may be out of reach); asked before
  // every request that names an object, which then fails with this.
  virtual Result<Done> reachable() = 0;

  // In list order. The id and name lookups answer the first machine, in that order, whose id
  // (name) equals the text under canonical equivalence.
  virtual std::vector<MachineKey> list() = 0;
  virtual std::optional<MachineKey> byId(std::string_view id) = 0;
  virtual std::optional<MachineKey> byName(std::string_view name) = 0;
  virtual std::optional<MachineInfo> info(MachineKey key) = 0;
  // The lookups a request's path makes: like byId and byName, but able to say why they found
  // nothing where "no such machine" would mislead (a name machines in two places share, a place
  // that cannot be reached now).
  virtual Result<std::optional<MachineKey>> findById(std::string_view id) { return byId(id); }
  virtual Result<std::optional<MachineKey>> findByName(std::string_view name) {
    return byName(name);
  }
  // The places whose machines list() leaves out because they cannot be reached now.
  virtual std::vector<std::string> unreachable() { return {}; }

  virtual void start(MachineKey key, bool saving, bool recovery, Completion<Done> done) = 0;
  virtual void suspend(MachineKey key, bool saving, Completion<Done> done) = 0;
  // `method` is one of the stop methods; the bus side has checked it.
  virtual void stop(MachineKey key, std::uint32_t method, Completion<Done> done) = 0;
  virtual void remove(MachineKey key, Completion<Done> done) = 0;
  // nullopt: the backend picks the copy's name.
  virtual void duplicate(MachineKey key, std::optional<std::string> name,
                         Completion<Done> done) = 0;
};

}  // namespace qor::host
