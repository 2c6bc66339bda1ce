// The resampler driven a band of rows at a time against resample() over
// the whole image: the same bytes for every mode, stored format and band
// height, with each band given only the source rows it asks for.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "raster/resample.h"
#include "raster_test_util.h"

namespace korvex::raster {
namespace {

// The pixel bytes of every row, without the row padding.
std::vector<uint8_t> trimmed(const Surface& s) {
  const size_t bytes =
      (static_cast<size_t>(s.width) * static_cast<size_t>(bits_per_pixel(s.format)) + 7) / 8;
  std::vector<uint8_t> out;
  for (int32_t y = 0; y < s.height; ++y) out.insert(out.end(), s.row(y), s.row(y) + bytes);
  return out;
}

// Resizes `src` band by band, copying for each band only the source rows
// source_rows names into a window of their own (so a row read from outside
// it would be a different, poisoned one), and checks the window never moves
// up the picture.
std::vector<uint8_t> in_bands(const Image& src, int32_t w, int32_t h, const Palette& dst_palette,
                              Interpolation mode, int32_t rows) {
  const Surface& s = src.surface();
  std::unique_ptr<RowResampler> r;
  EXPECT_EQ(RowResampler::create({s.width, s.height, s.format, s.palette},
                                 {w, h, s.format, dst_palette}, mode, r),
            Status::Ok);
  const int32_t stride = padded_stride(w, s.format);
  std::vector<uint8_t> out(static_cast<size_t>(stride) * static_cast<size_t>(h), 0);
  const auto sb = static_cast<size_t>(s.stride);
  int32_t last_first = 0;
  for (int32_t y = 0; y < h; y += rows) {
    const int32_t y1 = std::min(y + rows, h);
    int32_t first = -1, end = -1;
    r->source_rows(y, y1, first, end);
    EXPECT_GE(first, last_first);
    EXPECT_LE(end, s.height);
    last_first = first;
    // One poisoned row on each side of the window.
    std::vector<uint8_t> window(sb * static_cast<size_t>(end - first + 2), 0xA5);
    for (int32_t sy = first; sy < end; ++sy)
      std::memcpy(&window[sb * static_cast<size_t>(sy - first + 1)], s.row(sy), sb);
    r->run(y, y1, {window.data() + sb, s.stride, first},
           {out.data() + static_cast<size_t>(stride) * static_cast<size_t>(y), stride, y});
  }
  return trimmed({w, h, s.format, stride, out.data(), {}, {}});
}

TEST(ResampleRows, BandsGiveTheWholeImageBytesForEveryModeFormatAndSize) {
  const PixelFormat formats[] = {pf::k24bppRGB,    pf::k32bppARGB,   pf::k32bppPARGB,
                                 pf::k8bppIndexed, pf::k1bppIndexed, pf::k16bppRGB565,
                                 pf::k64bppARGB};
  struct Size {
    int32_t sw, sh, dw, dh;
  };
  // Shrink, enlarge, both at once, non-integer ratios, one-pixel sides,
  // same size (a copy) and a one-pixel source.
  const Size sizes[] = {{61, 47, 30, 23}, {61, 47, 122, 94}, {61, 47, 17, 101}, {61, 47, 1, 1},
                        {61, 47, 61, 47}, {61, 47, 200, 5},  {1, 1, 9, 4},      {5, 37, 1, 36}};
  for (const PixelFormat f : formats) {
    for (const Size& z : sizes) {
      auto src = make(z.sw, z.sh, f);
      Surface& s = src->surface();
      for (int32_t y = 0; y < z.sh; ++y)
        for (int32_t x = 0; x < s.stride; ++x)
          s.row(y)[x] = static_cast<uint8_t>((x * 37 + y * 11) ^ (x * y));
      for (int32_t m = 0; m <= 7; ++m) {
        for (const int32_t rows : {1, 5, 1000}) {
          SCOPED_TRACE(std::to_string(static_cast<int64_t>(f)) + " " + std::to_string(z.sw) + "x" +
                       std::to_string(z.sh) + " to " + std::to_string(z.dw) + "x" +
                       std::to_string(z.dh) + " mode " + std::to_string(m) + " rows " +
                       std::to_string(rows));
          auto whole = make(z.dw, z.dh, f);
          if (is_indexed(f)) whole->set_palette(s.palette);
          ASSERT_EQ(resample(*src, all(*src), *whole, static_cast<Interpolation>(m)), Status::Ok);
          EXPECT_EQ(
              in_bands(*src, z.dw, z.dh, whole->palette(), static_cast<Interpolation>(m), rows),
              trimmed(whole->surface()));
        }
      }
    }
  }
}

}  // namespace
}  // namespace korvex::raster
