// PNG band writer: any band height gives the bytes of the whole-image
// encoder, whose row filter and palette length come from an analysis pass
// over rows all over the picture.
#include <gtest/gtest.h>
#include <zlib.h>

#include <cstring>

#include "codec_test_util.h"
#include "raster/bands.h"

namespace korvex {
namespace {

using raster::Image;
using enum raster::Status;
using namespace raster::pf;
using Bytes = std::vector<uint8_t>;

// The data of every chunk of `type`, one after another.
Bytes chunks(const Bytes& png, const char* type) {
  Bytes out;
  for (size_t at = 8, n = 0; at + 12 <= png.size(); at += 12 + n) {
    n = size_t{png[at]} << 24 | png[at + 1] << 16 | png[at + 2] << 8 | png[at + 3];
    if (std::memcmp(&png[at + 4], type, 4) == 0)
      out.insert(out.end(), &png[at + 8], &png[at + 8 + n]);
  }
  return out;
}
// The filter type of the first row.
int first_filter(const Bytes& png) {
  Bytes idat = chunks(png, "IDAT");
  uint8_t type = 0xFF;
  z_stream z{};
  inflateInit(&z);
  z.next_in = idat.data();
  z.avail_in = static_cast<uInt>(idat.size());
  z.next_out = &type;
  z.avail_out = 1;
  inflate(&z, Z_NO_FLUSH);
  inflateEnd(&z);
  return type;
}

// Smooth gradients with a little texture (photographs), or flat blocks (drawings).
std::unique_ptr<Image> picture(raster::PixelFormat f, int32_t w, int32_t h, bool smooth) {
  std::unique_ptr<Image> img = testutil::pattern_image(f, w, h);
  if (raster::is_indexed(f)) return img;
  raster::Surface& s = img->surface();
  const int32_t bytes = raster::padded_stride(w, f);
  for (int32_t y = 0; y < h; ++y) {
    for (int32_t x = 0; x < bytes; ++x) {
      const int32_t c = x % 3, px = x / 3, noise = (px * 7919 + y * 104729 + c * 31) % 5;
      s.row(y)[x] = static_cast<uint8_t>(smooth ? px * (c + 1) / 5 + y * (3 - c) / 4 + noise
                                                : (x / 40 + y / 30) % 3 * 100);
    }
  }
  return img;
}

TEST(PngBands, EveryBandHeightWritesTheBytesOfTheWholeEncoder) {
  struct Case {
    raster::PixelFormat format;
    int32_t w, h;
    bool smooth;
    int filter;  // of the first row: 0 none, 3 average (photo-like rows of 3-byte pixels)
  };
  // Sizes where the sampled bands sit next to each other (203 rows), spread
  // within the 256 KiB floor, and a sixteenth of a picture over 4 MiB.
  const Case cases[] = {
      {k24bppRGB, 100, 203, true, 3},     {k24bppRGB, 100, 203, false, 0},
      {k24bppRGB, 700, 300, true, 3},     {k24bppRGB, 1500, 1000, true, 3},
      {k32bppRGB, 300, 90, true, 0},      {k32bppARGB, 300, 90, false, 0},
      {k32bppPARGB, 120, 70, true, 0},    {k16bppRGB565, 120, 70, true, 0},
      {k16bppGrayScale, 90, 77, true, 0}, {k48bppRGB, 90, 77, true, 3},
      {k64bppPARGB, 60, 40, false, 0},    {k4bppIndexed, 61, 40, false, 0},
  };
  const raster::Encoder* e = testutil::encoder_for("*.png");
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.format) + " " + std::to_string(c.w) + "x" + std::to_string(c.h));
    std::unique_ptr<Image> img = picture(c.format, c.w, c.h, c.smooth);
    img->set_resolution(300, 150);
    img->set_property({0x0131, raster::ptype::kAscii, {'K', 'x', 0}});
    const Bytes whole = testutil::encode("*.png", *img);
    EXPECT_EQ(first_filter(whole), c.filter);
    for (const int32_t band : {1, 7, 45, 1000}) {
      Bytes banded;
      ASSERT_EQ(testutil::encode_in_bands(raster::band_writer_for(*e), *img, {}, band, banded), Ok);
      EXPECT_TRUE(banded == whole) << band;
    }
  }
}

TEST(PngBands, AShortPaletteGrowsToTheHighestIndexAnywhereInThePicture) {
  // Four entries, indices up to 2, and index 9 once in the last row: PLTE
  // gets ten entries, six of them transparent black (tRNS).
  std::unique_ptr<Image> img;
  ASSERT_EQ(Image::create(50, 300, k8bppIndexed, img), Ok);
  raster::Surface& s = img->surface();
  s.palette.entries = {0xFF102030, 0xFF405060, 0xFF708090, 0xFFA0B0C0};
  for (int32_t y = 0; y < s.height; ++y) {
    for (int32_t x = 0; x < s.width; ++x) s.row(y)[x] = static_cast<uint8_t>((x + y) % 3);
  }
  s.row(s.height - 1)[17] = 9;
  const Bytes whole = testutil::encode("*.png", *img);
  EXPECT_EQ(chunks(whole, "PLTE").size(), 30u);
  EXPECT_EQ(chunks(whole, "tRNS"), Bytes({255, 255, 255, 255, 0, 0, 0, 0, 0, 0}));
  const raster::BandWriterOpener open = raster::band_writer_for(*testutil::encoder_for("*.png"));
  for (const int32_t band : {1, 7, 299}) {
    Bytes banded;
    ASSERT_EQ(testutil::encode_in_bands(open, *img, {}, band, banded), Ok);
    EXPECT_TRUE(banded == whole) << band;
  }
  // Pixels before the analysis, or too few of them, are refused.
  for (const bool analyse : {false, true}) {
    Bytes out;
    raster::MemorySink sink(out);
    std::unique_ptr<raster::BandWriter> w;
    ASSERT_EQ(open(raster::band_picture_of(*img), {}, sink, w), Ok);
    ASSERT_TRUE(w->analyses());
    if (analyse) {
      EXPECT_EQ(w->analyse(s.scan0, s.stride, s.height), Ok);
      EXPECT_EQ(w->write(s.scan0, s.stride, s.height - 1), Ok);
      EXPECT_EQ(w->finish(), WrongState);
    } else {
      EXPECT_EQ(w->write(s.scan0, s.stride, 1), WrongState);
    }
  }
}

}  // namespace
}  // namespace korvex
