#pragma once

// Plain mappings between libvirt's values and the host's (states, UUIDs, names, stop methods):
// no state, no libvirt calls; safe on any thread.

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace qor::host::libvirt {

// The host's status code for a domain's state and reason (virDomainState and its reason
// enumerations). A shut-off domain with a managed save image reads as paused: start resumes it.
// States in passing read as their nearest word: being saved is pausing, starting up is
// starting, shutting down is stopping.
std::uint32_t statusOf(int state, int reason, bool managedSave);

// libvirt writes UUIDs in lower case; the host names machines by the same UUID in capitals and
// finds them by either.
std::string uuidForHost(std::string_view libvirtUuid);
bool sameUuid(std::string_view a, std::string_view b);

// The name a copy gets when none is asked for: "NAME copy", else "NAME copy 2", "NAME copy 3",
// …, the first that `taken` says is free (nullopt after a thousand tries).
std::optional<std::string> copyName(const std::string& original,
                                    const std::function<bool(const std::string&)>& taken);

// A USB device's location: one number made of its bus and device number (bus 1, device 5 is
// 1005), stable while the device stays plugged in, and readable.
std::int64_t usbLocation(unsigned bus, unsigned device);

// What each stop method asks of libvirt.
enum class StopAction { shutdown, gracefulDestroy, destroy };
std::optional<StopAction> stopActionOf(std::uint32_t method);

}  // namespace qor::host::libvirt
