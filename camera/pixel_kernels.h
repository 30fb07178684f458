#pragma once
// Vector row kernels, one set per instruction set, each in a source file of
// its own compiled for that set only. Nothing here may run before the
// dispatch in pixel_conversion.cpp has checked that the processor has the
// set. Each kernel converts whole blocks of pixels and hands the rest of the
// row (fewer pixels than one block) to the scalar kernel, so every width and
// every buffer end behaves exactly as the scalar code does: no byte is read
// or written outside what the scalar kernel reads or writes.
#include <cstdint>

#if defined(__i386__) || defined(__x86_64__) || defined(_M_IX86) || defined(_M_X64)
#define SNAPLARK_VECTOR_KERNELS 1
#else
#define SNAPLARK_VECTOR_KERNELS 0
#endif

namespace snaplark {

// The YUY2 kernels take each chroma product from the signed centred value x
// directly, without splitting off its sign first (which costs an absolute
// value and a negation per product), and with one form for all four
// coefficients: K = c * 2^14 rounded up (below 32768 for every c here, whole
// part included), and
//   T(c * x) = floor(4x * K / 65536) + (x < 0 ? 1 : 0),
// the first term being one signed "multiply high" of 16-bit lanes (4x fits
// them too). For x >= 0 the rounded-up K adds less than the gap to the next
// integer; for x < 0 it puts the product just below the exact one, so the
// floor is one less than truncation toward zero (also where the product is
// whole, 0.344 * -125), which the 1 corrects. The vector code adds it by
// subtracting x >> 15. One uniform form means no per-lane masks or whole-part
// additions.
constexpr std::int16_t QuarterChromaFactor(int thousandths) {
  return static_cast<std::int16_t>((thousandths * 16384 + 999) / 1000);
}

constexpr int QuarterChromaProduct(int thousandths, int x) {
  return ((4 * x * QuarterChromaFactor(thousandths)) >> 16) - (x >> 15);  // >> floors, as the lanes do
}

// Checked against integer division (which truncates toward zero) for every
// chroma value, here at compile time.
constexpr bool QuarterChromaProductIsExact(int thousandths) {
  for (int x = -128; x <= 127; ++x) {
    if (QuarterChromaProduct(thousandths, x) != thousandths * x / 1000) return false;
  }
  return true;
}

static_assert(QuarterChromaProductIsExact(1402) && QuarterChromaProductIsExact(344) &&
                  QuarterChromaProductIsExact(714) && QuarterChromaProductIsExact(1772),
              "the quarter-scaled form must give the truncated product for every chroma value");

void Nv12RowSse2(const std::uint8_t* luma, const std::uint8_t* chroma, std::uint8_t* out, int width);
void Yuy2RowSse2(const std::uint8_t* source, std::uint8_t* out, int width);

void Nv12RowAvx2(const std::uint8_t* luma, const std::uint8_t* chroma, std::uint8_t* out, int width);
void Nv12RowPairAvx2(const std::uint8_t* luma0, const std::uint8_t* luma1, const std::uint8_t* chroma,
                     std::uint8_t* out0, std::uint8_t* out1, int width);
void Yuy2RowAvx2(const std::uint8_t* source, std::uint8_t* out, int width);

void Nv12RowAvx512(const std::uint8_t* luma, const std::uint8_t* chroma, std::uint8_t* out, int width);
void Nv12RowPairAvx512(const std::uint8_t* luma0, const std::uint8_t* luma1, const std::uint8_t* chroma,
                       std::uint8_t* out0, std::uint8_t* out1, int width);
void Yuy2RowAvx512(const std::uint8_t* source, std::uint8_t* out, int width);
// The same, writing past the cache (for frames that do not fit it).
void Nv12RowPairPastCacheAvx512(const std::uint8_t* luma0, const std::uint8_t* luma1, const std::uint8_t* chroma,
                                std::uint8_t* out0, std::uint8_t* out1, int width);
void Yuy2RowPastCacheAvx512(const std::uint8_t* source, std::uint8_t* out, int width);

void Nv12RowAvx512Vbmi(const std::uint8_t* luma, const std::uint8_t* chroma, std::uint8_t* out, int width);
void Nv12RowPairAvx512Vbmi(const std::uint8_t* luma0, const std::uint8_t* luma1, const std::uint8_t* chroma,
                           std::uint8_t* out0, std::uint8_t* out1, int width);
void Yuy2RowAvx512Vbmi(const std::uint8_t* source, std::uint8_t* out, int width);
void Nv12RowPairPastCacheAvx512Vbmi(const std::uint8_t* luma0, const std::uint8_t* luma1, const std::uint8_t* chroma,
                                    std::uint8_t* out0, std::uint8_t* out1, int width);
void Yuy2RowPastCacheAvx512Vbmi(const std::uint8_t* source, std::uint8_t* out, int width);

}  // namespace snaplark
