#pragma once
// A process-wide count of the virtual COM objects that are alive, so that a
// test can check that everything handed out to the engine was released.
namespace snaplark {

// How many virtual objects exist right now.
long LiveVirtualObjects();

// Part of every virtual COM object (see com_object.h): counts the object while
// it lives.
class LiveVirtualObject {
 public:
  LiveVirtualObject();
  ~LiveVirtualObject();
  LiveVirtualObject(const LiveVirtualObject&);
  LiveVirtualObject& operator=(const LiveVirtualObject&) = default;
};

}  // namespace snaplark
