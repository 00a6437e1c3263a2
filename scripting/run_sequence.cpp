#include <string>
#include <system_error>

#include "scripting/api_command.h"
#include "scripting/api_error.h"
#include "scripting/bridge.h"
#include "scripting/event_error_handler.h"
#include "scripting/find_virtual_machine.h"
#include "scripting/info_plist.h"
#include "scripting/object_model.h"
#include "scripting/request.h"
#include "support/text_equal.h"

namespace qor::scripting {

namespace {

const std::filesystem::path kFixedHostLocation = "/Applications/Qor.app";
constexpr int kLevelsToBundle = 3;  // the executable, its folder, and Contents

// The text after the last dot of the last component; empty when there is none.
std::string pathExtension(const std::filesystem::path& path) {
  const std::string name = path.filename().string();
  const auto dot = name.rfind('.');
  return dot == std::string::npos ? std::string() : name.substr(dot + 1);
}

// Closes the first window titled "Qor"; later windows of that title stay open.
void closeMainWindow(QorApplication& application) {
  const auto windows = application.windows();
  if (!windows) return;
  for (const auto& window : *windows) {
    const auto name = window.name();
    if (name && support::canonicallyEqual(*name, "Qor")) {
      window.closeSaving(QorSaveOptions::no, std::nullopt);
      return;
    }
  }
}

}  // namespace

std::filesystem::path locateHostApplication(const std::filesystem::path& executable) {
  if (executable.empty()) return kFixedHostLocation;
  std::error_code error;
  auto path = std::filesystem::canonical(executable, error);
  if (error) return kFixedHostLocation;
  for (int level = 0; level < kLevelsToBundle; ++level) path = path.parent_path();
  return pathExtension(path) == "app" ? path : kFixedHostLocation;
}

std::filesystem::path locateHostApplication() {
  std::error_code error;
  const auto executable = std::filesystem::read_symlink("/proc/self/exe", error);
  if (error) return kFixedHostLocation;
  return locateHostApplication(executable);
}

std::unique_ptr<Bridge> bridgeForBundle(const std::filesystem::path& bundle) {
  auto info = readBundleInfo(bundle);
  if (!info) return nullptr;
  return std::make_unique<Bridge>(std::move(*info));
}

std::unique_ptr<QorApplication> applicationForBundle(const std::filesystem::path& bundle) {
  auto bridge = bridgeForBundle(bundle);
  if (!bridge) return nullptr;
  return QorApplication::withChannel(std::move(bridge));
}

int QorAPICommand::run(const LineWriter& errors) {
  return runWithHost(locateHostApplication(), errors);
}

int QorAPICommand::runWithHost(const std::filesystem::path& bundle, const LineWriter& errors) {
  const auto application = applicationForBundle(bundle);
  if (!application) throw APIError::applicationNotFound();
  application->setLaunchFlags(kLaunchFlags);
  auto& handler = sharedEventErrorHandler();
  handler.setWriter(errors);
  application->setDelegate(&handler);

  if (environment().hide) {
    application->setAutoTerminate(false);
    closeMainWindow(*application);
  }
  // The application object is released when this returns or `execute` raises.
  return execute(*application);
}

}  // namespace qor::scripting
