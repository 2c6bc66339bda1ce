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

using namespace testutil;

using raster::Image;
namespace pf = raster::pf;
namespace ep = raster::encparam;

// The file sink itself is held to the memory sink in the host tests; here the writers that
// seek back and read through the sink (libtiff) and fill libjpeg's buffers, end to end.
TEST(StreamingEncoders, AFileWrittenThroughTheSinkIsTheBytesEncodedInMemory) {
  const std::pair<const char*, raster::EncoderParams> cases[] = {
      {"*.tif", {{ep::kCompression, ep::kCompressionLZW}}},
      {"*.tif", {{ep::kCompression, ep::kCompressionCCITT4}, {ep::kColorDepth, 1}}},
      {"*.jpg", {{ep::kQuality, 90}}},
  };
  ScratchDir dir;
  auto img = pattern_image(pf::k32bppARGB, 1203, 517);
  for (const auto& [pattern, params] : cases) {
    SCOPED_TRACE(pattern);
    const raster::Encoder* enc = encoder_for(pattern);
    ASSERT_NE(enc, nullptr);
    const Bytes memory = encode(pattern, *img, params);
    ASSERT_EQ(
        host::write_file_atomically(
            dir.file("out"), [&](raster::ByteSink& out) { return enc->encode(*img, params, out); }),
        raster::Status::Ok);
    const Bytes file = read_file(dir.file("out"));
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
    const raster::Encoder* enc = encoder_for(pattern);
    ASSERT_NE(enc, nullptr);
    auto img = pattern_image(pf::k24bppRGB, 640, 480);
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
  ScratchDir dir;
  // Noise keeps compressed variants above the size decoded straight from disk.
  std::unique_ptr<Image> img;
  ASSERT_EQ(Image::create(1400, 1200, pf::k24bppRGB, img), raster::Status::Ok);
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
  const Bytes plain = encode("*.tif", *img, {{ep::kCompression, ep::kCompressionNone}});
  const std::string plain_tif = dir.file("plain.tif");
  write_file(plain_tif, plain);
  for (const std::string& args :
       {"-compress lzw " + dir.file("lzw.tif"),
        "-define tiff:tile-geometry=256x256 -compress none " + dir.file("tiled.tif"),
        plain_tif + " -compress none " + dir.file("pages.tif")}) {
    ASSERT_EQ(run(convert_tool() + " " + plain_tif + " " + args), 0) << args;
  }
  for (const char* name : {"plain.tif", "lzw.tif", "tiled.tif"}) {
    SCOPED_TRACE(name);
    const Bytes bytes = read_file(dir.file(name));
    ASSERT_GE(bytes.size(), raster::kLargeBuffer);
    std::unique_ptr<Image> from_memory, from_file;
    ASSERT_EQ(decode(bytes, from_memory), raster::Status::Ok);
    ASSERT_EQ(decode_from_file(dir.file(name), from_file), raster::Status::Ok);
    EXPECT_EQ(from_file->format(), from_memory->format());
    EXPECT_EQ(from_file->dpi_x(), from_memory->dpi_x());
    EXPECT_EQ(from_file->frame_count(), 1u);
    EXPECT_TRUE(argb_pixels(*from_file) == argb_pixels(*from_memory));
    EXPECT_EQ(from_file->properties(), from_memory->properties());
    EXPECT_EQ(property_bytes(*from_file, 270), text.value);
  }
  // Several pages, or a cut file (failing as from memory), are read whole.
  std::unique_ptr<Image> none;
  EXPECT_EQ(decode_from_file(dir.file("pages.tif"), none), raster::Status::NotImplemented);
  const Bytes cut(plain.begin(), plain.begin() + plain.size() / 2);
  write_file(dir.file("cut.tif"), cut);
  const raster::Status from_file = decode_from_file(dir.file("cut.tif"), none);
  EXPECT_TRUE(from_file == raster::Status::NotImplemented || from_file == status_of(cut));
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
