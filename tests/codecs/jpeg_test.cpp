// JPEG codec against ImageMagick, known colours and resolutions, broken files, encoder.
#include <gtest/gtest.h>

#include <cstring>

#include "codec_test_util.h"

namespace korvex {
namespace {

using namespace testutil;

using raster::Image;
using raster::PropertyItem;
using enum raster::Status;
using namespace raster::pf;

// A file made by `convert <args> m.jpg` (args may end in a pipe into cjpeg).
Bytes magick_jpeg(const ScratchDir& dir, const std::string& args) {
  EXPECT_EQ(run(convert_tool() + " " + args + " " + dir.file("m.jpg")), 0);
  return read_file(dir.file("m.jpg"));
}

std::string identify(const std::string& format, const std::string& path) {
  std::string out;
  EXPECT_EQ(run("/usr/bin/identify -format '" + format + "' " + path, &out), 0);
  return out;
}

// Offset of the first (or last) marker FF `code` after SOI, or 0.
size_t find_marker(const Bytes& jpeg, uint8_t code, bool last = false) {
  size_t found = 0;
  for (size_t i = 2; i + 1 < jpeg.size(); ++i) {
    if (jpeg[i] == 0xFF && jpeg[i + 1] == code && (found == 0 || last)) found = i;
  }
  return found;
}

// `b` with the bytes at the given offsets replaced.
Bytes patched(Bytes b, std::initializer_list<std::pair<size_t, uint8_t>> changes) {
  for (const auto& [at, value] : changes) b.at(at) = value;
  return b;
}

TEST(JpegDecode, EveryLayoutMatchesImageMagickAndKnownColoursAndResolutions) {
  ScratchDir dir;
  const std::string plasma = "-size 67x45 -seed 7 plasma:red-blue ";
  // Flat colour 0: ImageMagick's pixels. Inverted CMYK (Adobe, YCCK) gives R = C' K' / 255;
  // a JFIF density without a unit gives 96 dpi.
  const std::tuple<std::string, raster::PixelFormat, float, float, uint32_t> cases[] = {
      {plasma + "-colorspace Gray", k8bppIndexed, 96, 96, 0},
      {plasma + "-sampling-factor 2x2", k24bppRGB, 96, 96, 0},
      {plasma + "-sampling-factor 2x2 -interlace Plane", k24bppRGB, 96, 96, 0},
      {plasma + "ppm:- | /usr/bin/cjpeg -arithmetic -restart 1 >", k24bppRGB, 96, 96, 0},
      {plasma + "ppm:- | /usr/bin/cjpeg -grayscale -restart 2 -optimize >", k8bppIndexed, 96, 96,
       0},
      {plasma + "-colorspace CMYK -interlace Plane", k24bppRGB, 96, 96, 0},
      {"-size 24x20 xc:#3366CC -quality 100 -sampling-factor 1x1", k24bppRGB, 96, 96, 0xFF3366CC},
      {"-size 24x20 'xc:cmyk(0,255,255,0)' -quality 100", k24bppRGB, 96, 96, 0xFFFF0000},
      {"-size 24x20 'xc:cmyk(64,0,128,64)' -quality 100", k24bppRGB, 96, 96, 0xFF8FBF5F},
      {"-size 8x8 xc:red -units PixelsPerInch -density 300x150", k24bppRGB, 300, 150, 0},
      {"-size 8x8 xc:red -units PixelsPerCentimeter -density 50", k24bppRGB, 127, 127, 0},
      {"-size 8x8 xc:red -units Undefined -density 72", k24bppRGB, 96, 96, 0},
  };
  for (const auto& [args, format, dpi_x, dpi_y, flat] : cases) {
    SCOPED_TRACE(args);
    auto img = decode_ok(magick_jpeg(dir, args));
    EXPECT_EQ(img->format(), format);
    EXPECT_EQ(img->raw_format(), raster::guids::kFormatJpeg);
    EXPECT_EQ(img->palette().flags, format == k8bppIndexed ? 2u : 0u);  // gray ramp: pixels
    EXPECT_EQ((std::pair{img->dpi_x(), img->dpi_y()}), (std::pair{dpi_x, dpi_y}));
    int w = 0, h = 0;
    const Pixels theirs = magick_argb(dir.file("m.jpg"), &w, &h);
    ASSERT_EQ((std::pair{img->width(), img->height()}), (std::pair{w, h}));
    EXPECT_LE(max_channel_diff(argb_pixels(*img), flat ? Pixels(w * h, flat) : theirs), 1);
  }

  // No JFIF header, big-endian EXIF with 300 x 150 dpi (a fuzz seed).
  const std::string seed = KORVEX_SOURCE_DIR "/fuzz/corpus/jpeg/exif-be-no-jfif.jpg";
  auto img = decode_ok(read_file(seed));
  EXPECT_EQ((std::pair{img->dpi_x(), img->dpi_y()}), (std::pair{300.0f, 150.0f}));
  ASSERT_NE(img->property(0x0131), nullptr);
  EXPECT_EQ(img->property(0x0131)->value, (Bytes{'K', 'o', 'r', 'v', 'e', 'x', 0}));
}

TEST(JpegDecode, BrokenFilesAreRefusedWithTheRightStatus) {
  ScratchDir dir;
  // Cut arithmetic-coded data decodes padded, so a missing EOI alone is refused there.
  for (const char* args : {"-sampling-factor 2x2", "-interlace Plane", "-colorspace Gray",
                           "ppm:- | /usr/bin/cjpeg -arithmetic -progressive >"}) {
    SCOPED_TRACE(args);
    const Bytes whole = magick_jpeg(dir, std::string("-size 64x48 -seed 3 plasma: ") + args);
    ASSERT_EQ(status_of(whole), Ok);
    // Cuts in the header, data, before the last scan (libjpeg alone would give a coarser
    // progressive picture) and before EOI only (complete).
    const size_t sos = find_marker(whole, 0xDA), size = whole.size();
    for (size_t n : {size_t{3}, size_t{40}, sos + 20, size / 2, size - 40,
                     find_marker(whole, 0xDA, true), size - 2}) {
      const bool complete = n == size - 2 && std::strstr(args, "arith") == nullptr;
      EXPECT_EQ(status_of(Bytes(whole.begin(), whole.begin() + n)), complete ? Ok : GenericError)
          << n;
    }
    // An EOI marker in the middle of the entropy data.
    EXPECT_EQ(status_of(patched(whole, {{sos + 30, 0xFF}, {sos + 31, 0xD9}})), GenericError);
  }

  const Bytes small = magick_jpeg(dir, "-size 16x16 xc:olive");
  const size_t sof = find_marker(small, 0xC0), dqt = find_marker(small, 0xDB);
  ASSERT_GT(sof, 0u);
  const std::tuple<const char*, Bytes, raster::Status> cases[] = {
      {"60000 x 60000",
       patched(small, {{sof + 5, 0xEA}, {sof + 6, 0x60}, {sof + 7, 0xEA}, {sof + 8, 0x60}}),
       OutOfMemory},
      {"lossless, a process libjpeg does not decode", patched(small, {{sof + 1, 0xC3}}),
       NotImplemented},
      {"12 bits", patched(small, {{sof + 1, 0xC1}, {sof + 4, 12}}), NotImplemented},
      {"quantisation table id out of range", patched(small, {{dqt + 4, 0x0F}}), GenericError},
      {"no marker after SOI", {0xFF, 0xD8, 0xFE, 0x00}, UnknownImageFormat},
  };
  for (const auto& [what, bytes, status] : cases) EXPECT_EQ(status_of(bytes), status) << what;
}

// Smooth ramps in each channel, alpha 0x80, stored in format f.
std::unique_ptr<Image> ramp_image(int32_t w, int32_t h, raster::PixelFormat f) {
  std::unique_ptr<Image> img;
  EXPECT_EQ(Image::create(w, h, f, img), Ok);
  for (int32_t i = 0, x = 0, y = 0; i < w * h; ++i, x = i % w, y = i / w) {
    const uint32_t r = x * 255 / (w - 1), g = y * 255 / (h - 1), b = (x + y) * 255 / (w + h - 2);
    img->set_pixel(x, y, 0x80000000u | r << 16 | g << 8 | b);
  }
  return img;
}

Bytes encode_jpeg(Image& img, const raster::EncoderParams& params = {},
                  raster::Status expect = Ok) {
  return encode("*.jfif", img, params, expect);
}

// identify's quality and layout (1 gray, 2 YCbCr); pixels against ImageMagick and the source.
TEST(JpegEncode, QualityLayoutAndPixelsAsImageMagickReadsThem) {
  ScratchDir dir;
  const std::string file = dir.file("e.jpg");
  auto argb = ramp_image(83, 61, k32bppARGB);  // alpha is dropped, not composited
  auto gray16 = ramp_image(40, 30, k16bppGrayScale);
  auto ramp8 = ramp_image(40, 30, k8bppIndexed);
  raster::Palette ramp;
  for (uint32_t i = 0; i < 256; ++i) ramp.entries.push_back(0xFF000000u | i * 0x010101u);
  ASSERT_EQ(ramp8->set_palette(ramp), Ok);
  auto flagged = ramp_image(40, 30, k8bppIndexed);  // four grays, flagged gray
  ASSERT_EQ(flagged->set_palette({2, {0xFF000000, 0xFF555555, 0xFFAAAAAA, 0xFFFFFFFF}}), Ok);
  auto halftone = ramp_image(40, 30, k8bppIndexed);
  // Quality -1: default; tolerance 255: not compared; 4:2:0 chroma blurs halftone edges.
  const std::tuple<Image*, int, const char*, int> cases[] = {
      // clang-format off
      {argb.get(), 0, "1 2x2,1x1,1x1 2", 255},   {argb.get(), 50, "50 2x2,1x1,1x1 2", 255},
      {argb.get(), -1, "75 2x2,1x1,1x1 2", 255}, {argb.get(), 90, "90 2x2,1x1,1x1 2", 12},
      {argb.get(), 100, "100 2x2,1x1,1x1 2", 4}, {halftone.get(), 100, "100 2x2,1x1,1x1 2", 40},
      {gray16.get(), 100, "100 1x1 1", 1},       {ramp8.get(), 100, "100 1x1 1", 1},
      {flagged.get(), 100, "100 1x1 1", 1},
      // clang-format on
  };
  for (const auto& [img, q, layout, tolerance] : cases) {
    SCOPED_TRACE(layout);
    const Bytes jpeg =
        q < 0 ? encode_jpeg(*img) : encode_jpeg(*img, {{raster::encparam::kQuality, q}});
    write_file(file, jpeg);
    EXPECT_EQ(identify("%Q %[jpeg:sampling-factor] %[jpeg:colorspace]", file), layout);
    const Pixels ours = argb_pixels(*decode_ok(jpeg));
    EXPECT_LE(max_channel_diff(ours, magick_argb(file)), 1);
    // Indices past a short palette read as transparent black in the source.
    EXPECT_LE(max_channel_diff(ours, argb_pixels(*img), true), tolerance);
  }
  for (int q : {-1, 101}) encode_jpeg(*argb, {{raster::encparam::kQuality, q}}, InvalidParameter);
}

TEST(JpegEncode, ResolutionAndExifRoundTrip) {
  ScratchDir dir;
  auto img = ramp_image(32, 24, k24bppRGB);
  ASSERT_EQ(img->set_resolution(299.6f, 150.0f), Ok);
  const std::vector<PropertyItem> items = {
      {0x010F, 2, {'A', 'c', 'm', 'e', 0}},
      {0x0131, 2, {'K', 'o', 'r', 'v', 'e', 'x', 0}},
      {0x0132, 2, {'2', '0', '2', '3', ':', '0', '5', ':', '0', '6',
                   ' ', '0', '7', ':', '0', '8', ':', '0', '9', 0}},
      {0x9000, 7, {'0', '2', '3', '2'}},
      {0x0001, 2, {'S', 0}},
  };
  for (size_t i = items.size(); i-- > 0;) ASSERT_EQ(img->set_property(items[i]), Ok);
  ASSERT_EQ(img->set_property({0x5100, 4, {10, 0, 0, 0}}), Ok);  // not written
  const Bytes jpeg = encode_jpeg(*img);
  write_file(dir.file("e.jpg"), jpeg);
  EXPECT_EQ(identify("%x %y|%[exif:Software]|%[exif:Make]|%[exif:DateTime]|%[exif:GPSLatitudeRef]",
                     dir.file("e.jpg")),
            "300 150|Korvex|Acme|2023:05:06 07:08:09|S");
  auto back = decode_ok(jpeg);
  EXPECT_EQ((std::pair{back->dpi_x(), back->dpi_y()}), (std::pair{300.0f, 150.0f}));
  EXPECT_EQ(back->properties(), items);

  // A maker note too big for the segment is dropped; the rest stays.
  ASSERT_EQ(img->set_property({0x927C, 7, Bytes(70000, 0x55)}), Ok);
  EXPECT_EQ(decode_ok(encode_jpeg(*img))->properties(), items);
  // No writable item: no APP1 segment.
  EXPECT_EQ(find_marker(encode_jpeg(*ramp_image(8, 8, k24bppRGB)), 0xE1), 0u);
}

}  // namespace
}  // namespace korvex
