#pragma once

#include <string>

#include "cli/parsed_arguments.h"

namespace qor::cli {

// Option group held by every leaf command in its member `environment`.
struct EnvironmentOptions {
  bool debug = false;  // accepted and stored; nothing depends on it
  bool hide = false;   // close the host's main window before the command's own work

  static EnvironmentOptions from(const ParsedArguments& arguments) {
    return {arguments.flag("debug"), arguments.flag("hide")};
  }
};

// Option group with the one positional <identifier>, held in the member `identifer`.
struct VMIdentifier {
  std::string identifier;

  static VMIdentifier from(const ParsedArguments& arguments) {
    return {arguments.value("identifier").value_or("")};
  }
};

// The option `--format` of the commands whose output a program may read: the table for people
// (text), or one JSON document.
struct OutputFormat {
  bool json = false;

  static OutputFormat from(const ParsedArguments& arguments) {
    return {arguments.value("format") == "json"};
  }
};

}  // namespace qor::cli
