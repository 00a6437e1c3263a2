#pragma once

#include <fuzzer/FuzzedDataProvider.h>

#include <string>
#include <vector>

#include "contract/value.h"
#include "host/core/request.h"

namespace qor::fuzz {

// What the decoder knows of the world the requests go to, so that paths and arguments name
// real objects often enough to get past the lookups.
struct Vocabulary {
  std::vector<std::string> machineIds;
  std::vector<std::string> machineNames;
  std::vector<std::string> guestPaths;
  // Object paths the host answered with so far (opened files, started processes, lists).
  std::vector<std::string> handedOut;
};

// Adds the object paths in a reply's values to `handedOut`.
void collectObjectPaths(const contract::Value& value, Vocabulary& vocabulary);

// One request as the bus would deliver it to the host: a valid object path (mostly one of the
// host's own, or one below it), an interface and member from the contract or made up, and
// arguments of any D-Bus type and shape. Mostly the arguments spell out the request's
// signature, as they always do on the bus; sometimes they do not.
host::Request decodeRequest(FuzzedDataProvider& in, const Vocabulary& vocabulary);

}  // namespace qor::fuzz
