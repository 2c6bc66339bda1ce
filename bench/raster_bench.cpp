// Lock-bits throughput on a 6000 x 4000 image, against memcpy of the same bytes.
//
// Prints Mpixel/s for each case and, at the end, each case's time relative to
// the memcpy baseline (lower is better; the 32bppARGB lock aims at <= 1.3).
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstring>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "raster/image.h"

namespace {

using namespace korvex::raster;

constexpr int32_t kW = 6000;
constexpr int32_t kH = 4000;

std::unique_ptr<Image> make_image(PixelFormat f) {
  std::unique_ptr<Image> img;
  Image::create(kW, kH, f, img);
  // Touch every byte once so page faults stay out of the timings.
  Surface& s = img->surface();
  for (int32_t y = 0; y < kH; ++y) std::memset(s.row(y), y & 0xFF, static_cast<size_t>(s.stride));
  return img;
}

std::vector<uint8_t> make_buffer() { return std::vector<uint8_t>(size_t{kW} * kH * 4, 1); }

void set_rate(benchmark::State& state) {
  state.counters["Mpixel/s"] = benchmark::Counter(
      static_cast<double>(state.iterations()) * kW * kH / 1e6, benchmark::Counter::kIsRate);
}

// Baseline: the same bytes copied out and back in.
void BM_MemcpyReadWrite(benchmark::State& state) {
  auto img = make_image(pf::k32bppARGB);
  auto buf = make_buffer();
  uint8_t* pixels = img->surface().scan0;
  for (auto _ : state) {
    std::memcpy(buf.data(), pixels, buf.size());
    benchmark::ClobberMemory();
    std::memcpy(pixels, buf.data(), buf.size());
    benchmark::ClobberMemory();
  }
  set_rate(state);
}

void BM_Lock32bppARGBReadWrite(benchmark::State& state) {
  auto img = make_image(pf::k32bppARGB);
  auto buf = make_buffer();
  const Rect all{0, 0, kW, kH};
  for (auto _ : state) {
    img->read_pixels(all, pf::k32bppARGB, buf.data(), kW * 4);
    benchmark::ClobberMemory();
    img->write_pixels(all, pf::k32bppARGB, buf.data(), kW * 4);
    benchmark::ClobberMemory();
  }
  set_rate(state);
}

void BM_Read24bppAs32bppARGB(benchmark::State& state) {
  auto img = make_image(pf::k24bppRGB);
  auto buf = make_buffer();
  const Rect all{0, 0, kW, kH};
  for (auto _ : state) {
    img->read_pixels(all, pf::k32bppARGB, buf.data(), kW * 4);
    benchmark::ClobberMemory();
  }
  set_rate(state);
}

void BM_Write32bppARGBInto24bpp(benchmark::State& state) {
  auto img = make_image(pf::k24bppRGB);
  auto buf = make_buffer();
  const Rect all{0, 0, kW, kH};
  for (auto _ : state) {
    img->write_pixels(all, pf::k32bppARGB, buf.data(), kW * 4);
    benchmark::ClobberMemory();
  }
  set_rate(state);
}

void BM_Memcpy24bpp(benchmark::State& state) {
  auto img = make_image(pf::k24bppRGB);
  std::vector<uint8_t> buf(size_t{kW} * kH * 3, 1);
  for (auto _ : state) {
    std::memcpy(buf.data(), img->surface().scan0, buf.size());
    benchmark::ClobberMemory();
  }
  set_rate(state);
}

BENCHMARK(BM_MemcpyReadWrite)->Unit(benchmark::kMillisecond)->MinTime(1.0);
BENCHMARK(BM_Lock32bppARGBReadWrite)->Unit(benchmark::kMillisecond)->MinTime(1.0);
BENCHMARK(BM_Memcpy24bpp)->Unit(benchmark::kMillisecond)->MinTime(1.0);
BENCHMARK(BM_Read24bppAs32bppARGB)->Unit(benchmark::kMillisecond)->MinTime(1.0);
BENCHMARK(BM_Write32bppARGBInto24bpp)->Unit(benchmark::kMillisecond)->MinTime(1.0);

// Console output plus a closing table of ratios to the memcpy baseline.
class RatioReporter : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run>& runs) override {
    for (const Run& r : runs) times_[r.benchmark_name()] = r.GetAdjustedRealTime();
    ConsoleReporter::ReportRuns(runs);
  }
  void Finalize() override {
    ConsoleReporter::Finalize();
    const double base = times_["BM_MemcpyReadWrite/min_time:1.000"];
    if (base <= 0) return;
    std::printf("\nRatio to memcpy of the same bytes (6000 x 4000, read + write = 2 x 96 MB):\n");
    for (const auto& [name, t] : times_) std::printf("  %-45s %6.2f x\n", name.c_str(), t / base);
  }

 private:
  std::map<std::string, double> times_;
};

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  RatioReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  benchmark::Shutdown();
  return 0;
}
