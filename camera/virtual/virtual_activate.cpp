#include "camera/virtual/virtual_activate.h"

#include <mfapi.h>
#include <mferror.h>
#include <objbase.h>
#include <wrl/client.h>

#include <algorithm>
#include <cstring>
#include <new>
#include <utility>

#include "camera/virtual/com_object.h"

namespace snaplark {
namespace {

using Microsoft::WRL::ComPtr;

// IMFAttributes is delegated to a real attribute store, so the object behaves
// like the platform's. Only the string reads of the two device texts are
// answered here, because the store cannot hold a text past an embedded NUL.
class VirtualActivate final : public ComObject<VirtualActivate, Answers<IMFActivate, IMFAttributes>, IMFActivate> {
 public:
  static HRESULT Create(const VirtualDeviceInfo& info, IMFActivate** out) {
    if (!out) return E_POINTER;
    *out = nullptr;
    ComPtr<IMFAttributes> store;
    HRESULT hr = MFCreateAttributes(&store, 2);
    if (FAILED(hr)) return hr;
    if (info.friendlyName) {
      hr = store->SetString(MF_DEVSOURCE_ATTRIBUTE_FRIENDLY_NAME, info.friendlyName->c_str());
      if (FAILED(hr)) return hr;
    }
    if (info.symbolicLink) {
      hr = store->SetString(MF_DEVSOURCE_ATTRIBUTE_SOURCE_TYPE_VIDCAP_SYMBOLIC_LINK, info.symbolicLink->c_str());
      if (FAILED(hr)) return hr;
    }
    auto* object = new (std::nothrow) VirtualActivate(store.Get(), info);
    if (!object) return E_OUTOFMEMORY;
    *out = object;
    return S_OK;
  }

  // IMFActivate: never activated (see the header).
  STDMETHODIMP ActivateObject(REFIID, void** object) override {
    if (object) *object = nullptr;
    return E_NOTIMPL;
  }
  STDMETHODIMP ShutdownObject() override { return E_NOTIMPL; }
  STDMETHODIMP DetachObject() override { return E_NOTIMPL; }

  // IMFAttributes: string reads of the device texts.
  STDMETHODIMP GetStringLength(REFGUID key, UINT32* length) override {
    if (const std::wstring* text = Text(key)) {
      if (!length) return E_POINTER;
      *length = static_cast<UINT32>(text->size());
      return S_OK;
    }
    return store_->GetStringLength(key, length);
  }
  STDMETHODIMP GetString(REFGUID key, LPWSTR buffer, UINT32 size, UINT32* length) override {
    if (const std::wstring* text = Text(key)) {
      if (!buffer) return E_POINTER;
      if (size < text->size() + 1) return HRESULT_FROM_WIN32(ERROR_INSUFFICIENT_BUFFER);
      std::copy(text->begin(), text->end(), buffer);
      buffer[text->size()] = L'\0';
      if (length) *length = static_cast<UINT32>(text->size());
      return S_OK;
    }
    return store_->GetString(key, buffer, size, length);
  }
  STDMETHODIMP GetAllocatedString(REFGUID key, LPWSTR* value, UINT32* length) override {
    if (const std::wstring* text = Text(key)) {
      if (!value || !length) return E_POINTER;
      auto* copy = static_cast<WCHAR*>(CoTaskMemAlloc((text->size() + 1) * sizeof(WCHAR)));
      if (!copy) return E_OUTOFMEMORY;
      std::copy(text->begin(), text->end(), copy);
      copy[text->size()] = L'\0';
      *value = copy;
      *length = static_cast<UINT32>(text->size());
      return S_OK;
    }
    return store_->GetAllocatedString(key, value, length);
  }

  // IMFAttributes: a write to a device text replaces the verbatim copy.
  STDMETHODIMP SetItem(REFGUID key, REFPROPVARIANT value) override {
    return Write(&IMFAttributes::SetItem, key, value);
  }
  STDMETHODIMP DeleteItem(REFGUID key) override { return Write(&IMFAttributes::DeleteItem, key); }
  STDMETHODIMP DeleteAllItems() override {
    name_.reset();
    link_.reset();
    return store_->DeleteAllItems();
  }
  STDMETHODIMP SetUINT32(REFGUID key, UINT32 value) override { return Write(&IMFAttributes::SetUINT32, key, value); }
  STDMETHODIMP SetUINT64(REFGUID key, UINT64 value) override { return Write(&IMFAttributes::SetUINT64, key, value); }
  STDMETHODIMP SetDouble(REFGUID key, double value) override { return Write(&IMFAttributes::SetDouble, key, value); }
  STDMETHODIMP SetGUID(REFGUID key, REFGUID value) override { return Write(&IMFAttributes::SetGUID, key, value); }
  STDMETHODIMP SetString(REFGUID key, LPCWSTR value) override { return Write(&IMFAttributes::SetString, key, value); }
  STDMETHODIMP SetBlob(REFGUID key, const UINT8* buffer, UINT32 size) override {
    return Write(&IMFAttributes::SetBlob, key, buffer, size);
  }
  STDMETHODIMP SetUnknown(REFGUID key, IUnknown* value) override {
    return Write(&IMFAttributes::SetUnknown, key, value);
  }

