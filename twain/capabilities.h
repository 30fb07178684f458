#pragma once
// Capability negotiation: what the application may ask and set before it
// enables the source. A webcam frame has one shape (24-bit RGB, uncompressed,
// 96 dots per inch), so most capabilities offer a single choice; the transfer
// mechanism, the transfer count and the indicators are the application's to set.
#include <vector>

#include "twain/manager_link.h"
#include "twain/twain_types.h"

namespace snaplark {

// The values an application can change; each acquisition reads them. The
// frame size is the camera's, for the physical size it reports.
struct CapabilityValues {
  twain::TW_UINT16 transferMechanism = twain::TWSX_NATIVE;
  twain::TW_INT16 transferCount = -1;
  twain::TW_BOOL indicators = 1;
  twain::TW_INT32 frameWidth = 0;
  twain::TW_INT32 frameHeight = 0;
};

// Whether answering `cap` needs the camera's frame size.
bool NeedsFrameSize(twain::TW_UINT16 cap);

struct TwainAnswer {
  twain::TW_UINT16 returnCode = twain::TWRC_SUCCESS;
  twain::TW_UINT16 condition = twain::TWCC_SUCCESS;
};

// The triplets the source answers, as CAP_SUPPORTEDDATS lists them.
const std::vector<twain::TW_UINT32>& SupportedTriplets();

// Answers one DG_CONTROL / DAT_CAPABILITY triplet. Containers handed back are
// allocated through `memory` and belong to the application. `negotiable`
// is false once the source is enabled: SET and RESET are then out of
// sequence. `legacyApplication` (protocol 1.x) gets the older condition
// codes for an unknown capability or operation.
TwainAnswer AnswerCapability(twain::TW_UINT16 message, twain::TW_CAPABILITY& capability, CapabilityValues& values,
                             const ManagerLink& memory, bool negotiable, bool legacyApplication);

}  // namespace snaplark
