#pragma once

#include <stdexcept>
#include <string>

namespace qor::cli {

// An error of the program itself (a command's own failure, a failed standard stream). The entry
// point reports it as "Error: " + what() on standard error and ends with status 1.
class CommandError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

}  // namespace qor::cli
