// Barcodes stamped on an A4 page at 300 dpi (2480 x 3508, 24-bit), warm and
// in process: Korvex's BarCodeDrawEAN13 (digits printed) and BarCodeDraw39
// on the page, against libzint, the library behind the zint command, which
// renders the same symbols to an RGB bitmap that is then copied onto a page
// buffer of the same size (what an application using it does). Both draw
// 4-pixel modules (0.34 mm, the nominal EAN-13 module at 300 dpi) and
// 140-pixel bars. A memcpy of the whole page is printed for scale.
//
//   barcode_bench [RUNS]
#include <zint.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "korvex/korvex.h"
#include "table_row.h"

namespace {

using korvex::cKorvex;
using korvex::cKorvexStatus;

constexpr int32_t kWidth = 2480, kHeight = 3508;  // A4 at 300 dpi
constexpr int32_t kBarHeight = 140, kModule = 4;

double now_ms() {
  return std::chrono::duration<double, std::milli>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

template <class Fn>
double median_ms(int runs, Fn&& fn) {
  std::vector<double> t;
  for (int i = 0; i < runs; ++i) {
    const double t0 = now_ms();
    if (!fn()) return -1;
    t.push_back(now_ms() - t0);
  }
  std::sort(t.begin(), t.end());
  return t[t.size() / 2];
}

struct Symbol {
  const char* name;
  int zint_type;
  const char* data;
};

// libzint: encode, render to its RGB bitmap, copy it onto the page at (x, y).
bool zint_stamp(const Symbol& s, std::vector<uint8_t>& page, int32_t x, int32_t y,
                int32_t* w = nullptr, int32_t* h = nullptr) {
  zint_symbol* z = ZBarcode_Create();
  z->symbology = s.zint_type;
  z->scale = kModule / 2.0f;  // raster X-dimension: 2 pixels at scale 1
  z->height = static_cast<float>(kBarHeight) / kModule;
  const int rc = ZBarcode_Encode_and_Buffer(z, reinterpret_cast<const unsigned char*>(s.data),
                                            static_cast<int>(std::strlen(s.data)), 0);
  const bool ok = rc < ZINT_ERROR && z->bitmap != nullptr && z->bitmap_width <= kWidth - x &&
                  z->bitmap_height <= kHeight - y;
  if (ok) {
    const size_t row = static_cast<size_t>(z->bitmap_width) * 3;
    for (int32_t r = 0; r < z->bitmap_height; ++r) {
      std::memcpy(&page[(static_cast<size_t>(y + r) * kWidth + x) * 3],
                  &z->bitmap[static_cast<size_t>(r) * row], row);
    }
    if (w != nullptr) *w = z->bitmap_width;
    if (h != nullptr) *h = z->bitmap_height;
  }
  ZBarcode_Delete(z);
  return ok;
}

}  // namespace

int main(int argc, char** argv) {
  const int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 21;
  cKorvex k;
  if (k.CreateImage(kWidth, kHeight, 24) != cKorvexStatus::Ok ||
      k.DrawFillRectangle(1, 1, kWidth, kHeight, -1, false) != cKorvexStatus::Ok) {
    std::fprintf(stderr, "barcode_bench: cannot build the page\n");
    return 1;
  }
  std::vector<uint8_t> page(static_cast<size_t>(kWidth) * kHeight * 3, 0xFF);
  std::vector<uint8_t> copy(page.size());

  const Symbol symbols[] = {{"EAN-13", BARCODE_EANX, "400638133393"},
                            {"Code 39", BARCODE_CODE39, "KORVEX-39"}};
  std::printf("A4 page at 300 dpi, 24-bit; %d runs, median ms\n", runs);
  std::printf("%-8s %10s %10s %14s   %s\n", "symbol", "korvex", "libzint", "libzint/korvex",
              "zint bitmap");
  for (const Symbol& s : symbols) {
    const bool ean = s.zint_type == BARCODE_EANX;
    const double ours = median_ms(runs, [&] {
      const cKorvexStatus st = ean ? k.BarCodeDrawEAN13(s.data, 301, 301, kBarHeight, 10)
                                   : k.BarCodeDraw39(s.data, 301, 601, kBarHeight);
      return st == cKorvexStatus::Ok;
    });
    int32_t zw = 0, zh = 0;
    const double peer =
        median_ms(runs, [&] { return zint_stamp(s, page, 300, ean ? 900 : 1200, &zw, &zh); });
    if (ours < 0 || peer < 0) {
      std::fprintf(stderr, "barcode_bench: %s failed\n", s.name);
      return 1;
    }
    std::printf("%-8s %10.3f %10.3f %14.2f   %d x %d\n", s.name, ours, peer, peer / ours, zw, zh);
    table_row((std::string("barcode ") + s.name + " on an A4 page").c_str(), ours / 1e3, -1,
              "libzint", peer / 1e3, -1);
  }
  const double mc = median_ms(runs, [&] {
    std::memcpy(copy.data(), page.data(), page.size());
    return copy[page.size() / 2] == page[page.size() / 2];
  });
  std::printf("%-8s %10.3f   (memcpy of the 26 MB page, for scale)\n", "memcpy", mc);
  return 0;
}
