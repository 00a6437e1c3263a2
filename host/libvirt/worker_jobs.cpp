#include "host/libvirt/worker_jobs.h"

namespace qor::host::libvirt {

void WorkerJobs::finishOnLoop(const std::weak_ptr<Table>& table, std::uint64_t number) {
  auto still = table.lock();
  if (!still) return;
  auto it = still->waiting.find(number);
  if (it == still->waiting.end()) return;
  auto finish = std::move(it->second);
  still->waiting.erase(it);
  finish();
}

}  // namespace qor::host::libvirt
