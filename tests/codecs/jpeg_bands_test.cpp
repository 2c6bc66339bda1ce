// JPEG rows in bands: any band height decodes the pixels and metadata of the
// whole-image decoder and encodes its bytes; how a cut file and a short
// picture fail.
#include <gtest/gtest.h>

#include <cstring>

#include "codec_test_util.h"
#include "raster/bands.h"
#include "raster/codecs/jpeg/jpeg_common.h"

namespace korvex {
namespace {

using raster::BandPicture;
using raster::Image;
using enum raster::Status;
using namespace raster::pf;
using Bytes = std::vector<uint8_t>;
using testutil::ScratchDir;

const int32_t kBandHeights[] = {1, 7, 16, 45, 1000};

Bytes magick_jpeg(const ScratchDir& dir, const std::string& args) {
  EXPECT_EQ(testutil::run(testutil::convert_tool() + " -size 67x45 -seed 7 plasma:red-blue " +
                          args + " " + dir.file("m.jpg")),
            0);
  return testutil::read_file(dir.file("m.jpg"));
}

// Reads the whole picture band by band into one buffer of the picture's rows.
raster::Status read_in_bands(const Bytes& file, int32_t band, BandPicture& picture, Bytes& rows) {
  std::unique_ptr<raster::BandReader> r;
  if (auto st = raster::jpeg::open_band_reader({file.data(), file.size(), nullptr}, r); st != Ok)
    return st;
  picture = r->picture();
  const int32_t stride = raster::padded_stride(picture.width, picture.format);
  rows.assign(static_cast<size_t>(stride) * picture.height, 0);
  for (int32_t y = 0; y < picture.height; y += band) {
    const int32_t n = std::min(band, picture.height - y);
    if (auto st = r->read(rows.data() + static_cast<size_t>(y) * stride, stride, n); st != Ok)
      return st;
  }
  return Ok;
}

TEST(JpegBands, EveryBandHeightDecodesWhatTheWholeDecoderDoes) {
  ScratchDir dir;
  // Gray, 4:2:0, progressive, inverted CMYK with an Adobe marker; 300 dpi.
  for (const std::string args :
       {"-colorspace Gray", "-sampling-factor 2x2 -density 300 -units PixelsPerInch",
        "-interlace Plane", "-colorspace CMYK"}) {
    SCOPED_TRACE(args);
    const Bytes file = magick_jpeg(dir, args);
    std::unique_ptr<Image> whole;
    ASSERT_EQ(raster::jpeg::decode({file.data(), file.size(), nullptr}, whole), Ok);
    const raster::Surface& s = whole->surface();
    for (const int32_t band : kBandHeights) {
      BandPicture p;
      Bytes rows;
      ASSERT_EQ(read_in_bands(file, band, p, rows), Ok) << band;
      EXPECT_EQ(p.width, 67);
      EXPECT_EQ(p.height, 45);
      EXPECT_EQ(p.format, whole->format());
      EXPECT_EQ(p.palette, whole->palette());
      EXPECT_EQ(p.dpi_x, whole->dpi_x());
      EXPECT_EQ(p.properties, whole->properties());
      EXPECT_EQ(std::memcmp(rows.data(), s.scan0, rows.size()), 0) << band;
    }
  }
}

TEST(JpegBands, ACutFileFailsAtItsLastBandAsTheWholeDecoderDoes) {
  ScratchDir dir;
  for (const std::string args : {"-sampling-factor 2x2", "-interlace Plane"}) {
    Bytes file = magick_jpeg(dir, args);
    file.resize(file.size() * 2 / 3);
    std::unique_ptr<Image> whole;
    const raster::Status expected = raster::jpeg::decode({file.data(), file.size(), nullptr}, whole);
    EXPECT_EQ(expected, GenericError) << args;
    for (const int32_t band : kBandHeights) {
      BandPicture p;
      Bytes rows;
      EXPECT_EQ(read_in_bands(file, band, p, rows), expected) << args << " " << band;
    }
  }
}

// A 24-bit picture with EXIF items, a colour profile and 300 dpi, in the
// formats the encoder takes three ways: B, G, R rows, gray indices, and
// converted ones (32bppARGB).
std::unique_ptr<Image> picture(raster::PixelFormat f) {
  std::unique_ptr<Image> img;
  EXPECT_EQ(Image::create(53, 37, f, img), Ok);
  raster::Surface& s = img->surface();
  if (f == k8bppIndexed) {
    s.palette.flags = raster::Palette::kGrayScale;
    s.palette.entries.resize(256);
    for (uint32_t i = 0; i < 256; ++i) s.palette.entries[i] = 0xFF000000u | i * 0x010101u;
  }
  const int32_t bytes = raster::padded_stride(s.width, f);
  for (int32_t y = 0; y < s.height; ++y) {
    for (int32_t x = 0; x < bytes; ++x) s.row(y)[x] = static_cast<uint8_t>(x * 7 + y * 13 + x * y);
  }
  img->set_resolution(300, 300);
  raster::PropertyItem text{0x010E, raster::ptype::kAscii, {'b', 'a', 'n', 'd', 0}};
  raster::PropertyItem icc{raster::jpeg::kIccProfileTag, raster::ptype::kUndefined,
                           Bytes(3000, 0x5A)};
  img->set_property(text);
  img->set_property(icc);
  return img;
}

TEST(JpegBands, EveryBandHeightEncodesTheBytesOfTheWholeEncoder) {
  for (const raster::PixelFormat f : {k24bppRGB, k8bppIndexed, k32bppARGB}) {
    for (const int32_t quality : {-1, 30, 100}) {
      SCOPED_TRACE(testing::Message() << "format " << f << " quality " << quality);
      std::unique_ptr<Image> img = picture(f);
      raster::EncoderParams params;
      if (quality >= 0) params.push_back({raster::encparam::kQuality, quality});
      Bytes whole;
      raster::MemorySink whole_sink(whole);
      ASSERT_EQ(raster::jpeg::encode(*img, params, whole_sink), Ok);
      const raster::Surface& s = img->surface();
      for (const int32_t band : kBandHeights) {
        Bytes banded;
        raster::MemorySink sink(banded);
        std::unique_ptr<raster::BandWriter> w;
        ASSERT_EQ(raster::jpeg::open_band_writer(raster::band_picture_of(*img), params, sink, w),
                  Ok);
        for (int32_t y = 0; y < s.height; y += band) {
          ASSERT_EQ(w->write(s.row(y), s.stride, std::min(band, s.height - y)), Ok);
        }
        ASSERT_EQ(w->finish(), Ok);
        EXPECT_EQ(banded, whole) << band;
      }
    }
  }
}

TEST(JpegBands, AWriterRefusesBadSettingsAndAPictureShortOfRows) {
  std::unique_ptr<Image> img = picture(k24bppRGB);
  BandPicture p = raster::band_picture_of(*img);
  Bytes out;
  raster::MemorySink sink(out);
  std::unique_ptr<raster::BandWriter> w;
  EXPECT_EQ(raster::jpeg::open_band_writer(p, {{raster::encparam::kQuality, 101}}, sink, w),
            InvalidParameter);
  BandPicture wide = p;
  wide.width = 70000;
  EXPECT_EQ(raster::jpeg::open_band_writer(wide, {}, sink, w), GenericError);
  ASSERT_EQ(raster::jpeg::open_band_writer(p, {}, sink, w), Ok);
  const raster::Surface& s = img->surface();
  ASSERT_EQ(w->write(s.scan0, s.stride, s.height - 1), Ok);
  EXPECT_EQ(w->finish(), WrongState);
  EXPECT_EQ(w->finish(), WrongState);  // the failure sticks
}

}  // namespace
}  // namespace korvex
