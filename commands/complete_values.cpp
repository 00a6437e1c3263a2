#include "commands/complete_values.h"

#include <signal.h>
#include <sys/time.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <optional>

#include "cli/completion.h"
#include "commands/usb/name_field.h"
#include "scripting/api_command.h"
#include "scripting/bridge.h"
#include "scripting/object_model.h"

namespace qor::commands {
namespace {

using scripting::QorApplication;
using Values = std::vector<std::string>;

constexpr auto kReplyTimeout = std::chrono::milliseconds(1000);
constexpr std::string_view kUuidShape = "XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX";

// The whole query ends when its second is up, wherever it waits (the bus daemon's greeting has
// no timeout of the caller's): nothing has been printed then, so the shell offers nothing.
void outOfTime(int) {
  _exit(0);
}

void startClock() {
  struct sigaction action {};
  action.sa_handler = outOfTime;
  sigaction(SIGALRM, &action, nullptr);
  itimerval timer{};
  timer.it_value.tv_sec = 1;
  setitimer(ITIMER_REAL, &timer, nullptr);
}

void stopClock() {
  sigset_t alarm;
  sigemptyset(&alarm);
  sigaddset(&alarm, SIGALRM);
  sigprocmask(SIG_BLOCK, &alarm, nullptr);
  itimerval none{};
  setitimer(ITIMER_REAL, &none, nullptr);
}

// Every value, or none when any request fails: a list with holes would offer less than there is
// without saying so.
std::optional<Values> machineValues(QorApplication& application, std::string_view word) {
  const auto machines = application.virtualMachines();
  if (!machines) return std::nullopt;
  Values names, ids;
  const bool withIds = startsLikeUuid(word);
  for (const auto& machine : machines->elements()) {
    const auto name = machine.name();
    if (!name) return std::nullopt;
    names.push_back(*name);
    if (!withIds) continue;
    const auto id = machine.id();
    if (!id) return std::nullopt;
    ids.push_back(*id);
  }
  names.insert(names.end(), ids.begin(), ids.end());
  return names;
}

// VID:PID pairs and locations exactly as `usb list` shows them, so either form can be typed back.
std::optional<Values> deviceValues(QorApplication& application) {
  const auto devices = application.usbDevices();
  if (!devices) return std::nullopt;
  Values pairs, locations;
  for (const auto& device : *devices) {
    const auto vendor = device.vendorId();
    const auto product = device.productId();
    const auto location = device.id();
    if (!vendor || !product || !location) return std::nullopt;
    pairs.push_back(hexField(vendor) + ":" + hexField(product));
    locations.push_back(std::to_string(*location));
  }
  pairs.insert(pairs.end(), locations.begin(), locations.end());
  return pairs;
}

std::optional<Values> query(cli::Suggestions kind, std::string_view word) {
  auto bridge = scripting::bridgeForBundle(scripting::locateHostApplication());
  if (!bridge) return std::nullopt;
  // No delegate: a failed request is told to no one, and no report reaches the terminal.
  bridge->setLaunchAllowed(false);
  bridge->setReplyTimeout(kReplyTimeout);
  if (bridge->hostIsRunning() != true) return std::nullopt;
  const auto application = QorApplication::withChannel(std::move(bridge));
  switch (kind) {
    case cli::Suggestions::machines:
      return machineValues(*application, word);
    case cli::Suggestions::usbDevices:
      return deviceValues(*application);
    case cli::Suggestions::none:
      break;
  }
  return std::nullopt;
}

// One value a line, each once; a value that cannot be a line (empty, or holding a line break) is
// left out.
std::string lines(const Values& values) {
  std::string text;
  Values seen;
  for (const std::string& value : values) {
    if (value.empty() || value.find_first_of("\n\r") != std::string::npos) continue;
    if (std::find(seen.begin(), seen.end(), value) != seen.end()) continue;
    seen.push_back(value);
    text += value + "\n";
  }
  return text;
}

}  // namespace

bool startsLikeUuid(std::string_view text) {
  if (text.empty() || text.size() > kUuidShape.size()) return false;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const bool hex = (text[i] >= '0' && text[i] <= '9') || (text[i] >= 'A' && text[i] <= 'F') ||
                     (text[i] >= 'a' && text[i] <= 'f');
    if (kUuidShape[i] == '-' ? text[i] != '-' : !hex) return false;
  }
  return true;
}

int completeValues(const std::vector<std::string>& words) {
  const auto kind = words.empty() ? std::nullopt : cli::suggestionsNamed(words.front());
  if (!kind || words.size() > 2) return 0;
  startClock();
  std::string text;
  try {
    if (const auto values = query(*kind, words.size() > 1 ? words[1] : "")) text = lines(*values);
  } catch (...) {
    text.clear();  // whatever went wrong, the shell is offered nothing rather than a message
  }
  stopClock();
  std::fwrite(text.data(), 1, text.size(), stdout);
  return 0;
}

}  // namespace qor::commands
