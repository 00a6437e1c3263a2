#include "fake_channel.h"

#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <iterator>

#include "scripting/bus_errors.h"

namespace qor::commands::testing {

void FakeChannel::answer(const std::string& key, contract::Value value) {
  on(key, [value](const scripting::Request&) { return Answer{std::vector{value}}; });
}

std::optional<std::vector<contract::Value>> FakeChannel::call(const scripting::Request& request) {
  const std::string key =
      std::string(request.interfaceShortName()) + "." + std::string(request.member);
  requests_.push_back(key);
  const auto handler = handlers_.find(key);
  Answer answer = handler != handlers_.end() ? handler->second(request) : Answer{};
  if (!answer.values && delegate_ != nullptr) {
    delegate_->eventDidFail(scripting::requestFailure(
        request.interfaceShortName(), request.member, "org.qor.Scripting1.Error.Failed",
        scripting::kRequestFailed, answer.errorMessage));
  }
  return answer.values;
}

std::size_t FakeChannel::count(const std::string& key) const {
  std::size_t n = 0;
  for (const auto& r : requests_) n += r == key ? 1 : 0;
  return n;
}

std::string capturedStandardOutput(const std::function<void()>& body) {
  std::fflush(stdout);
  char name[] = "/tmp/qor-stdout-XXXXXX";
  const int file = ::mkstemp(name);
  const int saved = ::dup(1);
  ::dup2(file, 1);
  try {
    body();
  } catch (...) {
    std::fflush(stdout);
    ::dup2(saved, 1);
    ::close(saved);
    ::close(file);
    ::unlink(name);
    throw;
  }
  std::fflush(stdout);
  ::dup2(saved, 1);
  ::close(saved);
  ::close(file);
  std::ifstream in(name, std::ios::binary);
  std::string bytes{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
  ::unlink(name);
  return bytes;
}

}  // namespace qor::commands::testing
