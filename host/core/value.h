#pragma once

#include <nlohmann/json.hpp>

#include "contract/value.h"

namespace qor::host {

using contract::booleanOf;
using contract::dictionaryOf;
using contract::elementsOf;
using contract::isBasicSignature;
using contract::isValidObjectPath;
using contract::isWellFormed;
using contract::RecordBuilder;
using contract::signedOf;
using contract::textOf;
using contract::uint32Of;
using contract::Value;

// Natural JSON for the request log: a{s…} as an object, variants as their content, object paths
// and signatures as strings, structs and other arrays as arrays.
nlohmann::ordered_json toJson(const Value& v);

}  // namespace qor::host
