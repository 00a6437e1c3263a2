#include "host/simulated/simulated_windows.h"

#include <algorithm>
#include <utility>

namespace qor::host {
namespace {

Failure windowGone() {
  return noObject("The window does not exist.");
}

}  // namespace

std::vector<WindowInfo> SimulatedWindows::windows() {
  std::vector<WindowInfo> out;
  for (const auto& w : shared_.world.windows) {
    out.push_back({w.key, w.name, w.visible.value_or(true)});
  }
  return out;
}

std::vector<Window>::iterator SimulatedWindows::find(std::uint64_t key) {
  auto& windows = shared_.world.windows;
  return std::find_if(windows.begin(), windows.end(),
                      [key](const Window& w) { return w.key == key; });
}

void SimulatedWindows::close(std::uint64_t key, std::uint32_t, std::string, Completion<Done> done) {
  auto it = find(key);
  if (it == shared_.world.windows.end()) return done(windowGone());
  shared_.world.windows.erase(it);
  shared_.changed = true;
  done(Done{});
}

Result<Done> SimulatedWindows::setVisible(std::uint64_t key, bool visible) {
  auto it = find(key);
  if (it == shared_.world.windows.end()) return windowGone();
  it->visible = visible;
  shared_.changed = true;
  return Done{};
}

Result<Done> SimulatedWindows::move(std::uint64_t key, std::int64_t index) {
  auto& windows = shared_.world.windows;
  auto it = find(key);
  if (it == windows.end()) return windowGone();
  Window moved = std::move(*it);
  windows.erase(it);
  windows.insert(windows.begin() + (index - 1), std::move(moved));
  shared_.changed = true;
  return Done{};
}

}  // namespace qor::host
