#include "ui/capture_file.h"

#include <cstring>
#include <cwchar>

namespace snaplark {
namespace {

// Two captures in one second must not overwrite each other; past this many
// the folder is not a place to keep adding to.
constexpr int MaxAttempts = 999;

std::uint32_t ReadLittleEndian32(const std::uint8_t* at) {
  return static_cast<std::uint32_t>(at[0]) | static_cast<std::uint32_t>(at[1]) << 8 |
         static_cast<std::uint32_t>(at[2]) << 16 | static_cast<std::uint32_t>(at[3]) << 24;
}

void WriteLittleEndian32(std::uint8_t* at, std::uint32_t value) {
  for (int i = 0; i < 4; ++i) at[i] = static_cast<std::uint8_t>(value >> (8 * i));
}

// The header's own size and the image size, when the block holds both.
std::optional<std::size_t> DibBytes(const std::uint8_t* dib, std::size_t dibSize) {
  if (!dib || dibSize < 24) return std::nullopt;
  const std::uint64_t total = std::uint64_t{ReadLittleEndian32(dib)} + ReadLittleEndian32(dib + 20);
  if (total > dibSize || total + 14 > 0xFFFFFFFFu) return std::nullopt;
  return static_cast<std::size_t>(total);
}

}  // namespace

std::wstring CaptureFilePath(const std::wstring& folder, const LocalTime& time, int attempt) {
  wchar_t name[64];
  std::swprintf(name, 64, L"\\Snaplark_Capture_%04d%02d%02d_%02d%02d%02d", time.year, time.month, time.day,
                time.hour, time.minute, time.second);
  std::wstring path = folder + name;
  if (attempt > 1) path += L"_" + std::to_wstring(attempt);
  path += L".bmp";
  return path.size() <= MaxPathLength ? path : std::wstring();
}

std::optional<std::array<std::uint8_t, 14>> BmpFileHeader(const std::uint8_t* dib, std::size_t dibSize) {
  const std::optional<std::size_t> bytes = DibBytes(dib, dibSize);
  if (!bytes) return std::nullopt;
  std::array<std::uint8_t, 14> header{};
  header[0] = 'B';
  header[1] = 'M';
  WriteLittleEndian32(&header[2], static_cast<std::uint32_t>(14 + *bytes));
  WriteLittleEndian32(&header[10], 14 + ReadLittleEndian32(dib));
  return header;
}

std::wstring SaveCaptureFile(const std::wstring& folder, const LocalTime& time, const std::uint8_t* dib,
                             std::size_t dibSize, const CaptureFileSystem& files) {
  const auto header = BmpFileHeader(dib, dibSize);
  if (!header) return {};
  std::wstring path;
  for (int attempt = 1;; ++attempt) {
    if (attempt > MaxAttempts) return {};
    path = CaptureFilePath(folder, time, attempt);
    if (path.empty()) return {};
    const CreateOutcome outcome = files.createNew(path);
    if (outcome == CreateOutcome::Created) break;
    if (outcome == CreateOutcome::Failed) return {};
  }
  const bool written = files.write(header->data(), header->size()) && files.write(dib, *DibBytes(dib, dibSize));
  files.close();
  if (written) return path;
  // A half-written picture is worse than none: it looks saved and is not.
  files.remove(path);
  return {};
}

}  // namespace snaplark
