#pragma once

namespace qor::entry {

// The process entry: parses the arguments, shows help or errors, or builds and runs the selected
// command. Returns the exit status: 0, 64 for a command-line error, 1 for any raised error, or
// what the command returned.
int runEntry(int argc, char** argv);

}  // namespace qor::entry
