// BMP decoder and encoder: every variant ImageMagick writes, hand-made files
// for the variants and damage it does not produce, and our files read back
// by ImageMagick and by our decoder.
#include <gtest/gtest.h>

#include "codec_test_util.h"

namespace korvex {
namespace {

using raster::Image;
using raster::Status;
namespace pf = raster::pf;
using U32s = std::vector<uint32_t>;

void le(std::vector<uint8_t>& v, uint64_t x, int bytes) {
  for (int k = 0; k < bytes; ++k) v.push_back(static_cast<uint8_t>(x >> (8 * k)));
}
uint32_t get32(const std::vector<uint8_t>& v, size_t at) {
  return v[at] | v[at + 1] << 8 | v[at + 2] << 16 | static_cast<uint32_t>(v[at + 3]) << 24;
}

// A hand-made file, the fields most cases set first.
struct Bmp {
  int32_t w = 1, h = 1;
  uint32_t bits = 24, comp = 0;
  std::vector<uint8_t> pixels{};
  U32s table{};  // 0xRRGGBB
  uint32_t colors = 0, header = 40;
  U32s masks{};  // in the header from 52 bytes on, after it otherwise
  int32_t ppm_x = 0, ppm_y = 0;
  int64_t offset = -1;  // -1: right after the table

