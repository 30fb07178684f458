#include "ui/capture_file.h"

#include <cwchar>

#include "camera/dib.h"
#include "product_identity.h"

namespace snaplark {
namespace {

// Two captures in one second must not overwrite each other; past this many
// the folder is not a place to keep adding to.
constexpr int MaxAttempts = 999;

}  // namespace

std::wstring CaptureFilePath(const std::wstring& folder, const LocalTime& time, int attempt) {
  wchar_t name[64];
  std::swprintf(name, 64, L"\\" SNAPLARK_PRODUCT "_Capture_%04d%02d%02d_%02d%02d%02d", time.year, time.month, time.day,
                time.hour, time.minute, time.second);
  std::wstring path = folder + name;
  if (attempt > 1) path += L"_" + std::to_wstring(attempt);
  path += L".bmp";
  return path.size() <= MaxPathLength ? path : std::wstring();
}

std::wstring SaveCaptureFile(const std::wstring& folder, const LocalTime& time, const std::uint8_t* dib,
                             std::size_t dibSize, const CaptureFileSystem& files) {
  const auto header = BmpFileHeader(dib, dibSize);
  if (!header) return {};
  const std::size_t dibBytes = DibHeaderBytes + ImageBytes(*ShapeOfDib(dib, dibSize));
  std::wstring path;
  for (int attempt = 1;; ++attempt) {
    if (attempt > MaxAttempts) return {};
    path = CaptureFilePath(folder, time, attempt);
    if (path.empty()) return {};
    const CreateOutcome outcome = files.createNew(path);
    if (outcome == CreateOutcome::Created) break;
    if (outcome == CreateOutcome::Failed) return {};
  }
  const bool written = files.write(header->data(), header->size()) && files.write(dib, dibBytes);
  files.close();
  if (written) return path;
  // A half-written picture is worse than none: it looks saved and is not.
  files.remove(path);
  return {};
}

}  // namespace snaplark
