// Pixel-effect speed on a 32bppARGB picture, warm (buffers already touched),
// and a whole-process subject for the peer comparison.
//
//   filters_bench IMAGE            times each effect in-process on IMAGE
//                                  converted to 32bppARGB, prints ms, Mpixel/s
//                                  and the machine's memcpy rate
//   filters_bench --apply EFFECT IN OUT
//                                  loads IN, applies EFFECT, saves OUT as an
//                                  uncompressed TIFF (for whole-command timing),
//                                  as the korvex command runs that pipeline
//   filters_bench --apply-members EFFECT IN OUT
//                                  the same through the engine's members one
//                                  after another, the whole picture in memory
//
// bench/filters_peers.sh runs both next to OpenCV, Pillow, ImageMagick and libvips.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "korvex/korvex.h"
#include "raster/handles.h"
#include "run_words.h"

namespace {

using korvex::cKorvex;
using korvex::cKorvexStatus;

struct Effect {
  const char* name;
  std::function<cKorvexStatus(cKorvex&)> run;
  std::vector<std::string> words;  // the same as korvex command words
};

const std::vector<Effect>& effects() {
  static const std::vector<Effect> list = {
      {"Contrast", [](cKorvex& k) { return k.SetContrastEffect(20); }, {"-SetContrastEffect", "20"}},
      {"Brightness", [](cKorvex& k) { return k.SetBrightnessEffect(20); }, {"-SetBrightnessEffect", "20"}},
      {"Grayscale", [](cKorvex& k) { return k.SetGrayscaleEffect(); }, {"-SetGrayscaleEffect"}},
      {"Negative", [](cKorvex& k) { return k.SetNegativeEffect(); }, {"-SetNegativeEffect"}},
      {"Blur", [](cKorvex& k) { return k.SetBlurEffect(); }, {"-SetBlurEffect"}},
      {"Sharpen", [](cKorvex& k) { return k.SetSharpenEffect(); }, {"-SetSharpenEffect"}},
      {"EmbossMore", [](cKorvex& k) { return k.SetEmbossMoreEffect(); }, {"-SetEmbossMoreEffect"}},
      {"Aqua", [](cKorvex& k) { return k.SetAQUAEffect(); }, {"-SetAQUAEffect"}},
      {"OrderedDitherBW", [](cKorvex& k) { return k.SetBlackNWhiteEffect(2); }, {"-SetBlackNWhiteEffect", "2"}},
  };
  return list;
}

double now_ms() {
  return std::chrono::duration<double, std::milli>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

// The pipeline "-LoadFromFile IN -<effect> -SaveAsTiff OUT 6", run as the
// korvex command runs it.
int apply_pipeline(const std::string& name, const char* in, const char* out) {
  for (const Effect& e : effects()) {
    if (name != e.name) continue;
    std::vector<std::string> words = {"-LoadFromFile", in};
    words.insert(words.end(), e.words.begin(), e.words.end());
    words.insert(words.end(), {"-SaveAsTiff", out, "6"});
    return run_words(words, "filters_bench");
  }
  std::fprintf(stderr, "filters_bench: unknown effect %s\n", name.c_str());
  return 1;
}

int apply(const std::string& name, const char* in, const char* out) {
  cKorvex k;
  cKorvexStatus st = k.LoadFromFile(in);
  for (const Effect& e : effects()) {
    if (st == cKorvexStatus::Ok && name == e.name) {
      st = e.run(k);
      if (st == cKorvexStatus::Ok) st = k.SaveAsTiff(out, 6);
      if (st != cKorvexStatus::Ok) std::fprintf(stderr, "status %d\n", static_cast<int>(st));
      return st == cKorvexStatus::Ok ? 0 : 1;
    }
  }
  std::fprintf(stderr, "filters_bench: cannot load %s or unknown effect %s\n", in, name.c_str());
  return 1;
}

int timings(const char* path) {
  cKorvex k;
  if (k.LoadFromFile(path) != cKorvexStatus::Ok || k.ConvertTo32Bpp() != cKorvexStatus::Ok) {
    std::fprintf(stderr, "filters_bench: cannot load %s\n", path);
    return 1;
  }
  korvex::raster::Image* img = korvex::raster::find_image(k.GetNativeImage());
  korvex::raster::Surface& s = img->surface();
  const size_t bytes = static_cast<size_t>(s.stride) * static_cast<size_t>(s.height);
  const double mpix = static_cast<double>(s.width) * s.height / 1e6;
  std::vector<uint8_t> pristine(s.scan0, s.scan0 + bytes);
  std::vector<uint8_t> scratch(bytes, 1);

  double best_copy = 1e30;
  for (int i = 0; i < 10; ++i) {
    const double t0 = now_ms();
    std::memcpy(scratch.data(), pristine.data(), bytes);
    best_copy = std::min(best_copy, now_ms() - t0);
  }
  std::printf("image %dx%d 32bppARGB, %.1f MB; memcpy of it %.2f ms (%.1f GB/s)\n", s.width,
              s.height, bytes / 1e6, best_copy, bytes / best_copy / 1e6);
  std::printf("%-16s %9s %11s %9s\n", "effect", "best ms", "Mpixel/s", "x memcpy");
  for (const Effect& e : effects()) {
    double best = 1e30;
    const int runs = std::string(e.name) == "Aqua" ? 3 : 7;
    for (int i = 0; i < runs; ++i) {
      std::memcpy(s.scan0, pristine.data(), bytes);  // same input every run
      const double t0 = now_ms();
      if (e.run(k) != cKorvexStatus::Ok) {
        std::fprintf(stderr, "%s failed\n", e.name);
        return 1;
      }
      best = std::min(best, now_ms() - t0);
    }
    std::printf("%-16s %9.2f %11.1f %9.2f\n", e.name, best, mpix / best * 1000.0, best / best_copy);
  }
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 5 && std::string(argv[1]) == "--apply")
    return apply_pipeline(argv[2], argv[3], argv[4]);
  if (argc == 5 && std::string(argv[1]) == "--apply-members") return apply(argv[2], argv[3], argv[4]);
  if (argc == 2) return timings(argv[1]);
  std::fprintf(stderr, "usage: filters_bench IMAGE | filters_bench --apply[-members] EFFECT IN OUT\n");
  return 2;
}
