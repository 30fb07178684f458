#include "twain/source_identity.h"

#include <cstring>

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
  identity.Version.MajorNum = 1;
  identity.Version.MinorNum = 0;
  identity.Version.Language = TWLG_ENGLISH_USA;
  identity.Version.Country = TWCY_USA;
  Copy(identity.Version.Info, "1.0");
  identity.ProtocolMajor = TWON_PROTOCOLMAJOR;
  identity.ProtocolMinor = TWON_PROTOCOLMINOR;
  identity.SupportedGroups = DG_CONTROL | DG_IMAGE | DF_DS2;
  Copy(identity.Manufacturer, "Tollendale");
  Copy(identity.ProductFamily, "Glimmerdock");
  Copy(identity.ProductName, "Snaplark");
  return identity;
}

}  // namespace snaplark
