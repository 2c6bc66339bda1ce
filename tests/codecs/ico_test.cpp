// Icon decoder and writer: ImageMagick icons with several sizes, hand-made
// entries of every depth with AND masks, damaged directories, and our 32 x 32
// writer read back by ImageMagick and by our decoder.
#include <gtest/gtest.h>

#include "codec_test_util.h"
#include "raster/codecs/ico/ico.h"

namespace korvex {
namespace {

using raster::Image;
using raster::Status;
using Bytes = std::vector<uint8_t>;
using U32s = std::vector<uint32_t>;

void le(Bytes& v, uint64_t x, int bytes) {
  for (int k = 0; k < bytes; ++k) v.push_back(static_cast<uint8_t>(x >> (8 * k)));
}
void set32(Bytes& v, size_t at, uint32_t x) {
  for (int k = 0; k < 4; ++k) v[at + k] = static_cast<uint8_t>(x >> (8 * k));
}

// An entry's DIB: 40-byte header with the doubled height, colour table
// (0xRRGGBB), then the stored colour rows and mask rows, already padded.
Bytes dib(int32_t w, int32_t h, uint32_t bits, const U32s& table, const Bytes& colour,
          const Bytes& mask) {
  Bytes d;
  for (uint32_t x : {40u, uint32_t(w), uint32_t(2 * h), 1 | bits << 16, 0u, 0u, 0u, 0u,
                     uint32_t(table.size()), 0u}) {
    le(d, x, 4);
  }
  for (uint32_t c : table) le(d, c, 4);
  d.insert(d.end(), colour.begin(), colour.end());
  d.insert(d.end(), mask.begin(), mask.end());
  return d;
}

struct Entry {
  uint8_t w, h;
  uint16_t bits;  // as the directory states it
  Bytes data;
};
Bytes ico(const std::vector<Entry>& entries, uint16_t type = 1) {
  Bytes f;
  le(f, uint64_t{type} << 16 | uint64_t{entries.size()} << 32, 6);
  size_t offset = 6 + 16 * entries.size();
  for (const Entry& e : entries) {
    le(f, e.w | e.h << 8 | uint64_t{1} << 32 | uint64_t{e.bits} << 48, 8);
    le(f, e.data.size() | uint64_t{offset} << 32, 8);
    offset += e.data.size();
  }
  for (const Entry& e : entries) f.insert(f.end(), e.data.begin(), e.data.end());
  return f;
}

struct Decoded {
  Status status = Status::GenericError;
  std::unique_ptr<Image> img;
  U32s px;
};
Decoded decode(const Bytes& bytes) {
  Decoded d;
  d.status = testutil::decode(bytes, d.img);
  if (d.status != Status::Ok) return d;
  EXPECT_EQ(d.img->format(), raster::pf::k32bppARGB);
  EXPECT_EQ(d.img->raw_format(), raster::guids::kFormatIcon);
  EXPECT_EQ(d.img->dpi_x(), 96.0f);
  d.px = testutil::argb_pixels(*d.img);
  return d;
}

// Fully transparent pixels compare equal whatever their colour: readers
// differ on the colour under a set mask bit.
U32s visible(U32s px) {
  for (uint32_t& p : px) p = (p >> 24) == 0 ? 0 : p;
  return px;
}
U32s magick(const Bytes& bytes) {
  testutil::ScratchDir dir;
  testutil::write_file(dir.file("x.ico"), bytes);
  return visible(testutil::rgba_to_argb(testutil::magick_rgba(dir.file("x.ico"))));
}

TEST(IcoDecode, PicksTheLargestEntryOfAnImageMagickIcon) {
  testutil::ScratchDir dir;
  const std::string file = dir.file("multi.ico");
  ASSERT_EQ(testutil::run(testutil::convert_tool() + " rose: -alpha set -channel A -fx j/h " +
                          "-define icon:auto-resize=16,48,32 " + file),
            0);
  Decoded d = decode(testutil::read_file(file));
  ASSERT_EQ(d.status, Status::Ok);
  EXPECT_EQ(d.img->width() * d.img->height(), 48 * 48);
  EXPECT_EQ(visible(d.px),
            visible(testutil::rgba_to_argb(testutil::magick_rgba(file, nullptr, nullptr, 1))));
}

TEST(IcoDecode, EntriesOfEveryDepthTakeAlphaFromAlphaOrTheAndMask) {
  const uint32_t blue = 0x0000FF, yellow = 0xFFFF00, red = 0xFF0000, teal = 0x008080;
  const uint32_t B = 0xFF0000FF, Y = 0xFFFFFF00, R = 0xFFFF0000, T = 0xFF008080;
  const struct {
    Bytes file;
    U32s expected;  // a masked pixel keeps its colour at alpha 0
    bool magick = true;
  } cases[] = {
      // 1 bit, 8 x 2, bottom row stored first: 0xAA under mask 0x81, 0x0F unmasked.
      {ico({{8, 2, 1,
             dib(8, 2, 1, {blue, yellow}, {0xAA, 0, 0, 0, 0x0F, 0, 0, 0},
                 {0x81, 0, 0, 0, 0, 0, 0, 0})}}),
       {B, B, B, B, Y, Y, Y, Y, yellow, B, Y, B, Y, B, Y, blue}},
      // 4 bits, 3 x 2, three colours, top-middle masked.
      {ico({{3, 2, 4,
             dib(3, 2, 4, {red, teal, blue}, {0x01, 0x20, 0, 0, 0x21, 0, 0, 0},
                 {0, 0, 0, 0, 0x40, 0, 0, 0})}}),
       {B, teal, R, R, T, B}},
      // 8 bits, 2 x 2, top-left masked.
      {ico({{2, 2, 8,
             dib(2, 2, 8, {red, teal, blue}, {2, 1, 0, 0, 0, 2, 0, 0},
                 {0, 0, 0, 0, 0x80, 0, 0, 0})}}),
       {red, B, B, T}},
      // 24 bits, 2 x 1, second pixel masked.
      {ico({{2, 1, 24, dib(2, 1, 24, {}, {1, 2, 3, 4, 5, 6, 0, 0}, {0x40, 0, 0, 0})}}),
       {0xFF030201, 0x060504}},
      // 32 bits with alpha: the mask is ignored.
      {ico({{2, 1, 32, dib(2, 1, 32, {}, {10, 20, 30, 128, 40, 50, 60, 255}, {0x40, 0, 0, 0})}}),
       {0x801E140A, 0xFF3C3228}},
      // 32 bits, alpha all zero: the mask decides. (ImageMagick shows such an
      // entry fully transparent.)
      {ico({{2, 1, 32, dib(2, 1, 32, {}, {10, 20, 30, 0, 40, 50, 60, 0}, {0x40, 0, 0, 0})}}),
       {0xFF1E140A, 0x003C3228},
       false},
      // 32 bits without a mask at all.
      {ico({{2, 1, 32, dib(2, 1, 32, {}, {10, 20, 30, 128, 40, 50, 60, 0}, {})}}),
       {0x801E140A, 0x003C3228}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << "entry of " << int(c.file[12]) << " bits");
    Decoded d = decode(c.file);
    ASSERT_EQ(d.status, Status::Ok);
    EXPECT_EQ(d.px, c.expected);
    if (c.magick) {
      EXPECT_EQ(visible(d.px), magick(c.file));
    }
  }
}

TEST(IcoDecode, ChoosesBySizeThenByTheEntrysOwnDepth) {
  // Same size twice, with misleading directory bit counts (32 on the 4-bit
  // entry, 0 on the 32-bit one): the entries' headers decide.
  const Bytes shallow = dib(2, 1, 4, {0x0000FF}, {0, 0, 0, 0}, {0, 0, 0, 0});
  const Bytes deep = dib(2, 1, 32, {}, {0, 0xFF, 0, 0xFF, 0, 0xFF, 0, 0xFF}, {0, 0, 0, 0});
  EXPECT_EQ(decode(ico({{2, 1, 32, shallow}, {2, 1, 0, deep}})).px, U32s(2, 0xFF00FF00));
  // Larger wins over deeper; a width byte of 0 means 256.
  const Bytes wide = dib(4, 1, 4, {0xFF0000}, {0, 0, 0, 0}, {0, 0, 0, 0});
  EXPECT_EQ(decode(ico({{2, 1, 0, deep}, {0, 1, 4, wide}})).px, U32s(4, 0xFFFF0000));
  // Cursors (type 2) keep a hotspot where icons keep planes and bit count.
  Bytes cursor = ico({{2, 1, 0, deep}}, 2);
  set32(cursor, 10, 0x00070001);
  EXPECT_EQ(decode(cursor).px, U32s(2, 0xFF00FF00));
  // An entry outside the file is passed over for one inside it.
  Bytes two = ico({{2, 1, 32, deep}, {64, 64, 32, deep}});
  set32(two, 6 + 16 + 12, 0xFFFFFF00);
  EXPECT_EQ(decode(two).px, U32s(2, 0xFF00FF00));
}

TEST(IcoDecode, DamagedDirectoriesAndEntriesAreRefused) {
  const Bytes deep = dib(2, 1, 32, {}, Bytes(8, 0x80), {0, 0, 0, 0});
  const Bytes good = ico({{2, 1, 32, deep}});
  const auto changed = [&](size_t at, uint32_t value, int bytes = 4) {
    Bytes f = good;
    for (int k = 0; k < bytes; ++k) f[at + k] = static_cast<uint8_t>(value >> (8 * k));
    return decode(f).status;
  };
  EXPECT_EQ(changed(18, uint32_t(good.size())), Status::GenericError) << "offset at the end";
  EXPECT_EQ(changed(14, uint32_t(deep.size() + 1)), Status::GenericError) << "size past the end";
  EXPECT_EQ(changed(22 + 8, 1), Status::GenericError) << "DIB height 1: no mask row";
  EXPECT_EQ(changed(2, 3, 2), Status::UnknownImageFormat) << "type 3";
  Bytes many = good;  // ten entries announced, the directory would pass the end
  many[4] = 10;
  set32(many, 18, 6 + 16 * 10);
  EXPECT_EQ(decode(many).status, Status::GenericError);
  EXPECT_EQ(decode(ico({{2, 1, 8, dib(2, 1, 8, {0xFF}, {0, 0, 0, 0}, {})}})).status,
            Status::GenericError)
      << "8-bit entry without its mask";
  Bytes rle = dib(2, 1, 8, {0xFF}, {2, 0, 0, 1}, {0, 0, 0, 0});
  set32(rle, 16, 1);
  EXPECT_EQ(decode(ico({{2, 1, 8, rle}})).status, Status::NotImplemented) << "RLE8 colour rows";

  raster::set_pixel_memory_limit(uint64_t{1} << 20);
  Bytes huge = deep;
  set32(huge, 4, 100000);
  set32(huge, 8, 200000);
  EXPECT_EQ(decode(ico({{0, 0, 32, huge}})).status, Status::OutOfMemory);
  raster::set_pixel_memory_limit(uint64_t{4} << 30);
}

// Decoded by the PNG decoder, so it needs the PNG codec in the library.
TEST(IcoDecode, PngEntryMatchesImageMagick) {
  testutil::ScratchDir dir;
  const std::string file = dir.file("big.ico");
  ASSERT_EQ(testutil::run(testutil::convert_tool() +
                          " rose: -resize 256x256! -alpha set -channel A -fx i/w " + file),
            0);
  const Bytes bytes = testutil::read_file(file);
  ASSERT_EQ(bytes.at(22), 0x89) << "ImageMagick wrote a PNG entry";
  Decoded d = decode(bytes);
  ASSERT_EQ(d.status, Status::Ok);
  EXPECT_EQ(d.img->width(), 256);
  EXPECT_EQ(visible(d.px), magick(bytes));
}

TEST(IcoEncode, WritesOneThirtyTwoBitEntryReadBackByBothSides) {
  std::unique_ptr<Image> img;
  ASSERT_EQ(Image::create(32, 32, raster::pf::k32bppARGB, img), Status::Ok);
  U32s px;
  for (uint32_t y = 0; y < 32; ++y) {
    for (uint32_t x = 0; x < 32; ++x) px.push_back(x * 8 << 24 | y * 8 << 16 | x * 8 << 8 | y);
  }
  ASSERT_EQ(img->write_pixels({0, 0, 32, 32}, raster::pf::k32bppARGB,
                              reinterpret_cast<const uint8_t*>(px.data()), 128),
            Status::Ok);
  Bytes out;
  ASSERT_EQ(raster::encode_ico(*img, out), Status::Ok);
  ASSERT_EQ(out.size(), 6u + 16 + 40 + 4096 + 128);
  // Directory: icon, one entry of 32 x 32, 1 plane, 32 bits, its size and offset.
  Bytes head = ico({{32, 32, 32, Bytes(40 + 4096 + 128)}});
  head.resize(22);
  EXPECT_EQ(Bytes(out.begin(), out.begin() + 22), head);
  EXPECT_EQ(out[22 + 8], 64) << "the height counts colour and mask rows";
  // Each mask row sets the sixteen pixels with alpha < 128.
  for (size_t row = 0; row < 32; ++row) {
    EXPECT_EQ(Bytes(out.begin() + 4158 + 4 * row, out.begin() + 4162 + 4 * row),
              (Bytes{0xFF, 0xFF, 0, 0}));
  }
  EXPECT_EQ(decode(out).px, px);
  EXPECT_EQ(magick(out), visible(px));

  for (int32_t side : {16, 48}) {
    ASSERT_EQ(Image::create(32, side, raster::pf::k32bppARGB, img), Status::Ok);
    EXPECT_EQ(raster::encode_ico(*img, out), Status::InvalidParameter);
  }
}

}  // namespace
}  // namespace korvex
