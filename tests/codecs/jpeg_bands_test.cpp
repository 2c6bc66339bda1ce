// JPEG rows in bands: any band height decodes the pixels and metadata of the
// whole-image decoder, fails on a cut file as it does, and encodes its bytes.
#include <gtest/gtest.h>

#include <cstring>

#include "codec_test_util.h"
#include "raster/bands.h"
#include "raster/codecs/jpeg/jpeg_common.h"

namespace korvex {
namespace {

using raster::Image;
using enum raster::Status;
using namespace raster::pf;
using Bytes = std::vector<uint8_t>;

const int32_t kBandHeights[] = {1, 7, 45, 1000};

TEST(JpegBands, EveryBandHeightDecodesAndFailsAsTheWholeDecoder) {
  testutil::ScratchDir dir;
  // Gray, 4:2:0 at 300 dpi, progressive, inverted CMYK; then two cut files.
  for (const std::string args :
       {"-colorspace Gray", "-sampling-factor 2x2 -density 300 -units PixelsPerInch",
        "-interlace Plane", "-colorspace CMYK", "cut", "-interlace Plane cut"}) {
    SCOPED_TRACE(args);
    const bool cut = args.ends_with("cut");
    ASSERT_EQ(
        testutil::run(testutil::convert_tool() + " -size 67x45 -seed 7 plasma:red-blue " +
                      (cut ? args.substr(0, args.size() - 3) : args) + " " + dir.file("m.jpg")),
        0);
    Bytes file = testutil::read_file(dir.file("m.jpg"));
    if (cut) file.resize(file.size() * 2 / 3);
    const raster::EncodedBytes in{file.data(), file.size(), nullptr};
    std::unique_ptr<Image> whole;
    const raster::Status expected = raster::jpeg::decode(in, whole);
    EXPECT_EQ(expected, cut ? GenericError : Ok);
    for (const int32_t band : kBandHeights) {
      std::unique_ptr<raster::BandReader> r;
      ASSERT_EQ(raster::jpeg::open_band_reader(in, r), Ok);
      const raster::BandPicture& p = r->picture();
      const int32_t stride = raster::padded_stride(p.width, p.format);
      Bytes rows(static_cast<size_t>(stride) * p.height);
      raster::Status st = Ok;
      for (int32_t y = 0; y < p.height && st == Ok; y += band) {
        st = r->read(rows.data() + static_cast<size_t>(y) * stride, stride,
                     std::min(band, p.height - y));
      }
      EXPECT_EQ(st, expected) << band;
      if (cut) continue;
      EXPECT_EQ(p.width, 67);
      EXPECT_EQ(p.format, whole->format());
      EXPECT_EQ(p.palette, whole->palette());
      EXPECT_EQ(p.dpi_x, whole->dpi_x());
      EXPECT_EQ(p.properties, whole->properties());
      EXPECT_EQ(std::memcmp(rows.data(), whole->surface().scan0, rows.size()), 0) << band;
    }
  }
}

// 24-bit B, G, R rows, gray indices and converted rows (32bppARGB), with
// EXIF items, a colour profile and 300 dpi.
TEST(JpegBands, EveryBandHeightEncodesTheBytesOfTheWholeEncoder) {
  for (const raster::PixelFormat f : {k24bppRGB, k8bppIndexed, k32bppARGB}) {
    std::unique_ptr<Image> img;
    ASSERT_EQ(Image::create(53, 37, f, img), Ok);
    raster::Surface& s = img->surface();
    if (f == k8bppIndexed) {
      s.palette.flags = raster::Palette::kGrayScale;
      s.palette.entries.resize(256);
      for (uint32_t i = 0; i < 256; ++i) s.palette.entries[i] = 0xFF000000u | i * 0x010101u;
    }
    for (int32_t y = 0; y < s.height; ++y) {
      for (int32_t x = 0; x < s.stride; ++x) s.row(y)[x] = static_cast<uint8_t>(x * 7 + y * 13);
    }
    img->set_resolution(300, 300);
    img->set_property({0x010E, raster::ptype::kAscii, {'b', 'a', 'n', 'd', 0}});
    img->set_property({raster::jpeg::kIccProfileTag, raster::ptype::kUndefined, Bytes(3000, 9)});
    for (const int32_t quality : {-1, 30, 100}) {
      SCOPED_TRACE(testing::Message() << "format " << f << " quality " << quality);
      raster::EncoderParams params;
      if (quality >= 0) params.push_back({raster::encparam::kQuality, quality});
      Bytes whole;
      raster::MemorySink whole_sink(whole);
      ASSERT_EQ(raster::jpeg::encode(*img, params, whole_sink), Ok);
      for (const int32_t band : kBandHeights) {
        Bytes banded;
        ASSERT_EQ(
            testutil::encode_in_bands(raster::jpeg::open_band_writer, *img, params, band, banded),
            Ok);
        EXPECT_EQ(banded, whole) << band;
      }
      // A picture a row short is refused at the end, and stays refused.
      Bytes out;
      raster::MemorySink sink(out);
      std::unique_ptr<raster::BandWriter> w;
      ASSERT_EQ(raster::jpeg::open_band_writer(raster::band_picture_of(*img), params, sink, w), Ok);
      ASSERT_EQ(w->write(s.scan0, s.stride, s.height - 1), Ok);
      EXPECT_EQ(w->finish(), WrongState);
      EXPECT_EQ(w->finish(), WrongState);
    }
  }
}

}  // namespace
}  // namespace korvex
