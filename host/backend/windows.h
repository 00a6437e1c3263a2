#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "host/backend/completion.h"
#include "host/backend/objects.h"

namespace qor::host {

// The host application's windows.
class Windows {
 public:
  virtual ~Windows() = default;
  // In front-to-back order.
  virtual std::vector<WindowInfo> windows() = 0;
  // `saving` is one of the save options; the bus side has checked it.
  virtual void close(std::uint64_t window, std::uint32_t saving, std::string file,
                     Completion<Done> done) = 0;
  virtual Result<Done> setVisible(std::uint64_t window, bool visible) = 0;
  // `index` counts from 1 and lies within the list; the bus side has checked it.
  virtual Result<Done> move(std::uint64_t window, std::int64_t index) = 0;
};

}  // namespace qor::host
