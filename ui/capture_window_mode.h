#pragma once
#include <cstdint>

namespace snaplark {

// Standalone: this program's own window ("Capture" keeps it open).
// Twain: inside a TWAIN acquisition ("Scan" ends it as accepted).
enum class CaptureWindowMode : std::int32_t { Twain = 0, Standalone = 1 };

}  // namespace snaplark
