#pragma once

#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "contract/value.h"
#include "host/backend/result.h"

namespace qor::host {

// A method call as the host received it, free of the bus library.
struct Request {
  std::string path;
  std::optional<std::string> interface;  // a call may leave it out
  std::string member;
  std::string signature;  // of all arguments together
  std::vector<contract::Value> args;
  std::string sender;  // the unique bus name of the calling connection; not logged
};

// The out values of a method: none or one in this contract.
using Values = std::vector<contract::Value>;

// What goes back on the bus: the out values, or an error name and message. Only the edge and
// the fault switches (which may answer any error name) speak in names; everything behind them
// answers a Failure, whose kind the contract names here.
struct Reply {
  struct Error {
    std::string name;
    std::string message;
  };
  Values values;
  std::optional<Error> error;

  static Reply of(Values values) { return {std::move(values), std::nullopt}; }
  static Reply named(std::string name, std::string message) {
    return {{}, Error{std::move(name), std::move(message)}};
  }
  static Reply failure(const Failure& f) { return named(std::string(f.errorName()), f.message); }
  static Reply from(Result<Values> outcome) {
    if (const auto* f = std::get_if<Failure>(&outcome)) return failure(*f);
    return of(std::get<Values>(std::move(outcome)));
  }
};

}  // namespace qor::host
