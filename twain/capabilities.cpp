#include "twain/capabilities.h"

#include <cstdint>
#include <cstring>
#include <vector>

namespace snaplark {
namespace {

using namespace twain;

// One capability: its item type, the values it may take (raw, as they sit in
// a container's item), its default, and where its current value lives when
// the application may change it. A rule without choices or `accepts` is read
// only and answers with a one-value container; `rounds` marks a number that
// a request the camera cannot meet is rounded to, as a scanner would.
struct Rule {
  TW_UINT16 cap;
  TW_UINT16 itemType;
  std::vector<TW_UINT32> choices;  // empty: any value that `accepts`
  TW_UINT32 defaultValue;
  bool (*accepts)(TW_UINT32 raw) = nullptr;
  bool rounds = false;
};

// 96 dots per inch: the 3780 pixels per metre the picture's header carries.
constexpr TW_UINT32 Dpi96 = 96;  // TW_FIX32 {96, 0} as it reads in an item
constexpr TW_UINT16 True = 1;

bool AnyTransferCount(TW_UINT32 raw) {
  const auto count = static_cast<TW_INT16>(raw & 0xFFFF);
  return count == -1 || count > 0;
}

const std::vector<Rule>& Rules() {
  static const std::vector<Rule> rules = {
      {CAP_XFERCOUNT, TWTY_INT16, {}, 0xFFFF, AnyTransferCount},
      {CAP_UICONTROLLABLE, TWTY_BOOL, {}, True},
      {CAP_DEVICEONLINE, TWTY_BOOL, {}, True},  // a camera that cannot open fails the acquisition instead
      {CAP_INDICATORS, TWTY_BOOL, {0, True}, True},
      {ICAP_XFERMECH, TWTY_UINT16, {TWSX_NATIVE, TWSX_MEMORY}, TWSX_NATIVE},
      {ICAP_PIXELTYPE, TWTY_UINT16, {TWPT_RGB}, TWPT_RGB},
      {ICAP_BITDEPTH, TWTY_UINT16, {24}, 24, nullptr, true},
      {ICAP_UNITS, TWTY_UINT16, {TWUN_INCHES}, TWUN_INCHES},
      {ICAP_XRESOLUTION, TWTY_FIX32, {Dpi96}, Dpi96, nullptr, true},
      {ICAP_YRESOLUTION, TWTY_FIX32, {Dpi96}, Dpi96, nullptr, true},
      {ICAP_XNATIVERESOLUTION, TWTY_FIX32, {}, Dpi96},
      {ICAP_YNATIVERESOLUTION, TWTY_FIX32, {}, Dpi96},
      {ICAP_PHYSICALWIDTH, TWTY_FIX32, {}, 0},
      {ICAP_PHYSICALHEIGHT, TWTY_FIX32, {}, 0},
      {ICAP_COMPRESSION, TWTY_UINT16, {TWCP_NONE}, TWCP_NONE},
      {ICAP_PLANARCHUNKY, TWTY_UINT16, {TWPC_CHUNKY}, TWPC_CHUNKY},
      {ICAP_BITORDER, TWTY_UINT16, {TWBO_MSBFIRST}, TWBO_MSBFIRST},
      {ICAP_PIXELFLAVOR, TWTY_UINT16, {TWPF_CHOCOLATE}, TWPF_CHOCOLATE},
      {ICAP_SUPPORTEDSIZES, TWTY_UINT16, {TWSS_NONE}, TWSS_NONE},
  };
  return rules;
}

// Pixels at 96 dots per inch, in inches as a TW_FIX32 item.
TW_UINT32 InchesAt96(TW_INT32 pixels) {
  const double inches = pixels / 96.0;
  const auto whole = static_cast<TW_UINT16>(static_cast<TW_INT16>(inches));
  const auto fraction = static_cast<TW_UINT16>((inches - static_cast<TW_INT16>(inches)) * 65536.0 + 0.5);
  return whole | static_cast<TW_UINT32>(fraction) << 16;
}

const Rule* FindRule(TW_UINT16 cap) {
  for (const Rule& rule : Rules()) {
    if (rule.cap == cap) return &rule;
  }
  return nullptr;
}

bool ReadOnly(const Rule& rule) { return !rule.accepts && rule.choices.empty(); }

void StoreCurrent(TW_UINT16 cap, CapabilityValues& values, TW_UINT32 raw) {
  switch (cap) {
    case ICAP_XFERMECH:
      values.transferMechanism = static_cast<TW_UINT16>(raw);
      break;
    case CAP_XFERCOUNT:
      values.transferCount = static_cast<TW_INT16>(raw & 0xFFFF);
      break;
    case CAP_INDICATORS:
      values.indicators = static_cast<TW_BOOL>(raw ? 1 : 0);
      break;
    default:
      break;
  }
}

// The value the application set, or the fixed one of a capability it cannot change.
TW_UINT32 CurrentValue(const Rule& rule, const CapabilityValues& values) {
  switch (rule.cap) {
    case ICAP_XFERMECH:
      return values.transferMechanism;
    case CAP_XFERCOUNT:
      return static_cast<TW_UINT16>(values.transferCount);
    case CAP_INDICATORS:
      return values.indicators;
    case ICAP_PHYSICALWIDTH:
      return InchesAt96(values.frameWidth);
    case ICAP_PHYSICALHEIGHT:
      return InchesAt96(values.frameHeight);
    default:
      return rule.defaultValue;
  }
}

std::size_t ItemSize(TW_UINT16 itemType) {
  return itemType == TWTY_INT32 || itemType == TWTY_UINT32 || itemType == TWTY_FIX32 ? 4 : 2;
}

// The raw value narrowed to the item's width, as an application may leave
// the upper half of a 16-bit item's slot unset.
TW_UINT32 Narrow(TW_UINT16 itemType, TW_UINT32 raw) { return ItemSize(itemType) == 2 ? raw & 0xFFFF : raw; }

void WriteItem(TW_UINT8* at, TW_UINT16 itemType, TW_UINT32 raw) {
  if (ItemSize(itemType) == 2) {
    const auto narrow = static_cast<TW_UINT16>(raw);
    std::memcpy(at, &narrow, 2);
  } else {
    std::memcpy(at, &raw, 4);
  }
}

// Allocates a container of `bytes`, lets `fill` write it, and hands it over.
template <typename Fill>
TwainAnswer Hand(TW_CAPABILITY& capability, const ManagerLink& memory, TW_UINT16 conType, std::size_t bytes,
                 Fill fill) {
  HANDLE block = memory.Allocate(static_cast<TW_UINT32>(bytes));
  if (!block) return {TWRC_FAILURE, TWCC_LOWMEMORY};
  {
    const LockedBlock locked(memory, block);
    if (!locked.As<TW_UINT8>()) {
      memory.Free(block);
      return {TWRC_FAILURE, TWCC_LOWMEMORY};
    }
    fill(locked.As<TW_UINT8>());
  }
  capability.ConType = conType;
  capability.hContainer = block;
  return {};
}

TwainAnswer HandOneValue(TW_CAPABILITY& capability, const ManagerLink& memory, TW_UINT16 itemType, TW_UINT32 raw) {
  return Hand(capability, memory, TWON_ONEVALUE, sizeof(TW_ONEVALUE), [&](TW_UINT8* at) {
    auto* one = reinterpret_cast<TW_ONEVALUE*>(at);
    one->ItemType = itemType;
    one->Item = 0;
    WriteItem(reinterpret_cast<TW_UINT8*>(&one->Item), itemType, raw);
  });
}

TwainAnswer HandEnumeration(TW_CAPABILITY& capability, const ManagerLink& memory, const Rule& rule, TW_UINT32 current) {
  const std::size_t size = ItemSize(rule.itemType);
  const std::size_t bytes = offsetof(TW_ENUMERATION, ItemList) + size * rule.choices.size();
  return Hand(capability, memory, TWON_ENUMERATION, bytes, [&](TW_UINT8* at) {
    auto* list = reinterpret_cast<TW_ENUMERATION*>(at);
    list->ItemType = rule.itemType;
    list->NumItems = static_cast<TW_UINT32>(rule.choices.size());
    list->CurrentIndex = 0;
    list->DefaultIndex = 0;
    for (std::size_t i = 0; i < rule.choices.size(); ++i) {
      if (rule.choices[i] == current) list->CurrentIndex = static_cast<TW_UINT32>(i);
      if (rule.choices[i] == rule.defaultValue) list->DefaultIndex = static_cast<TW_UINT32>(i);
      WriteItem(at + offsetof(TW_ENUMERATION, ItemList) + i * size, rule.itemType, rule.choices[i]);
    }
  });
}

template <typename Item>
TwainAnswer HandArray(TW_CAPABILITY& capability, const ManagerLink& memory, TW_UINT16 itemType,
                      const std::vector<Item>& items) {
  const std::size_t bytes = offsetof(TW_ARRAY, ItemList) + sizeof(Item) * items.size();
  return Hand(capability, memory, TWON_ARRAY, bytes, [&](TW_UINT8* at) {
    auto* array = reinterpret_cast<TW_ARRAY*>(at);
    array->ItemType = itemType;
    array->NumItems = static_cast<TW_UINT32>(items.size());
    std::memcpy(at + offsetof(TW_ARRAY, ItemList), items.data(), sizeof(Item) * items.size());
  });
}

TwainAnswer HandSupportedCaps(TW_CAPABILITY& capability, const ManagerLink& memory) {
  std::vector<TW_UINT16> caps{CAP_SUPPORTEDCAPS, CAP_SUPPORTEDDATS};
  for (const Rule& rule : Rules()) caps.push_back(rule.cap);
  return HandArray(capability, memory, TWTY_UINT16, caps);
}

TwainAnswer HandQuerySupport(TW_CAPABILITY& capability, const ManagerLink& memory, bool settable) {
  TW_INT32 operations = TWQC_GET | TWQC_GETCURRENT | TWQC_GETDEFAULT;
  if (settable) operations |= TWQC_SET | TWQC_RESET;
  return HandOneValue(capability, memory, TWTY_INT32, static_cast<TW_UINT32>(operations));
}

// The width in bits of an integer item type; 0 for any other.
int IntegerBits(TW_UINT16 itemType) {
  switch (itemType) {
    case TWTY_INT8:
    case TWTY_UINT8:
      return 8;
    case TWTY_INT16:
    case TWTY_UINT16:
    case TWTY_BOOL:
      return 16;
    case TWTY_INT32:
    case TWTY_UINT32:
      return 32;
    default:
      return 0;
  }
}

bool Fits(TW_UINT16 itemType, std::int64_t value) {
  switch (itemType) {
    case TWTY_INT16:
      return value >= INT16_MIN && value <= INT16_MAX;
    case TWTY_UINT16:
    case TWTY_BOOL:
      return value >= 0 && value <= UINT16_MAX;
    case TWTY_INT32:
      return value >= INT32_MIN && value <= INT32_MAX;
    case TWTY_UINT32:
      return value >= 0 && value <= UINT32_MAX;
    default:
      return false;
  }
}

// An integer item of another integer type as one of `itemType`: its bits
// read signed or unsigned (applications mix the two for -1), whichever fits.
bool Converted(TW_UINT16 from, TW_UINT32 item, TW_UINT16 itemType, TW_UINT32& raw) {
  const int bits = IntegerBits(from);
  if (bits == 0 || IntegerBits(itemType) == 0) return false;
  const std::uint64_t mask = (std::uint64_t{1} << bits) - 1;
  const auto asUnsigned = static_cast<std::int64_t>(item & mask);
  const std::int64_t asSigned =
      asUnsigned >> (bits - 1) ? asUnsigned - static_cast<std::int64_t>(mask) - 1 : asUnsigned;
  for (const std::int64_t value : {asSigned, asUnsigned}) {
    if (!Fits(itemType, value)) continue;
    raw = Narrow(itemType, static_cast<TW_UINT32>(value));
    return true;
  }
  return false;
}

// The value an application's one-value container asks for, as the raw item
// of the capability's own type; false when the container is of another kind,
// or its value cannot be one of that type. Integers may come as any integer
// type (many applications send CAP_XFERCOUNT as a 32-bit one).
bool ReadRequested(const TW_CAPABILITY& capability, const ManagerLink& memory, const Rule& rule, TW_UINT32& raw) {
  if (capability.ConType != TWON_ONEVALUE || !capability.hContainer) return false;
  const LockedBlock locked(memory, capability.hContainer);
  const auto* one = locked.As<TW_ONEVALUE>();
  if (!one) return false;
  if (one->ItemType == rule.itemType) {
    raw = Narrow(rule.itemType, one->Item);
    return true;
  }
  return Converted(one->ItemType, one->Item, rule.itemType, raw);
}

bool Allowed(const Rule& rule, TW_UINT32 raw) {
  if (rule.accepts) return rule.accepts(raw);
  for (TW_UINT32 choice : rule.choices) {
    if (choice == raw) return true;
  }
  return false;
}

TwainAnswer Set(TW_CAPABILITY& capability, CapabilityValues& values, const ManagerLink& memory, const Rule& rule) {
  TW_UINT32 raw = 0;
  if (!ReadRequested(capability, memory, rule, raw)) return {TWRC_FAILURE, TWCC_BADVALUE};
  if (!Allowed(rule, raw)) {
    // A number the camera cannot meet becomes its nearest own value, which
    // the application reads back; any other value is refused.
    if (rule.rounds) return {TWRC_CHECKSTATUS, TWCC_SUCCESS};
    return {TWRC_FAILURE, TWCC_BADVALUE};
  }
  StoreCurrent(rule.cap, values, raw);
  return {};
}

TwainAnswer Get(TW_UINT16 message, TW_CAPABILITY& capability, CapabilityValues& values, const ManagerLink& memory,
                const Rule& rule) {
  const TW_UINT32 value = message == MSG_GETDEFAULT ? rule.defaultValue : CurrentValue(rule, values);
  if (message == MSG_GET && !rule.choices.empty()) return HandEnumeration(capability, memory, rule, value);
  return HandOneValue(capability, memory, rule.itemType, value);
}

}  // namespace

bool NeedsFrameSize(TW_UINT16 cap) { return cap == ICAP_PHYSICALWIDTH || cap == ICAP_PHYSICALHEIGHT; }

const std::vector<TW_UINT32>& SupportedTriplets() {
  static const std::vector<TW_UINT32> triplets = {
      DG_CONTROL << 16 | DAT_CAPABILITY,    DG_CONTROL << 16 | DAT_EVENT,         DG_CONTROL << 16 | DAT_IDENTITY,
      DG_CONTROL << 16 | DAT_PENDINGXFERS,  DG_CONTROL << 16 | DAT_SETUPMEMXFER,  DG_CONTROL << 16 | DAT_STATUS,
      DG_CONTROL << 16 | DAT_USERINTERFACE, DG_CONTROL << 16 | DAT_XFERGROUP,     DG_CONTROL << 16 | DAT_STATUSUTF8,
      DG_CONTROL << 16 | DAT_ENTRYPOINT,    DG_IMAGE << 16 | DAT_IMAGEINFO,       DG_IMAGE << 16 | DAT_IMAGELAYOUT,
      DG_IMAGE << 16 | DAT_IMAGEMEMXFER,    DG_IMAGE << 16 | DAT_IMAGENATIVEXFER,
  };
  return triplets;
}

TwainAnswer AnswerCapability(TW_UINT16 message, TW_CAPABILITY& capability, CapabilityValues& values,
                             const ManagerLink& memory, bool negotiable, bool legacyApplication) {
  const bool changes = message == MSG_SET || message == MSG_RESET;
  const bool reads = message == MSG_GET || message == MSG_GETCURRENT || message == MSG_GETDEFAULT;
  if (!changes && !reads && message != MSG_QUERYSUPPORT) {
    return {TWRC_FAILURE, legacyApplication ? TWCC_BADPROTOCOL : TWCC_CAPBADOPERATION};
  }
  if (changes && !negotiable) return {TWRC_FAILURE, TWCC_SEQERROR};

  const TwainAnswer readOnly{TWRC_FAILURE, legacyApplication ? TWCC_BADVALUE : TWCC_CAPBADOPERATION};
  if (capability.Cap == CAP_SUPPORTEDCAPS || capability.Cap == CAP_SUPPORTEDDATS) {
    if (message == MSG_QUERYSUPPORT) return HandQuerySupport(capability, memory, false);
    if (changes) return readOnly;
    if (capability.Cap == CAP_SUPPORTEDDATS) return HandArray(capability, memory, TWTY_UINT32, SupportedTriplets());
    return HandSupportedCaps(capability, memory);
  }
  const Rule* rule = FindRule(capability.Cap);
  if (!rule) return {TWRC_FAILURE, legacyApplication ? TWCC_BADCAP : TWCC_CAPUNSUPPORTED};
  if (message == MSG_QUERYSUPPORT) return HandQuerySupport(capability, memory, !ReadOnly(*rule));
  if (changes && ReadOnly(*rule)) return readOnly;

  if (message == MSG_SET) {
    // The application's container stays the application's.
    return Set(capability, values, memory, *rule);
  }
  if (message == MSG_RESET) StoreCurrent(rule->cap, values, rule->defaultValue);
  return Get(message == MSG_RESET ? MSG_GETCURRENT : message, capability, values, memory, *rule);
}

}  // namespace snaplark
