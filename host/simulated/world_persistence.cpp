#include "host/simulated/world_persistence.h"

#include "host/simulated/world_json.h"

namespace qor::host {

Result<Done> WorldPersistence::persist() {
  if (!takeChanged() || file_.empty()) return Done{};
  return saveWorldFile(shared_.world, file_);
}

}  // namespace qor::host
