#include "host/core/router.h"

#include <algorithm>

#include "contract/object_path.h"
#include "contract/vocabulary.h"

namespace qor::host {
namespace {

constexpr std::string_view kMachineToken = "{vm}";
constexpr std::string_view kNumberToken = "{n}";
constexpr std::string_view kByKey = "key";

// "a/b" gives {"a", "b"}; "" gives {}; an empty element anywhere gives nullopt.
std::optional<std::vector<std::string>> splitElements(std::string_view rest) {
  std::vector<std::string> out;
  if (rest.empty()) return out;
  for (;;) {
    const auto slash = rest.find('/');
    const auto part = rest.substr(0, slash);
    if (part.empty()) return std::nullopt;
    out.emplace_back(part);
    if (slash == std::string_view::npos) return out;
    rest.remove_prefix(slash + 1);
  }
}

std::vector<std::string_view> tokensOf(std::string_view pattern) {
  std::vector<std::string_view> out;
  while (!pattern.empty()) {
    const auto slash = pattern.find('/');
    out.push_back(pattern.substr(0, slash));
    if (slash == std::string_view::npos) break;
    pattern.remove_prefix(slash + 1);
  }
  return out;
}

std::optional<MachineSelector> selectorOf(std::string_view word) {
  namespace elements = contract::path_elements;
  if (word == elements::kById) return MachineSelector::byId;
  if (word == elements::kByName) return MachineSelector::byName;
  if (word == kByKey) return MachineSelector::byKey;
  return std::nullopt;
}

// How far a path's elements follow a route's pattern.
struct Match {
  enum class Kind { none, prefix, whole } kind = Kind::none;
  Captures captures;
  bool namesMachine = false;
  std::string_view next;    // the token that comes next, for a prefix
  bool inSelector = false;  // the path stops between a {vm}'s selector and its text
};

Match match(std::string_view pattern, const std::vector<std::string>& parts) {
  Match m;
  std::size_t i = 0;
  const auto tokens = tokensOf(pattern);
  for (std::string_view token : tokens) {
    if (i == parts.size()) {
      m.kind = Match::Kind::prefix;
      m.next = token;
      return m;
    }
    if (token == kMachineToken) {
      const auto selector = selectorOf(parts[i]);
      if (!selector) return {};
      m.captures.selector = selector;
      if (++i == parts.size()) {
        m.kind = Match::Kind::prefix;
        m.next = token;
        m.inSelector = true;
        return m;
      }
      if (*selector == MachineSelector::byKey) {
        if (!parseElementNumber(parts[i])) return {};
        m.captures.machineText = parts[i];
      } else {
        auto text = contract::unescapePathElement(parts[i]);
        if (!text) return {};
        m.captures.machineText = std::move(*text);
      }
      m.namesMachine = true;
    } else if (token == kNumberToken) {
      const auto n = parseElementNumber(parts[i]);
      if (!n) return {};
      m.captures.element = *n;
    } else if (token != parts[i]) {
      return {};
    }
    ++i;
  }
  if (i != parts.size()) return {};
  m.kind = Match::Kind::whole;
  return m;
}

void addOnce(std::vector<std::string>& list, std::string name) {
  if (std::find(list.begin(), list.end(), name) == list.end()) list.push_back(std::move(name));
}

}  // namespace

std::optional<std::uint64_t> parseElementNumber(std::string_view element) {
  if (element.empty() || element.size() > 19) return std::nullopt;
  if (element.size() > 1 && element.front() == '0') return std::nullopt;
  std::uint64_t n = 0;
  for (char c : element) {
    if (c < '0' || c > '9') return std::nullopt;
    n = n * 10 + static_cast<std::uint64_t>(c - '0');
  }
  return n;
}

const Route* Router::routeOf(contract::ObjectClass objectClass) const {
  for (const auto& r : routes_) {
    if (r.objectClass == objectClass) return &r;
  }
  return nullptr;
}

ParsedPath Router::parse(std::string_view path) const {
  ParsedPath out;
  const std::string_view root = contract::kRootPath;
  // The nodes above the root: "/", "/org", "/org/qor".
  if (path.empty()) return out;
  if (path == "/" || (root.substr(0, path.size()) == path && root[path.size()] == '/')) {
    out.kind = ParsedPath::Kind::node;
    const auto from = path == "/" ? 1 : path.size() + 1;
    out.aboveRoot = std::string(root.substr(from, root.find('/', from) - from));
    return out;
  }
  if (path.substr(0, root.size()) != root) return out;
  std::string_view rest = path.substr(root.size());
  if (!rest.empty() && rest.front() != '/') return out;
  if (!rest.empty()) rest.remove_prefix(1);
  if (rest.empty() && path.size() != root.size()) return out;  // a trailing "/"
  auto parts = splitElements(rest);
  if (!parts) return out;
  out.parts = std::move(*parts);
  bool prefix = false;
  for (const auto& route : routes_) {
    Match m = match(route.pattern, out.parts);
    if (m.kind == Match::Kind::whole) {
      out.kind = ParsedPath::Kind::object;
      out.route = &route;
      out.captures = std::move(m.captures);
      out.namesMachine = m.namesMachine;
      return out;
    }
    if (m.kind == Match::Kind::prefix && !prefix) {
      prefix = true;
      out.captures = std::move(m.captures);
      out.namesMachine = m.namesMachine;
    }
  }
  if (prefix) out.kind = ParsedPath::Kind::node;
  return out;
}

std::string Router::machinePath(Context& context, const MachineInfo& machine) const {
  if (machine.id && context.backends.machines->byId(*machine.id) == machine.key) {
    return contract::machinePathWithID(*machine.id);
  }
  return std::string(contract::kRootPath) + "/" + std::string(contract::path_elements::kMachines) +
         "/" + std::string(kByKey) + "/" + std::to_string(machine.key);
}

std::string Router::pathOf(contract::ObjectClass objectClass, std::string_view machinePath,
                           std::uint64_t element) const {
  std::string out(contract::kRootPath);
  const Route* route = routeOf(objectClass);
  if (!route) return out;
  const auto tokens = tokensOf(route->pattern);
  std::size_t start = 0;
  const auto vm = std::find(tokens.begin(), tokens.end(), kMachineToken);
  if (vm != tokens.end()) {
    // The machine's own path holds every element up to and with its {vm}.
    if (machinePath.empty()) return out;
    out = std::string(machinePath);
    start = static_cast<std::size_t>(vm - tokens.begin()) + 1;
  }
  for (std::size_t i = start; i < tokens.size(); ++i) {
    out += "/";
    out += tokens[i] == kNumberToken ? std::to_string(element) : std::string(tokens[i]);
  }
  return out;
}

std::optional<MachineKey> Router::machineOf(Context& context, const Captures& captures) const {
  auto found = findMachine(context, captures);
  if (auto* key = std::get_if<std::optional<MachineKey>>(&found)) return *key;
  return std::nullopt;
}

Result<std::optional<MachineKey>> Router::findMachine(Context& context,
                                                      const Captures& captures) const {
  if (!captures.selector) return std::optional<MachineKey>();
  auto& machines = *context.backends.machines;
  switch (*captures.selector) {
    case MachineSelector::byId:
      return machines.findById(captures.machineText);
    case MachineSelector::byName:
      return machines.findByName(captures.machineText);
    case MachineSelector::byKey:
      if (auto key = parseElementNumber(captures.machineText); key && machines.info(*key)) {
        return std::optional<MachineKey>(*key);
      }
      return std::optional<MachineKey>();
  }
  return std::optional<MachineKey>();
}

Result<Target> Router::resolve(Context& context, const ParsedPath& parsed,
                               const std::string& sender) const {
  Target t;
  t.element = parsed.captures.element;
  if (parsed.namesMachine) {
    auto found = findMachine(context, parsed.captures);
    if (const auto* f = failureOf(found)) return *f;
    if (const auto& key = std::get<std::optional<MachineKey>>(found)) {
      t.machine = context.backends.machines->info(*key);
    }
    if (!t.machine) return noObject("The virtual machine does not exist.");
  }
  return parsed.route->find(context, parsed.captures, sender, std::move(t));
}

Result<std::vector<std::string>> Router::children(Context& context, const ParsedPath& parsed,
                                                  const std::string& sender) const {
  std::vector<std::string> out;
  const std::string_view root = contract::kRootPath;
  if (!parsed.aboveRoot.empty()) return std::vector<std::string>{parsed.aboveRoot};
  Target parent;
  if (parsed.namesMachine && parsed.kind == ParsedPath::Kind::node) {
    auto found = findMachine(context, parsed.captures);
    if (const auto* f = failureOf(found)) return *f;
    if (const auto& key = std::get<std::optional<MachineKey>>(found))
      parent.machine = context.backends.machines->info(*key);
    if (!parent.machine) return noObject("The virtual machine does not exist.");
  }
  std::vector<std::string> listed;  // the machines' paths, relative to the root
  bool listedRead = false;
  const auto listMachines = [&] {
    if (listedRead) return;
    listedRead = true;
    auto& machines = *context.backends.machines;
    for (const auto key : machines.list()) {
      if (auto m = machines.info(key))
        listed.push_back(machinePath(context, *m).substr(root.size() + 1));
    }
  };
  for (const auto& route : routes_) {
    const Match m = match(route.pattern, parsed.parts);
    if (m.kind != Match::Kind::prefix) continue;
    if (m.next == kMachineToken && !m.inSelector) {
      addOnce(out, std::string(contract::path_elements::kById));
      addOnce(out, std::string(contract::path_elements::kByName));
      listMachines();
      const std::string byKey =
          std::string(contract::path_elements::kMachines) + "/" + std::string(kByKey) + "/";
      if (std::any_of(listed.begin(), listed.end(),
                      [&](const std::string& p) { return p.rfind(byKey, 0) == 0; })) {
        addOnce(out, std::string(kByKey));
      }
    } else if (m.next == kMachineToken) {
      // The machines listed under this selector; none is listed by name.
      listMachines();
      std::string here;
      for (const auto& p : parsed.parts) here += p + "/";
      for (const auto& p : listed) {
        if (p.rfind(here, 0) == 0) addOnce(out, p.substr(here.size()));
      }
    } else if (m.next == kNumberToken) {
      if (!route.elements) continue;
      for (const auto n : route.elements(context, parent, sender)) addOnce(out, std::to_string(n));
    } else {
      addOnce(out, std::string(m.next));
    }
  }
  return out;
}

}  // namespace qor::host
