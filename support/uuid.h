#pragma once

#include <string>
#include <string_view>

namespace qor::support {

// A UUID in its text form: 8-4-4-4-12 hexadecimal digits, either case.
bool isUuid(std::string_view text);

// Identifiers are equal when they are canonically equal, or when both are UUIDs that differ in
// letter case only: a UUID's letters carry no meaning (hosts print them in capitals, virsh and
// uuidgen in lower case). A name is never folded.
bool sameIdentifier(std::string_view a, std::string_view b);

// A UUID in capitals; any other text unchanged.
std::string uuidKey(std::string_view text);

}  // namespace qor::support
