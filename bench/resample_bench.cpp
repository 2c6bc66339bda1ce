// Resampling speed on a 6000 x 4000 24-bit photo-like image: halving with
// the area-correct cubic and the plain cubic, and doubling with the cubic.
// bench/resample_peers.sh runs this next to OpenCV and Pillow on the same sizes.
#include <benchmark/benchmark.h>

#include <memory>

#include "raster/image.h"
#include "raster/resample.h"

namespace korvex::raster {
namespace {

std::unique_ptr<Image> make_source() {
  std::unique_ptr<Image> img;
  if (Image::create(6000, 4000, pf::k24bppRGB, img) != Status::Ok) return nullptr;
  Surface& s = img->surface();
  for (int32_t y = 0; y < s.height; ++y) {
    uint8_t* row = s.row(y);
    for (int32_t x = 0; x < s.width; ++x) {
      row[x * 3] = static_cast<uint8_t>(x ^ y);
      row[x * 3 + 1] = static_cast<uint8_t>((x * 7 + y * 3) >> 4);
      row[x * 3 + 2] = static_cast<uint8_t>((x + y) >> 5);
    }
  }
  return img;
}

void run(benchmark::State& state, int32_t w, int32_t h, Interpolation m) {
  static std::unique_ptr<Image> src = make_source();
  std::unique_ptr<Image> dst;
  if (!src || Image::create(w, h, pf::k24bppRGB, dst) != Status::Ok) {
    state.SkipWithError("allocation failed");
    return;
  }
  const Rect from{0, 0, src->width(), src->height()};
  for (auto _ : state) {
    if (resample(*src, from, *dst, m) != Status::Ok) state.SkipWithError("resample failed");
    benchmark::DoNotOptimize(dst->surface().scan0);
  }
}

void BM_Half_HighQualityBicubic(benchmark::State& s) { run(s, 3000, 2000, Interpolation::HighQualityBicubic); }
void BM_Half_HighQualityBilinear(benchmark::State& s) { run(s, 3000, 2000, Interpolation::HighQualityBilinear); }
void BM_Half_Bicubic(benchmark::State& s) { run(s, 3000, 2000, Interpolation::Bicubic); }
void BM_Double_HighQualityBicubic(benchmark::State& s) { run(s, 12000, 8000, Interpolation::HighQualityBicubic); }

BENCHMARK(BM_Half_HighQualityBicubic)->Unit(benchmark::kMillisecond)->MinTime(1.0);
BENCHMARK(BM_Half_HighQualityBilinear)->Unit(benchmark::kMillisecond)->MinTime(1.0);
BENCHMARK(BM_Half_Bicubic)->Unit(benchmark::kMillisecond)->MinTime(1.0);
BENCHMARK(BM_Double_HighQualityBicubic)->Unit(benchmark::kMillisecond)->MinTime(1.0);

}  // namespace
}  // namespace korvex::raster

BENCHMARK_MAIN();
