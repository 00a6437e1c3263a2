#pragma once

#include <string>
#include <vector>

#include "host/backend/network.h"
#include "host/simulated/world.h"

namespace qor::host {

// The addresses a running simulated guest reports: the world's ipAddresses of the machine, as
// written. It reads the world and never changes it; it answers at once.
class SimulatedNetwork : public Network {
 public:
  explicit SimulatedNetwork(SharedWorld& shared) : shared_(shared) {}
  void addresses(MachineKey key, Completion<std::vector<std::string>> done) override;

 private:
  SharedWorld& shared_;
};

}  // namespace qor::host
