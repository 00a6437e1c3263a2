#pragma once

#include <string>
#include <string_view>

#include "cli/command_types.h"

namespace qor::cli {

// The qorctl(1) manual page in man(7) roff, derived from the command tree like the help screens:
// usage lines, abstracts, discussions and help texts come from the table, so the manual cannot
// drift from what the program accepts. `version` goes into the page's footer.
std::string manPage(const CommandSpec& root, std::string_view version);

// The roff building blocks, public so their escaping can be checked on its own.
namespace roff {

// Text for a line of its own: backslashes as \e, every hyphen as \- (so command and option names
// copied from the rendered page are typed with the ASCII hyphen-minus), and \& before a dot or an
// apostrophe that starts a line (else roff would read the line as a request).
std::string text(std::string_view plain);

// One quoted macro argument: escaped as text, double quotes as \(dq, newlines as blanks.
std::string argument(std::string_view plain);

// A usage line or synopsis ("qorctl stop [--force] <identifier>") with fonts: command words and
// option names bold, placeholders italic, brackets and "..." roman. A bracketed group never
// breaks across output lines.
std::string usageMarkup(std::string_view usage);

}  // namespace roff
}  // namespace qor::cli
