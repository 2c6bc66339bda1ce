// Band crops of a scanned page, warm and in process, and the page itself for
// the whole-command comparison.
//
//   cleanup_bench                  times CropWhiteBands on an A4 page at 300
//                                  dpi (2480 x 3508) in 1-bit and 24-bit
//   cleanup_bench --page DEPTH OUT writes that page (1 or 24 bits) as an
//                                  uncompressed TIFF
//
// bench/cleanup_peers.sh runs both next to ImageMagick's -trim.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "korvex/korvex.h"
#include "processing/bands.h"
#include "raster/handles.h"

namespace {

using korvex::cKorvex;
using korvex::cKorvexStatus;

constexpr int32_t kWidth = 2480, kHeight = 3508;  // A4 at 300 dpi

double now_ms() {
  return std::chrono::duration<double, std::milli>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

// A white page with an inch of margin and 40 lines of dark "words" of
// varying length, as a typed letter looks after scanning.
cKorvexStatus make_page(cKorvex& k, int16_t depth) {
  cKorvexStatus st = k.CreateImage(kWidth, kHeight, depth);
  uint32_t seed = 2024;
  auto next = [&seed] { return (seed = seed * 1103515245u + 12345u) >> 16; };
  for (int32_t line = 0; line < 40 && st == cKorvexStatus::Ok; ++line) {
    const int32_t y = 301 + line * 72;
    for (int32_t x = 301; x < kWidth - 400 && st == cKorvexStatus::Ok;) {
      const auto w = static_cast<int32_t>(40 + next() % 160);
      st = k.DrawFillRectangle(x, y, w, 34, static_cast<int32_t>(0xFF101010), false);
      x += w + 24;
    }
  }
  if (st == cKorvexStatus::Ok) st = k.SetHorizontalResolution(300);
  if (st == cKorvexStatus::Ok) st = k.SetVerticalResolution(300);
  return st;
}

int timings() {
  std::printf("%-24s %9s %9s %11s %14s\n", "CropWhiteBands(100, 0)", "best ms", "median",
              "Mpixel/s", "of it: bands");
  for (int16_t depth : {int16_t{1}, int16_t{24}}) {
    cKorvex page;
    if (make_page(page, depth) != cKorvexStatus::Ok) {
      std::fprintf(stderr, "cleanup_bench: cannot build the page\n");
      return 1;
    }
    double times[9];
    for (double& t : times) {
      cKorvex k;
      k.CloneImage(page.GetNativeImage());  // the same page every run
      const double t0 = now_ms();
      const cKorvexStatus st = k.CropWhiteBands(100, 0);
      t = now_ms() - t0;
      if (st != cKorvexStatus::Ok || k.GetWidth() >= kWidth) {
        std::fprintf(stderr, "cleanup_bench: crop failed (%d)\n", static_cast<int>(st));
        return 1;
      }
    }
    // The band measurement alone, without the crop.
    double measure = 1e30;
    const korvex::raster::Image* img = korvex::raster::find_image(page.GetNativeImage());
    for (int i = 0; i < 9; ++i) {
      korvex::filters::BandDepths d;
      const double t0 = now_ms();
      korvex::filters::MeasureBands(*img, korvex::filters::BandRule{}, d);
      measure = std::min(measure, now_ms() - t0);
    }
    std::sort(std::begin(times), std::end(times));
    const std::string label = "A4 300 dpi " + std::to_string(depth) + "-bit";
    std::printf("%-24s %9.2f %9.2f %11.1f %11.2f ms\n", label.c_str(), times[0], times[4],
                kWidth * static_cast<double>(kHeight) / times[0] / 1000.0, measure);
  }
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 1) return timings();
  if (argc == 4 && std::string(argv[1]) == "--page") {
    cKorvex k;
    cKorvexStatus st = make_page(k, static_cast<int16_t>(std::atoi(argv[2])));
    if (st == cKorvexStatus::Ok) st = k.SaveAsTiff(argv[3], 6);
    return st == cKorvexStatus::Ok ? 0 : 1;
  }
  std::fprintf(stderr, "usage: cleanup_bench | cleanup_bench --page DEPTH OUT\n");
  return 2;
}
