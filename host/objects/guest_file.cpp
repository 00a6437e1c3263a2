#include "host/objects/guest_file.h"

#include "host/core/handles.h"
#include "host/objects/reply.h"

namespace qor::host::objects {
namespace {

using contract::ObjectClass;
using contract::Value;
namespace m = contract::methods;

void read(Context& c, const Target& t, const Request& r, Completion<Values> done) {
  ReadArgs args{*contract::signedOf(r.args[0]), *contract::uint32Of(r.args[1]),
                *contract::signedOf(r.args[2]), *contract::booleanOf(r.args[3]),
                *contract::booleanOf(r.args[4])};
  c.backends.files->read(t.key(), t.element, args,
                         replying<std::string>(std::move(done), [](std::string text) {
                           return Values{Value::string(std::move(text))};
                         }));
}

void write(Context& c, const Target& t, const Request& r, Completion<Values> done) {
  WriteArgs args{*contract::textOf(r.args[0]), *contract::signedOf(r.args[1]),
                 *contract::uint32Of(r.args[2]), *contract::booleanOf(r.args[3]),
                 *contract::booleanOf(r.args[4])};
  c.backends.files->write(t.key(), t.element, std::move(args), replyingNothing(std::move(done)));
}

void close(Context& c, const Target& t, const Request&, Completion<Values> done) {
  c.backends.files->close(t.key(), t.element, replyingNothing(std::move(done)));
}

// Only the caller's own files are objects for it; a backend without guest files has none.
Result<Target> find(Context& c, const Captures&, const std::string& sender, Target t) {
  if (!c.backends.files ||
      !c.handles.present(HandleOwners::Kind::file, c.backends.files->files(t.key()), t.element,
                         sender)) {
    return noObject("The guest file is not open.");
  }
  return t;
}

std::vector<std::uint64_t> elements(Context& c, const Target& machine, const std::string& sender) {
  std::vector<std::uint64_t> out;
  if (!c.backends.files) return out;
  for (auto n : c.backends.files->files(machine.key())) {
    if (c.handles.ownedBy(HandleOwners::Kind::file, n, sender)) out.push_back(n);
  }
  return out;
}

constexpr MethodRow kMethods[] = {
    {&m::kRead, read},
    {&m::kWrite, write},
    {&m::kCloseFile, close},
};

}  // namespace

const Route kGuestFile{"vm/{vm}/file/{n}", ObjectClass::guestFile, find, {}, kMethods, elements};

}  // namespace qor::host::objects
