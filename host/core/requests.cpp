#include "host/core/arguments.h"
#include "host/core/vocabulary.h"
#include "host/core/dispatcher.h"

namespace qor::host {
namespace {

// A completion for the backend that turns its outcome into the request's reply.
template <class T, class ToReply>
Completion<T> replying(Completion<Reply> done, ToReply toReply) {
  return Completion<T>([done = std::move(done), toReply](Result<T> outcome) {
    if (auto* e = std::get_if<HostError>(&outcome)) {
      done(Reply::failure(std::move(*e)));
    } else {
      done(toReply(std::get<T>(std::move(outcome))));
    }
  });
}

Completion<Done> replyingOk(Completion<Reply> done) {
  return replying<Done>(std::move(done), [](Done) { return Reply::ok(); });
}

}  // namespace

void Dispatcher::setAutoTerminate(Target&, const Request& request, Completion<Reply> done) {
  autoTerminate_ = *booleanOf(request.args[0]);
  done(Reply::ok());
}

void Dispatcher::start(Target& target, const Request& request, Completion<Reply> done) {
  backend_.start(target.key(), *booleanOf(request.args[0]), *booleanOf(request.args[1]),
                 replyingOk(std::move(done)));
}

void Dispatcher::suspend(Target& target, const Request& request, Completion<Reply> done) {
  backend_.suspend(target.key(), *booleanOf(request.args[0]), replyingOk(std::move(done)));
}

void Dispatcher::stop(Target& target, const Request& request, Completion<Reply> done) {
  const std::uint32_t method = *uint32Of(request.args[0]);
  if (method != code(QorStopMethod::force) && method != code(QorStopMethod::kill) &&
      method != code(QorStopMethod::request)) {
    done(Reply::failure(
        invalidArgs("The stop method must be 'FoRc' (force), 'KiLl' (kill) or 'ReQu' (request).")));
    return;
  }
  backend_.stop(target.key(), method, replyingOk(std::move(done)));
}

void Dispatcher::deleteMachine(Target& target, const Request&, Completion<Reply> done) {
  backend_.remove(target.key(), replyingOk(std::move(done)));
}

void Dispatcher::duplicate(Target& target, const Request& request, Completion<Reply> done) {
  auto name = duplicateName(request.args[0]);
  if (auto* e = std::get_if<HostError>(&name)) {
    done(Reply::failure(*e));
    return;
  }
  backend_.duplicate(target.key(), std::get<std::optional<std::string>>(std::move(name)),
                     replyingOk(std::move(done)));
}

void Dispatcher::queryIp(Target& target, const Request&, Completion<Reply> done) {
  backend_.queryIp(target.key(),
                   replying<std::vector<std::string>>(std::move(done), [](auto addresses) {
                     return Reply::of(Value::stringArray(addresses));
                   }));
}

void Dispatcher::openFile(Target& target, const Request& request, Completion<Reply> done) {
  OpenFileArgs args{*textOf(request.args[0]), *uint32Of(request.args[1]),
                    *booleanOf(request.args[2])};
  const std::string base = pathOf(*target.machine) + "/file/";
  backend_.openFile(target.key(), std::move(args),
                    replying<GuestHandle>(std::move(done), [this, base, sender = request.sender](
                                                               GuestHandle file) {
                      fileOwners_[file] = sender;
                      return Reply::of(Value::objectPath(base + std::to_string(file)));
                    }));
}

void Dispatcher::execute(Target& target, const Request& request, Completion<Reply> done) {
  ExecuteArgs args;
  args.program = *textOf(request.args[0]);
  args.arguments = textsOf(request.args[1]);
  args.environment = textsOf(request.args[2]);
  args.input = *textOf(request.args[3]);
  args.base64 = *booleanOf(request.args[4]);
  args.capture = *booleanOf(request.args[5]);
  const std::string base = pathOf(*target.machine) + "/process/";
  backend_.execute(target.key(), std::move(args),
                   replying<GuestHandle>(std::move(done), [this, base, sender = request.sender](
                                                              GuestHandle process) {
                     processOwners_[process] = sender;
                     return Reply::of(Value::objectPath(base + std::to_string(process)));
                   }));
}

void Dispatcher::readFile(Target& target, const Request& request, Completion<Reply> done) {
  ReadArgs args{*signedOf(request.args[0]), *uint32Of(request.args[1]),
                *signedOf(request.args[2]), *booleanOf(request.args[3]),
                *booleanOf(request.args[4])};
  backend_.readFile(target.key(), target.element, args,
                    replying<std::string>(std::move(done), [](std::string text) {
                      return Reply::of(Value::string(std::move(text)));
                    }));
}

void Dispatcher::writeFile(Target& target, const Request& request, Completion<Reply> done) {
  WriteArgs args{*textOf(request.args[0]), *signedOf(request.args[1]),
                 *uint32Of(request.args[2]), *booleanOf(request.args[3]),
                 *booleanOf(request.args[4])};
  backend_.writeFile(target.key(), target.element, std::move(args), replyingOk(std::move(done)));
}

void Dispatcher::closeFile(Target& target, const Request&, Completion<Reply> done) {
  backend_.closeFile(target.key(), target.element, replyingOk(std::move(done)));
}

void Dispatcher::getResult(Target& target, const Request&, Completion<Reply> done) {
  backend_.getResult(target.key(), target.element,
                     replying<Value>(std::move(done),
                                     [](Value record) { return Reply::of(std::move(record)); }));
}

void Dispatcher::connectDevice(Target& target, const Request& request, Completion<Reply> done) {
  const ParsedPath parsed = parsePath(*textOf(request.args[0]));
  if (parsed.kind != PathKind::kMachine) {
    done(Reply::failure(parsed.kind == PathKind::kNone
                            ? unknownObject(PathKind::kMachine)
                            : invalidArgs("The object is not a virtual machine.")));
    return;
  }
  const auto machine = resolveMachine(parsed);
  if (!machine) {
    done(Reply::failure(unknownObject(PathKind::kMachine)));
    return;
  }
  backend_.connectUsb(target.index, *machine, replyingOk(std::move(done)));
}

void Dispatcher::disconnectDevice(Target& target, const Request&, Completion<Reply> done) {
  backend_.disconnectUsb(target.index, replyingOk(std::move(done)));
}

void Dispatcher::closeWindow(Target& target, const Request& request, Completion<Reply> done) {
  const std::uint32_t saving = *uint32Of(request.args[0]);
  if (saving != code(QorSaveOptions::no) && saving != code(QorSaveOptions::yes) && saving != code(QorSaveOptions::ask)) {
    done(Reply::failure(invalidArgs("The saving option must be 'yes ', 'no  ' or 'ask '.")));
    return;
  }
  backend_.closeWindow(target.window->key, saving, *textOf(request.args[1]),
                       replyingOk(std::move(done)));
}

}  // namespace qor::host
