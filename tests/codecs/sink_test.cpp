// Encoders stream into files the bytes they give in memory; large buffers start zeroed.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>

#include "codec_test_util.h"
#include "host/file_io.h"
#include "raster/big_alloc.h"

namespace korvex {
namespace {

using raster::Image;
namespace pf = raster::pf;
namespace ep = raster::encparam;

// A picture whose rows differ, so strips and rows written out of place show.
std::unique_ptr<Image> picture(raster::PixelFormat f, int32_t w, int32_t h) {
  std::unique_ptr<Image> img;
  EXPECT_EQ(Image::create(w, h, f, img), raster::Status::Ok);
  std::vector<uint32_t> argb;
  for (uint32_t y = 0; y < uint32_t(h); ++y) {
    for (uint32_t x = 0; x < uint32_t(w); ++x) {
      argb.push_back(0xFF000000u | ((x * 7 + y * 3) & 0xFF) << 16 | ((x ^ y) & 0xFF) << 8 |
                     (y * 5 & 0xFF));
    }
  }
  EXPECT_EQ(img->write_pixels({0, 0, w, h}, pf::k32bppARGB,
                              reinterpret_cast<const uint8_t*>(argb.data()), w * 4),
            raster::Status::Ok);
  return img;
}

TEST(StreamingEncoders, AFileWrittenThroughTheSinkIsTheBytesEncodedInMemory) {
  struct Case {
    const char* pattern;
    raster::EncoderParams params;
    raster::PixelFormat format;
  };
  // Large enough to fill TIFF strips, libjpeg's and the sink's buffers several times.
  const Case cases[] = {
      {"*.tif", {{ep::kCompression, ep::kCompressionNone}}, pf::k24bppRGB},
      {"*.tif", {{ep::kCompression, ep::kCompressionLZW}}, pf::k32bppARGB},
      {"*.tif", {{ep::kCompression, ep::kCompressionCCITT4}, {ep::kColorDepth, 1}}, pf::k24bppRGB},
      {"*.bmp", {}, pf::k24bppRGB},
      {"*.bmp", {}, pf::k32bppRGB},
      {"*.png", {}, pf::k24bppRGB},
      {"*.jpg", {{ep::kQuality, 90}}, pf::k24bppRGB},
      {"*.gif", {}, pf::k24bppRGB},
  };
  testutil::ScratchDir dir;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.pattern);
    const raster::Encoder* enc = testutil::encoder_for(c.pattern);
    ASSERT_NE(enc, nullptr);
    auto img = picture(c.format, 1203, 517);
    const std::vector<uint8_t> memory = testutil::encode(c.pattern, *img, c.params);
    const std::string path = dir.file("out");
    ASSERT_EQ(host::write_file_atomically(
                  path, [&](raster::ByteSink& out) { return enc->encode(*img, c.params, out); }),
              raster::Status::Ok);
    const std::vector<uint8_t> file = testutil::read_file(path);
    EXPECT_TRUE(file == memory) << file.size() << " bytes, " << memory.size() << " in memory";
  }
}

TEST(StreamingEncoders, ASinkThatFailsMidwayFailsTheEncode) {
  // A sink that takes a few bytes and then refuses, as a full disk does.
  class FullSink final : public raster::ByteSink {
   public:
    explicit FullSink(size_t room) : room_(room) {}
    bool write(const void*, size_t n) override {
      if (n > room_) return (error_ = raster::Status::Win32Error, false);
      room_ -= n, pos_ += n, end_ = std::max(end_, pos_);
      return true;
    }
    bool seek(uint64_t pos) override { return pos_ = pos, error_ == raster::Status::Ok; }
    uint64_t tell() const override { return pos_; }
    uint64_t size() const override { return end_; }
    size_t read(void*, size_t) override { return 0; }

   private:
    size_t room_;
    uint64_t pos_ = 0, end_ = 0;
  };
  for (const char* pattern : {"*.tif", "*.bmp", "*.png", "*.jpg", "*.gif"}) {
    SCOPED_TRACE(pattern);
    const raster::Encoder* enc = testutil::encoder_for(pattern);
    ASSERT_NE(enc, nullptr);
    auto img = picture(pf::k24bppRGB, 640, 480);
    FullSink sink(4096);
    EXPECT_EQ(enc->encode(*img, {}, sink), raster::Status::Win32Error);
  }
}

// Decodes a file through decode_image_file, as images opened by path are.
raster::Status decode_from_file(const std::string& path, std::unique_ptr<Image>& img) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return raster::Status::FileNotFound;
  const off_t size = ::lseek(fd, 0, SEEK_END);
  const raster::Status st = raster::decode_image_file(fd, static_cast<uint64_t>(size), img);
  ::close(fd);
  return st;
}

