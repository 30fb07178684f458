#include "camera/pixel_conversion.h"

#include <array>
#include <atomic>
#include <cstring>

#include "camera/cpu_features.h"
#include "camera/pixel_kernels.h"

namespace snaplark {
namespace {

// One table per coefficient, indexed by the raw chroma byte. Integer division
// truncates toward zero, which is exactly the per-product truncation the
// conversion needs (T(-0.344 * 38) is -13, not -14), and no float is involved.
constexpr std::array<std::int16_t, 256> ChromaTable(int thousandths) {
  std::array<std::int16_t, 256> table{};
  for (int c = 0; c < 256; ++c) table[c] = static_cast<std::int16_t>(thousandths * (c - 128) / 1000);
  return table;
}

constexpr auto RedFromV = ChromaTable(1402);
constexpr auto GreenFromU = ChromaTable(344);
constexpr auto GreenFromV = ChromaTable(714);
constexpr auto BlueFromU = ChromaTable(1772);

static_assert(BlueFromU[90] == -67 && GreenFromU[90] == -13, "products must truncate toward zero");

inline std::uint8_t Clamp255(int value) {
  return static_cast<std::uint8_t>(value < 0 ? 0 : (value > 255 ? 255 : value));
}

// The chroma part of one pixel, shared by the pixels of one U, V pair.
struct ChromaOffsets {
  int blue;
  int green;
  int red;
};

inline ChromaOffsets OffsetsFor(std::uint8_t u, std::uint8_t v) {
  return {BlueFromU[u], -GreenFromU[u] - GreenFromV[v], RedFromV[v]};
}

inline void StorePixel(std::uint8_t* out, int luma, const ChromaOffsets& c) {
  out[0] = Clamp255(luma + c.blue);
  out[1] = Clamp255(luma + c.green);
  out[2] = Clamp255(luma + c.red);
}

// Output row that receives source row y (top = 0): the picture is stored
// bottom-up, so the top row is the last one in memory.
inline std::uint8_t* OutputRow(std::uint8_t* pixels, int height, int y, int stride) {
  return pixels + static_cast<std::ptrdiff_t>(height - 1 - y) * stride;
}

// Rows are addressed from the top row each time rather than by stepping a
// pointer, so a negative pitch never forms a pointer before the buffer.
inline const std::uint8_t* SourceRow(const std::uint8_t* top, std::ptrdiff_t pitch, int y) {
  return top + static_cast<std::ptrdiff_t>(y) * pitch;
}

// The dispatch table: one row of kernels per instruction set, in the order
// of PixelKernelSet. Every set copies RGB rows with the C library's memcpy,
// which is tuned for each processor: vector copies of our own were 10 to 15 %
// slower than it on AMD EPYC and only level with it on Intel.
// A pair of rows as two single rows, for the sets whose arithmetic gains
// nothing from sharing the chroma.
template <Nv12RowKernel Row>
void Nv12RowsOneByOne(const std::uint8_t* luma0, const std::uint8_t* luma1, const std::uint8_t* chroma,
                      std::uint8_t* out0, std::uint8_t* out1, int width) {
  Row(luma0, chroma, out0, width);
  Row(luma1, chroma, out1, width);
}

constexpr PixelRowKernels KernelSets[] = {
    {CopyRgbRowScalar, Nv12RowScalar, Nv12RowsOneByOne<Nv12RowScalar>, Yuy2RowScalar, Nv12RowsOneByOne<Nv12RowScalar>,
     Yuy2RowScalar},
#if SNAPLARK_VECTOR_KERNELS
    {CopyRgbRowScalar, Nv12RowSse2, Nv12RowsOneByOne<Nv12RowSse2>, Yuy2RowSse2, Nv12RowsOneByOne<Nv12RowSse2>,
     Yuy2RowSse2},
    {CopyRgbRowScalar, Nv12RowAvx2, Nv12RowPairAvx2, Yuy2RowAvx2, Nv12RowPairAvx2, Yuy2RowAvx2},
    {CopyRgbRowScalar, Nv12RowAvx512, Nv12RowPairAvx512, Yuy2RowAvx512, Nv12RowPairPastCacheAvx512,
     Yuy2RowPastCacheAvx512},
    {CopyRgbRowScalar, Nv12RowAvx512Vbmi, Nv12RowPairAvx512Vbmi, Yuy2RowAvx512Vbmi, Nv12RowPairPastCacheAvx512Vbmi,
     Yuy2RowPastCacheAvx512Vbmi},
#endif
};

// Whether a conversion that reads `sourceBytes` and writes `pixelBytes`
// should write past the cache. An ordinary store first reads its line in;
// when the frame cannot stay in the cache anyway, that read is wasted
// memory time (at 4K on AMD EPYC, a third of the conversion). The cache
// counted on is the last level's, but never more than 32 MB, the most that
// one core has to itself on processors of today: virtual machines report
// the whole socket's (half a gigabyte on ours).
bool WritesPastCache(std::size_t sourceBytes, std::size_t pixelBytes) {
  constexpr std::size_t Cap = std::size_t{32} << 20;
  const std::size_t reported = DetectedCpuFeatures().lastLevelCacheBytes;
  const std::size_t cache = reported != 0 && reported < Cap ? reported : Cap;
  return sourceBytes + pixelBytes > cache;
}

std::size_t PixelBytes(int height, int stride) {
  return static_cast<std::size_t>(height) * static_cast<std::size_t>(stride);
}

std::atomic<const PixelRowKernels*>& ActiveSlot() {
  static std::atomic<const PixelRowKernels*> slot{&KernelSets[static_cast<int>(BestPixelKernelSet())]};
  return slot;
}

}  // namespace

const char* PixelKernelSetName(PixelKernelSet set) {
  switch (set) {
    case PixelKernelSet::Scalar:
      return "scalar";
    case PixelKernelSet::Sse2:
      return "sse2";
    case PixelKernelSet::Avx2:
      return "avx2";
    case PixelKernelSet::Avx512:
      return "avx512";
    case PixelKernelSet::Avx512Vbmi:
      return "avx512vbmi";
  }
  return "?";
}

bool IsPixelKernelSetSupported(PixelKernelSet set) {
  const CpuFeatures& cpu = DetectedCpuFeatures();
  switch (set) {
    case PixelKernelSet::Scalar:
      return true;
#if SNAPLARK_VECTOR_KERNELS
    case PixelKernelSet::Sse2:
      return cpu.sse2;
    case PixelKernelSet::Avx2:
      return cpu.avx2;
    case PixelKernelSet::Avx512:
      return cpu.avx512bw;
    case PixelKernelSet::Avx512Vbmi:
      return cpu.avx512vbmi;
#endif
    default:
      (void)cpu;
      return false;
  }
}

PixelKernelSet BestPixelKernelSet() {
  for (const PixelKernelSet set :
       {PixelKernelSet::Avx512Vbmi, PixelKernelSet::Avx512, PixelKernelSet::Avx2, PixelKernelSet::Sse2}) {
    if (IsPixelKernelSetSupported(set)) return set;
  }
  return PixelKernelSet::Scalar;
}

PixelKernelSet ActivePixelKernelSet() {
  return static_cast<PixelKernelSet>(ActiveSlot().load(std::memory_order_relaxed) - KernelSets);
}

bool UsePixelKernelSet(PixelKernelSet set) {
  if (!IsPixelKernelSetSupported(set)) return false;
  ActiveSlot().store(&KernelSets[static_cast<int>(set)], std::memory_order_relaxed);
  return true;
}

void CopyRgbRowScalar(const std::uint8_t* source, std::uint8_t* out, int width) {
  std::memcpy(out, source, static_cast<std::size_t>(width) * 3);
}

void Nv12RowScalar(const std::uint8_t* luma, const std::uint8_t* chroma, std::uint8_t* out, int width) {
  int x = 0;
  for (; x + 1 < width; x += 2) {
    const ChromaOffsets c = OffsetsFor(chroma[x], chroma[x + 1]);
    StorePixel(out + 3 * x, luma[x], c);
    StorePixel(out + 3 * x + 3, luma[x + 1], c);
  }
  if (x < width) {
    // Odd width: the last pixel still has a whole pair of its own.
    StorePixel(out + 3 * x, luma[x], OffsetsFor(chroma[x], chroma[x + 1]));
  }
}

void Yuy2RowScalar(const std::uint8_t* source, std::uint8_t* out, int width) {
  int x = 0;
  for (; x + 1 < width; x += 2, source += 4) {
    const ChromaOffsets c = OffsetsFor(source[1], source[3]);
    StorePixel(out + 3 * x, source[0], c);
    StorePixel(out + 3 * x + 3, source[2], c);
  }
  if (x < width) StorePixel(out + 3 * x, source[0], OffsetsFor(source[1], source[3]));
}

const PixelRowKernels& ActivePixelRowKernels() { return *ActiveSlot().load(std::memory_order_relaxed); }

void CopyRgbRowsPitched(const std::uint8_t* topRow, std::ptrdiff_t sourcePitch, std::uint8_t* pixels, int width,
                        int height, int stride) {
  if (width < 1 || height < 1) return;
  const RgbRowKernel row = ActivePixelRowKernels().rgb;
  for (int y = 0; y < height; ++y) row(SourceRow(topRow, sourcePitch, y), OutputRow(pixels, height, y, stride), width);
}

void ConvertNv12Pitched(const std::uint8_t* luma, std::ptrdiff_t lumaPitch, const std::uint8_t* chroma,
                        std::ptrdiff_t chromaPitch, std::uint8_t* pixels, int width, int height, int stride) {
  if (width < 1 || height < 1) return;
  const PixelRowKernels& kernels = ActivePixelRowKernels();
  const std::size_t lumaBytes = static_cast<std::size_t>(width) * static_cast<std::size_t>(height);
  const Nv12RowPairKernel pair = WritesPastCache(lumaBytes + lumaBytes / 2, PixelBytes(height, stride))
                                     ? kernels.nv12PairPastCache
                                     : kernels.nv12Pair;
  int y = 0;
  for (; y + 1 < height; y += 2) {
    pair(SourceRow(luma, lumaPitch, y), SourceRow(luma, lumaPitch, y + 1), SourceRow(chroma, chromaPitch, y / 2),
         OutputRow(pixels, height, y, stride), OutputRow(pixels, height, y + 1, stride), width);
  }
  // An odd height's last row has a chroma row of its own.
  if (y < height) {
    kernels.nv12(SourceRow(luma, lumaPitch, y), SourceRow(chroma, chromaPitch, y / 2),
                 OutputRow(pixels, height, y, stride), width);
  }
}

void ConvertYuy2Pitched(const std::uint8_t* source, std::ptrdiff_t sourcePitch, std::uint8_t* pixels, int width,
                        int height, int stride) {
  if (width < 1 || height < 1) return;
  const PixelRowKernels& kernels = ActivePixelRowKernels();
  const std::size_t sourceBytes = 2 * static_cast<std::size_t>(width) * static_cast<std::size_t>(height);
  const Yuy2RowKernel row =
      WritesPastCache(sourceBytes, PixelBytes(height, stride)) ? kernels.yuy2PastCache : kernels.yuy2;
  for (int y = 0; y < height; ++y) row(SourceRow(source, sourcePitch, y), OutputRow(pixels, height, y, stride), width);
}

void CopyRgbRows(const std::uint8_t* source, std::uint8_t* pixels, int width, int height, int stride) {
  CopyRgbRowsPitched(source, stride, pixels, width, height, stride);
}

void ConvertNv12(const std::uint8_t* source, std::uint8_t* pixels, int width, int height, int stride) {
  if (width < 1 || height < 1) return;
  const std::ptrdiff_t lumaBytes = static_cast<std::ptrdiff_t>(width) * height;
  ConvertNv12Pitched(source, width, source + lumaBytes, width, pixels, width, height, stride);
}

void ConvertYuy2(const std::uint8_t* source, std::uint8_t* pixels, int width, int height, int stride) {
  ConvertYuy2Pitched(source, static_cast<std::ptrdiff_t>(width) * 2, pixels, width, height, stride);
}

}  // namespace snaplark
