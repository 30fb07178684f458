#pragma once
// What every virtual COM object does the same way: a thread-safe reference
// count that deletes the object with its last reference, a QueryInterface
// over the interfaces the class lists, and a place in the live-object count.
// Media sources and streams also share their event-generator methods, which
// hand everything to a Media Foundation event queue.
#include <windows.h>
#include <mfobjects.h>
#include <wrl/client.h>

#include "camera/virtual/live_objects.h"

namespace snaplark {

// The interfaces an object answers in QueryInterface. The first also answers
// IUnknown, so that every query for IUnknown gives the same pointer.
template <typename Primary, typename... Others>
struct Answers {};

// Usage: class X final : public ComObject<X, Answers<IFoo, IFooBase>, IFoo> {...};
// derives from the Bases and answers the listed interfaces. A class whose
// answer depends on its state defines `bool Offers(REFIID) const` (public),
// which is asked before a listed interface other than IUnknown is handed out.
// An object starts with one reference, owned by whoever made it.
template <typename Derived, typename Answered, typename... Bases>
class ComObject;

template <typename Derived, typename Primary, typename... Others, typename... Bases>
class ComObject<Derived, Answers<Primary, Others...>, Bases...> : public Bases... {
 public:
  ComObject() = default;
  ComObject(const ComObject&) = delete;
  ComObject& operator=(const ComObject&) = delete;

  STDMETHODIMP QueryInterface(REFIID riid, void** object) override {
    if (!object) return E_POINTER;
    *object = nullptr;
    if (IsEqualIID(riid, IID_IUnknown)) {
      *object = static_cast<Primary*>(this);
    } else if (!(Find<Primary>(riid, object) || (Find<Others>(riid, object) || ...))) {
      return E_NOINTERFACE;
    }
    AddRef();
    return S_OK;
  }
  STDMETHODIMP_(ULONG) AddRef() override { return static_cast<ULONG>(InterlockedIncrement(&references_)); }
  STDMETHODIMP_(ULONG) Release() override {
    const LONG left = InterlockedDecrement(&references_);
    if (left == 0) delete this;
    return static_cast<ULONG>(left);
  }

  bool Offers(REFIID) const { return true; }

 protected:
  // Virtual, so that Release reaches the derived class's own (private)
  // destructor: only the last Release may end one of these objects.
  virtual ~ComObject() = default;

 private:
  template <typename Interface>
  bool Find(REFIID riid, void** object) {
    if (!IsEqualIID(riid, __uuidof(Interface)) || !static_cast<const Derived*>(this)->Offers(riid)) return false;
    *object = static_cast<Interface*>(this);
    return true;
  }

  LONG references_ = 1;
  LiveVirtualObject live_;
};

// The event-generator methods of Interface, answered by the object's event
// queue. The object makes the queue and shuts it down; after that the queue
// itself answers every call with MF_E_SHUTDOWN.
template <typename Interface>
class QueuedEvents : public Interface {
 public:
  STDMETHODIMP GetEvent(DWORD flags, IMFMediaEvent** event) override { return queue_->GetEvent(flags, event); }
  STDMETHODIMP BeginGetEvent(IMFAsyncCallback* callback, IUnknown* state) override {
    return queue_->BeginGetEvent(callback, state);
  }
  STDMETHODIMP EndGetEvent(IMFAsyncResult* result, IMFMediaEvent** event) override {
    return queue_->EndGetEvent(result, event);
  }
  STDMETHODIMP QueueEvent(MediaEventType type, REFGUID extended, HRESULT status, const PROPVARIANT* value) override {
    return queue_->QueueEventParamVar(type, extended, status, value);
  }

 protected:
  QueuedEvents() = default;
  ~QueuedEvents() = default;

  Microsoft::WRL::ComPtr<IMFMediaEventQueue> queue_;
};

}  // namespace snaplark
