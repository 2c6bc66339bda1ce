// BMP codec: ImageMagick's variants, hand-made variants and damage, our files read back.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>

#include "codec_test_util.h"

namespace korvex {
namespace {

using namespace testutil;

using raster::Image;
using enum raster::Status;
using namespace raster::pf;

Pixels opaque(Pixels argb) {
  for (uint32_t& p : argb) p |= 0xFF000000u;
  return argb;
}

TEST(BmpDecode, ReadsEveryImageMagickVariantLikeImageMagick) {
  ScratchDir dir;
  const std::string file = dir.file("v.bmp");
  // bmp2 is OS/2 1.x; plain BMP a V5 header (32-bit bitfields with alpha).
  const std::pair<const char*, raster::PixelFormat> variants[] = {
      // clang-format off
      {"-type Bilevel BMP3:", k1bppIndexed}, {"-colors 16 -compress None BMP3:", k4bppIndexed},
      {"-type Palette -compress None BMP3:", k8bppIndexed},
      {"-type Palette -compress RLE BMP3:", k8bppIndexed},
      {"-define bmp:format=bmp2 BMP:", k24bppRGB},
      {"-type Palette -define bmp:format=bmp2 BMP:", k8bppIndexed},
      {"BMP3:", k24bppRGB}, {"BMP:", k32bppARGB},
      {"-define bmp:subtype=RGB565 BMP:", k16bppRGB565},
      {"-define bmp:subtype=RGB555 BMP:", k16bppRGB555},
      {"-define bmp:subtype=ARGB1555 BMP:", k16bppARGB1555},
      {"-define bmp:subtype=ARGB4444 BMP:", k32bppARGB},
      // clang-format on
  };
  for (const auto& [args, format] : variants) {
    SCOPED_TRACE(args);
    const char* alpha = raster::has_alpha(format) ? "-alpha set -channel A -fx i/w " : "";
    ASSERT_EQ(run(convert_tool() + " rose: " + alpha + args + file), 0);
    auto img = decode_ok(read_file(file));
    EXPECT_EQ(img->format(), format);
    EXPECT_EQ(img->raw_format(), raster::guids::kFormatBmp);
    int32_t w = 0, h = 0;
    Pixels expected = magick_argb(file, &w, &h);
    // ImageMagick widens 4-bit fields by shifting (15 -> 240), we scale (15 -> 255).
    for (uint32_t& p : expected) p = std::strstr(args, "4444") ? (p >> 4 & 0x0F0F0F0F) * 17 : p;
    EXPECT_EQ((std::pair{img->width(), img->height()}), (std::pair{w, h}));
    EXPECT_EQ(argb_pixels(*img), expected);
  }
}

TEST(BmpDecode, HandMadeFilesGiveKnownPixelsOrAreRefused) {
  Pixels grays;
  for (uint32_t k = 0; k < 16; ++k) grays.push_back(0x111111u * k);
  const auto g = [](uint32_t k) { return 0xFF000000u | 0x111111u * k; };
  const Bytes rows = {1, 2, 3, 4, 5, 6, 0, 0, 7, 8, 9, 10, 11, 12, 0, 0}, px(4), z36(36);
  const Bytes bgrx = {1, 2, 3, 0x40};
  const Pixels rgb = {0xFF0000, 0xFF00, 0xFF}, rgba = {0xFF0000, 0xFF00, 0xFF, 0xFF000000};
  // Beyond this limit: refused before allocating, or looking for the pixels.
  const PixelLimit limit(uint64_t{1} << 20);
  const struct {
    const char* what;
    Bmp bmp;
    raster::Status status;
    raster::PixelFormat format = kUndefined;
    Pixels px{};
    float dpi_x = 96, dpi_y = 96;  // pels per metre x 0.0254 when both are given
  } cases[] = {
      // clang-format off
      {"top-down", {2, -2, 24, 0, rows}, Ok, k24bppRGB,
       {0xFF030201, 0xFF060504, 0xFF090807, 0xFF0C0B0A}},
      {"index 5 past a three-entry table",
       {3, 2, 4, 0, {0x01, 0x2F, 0, 0, 0x50, 0x1F, 0, 0}, {0x112233, 0x445566, 0x778899}, 3},
       Ok, k4bppIndexed, {0, 0xFF112233, 0xFF445566, 0xFF112233, 0xFF445566, 0xFF778899}},
      // 256 entries implied, 2^31 declared: the pixels start after two.
      {"OS/2 2.x, 16 bytes", {2, 1, 8, 0, {1, 0, 0, 0}, {0xFF, 0xFF0000}, 0, 16},
       Ok, k8bppIndexed, {0xFFFF0000, 0xFF0000FF}},
      {"2^31 colours", {2, 1, 8, 0, {1, 0, 0, 0}, {0xFF, 0xFF0000}, 0x80000000u},
       Ok, k8bppIndexed, {0xFFFF0000, 0xFF0000FF}},
      // Run of 3, absolute run of 5 + pad, end of line, delta (+2, +1), run of 2, end.
      {"RLE4", {8, 3, 4, 2, {3, 0x12, 0, 5, 0x34, 0x56, 0x70, 0, 0, 0, 0, 2, 2, 1, 2, 0xAB, 0, 1},
                grays}, Ok, k4bppIndexed,
       {g(0), g(0), g(10), g(11), g(0), g(0), g(0), g(0), g(0), g(0), g(0), g(0),
        g(0), g(0), g(0), g(0), g(1), g(2), g(1), g(3), g(4), g(5), g(6), g(7)}},
      // Runs past the row are cut; a delta out of the picture ends it; row 3 stays 0.
      {"RLE8 clipped", {4, 3, 8, 1, {10, 7, 0, 0, 0, 5, 1, 2, 3, 4, 5, 0, 0, 2, 0, 9}, grays},
       Ok, k8bppIndexed, {g(0), g(0), g(0), g(0), g(1), g(2), g(3), g(4), g(7), g(7), g(7), g(7)}},
      {"V3 alpha mask", {1, 1, 32, 3, bgrx, {}, 0, 56, rgba}, Ok, k32bppARGB, {0x40030201}},
      {"ALPHABITFIELDS", {1, 1, 32, 6, bgrx, {}, 0, 40, rgba}, Ok, k32bppARGB, {0x40030201}},
      {"V2: no alpha", {1, 1, 32, 3, bgrx, {}, 0, 52, rgb}, Ok, k32bppRGB, {0xFF030201}},
      {"blue and red swapped", {1, 1, 32, 3, bgrx, {}, 0, 40, {0xFF, 0xFF00, 0xFF0000}},
       Ok, k32bppARGB, {0xFF010203}},
      {"10-10-10: 1023, 512, 3 -> 255, 128, 1", {1, 1, 32, 3, {3, 0, 0xF8, 0x3F}, {}, 0, 108,
                                                 {0x3FF00000, 0xFFC00, 0x3FF}},
       Ok, k32bppARGB, {0xFFFF8001}},
      {"3780 x 7874 pels per metre", {.pixels = px, .ppm_x = 3780, .ppm_y = 7874}, Ok, k24bppRGB,
       {0xFF000000}, 96.012f, 199.9996f},
      {"3780 x 0 pels per metre", {.pixels = px, .ppm_x = 3780}, Ok, k24bppRGB, {0xFF000000}},
      {"short by the last row's padding only", {3, 3, 24, 0, Bytes(33)}, Ok, k24bppRGB,
       Pixels(9, 0xFF000000)},
      {"truncated pixel array", {3, 3, 24, 0, Bytes(32)}, GenericError},
      {"pixels past the end", {.w = 3, .h = 3, .pixels = z36, .offset = 14 + 40 + 36 + 1},
       GenericError},
      {"pixels inside the header", {.w = 3, .h = 3, .pixels = z36, .offset = 30}, GenericError},
      {"RLE stopping before the last row", {4, 3, 8, 1, {10, 7, 0, 0}}, GenericError},
      {"RLE absolute run cut short", {4, 3, 8, 1, {0, 9, 1, 2}}, GenericError},
      {"3 MB", {1024, 1024}, OutOfMemory}, {"16 MB of RLE", {4096, 4096, 8, 1}, OutOfMemory},
      {"2^31 x 2^31", {INT32_MAX, -INT32_MAX, 32}, OutOfMemory},
      {"JPEG", {1, 1, 0, 4, px}, NotImplemented},
      {"OS/2 Huffman", {1, 1, 1, 3, px, {}, 0, 64}, NotImplemented},
      {"compression 9", {1, 1, 24, 9, px}, GenericError},
      {"header size 200", {.header = 200}, GenericError},
      {"width 0", {0, 1, 24, 0, px}, GenericError}, {"7 bits", {1, 1, 7, 0, px}, GenericError},
      {"height -2^31", {1, INT32_MIN, 24, 0, px}, GenericError},
      {"bitfields without masks", {1, 1, 16, 3}, GenericError},
      // clang-format on
  };
  std::unique_ptr<Image> img;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    img.reset();
    EXPECT_EQ(decode(c.bmp.bytes(), img), c.status);
    if (c.status != Ok || !img) continue;
    EXPECT_EQ(img->format(), c.format);
    EXPECT_EQ(argb_pixels(*img), c.px);
    EXPECT_EQ(img->palette().entries, opaque(c.bmp.table));
    EXPECT_FLOAT_EQ(img->dpi_x(), c.dpi_x);
    EXPECT_FLOAT_EQ(img->dpi_y(), c.dpi_y);
  }
  EXPECT_EQ(decode(Bytes{'B', 'M', 0, 0}, img), GenericError);
}

// Each format at the depth it reads back as; ImageMagick and the decoder agree.
TEST(BmpEncode, WritesEachFormatAtItsDepthAndBothReadersAgree) {
  const std::pair<raster::PixelFormat, raster::PixelFormat> cases[] = {
      {k1bppIndexed, k1bppIndexed}, {k4bppIndexed, k4bppIndexed}, {k8bppIndexed, k8bppIndexed},
      {k16bppGrayScale, k24bppRGB}, {k16bppRGB555, k16bppRGB555}, {k16bppRGB565, k16bppRGB565},
      {k16bppARGB1555, k32bppRGB},  {k24bppRGB, k24bppRGB},       {k32bppRGB, k32bppRGB},
      {k32bppARGB, k32bppRGB},      {k32bppPARGB, k32bppRGB},     {k48bppRGB, k24bppRGB},
      {k64bppARGB, k32bppRGB},      {k64bppPARGB, k32bppRGB},
  };
  ScratchDir dir;
  for (const auto& [format, decoded] : cases) {
    SCOPED_TRACE(raster::pixel_format_name(format));
    const uint32_t bits = raster::bits_per_pixel(decoded), comp = decoded == k16bppRGB565 ? 3 : 0;
    Pixels table = {0x102030, 0xA0B0C0, 0x50FF00, 0xFFFFFF};  // 0xRRGGBB, as the file has it
    table.resize(!raster::is_indexed(format) ? 0 : bits == 1 ? 2 : 4);
    // 7 x 5 at 300 x 150 dpi, distinct colours, alpha rising across the columns.
    std::unique_ptr<Image> img;
    ASSERT_EQ(Image::create(7, 5, format, img), Ok);
    ASSERT_EQ(img->set_resolution(300.0f, 150.0f), Ok);
    ASSERT_EQ(raster::is_indexed(format) ? img->set_palette({0, opaque(table)}) : Ok, Ok);
    for (int32_t i = 0, x = 0, y = 0; i < 35; ++i, x = i % 7, y = i / 7) {
      const uint32_t a = raster::has_alpha(format) ? x * 255 / 6 : 255;
      ASSERT_EQ(img->set_pixel(x, y, a << 24 | x * 40 << 16 | y * 60 << 8 | (x + y) * 23), Ok);
    }
    const Pixels source = argb_pixels(*img);
    const Bytes out = encode("*.bmp", *img);
    const size_t offset = 54 + (comp == 3 ? 12 : 0) + 4 * table.size();
    ASSERT_EQ(out.size(), offset + 5 * ((7 * bits + 31) / 32 * 4));
    // 300 and 150 dpi as 11811 and 5906 pels per metre; 5-6-5 masks; rows checked below.
    const Pixels masks = comp == 3 ? Pixels{0xF800, 0x7E0, 0x1F} : Pixels{};
    const Bytes rows(out.begin() + offset, out.end());
    EXPECT_EQ(out,
              (Bmp{7, 5, bits, comp, rows, table, uint32_t(table.size()), 40, masks, 11811, 5906}
                   .bytes()));

    write_file(dir.file("out.bmp"), out);
    EXPECT_EQ(magick_argb(dir.file("out.bmp")), source);
    // 32-bit BI_RGB comes back opaque.
    auto back = decode_ok(out);
    EXPECT_EQ(back->format(), decoded);
    EXPECT_EQ(back->palette().entries, img->palette().entries);
    EXPECT_EQ(argb_pixels(*back), opaque(source));
  }
}

}  // namespace
}  // namespace korvex
