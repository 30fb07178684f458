#pragma once
// Who the source says it is: the name scanning applications list, and what
// it supports. The manager lists only sources that offer images.
#include "twain/twain_types.h"

namespace snaplark {

// The identity with the given Id (the manager's to assign).
twain::TW_IDENTITY SourceIdentity(twain::TW_UINT32 id);

}  // namespace snaplark
