#include "host/diagnostics/request_log.h"

#include "host/backend/json_values.h"

#include <cerrno>
#include <cstring>

namespace qor::host {

RequestLog::~RequestLog() {
  if (file_) std::fclose(file_);
}

Result<Done> RequestLog::open(const std::filesystem::path& file) {
  file_ = std::fopen(file.c_str(), "ae");
  if (!file_) return failed(file.string() + ": " + std::strerror(errno));
  return Done{};
}

void RequestLog::write(const Request& request) {
  if (!file_) return;
  const std::string line = requestLogLine(request) + "\n";
  std::fwrite(line.data(), 1, line.size(), file_);
  std::fflush(file_);
}

namespace {

// Compact JSON on one line, with a space after every ":" and ",", as people write it.
void appendJson(std::string& out, const Json& j) {
  if (j.is_object()) {
    out += '{';
    bool first = true;
    for (const auto& [key, v] : j.items()) {
      if (!first) out += ", ";
      first = false;
      out += Json(key).dump(-1, ' ', false, Json::error_handler_t::replace);
      out += ": ";
      appendJson(out, v);
    }
    out += '}';
  } else if (j.is_array()) {
    out += '[';
    bool first = true;
    for (const auto& v : j) {
      if (!first) out += ", ";
      first = false;
      appendJson(out, v);
    }
    out += ']';
  } else {
    out += j.dump(-1, ' ', false, Json::error_handler_t::replace);
  }
}

}  // namespace

std::string requestLogLine(const Request& request) {
  Json line = Json::object();
  line["path"] = request.path;
  line["interface"] = request.interface ? Json(*request.interface) : Json();
  line["member"] = request.member;
  Json args = Json::array();
  for (const auto& a : request.args) args.push_back(toJson(a));
  line["args"] = std::move(args);
  std::string out;
  appendJson(out, line);
  return out;
}

}  // namespace qor::host