  std::vector<uint8_t> bytes() const {
    std::vector<uint8_t> f = {'B', 'M'};
    f.resize(14);  // sizes patched in below
    if (header == 12) {
      for (uint32_t x : {12u, uint32_t(w), uint32_t(h), 1u, bits}) le(f, x, x == 12 ? 4 : 2);
    } else {
      for (uint32_t x : {header, uint32_t(w), uint32_t(h), 1 | bits << 16, comp,
                         uint32_t(pixels.size()), uint32_t(ppm_x), uint32_t(ppm_y), colors}) {
        le(f, x, 4);
      }
    }
    f.resize(14 + header);
    for (size_t k = 0; k < masks.size(); ++k) {
      if (header < 52) le(f, masks[k], 4);
      for (int b = 0; header >= 52 && b < 4; ++b) f[54 + 4 * k + b] = uint8_t(masks[k] >> 8 * b);
    }
    for (uint32_t c : table) le(f, c, header == 12 ? 3 : 4);
    const size_t start = offset >= 0 ? size_t(offset) : f.size();
    f.insert(f.end(), pixels.begin(), pixels.end());
    for (int b = 0; b < 4; ++b) {
      f[2 + b] = uint8_t(f.size() >> 8 * b);
      f[10 + b] = uint8_t(start >> 8 * b);
    }
    return f;
  }
};

struct Decoded {
  Status status = Status::GenericError;
  std::unique_ptr<Image> img;
  U32s px;
};
Decoded decode(const std::vector<uint8_t>& bytes) {
  Decoded d;
  d.status = testutil::decode(bytes, d.img);
  if (d.status == Status::Ok) d.px = testutil::argb_pixels(*d.img);
  return d;
}
Decoded decode(const Bmp& b) {
  return decode(b.bytes());
}

TEST(BmpDecode, ReadsEveryImageMagickVariantLikeImageMagick) {
  testutil::ScratchDir dir;
  const std::string c = testutil::convert_tool() + " ";
  ASSERT_EQ(testutil::run(c + "rose: " + dir.file("rose.png")), 0);
  ASSERT_EQ(testutil::run(c + "rose: -alpha set -channel A -fx i/w " + dir.file("alpha.png")), 0);
  const struct {
    const char* args;  // ending with the output format prefix
    bool alpha;
    raster::PixelFormat format;
    bool four_bit_fields = false;
  } variants[] = {
      {"-type Bilevel BMP3:", false, pf::k1bppIndexed},
      {"-colors 16 -compress None BMP3:", false, pf::k4bppIndexed},
      {"-type Palette -compress None BMP3:", false, pf::k8bppIndexed},
      {"-type Palette -compress RLE BMP3:", false, pf::k8bppIndexed},
      {"-define bmp:format=bmp2 BMP:", false, pf::k24bppRGB},  // OS/2 1.x
      {"-type Palette -define bmp:format=bmp2 BMP:", false, pf::k8bppIndexed},
      {"BMP3:", false, pf::k24bppRGB},
      {"-define bmp:subtype=RGB565 BMP:", false, pf::k16bppRGB565},
      {"-define bmp:subtype=RGB555 BMP:", false, pf::k16bppRGB555},
      {"-define bmp:subtype=ARGB1555 BMP:", true, pf::k16bppARGB1555},
      {"-define bmp:subtype=ARGB4444 BMP:", true, pf::k32bppARGB, true},
      {"BMP:", true, pf::k32bppARGB},  // V5, 32-bit bitfields with alpha
  };
  for (const auto& v : variants) {
    SCOPED_TRACE(v.args);
    const std::string file = dir.file("v.bmp");
    ASSERT_EQ(testutil::run(c + dir.file(v.alpha ? "alpha.png" : "rose.png") + " " + v.args + file),
              0);
    const Decoded d = decode(testutil::read_file(file));
    ASSERT_EQ(d.status, Status::Ok);
    EXPECT_EQ(d.img->format(), v.format);
    EXPECT_EQ(d.img->raw_format(), raster::guids::kFormatBmp);
    int32_t w = 0, h = 0;
    U32s expected = testutil::rgba_to_argb(testutil::magick_rgba(file, &w, &h));
    // ImageMagick widens 4-bit fields by shifting (15 -> 240); we scale to
    // the full range (15 -> 255).
    if (v.four_bit_fields) {
      for (uint32_t& p : expected) p = (p >> 4 & 0x0F0F0F0F) * 17;
    }
    EXPECT_EQ(d.img->width(), w);
    EXPECT_EQ(d.img->height(), h);
    EXPECT_EQ(d.px, expected);
  }
}

TEST(BmpDecode, HandMadeFilesGiveKnownPixels) {
  U32s grays;
  for (uint32_t k = 0; k < 16; ++k) grays.push_back(0x111111u * k);
  const auto g = [](uint32_t k) { return 0xFF000000u | 0x111111u * k; };
  const std::vector<uint8_t> rows = {1, 2, 3, 4, 5, 6, 0, 0, 7, 8, 9, 10, 11, 12, 0, 0};
  const std::vector<uint8_t> bgrx = {1, 2, 3, 0x40};
  const U32s rgb = {0xFF0000, 0xFF00, 0xFF}, rgba = {0xFF0000, 0xFF00, 0xFF, 0xFF000000};
  const struct {
    const char* what;
    Bmp bmp;
    raster::PixelFormat format;
    U32s px;
  } cases[] = {
      // clang-format off
      {"top-down", {2, -2, 24, 0, rows}, pf::k24bppRGB,
       {0xFF030201, 0xFF060504, 0xFF090807, 0xFF0C0B0A}},
      {"index 5 past a three-entry table",
       {3, 2, 4, 0, {0x01, 0x2F, 0, 0, 0x50, 0x1F, 0, 0}, {0x112233, 0x445566, 0x778899}, 3},
       pf::k4bppIndexed, {0, 0xFF112233, 0xFF445566, 0xFF112233, 0xFF445566, 0xFF778899}},
      // 256 entries implied, 2^31 declared: the pixels start after two.
      {"OS/2 2.x, 16 bytes", {2, 1, 8, 0, {1, 0, 0, 0}, {0xFF, 0xFF0000}, 0, 16},
       pf::k8bppIndexed, {0xFFFF0000, 0xFF0000FF}},
      {"2^31 colours", {2, 1, 8, 0, {1, 0, 0, 0}, {0xFF, 0xFF0000}, 0x80000000u},
       pf::k8bppIndexed, {0xFFFF0000, 0xFF0000FF}},
      // Run of three, absolute run of five and its pad byte, end of line,
      // delta (+2, +1), run of two, end of bitmap.
      {"RLE4", {8, 3, 4, 2, {3, 0x12, 0, 5, 0x34, 0x56, 0x70, 0, 0, 0, 0, 2, 2, 1, 2, 0xAB, 0, 1},
                grays}, pf::k4bppIndexed,
       {g(0), g(0), g(10), g(11), g(0), g(0), g(0), g(0), g(0), g(0), g(0), g(0),
        g(0), g(0), g(0), g(0), g(1), g(2), g(1), g(3), g(4), g(5), g(6), g(7)}},
      // Runs past the row's end are cut, not wrapped; a delta out of the
      // picture ends it; the row never reached stays index 0.
      {"RLE8 clipped", {4, 3, 8, 1, {10, 7, 0, 0, 0, 5, 1, 2, 3, 4, 5, 0, 0, 2, 0, 9}, grays},
       pf::k8bppIndexed, {g(0), g(0), g(0), g(0), g(1), g(2), g(3), g(4), g(7), g(7), g(7), g(7)}},
      {"32-bit BI_RGB ignores byte 4", {1, 1, 32, 0, bgrx}, pf::k32bppRGB, {0xFF030201}},
      {"V3 alpha mask", {1, 1, 32, 3, bgrx, {}, 0, 56, rgba}, pf::k32bppARGB, {0x40030201}},
      {"ALPHABITFIELDS", {1, 1, 32, 6, bgrx, {}, 0, 40, rgba}, pf::k32bppARGB, {0x40030201}},
      {"V2: no alpha", {1, 1, 32, 3, bgrx, {}, 0, 52, rgb}, pf::k32bppRGB, {0xFF030201}},
      {"blue and red swapped", {1, 1, 32, 3, bgrx, {}, 0, 40, {0xFF, 0xFF00, 0xFF0000}},
       pf::k32bppARGB, {0xFF010203}},
      {"4-4-4-4: fields x 17", {1, 1, 16, 6, {0x40, 0x8F, 0, 0}, {}, 0, 40,
                                {0xF00, 0xF0, 0xF, 0xF000}}, pf::k32bppARGB, {0x88FF4400}},
      {"10-10-10: 1023, 512, 3 -> 255, 128, 1", {1, 1, 32, 3, {3, 0, 0xF8, 0x3F}, {}, 0, 108,
                                                 {0x3FF00000, 0xFFC00, 0x3FF}},
       pf::k32bppARGB, {0xFFFF8001}},
      // clang-format on
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    Decoded d = decode(c.bmp);
    ASSERT_EQ(d.status, Status::Ok);
    EXPECT_EQ(d.img->format(), c.format);
    EXPECT_EQ(d.px, c.px);
    U32s table = c.bmp.table;
    for (uint32_t& e : table) e |= 0xFF000000u;
    if (raster::is_indexed(c.format)) {
      EXPECT_EQ(d.img->palette().entries, table);
    }
  }

  // Resolution: pels per metre x 0.0254 when both are given, else 96 dpi.
  Decoded d = decode(Bmp{.pixels = {0, 0, 0, 0}, .ppm_x = 3780, .ppm_y = 7874});
  ASSERT_EQ(d.status, Status::Ok);
  EXPECT_NEAR(d.img->dpi_x(), 96.012, 1e-3);
  EXPECT_NEAR(d.img->dpi_y(), 199.9996, 1e-3);
  d = decode(Bmp{.pixels = {0, 0, 0, 0}, .ppm_x = 3780});
  ASSERT_EQ(d.status, Status::Ok);
  EXPECT_EQ(d.img->dpi_x() + d.img->dpi_y(), 192.0f);
}

TEST(BmpDecode, DamagedAndHostileFilesAreRefused) {
  const std::vector<uint8_t> px(4), rle_rows = {10, 7, 0, 0};
  Bmp offset_past_end{3, 3, 24, 0, std::vector<uint8_t>(36)}, offset_in_header = offset_past_end;
  offset_past_end.offset = 14 + 40 + 36 + 1;
  offset_in_header.offset = 30;
  // Beyond this limit: refused before allocating, or looking for the pixels.
  raster::set_pixel_memory_limit(uint64_t{1} << 20);
  const struct {
    const char* what;
    Bmp bmp;
    Status status;
  } cases[] = {
      {"short by the last row's padding only", {3, 3, 24, 0, std::vector<uint8_t>(33)}, Status::Ok},
      {"truncated pixel array", {3, 3, 24, 0, std::vector<uint8_t>(32)}, Status::GenericError},
      {"pixels past the end", offset_past_end, Status::GenericError},
      {"pixels inside the header", offset_in_header, Status::GenericError},
      {"RLE stopping before the last row", {4, 3, 8, 1, rle_rows}, Status::GenericError},
      {"RLE absolute run cut short", {4, 3, 8, 1, {0, 9, 1, 2}}, Status::GenericError},
      {"3 MB", {1024, 1024}, Status::OutOfMemory},
      {"2^31 x 2^31", {INT32_MAX, -INT32_MAX, 32}, Status::OutOfMemory},
      {"16 MB of RLE", {4096, 4096, 8, 1}, Status::OutOfMemory},
      {"JPEG", {1, 1, 0, 4, px}, Status::NotImplemented},
      {"OS/2 Huffman", {1, 1, 1, 3, px, {}, 0, 64}, Status::NotImplemented},
      {"compression 9", {1, 1, 24, 9, px}, Status::GenericError},
      {"header size 200", {.header = 200}, Status::GenericError},
      {"width 0", {0, 1, 24, 0, px}, Status::GenericError},
      {"height -2^31", {1, INT32_MIN, 24, 0, px}, Status::GenericError},
      {"7 bits", {1, 1, 7, 0, px}, Status::GenericError},
      {"bitfields without masks", {1, 1, 16, 3}, Status::GenericError},
  };
  for (const auto& c : cases) EXPECT_EQ(decode(c.bmp).status, c.status) << c.what;
  raster::set_pixel_memory_limit(uint64_t{4} << 30);
  EXPECT_EQ(decode(std::vector<uint8_t>{'B', 'M', 0, 0}).status, Status::GenericError);
}

// 7 x 5 at 300 x 150 dpi: distinct colours; alpha rising across the columns
// when `alpha`. Indexed pictures get a short palette of their own.
std::unique_ptr<Image> pattern(raster::PixelFormat f, bool alpha) {
  std::unique_ptr<Image> img;
  EXPECT_EQ(Image::create(7, 5, f, img), Status::Ok);
  EXPECT_EQ(img->set_resolution(300.0f, 150.0f), Status::Ok);
  raster::Palette pal{0, {0xFF102030, 0xFFA0B0C0, 0xFF50FF00, 0xFFFFFFFF}};
  if (f == pf::k1bppIndexed) pal.entries.resize(2);
  EXPECT_EQ(raster::is_indexed(f) ? img->set_palette(pal) : Status::Ok, Status::Ok);
  U32s px;
  for (uint32_t y = 0; y < 5; ++y) {
    for (uint32_t x = 0; x < 7; ++x) {
      px.push_back((alpha ? x * 255 / 6 : 255) << 24 | x * 40 << 16 | y * 60 << 8 | (x + y) * 23);
    }
  }
  EXPECT_EQ(img->write_pixels({0, 0, 7, 5}, pf::k32bppARGB,
                              reinterpret_cast<const uint8_t*>(px.data()), 28),
            Status::Ok);
  return img;
}

// Each format is written at its own depth where BMP has it; ImageMagick and
// our decoder read back the same pixels, palette and resolution.
TEST(BmpEncode, WritesEachFormatAtItsDepthAndBothReadersAgree) {
  const raster::Encoder* enc = testutil::encoder_for("*.bmp");
  ASSERT_NE(enc, nullptr);
  EXPECT_EQ(enc, testutil::encoder_for("*.rle"));
  EXPECT_EQ(enc->name + " " + enc->mime_type, "Korvex BMP codec image/bmp");
  EXPECT_EQ(enc->format, raster::guids::kFormatBmp);
  const struct {
    raster::PixelFormat format, decoded;
    uint32_t bits, comp;
  } cases[] = {
      {pf::k1bppIndexed, pf::k1bppIndexed, 1, 0},  {pf::k4bppIndexed, pf::k4bppIndexed, 4, 0},
      {pf::k8bppIndexed, pf::k8bppIndexed, 8, 0},  {pf::k16bppGrayScale, pf::k24bppRGB, 24, 0},
      {pf::k16bppRGB555, pf::k16bppRGB555, 16, 0}, {pf::k16bppRGB565, pf::k16bppRGB565, 16, 3},
      {pf::k16bppARGB1555, pf::k32bppRGB, 32, 0},  {pf::k24bppRGB, pf::k24bppRGB, 24, 0},
      {pf::k32bppRGB, pf::k32bppRGB, 32, 0},       {pf::k32bppARGB, pf::k32bppRGB, 32, 0},
      {pf::k32bppPARGB, pf::k32bppRGB, 32, 0},     {pf::k48bppRGB, pf::k24bppRGB, 24, 0},
      {pf::k64bppARGB, pf::k32bppRGB, 32, 0},      {pf::k64bppPARGB, pf::k32bppRGB, 32, 0},
  };
  testutil::ScratchDir dir;
  for (const auto& c : cases) {
    SCOPED_TRACE(raster::pixel_format_name(c.format));
    auto img = pattern(c.format, raster::has_alpha(c.format));
    const U32s source = testutil::argb_pixels(*img);
    std::vector<uint8_t> out;
    ASSERT_EQ(enc->encode(*img, {}, out), Status::Ok);
    const uint32_t table = raster::is_indexed(c.format) ? (c.bits == 1 ? 2 : 4) : 0;
    const uint32_t offset = 54 + (c.comp == 3 ? 12 : 0) + 4 * table;
    ASSERT_EQ(out.size(), offset + 5 * ((7 * c.bits + 31) / 32 * 4));
    // File size, pixel offset, height (bottom-up), planes and bits, compression, colours.
    EXPECT_EQ((U32s{get32(out, 2), get32(out, 10), get32(out, 22), get32(out, 26), get32(out, 30),
                    get32(out, 46)}),
              (U32s{uint32_t(out.size()), offset, 5, 1 | c.bits << 16, c.comp, table}));
    if (c.comp == 3) {
      EXPECT_EQ((U32s{get32(out, 54), get32(out, 58), get32(out, 62)}),
                (U32s{0xF800, 0x7E0, 0x1F}));
    }
    // 300 / 0.0254 = 11811.02, 150 / 0.0254 = 5905.51 pels per metre.
    EXPECT_EQ((U32s{get32(out, 38), get32(out, 42)}), (U32s{11811, 5906}));

    // ImageMagick sees the same pixels, alpha included.
    testutil::write_file(dir.file("out.bmp"), out);
    EXPECT_EQ(testutil::rgba_to_argb(testutil::magick_rgba(dir.file("out.bmp"))), source);
    // We read the same colours; 32-bit BI_RGB comes back opaque.
    Decoded d = decode(out);
    ASSERT_EQ(d.status, Status::Ok);
    EXPECT_EQ(d.img->format(), c.decoded);
    EXPECT_EQ(d.img->palette().entries, img->palette().entries);
    EXPECT_NEAR(d.img->dpi_x(), 300.0, 0.0127);  // whole pels per metre
    EXPECT_NEAR(d.img->dpi_y(), 150.0, 0.0127);
    U32s opaque = source;
    for (uint32_t& p : opaque) p |= 0xFF000000u;
    EXPECT_EQ(d.px, opaque);
  }
}

}  // namespace
}  // namespace korvex
