// Icon codec: ImageMagick icons, hand-made entries with AND masks, damage, the 32 x 32 writer.
#include <gtest/gtest.h>

#include "codec_test_util.h"
#include "raster/codecs/ico/ico.h"

namespace korvex {
namespace {

using namespace testutil;

using raster::Image;
using enum raster::Status;

// `v` with the little-endian field of `bytes` bytes at `at` set to `x`.
Bytes patched(Bytes v, size_t at, uint32_t x, int bytes = 4) {
  for (int k = 0; k < bytes; ++k) v[at + k] = static_cast<uint8_t>(x >> (8 * k));
  return v;
}

// An entry's DIB: header (doubled height), table (0xRRGGBB), padded colour and mask rows.
Bytes dib(int32_t w, int32_t h, uint32_t bits, const Pixels& table, Bytes colour,
          const Bytes& mask) {
  colour.insert(colour.end(), mask.begin(), mask.end());
  return Bmp{w, 2 * h, bits, 0, colour, table, uint32_t(table.size())}.dib();
}

// Entries of width, height, the bit count the directory states and data.
using Entry = std::tuple<uint8_t, uint8_t, uint16_t, Bytes>;
Bytes ico(const std::vector<Entry>& entries, uint16_t type = 1) {
  Bytes f, data;
  put_le(f, uint64_t{type} << 16 | uint64_t{entries.size()} << 32, 6);
  for (const auto& [w, h, bits, d] : entries) {
    put_le(f, w | h << 8 | uint64_t{1} << 32 | uint64_t{bits} << 48, 8);
    put_le(f, d.size() | (6 + 16 * entries.size() + data.size()) << 32, 8);
    data.insert(data.end(), d.begin(), d.end());
  }
  f.insert(f.end(), data.begin(), data.end());
  return f;
}

// Pixels (and size) of the entry the decoder picks, always 32bppARGB.
Pixels icon_pixels(const Bytes& bytes, std::pair<int32_t, int32_t>* size = nullptr) {
  auto img = decode_ok(bytes);
  EXPECT_EQ(img->format(), raster::pf::k32bppARGB);
  EXPECT_EQ(img->raw_format(), raster::guids::kFormatIcon);
  if (size != nullptr) *size = {img->width(), img->height()};
  return argb_pixels(*img);
}

// Readers differ on the colour under a set mask bit: compared through clear_transparent.
Pixels magick(const Bytes& bytes, int frame = 0) {
  ScratchDir dir;
  write_file(dir.file("x.ico"), bytes);
  return clear_transparent(magick_argb(dir.file("x.ico"), nullptr, nullptr, frame));
}

// The largest of several DIB entries; a 256 x 256 entry stored as PNG.
TEST(IcoDecode, ImageMagickIconsGiveTheLargestEntryAsImageMagickReadsIt) {
  // Arguments, size and frame of the largest entry, first byte of the first
  // entry (a DIB header's size, or PNG's signature).
  const std::tuple<const char*, int32_t, int, uint8_t> cases[] = {
      {"-alpha set -channel A -fx j/h -define icon:auto-resize=16,48,32", 48, 1, 40},
      {"-resize 256x256! -alpha set -channel A -fx i/w", 256, 0, 0x89},
  };
  for (const auto& [args, side, frame, first_byte] : cases) {
    SCOPED_TRACE(args);
    std::string out;
    ASSERT_EQ(run(convert_tool() + " rose: " + args + " ICO:-", &out), 0);
    const Bytes bytes(out.begin(), out.end());
    ASSERT_EQ(bytes.at(bytes.at(18) | bytes.at(19) << 8), first_byte);
    std::pair<int32_t, int32_t> size;
    EXPECT_EQ(clear_transparent(icon_pixels(bytes, &size)), magick(bytes, frame));
    EXPECT_EQ(size, std::pair(side, side));
  }
}

TEST(IcoDecode, EntriesOfEveryDepthTakeAlphaFromAlphaOrTheAndMask) {
  const uint32_t blue = 0x0000FF, yellow = 0xFFFF00, red = 0xFF0000, teal = 0x008080;
  const uint32_t B = 0xFF0000FF, Y = 0xFFFFFF00, R = 0xFFFF0000, T = 0xFF008080;
  // Size, bits, table, colour and mask rows (bottom up), pixels (masked: alpha 0), and
  // whether ImageMagick agrees.
  const std::tuple<uint8_t, uint8_t, uint16_t, Pixels, Bytes, Bytes, Pixels, bool> cases[] = {
      // clang-format off
      // 1 bit, 8 x 2: 0xAA under mask 0x81, 0x0F unmasked.
      {8, 2, 1, {blue, yellow}, {0xAA, 0, 0, 0, 0x0F, 0, 0, 0}, {0x81, 0, 0, 0, 0, 0, 0, 0},
       {B, B, B, B, Y, Y, Y, Y, yellow, B, Y, B, Y, B, Y, blue}, true},
      // 4 bits, 3 x 2, three colours, top-middle masked.
      {3, 2, 4, {red, teal, blue}, {0x01, 0x20, 0, 0, 0x21, 0, 0, 0}, {0, 0, 0, 0, 0x40, 0, 0, 0},
       {B, teal, R, R, T, B}, true},
      // 8 bits, 2 x 2, top-left masked.
      {2, 2, 8, {red, teal, blue}, {2, 1, 0, 0, 0, 2, 0, 0}, {0, 0, 0, 0, 0x80, 0, 0, 0},
       {red, B, B, T}, true},
      // 24 bits, 2 x 1, second pixel masked.
      {2, 1, 24, {}, {1, 2, 3, 4, 5, 6, 0, 0}, {0x40, 0, 0, 0}, {0xFF030201, 0x060504}, true},
      // 32 bits with alpha: the mask is ignored.
      {2, 1, 32, {}, {10, 20, 30, 128, 40, 50, 60, 255}, {0x40, 0, 0, 0},
       {0x801E140A, 0xFF3C3228}, true},
      // 32 bits, alpha all zero: the mask decides (ImageMagick: all transparent).
      {2, 1, 32, {}, {10, 20, 30, 0, 40, 50, 60, 0}, {0x40, 0, 0, 0}, {0xFF1E140A, 0x003C3228},
       false},
      // 32 bits without a mask at all.
      {2, 1, 32, {}, {10, 20, 30, 128, 40, 50, 60, 0}, {}, {0x801E140A, 0x003C3228}, true},
      // clang-format on
  };
  for (const auto& [w, h, bits, table, colour, mask, expected, same_in_magick] : cases) {
    SCOPED_TRACE(testing::Message() << "entry of " << bits << " bits");
    const Bytes file = ico({{w, h, bits, dib(w, h, bits, table, colour, mask)}});
    const Pixels px = icon_pixels(file);
    EXPECT_EQ(px, expected);
    if (same_in_magick) {
      EXPECT_EQ(clear_transparent(px), magick(file));
    }
  }
}

TEST(IcoDecode, ChoosesBySizeThenByTheEntrysOwnDepth) {
  // Same size twice, directory bit counts misleading: the entries' headers decide.
  const Bytes shallow = dib(2, 1, 4, {0x0000FF}, {0, 0, 0, 0}, {0, 0, 0, 0});
  const Bytes deep = dib(2, 1, 32, {}, {0, 0xFF, 0, 0xFF, 0, 0xFF, 0, 0xFF}, {0, 0, 0, 0});
  const Pixels green(2, 0xFF00FF00);
  EXPECT_EQ(icon_pixels(ico({{2, 1, 32, shallow}, {2, 1, 0, deep}})), green);
  // Larger wins over deeper; a width byte of 0 means 256.
  const Bytes wide = dib(4, 1, 4, {0xFF0000}, {0, 0, 0, 0}, {0, 0, 0, 0});
  EXPECT_EQ(icon_pixels(ico({{2, 1, 0, deep}, {0, 1, 4, wide}})), Pixels(4, 0xFFFF0000));
  // Cursors (type 2) keep a hotspot where icons keep planes and bit count.
  EXPECT_EQ(icon_pixels(patched(ico({{2, 1, 0, deep}}, 2), 10, 0x00070001)), green);
  // An entry outside the file is passed over for one inside it.
  EXPECT_EQ(
      icon_pixels(patched(ico({{2, 1, 32, deep}, {64, 64, 32, deep}}), 6 + 16 + 12, 0xFFFFFF00)),
      green);
}

TEST(IcoDecode, DamagedDirectoriesAndEntriesAreRefused) {
  const Bytes deep = dib(2, 1, 32, {}, Bytes(8, 0x80), {0, 0, 0, 0});
  const Bytes good = ico({{2, 1, 32, deep}});
  const Bytes rle = patched(dib(2, 1, 8, {0xFF}, {2, 0, 0, 1}, {0, 0, 0, 0}), 16, 1);
  const Bytes huge = patched(patched(deep, 4, 100000), 8, 200000);
  const PixelLimit limit(uint64_t{1} << 20);
  const std::tuple<const char*, Bytes, raster::Status> cases[] = {
      {"offset at the end", patched(good, 18, uint32_t(good.size())), GenericError},
      {"size past the end", patched(good, 14, uint32_t(deep.size() + 1)), GenericError},
      {"DIB height 1: no mask row", patched(good, 22 + 8, 1), GenericError},
      {"type 3", patched(good, 2, 3, 2), UnknownImageFormat},
      // Ten entries announced: the directory would pass the end.
      {"ten entries", patched(patched(good, 4, 10, 2), 18, 6 + 16 * 10), GenericError},
      {"8-bit entry without its mask", ico({{2, 1, 8, dib(2, 1, 8, {0xFF}, {0, 0, 0, 0}, {})}}),
       GenericError},
      {"RLE8 colour rows", ico({{2, 1, 8, rle}}), NotImplemented},
      {"100000 x 200000", ico({{0, 0, 32, huge}}), OutOfMemory},
  };
  for (const auto& [what, file, status] : cases) EXPECT_EQ(status_of(file), status) << what;
}

TEST(IcoEncode, WritesOneThirtyTwoBitEntryReadBackByBothSides) {
  std::unique_ptr<Image> img;
  ASSERT_EQ(Image::create(32, 32, raster::pf::k32bppARGB, img), Ok);
  Pixels px;
  for (int32_t i = 0, x = 0, y = 0; i < 32 * 32; ++i, x = i % 32, y = i / 32) {
    px.push_back(x * 8 << 24 | y * 8 << 16 | x * 8 << 8 | y);
    ASSERT_EQ(img->set_pixel(x, y, px.back()), Ok);
  }
  Bytes out;
  raster::MemorySink sink(out);
  ASSERT_EQ(raster::encode_ico(*img, sink), Ok);
  ASSERT_EQ(out.size(), 6u + 16 + 40 + 4096 + 128);
  // One 32-bit 32 x 32 entry; the mask sets the sixteen pixels with alpha < 128 in each row.
  Bytes mask;
  for (int row = 0; row < 32; ++row) mask.insert(mask.end(), {0xFF, 0xFF, 0, 0});
  const Bytes colour(out.begin() + 62, out.end() - 128);
  EXPECT_EQ(out, ico({{32, 32, 32, dib(32, 32, 32, {}, colour, mask)}}));
  EXPECT_EQ(icon_pixels(out), px);
  EXPECT_EQ(magick(out), clear_transparent(px));

  for (int32_t side : {16, 48}) {
    ASSERT_EQ(Image::create(32, side, raster::pf::k32bppARGB, img), Ok);
    EXPECT_EQ(raster::encode_ico(*img, sink), InvalidParameter);
  }
}

}  // namespace
}  // namespace korvex
