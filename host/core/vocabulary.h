#pragma once

// The contract's names, as the host's code uses them unqualified.
#include "contract/codes.h"
#include "contract/errors.h"
#include "contract/members.h"
#include "contract/object_path.h"
#include "contract/vocabulary.h"

namespace qor::host {

namespace error_names = contract::error_names;
namespace record_keys = contract::record_keys;
using contract::code;
using contract::escapePathElement;
using contract::fourCharCode;
using contract::kInterfacePrefix;
using contract::kIntrospectableInterface;
using contract::kPeerInterface;
using contract::kPropertiesInterface;
using contract::kRootPath;
using contract::QorOpenMode;
using contract::QorSaveOptions;
using contract::QorStatus;
using contract::QorStopMethod;
using contract::QorWaitCondition;
using contract::QorWhence;
using contract::unescapePathElement;

}  // namespace qor::host
