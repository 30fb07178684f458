// Throughput of the frame conversions at common camera sizes, beside a plain
// memcpy of a frame and libyuv's closest conversions (full-range BT.601,
// written bottom-up as ours are).
//
// bytes_per_second counts the source bytes read plus the frame bytes written
// (stride * height) per frame; the libyuv rows count the same bytes as ours for
// the same layout (YUY2's intermediate planes are not counted), so rows of one
// layout compare directly. frames/s is the same measure per frame.
//
//   conversion_bench --benchmark_min_time=0.1 --benchmark_repetitions=7
//                    --benchmark_enable_random_interleaving=true --benchmark_filter='1920|3840'
#include <benchmark/benchmark.h>
#include <libyuv/convert_argb.h>
#include <libyuv/planar_functions.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "camera/frame_layout.h"
#include "camera/pixel_conversion.h"
#include "ui/preview_shrink.h"

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
    state.counters["frames/s"] =
        benchmark::Counter(static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
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

// A memcpy moving as many bytes as an NV12 conversion reads and writes
// together: half of them read, half written. The floor no conversion can beat.
void MemcpyNv12Floor(benchmark::State& state) {
  Buffers b(state, 0);
  const auto bytes =
      static_cast<std::size_t>((Nv12BytesNeeded(b.width, b.height) + RgbBytesNeeded(b.width, b.height)) / 2);
  Bytes from(bytes, 1), to(bytes);
  for (auto _ : state) {
    std::memcpy(to.data(), from.data(), bytes);
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
  bench->ArgNames({"w", "h"})
      ->Args({640, 480})
      ->Args({1280, 720})
      ->Args({1920, 1080})
      ->Args({3840, 2160})
      ->Unit(benchmark::kMicrosecond);
}

// The preview's shrink of a converted frame to the size the window shows it
// at: 264 pixels tall at 96 DPI, as wide as the frame's shape makes it.
void SnaplarkShrinkFrame(benchmark::State& state) {
  Buffers b(state, RgbBytesNeeded(static_cast<int>(state.range(0)), static_cast<int>(state.range(1))));
  const int toHeight = 264, toWidth = static_cast<int>(static_cast<std::int64_t>(b.width) * toHeight / b.height);
  std::vector<std::uint32_t> shown(static_cast<std::size_t>(toWidth) * toHeight);
  ShrinkScratch scratch;
  for (auto _ : state) {
    ShrinkFrame(b.source.data(), b.width, b.height, shown.data(), toWidth, toHeight, scratch);
    benchmark::ClobberMemory();
  }
  state.counters["frames/s"] = benchmark::Counter(static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
}

BENCHMARK(Memcpy)->Apply(CameraSizes);
BENCHMARK(MemcpyNv12Floor)->Apply(CameraSizes);
BENCHMARK(SnaplarkCopyRgbRows)->Apply(CameraSizes);
BENCHMARK(LibyuvCopyPlaneFlipped)->Apply(CameraSizes);
BENCHMARK(SnaplarkConvertNv12)->Apply(CameraSizes);
BENCHMARK(LibyuvNv12ToRgb24)->Apply(CameraSizes);
BENCHMARK(SnaplarkConvertYuy2)->Apply(CameraSizes);
BENCHMARK(LibyuvYuy2ToRgb24)->Apply(CameraSizes);
BENCHMARK(SnaplarkShrinkFrame)->Apply(CameraSizes);

// One conversion (or the shrink, which takes the conversions' set) with one
// kernel set forced, at full HD.
void RegisterForcedSets() {
  using Fn = void (*)(benchmark::State&);
  const std::pair<const char*, Fn> conversions[] = {
      {"SnaplarkCopyRgbRows", SnaplarkCopyRgbRows},
      {"SnaplarkConvertNv12", SnaplarkConvertNv12},
      {"SnaplarkConvertYuy2", SnaplarkConvertYuy2},
      {"SnaplarkShrinkFrame", SnaplarkShrinkFrame},
  };
  for (const PixelKernelSet set : {PixelKernelSet::Scalar, PixelKernelSet::Sse2, PixelKernelSet::Avx2,
                                   PixelKernelSet::Avx512, PixelKernelSet::Avx512Vbmi}) {
    if (!IsPixelKernelSetSupported(set)) continue;
    for (const auto& [name, fn] : conversions) {
      const std::string full = std::string(name) + "/" + PixelKernelSetName(set);
      benchmark::RegisterBenchmark(full.c_str(),
                                   [set, fn](benchmark::State& state) {
                                     UsePixelKernelSet(set);
                                     fn(state);
                                     UsePixelKernelSet(BestPixelKernelSet());
                                   })
          ->ArgNames({"w", "h"})
          ->Args({1920, 1080})
          ->Unit(benchmark::kMicrosecond);
    }
  }
}

// Keeps each benchmark's processor times per frame (steadier than wall time
// on a machine that other work shares), beside the usual console output, and
// gives their median: one spell of a neighbour's load moves it less than it
// moves any single run. Repetitions run in random order with
// --benchmark_enable_random_interleaving, so that a ratio's two sides meet
// the same spells.
class RecordingReporter : public benchmark::ConsoleReporter {
 public:
  std::map<std::string, double> Medians() const {
    std::map<std::string, double> medians;
    for (auto [name, times] : runs_) {
      std::sort(times.begin(), times.end());
      const std::size_t middle = times.size() / 2;
      medians[name] = times.size() % 2 ? times[middle] : (times[middle - 1] + times[middle]) / 2;
    }
    return medians;
  }

  void ReportRuns(const std::vector<Run>& runs) override {
    for (const Run& run : runs) {
      // Each repetition carries the benchmark's own name; the aggregates, suffixed ones.
      if (run.run_type == Run::RT_Iteration && !run.error_occurred) {
        runs_[run.benchmark_name()].push_back(run.GetAdjustedCPUTime());
      }
    }
    ConsoleReporter::ReportRuns(runs);
  }

 private:
  std::map<std::string, std::vector<double>> runs_;
};

void PrintTargets(const std::map<std::string, double>& us) {
  struct Target {
    const char* what;
    const char* ours;
    const char* base;
    double limit;
  };
  const Target targets[] = {
      {"ConvertNv12 / libyuv NV12ToRGB24Matrix", "SnaplarkConvertNv12", "LibyuvNv12ToRgb24", 1.0},
      {"ConvertNv12 / memcpy of (in + out) / 2", "SnaplarkConvertNv12", "MemcpyNv12Floor", 1.3},
      {"ConvertYuy2 / libyuv YUY2ToI422 + I422ToRGB24Matrix", "SnaplarkConvertYuy2", "LibyuvYuy2ToRgb24", 0.5},
      {"CopyRgbRows / memcpy of the frame", "SnaplarkCopyRgbRows", "Memcpy", 1.1},
  };
  bool all = true;
  int measured = 0;
  // Full HD fits the last-level cache of most server processors; 4K does not
  // fit any, so there the floor is the memory's own pace.
  for (const char* size : {"1920x1080", "3840x2160"}) {
    std::printf("\nSpeed targets at %s, kernel set %s (ratio of median processor times per frame):\n", size,
                PixelKernelSetName(BestPixelKernelSet()));
    std::string suffix = std::string("/w:") + size;
    suffix.replace(suffix.find('x'), 1, "/h:");
    for (const Target& t : targets) {
      const auto ours = us.find(t.ours + suffix), base = us.find(t.base + suffix);
      if (ours == us.end() || base == us.end()) {
        std::printf("  %-52s not measured (filtered out)\n", t.what);
        continue;
      }
      const double ratio = ours->second / base->second;
      const bool holds = ratio <= t.limit;
      ++measured;
      all = all && holds;
      std::printf("  %-52s %5.2f  (target <= %.1f) %s\n", t.what, ratio, t.limit, holds ? "holds" : "MISSED");
    }
  }
  if (measured > 0) std::printf("%s\n", all ? "All measured targets hold." : "Some targets are missed.");
}

}  // namespace
}  // namespace snaplark

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  snaplark::RegisterForcedSets();
  snaplark::RecordingReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  benchmark::Shutdown();
  snaplark::PrintTargets(reporter.Medians());
  return 0;
}
