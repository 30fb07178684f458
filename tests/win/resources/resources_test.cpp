// The resources linked into Snaplark.exe, read back from the file: the capture
// window's template control by control, the icon group, the version block and
// the manifest.
#include <windows.h>
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "support/wine_paths.h"

namespace snaplark::test {
namespace {

constexpr WORD kEnglishUs = MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US);

class ResourcesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    module_ = LoadLibraryExW(ProgramPath().c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE);
    ASSERT_NE(module_, nullptr) << "cannot open the executable, error " << GetLastError();
  }
  void TearDown() override {
    if (module_) FreeLibrary(module_);
  }

  // The bytes of one resource in the given language, empty if there is none.
  std::vector<std::uint8_t> Resource(LPCWSTR type, WORD id, WORD language = kEnglishUs) const {
    HRSRC info = FindResourceExW(module_, type, MAKEINTRESOURCEW(id), language);
    if (!info) return {};
    HGLOBAL loaded = LoadResource(module_, info);
    const auto* data = static_cast<const std::uint8_t*>(LockResource(loaded));
    if (!data) return {};
    return std::vector<std::uint8_t>(data, data + SizeofResource(module_, info));
  }

  HMODULE module_ = nullptr;
};

// Reads a dialog template field by field, as the dialog manager does.
class TemplateReader {
 public:
  explicit TemplateReader(const std::vector<std::uint8_t>& bytes) : bytes_(bytes) {}

  bool Overrun() const { return overrun_; }

  std::uint16_t Word() { return Read<std::uint16_t>(); }
  std::uint32_t Dword() { return Read<std::uint32_t>(); }
  std::int16_t Short() { return Read<std::int16_t>(); }
  std::uint8_t Byte() { return Read<std::uint8_t>(); }

  std::wstring String() {
    std::wstring text;
    for (std::uint16_t c = Word(); c != 0 && !overrun_; c = Word()) text += static_cast<wchar_t>(c);
    return text;
  }

  // A class or text field: empty, a string, or an ordinal (written here as "#n").
  std::wstring StringOrOrdinal() {
    const std::uint16_t first = Word();
    if (first == 0x0000) return L"";
    if (first == 0xFFFF) return L"#" + std::to_wstring(Word());
    offset_ -= 2;
    return String();
  }

  void AlignToDword() { offset_ = (offset_ + 3) & ~std::size_t{3}; }
  void Skip(std::size_t count) { offset_ += count; }

 private:
  template <typename T>
  T Read() {
    T value{};
    if (offset_ + sizeof(T) > bytes_.size()) {
      overrun_ = true;
      return value;
    }
    std::memcpy(&value, bytes_.data() + offset_, sizeof(T));
    offset_ += sizeof(T);
    return value;
  }

  const std::vector<std::uint8_t>& bytes_;
  std::size_t offset_ = 0;
  bool overrun_ = false;
};

// Resource compilers may name the predefined classes by their atoms.
std::wstring ClassName(const std::wstring& field) {
  if (field == L"#128") return L"BUTTON";
  if (field == L"#129") return L"EDIT";
  if (field == L"#130") return L"STATIC";
  if (field == L"#131") return L"LISTBOX";
  if (field == L"#132") return L"SCROLLBAR";
  if (field == L"#133") return L"COMBOBOX";
  std::wstring upper = field;
  for (wchar_t& c : upper) c = static_cast<wchar_t>(towupper(c));
  return upper;
}

struct ControlRow {
  int id;
  const wchar_t* className;
  const wchar_t* text;
  DWORD style;  // beyond WS_CHILD | WS_VISIBLE
  short x, y, w, h;
};

// The capture window's layout, in dialog units.
const ControlRow kControls[] = {
    {1011, L"STATIC", L"#201", SS_ICON, 18, 15, 22, 22},
    {1012, L"STATIC", L"Snaplark", SS_LEFT | WS_GROUP, 48, 13, 150, 14},
    {1013, L"STATIC", L"TWAIN camera bridge for Windows workstations", SS_LEFT | WS_GROUP, 48, 29, 250, 10},
    {-1, L"BUTTON", L"Camera", BS_GROUPBOX, 16, 56, 330, 286},
    {1014, L"STATIC", L"Camera source", SS_LEFT | WS_GROUP, 28, 76, 90, 10},
    {1001, L"COMBOBOX", L"", CBS_DROPDOWNLIST | WS_VSCROLL | WS_TABSTOP, 28, 92, 252, 130},
    {1009, L"BUTTON", L"Refresh", BS_PUSHBUTTON | WS_TABSTOP, 288, 91, 44, 18},
    {1015, L"STATIC", L"Live preview", SS_LEFT | WS_GROUP, 28, 122, 90, 10},
    {1002, L"STATIC", L"", SS_BLACKRECT | WS_BORDER, 28, 138, 304, 176},
    {1008, L"STATIC", L"", SS_LEFT | WS_GROUP, 28, 321, 180, 10},
    {-1, L"BUTTON", L"Capture", BS_GROUPBOX, 356, 56, 126, 208},
    {1016, L"STATIC", L"Capture hotkey", SS_LEFT | WS_GROUP, 370, 78, 90, 10},
    {1004, L"STATIC", L"F10", SS_LEFT | WS_GROUP, 370, 96, 96, 14},
    {1017, L"STATIC", L"Use the same key inside TWAIN, or globally when the tray app is running.", SS_LEFT | WS_GROUP,
     370, 116, 94, 34},
    {1003, L"BUTTON", L"Change", BS_PUSHBUTTON | WS_TABSTOP, 370, 158, 72, 20},
    {-1, L"BUTTON", L"Status", BS_GROUPBOX, 356, 272, 126, 70},
    {1007, L"STATIC", L"Ready. Press the capture key or click Scan.", SS_LEFT | WS_GROUP, 370, 292, 94, 34},
    {1010, L"BUTTON", L"Support", BS_PUSHBUTTON | WS_TABSTOP, 16, 352, 66, 22},
    {1018, L"BUTTON", L"Diagnostics", BS_PUSHBUTTON | WS_TABSTOP, 88, 352, 82, 22},
    {1005, L"BUTTON", L"Scan", BS_DEFPUSHBUTTON | WS_TABSTOP, 342, 352, 72, 22},
    {1006, L"BUTTON", L"Cancel", BS_PUSHBUTTON | WS_TABSTOP, 424, 352, 58, 22},
};

