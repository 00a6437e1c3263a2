#pragma once

#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "host/core/route.h"

namespace qor::host {

// A path read against the route table: the object of a route, an inner node of the tree
// ("/org", R + "/vm", <vm> + "/file"), or nothing of the host's.
struct ParsedPath {
  enum class Kind { none, node, object };
  Kind kind = Kind::none;
  const Route* route = nullptr;    // of the object
  Captures captures;               // as far as the path goes
  bool namesMachine = false;       // a whole {vm} is in the path
  std::vector<std::string> parts;  // the elements below the root
  std::string aboveRoot;           // for a node above the root: the root's next element
};

// Parses, builds and resolves paths by the route table, and lists a node's children. Knows
// nothing of any class beyond its row.
class Router {
 public:
  explicit Router(std::span<const Route> routes) : routes_(routes) {}

  std::span<const Route> routes() const { return routes_; }
  const Route* routeOf(contract::ObjectClass objectClass) const;

  ParsedPath parse(std::string_view path) const;

  // The path a machine is listed under: by id, or by key when its id cannot name it (none, or
  // an earlier machine has it too).
  std::string machinePath(Context& context, const MachineInfo& machine) const;
  // The path of an object of a class; `machinePath` (as machinePath answers it) for the
  // classes below a machine.
  std::string pathOf(contract::ObjectClass objectClass, std::string_view machinePath,
                     std::uint64_t element) const;

  std::optional<MachineKey> machineOf(Context& context, const Captures& captures) const;
  // The same, or why the backend found nothing when it can say (a name two places share).
  Result<std::optional<MachineKey>> findMachine(Context& context, const Captures& captures) const;
  // The object a parsed object path names now, for this sender.
  Result<Target> resolve(Context& context, const ParsedPath& parsed,
                         const std::string& sender) const;
  // The names of the nodes below a node or object, as Introspect lists them.
  Result<std::vector<std::string>> children(Context& context, const ParsedPath& parsed,
                                            const std::string& sender) const;

 private:
  std::span<const Route> routes_;
};

// "<n>" elements are plain decimal numbers without leading zeros.
std::optional<std::uint64_t> parseElementNumber(std::string_view element);

}  // namespace qor::host
