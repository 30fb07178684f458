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

void CopyRgbRowSse2(const std::uint8_t* source, std::uint8_t* out, int width);
void Nv12RowSse2(const std::uint8_t* luma, const std::uint8_t* chroma, std::uint8_t* out, int width);
void Yuy2RowSse2(const std::uint8_t* source, std::uint8_t* out, int width);

void CopyRgbRowAvx2(const std::uint8_t* source, std::uint8_t* out, int width);
void Nv12RowAvx2(const std::uint8_t* luma, const std::uint8_t* chroma, std::uint8_t* out, int width);
void Yuy2RowAvx2(const std::uint8_t* source, std::uint8_t* out, int width);

void CopyRgbRowAvx512(const std::uint8_t* source, std::uint8_t* out, int width);
void Nv12RowAvx512(const std::uint8_t* luma, const std::uint8_t* chroma, std::uint8_t* out, int width);
void Yuy2RowAvx512(const std::uint8_t* source, std::uint8_t* out, int width);

}  // namespace snaplark
