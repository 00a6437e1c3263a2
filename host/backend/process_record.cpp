#include "host/backend/process_record.h"

#include "contract/vocabulary.h"

namespace qor::host {

contract::Value processRecord(const ProcessState& state) {
  namespace keys = contract::record_keys;
  using contract::Value;
  contract::RecordBuilder record;
  record.add(std::string(keys::kHasExited), Value::boolean(state.exited));
  if (state.exited) {
    record.add(std::string(keys::kExitCode), Value::int64(state.exitCode));
    record.add(std::string(keys::kOutputData), Value::string(state.output));
    record.add(std::string(keys::kErrorData), Value::string(state.error));
    // A missing key means the stream is whole.
    if (state.outputTruncated)
      record.add(std::string(keys::kOutputTruncated), Value::boolean(true));
    if (state.errorTruncated) record.add(std::string(keys::kErrorTruncated), Value::boolean(true));
  }
  return std::move(record).build();
}

}  // namespace qor::host
