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
#include "table_row.h"

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

std::vector<uint8_t> make_buffer() {
  return std::vector<uint8_t>(size_t{kW} * kH * 4, 1);
}

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

// Baseline of the conversions: one copy of the 32-bit buffer.
void BM_Memcpy32bpp(benchmark::State& state) {
  auto img = make_image(pf::k32bppARGB);
  auto buf = make_buffer();
  for (auto _ : state) {
    std::memcpy(buf.data(), img->surface().scan0, buf.size());
    benchmark::ClobberMemory();
  }
  set_rate(state);
}

BENCHMARK(BM_MemcpyReadWrite)->Unit(benchmark::kMillisecond)->MinTime(1.0);
BENCHMARK(BM_Lock32bppARGBReadWrite)->Unit(benchmark::kMillisecond)->MinTime(1.0);
BENCHMARK(BM_Memcpy32bpp)->Unit(benchmark::kMillisecond)->MinTime(1.0);
BENCHMARK(BM_Read24bppAs32bppARGB)->Unit(benchmark::kMillisecond)->MinTime(1.0);
BENCHMARK(BM_Write32bppARGBInto24bpp)->Unit(benchmark::kMillisecond)->MinTime(1.0);

// Console output plus a closing table: Mpixel/s of each case and its time
// relative to the memcpy that moves the same 32-bit bytes.
class RatioReporter : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run>& runs) override {
    for (const Run& r : runs) {
      std::string name = r.benchmark_name();
      name = name.substr(0, name.find('/'));
      seconds_[name] = r.GetAdjustedRealTime() / 1e3;  // reported in milliseconds
    }
    ConsoleReporter::ReportRuns(runs);
  }
  void Finalize() override {
    ConsoleReporter::Finalize();
    const struct {
      const char* name;
      const char* baseline;
    } rows[] = {{"BM_Lock32bppARGBReadWrite", "BM_MemcpyReadWrite"},
                {"BM_Read24bppAs32bppARGB", "BM_Memcpy32bpp"},
                {"BM_Write32bppARGBInto24bpp", "BM_Memcpy32bpp"}};
    std::printf("\n%-28s %10s %12s %10s\n", "6000 x 4000", "ms", "Mpixel/s", "x memcpy");
    for (const auto& r : rows) {
      const double t = seconds_[r.name], base = seconds_[r.baseline];
      if (t <= 0 || base <= 0) continue;
      std::printf("%-28s %10.2f %12.0f %10.2f\n", r.name + 3, t * 1e3, kW * double(kH) / t / 1e6,
                  t / base);
      table_row((std::string("6000x4000 ") + (r.name + 3)).c_str(), t, -1,
                r.baseline + 3, base, -1);
    }
  }

 private:
  std::map<std::string, double> seconds_;
};

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  RatioReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  benchmark::Shutdown();
  return 0;
}
