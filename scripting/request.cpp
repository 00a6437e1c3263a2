#include "scripting/request.h"

namespace qor::scripting {

Request Request::property(std::string path, const contract::Property& declared) {
  Request request;
  request.path = std::move(path);
  request.objectClass = declared.objectClass;
  request.member = declared.name;
  request.isProperty = true;
  request.replySignature = declared.type;
  return request;
}

Request Request::method(std::string path, const contract::Method& declared,
                        std::vector<contract::Value> arguments) {
  Request request;
  request.path = std::move(path);
  request.objectClass = declared.objectClass;
  request.member = declared.name;
  request.argumentSignature = declared.in;
  request.replySignature = declared.out;
  request.arguments = std::move(arguments);
  request.lengthy = declared.lengthy;
  return request;
}

}  // namespace qor::scripting
