// Document recognition, warm and in process: one A4 page at 300 dpi
// (2480 x 3508), 1-bit and 24-bit, classified against 50 learned families
// (RADGetFamilyDocID), next to a plain memcpy of the page's pixel bytes, the
// least any pass over the page can cost; prints the ratio.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "korvex/korvex.h"
#include "raster/handles.h"
#include "table_row.h"

namespace {

using korvex::cKorvex;
using korvex::cKorvexStatus;

constexpr int32_t kWidth = 2480, kHeight = 3508;  // A4 at 300 dpi
constexpr int32_t kFamilies = 50;
constexpr int32_t kBlack = static_cast<int32_t>(0xFF000000);

double now_ms() {
  return std::chrono::duration<double, std::milli>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

// A page of layout `variant`: a header band whose height and a body of
// word lines whose spacing and length depend on the variant.
cKorvexStatus make_page(cKorvex& k, int16_t depth, int32_t variant) {
  cKorvexStatus st = k.CreateImage(kWidth, kHeight, depth);
  if (st == cKorvexStatus::Ok) st = k.DrawFillRectangle(1, 1, kWidth, kHeight, -1, false);
  uint32_t seed = 2024u + static_cast<uint32_t>(variant);
  auto next = [&seed] { return (seed = seed * 1103515245u + 12345u) >> 16; };
  if (st == cKorvexStatus::Ok && variant % 3 != 0)
    st = k.DrawFillRectangle(120, 100, kWidth - 240, 40 + 12 * (variant % 17), kBlack, false);
  const int32_t spacing = 50 + 3 * (variant % 11), height = 10 + variant % 25;
  for (int32_t y = 500; y < kHeight - 300 && st == cKorvexStatus::Ok; y += spacing) {
    for (int32_t x = 301; x < kWidth - 400 && st == cKorvexStatus::Ok;) {
      const auto w = static_cast<int32_t>(40 + next() % (60 + 4 * variant));
      st = k.DrawFillRectangle(x, y, w, height, kBlack, false);
      x += w + 24;
    }
  }
  return st;
}

double median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v[v.size() / 2];
}

}  // namespace

int main() {
  std::printf("%-22s %12s %11s %14s\n", "A4 300 dpi page", "classify ms", "memcpy ms",
              "classify/copy");
  for (int16_t depth : {int16_t{1}, int16_t{24}}) {
    cKorvex k;
    for (int32_t f = 1; f <= kFamilies; ++f) {
      k.RADNewFamily("layout " + std::to_string(f));
      if (make_page(k, depth, f) != cKorvexStatus::Ok || k.RADLearnImage(f) != 0) {
        std::fprintf(stderr, "rad_bench: cannot learn family %d\n", f);
        return 1;
      }
      k.CloseNativeImage();
    }
    if (make_page(k, depth, 7) != cKorvexStatus::Ok) return 1;
    std::vector<double> classify, copy;
    int32_t found = 0;
    for (int i = 0; i < 9; ++i) {
      const double t0 = now_ms();
      found = k.RADGetFamilyDocID();
      classify.push_back(now_ms() - t0);
    }
    // The page's own pixel bytes, copied whole.
    const korvex::raster::Surface& page = korvex::raster::find_image(k.GetNativeImage())->surface();
    const size_t bytes = static_cast<size_t>(page.stride) * static_cast<size_t>(page.height);
    std::vector<uint8_t> target(bytes, 1);
    for (int i = 0; i < 9; ++i) {
      const double t0 = now_ms();
      std::memcpy(target.data(), page.scan0, bytes);
      copy.push_back(now_ms() - t0);
    }
    if (found != 7 || target[bytes / 2] != page.scan0[bytes / 2]) {
      std::fprintf(stderr, "rad_bench: the page was classified as %d, not 7\n", found);
      return 1;
    }
    const std::string label =
        std::to_string(depth) + "-bit, " + std::to_string(kFamilies) + " families";
    std::printf("%-22s %12.2f %11.3f %13.1fx\n", label.c_str(), median(classify), median(copy),
                median(classify) / median(copy));
    table_row(("classify A4 page, " + label).c_str(), median(classify) / 1e3, -1, "memcpy of the page",
              median(copy) / 1e3, -1);
  }
  return 0;
}
