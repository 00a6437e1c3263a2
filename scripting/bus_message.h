#pragma once

#include <systemd/sd-bus.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "scripting/object_model.h"

namespace qor::scripting {

struct MessageUnref {
  void operator()(sd_bus_message* message) const { sd_bus_message_unref(message); }
};
using MessagePtr = std::unique_ptr<sd_bus_message, MessageUnref>;

// Readers of one value at the message's read position. Each returns a negative errno when the
// value is missing or of another type, else a non-negative number.
int readText(sd_bus_message* message, std::string& text);                     // s
int readBoolean(sd_bus_message* message, bool& value);                        // b
int readCode(sd_bus_message* message, std::uint32_t& code);                   // u
int readInteger(sd_bus_message* message, std::int64_t& value);                // x
int readObjectPath(sd_bus_message* message, std::string& path);               // o
int readObjectPaths(sd_bus_message* message, std::vector<std::string>& out);  // ao
int readTexts(sd_bus_message* message, std::vector<std::string>& out);        // as

// a{sv}: any D-Bus integer type reads as int64 (a uint64 above INT64_MAX saturates), b as a
// boolean, s as text, a nested a{sv} as a record; every other type reads as RecordValue::Other.
int readRecord(sd_bus_message* message, Record& record);

// s; a text holding a NUL byte cannot be sent whole, so it is refused (-EINVAL), not cut short.
int appendText(sd_bus_message* message, const std::string& text);
int appendTexts(sd_bus_message* message, const std::vector<std::string>& texts);  // as
// a{sv} with b, x, s and nested a{sv}; a RecordValue::Other cannot be sent (-EINVAL).
int appendRecord(sd_bus_message* message, const Record& record);

}  // namespace qor::scripting
