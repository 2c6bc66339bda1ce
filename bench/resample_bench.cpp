// Resampling and rotation speed on a 6000 x 4000 24-bit photo-like image:
// halving with the area-correct cubic, the area-correct triangle and the plain
// cubic, doubling with the cubic, and a 45 degree turn onto an enlarged canvas
// (the work of RotateAngle(45)). bench/resample_peers.sh runs this next to
// OpenCV and Pillow on the same pixels.
#include <benchmark/benchmark.h>

#include <cmath>
#include <memory>

#include "raster/affine.h"
#include "raster/image.h"
#include "raster/resample.h"

namespace korvex::raster {
namespace {

// The same pattern as resample_peers.sh builds with numpy.
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

Image* source() {
  static std::unique_ptr<Image> src = make_source();
  return src.get();
}

// Includes creating the destination, as the engine (and the peers) do.
void run(benchmark::State& state, int32_t w, int32_t h, Interpolation m) {
  Image* src = source();
  if (src == nullptr) {
    state.SkipWithError("allocation failed");
    return;
  }
  const Rect from{0, 0, src->width(), src->height()};
  for (auto _ : state) {
    std::unique_ptr<Image> dst;
    if (Image::create(w, h, pf::k24bppRGB, dst) != Status::Ok ||
        resample(*src, from, *dst, m) != Status::Ok) {
      state.SkipWithError("resample failed");
      return;
    }
    benchmark::DoNotOptimize(dst->surface().scan0);
  }
}

// RotateAngle(45): canvas ceil(|sin|h + |cos|w) x ceil(|sin|w + |cos|h), the
// image turned about the canvas centre, bilinear with an antialiased outline.
void BM_Rotate45(benchmark::State& state) {
  Image* src = source();
  if (src == nullptr) {
    state.SkipWithError("allocation failed");
    return;
  }
  const double r = 45 * 3.141592657 / 180.0, cs = std::cos(r), sn = std::sin(r);
  const int32_t w = src->width(), h = src->height();
  const auto W = static_cast<int32_t>(std::ceil(std::fabs(sn) * h + std::fabs(cs) * w));
  const auto H = static_cast<int32_t>(std::ceil(std::fabs(sn) * w + std::fabs(cs) * h));
  const double cx = std::nearbyint(W / 2.0), cy = std::nearbyint(H / 2.0);
  const double x0 = std::nearbyint(cx * cs + cy * sn - 0.5 * w);
  const double y0 = std::nearbyint(-cx * sn + cy * cs - 0.5 * h);
  const double m[6] = {cs, sn, -sn, cs, cs * x0 - sn * y0, sn * x0 + cs * y0};
  for (auto _ : state) {
    std::unique_ptr<Image> dst;
    if (Image::create(W, H, pf::k24bppRGB, dst) != Status::Ok ||
        draw_transformed(*src, m, *dst) != Status::Ok) {
      state.SkipWithError("rotation failed");
      return;
    }
    benchmark::DoNotOptimize(dst->surface().scan0);
  }
}

void BM_Half_HighQualityBicubic(benchmark::State& s) { run(s, 3000, 2000, Interpolation::HighQualityBicubic); }
void BM_Half_HighQualityBilinear(benchmark::State& s) { run(s, 3000, 2000, Interpolation::HighQualityBilinear); }
void BM_Half_Bicubic(benchmark::State& s) { run(s, 3000, 2000, Interpolation::Bicubic); }
void BM_Double_Bicubic(benchmark::State& s) { run(s, 12000, 8000, Interpolation::Bicubic); }
void BM_Double_HighQualityBicubic(benchmark::State& s) { run(s, 12000, 8000, Interpolation::HighQualityBicubic); }

// Single calls, repeated: resample_peers.sh keeps the best, as it does for
// the peers, so that a busy machine disturbs both sides alike.
BENCHMARK(BM_Half_HighQualityBicubic)->Unit(benchmark::kMillisecond)->Iterations(1)->Repetitions(9)->UseRealTime();
BENCHMARK(BM_Half_HighQualityBilinear)->Unit(benchmark::kMillisecond)->Iterations(1)->Repetitions(9)->UseRealTime();
BENCHMARK(BM_Half_Bicubic)->Unit(benchmark::kMillisecond)->Iterations(1)->Repetitions(9)->UseRealTime();
BENCHMARK(BM_Double_Bicubic)->Unit(benchmark::kMillisecond)->Iterations(1)->Repetitions(4)->UseRealTime();
BENCHMARK(BM_Double_HighQualityBicubic)->Unit(benchmark::kMillisecond)->Iterations(1)->Repetitions(4)->UseRealTime();
BENCHMARK(BM_Rotate45)->Unit(benchmark::kMillisecond)->Iterations(1)->Repetitions(4)->UseRealTime();

}  // namespace
}  // namespace korvex::raster

BENCHMARK_MAIN();
