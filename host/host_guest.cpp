#include "host/codes.h"
#include "host/host.h"
#include "host/record_json.h"
#include "support/base64.h"

namespace qor::host {
namespace {

// Only a running guest has an agent to answer.
std::optional<HostError> agentMissing(const Machine& m) {
  if (m.status && *m.status == status::kStarted) return std::nullopt;
  return invalidState("The guest agent is not running.");
}

std::vector<std::string> textsOf(const Value& array) {
  std::vector<std::string> out;
  if (const auto* elements = elementsOf(array)) {
    for (const auto& e : *elements) out.push_back(*textOf(e));
  }
  return out;
}

}  // namespace

Reply Host::openFile(Target& target, const Request& request) {
  Machine& m = *target.machine;
  if (auto e = agentMissing(m)) return Reply::failure(*e);
  auto opened = files_.open(m.key, world_.guestRootOf(m), *textOf(request.args[0]),
                            *uint32Of(request.args[1]), *booleanOf(request.args[2]));
  if (auto* e = std::get_if<HostError>(&opened)) return Reply::failure(*e);
  return Reply::of(Value::objectPath(world_.pathOf(m) + "/file/" +
                                     std::to_string(std::get<std::uint64_t>(opened))));
}

Reply Host::execute(Target& target, const Request& request) {
  Machine& m = *target.machine;
  if (auto e = agentMissing(m)) return Reply::failure(*e);
  const bool base64 = *booleanOf(request.args[4]);
  ProgramLaunch launch;
  launch.program = *textOf(request.args[0]);
  launch.arguments = textsOf(request.args[1]);
  launch.environment = programEnvironment(textsOf(request.args[2]));
  launch.capture = *booleanOf(request.args[5]);
  launch.root = world_.guestRootOf(m);
  const std::string& input = *textOf(request.args[3]);
  if (base64) {
    auto decoded = qor::support::base64Decode(input);
    if (!decoded) return Reply::failure(invalidArgs("The input is not valid base64 text."));
    launch.input = std::move(*decoded);
  } else {
    launch.input = input;
  }
  if (launch.program.empty()) return Reply::failure(invalidArgs("No program was given."));

  GuestProcess process;
  process.machineKey = m.key;
  process.base64 = base64;  // the record keeps the encoding the program was started with
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
    if (auto* e = std::get_if<HostError>(&executable)) return Reply::failure(*e);
    launch.executable = std::get<std::string>(std::move(executable));
    auto launched = launcher_.launch(launch);
    if (auto* e = std::get_if<HostError>(&launched)) return Reply::failure(*e);
    process.live = std::get<std::unique_ptr<RunningProcess>>(std::move(launched));
  }
  forgetOldProcesses();
  const std::uint64_t number = nextProcess_++;
  processes_.emplace(number, std::move(process));
  return Reply::of(Value::objectPath(world_.pathOf(m) + "/process/" + std::to_string(number)));
}

void Host::forgetOldProcesses() {
  std::size_t finished = 0;
  for (const auto& [number, p] : processes_) finished += p.finished() ? 1 : 0;
  // The map is ordered by number, so the oldest come first.
  for (auto it = processes_.begin(); it != processes_.end() && finished >= kMaxFinishedProcesses;) {
    if (it->second.finished()) {
      it = processes_.erase(it);
      --finished;
    } else {
      ++it;
    }
  }
}

Reply Host::queryIp(Target& target, const Request&) {
  const Machine& m = *target.machine;
  if (auto e = agentMissing(m)) return Reply::failure(*e);
  if (!m.ipAddresses) {
    return Reply::failure(error_names::kNoValue, "The guest reports no IP addresses.");
  }
  return Reply::of(Value::stringArray(*m.ipAddresses));
}

Reply Host::readFile(Target& target, const Request& request) {
  if (auto e = agentMissing(*target.machine)) return Reply::failure(*e);
  OpenGuestFile* file = files_.find(target.element, target.machine->key);
  Reply reply = GuestFiles::read(*file, *signedOf(request.args[0]), *uint32Of(request.args[1]),
                                 *signedOf(request.args[2]), *booleanOf(request.args[3]));
  if (!reply.error && *booleanOf(request.args[4])) files_.close(target.element);
  return reply;
}

Reply Host::writeFile(Target& target, const Request& request) {
  if (auto e = agentMissing(*target.machine)) return Reply::failure(*e);
  OpenGuestFile* file = files_.find(target.element, target.machine->key);
  Reply reply = GuestFiles::write(*file, *textOf(request.args[0]), *signedOf(request.args[1]),
                                  *uint32Of(request.args[2]), *booleanOf(request.args[3]));
  if (!reply.error && *booleanOf(request.args[4])) files_.close(target.element);
  return reply;
}

Reply Host::closeFile(Target& target, const Request&) {
  if (auto e = agentMissing(*target.machine)) return Reply::failure(*e);
  files_.close(target.element);
  return Reply::ok();
}

Reply Host::getResult(Target& target, const Request&) {
  if (auto e = agentMissing(*target.machine)) return Reply::failure(*e);
  GuestProcess& process = processes_.at(target.element);
  return Reply::of(process.result());
}

}  // namespace qor::host
