// Throughput of the frame conversions at common camera sizes, beside a plain
// memcpy of a frame and libyuv's closest conversions (full-range BT.601,
// written bottom-up as ours are).
//
// bytes_per_second counts the source bytes read plus the frame bytes written
// (stride * height) per frame; the libyuv rows count the same bytes as ours for
// the same layout (YUY2's intermediate planes are not counted), so rows of one
// layout compare directly. frames/s is the same measure per frame.
//
//   conversion_bench --benchmark_min_time=0.05
#include <benchmark/benchmark.h>
#include <libyuv/convert_argb.h>
#include <libyuv/planar_functions.h>

#include <cstdint>
#include <cstring>
#include <random>
#include <vector>

#include "camera/frame_layout.h"
#include "camera/pixel_conversion.h"

namespace snaplark {
namespace {

using Bytes = std::vector<std::uint8_t>;

struct Buffers {
  int width, height, stride;
  Bytes source, frame;

  Buffers(const benchmark::State& state, std::int64_t sourceBytes)
      : width(static_cast<int>(state.range(0))),
        height(static_cast<int>(state.range(1))),
        stride(FrameStride(width)),
        source(static_cast<std::size_t>(sourceBytes)),
        frame(static_cast<std::size_t>(RgbBytesNeeded(width, height))) {
    // Noise rather than a flat picture, so clamping is exercised as in a real scene's extremes.
    std::mt19937 random(12345);
    for (auto& byte : source) byte = static_cast<std::uint8_t>(random());
  }

  void Report(benchmark::State& state) const {
    const auto perFrame = static_cast<std::int64_t>(source.size() + frame.size());
    state.SetBytesProcessed(state.iterations() * perFrame);
    state.counters["frames/s"] = benchmark::Counter(static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
  }
};

void Memcpy(benchmark::State& state) {
  Buffers b(state, 0);
  b.source.resize(b.frame.size());
  for (auto _ : state) {
    std::memcpy(b.frame.data(), b.source.data(), b.frame.size());
    benchmark::ClobberMemory();
  }
  b.Report(state);
}

void SnaplarkCopyRgbRows(benchmark::State& state) {
  Buffers b(state, RgbBytesNeeded(static_cast<int>(state.range(0)), static_cast<int>(state.range(1))));
  for (auto _ : state) {
    CopyRgbRows(b.source.data(), b.frame.data(), b.width, b.height, b.stride);
    benchmark::ClobberMemory();
  }
  b.Report(state);
}

void LibyuvCopyPlaneFlipped(benchmark::State& state) {
  Buffers b(state, RgbBytesNeeded(static_cast<int>(state.range(0)), static_cast<int>(state.range(1))));
  for (auto _ : state) {
    libyuv::CopyPlane(b.source.data(), b.stride, b.frame.data(), b.stride, 3 * b.width, -b.height);
    benchmark::ClobberMemory();
  }
  b.Report(state);
}

void SnaplarkConvertNv12(benchmark::State& state) {
  Buffers b(state, Nv12BytesNeeded(static_cast<int>(state.range(0)), static_cast<int>(state.range(1))));
  for (auto _ : state) {
    ConvertNv12(b.source.data(), b.frame.data(), b.width, b.height, b.stride);
    benchmark::ClobberMemory();
  }
  b.Report(state);
}

void LibyuvNv12ToRgb24(benchmark::State& state) {
  Buffers b(state, Nv12BytesNeeded(static_cast<int>(state.range(0)), static_cast<int>(state.range(1))));
  const std::uint8_t* chroma = b.source.data() + static_cast<std::size_t>(b.width) * b.height;
  for (auto _ : state) {
    libyuv::NV12ToRGB24Matrix(b.source.data(), b.width, chroma, b.width, b.frame.data(), b.stride,
                              &libyuv::kYuvJPEGConstants, b.width, -b.height);
    benchmark::ClobberMemory();
  }
  b.Report(state);
}

void SnaplarkConvertYuy2(benchmark::State& state) {
  Buffers b(state, Yuy2BytesNeeded(static_cast<int>(state.range(0)), static_cast<int>(state.range(1))));
  for (auto _ : state) {
    ConvertYuy2(b.source.data(), b.frame.data(), b.width, b.height, b.stride);
    benchmark::ClobberMemory();
  }
  b.Report(state);
}

// libyuv has no direct YUY2 -> 24-bit conversion with a chosen matrix: split
// into planes, then convert. The planes are allocated once, outside the loop.
void LibyuvYuy2ToRgb24(benchmark::State& state) {
  Buffers b(state, Yuy2BytesNeeded(static_cast<int>(state.range(0)), static_cast<int>(state.range(1))));
  const int chromaWidth = (b.width + 1) / 2;
  Bytes y(static_cast<std::size_t>(b.width) * b.height), u(static_cast<std::size_t>(chromaWidth) * b.height),
      v(u.size());
  for (auto _ : state) {
    libyuv::YUY2ToI422(b.source.data(), 2 * b.width, y.data(), b.width, u.data(), chromaWidth, v.data(), chromaWidth,
                       b.width, b.height);
    libyuv::I422ToRGB24Matrix(y.data(), b.width, u.data(), chromaWidth, v.data(), chromaWidth, b.frame.data(), b.stride,
                              &libyuv::kYuvJPEGConstants, b.width, -b.height);
    benchmark::ClobberMemory();
  }
  b.Report(state);
}

void CameraSizes(benchmark::internal::Benchmark* bench) {
  bench->ArgNames({"w", "h"})->Args({640, 480})->Args({1280, 720})->Args({1920, 1080})->Unit(benchmark::kMicrosecond);
}

BENCHMARK(Memcpy)->Apply(CameraSizes);
BENCHMARK(SnaplarkCopyRgbRows)->Apply(CameraSizes);
BENCHMARK(LibyuvCopyPlaneFlipped)->Apply(CameraSizes);
BENCHMARK(SnaplarkConvertNv12)->Apply(CameraSizes);
BENCHMARK(LibyuvNv12ToRgb24)->Apply(CameraSizes);
BENCHMARK(SnaplarkConvertYuy2)->Apply(CameraSizes);
BENCHMARK(LibyuvYuy2ToRgb24)->Apply(CameraSizes);

}  // namespace
}  // namespace snaplark

BENCHMARK_MAIN();
