// PNG codec: PngSuite files against ImageMagick, hand-built files with known
// bytes, damaged and oversized files, and the encoder's output read back by
// ImageMagick and by the decoder.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdlib>
#include <cstring>
#include <string>

#include "codec_test_util.h"

namespace korvex {
namespace {

using raster::Image;
using raster::Status;
using testutil::convert_tool;
namespace pf = raster::pf;
using namespace std::string_literals;

std::string suite(const std::string& name) {
  return std::string(KORVEX_SOURCE_DIR) + "/tests/data/png/" + name + ".png";
}

// Compares a decoded PngSuite file with ImageMagick's reading of it, as
// 16-bit R, G, B, A samples: exactly for 48bppRGB and 64bppARGB, and through
// the 32bppARGB view otherwise. Most PngSuite files carry gAMA 1.0, for which
// ImageMagick labels the pixels linear and would convert them to sRGB on
// output; relabelling them keeps the stored samples.
void expect_same_as_magick(Image& img, const std::string& path) {
  std::string raw;
  ASSERT_EQ(testutil::run(convert_tool() + " '" + path +
                              "[0]' -set colorspace sRGB -depth 16 -endian LSB RGBA:-",
                          &raw),
            0);
  ASSERT_EQ(raw.size(), static_cast<size_t>(img.width()) * img.height() * 8);
  const int deep = raster::bits_per_pixel(img.format()) / 16;  // 3 or 4 samples, else 0-2
  const std::vector<uint32_t> argb = testutil::argb_pixels(img);
  for (size_t i = 0; i < argb.size(); ++i) {
    uint16_t ours[4] = {0, 0, 0, 0xFFFF}, theirs[4];  // B, G, R, A and R, G, B, A
    if (deep >= 3) {
      std::memcpy(
          ours,
          img.surface().row(static_cast<int32_t>(i / img.width())) + i % img.width() * deep * 2,
          deep * 2);
    } else {
      for (int c = 0; c < 4; ++c) ours[c] = static_cast<uint16_t>((argb[i] >> 8 * c & 0xFF) * 257);
    }
    std::memcpy(theirs, raw.data() + 8 * i, 8);
    ASSERT_EQ((std::array{ours[2], ours[1], ours[0], ours[3]}),
              (std::array{theirs[0], theirs[1], theirs[2], theirs[3]}))
        << "pixel " << i;
  }
}

// --- PNG files built byte by byte -------------------------------------------

void put_be32(std::vector<uint8_t>& v, uint32_t x) {
  for (int s = 24; s >= 0; s -= 8) v.push_back(static_cast<uint8_t>(x >> s));
}

uint32_t crc32(const std::vector<uint8_t>& bytes, size_t from) {
  uint32_t c = 0xFFFFFFFFu;
  for (size_t i = from; i < bytes.size(); ++i) {
    c ^= bytes[i];
    for (int k = 0; k < 8; ++k) c = c >> 1 ^ (0xEDB88320u & (0u - (c & 1)));
  }
  return ~c;
}

// A zlib stream of stored (uncompressed) deflate blocks.
std::vector<uint8_t> zlib_stored(const std::vector<uint8_t>& raw) {
  std::vector<uint8_t> z = {0x78, 0x01};
  size_t pos = 0;
  do {
    const size_t n = std::min<size_t>(raw.size() - pos, 65535);
    z.push_back(pos + n == raw.size() ? 1 : 0);
    z.insert(z.end(), {uint8_t(n), uint8_t(n >> 8), uint8_t(~n), uint8_t(~n >> 8)});
    z.insert(z.end(), raw.begin() + pos, raw.begin() + pos + n);
    pos += n;
  } while (pos < raw.size());
  uint32_t a = 1, b = 0;
  for (uint8_t c : raw) a = (a + c) % 65521, b = (b + a) % 65521;
  put_be32(z, b << 16 | a);
  return z;
}

using Chunks = std::vector<std::pair<std::string, std::vector<uint8_t>>>;

// Signature, IHDR, `before`, one IDAT holding `rows` (filter bytes included),
// `after`, IEND.
std::vector<uint8_t> build_png(uint32_t w, uint32_t h, uint8_t depth, uint8_t color,
                               const std::vector<uint8_t>& rows, const Chunks& before = {},
                               const Chunks& after = {}) {
  std::vector<uint8_t> ihdr;
  put_be32(ihdr, w);
  put_be32(ihdr, h);
  ihdr.insert(ihdr.end(), {depth, color, 0, 0, 0});
  Chunks all = {{"IHDR", ihdr}};
  all.insert(all.end(), before.begin(), before.end());
  all.push_back({"IDAT", zlib_stored(rows)});
  all.insert(all.end(), after.begin(), after.end());
  all.push_back({"IEND", {}});
  std::vector<uint8_t> out = {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A};
  for (const auto& [type, data] : all) {
    put_be32(out, static_cast<uint32_t>(data.size()));
    const size_t from = out.size();
    out.insert(out.end(), type.begin(), type.end());
    out.insert(out.end(), data.begin(), data.end());
    put_be32(out, crc32(out, from));
  }
  return out;
}

std::vector<uint8_t> bytes(const std::string& s) {
  return {s.begin(), s.end()};
}

// The body of the first chunk of a type in a PNG file (empty when absent).
std::vector<uint8_t> chunk_body(const std::vector<uint8_t>& png, const std::string& type) {
  for (size_t p = 8; p + 12 <= png.size();) {
    const uint32_t n = uint32_t{png[p]} << 24 | png[p + 1] << 16 | png[p + 2] << 8 | png[p + 3];
    if (std::memcmp(&png[p + 4], type.data(), 4) == 0) {
      return {png.begin() + p + 8, png.begin() + p + 8 + n};
    }
    p += 12 + n;
  }
  return {};
}

std::unique_ptr<Image> decode_ok(const std::vector<uint8_t>& file) {
  std::unique_ptr<Image> img;
  EXPECT_EQ(testutil::decode(file, img), Status::Ok);
  return img;
}

std::vector<uint8_t> surface_row(const Image& img, int32_t y, size_t n) {
  const uint8_t* r = img.surface().row(y);
  return {r, r + n};
}

// --- Decoding ---------------------------------------------------------------

TEST(PngDecode, PngSuiteMatchesImageMagickInEveryColourTypeAndDepth) {
  // Each basic file also in its interlaced variant (basi...).
  const std::pair<const char*, raster::PixelFormat> files[] = {
      {"basn0g01", pf::k1bppIndexed}, {"basn0g02", pf::k4bppIndexed},
      {"basn0g04", pf::k4bppIndexed}, {"basn0g08", pf::k8bppIndexed},
      {"basn0g16", pf::k48bppRGB},    {"basn2c08", pf::k24bppRGB},
      {"basn2c16", pf::k48bppRGB},    {"basn3p01", pf::k1bppIndexed},
      {"basn3p02", pf::k4bppIndexed}, {"basn3p04", pf::k4bppIndexed},
      {"basn3p08", pf::k8bppIndexed}, {"basn4a08", pf::k32bppARGB},
      {"basn4a16", pf::k64bppARGB},   {"basn6a08", pf::k32bppARGB},
      {"basn6a16", pf::k64bppARGB},   {"tbbn0g04", pf::k32bppARGB},
      {"tbrn2c08", pf::k32bppARGB},   {"tbwn0g16", pf::k64bppARGB},
      {"tbbn2c16", pf::k64bppARGB},   {"tm3n3p02", pf::k4bppIndexed},
      {"tp0n0g08", pf::k8bppIndexed}, {"tp0n2c08", pf::k24bppRGB}};
  for (const auto& [name, format] : files) {
    std::vector<std::string> variants = {name};
    if (variants[0].rfind("basn", 0) == 0) variants.push_back("basi" + variants[0].substr(4));
    for (const std::string& variant : variants) {
      SCOPED_TRACE(variant);
      auto img = decode_ok(testutil::read_file(suite(variant)));
      ASSERT_NE(img, nullptr);
      EXPECT_EQ(img->format(), format);
      EXPECT_EQ(img->raw_format(), raster::guids::kFormatPng);
      expect_same_as_magick(*img, suite(variant));
    }
  }
  // Odd sizes (interlace passes with few or no pixels), filters, chunk order,
  // zlib levels, tRNS palettes and ancillary chunks that are skipped.
  for (const char* name :
       {"s01i3p01", "s01n3p01", "s02i3p01", "s03n3p01", "s05i3p02", "s07n3p02", "s09i3p02",
        "s33n3p04", "s35i3p04", "s39n3p04", "s40i3p04", "f99n0g04", "f04n2c08", "z00n2c08",
        "z09n2c08", "oi9n2c16", "oi4n0g16", "tbbn3p08", "tbgn2c16", "tbgn3p08", "tbwn3p08",
        "tbyn3p08", "tp0n3p08", "tp1n3p08", "bgai4a16", "bgan6a08", "pp0n6a08", "ps1n2c16",
        "cm0n0g04", "ccwn2c08", "ch1n3p04", "cs3n3p08", "g03n2c08", "g25n0g16"}) {
    SCOPED_TRACE(name);
    auto img = decode_ok(testutil::read_file(suite(name)));
    ASSERT_NE(img, nullptr);
    expect_same_as_magick(*img, suite(name));
  }
}

TEST(PngDecode, KnownBytesOfLowDepthAndDeepFiles) {
  // Gray, 2 bits: indices widened to nibbles over a four-level gray palette.
  auto img = decode_ok(build_png(5, 2, 2, 0, {0, 0x1B, 0x80, 0, 0xF0, 0x40}));
  ASSERT_NE(img, nullptr);
  EXPECT_EQ(img->format(), pf::k4bppIndexed);
  EXPECT_EQ(img->palette(), (raster::Palette{raster::Palette::kGrayScale,
                                             {0xFF000000, 0xFF555555, 0xFFAAAAAA, 0xFFFFFFFF}}));
  EXPECT_EQ(surface_row(*img, 0, 3), (std::vector<uint8_t>{0x01, 0x23, 0x20}));
  EXPECT_EQ(surface_row(*img, 1, 3), (std::vector<uint8_t>{0x33, 0x00, 0x10}));

  // Palette, 2 bits, alpha for the first two entries only.
  img = decode_ok(build_png(3, 1, 2, 3, {0, 0x90},
                            {{"PLTE", {255, 0, 0, 0, 255, 0, 0, 0, 255}}, {"tRNS", {0x80, 0}}}));
  ASSERT_NE(img, nullptr);
  EXPECT_EQ(img->palette(),
            (raster::Palette{raster::Palette::kHasAlpha, {0x80FF0000, 0x0000FF00, 0xFF0000FF}}));
  EXPECT_EQ(surface_row(*img, 0, 2), (std::vector<uint8_t>{0x21, 0x00}));

  // RGB, 16 bits: little-endian B, G, R in the surface.
  img = decode_ok(
      build_png(2, 1, 16, 2, {0, 0x12, 0x34, 0x56, 0x78, 0x9A, 0xBC, 0xFF, 0xFF, 0, 0, 1, 1}));
  ASSERT_NE(img, nullptr);
  EXPECT_EQ(img->format(), pf::k48bppRGB);
  EXPECT_EQ(surface_row(*img, 0, 12), (std::vector<uint8_t>{0xBC, 0x9A, 0x78, 0x56, 0x34, 0x12,
                                                            0x01, 0x01, 0x00, 0x00, 0xFF, 0xFF}));
}

TEST(PngDecode, ResolutionGammaAndTextBecomeProperties) {
  auto img = decode_ok(build_png(
      1, 1, 8, 0, {0, 7},
      {{"pHYs", {0, 0, 0x0E, 0xC4, 0, 0, 0x27, 0x10, 1}},  // 3780 and 10000 pixels a metre
       {"gAMA", {0, 0, 0xB1, 0x8F}},
       {"tEXt", bytes("Software\0k 1"s)},
       {"tEXt", bytes("Comment\0not kept"s)}},
      {{"tEXt", bytes("Title\0T"s)}, {"tEXt", bytes("Software\0not the first"s)}}));
  ASSERT_NE(img, nullptr);
  EXPECT_NEAR(img->dpi_x(), 96.012, 1e-3);
  EXPECT_NEAR(img->dpi_y(), 254.0, 1e-3);
  EXPECT_EQ(img->properties(),
            (std::vector<raster::PropertyItem>{
                {0x0301, 5, {0x8F, 0xB1, 0, 0, 0xA0, 0x86, 0x01, 0}},  // 45455 / 100000
                {0x0131, 2, bytes("k 1\0"s)},
                {0x0320, 2, bytes("T\0"s)}}));
  // Compressed text, international text, an aspect ratio without unit.
  img = decode_ok(testutil::read_file(suite("ctzn0g04")));
  ASSERT_TRUE(img && img->property(0x8298));
  EXPECT_EQ(img->property(0x8298)->value,
            bytes("Copyright Willem van Schaik, Singapore 1995-96\0"s));
  img = decode_ok(testutil::read_file(suite("ctjn0g04")));
  ASSERT_TRUE(img && img->property(0x013B));
  EXPECT_EQ(img->property(0x013B)->value, bytes("Willem van Schaik (willem@schaik.com)\0"s));
  img = decode_ok(testutil::read_file(suite("cdfn2c08")));
  ASSERT_NE(img, nullptr);
  EXPECT_EQ(img->dpi_x(), 96.0f);
}

TEST(PngDecode, DamagedFilesGiveAStatus) {
  std::unique_ptr<Image> img;
  for (const char* name :
       {"xcrn0g04", "xlfn0g04", "xs1n0g01", "xs2n0g01", "xs4n0g01", "xs7n0g01"}) {
    EXPECT_EQ(testutil::decode(testutil::read_file(suite(name)), img), Status::UnknownImageFormat)
        << name;  // damaged signature
  }
  for (const char* name : {"xc1n0g08", "xc9n2c08", "xcsn0g01", "xd0n2c08", "xd3n2c08", "xd9n2c08",
                           "xdtn0g01", "xhdn0g08"}) {
    EXPECT_EQ(testutil::decode(testutil::read_file(suite(name)), img), Status::GenericError)
        << name;
  }
  // Every truncation of an interlaced file, and a flipped bit in its image data.
  const std::vector<uint8_t> good = testutil::read_file(suite("basi6a08"));
  for (size_t n = 8; n < good.size(); n += 7) {
    ASSERT_EQ(testutil::decode({good.begin(), good.begin() + n}, img), Status::GenericError) << n;
  }
  std::vector<uint8_t> flipped = good;
  flipped[good.size() / 2] ^= 0x10;
  EXPECT_EQ(testutil::decode(flipped, img), Status::GenericError);
  // A damaged ancillary chunk is dropped; the picture still decodes.
  std::vector<uint8_t> file = build_png(1, 1, 8, 0, {0, 7}, {{"tEXt", bytes("Title\0x"s)}});
  file[8 + 25 + 8 + 7] ^= 1;  // the tEXt CRC
  img = decode_ok(file);
  ASSERT_NE(img, nullptr);
  EXPECT_TRUE(img->properties().empty());
  // Indices past a short palette read as transparent black.
  img = decode_ok(build_png(2, 1, 8, 3, {0, 0, 5}, {{"PLTE", {1, 2, 3}}}));
  ASSERT_NE(img, nullptr);
  EXPECT_EQ(testutil::argb_pixels(*img), (std::vector<uint32_t>{0xFF010203, 0}));
}

TEST(PngDecode, PixelMemoryLimitRefusesBeforeAllocating) {
  raster::set_pixel_memory_limit(uint64_t{64} << 20);
  std::unique_ptr<Image> img;
  EXPECT_EQ(testutil::decode(build_png(30000, 30000, 8, 6, {0}), img), Status::OutOfMemory);
  EXPECT_EQ(testutil::decode(build_png(0x7FFFFFFF, 2, 16, 6, {0}), img), Status::OutOfMemory);
  raster::set_pixel_memory_limit(uint64_t{4} << 30);
  // Wider than libpng's own default limit of a million pixels, but legal.
  std::vector<uint8_t> row(1500001, 0);
  row.back() = 0xAB;
  img = decode_ok(build_png(1500000, 1, 8, 0, row));
  ASSERT_NE(img, nullptr);
  EXPECT_EQ(img->surface().row(0)[1499999], 0xAB);
}

// --- Encoding ---------------------------------------------------------------

std::vector<uint8_t> encode(Image& img) {
  const raster::Encoder* enc = testutil::encoder_for("*.png");
  EXPECT_NE(enc, nullptr);
  std::vector<uint8_t> out;
  EXPECT_EQ(enc->encode(img, {}, out), Status::Ok);
  return out;
}

// A 37 x 5 picture in format f: colour ramps with varying alpha.
std::unique_ptr<Image> pattern(raster::PixelFormat f) {
  std::unique_ptr<Image> img;
  EXPECT_EQ(Image::create(37, 5, f, img), Status::Ok);
  std::vector<uint32_t> px(37 * 5);
  for (uint32_t i = 0; i < px.size(); ++i) {
    px[i] = (255 - i * 7 % 256) << 24 | (i * 13 % 256) << 16 | (i * 29 % 256) << 8 | i % 256;
  }
  px[0] = 0xFFFFFFFF;
  px[1] = 0;
  EXPECT_EQ(img->write_pixels({0, 0, 37, 5}, pf::k32bppARGB,
                              reinterpret_cast<const uint8_t*>(px.data()), 37 * 4),
            Status::Ok);
  return img;
}

TEST(PngEncode, EveryFormatIsReadBackByImageMagickAndTheDecoder) {
  struct Case {
    raster::PixelFormat format;
    const char* ihdr;  // colour type and bit depth written
    raster::PixelFormat decoded;
  };
  const Case cases[] = {
      {pf::k1bppIndexed, "3 1", pf::k1bppIndexed}, {pf::k4bppIndexed, "3 4", pf::k4bppIndexed},
      {pf::k8bppIndexed, "3 8", pf::k8bppIndexed}, {pf::k16bppGrayScale, "0 16", pf::k48bppRGB},
      {pf::k16bppRGB555, "2 8", pf::k24bppRGB},    {pf::k16bppRGB565, "2 8", pf::k24bppRGB},
      {pf::k16bppARGB1555, "6 8", pf::k32bppARGB}, {pf::k24bppRGB, "2 8", pf::k24bppRGB},
      {pf::k32bppRGB, "2 8", pf::k24bppRGB},       {pf::k32bppARGB, "6 8", pf::k32bppARGB},
      {pf::k32bppPARGB, "6 8", pf::k32bppARGB},    {pf::k48bppRGB, "2 16", pf::k48bppRGB},
      {pf::k64bppARGB, "6 16", pf::k64bppARGB},    {pf::k64bppPARGB, "6 16", pf::k64bppARGB}};
  testutil::ScratchDir dir;
  for (const Case& c : cases) {
    SCOPED_TRACE(raster::pixel_format_name(c.format));
    auto img = pattern(c.format);
    const std::vector<uint32_t> shown = testutil::argb_pixels(*img);
    const std::vector<uint8_t> file = encode(*img);
    const std::string path = dir.file("out.png");
    testutil::write_file(path, file);
    std::string ihdr;
    testutil::run(convert_tool() + " " + path +
                      " -format '%[png:IHDR.color-type-orig] %[png:IHDR.bit-depth-orig]' info:",
                  &ihdr);
    EXPECT_EQ(ihdr, c.ihdr);
    const std::vector<uint32_t> theirs = testutil::rgba_to_argb(testutil::magick_rgba(path));
    auto back = decode_ok(file);
    ASSERT_NE(back, nullptr);
    EXPECT_EQ(back->format(), c.decoded);
    const std::vector<uint32_t> ours = testutil::argb_pixels(*back);
    ASSERT_EQ(theirs.size(), shown.size());
    // Premultiplied 16-bit pixels are unpremultiplied at full precision, so
    // their 8-bit view may differ from the image's own by one.
    const int slack = c.format == pf::k64bppPARGB ? 1 : 0;
    for (size_t i = 0; i < shown.size() * 32; i += 8) {
      const auto channel = [&](const std::vector<uint32_t>& v) {
        return int(v[i / 32] >> i % 32 & 0xFF);
      };
      ASSERT_LE(std::abs(channel(shown) - channel(theirs)), slack) << i / 32;
      ASSERT_LE(std::abs(channel(shown) - channel(ours)), slack) << i / 32;
    }
    // Samples that PNG holds as they are come back bit for bit.
    if (raster::is_indexed(c.format) || c.format == pf::k48bppRGB || c.format == pf::k64bppARGB) {
      const size_t n = (37 * raster::bits_per_pixel(c.format) + 7) / 8;
      for (int32_t y = 0; y < 5; ++y) EXPECT_EQ(surface_row(*back, y, n), surface_row(*img, y, n));
      EXPECT_EQ(back->palette().entries, img->palette().entries);
    }
    for (int32_t x = 0; c.format == pf::k16bppGrayScale && x < 37; ++x) {
      uint16_t gray, rgb[3];
      std::memcpy(&gray, img->surface().row(4) + 2 * x, 2);
      std::memcpy(rgb, back->surface().row(4) + 6 * x, 6);
      ASSERT_EQ((std::array{rgb[0], rgb[1], rgb[2]}), (std::array{gray, gray, gray}));
    }
  }
}

TEST(PngEncode, PaletteAlphaResolutionAndSoftwareAreWritten) {
  std::unique_ptr<Image> img;
  ASSERT_EQ(Image::create(3, 2, pf::k8bppIndexed, img), Status::Ok);
  ASSERT_EQ(img->set_palette(
                {raster::Palette::kHasAlpha, {0x80FF0000, 0x00000000, 0xFF00FF00, 0xFF0000FF}}),
            Status::Ok);
  const uint8_t idx[2][4] = {{0, 1, 2, 0}, {3, 5, 0, 0}};  // 5 is past the palette
  for (int y = 0; y < 2; ++y) std::memcpy(img->surface().row(y), idx[y], 3);
  ASSERT_EQ(img->set_resolution(300.0f, 72.0f), Status::Ok);
  ASSERT_EQ(img->set_property({0x0131, 2, bytes("korvex\0"s)}), Status::Ok);
  ASSERT_EQ(img->set_property({0x8298, 2, bytes("(c) me\0"s)}), Status::Ok);
  const std::vector<uint8_t> file = encode(*img);

  // Trailing opaque entries are not in tRNS; the used index 5 got an entry.
  EXPECT_EQ(chunk_body(file, "tRNS"), (std::vector<uint8_t>{0x80, 0x00, 0xFF, 0xFF, 0x00, 0x00}));
  EXPECT_EQ(chunk_body(file, "PLTE").size(), 18u);
  EXPECT_EQ(chunk_body(file, "pHYs"),
            (std::vector<uint8_t>{0, 0, 0x2E, 0x23, 0, 0, 0x0B, 0x13, 1}));  // 11811, 2835 /m
  EXPECT_EQ(chunk_body(file, "tEXt"), bytes("Software\0korvex"s));

  auto back = decode_ok(file);
  ASSERT_NE(back, nullptr);
  EXPECT_EQ(back->palette().flags, raster::Palette::kHasAlpha);
  EXPECT_EQ(testutil::argb_pixels(*back),
            (std::vector<uint32_t>{0x80FF0000, 0, 0xFF00FF00, 0xFF0000FF, 0, 0x80FF0000}));
  EXPECT_NEAR(back->dpi_x(), 300.0, 0.01);
  EXPECT_NEAR(back->dpi_y(), 72.0, 0.01);
  ASSERT_NE(back->property(0x0131), nullptr);
  EXPECT_EQ(back->property(0x0131)->value, bytes("korvex\0"s));
  ASSERT_NE(back->property(0x8298), nullptr);
  EXPECT_EQ(back->property(0x8298)->value, bytes("(c) me\0"s));
}

}  // namespace
}  // namespace korvex
