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

}  // namespace qor::cli
