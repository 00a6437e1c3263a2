#pragma once

#include <exception>
#include <string>

namespace qor::scripting {

// The program's own errors; each ends the command with "Error: " + message and status 1.
class APIError : public std::exception {
 public:
  enum class Case {
    invalidIdentifier,
    applicationNotFound,
    virtualMachineNotFound,
    deviceNotFound
  };

  static APIError invalidIdentifier(const std::string& text) {
    return {Case::invalidIdentifier, "Identifier '" + text + "' is invalid."};
  }
  static APIError applicationNotFound() {
    return {Case::applicationNotFound, "Application not found."};
  }
  static APIError virtualMachineNotFound() {
    return {Case::virtualMachineNotFound, "Virtual machine not found."};
  }
  static APIError deviceNotFound() { return {Case::deviceNotFound, "Device not found."}; }

  Case which() const { return case_; }
  const char* what() const noexcept override { return message_.c_str(); }

 private:
  APIError(Case c, std::string message) : case_(c), message_(std::move(message)) {}
  Case case_;
  std::string message_;
};

}  // namespace qor::scripting
