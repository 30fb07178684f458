#pragma once
// The four chroma products of the YUV conversion in a form that vector code
// can compute without division: T(c * v), the product with a three-decimal
// coefficient c truncated toward zero, for every v in -128..127.
//
// Truncation toward zero is symmetric, so the product is taken on |v|
// (0..128) and the sign put back afterwards. On |v| the truncation is a
// floor, and floor(f * m / 1000) for the fractional thousandths f equals
// (m * M) >> 16 with M = ceil(f * 65536 / 1000) for every m up to 128: the
// rounding-up of M adds less than 128 / 65536 to the product, which never
// reaches the next integer because the exact fraction is a multiple of
// 1/1000 and at most 0.999 (the tests check every input). Every operand fits
// an unsigned 16-bit lane, so one "multiply high" per product suffices.
#include <cstdint>

namespace snaplark {

struct ChromaCoefficient {
  int whole;               // integer part of c
  std::uint16_t fraction;  // fractional part, in 1/65536, rounded up
};

constexpr ChromaCoefficient MakeChromaCoefficient(int thousandths) {
  return {thousandths / 1000, static_cast<std::uint16_t>(((thousandths % 1000) * 65536 + 999) / 1000)};
}

inline constexpr ChromaCoefficient RedFromVFixed = MakeChromaCoefficient(1402);
inline constexpr ChromaCoefficient GreenFromUFixed = MakeChromaCoefficient(344);
inline constexpr ChromaCoefficient GreenFromVFixed = MakeChromaCoefficient(714);
inline constexpr ChromaCoefficient BlueFromUFixed = MakeChromaCoefficient(1772);

// What every vector lane computes, written out for one value.
constexpr int TruncatedProduct(ChromaCoefficient c, int centred) {
  const int sign = centred < 0 ? -1 : 0;  // all ones when negative, as an arithmetic shift gives
  const int magnitude = (centred ^ sign) - sign;
  const int product = c.whole * magnitude + ((magnitude * c.fraction) >> 16);
  return (product ^ sign) - sign;
}

}  // namespace snaplark
