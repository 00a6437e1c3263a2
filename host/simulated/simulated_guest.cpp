#include "host/core/vocabulary.h"
#include "host/core/record_json.h"
#include "host/simulated/simulated_backend.h"
#include "support/base64.h"

namespace qor::host {
namespace {

// Only a running guest has an agent to answer.
std::optional<HostError> agentMissing(const Machine& m) {
  if (m.status && *m.status == code(QorStatus::started)) return std::nullopt;
  return invalidState("The guest agent is not running.");
}

template <class T>
Result<T> fromReply(Reply reply) {
  if (reply.error) return std::move(*reply.error);
  if constexpr (std::is_same_v<T, Done>) {
    return Done{};
  } else {
    return std::move(std::get<std::string>(reply.values.front().data));
  }
}

}  // namespace

void SimulatedBackend::openFile(MachineKey key, OpenFileArgs args, Completion<GuestHandle> done) {
  Machine& m = *find(key);
  if (auto e = agentMissing(m)) return done(*e);
  auto opened = files_.open(m.key, world_.guestRootOf(m), args.path, args.mode, args.updating);
  if (auto* e = std::get_if<HostError>(&opened)) return done(*e);
  done(std::get<std::uint64_t>(opened));
}

void SimulatedBackend::execute(MachineKey key, ExecuteArgs args, Completion<GuestHandle> done) {
  Machine& m = *find(key);
  if (auto e = agentMissing(m)) return done(*e);
  ProgramLaunch launch;
  launch.program = std::move(args.program);
  launch.arguments = std::move(args.arguments);
  launch.environment = programEnvironment(args.environment);
  launch.capture = args.capture;
  launch.root = world_.guestRootOf(m);
  if (args.base64) {
    auto decoded = qor::support::base64Decode(args.input);
    if (!decoded) return done(invalidArgs("The input is not valid base64 text."));
    launch.input = std::move(*decoded);
  } else {
    launch.input = std::move(args.input);
  }
  if (launch.program.empty()) return done(invalidArgs("No program was given."));

  GuestProcess process;
  process.machineKey = m.key;
  process.base64 = args.base64;  // the record keeps the encoding the program was started with
  if (!m.processResults.empty()) {
    // A scripted machine answers from its world entry; each Execute takes one sequence.
    for (const auto& record : m.processResults.front()) {
      auto value = recordFromJson(record);
      if (auto* v = std::get_if<Value>(&value)) process.scripted.push_back(std::move(*v));
    }
    m.processResults.erase(m.processResults.begin());
    changed_ = true;
  } else {
    std::error_code ec;
    std::filesystem::create_directories(launch.root, ec);
    auto executable = locateProgram(launch.program, launch.environment, launch.root);
    if (auto* e = std::get_if<HostError>(&executable)) return done(*e);
    launch.executable = std::get<std::string>(std::move(executable));
    auto launched = launcher_.launch(launch);
    if (auto* e = std::get_if<HostError>(&launched)) return done(*e);
    process.live = std::get<std::unique_ptr<RunningProcess>>(std::move(launched));
  }
  forgetOldProcesses();
  const GuestHandle number = nextProcess_++;
  auto& stored = processes_.emplace(number, std::move(process)).first->second;
  if (stored.live) stored.live->whenExited([this, number] { answerWaiting(number, std::nullopt); });
  done(number);
}

void SimulatedBackend::forgetOldProcesses() {
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

void SimulatedBackend::queryIp(MachineKey key, Completion<std::vector<std::string>> done) {
  const Machine& m = *find(key);
  if (auto e = agentMissing(m)) return done(*e);
  if (!m.ipAddresses) {
    return done(HostError{error_names::kNoValue, "The guest reports no IP addresses."});
  }
  done(*m.ipAddresses);
}

void SimulatedBackend::guestReady(MachineKey key, std::uint32_t condition,
                                  Completion<bool> done) {
  const Machine& m = *find(key);
  if (agentMissing(m)) return done(false);
  bool answers = true;
  const auto started = startedAt_.find(key);
  const auto delay = m.extra.find("agentDelayMs");
  if (started != startedAt_.end() && delay != m.extra.end() && delay->is_number_unsigned()) {
    const std::chrono::milliseconds startup{delay->get<std::uint64_t>()};
    answers = std::chrono::steady_clock::now() - started->second >= startup;
  }
  if (condition == code(QorWaitCondition::ip)) {
    answers = answers && m.ipAddresses && !m.ipAddresses->empty();
  }
  done(answers);
}

void SimulatedBackend::readFile(MachineKey key, GuestHandle number, ReadArgs args,
                                Completion<std::string> done) {
  if (auto e = agentMissing(*find(key))) return done(*e);
  OpenGuestFile* file = files_.find(number, key);
  Reply reply = GuestFiles::read(*file, args.offset, args.whence, args.length, args.base64);
  if (!reply.error && args.closing) files_.close(number);
  done(fromReply<std::string>(std::move(reply)));
}

void SimulatedBackend::writeFile(MachineKey key, GuestHandle number, WriteArgs args,
                                 Completion<Done> done) {
  if (auto e = agentMissing(*find(key))) return done(*e);
  OpenGuestFile* file = files_.find(number, key);
  Reply reply = GuestFiles::write(*file, args.data, args.offset, args.whence, args.base64);
  if (!reply.error && args.closing) files_.close(number);
  done(fromReply<Done>(std::move(reply)));
}

void SimulatedBackend::closeFile(MachineKey key, GuestHandle number, Completion<Done> done) {
  if (auto e = agentMissing(*find(key))) return done(*e);
  files_.close(number);
  done(Done{});
}

void SimulatedBackend::getResult(MachineKey key, GuestHandle number, Completion<Value> done) {
  if (auto e = agentMissing(*find(key))) return done(*e);
  GuestProcess& process = processes_.at(number);
  if (!process.live || process.live->exited()) return done(process.result());
  // Held until the program ends or the pause is over, whichever comes first.
  const std::uint64_t id = nextWaiter_++;
  auto timer = loop_.after(kResultPause, [this, number, id] { answerWaiting(number, id); });
  process.waiting.push_back({id, std::move(done), std::move(timer)});
}

void SimulatedBackend::answerWaiting(GuestHandle number, std::optional<std::uint64_t> onlyWaiter) {
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

void SimulatedBackend::eraseProcess(std::map<GuestHandle, GuestProcess>::iterator it) {
  answerWaiting(it->first, std::nullopt);
  processes_.erase(it);
}

void SimulatedBackend::releaseProcess(GuestHandle number) {
  if (auto it = processes_.find(number); it != processes_.end()) eraseProcess(it);
}

}  // namespace qor::host
