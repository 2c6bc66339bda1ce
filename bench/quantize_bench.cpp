// Colour reduction speed on a 24bppRGB picture, warm, and a whole-process
// subject for the peer comparison.
//
//   quantize_bench IMAGE           times Quantize8Bpp(256), ConvertTo1Bpp and
//                                  ConvertTo8Bpp in-process on IMAGE converted
//                                  to 24bppRGB, next to a memcpy of its pixels
//   quantize_bench --apply N IN OUT
//                                  loads IN, quantises to N colours, saves OUT
//                                  as an uncompressed TIFF
//
// bench/quantize_peers.sh runs both next to Pillow and ImageMagick.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "korvex/korvex.h"
#include "raster/handles.h"

namespace {

using korvex::cKorvex;
using korvex::cKorvexStatus;

double now_ms() {
  return std::chrono::duration<double, std::milli>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

int apply(int colors, const char* in, const char* out) {
  cKorvex k;
  cKorvexStatus st = k.LoadFromFile(in);
  if (st == cKorvexStatus::Ok) st = k.Quantize8Bpp(colors);
  if (st == cKorvexStatus::Ok) st = k.SaveAsTiff(out, 6);
  if (st != cKorvexStatus::Ok) std::fprintf(stderr, "status %d\n", static_cast<int>(st));
  return st == cKorvexStatus::Ok ? 0 : 1;
}

int timings(const char* path) {
  cKorvex k;
  if (k.LoadFromFile(path) != cKorvexStatus::Ok || k.ConvertTo24Bpp() != cKorvexStatus::Ok) {
    std::fprintf(stderr, "quantize_bench: cannot load %s\n", path);
    return 1;
  }
  const int32_t source = k.GetNativeImage();
  korvex::raster::Surface& s = korvex::raster::find_image(source)->surface();
  const size_t bytes = static_cast<size_t>(s.stride) * static_cast<size_t>(s.height);
  const double mpix = static_cast<double>(s.width) * s.height / 1e6;
  std::vector<uint8_t> scratch(bytes, 1);

  double best_copy = 1e30;
  for (int i = 0; i < 10; ++i) {
    const double t0 = now_ms();
    std::memcpy(scratch.data(), s.scan0, bytes);
    best_copy = std::min(best_copy, now_ms() - t0);
  }
  std::printf("image %dx%d 24bppRGB, %.1f MB; memcpy of it %.2f ms (%.1f GB/s)\n", s.width,
              s.height, bytes / 1e6, best_copy, bytes / best_copy / 1e6);
  std::printf("%-14s %9s %11s %9s\n", "member", "best ms", "Mpixel/s", "x memcpy");
  const std::pair<const char*, std::function<cKorvexStatus(cKorvex&)>> members[] = {
      {"Quantize8Bpp", [](cKorvex& e) { return e.Quantize8Bpp(256); }},
      {"ConvertTo1Bpp", [](cKorvex& e) { return e.ConvertTo1Bpp(); }},
      {"ConvertTo8Bpp", [](cKorvex& e) { return e.ConvertTo8Bpp(); }},
  };
  for (const auto& [name, run] : members) {
    double best = 1e30;
    for (int i = 0; i < 5; ++i) {
      // Each run converts a fresh copy; the engine then closes the copy and
      // keeps the result, which is closed before the next run.
      cKorvex e;
      e.SetNativeImage(k.CreateClonedImage(source));
      const double t0 = now_ms();
      if (run(e) != cKorvexStatus::Ok) {
        std::fprintf(stderr, "%s failed\n", name);
        return 1;
      }
      best = std::min(best, now_ms() - t0);
      e.CloseImage(e.GetNativeImage());
    }
    std::printf("%-14s %9.2f %11.1f %9.2f\n", name, best, mpix / best * 1000.0, best / best_copy);
  }
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 5 && std::string(argv[1]) == "--apply") {
    return apply(std::atoi(argv[2]), argv[3], argv[4]);
  }
  if (argc == 2) return timings(argv[1]);
  std::fprintf(stderr, "usage: quantize_bench IMAGE | quantize_bench --apply N IN OUT\n");
  return 2;
}
