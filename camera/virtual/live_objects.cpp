#include "camera/virtual/live_objects.h"

#include <atomic>

namespace snaplark {
namespace {

// Objects are released on whichever thread drops the last reference.
std::atomic<long> liveObjects{0};

}  // namespace

long LiveVirtualObjects() { return liveObjects.load(); }

LiveVirtualObject::LiveVirtualObject() { ++liveObjects; }
LiveVirtualObject::~LiveVirtualObject() { --liveObjects; }
LiveVirtualObject::LiveVirtualObject(const LiveVirtualObject&) { ++liveObjects; }

}  // namespace snaplark
