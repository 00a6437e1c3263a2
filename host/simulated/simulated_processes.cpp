#include "host/simulated/simulated_processes.h"

#include <system_error>
#include <utility>

#include "host/backend/json_values.h"
#include "host/simulated/guest_access.h"
#include "support/base64.h"

namespace qor::host {

SimulatedProcesses::SimulatedProcesses(SharedWorld& shared, ProcessLauncher& launcher, Loop& loop)
    : shared_(shared), launcher_(launcher), loop_(loop) {}

SimulatedProcesses::~SimulatedProcesses() {
  processes_.clear();
}

std::vector<GuestHandle> SimulatedProcesses::processes(MachineKey key) {
  std::vector<GuestHandle> out;
  for (const auto& [number, p] : processes_) {
    if (p.machineKey == key) out.push_back(number);
  }
  return out;
}

void SimulatedProcesses::execute(MachineKey key, ExecuteArgs args, Completion<GuestHandle> done) {
  auto guest = runningGuest(shared_.world, key);
  if (auto* e = failureOf(guest)) return done(*e);
  auto started = startProcess(*std::get<Machine*>(guest), std::move(args));
  if (auto* e = failureOf(started)) return done(*e);
  forgetOldProcesses();
  const GuestHandle number = nextProcess_++;
  auto& stored =
      processes_.emplace(number, std::get<GuestProcess>(std::move(started))).first->second;
  if (stored.live) stored.live->whenExited([this, number] { answerWaiting(number, std::nullopt); });
  done(number);
}

Result<GuestProcess> SimulatedProcesses::startProcess(Machine& m, ExecuteArgs args) {
  ProgramLaunch launch;
  launch.program = std::move(args.program);
  launch.arguments = std::move(args.arguments);
  launch.environment = programEnvironment(args.environment);
  launch.capture = args.capture;
  launch.root = shared_.world.guestRootOf(m);
  if (args.base64) {
    auto decoded = support::base64Decode(args.input);
    if (!decoded) return invalidArgs("The input is not valid base64 text.");
    launch.input = std::move(*decoded);
  } else {
    launch.input = std::move(args.input);
  }
  if (launch.program.empty()) return invalidArgs("No program was given.");

  GuestProcess process;
  process.machineKey = m.key;
  process.base64 = args.base64;  // the record keeps the encoding the program was started with
  if (!m.processResults.empty()) {
    // A scripted machine answers from its world entry; each Execute takes one sequence.
    for (const auto& record : m.processResults.front()) {
      auto value = recordFromJson(record);
      if (auto* v = std::get_if<contract::Value>(&value)) process.scripted.push_back(std::move(*v));
    }
    m.processResults.erase(m.processResults.begin());
    shared_.changed = true;
    return process;
  }
  std::error_code ec;
  std::filesystem::create_directories(launch.root, ec);
  auto executable = locateProgram(launch.program, launch.environment, launch.root);
  if (auto* e = failureOf(executable)) return *e;
  launch.executable = std::get<std::string>(std::move(executable));
  auto launched = launcher_.launch(launch);
  if (auto* e = failureOf(launched)) return *e;
  process.live = std::get<std::unique_ptr<RunningProcess>>(std::move(launched));
  return process;
}

void SimulatedProcesses::forgetOldProcesses() {
  std::size_t finished = 0;
  for (const auto& [number, p] : processes_) finished += p.finished() ? 1 : 0;
  // The map is ordered by number, so the oldest come first.
  for (auto it = processes_.begin(); it != processes_.end() && finished >= kMaxFinishedProcesses;) {
    auto next = std::next(it);
    if (it->second.finished()) {
      eraseProcess(it);
      --finished;
    }
    it = next;
  }
}

void SimulatedProcesses::result(MachineKey key, GuestHandle number,
                                Completion<contract::Value> done) {
  // A process that is gone is reported before the guest's state, as the bus side finds it first.
  auto it = processes_.find(number);
  if (it == processes_.end() || it->second.machineKey != key) {
    return done(noObject("The guest process does not exist."));
  }
  if (auto guest = runningGuest(shared_.world, key); failureOf(guest)) {
    return done(*failureOf(guest));
  }
  GuestProcess& process = it->second;
  if (!process.live || process.live->exited()) return done(process.result());
  // Held until the program ends or the pause is over, whichever comes first.
  const std::uint64_t id = nextWaiter_++;
  auto timer = loop_.after(kResultPause, [this, number, id] { answerWaiting(number, id); });
  process.waiting.push_back({id, std::move(done), std::move(timer)});
}

void SimulatedProcesses::answerWaiting(GuestHandle number,
                                       std::optional<std::uint64_t> onlyWaiter) {
  auto it = processes_.find(number);
  if (it == processes_.end()) return;
  auto& waiting = it->second.waiting;
  std::vector<GuestProcess::Waiter> answered;
  for (auto w = waiting.begin(); w != waiting.end();) {
    if (!onlyWaiter || w->id == *onlyWaiter) {
      answered.push_back(std::move(*w));
      w = waiting.erase(w);
    } else {
      ++w;
    }
  }
  for (auto& w : answered) w.done(it->second.result());
}

void SimulatedProcesses::eraseProcess(Processes::iterator it) {
  answerWaiting(it->first, std::nullopt);
  processes_.erase(it);
}

void SimulatedProcesses::releaseProcess(GuestHandle number) {
  if (auto it = processes_.find(number); it != processes_.end()) eraseProcess(it);
}

void SimulatedProcesses::machineLost(MachineKey key) {
  for (auto it = processes_.begin(); it != processes_.end();) {
    auto next = std::next(it);
    if (it->second.machineKey == key) eraseProcess(it);
    it = next;
  }
}

}  // namespace qor::host
