#pragma once

#include <systemd/sd-bus.h>

#include <chrono>
#include <filesystem>
#include <optional>
#include <string>

namespace qor::scripting {

// Whether a bus name has an owner now; nullopt when the bus daemon cannot be asked.
std::optional<bool> nameHasOwner(sd_bus* bus, const std::string& name);

// Starts the host program detached (own session, standard streams on /dev/null, no other
// descriptors, environment inherited), with the single argument "--hidden" when asked, and waits
// until `busName` has an owner. Gives up when the program cannot be started, when it exits
// without the name having gained an owner, or after `patience`.
bool launchHost(sd_bus* bus, const std::string& busName, const std::filesystem::path& program,
                bool hidden, std::chrono::milliseconds patience = std::chrono::seconds(10));

}  // namespace qor::scripting
