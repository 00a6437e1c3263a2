#include "host/settings/host_conf.h"

#include <algorithm>
#include <fstream>
#include <sstream>

namespace qor::host {
namespace {

std::string_view trim(std::string_view s) {
  const auto space = [](char c) { return c == ' ' || c == '\t' || c == '\r'; };
  while (!s.empty() && space(s.front())) s.remove_prefix(1);
  while (!s.empty() && space(s.back())) s.remove_suffix(1);
  return s;
}

}  // namespace

Result<HostConf> parseHostConf(std::string_view text) {
  HostConf conf;
  std::size_t lineNumber = 0;
  for (std::size_t pos = 0; pos <= text.size();) {
    ++lineNumber;
    auto end = text.find('\n', pos);
    if (end == std::string_view::npos) end = text.size();
    const std::string_view line = trim(text.substr(pos, end - pos));
    pos = end + 1;
    if (line.empty() || line.front() == '#') continue;
    const std::string where = "line " + std::to_string(lineNumber) + ": ";
    const auto eq = line.find('=');
    if (eq == std::string_view::npos) return invalidArgs(where + "expected 'key = value'");
    const std::string key(trim(line.substr(0, eq)));
    const std::string value(trim(line.substr(eq + 1)));
    if (key != "backend" && key != "connect")
      return invalidArgs(where + "unknown key '" + key + "' (known: backend, connect)");
    if (value.empty()) return invalidArgs(where + "'" + key + "' needs a value");
    if (key == "connect") {
      // Two connections to one place would make every machine there ambiguous.
      if (std::find(conf.connect.begin(), conf.connect.end(), value) != conf.connect.end())
        return invalidArgs(where + "'" + value + "' is given twice");
      conf.connect.push_back(value);
      continue;
    }
    if (conf.backend) return invalidArgs(where + "'backend' is given twice");
    conf.backend = value;
  }
  return conf;
}

std::filesystem::path hostConfPath(
    const std::function<std::optional<std::string>(const char*)>& environment) {
  std::filesystem::path config;
  if (auto xdg = environment("XDG_CONFIG_HOME"); xdg && !xdg->empty() && xdg->front() == '/') {
    config = *xdg;
  } else {
    config = std::filesystem::path(environment("HOME").value_or("/")) / ".config";
  }
  return config / "qor" / "host.conf";
}

Result<HostConf> readHostConf(const std::filesystem::path& file) {
  std::error_code ec;
  if (!std::filesystem::exists(file, ec) && !ec) return HostConf{};
  std::ifstream in(file, std::ios::binary);
  if (!in) return invalidArgs(file.string() + ": cannot be read");
  std::ostringstream text;
  text << in.rdbuf();
  auto conf = parseHostConf(text.str());
  if (const auto* f = failureOf(conf)) return invalidArgs(file.string() + ": " + f->message);
  return conf;
}

}  // namespace qor::host
