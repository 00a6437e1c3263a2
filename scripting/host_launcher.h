#pragma once

#include <systemd/sd-bus.h>

#include <chrono>
#include <filesystem>
#include <optional>
#include <string>

namespace qor::scripting {

// Whether a bus name has an owner now; nullopt when the bus daemon cannot be asked.
std::optional<bool> nameHasOwner(sd_bus* bus, const std::string& name);

// The unique name that owns `name` now; empty when it has none or the bus cannot be asked.
std::string nameOwner(sd_bus* bus, const std::string& name);

struct LaunchOutcome {
  bool running = false;  // the bus name has an owner
  // When the program ended without taking the name: how it ended and the first lines it wrote
  // on its standard error, ready to show. Empty otherwise.
  std::string report;
};

// Starts the host program detached (own session, standard input and output on /dev/null, no
// other descriptors, environment inherited), with the single argument "--hidden" when asked, and
// waits until `busName` has an owner. Gives up when the program cannot be started, when it exits
// without the name having gained an owner, or after `patience`. Its standard error is a pipe
// read meanwhile, so a host that cannot start can say why; once the name is taken nobody reads
// it any more (the host ignores SIGPIPE, as a server on a bus does).
LaunchOutcome launchHost(sd_bus* bus, const std::string& busName,
                         const std::filesystem::path& program, bool hidden,
                         std::chrono::milliseconds patience = std::chrono::seconds(10));

}  // namespace qor::scripting
