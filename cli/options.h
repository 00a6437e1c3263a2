#pragma once

#include <string>

#include "cli/parsed_arguments.h"

namespace qor::cli {

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
