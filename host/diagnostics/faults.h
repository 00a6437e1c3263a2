#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "host/backend/json.h"
#include "host/backend/result.h"

namespace qor::host {

enum class FaultReply { kNone, kWrongType, kNoObject, kValue };
enum class FaultAction { kNone, kExit, kHang, kReleaseName };

// One entry of the world's "faults": which requests it catches and what it does to them.
struct Fault {
  std::string member;  // "Start", or "Get.<Property>" for a property read
  std::optional<std::string> path;
  std::optional<std::string> machine;
  std::uint64_t after = 0;
  std::optional<std::uint64_t> times;  // absent: always
  std::optional<std::string> error;    // D-Bus error name
  std::string message;
  FaultReply reply = FaultReply::kNone;
  Json value;  // what a kValue reply answers, converted to the request's reply type
  FaultAction action = FaultAction::kNone;
};

// The world's "faults" as switches; a list that cannot be used says which entry and why.
Result<std::vector<Fault>> parseFaults(const Json& faults);

// What fault matching needs to know of a request.
struct RequestFacts {
  std::string member;  // "Start", "Get.Status", …
  std::string path;
  std::optional<std::string> machineId;  // the id of the machine the path names or lies below
};

// The faults with their counts of matching requests. Counts live only as long as the host runs;
// they are not written back to the world file.
class FaultTable {
 public:
  FaultTable() = default;
  explicit FaultTable(std::vector<Fault> faults)
      : faults_(std::move(faults)), seen_(faults_.size()) {}

  // The first fault, in order, that acts on this request, or nullptr. A fault that lets the
  // request pass (because of `after`, or once its `times` are used up) still counts it.
  const Fault* match(const RequestFacts& facts);

 private:
  std::vector<Fault> faults_;
  std::vector<std::uint64_t> seen_;
};

}  // namespace qor::host
