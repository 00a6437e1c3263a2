#pragma once

#include <cstdio>
#include <filesystem>
#include <string>

#include "host/backend/result.h"
#include "host/core/request.h"

namespace qor::host {

// One JSON object per request, a line each, flushed at once so that whoever reads the log
// after a reply finds the request in it.
class RequestLog {
 public:
  RequestLog() = default;
  RequestLog(const RequestLog&) = delete;
  RequestLog& operator=(const RequestLog&) = delete;
  ~RequestLog();

  // Appends to `file`.
  Result<Done> open(const std::filesystem::path& file);
  void write(const Request& request);

 private:
  std::FILE* file_ = nullptr;
};

// {"path": …, "interface": … (null when the call names none), "member": …, "args": […]}
std::string requestLogLine(const Request& request);

}  // namespace qor::host