TEST_F(ResourcesTest, CaptureDialogTemplateMatchesTheLayout) {
  const std::vector<std::uint8_t> bytes = Resource(RT_DIALOG, 101);
  ASSERT_FALSE(bytes.empty()) << "no US English dialog template 101";
  TemplateReader reader(bytes);

  ASSERT_EQ(reader.Word(), 1) << "not an extended template";
  ASSERT_EQ(reader.Word(), 0xFFFF);
  reader.Dword();  // help id
  EXPECT_EQ(reader.Dword(), static_cast<DWORD>(WS_EX_DLGMODALFRAME));
  EXPECT_EQ(reader.Dword(),
            static_cast<DWORD>(WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME | DS_SETFONT | DS_FIXEDSYS));
  const std::uint16_t count = reader.Word();
  const short x = reader.Short(), y = reader.Short(), w = reader.Short(), h = reader.Short();
  EXPECT_EQ(x, 0);
  EXPECT_EQ(y, 0);
  EXPECT_EQ(w, 500);
  EXPECT_EQ(h, 382);
  EXPECT_EQ(reader.StringOrOrdinal(), L"") << "menu";
  EXPECT_EQ(reader.StringOrOrdinal(), L"") << "window class";
  EXPECT_EQ(reader.String(), L"Snaplark");
  EXPECT_EQ(reader.Word(), 9) << "point size";
  EXPECT_EQ(reader.Word(), 400) << "weight";
  EXPECT_EQ(reader.Byte(), 0) << "italic";
  reader.Byte();  // character set
  EXPECT_EQ(reader.String(), L"Segoe UI");

  ASSERT_EQ(count, std::size(kControls));
  for (const ControlRow& row : kControls) {
    SCOPED_TRACE(::testing::Message() << "control " << row.id << " \""
                                      << std::string(row.text, row.text + wcslen(row.text)) << "\"");
    reader.AlignToDword();
    reader.Dword();  // help id
    EXPECT_EQ(reader.Dword(), 0u) << "extended style";
    EXPECT_EQ(reader.Dword(), WS_CHILD | WS_VISIBLE | row.style);
    const short cx = reader.Short(), cy = reader.Short(), cw = reader.Short(), ch = reader.Short();
    EXPECT_EQ(cx, row.x);
    EXPECT_EQ(cy, row.y);
    EXPECT_EQ(cw, row.w);
    EXPECT_EQ(ch, row.h);
    EXPECT_EQ(static_cast<int>(reader.Dword()), row.id);
    EXPECT_EQ(ClassName(reader.StringOrOrdinal()), row.className);
    EXPECT_EQ(reader.StringOrOrdinal(), row.text);
    reader.Skip(reader.Word());  // creation data
  }
  EXPECT_FALSE(reader.Overrun());
}

#pragma pack(push, 2)
struct IconGroupEntry {
  BYTE width, height, colourCount, reserved;
  WORD planes, bitCount;
  DWORD bytes;
  WORD id;
};
#pragma pack(pop)

