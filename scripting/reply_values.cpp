#include "scripting/reply_values.h"

#include "contract/errors.h"
#include "scripting/event_error_handler.h"

namespace qor::scripting {

std::optional<std::string> replyText(const contract::Value& value) {
  if (const auto* text = contract::textOf(value)) return *text;
  return std::nullopt;
}

std::optional<bool> replyBoolean(const contract::Value& value) {
  return contract::booleanOf(value);
}

std::optional<std::uint32_t> replyCode(const contract::Value& value) {
  return contract::uint32Of(value);
}

std::optional<std::int64_t> replyInteger(const contract::Value& value) {
  if (value.type() != 'x') return std::nullopt;
  return contract::signedOf(value);
}

std::optional<std::vector<std::string>> replyTexts(const contract::Value& value) {
  const auto* elements = contract::elementsOf(value);
  if (elements == nullptr || value.type() != 'a') return std::nullopt;
  std::vector<std::string> texts;
  texts.reserve(elements->size());
  for (const auto& element : *elements) {
    const auto* text = contract::textOf(element);
    if (text == nullptr) return std::nullopt;
    texts.push_back(*text);
  }
  return texts;
}

std::optional<std::string> readOptionalText(ScriptingChannel& channel, const std::string& path,
                                            const contract::Property& property) {
  EventDelegate* const delegate = channel.delegate();
  FailureRecorder recorder;
  channel.setDelegate(&recorder);
  auto text = readProperty(channel, path, property, replyText);
  channel.setDelegate(delegate);
  if (text) return text;
  if (!recorder.last) return std::nullopt;  // an answer of the declared type that is no text
  namespace names = contract::error_names;
  if (recorder.last->errorName == names::kUnknownProperty ||
      recorder.last->errorName == names::kNoValue) {
    return std::string();
  }
  if (delegate != nullptr) delegate->eventDidFail(*recorder.last);
  return std::nullopt;
}

bool invoke(ScriptingChannel& channel, const std::string& path, const contract::Method& method,
            std::vector<contract::Value> arguments) {
  return channel.call(Request::method(path, method, std::move(arguments))).has_value();
}

}  // namespace qor::scripting