TEST(FileDecoding, LargeSinglePageTiffsDecodeStraightFromTheFileAsFromMemory) {
  testutil::ScratchDir dir;
  // Noise keeps compressed variants above the size decoded straight from disk.
  auto img = picture(pf::k24bppRGB, 1400, 1200);
  uint32_t seed = 12345;
  for (int32_t y = 0; y < img->height(); ++y) {
    uint8_t* row = img->surface().row(y);
    for (int32_t x = 0; x < 3 * img->width(); ++x) {
      seed = seed * 1103515245u + 12345u;
      row[x] = static_cast<uint8_t>(seed >> 23);
    }
  }
  const raster::PropertyItem text{270, raster::ptype::kAscii, {'n', 'o', 'i', 's', 'e', 0}};
  ASSERT_EQ(img->set_property(text), raster::Status::Ok);
  const auto plain = testutil::encode("*.tif", *img, {{ep::kCompression, ep::kCompressionNone}});
  const std::string plain_tif = dir.file("plain.tif");
  testutil::write_file(plain_tif, plain);
  for (const std::string& args :
       {"-compress lzw " + dir.file("lzw.tif"),
        "-define tiff:tile-geometry=256x256 -compress none " + dir.file("tiled.tif"),
        plain_tif + " -compress none " + dir.file("pages.tif")}) {
    ASSERT_EQ(testutil::run(testutil::convert_tool() + " " + plain_tif + " " + args), 0) << args;
  }
  for (const char* name : {"plain.tif", "lzw.tif", "tiled.tif"}) {
    SCOPED_TRACE(name);
    const std::vector<uint8_t> bytes = testutil::read_file(dir.file(name));
    ASSERT_GE(bytes.size(), raster::kLargeBuffer);
    std::unique_ptr<Image> from_memory, from_file;
    ASSERT_EQ(testutil::decode(bytes, from_memory), raster::Status::Ok);
    ASSERT_EQ(decode_from_file(dir.file(name), from_file), raster::Status::Ok);
    EXPECT_EQ(from_file->format(), from_memory->format());
    EXPECT_EQ(from_file->dpi_x(), from_memory->dpi_x());
    EXPECT_EQ(from_file->frame_count(), 1u);
    EXPECT_TRUE(testutil::argb_pixels(*from_file) == testutil::argb_pixels(*from_memory));
    EXPECT_EQ(from_file->properties(), from_memory->properties());
    const raster::PropertyItem* desc = from_file->property(270);
    ASSERT_NE(desc, nullptr);
    EXPECT_EQ(desc->value, text.value);
  }
  // Several pages, or a cut file (failing as from memory), are read whole.
  std::unique_ptr<Image> none;
  EXPECT_EQ(decode_from_file(dir.file("pages.tif"), none), raster::Status::NotImplemented);
  std::vector<uint8_t> cut = plain;
  cut.resize(cut.size() / 2);
  testutil::write_file(dir.file("cut.tif"), cut);
  std::unique_ptr<Image> whole;
  const raster::Status from_memory = testutil::decode(cut, whole);
  const raster::Status from_file = decode_from_file(dir.file("cut.tif"), none);
  EXPECT_TRUE(from_file == raster::Status::NotImplemented || from_file == from_memory);
}

TEST(LargeBuffers, SurfacesAndZeroedBuffersAreZeroEvenOnReusedMemory) {
  // Dirtied large blocks, freed so that the next allocations may reuse them.
  for (size_t mb : {5, 17}) {
    uint8_t* dirty = raster::allocate_buffer(mb << 20, false);
    ASSERT_NE(dirty, nullptr);
    std::memset(dirty, 0xA5, mb << 20);
    std::free(dirty);
  }
  for (size_t bytes : {raster::kLargeBuffer - 1, raster::kLargeBuffer, (size_t{17} << 20) + 3}) {
    uint8_t* p = raster::allocate_buffer(bytes, true);
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(std::count(p, p + bytes, 0), ptrdiff_t(bytes)) << bytes;
    std::free(p);
  }
  raster::Surface s;
  ASSERT_EQ(raster::allocate_surface(2500, 1800, pf::k32bppARGB, s), raster::Status::Ok);
  for (int32_t y = 0; y < s.height; ++y) {
    ASSERT_EQ(std::count(s.row(y), s.row(y) + s.stride, 0), s.stride) << y;
  }
}

}  // namespace
}  // namespace korvex