TEST_F(ResourcesTest, IconGroupHasSixImagesWithAlpha) {
  const std::vector<std::uint8_t> group = Resource(RT_GROUP_ICON, 201);
  ASSERT_GE(group.size(), 6u) << "no US English icon group 201";
  WORD header[3];
  std::memcpy(header, group.data(), sizeof(header));
  EXPECT_EQ(header[1], 1) << "not an icon group";
  ASSERT_EQ(header[2], 6);
  ASSERT_EQ(group.size(), 6 + 6 * sizeof(IconGroupEntry));

  const int sizes[] = {16, 20, 24, 32, 48, 256};
  for (int i = 0; i < 6; ++i) {
    IconGroupEntry entry;
    std::memcpy(&entry, group.data() + 6 + i * sizeof(IconGroupEntry), sizeof(entry));
    SCOPED_TRACE(::testing::Message() << sizes[i] << " px image");
    EXPECT_EQ(entry.width == 0 ? 256 : entry.width, sizes[i]);
    EXPECT_EQ(entry.height == 0 ? 256 : entry.height, sizes[i]);
    EXPECT_EQ(entry.bitCount, 32);

    std::vector<std::uint8_t> image = Resource(RT_ICON, entry.id);
    ASSERT_EQ(image.size(), entry.bytes);
    if (sizes[i] == 256) {
      const std::uint8_t png[] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
      ASSERT_GE(image.size(), sizeof(png));
      EXPECT_EQ(std::memcmp(image.data(), png, sizeof(png)), 0) << "the 256 px image must be PNG-compressed";
      continue;
    }
    BITMAPINFOHEADER info;
    ASSERT_GE(image.size(), sizeof(info));
    std::memcpy(&info, image.data(), sizeof(info));
    EXPECT_EQ(info.biBitCount, 32);
    ASSERT_EQ(info.biWidth, sizes[i]);
    ASSERT_EQ(image.size(), sizeof(info) + 4u * sizes[i] * sizes[i] + ((sizes[i] + 31) / 32) * 4 * sizes[i]);
    // A round mark: transparent corners, an opaque middle.
    const auto alpha = [&](int px, int py) { return image[sizeof(info) + 4 * (py * sizes[i] + px) + 3]; };
    EXPECT_EQ(alpha(0, 0), 0);
    EXPECT_EQ(alpha(sizes[i] / 2, sizes[i] / 2), 255);

    HICON icon = CreateIconFromResourceEx(image.data(), static_cast<DWORD>(image.size()), TRUE, 0x00030000, sizes[i],
                                          sizes[i], 0);
    EXPECT_NE(icon, nullptr) << "the system cannot make an icon of it";
    if (icon) DestroyIcon(icon);
  }
}

TEST_F(ResourcesTest, VersionBlockReadsOnePointZero) {
  const std::wstring path = ProgramPath();
  DWORD ignored = 0;
  const DWORD size = GetFileVersionInfoSizeW(path.c_str(), &ignored);
  ASSERT_GT(size, 0u) << "no version block";
  std::vector<std::uint8_t> block(size);
  ASSERT_TRUE(GetFileVersionInfoW(path.c_str(), 0, size, block.data()));

  VS_FIXEDFILEINFO* fixed = nullptr;
  UINT length = 0;
  ASSERT_TRUE(VerQueryValueW(block.data(), L"\\", reinterpret_cast<void**>(&fixed), &length));
  EXPECT_EQ(fixed->dwSignature, 0xFEEF04BDu);
  EXPECT_EQ(fixed->dwFileVersionMS, 0x00010000u);
  EXPECT_EQ(fixed->dwFileVersionLS, 0u);
  EXPECT_EQ(fixed->dwProductVersionMS, 0x00010000u);
  EXPECT_EQ(fixed->dwProductVersionLS, 0u);

  const auto text = [&](const wchar_t* name) -> std::wstring {
    wchar_t* value = nullptr;
    UINT chars = 0;
    std::wstring query = std::wstring(L"\\StringFileInfo\\040904B0\\") + name;
    if (!VerQueryValueW(block.data(), query.c_str(), reinterpret_cast<void**>(&value), &chars) || !value) return L"";
    return value;
  };
  EXPECT_EQ(text(L"ProductName"), L"Snaplark");
  EXPECT_EQ(text(L"FileVersion"), L"1.0.0.0");
  EXPECT_EQ(text(L"ProductVersion"), L"1.0.0.0");
}

TEST_F(ResourcesTest, ManifestAsksForInvokerPerMonitorDpiAndCommonControlsSix) {
  const std::vector<std::uint8_t> bytes = Resource(RT_MANIFEST, 1);
  ASSERT_FALSE(bytes.empty()) << "no application manifest";
  const std::string manifest(bytes.begin(), bytes.end());
  EXPECT_NE(manifest.find("level=\"asInvoker\""), std::string::npos);
  EXPECT_NE(manifest.find(">PerMonitorV2, PerMonitor<"), std::string::npos);
  EXPECT_NE(manifest.find(">true/pm<"), std::string::npos);
  EXPECT_NE(manifest.find("name=\"Microsoft.Windows.Common-Controls\" version=\"6.0.0.0\""), std::string::npos);

  // The loader must accept it: a manifest it cannot parse stops the program from starting.
  const std::wstring path = ProgramPath();
  ACTCTXW context = {};
  context.cbSize = sizeof(context);
  context.dwFlags = ACTCTX_FLAG_RESOURCE_NAME_VALID;
  context.lpSource = path.c_str();
  context.lpResourceName = MAKEINTRESOURCEW(1);
  HANDLE activation = CreateActCtxW(&context);
  EXPECT_NE(activation, INVALID_HANDLE_VALUE) << "error " << GetLastError();
  if (activation != INVALID_HANDLE_VALUE) ReleaseActCtx(activation);
}

}  // namespace
}  // namespace snaplark::test
