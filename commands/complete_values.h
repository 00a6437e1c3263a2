#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace qor::commands {

// `qorctl --complete-values <kind> [<word>]`, the query the completion scripts run for a
// positional's candidates: the values of that kind the running host has, one per line. Never
// launches a host, gives up after about a second, and prints nothing on any failure; the status
// is always 0. `words` are the arguments after the option.
int completeValues(const std::vector<std::string>& words);

// Whether the text could be the beginning of a UUID ("5D3E2A1C-7B4F"): one or more characters,
// hex digits where a UUID has them and dashes where it has those.
bool startsLikeUuid(std::string_view text);

}  // namespace qor::commands
