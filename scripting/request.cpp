#include "scripting/request.h"

namespace qor::scripting {

Request Request::property(std::string path, const contract::PropertySpec& spec) {
  Request request;
  request.path = std::move(path);
  request.objectClass = spec.objectClass;
  request.member = spec.name;
  request.isProperty = true;
  request.replySignature = spec.type;
  return request;
}

Request Request::method(std::string path, const contract::MethodSpec& spec,
                        std::vector<contract::Value> arguments) {
  Request request;
  request.path = std::move(path);
  request.objectClass = spec.objectClass;
  request.member = spec.name;
  request.argumentSignature = spec.in;
  request.replySignature = spec.out;
  request.arguments = std::move(arguments);
  return request;
}

}  // namespace qor::scripting
