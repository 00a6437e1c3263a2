#include "host/objects/window.h"

#include "contract/codes.h"
#include "host/objects/reply.h"

namespace qor::host::objects {
namespace {

using contract::ObjectClass;
using contract::Value;
namespace p = contract::properties;
namespace m = contract::methods;

Result<Value> name(Context&, const Target& t) {
  return valueOr(t.window->name, p::kWindowName.name, Value::string);
}
Result<Value> index(Context&, const Target& t) {
  return Value::int64(static_cast<std::int64_t>(t.index) + 1);
}
Result<Value> visible(Context&, const Target& t) {
  return Value::boolean(t.window->visible);
}

Result<Done> setIndex(Context& c, const Target& t, const Value& v) {
  const auto index = *contract::signedOf(v);
  const auto count = c.backends.windows->windows().size();
  if (index < 1 || index > static_cast<std::int64_t>(count)) {
    return invalidArgs("The index must be between 1 and " + std::to_string(count) + ".");
  }
  return c.backends.windows->move(t.window->key, index);
}

Result<Done> setVisible(Context& c, const Target& t, const Value& v) {
  return c.backends.windows->setVisible(t.window->key, *contract::booleanOf(v));
}

void close(Context& c, const Target& t, const Request& r, Completion<Values> done) {
  using contract::QorSaveOptions;
  const std::uint32_t saving = *contract::uint32Of(r.args[0]);
  if (saving != contract::code(QorSaveOptions::no) &&
      saving != contract::code(QorSaveOptions::yes) &&
      saving != contract::code(QorSaveOptions::ask)) {
    done(invalidArgs("The saving option must be 'yes ', 'no  ' or 'ask '."));
    return;
  }
  c.backends.windows->close(t.window->key, saving, *contract::textOf(r.args[1]),
                            replyingNothing(std::move(done)));
}

Result<Target> find(Context& c, const Captures&, const std::string&, Target t) {
  const auto windows =
      c.backends.windows ? c.backends.windows->windows() : std::vector<WindowInfo>();
  for (std::size_t i = 0; i < windows.size(); ++i) {
    if (windows[i].key == t.element) {
      t.index = i;
      t.window = windows[i];
      return t;
    }
  }
  return noObject("The window does not exist.");
}

std::vector<std::uint64_t> elements(Context& c, const Target&, const std::string&) {
  std::vector<std::uint64_t> out;
  if (c.backends.windows) {
    for (const auto& w : c.backends.windows->windows()) out.push_back(w.key);
  }
  return out;
}

constexpr PropertyRow kProperties[] = {
    {&p::kWindowName, name},
    {&p::kWindowIndex, index, setIndex},
    {&p::kWindowVisible, visible, setVisible},
};
constexpr MethodRow kMethods[] = {
    {&m::kCloseWindow, close},
};

}  // namespace

const Route kWindow{"window/{n}", ObjectClass::window, find, kProperties, kMethods, elements};

}  // namespace qor::host::objects
