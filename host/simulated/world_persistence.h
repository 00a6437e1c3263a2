#pragma once

#include <filesystem>
#include <utility>

#include "host/backend/persistence.h"
#include "host/simulated/world.h"

namespace qor::host {

// Writes the shared world back to its file after a request that changed it. It owns the
// "changed" flag's reset and nothing else; it never writes a world nobody changed, and writes
// nothing at all without a file (tests).
class WorldPersistence : public Persistence {
 public:
  WorldPersistence(SharedWorld& shared, std::filesystem::path file)
      : shared_(shared), file_(std::move(file)) {}

  Result<Done> persist() override;
  // True once after every request that changed the world.
  bool takeChanged() { return std::exchange(shared_.changed, false); }

 private:
  SharedWorld& shared_;
  std::filesystem::path file_;
};

}  // namespace qor::host
