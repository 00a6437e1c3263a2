#include "host/simulated/spawning_backend.h"

#include <system_error>

#include "host/simulated/default_world.h"
#include "host/simulated/process_runner.h"
#include "host/simulated/simulated_backend.h"
#include "host/simulated/world_json.h"

namespace qor::host {
namespace {

Result<World> loadOrCreateWorld(const std::filesystem::path& file) {
  std::error_code ec;
  if (!std::filesystem::exists(file, ec)) {
    if (auto created = createDefaultWorld(file); failureOf(created)) return *failureOf(created);
  }
  return loadWorldFile(file);
}

// The launcher is a base, so that it exists before the backend that uses it and goes after.
struct OwnLauncher {
  explicit OwnLauncher(sd_event* event) : launcher(event) {}
  SpawnLauncher launcher;
};

class SpawningBackend : private OwnLauncher, public SimulatedBackend {
 public:
  SpawningBackend(World world, EventLoop& loop, std::filesystem::path worldFile)
      : OwnLauncher(loop.event()),
        SimulatedBackend(std::move(world), launcher, loop, std::move(worldFile)) {}
};

}  // namespace

BackendFactory simulatedBackend(std::filesystem::path worldFile) {
  return [worldFile](EventLoop& loop) -> Result<BackendSetup> {
    auto world = loadOrCreateWorld(worldFile);
    if (auto* e = failureOf(world)) return *e;
    BackendSetup setup;
    setup.faults = std::get<World>(world).faults;
    setup.backend =
        std::make_unique<SpawningBackend>(std::get<World>(std::move(world)), loop, worldFile);
    return setup;
  };
}

}  // namespace qor::host
