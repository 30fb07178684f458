#include "twain/source_identity.h"

#include <cstring>

#include "product_identity.h"

namespace snaplark {

using namespace twain;

namespace {

template <std::size_t N>
void Copy(TW_STR32& target, const char (&text)[N]) {
  static_assert(N <= sizeof(TW_STR32));
  std::memset(target, 0, sizeof(TW_STR32));
  std::memcpy(target, text, N);
}

}  // namespace

TW_IDENTITY SourceIdentity(TW_UINT32 id) {
  TW_IDENTITY identity{};
  identity.Id = id;
  identity.Version.MajorNum = SNAPLARK_VERSION_MAJOR;
  identity.Version.MinorNum = SNAPLARK_VERSION_MINOR;
  identity.Version.Language = TWLG_ENGLISH_USA;
  identity.Version.Country = TWCY_USA;
  Copy(identity.Version.Info, SNAPLARK_TWAIN_VERSION_TEXT);
  identity.ProtocolMajor = TWON_PROTOCOLMAJOR;
  identity.ProtocolMinor = TWON_PROTOCOLMINOR;
  identity.SupportedGroups = DG_CONTROL | DG_IMAGE | DF_DS2;
  Copy(identity.Manufacturer, SNAPLARK_MAKER);
  Copy(identity.ProductFamily, SNAPLARK_FAMILY);
  Copy(identity.ProductName, SNAPLARK_PRODUCT);
  return identity;
}

}  // namespace snaplark