  // IMFAttributes: everything else as the store answers it.
  STDMETHODIMP GetItem(REFGUID key, PROPVARIANT* value) override { return store_->GetItem(key, value); }
  STDMETHODIMP GetItemType(REFGUID key, MF_ATTRIBUTE_TYPE* type) override { return store_->GetItemType(key, type); }
  STDMETHODIMP CompareItem(REFGUID key, REFPROPVARIANT value, BOOL* result) override {
    return store_->CompareItem(key, value, result);
  }
  STDMETHODIMP Compare(IMFAttributes* other, MF_ATTRIBUTES_MATCH_TYPE type, BOOL* result) override {
    return store_->Compare(other, type, result);
  }
  STDMETHODIMP GetUINT32(REFGUID key, UINT32* value) override { return store_->GetUINT32(key, value); }
  STDMETHODIMP GetUINT64(REFGUID key, UINT64* value) override { return store_->GetUINT64(key, value); }
  STDMETHODIMP GetDouble(REFGUID key, double* value) override { return store_->GetDouble(key, value); }
  STDMETHODIMP GetGUID(REFGUID key, GUID* value) override { return store_->GetGUID(key, value); }
  STDMETHODIMP GetBlobSize(REFGUID key, UINT32* size) override { return store_->GetBlobSize(key, size); }
  STDMETHODIMP GetBlob(REFGUID key, UINT8* buffer, UINT32 size, UINT32* written) override {
    return store_->GetBlob(key, buffer, size, written);
  }
  STDMETHODIMP GetAllocatedBlob(REFGUID key, UINT8** buffer, UINT32* size) override {
    return store_->GetAllocatedBlob(key, buffer, size);
  }
  STDMETHODIMP GetUnknown(REFGUID key, REFIID riid, LPVOID* object) override {
    return store_->GetUnknown(key, riid, object);
  }
  STDMETHODIMP LockStore() override { return store_->LockStore(); }
  STDMETHODIMP UnlockStore() override { return store_->UnlockStore(); }
  STDMETHODIMP GetCount(UINT32* count) override { return store_->GetCount(count); }
  STDMETHODIMP GetItemByIndex(UINT32 index, GUID* key, PROPVARIANT* value) override {
    return store_->GetItemByIndex(index, key, value);
  }
  STDMETHODIMP CopyAllItems(IMFAttributes* destination) override { return store_->CopyAllItems(destination); }

 private:
  VirtualActivate(IMFAttributes* store, const VirtualDeviceInfo& info)
      : store_(store), name_(info.friendlyName), link_(info.symbolicLink) {}
  ~VirtualActivate() = default;

  const std::wstring* Text(REFGUID key) const {
    if (IsEqualGUID(key, MF_DEVSOURCE_ATTRIBUTE_FRIENDLY_NAME)) return name_ ? &*name_ : nullptr;
    if (IsEqualGUID(key, MF_DEVSOURCE_ATTRIBUTE_SOURCE_TYPE_VIDCAP_SYMBOLIC_LINK)) return link_ ? &*link_ : nullptr;
    return nullptr;
  }
  void Forget(REFGUID key) {
    if (IsEqualGUID(key, MF_DEVSOURCE_ATTRIBUTE_FRIENDLY_NAME)) name_.reset();
    if (IsEqualGUID(key, MF_DEVSOURCE_ATTRIBUTE_SOURCE_TYPE_VIDCAP_SYMBOLIC_LINK)) link_.reset();
  }
  // Forgets the verbatim copy of the key's text, then writes to the store.
  template <typename Setter, typename... Values>
  HRESULT Write(Setter setter, REFGUID key, Values&&... values) {
    Forget(key);
    return (store_.Get()->*setter)(key, std::forward<Values>(values)...);
  }

  ComPtr<IMFAttributes> store_;
  std::optional<std::wstring> name_;
  std::optional<std::wstring> link_;
};

}  // namespace

HRESULT CreateVirtualActivate(const VirtualDeviceInfo& device, IMFActivate** activate) {
  return VirtualActivate::Create(device, activate);
}

HRESULT CreateVirtualActivateArray(const std::vector<VirtualDeviceInfo>& infos, IMFActivate*** devices, UINT32* count) {
  if (!devices || !count) return E_POINTER;
  *devices = nullptr;
  *count = 0;
  // At least one slot, so that "no devices" still hands out an array to free.
  const size_t slots = std::max<size_t>(infos.size(), 1);
  auto* array = static_cast<IMFActivate**>(CoTaskMemAlloc(slots * sizeof(IMFActivate*)));
  if (!array) return E_OUTOFMEMORY;
  std::memset(array, 0, slots * sizeof(IMFActivate*));
  for (size_t i = 0; i < infos.size(); ++i) {
    const HRESULT hr = CreateVirtualActivate(infos[i], &array[i]);
    if (FAILED(hr)) {
      for (size_t j = 0; j < i; ++j) array[j]->Release();
      CoTaskMemFree(array);
      return hr;
    }
  }
  *devices = array;
  *count = static_cast<UINT32>(infos.size());
  return S_OK;
}

}  // namespace snaplark
