#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "host/backend/windows.h"
#include "host/simulated/world.h"

namespace qor::host {

// The simulated host application's windows, front to back as the world lists them. A window
// holds no document, so closing one saves nothing. It changes only the windows, and answers at
// once.
class SimulatedWindows : public Windows {
 public:
  explicit SimulatedWindows(SharedWorld& shared) : shared_(shared) {}

  std::vector<WindowInfo> windows() override;
  void close(std::uint64_t window, std::uint32_t saving, std::string file,
             Completion<Done> done) override;
  Result<Done> setVisible(std::uint64_t window, bool visible) override;
  Result<Done> move(std::uint64_t window, std::int64_t index) override;

 private:
  std::vector<Window>::iterator find(std::uint64_t key);

  SharedWorld& shared_;
};

}  // namespace qor::host
