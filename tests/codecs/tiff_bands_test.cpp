// TIFF pages in bands: the strip writer gives the whole encoder's bytes for
// any band height, and large files read in bands straight from the file give
// the whole decoder's pixels and metadata; what is left to the whole decoder.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstring>

#include "codec_test_util.h"
#include "raster/bands.h"
#include "raster/codecs/tiff/tiff_pages.h"

namespace korvex {
namespace {

using raster::BandPicture;
using raster::Image;
using enum raster::Status;
using namespace raster::pf;
using Bytes = std::vector<uint8_t>;
using testutil::ScratchDir;

const int32_t kBandHeights[] = {1, 7, 5000};

std::unique_ptr<Image> picture(raster::PixelFormat f, int32_t w, int32_t h) {
  std::unique_ptr<Image> img;
  EXPECT_EQ(Image::create(w, h, f, img), Ok);
  raster::Surface& s = img->surface();
  const int32_t bytes = raster::padded_stride(w, f);
  for (int32_t y = 0; y < h; ++y) {
    for (int32_t x = 0; x < bytes; ++x)
      s.row(y)[x] = static_cast<uint8_t>((x * 7 + y * 3) ^ (x * y));
  }
  img->set_resolution(200, 150);
  img->set_property({0x010E, raster::ptype::kAscii, {'s', 't', 'r', 'i', 'p', 0}});
  img->set_property({0x9003, raster::ptype::kAscii, Bytes(20, '1')});  // an Exif item
  return img;
}

Bytes encode_whole(Image& img, const raster::EncoderParams& params) {
  Bytes out;
  raster::MemorySink sink(out);
  EXPECT_EQ(raster::tiffcodec::encode(img, params, sink), Ok);
  return out;
}

TEST(TiffBands, EveryBandHeightWritesTheBytesOfTheWholeEncoder) {
  using raster::encparam::kColorDepth;
  using raster::encparam::kCompression;
  const std::pair<raster::PixelFormat, raster::EncoderParams> cases[] = {
      {k24bppRGB, {}},
      {k24bppRGB, {{kCompression, raster::encparam::kCompressionNone}}},
      {k24bppRGB, {{kColorDepth, 8}}},
      {k32bppARGB, {{kColorDepth, 32}}},
      {k8bppIndexed, {{kCompression, raster::encparam::kCompressionNone}}},
      {k1bppIndexed, {{kCompression, raster::encparam::kCompressionCCITT4}}},
  };
  for (const auto& [format, params] : cases) {
    SCOPED_TRACE(testing::Message() << "format " << format << " params " << params.size());
    std::unique_ptr<Image> img = picture(format, 131, 57);
    const Bytes whole = encode_whole(*img, params);
    for (const int32_t band : kBandHeights) {
      Bytes banded;
      ASSERT_EQ(testutil::encode_in_bands(raster::tiffcodec::open_band_writer, *img, params, band,
                                          banded),
                Ok);
      EXPECT_EQ(banded, whole) << band;
    }
  }
}

struct OpenFile {
  explicit OpenFile(const std::string& path) : fd(::open(path.c_str(), O_RDONLY)) {}
  ~OpenFile() { ::close(fd); }
  uint64_t size() const { return static_cast<uint64_t>(::lseek(fd, 0, SEEK_END)); }
  int fd;
};

TEST(TiffBands, LargeFilesReadInBandsGiveTheWholeDecodersPixelsAndMetadata) {
  ScratchDir dir;
  // Stripped RGB, stripped gray, tiled RGB: 4 MB and more each.
  testutil::write_file(dir.file("rgb.tif"), encode_whole(*picture(k24bppRGB, 1201, 1170),
                                                         {{raster::encparam::kCompression, 6}}));
  testutil::write_file(dir.file("gray.tif"), encode_whole(*picture(k8bppIndexed, 2100, 2001),
                                                          {{raster::encparam::kCompression, 6}}));
  ASSERT_EQ(
      testutil::run(testutil::convert_tool() + " " + dir.file("rgb.tif") +
                    " -define tiff:tile-geometry=256x64 -compress none " + dir.file("tiled.tif")),
      0);
  for (const std::string name : {"rgb.tif", "gray.tif", "tiled.tif"}) {
    SCOPED_TRACE(name);
    OpenFile f(dir.file(name));
    std::unique_ptr<Image> whole;
    ASSERT_EQ(raster::tiffcodec::decode_file(f.fd, f.size(), whole), Ok);
    const raster::Surface& s = whole->surface();
    const size_t row = static_cast<size_t>(raster::padded_stride(s.width, s.format));
    for (const int32_t band : kBandHeights) {
      std::unique_ptr<raster::BandReader> r;
      ASSERT_EQ(raster::tiffcodec::open_band_file_reader(f.fd, f.size(), r), Ok);
      const BandPicture& p = r->picture();
      EXPECT_EQ(p.width, s.width);
      EXPECT_EQ(p.height, s.height);
      EXPECT_EQ(p.format, s.format);
      EXPECT_EQ(p.palette, whole->palette());
      EXPECT_EQ(p.dpi_x, whole->dpi_x());
      EXPECT_EQ(p.dpi_y, whole->dpi_y());
      EXPECT_EQ(p.properties, whole->properties());
      Bytes rows(row * static_cast<size_t>(band));
      for (int32_t y = 0; y < p.height; y += band) {
        const int32_t n = std::min(band, p.height - y);
        ASSERT_EQ(r->read(rows.data(), static_cast<ptrdiff_t>(row), n), Ok);
        for (int32_t i = 0; i < n; ++i) {
          ASSERT_EQ(std::memcmp(rows.data() + i * row, s.row(y + i), row), 0) << y + i;
        }
      }
    }
  }
  // Small files, and 1-bit pages, are decoded whole; a file cut inside its
  // strips fails at the band that lacks its data.
  testutil::write_file(dir.file("small.tif"), encode_whole(*picture(k24bppRGB, 64, 64), {}));
  testutil::write_file(dir.file("bits.tif"), encode_whole(*picture(k1bppIndexed, 6000, 6000),
                                                          {{raster::encparam::kCompression, 6}}));
  for (const std::string name : {"small.tif", "bits.tif"}) {
    OpenFile f(dir.file(name));
    std::unique_ptr<raster::BandReader> r;
    EXPECT_EQ(raster::tiffcodec::open_band_file_reader(f.fd, f.size(), r), NotImplemented) << name;
  }
  // A file cut short while its bands are read fails with GenericError from
  // the first band whose strips are gone, and stays failed.
  OpenFile f(dir.file("rgb.tif"));
  std::unique_ptr<raster::BandReader> r;
  ASSERT_EQ(raster::tiffcodec::open_band_file_reader(f.fd, f.size(), r), Ok);
  const int w = ::open(dir.file("rgb.tif").c_str(), O_WRONLY);
  ASSERT_EQ(::ftruncate(w, 2u << 20), 0);
  ::close(w);
  const size_t row = static_cast<size_t>(raster::padded_stride(1201, k24bppRGB));
  Bytes rows(row * 64);
  raster::Status st = Ok;
  int32_t y = 0;
  for (; y < 1170 && st == Ok; y += 64) st = r->read(rows.data(), static_cast<ptrdiff_t>(row), 64);
  EXPECT_EQ(st, GenericError);
  EXPECT_GT(y, 64 * 8);  // the first 2 MB of rows were there
  EXPECT_EQ(r->read(rows.data(), static_cast<ptrdiff_t>(row), 1), GenericError);
}

}  // namespace
}  // namespace korvex
