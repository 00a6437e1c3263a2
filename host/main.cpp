#include <cstdlib>
#include <iostream>
#include <string>
#include <variant>
#include <vector>

#include "host/host_service.h"
#include "host/settings.h"

int main(int argc, char** argv) {
  const std::vector<std::string> args(argv, argv + argc);
  auto settings = qor::host::parseSettings(args, [](const char* name) {
    const char* value = std::getenv(name);
    return value ? std::optional<std::string>(value) : std::nullopt;
  });
  if (auto* error = std::get_if<std::string>(&settings)) {
    std::cerr << "qor-host: " << *error << "\n" << qor::host::kUsage;
    return 64;
  }
  const auto& s = std::get<qor::host::Settings>(settings);
  if (s.help) {
    std::cout << qor::host::kUsage;
    return 0;
  }
  return qor::host::runHostService(s);
}
