// PNG codec: PngSuite and hand-built files, damage, limits; encoder output read back.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <iterator>
#include <sstream>
#include <tuple>
#include <utility>

#include <zlib.h>

#include "codec_test_util.h"

namespace korvex {
namespace {

using namespace testutil;

using raster::Image;
using raster::Status;
namespace pf = raster::pf;
using namespace std::string_literals;

std::string suite(const std::string& name) {
  return KORVEX_SOURCE_DIR "/tests/data/png/" + name + ".png";
}

std::string magick(const std::string& args) {
  std::string out;
  EXPECT_EQ(run(convert_tool() + " " + args, &out), 0) << args;
  return out;
}

// Exact 16-bit RGBA against ImageMagick (through the 32bppARGB view below 48 bits);
// relabelled sRGB so that ImageMagick keeps the samples of gAMA 1.0 files.
void expect_same_as_magick(Image& img, const std::string& path) {
  const std::string raw =
      magick("'" + path + "[0]' -set colorspace sRGB -depth 16 -endian LSB RGBA:-");
  std::vector<uint16_t> theirs(raw.size() / 2), ours;
  std::memcpy(theirs.data(), raw.data(), theirs.size() * 2);
  const int deep = raster::bits_per_pixel(img.format()) / 16;  // 3 or 4 samples, else 0-2
  const Pixels argb = argb_pixels(img);
  for (size_t i = 0; i < argb.size(); ++i) {
    uint16_t s[4];  // B, G, R, A
    for (int c = 0; c < 4; ++c) s[c] = static_cast<uint16_t>((argb[i] >> 8 * c & 0xFF) * 257);
    const uint8_t* row = img.surface().row(static_cast<int32_t>(i / img.width()));
    if (deep >= 3) std::memcpy(s, row + i % img.width() * deep * 2, deep * 2);
    ours.insert(ours.end(), {s[2], s[1], s[0], s[3]});
  }
  EXPECT_EQ(ours, theirs);
}

void put_be32(Bytes& v, uint32_t x) {
  for (int s = 24; s >= 0; s -= 8) v.push_back(static_cast<uint8_t>(x >> s));
}

// A zlib stream of stored (uncompressed) deflate blocks.
Bytes zlib_stored(const Bytes& raw) {
  Bytes z = {0x78, 0x01};
  for (size_t pos = 0, n; pos < raw.size(); pos += n) {
    n = std::min<size_t>(raw.size() - pos, 65535);
    z.push_back(pos + n == raw.size() ? 1 : 0);
    z.insert(z.end(), {uint8_t(n), uint8_t(n >> 8), uint8_t(~n), uint8_t(~n >> 8)});
    z.insert(z.end(), raw.begin() + pos, raw.begin() + pos + n);
  }
  uint32_t a = 1, b = 0;
  for (uint8_t c : raw) a = (a + c) % 65521, b = (b + a) % 65521;
  put_be32(z, b << 16 | a);
  return z;
}

using Chunks = std::vector<std::pair<std::string, Bytes>>;

// Signature, IHDR, `before`, one IDAT of `rows` (with filter bytes), `after`, IEND.
Bytes build_png(uint32_t w, uint32_t h, uint8_t depth, uint8_t color, const Bytes& rows,
                const Chunks& before = {}, const Chunks& after = {}) {
  Bytes out = {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A}, ihdr;
  auto chunk = [&out](const std::string& type, const Bytes& data) {
    put_be32(out, static_cast<uint32_t>(data.size()));
    const size_t from = out.size();
    out.insert(out.end(), type.begin(), type.end());
    out.insert(out.end(), data.begin(), data.end());
    uint32_t crc = 0xFFFFFFFFu;  // CRC-32 of type and data
    for (size_t i = from; i < out.size(); ++i) {
      crc ^= out[i];
      for (int k = 0; k < 8; ++k) crc = crc >> 1 ^ (0xEDB88320u & (0u - (crc & 1)));
    }
    put_be32(out, ~crc);
  };
  put_be32(ihdr, w), put_be32(ihdr, h);
  ihdr.insert(ihdr.end(), {depth, color, 0, 0, 0});
  chunk("IHDR", ihdr);
  for (const auto& [type, data] : before) chunk(type, data);
  chunk("IDAT", zlib_stored(rows));
  for (const auto& [type, data] : after) chunk(type, data);
  chunk("IEND", {});
  return out;
}

Bytes bytes(const std::string& s) {
  return {s.begin(), s.end()};
}

std::vector<std::string> words(const char* s) {
  std::istringstream in(s);
  return {std::istream_iterator<std::string>(in), {}};
}

// The bodies of every chunk of a type in a PNG file, one after the other.
Bytes chunk_body(const Bytes& png, const std::string& type) {
  Bytes out;
  for (size_t p = 8; p + 12 <= png.size();) {
    const uint32_t n = uint32_t{png[p]} << 24 | png[p + 1] << 16 | png[p + 2] << 8 | png[p + 3];
    if (std::memcmp(&png[p + 4], type.data(), 4) == 0) {
      out.insert(out.end(), png.begin() + p + 8, png.begin() + p + 8 + n);
    }
    p += 12 + n;
  }
  return out;
}

TEST(PngDecode, PngSuiteMatchesImageMagickInEveryColourTypeAndDepth) {
  // Basic and interlaced files, odd sizes, filters, chunk order, zlib levels, tRNS, extras.
  const std::pair<raster::PixelFormat, const char*> files[] = {
      {pf::k1bppIndexed, "basn0g01 basi0g01 basn3p01 basi3p01 s01i3p01 s01n3p01 s02i3p01 s03n3p01"},
      {pf::k4bppIndexed,
       "basn0g02 basi0g02 basn0g04 basi0g04 basn3p02 basi3p02 basn3p04 basi3p04 tm3n3p02 ch1n3p04 "
       "cm0n0g04 f99n0g04 s05i3p02 s07n3p02 s09i3p02 s33n3p04 s35i3p04 s39n3p04 s40i3p04"},
      {pf::k8bppIndexed,
       "basn0g08 basi0g08 basn3p08 basi3p08 tp0n0g08 cs3n3p08 tbbn3p08 tbgn3p08 tbwn3p08 tbyn3p08 "
       "tp0n3p08 tp1n3p08"},
      {pf::k24bppRGB, "basn2c08 basi2c08 tp0n2c08 ccwn2c08 f04n2c08 g03n2c08 z00n2c08 z09n2c08"},
      {pf::k32bppARGB, "basn4a08 basi4a08 basn6a08 basi6a08 tbbn0g04 tbrn2c08 bgan6a08 pp0n6a08"},
      {pf::k48bppRGB, "basn0g16 basi0g16 basn2c16 basi2c16 g25n0g16 oi4n0g16 oi9n2c16 ps1n2c16"},
      {pf::k64bppARGB, "basn4a16 basi4a16 basn6a16 basi6a16 tbwn0g16 tbbn2c16 bgai4a16 tbgn2c16"}};
  for (const auto& [format, names] : files) {
    for (const std::string& name : words(names)) {
      SCOPED_TRACE(name);
      auto img = decode_ok(read_file(suite(name)));
      EXPECT_EQ(img->format(), format);
      EXPECT_EQ(img->raw_format(), raster::guids::kFormatPng);
      if (name[4] == '0' && raster::is_indexed(format)) {  // gray: a gray ramp palette
        EXPECT_EQ(img->palette().flags, raster::Palette::kGrayScale);
      }
      expect_same_as_magick(*img, suite(name));
    }
  }
}

TEST(PngDecode, ResolutionGammaAndTextBecomeProperties) {
  auto img = decode_ok(build_png(
      1, 1, 8, 0, {0, 7},
      {{"pHYs", {0, 0, 0x0E, 0xC4, 0, 0, 0x27, 0x10, 1}},  // 3780 and 10000 pixels a metre
       {"gAMA", {0, 0, 0xB1, 0x8F}},
       {"tEXt", bytes("Software\0k 1"s)},
       {"tEXt", bytes("Comment\0not kept"s)}},
      {{"tEXt", bytes("Title\0T"s)}, {"tEXt", bytes("Software\0not the first"s)}}));
  EXPECT_NEAR(img->dpi_x(), 96.012, 1e-3);
  EXPECT_NEAR(img->dpi_y(), 254.0, 1e-3);
  EXPECT_EQ(img->properties(),
            (std::vector<raster::PropertyItem>{
                {0x0301, 5, {0x8F, 0xB1, 0, 0, 0xA0, 0x86, 0x01, 0}},  // 45455 / 100000
                {0x0131, 2, bytes("k 1\0"s)},
                {0x0320, 2, bytes("T\0"s)}}));
  // Compressed text, international text, pHYs without a unit (a pixel ratio only).
  EXPECT_EQ(property_bytes(*decode_ok(read_file(suite("ctzn0g04"))), 0x8298),
            bytes("Copyright Willem van Schaik, Singapore 1995-96\0"s));
  EXPECT_EQ(property_bytes(*decode_ok(read_file(suite("ctjn0g04"))), 0x013B),
            bytes("Willem van Schaik (willem@schaik.com)\0"s));
  EXPECT_EQ(decode_ok(read_file(suite("cdfn2c08")))->dpi_x(), 96.0f);
}

TEST(PngDecode, DamagedFilesGiveAStatus) {
  const std::pair<Status, const char*> files[] = {
      {Status::UnknownImageFormat, "xcrn0g04 xlfn0g04 xs1n0g01 xs2n0g01 xs4n0g01 xs7n0g01"},
      {Status::GenericError,
       "xc1n0g08 xc9n2c08 xcsn0g01 xd0n2c08 xd3n2c08 xd9n2c08 xdtn0g01 xhdn0g08"}};
  for (const auto& [status, names] : files) {
    for (const std::string& name : words(names)) {
      EXPECT_EQ(status_of(read_file(suite(name))), status) << name;
    }
  }
  // Every truncation of an interlaced file, and a flipped bit in its image data.
  const Bytes good = read_file(suite("basi6a08"));
  for (size_t n = 8; n < good.size(); n += 7) {
    ASSERT_EQ(status_of({good.begin(), good.begin() + n}), Status::GenericError) << n;
  }
  Bytes flipped = good;
  flipped[good.size() / 2] ^= 0x10;
  EXPECT_EQ(status_of(flipped), Status::GenericError);
  // A damaged ancillary chunk is dropped; the picture still decodes.
  Bytes file = build_png(1, 1, 8, 0, {0, 7}, {{"tEXt", bytes("Title\0x"s)}});
  file[8 + 25 + 8 + 7] ^= 1;  // the tEXt CRC
  EXPECT_TRUE(decode_ok(file)->properties().empty());
  // Indices past a short palette read as transparent black.
  auto img = decode_ok(build_png(2, 1, 8, 3, {0, 0, 5}, {{"PLTE", {1, 2, 3}}}));
  EXPECT_EQ(argb_pixels(*img), (Pixels{0xFF010203, 0}));
}

TEST(PngDecode, PixelMemoryLimitRefusesBeforeAllocating) {
  {
    const PixelLimit limit(uint64_t{64} << 20);
    EXPECT_EQ(status_of(build_png(30000, 30000, 8, 6, {0})), Status::OutOfMemory);
    EXPECT_EQ(status_of(build_png(0x7FFFFFFF, 2, 16, 6, {0})), Status::OutOfMemory);
  }
  // Wider than libpng's own default limit of a million pixels, but legal.
  Bytes row(1500001, 0);
  row.back() = 0xAB;
  EXPECT_EQ(decode_ok(build_png(1500000, 1, 8, 0, row))->surface().row(0)[1499999], 0xAB);
}

TEST(PngEncode, EveryFormatIsReadBackByImageMagickAndTheDecoder) {
  // Format, colour type and bit depth written, format read back.
  const std::tuple<raster::PixelFormat, const char*, raster::PixelFormat> cases[] = {
      {pf::k1bppIndexed, "3 1", pf::k1bppIndexed}, {pf::k4bppIndexed, "3 4", pf::k4bppIndexed},
      {pf::k8bppIndexed, "3 8", pf::k8bppIndexed}, {pf::k16bppGrayScale, "0 16", pf::k48bppRGB},
      {pf::k16bppRGB555, "2 8", pf::k24bppRGB},    {pf::k16bppRGB565, "2 8", pf::k24bppRGB},
      {pf::k16bppARGB1555, "6 8", pf::k32bppARGB}, {pf::k24bppRGB, "2 8", pf::k24bppRGB},
      {pf::k32bppRGB, "2 8", pf::k24bppRGB},       {pf::k32bppARGB, "6 8", pf::k32bppARGB},
      {pf::k32bppPARGB, "6 8", pf::k32bppARGB},    {pf::k48bppRGB, "2 16", pf::k48bppRGB},
      {pf::k64bppARGB, "6 16", pf::k64bppARGB},    {pf::k64bppPARGB, "6 16", pf::k64bppARGB}};
  // 37 x 5 colour ramps with varying alpha, opaque white and transparent black first.
  Pixels px(37 * 5);
  for (uint32_t i = 0; i < px.size(); ++i) {
    px[i] = (255 - i * 7 % 256) << 24 | (i * 13 % 256) << 16 | (i * 29 % 256) << 8 | i % 256;
  }
  px[0] = 0xFFFFFFFF, px[1] = 0;
  ScratchDir dir;
  const std::string path = dir.file("out.png");
  for (const auto& [format, ihdr, decoded] : cases) {
    SCOPED_TRACE(raster::pixel_format_name(format));
    std::unique_ptr<Image> img;
    ASSERT_EQ(Image::create(37, 5, format, img), Status::Ok);
    ASSERT_EQ(img->write_pixels({0, 0, 37, 5}, pf::k32bppARGB,
                                reinterpret_cast<const uint8_t*>(px.data()), 37 * 4),
              Status::Ok);
    const Bytes file = encode("*.png", *img);
    write_file(path, file);
    EXPECT_EQ(
        magick(path + " -format '%[png:IHDR.color-type-orig] %[png:IHDR.bit-depth-orig]' info:"),
        ihdr);
    auto back = decode_ok(file);
    EXPECT_EQ(back->format(), decoded);
    expect_same_as_magick(*back, path);
    // 16-bit premultiplied pixels unpremultiply at full precision: 8-bit views differ by 1.
    const Pixels shown = argb_pixels(*img);
    const int slack = format == pf::k64bppPARGB ? 1 : 0;
    EXPECT_LE(max_channel_diff(shown, argb_pixels(*back)), slack);
    // Samples PNG holds as they are come back exactly, 16-bit gray as three equal ones.
    Bytes want = stored_rows(*img);
    if (format == pf::k16bppGrayScale) {
      const Bytes g = std::exchange(want, {});
      for (size_t i = 0; i < g.size() * 3 / 2; ++i) {
        want.insert(want.end(), {g[i / 3 * 2], g[i / 3 * 2 + 1]});
      }
    }
    if (decoded == format || format == pf::k16bppGrayScale) {
      EXPECT_EQ(stored_rows(*back), want);
    }
    EXPECT_EQ(back->palette().entries, img->palette().entries);
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
  const Bytes file = encode("*.png", *img);

  // Trailing opaque entries are not in tRNS; the used index 5 got an entry.
  EXPECT_EQ(chunk_body(file, "tRNS"), (Bytes{0x80, 0x00, 0xFF, 0xFF, 0x00, 0x00}));
  EXPECT_EQ(chunk_body(file, "PLTE").size(), 18u);
  EXPECT_EQ(chunk_body(file, "pHYs"),
            (Bytes{0, 0, 0x2E, 0x23, 0, 0, 0x0B, 0x13, 1}));  // 11811, 2835 /m
  EXPECT_EQ(chunk_body(file, "tEXt"), bytes("Software\0korvexCopyright\0(c) me"s));

  auto back = decode_ok(file);
  EXPECT_EQ(back->palette().flags, raster::Palette::kHasAlpha);
  EXPECT_EQ(argb_pixels(*back), (Pixels{0x80FF0000, 0, 0xFF00FF00, 0xFF0000FF, 0, 0x80FF0000}));
  EXPECT_NEAR(back->dpi_x(), 300.0, 0.01);
  EXPECT_NEAR(back->dpi_y(), 72.0, 0.01);
  EXPECT_EQ(property_bytes(*back, 0x0131), bytes("korvex\0"s));
  EXPECT_EQ(property_bytes(*back, 0x8298), bytes("(c) me\0"s));
}

TEST(PngEncode, PhotosAreFilteredAndFlatPicturesAreNotAndNeitherIsLargerThanUnfiltered) {
  // 24-bit pictures of 640 x 480: a smooth photo-like field with a little
  // noise, and a screenshot-like page of flat panels and dense glyph-like strokes.
  constexpr int32_t w = 640, h = 480;
  const auto photo = [](int32_t x, int32_t y, int c) {
    const int noise = (x * 7919 + y * 104729 + c * 31) % 5;
    return static_cast<uint8_t>((x * (c + 1) / 5 + y * (3 - c) / 4 + noise) & 0xFF);
  };
  const auto screen = [](int32_t x, int32_t y, int c) {
    constexpr uint8_t bar[3] = {0x9A, 0x57, 0x2B};
    if (y < 24) return bar[c];  // title bar
    const bool glyph = (y / 20) % 2 == 1 && (x % 9 < 2 || (y % 20) % 7 == 0) && x % 97 < 80;
    return glyph ? uint8_t{0x20} : x < 200 ? uint8_t{0xE8} : uint8_t{0xFF};
  };
  const std::tuple<const char*, uint8_t (*)(int32_t, int32_t, int), uint8_t> cases[] = {
      {"photo", +photo, 3}, {"screen", +screen, 0}};  // the filter type of every row
  for (const auto& [name, pixel, filter] : cases) {
    SCOPED_TRACE(name);
    std::unique_ptr<Image> img;
    ASSERT_EQ(Image::create(w, h, pf::k24bppRGB, img), Status::Ok);
    Bytes plain;  // unfiltered RGB rows, as zlib at level 6 is to compress them
    for (int32_t y = 0; y < h; ++y) {
      plain.push_back(0);
      for (int32_t x = 0; x < w; ++x) {
        for (int c = 0; c < 3; ++c) {
          img->surface().row(y)[x * 3 + 2 - c] = pixel(x, y, c);  // stored B, G, R
          plain.push_back(pixel(x, y, c));
        }
      }
    }
    const Bytes file = encode("*.png", *img);
    const Bytes z = chunk_body(file, "IDAT");
    Bytes rows(plain.size());
    uLongf rows_size = rows.size();
    ASSERT_EQ(uncompress(rows.data(), &rows_size, z.data(), z.size()), Z_OK);
    ASSERT_EQ(rows_size, plain.size());
    for (int32_t y = 0; y < h; ++y) EXPECT_EQ(rows[y * (w * 3 + 1)], filter) << "row " << y;
    Bytes level6(compressBound(plain.size()));
    uLongf level6_size = level6.size();
    ASSERT_EQ(compress2(level6.data(), &level6_size, plain.data(), plain.size(), 6), Z_OK);
    EXPECT_LE(z.size(), level6_size);
    if (filter != 0) {
      EXPECT_LT(z.size() * 2, level6_size);  // filtering pays on photos
    }
    EXPECT_EQ(stored_rows(*decode_ok(file)), stored_rows(*img));
  }
}

}  // namespace
}  // namespace korvex
