#pragma once

#include <utility>

#include "host/core/route.h"

namespace qor::host::objects {

// A completion for a backend that turns its outcome into the request's out values.
template <class T, class ToValues>
Completion<T> replying(Completion<Values> done, ToValues toValues) {
  return Completion<T>([done = std::move(done), toValues](Result<T> outcome) mutable {
    if (auto* f = std::get_if<Failure>(&outcome)) {
      done(std::move(*f));
    } else {
      done(toValues(std::get<T>(std::move(outcome))));
    }
  });
}

inline Completion<Done> replyingNothing(Completion<Values> done) {
  return replying<Done>(std::move(done), [](Done) { return Values{}; });
}

// A property that may have no value.
template <class T, class Make>
Result<contract::Value> valueOr(const std::optional<T>& v, std::string_view name, Make make) {
  if (!v) return noValue(name);
  return make(*v);
}

}  // namespace qor::host::objects
