// JPEG codec: decoding against ImageMagick's reading of the same files,
// known colours and resolutions, refusal of broken files, and encoder output
// as ImageMagick and our own decoder read it.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "codec_test_util.h"

namespace korvex {
namespace {

using raster::Image;
using raster::PropertyItem;
using raster::Status;
namespace pf = raster::pf;
using Bytes = std::vector<uint8_t>;
using testutil::ScratchDir;

// A file made by `convert <args> m.jpg` (args may end in a pipe into cjpeg).
Bytes magick_jpeg(const ScratchDir& dir, const std::string& args) {
  EXPECT_EQ(testutil::run(testutil::convert_tool() + " " + args + " " + dir.file("m.jpg")), 0);
  return testutil::read_file(dir.file("m.jpg"));
}

std::string identify(const std::string& format, const std::string& path) {
  std::string out;
  EXPECT_EQ(testutil::run("/usr/bin/identify -format '" + format + "' " + path, &out), 0);
  return out;
}

int max_channel_diff(const std::vector<uint32_t>& a, std::vector<uint32_t> b,
                     bool opaque_b = false) {
  EXPECT_EQ(a.size(), b.size());
  int worst = 0;
  for (size_t i = 0; i < a.size() && i < b.size(); ++i) {
    if (opaque_b) b[i] |= 0xFF000000u;
    for (int shift = 0; shift < 32; shift += 8) {
      worst = std::max(worst, std::abs(static_cast<int>((a[i] >> shift) & 0xFF) -
                                       static_cast<int>((b[i] >> shift) & 0xFF)));
    }
  }
  return worst;
}

// Offset of the first (or last) marker FF `code` after SOI, or 0.
size_t find_marker(const Bytes& jpeg, uint8_t code, bool last = false) {
  size_t found = 0;
  for (size_t i = 2; i + 1 < jpeg.size(); ++i) {
    if (jpeg[i] == 0xFF && jpeg[i + 1] == code && (found == 0 || last)) found = i;
  }
  return found;
}

TEST(JpegDecode, EveryLayoutMatchesImageMagick) {
  ScratchDir dir;
  const std::pair<const char*, raster::PixelFormat> cases[] = {
      {"-colorspace Gray", pf::k8bppIndexed},
      {"-sampling-factor 1x1", pf::k24bppRGB},
      {"-sampling-factor 2x1", pf::k24bppRGB},
      {"-sampling-factor 2x2", pf::k24bppRGB},
      {"-sampling-factor 2x2 -interlace Plane", pf::k24bppRGB},
      {"ppm:- | /usr/bin/cjpeg -arithmetic -restart 1 >", pf::k24bppRGB},
      {"ppm:- | /usr/bin/cjpeg -grayscale -restart 2 -optimize >", pf::k8bppIndexed},
      {"-colorspace CMYK", pf::k24bppRGB},  // Adobe marker, YCCK transform
      {"-colorspace CMYK -interlace Plane", pf::k24bppRGB},
  };
  for (const auto& [args, format] : cases) {
    SCOPED_TRACE(args);
    std::unique_ptr<Image> img;
    ASSERT_EQ(
        testutil::decode(
            magick_jpeg(dir, std::string("-size 67x45 -seed 7 plasma:red-blue ") + args), img),
        Status::Ok);
    EXPECT_EQ(img->format(), format);
    EXPECT_EQ(img->raw_format(), raster::guids::kFormatJpeg);
    EXPECT_EQ(img->palette().flags, format == pf::k8bppIndexed ? 2u : 0u);  // gray ramp: pixels
    int w = 0, h = 0;
    const auto expected = testutil::rgba_to_argb(testutil::magick_rgba(dir.file("m.jpg"), &w, &h));
    ASSERT_EQ(img->width(), w);
    ASSERT_EQ(img->height(), h);
    EXPECT_LE(max_channel_diff(testutil::argb_pixels(*img), expected), 1);
  }
}

TEST(JpegDecode, FlatColoursAndResolutions) {
  ScratchDir dir;
  std::unique_ptr<Image> img;
  // Inverted CMYK (0 = full ink) gives R = C' K' / 255.
  const std::pair<const char*, uint32_t> flats[] = {
      {"-size 24x20 xc:#3366CC -quality 100 -sampling-factor 1x1", 0xFF3366CC},
      {"-size 24x20 'xc:cmyk(0,255,255,0)' -quality 100", 0xFFFF0000},
      {"-size 24x20 'xc:cmyk(64,0,128,64)' -quality 100", 0xFF8FBF5F},
  };
  for (const auto& [args, argb] : flats) {
    SCOPED_TRACE(args);
    ASSERT_EQ(testutil::decode(magick_jpeg(dir, args), img), Status::Ok);
    const auto px = testutil::argb_pixels(*img);
    EXPECT_LE(max_channel_diff(px, std::vector<uint32_t>(px.size(), argb)), 1);
  }

  const std::tuple<const char*, float, float> densities[] = {
      {"-units PixelsPerInch -density 300x150", 300, 150},
      {"-units PixelsPerCentimeter -density 50", 127, 127},
      {"-units Undefined -density 72", 96, 96},  // JFIF aspect ratio only
  };
  for (const auto& [args, x, y] : densities) {
    ASSERT_EQ(testutil::decode(magick_jpeg(dir, std::string("-size 8x8 xc:red ") + args), img),
              Status::Ok);
    EXPECT_FLOAT_EQ(img->dpi_x(), x) << args;
    EXPECT_FLOAT_EQ(img->dpi_y(), y) << args;
  }

  // No JFIF header, big-endian EXIF with 300 x 150 dpi (a fuzz seed;
  // ImageMagick reads the same).
  ASSERT_EQ(testutil::decode(testutil::read_file(std::string(KORVEX_SOURCE_DIR) +
                                                 "/fuzz/corpus/jpeg/exif-be-no-jfif.jpg"),
                             img),
            Status::Ok);
  EXPECT_FLOAT_EQ(img->dpi_x(), 300.0f);
  EXPECT_FLOAT_EQ(img->dpi_y(), 150.0f);
  ASSERT_NE(img->property(0x0131), nullptr);
  EXPECT_EQ(img->property(0x0131)->value, (Bytes{'K', 'o', 'r', 'v', 'e', 'x', 0}));
}

TEST(JpegDecode, BrokenFilesAreRefusedWithTheRightStatus) {
  ScratchDir dir;
  std::unique_ptr<Image> img;
  // Arithmetic-coded data cut anywhere decodes silently padded, so a missing
  // EOI marker alone is refused there too.
  for (const char* args : {"-sampling-factor 2x2", "-interlace Plane", "-colorspace Gray",
                           "ppm:- | /usr/bin/cjpeg -arithmetic -progressive >"}) {
    SCOPED_TRACE(args);
    const bool arithmetic = std::string(args).find("arith") != std::string::npos;
    const Bytes whole = magick_jpeg(dir, std::string("-size 64x48 -seed 3 plasma: ") + args);
    ASSERT_EQ(testutil::decode(whole, img), Status::Ok);
    // Cut inside the header, at the start of the data, halfway, near the end.
    const size_t sos = find_marker(whole, 0xDA);
    for (size_t n : {size_t{3}, size_t{40}, sos + 20, whole.size() / 2, whole.size() - 40}) {
      EXPECT_EQ(testutil::decode(Bytes(whole.begin(), whole.begin() + n), img),
                Status::GenericError)
          << n;
    }
    // Only the EOI marker missing: the picture is complete.
    EXPECT_EQ(testutil::decode(Bytes(whole.begin(), whole.end() - 2), img),
              arithmetic ? Status::GenericError : Status::Ok);
    // Cut between two progressive scans: libjpeg alone would give a coarser picture.
    if (const size_t last_scan = find_marker(whole, 0xDA, true); last_scan != sos) {
      EXPECT_EQ(testutil::decode(Bytes(whole.begin(), whole.begin() + last_scan), img),
                Status::GenericError);
    }
    Bytes broken = whole;  // an EOI marker in the middle of the entropy data
    broken[sos + 30] = 0xFF;
    broken[sos + 31] = 0xD9;
    EXPECT_EQ(testutil::decode(broken, img), Status::GenericError);
  }

  const Bytes small = magick_jpeg(dir, "-size 16x16 xc:olive");
  const size_t sof = find_marker(small, 0xC0);
  ASSERT_GT(sof, 0u);
  Bytes huge = small;  // 60000 x 60000 declared
  huge[sof + 5] = huge[sof + 7] = 0xEA;
  huge[sof + 6] = huge[sof + 8] = 0x60;
  EXPECT_EQ(testutil::decode(huge, img), Status::OutOfMemory);
  Bytes lossless = small;  // a process libjpeg does not decode
  lossless[sof + 1] = 0xC3;
  EXPECT_EQ(testutil::decode(lossless, img), Status::NotImplemented);
  Bytes twelve_bit = small;
  twelve_bit[sof + 1] = 0xC1;
  twelve_bit[sof + 4] = 12;
  EXPECT_EQ(testutil::decode(twelve_bit, img), Status::NotImplemented);
  Bytes bad_table = small;  // quantisation table id out of range
  bad_table[find_marker(small, 0xDB) + 4] = 0x0F;
  EXPECT_EQ(testutil::decode(bad_table, img), Status::GenericError);
  EXPECT_EQ(testutil::decode(Bytes{0xFF, 0xD8, 0xFF}, img), Status::GenericError);
  EXPECT_EQ(testutil::decode(Bytes{0xFF, 0xD8, 0xFE, 0x00}, img), Status::UnknownImageFormat);
}

// Smooth ramps in each channel, alpha 0x80, stored in format f.
std::unique_ptr<Image> ramp_image(int32_t w, int32_t h, raster::PixelFormat f) {
  std::unique_ptr<Image> img;
  EXPECT_EQ(Image::create(w, h, f, img), Status::Ok);
  std::vector<uint32_t> row(w);
  for (int32_t y = 0; y < h; ++y) {
    for (int32_t x = 0; x < w; ++x) {
      row[x] = 0x80000000u | (x * 255 / (w - 1)) << 16 | (y * 255 / (h - 1)) << 8 |
               ((x + y) * 255 / (w + h - 2));
    }
    img->write_pixels({0, y, w, 1}, pf::k32bppARGB, reinterpret_cast<uint8_t*>(row.data()), w * 4);
  }
  return img;
}

Bytes encode(Image& img, const raster::EncoderParams& params = {}, Status expect = Status::Ok) {
  const raster::Encoder* enc = testutil::encoder_for("*.jfif");
  Bytes out;
  EXPECT_NE(enc, nullptr);
  if (enc != nullptr) {
    EXPECT_EQ(enc->encode(img, params, out), expect);
  }
  return out;
}

TEST(JpegEncode, QualityLayoutAndPixelsAsImageMagickReadsThem) {
  ScratchDir dir;
  auto img = ramp_image(83, 61, pf::k32bppARGB);  // alpha is dropped, not composited
  for (int q : {-1, 0, 50, 75, 90, 100, 101}) {
    SCOPED_TRACE(q);
    const bool valid = q >= 0 && q <= 100;
    const Bytes jpeg = q == 75 ? encode(*img)
                               : encode(*img, {{raster::encparam::kQuality, q}},
                                        valid ? Status::Ok : Status::InvalidParameter);
    if (!valid) continue;
    testutil::write_file(dir.file("q.jpg"), jpeg);
    EXPECT_EQ(identify("%Q %[jpeg:sampling-factor] %[jpeg:colorspace]", dir.file("q.jpg")),
              std::to_string(q == 0 ? 1 : q) + " 2x2,1x1,1x1 2");
    std::unique_ptr<Image> back;
    ASSERT_EQ(testutil::decode(jpeg, back), Status::Ok);
    const auto ours = testutil::argb_pixels(*back);
    EXPECT_LE(
        max_channel_diff(ours, testutil::rgba_to_argb(testutil::magick_rgba(dir.file("q.jpg")))),
        1);
    if (q >= 90) {
      EXPECT_LE(max_channel_diff(ours, testutil::argb_pixels(*img), true), q == 100 ? 4 : 12);
    }
  }
}

TEST(JpegEncode, GraySourcesGiveOneComponent) {
  ScratchDir dir;
  auto gray16 = ramp_image(40, 30, pf::k16bppGrayScale);
  auto ramp8 = ramp_image(40, 30, pf::k8bppIndexed);
  raster::Palette ramp;
  for (uint32_t i = 0; i < 256; ++i) ramp.entries.push_back(0xFF000000u | i * 0x010101u);
  ASSERT_EQ(ramp8->set_palette(ramp), Status::Ok);
  auto flagged = ramp_image(40, 30, pf::k8bppIndexed);  // four grays, flagged gray
  ASSERT_EQ(flagged->set_palette({2, {0xFF000000, 0xFF555555, 0xFFAAAAAA, 0xFFFFFFFF}}),
            Status::Ok);
  auto halftone = ramp_image(40, 30, pf::k8bppIndexed);
  // Colour layout (1 gray, 2 YCbCr) and worst error at quality 100; the
  // halftone picture has sharp colour edges, which 4:2:0 chroma blurs.
  const std::tuple<Image*, const char*, int> cases[] = {{gray16.get(), "1", 1},
                                                        {ramp8.get(), "1", 1},
                                                        {flagged.get(), "1", 1},
                                                        {halftone.get(), "2", 40}};
  for (const auto& [img, colorspace, tolerance] : cases) {
    const Bytes jpeg = encode(*img, {{raster::encparam::kQuality, 100}});
    testutil::write_file(dir.file("g.jpg"), jpeg);
    EXPECT_EQ(identify("%[jpeg:colorspace]", dir.file("g.jpg")), colorspace);
    std::unique_ptr<Image> back;
    ASSERT_EQ(testutil::decode(jpeg, back), Status::Ok);
    // Indices past a short palette read as transparent black in the source.
    EXPECT_LE(max_channel_diff(testutil::argb_pixels(*back), testutil::argb_pixels(*img), true),
              tolerance);
  }
}

TEST(JpegEncode, ResolutionAndExifRoundTrip) {
  ScratchDir dir;
  auto img = ramp_image(32, 24, pf::k24bppRGB);
  ASSERT_EQ(img->set_resolution(299.6f, 150.0f), Status::Ok);
  const std::vector<PropertyItem> items = {
      {0x010F, 2, {'A', 'c', 'm', 'e', 0}},
      {0x0131, 2, {'K', 'o', 'r', 'v', 'e', 'x', 0}},
      {0x0132, 2, {'2', '0', '2', '3', ':', '0', '5', ':', '0', '6',
                   ' ', '0', '7', ':', '0', '8', ':', '0', '9', 0}},
      {0x9000, 7, {'0', '2', '3', '2'}},
      {0x0001, 2, {'S', 0}},
  };
  for (size_t i = items.size(); i-- > 0;) ASSERT_EQ(img->set_property(items[i]), Status::Ok);
  ASSERT_EQ(img->set_property({0x5100, 4, {10, 0, 0, 0}}), Status::Ok);  // not written
  const Bytes jpeg = encode(*img);
  testutil::write_file(dir.file("e.jpg"), jpeg);
  EXPECT_EQ(identify("%x %y|%[exif:Software]|%[exif:Make]|%[exif:DateTime]|%[exif:GPSLatitudeRef]",
                     dir.file("e.jpg")),
            "300 150|Korvex|Acme|2023:05:06 07:08:09|S");
  std::unique_ptr<Image> back;
  ASSERT_EQ(testutil::decode(jpeg, back), Status::Ok);
  EXPECT_FLOAT_EQ(back->dpi_x(), 300.0f);
  EXPECT_FLOAT_EQ(back->dpi_y(), 150.0f);
  EXPECT_EQ(back->properties(), items);

  // A maker note too big for the segment is dropped; the rest stays.
  ASSERT_EQ(img->set_property({0x927C, 7, Bytes(70000, 0x55)}), Status::Ok);
  ASSERT_EQ(testutil::decode(encode(*img), back), Status::Ok);
  EXPECT_EQ(back->properties(), items);
  // No writable item: no APP1 segment.
  EXPECT_EQ(find_marker(encode(*ramp_image(8, 8, pf::k24bppRGB)), 0xE1), 0u);
}

}  // namespace
}  // namespace korvex
