// TIFF codec against ImageMagick, libtiff's tools and hand-made files; multi-page writing.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <tuple>

#include "../file_size_limit.h"
#include "codec_test_util.h"
#include "host/file_io.h"

namespace korvex {
namespace {

using namespace testutil;

using raster::Image;
using raster::Status;
namespace pf = raster::pf;
namespace ep = raster::encparam;
const raster::Guid kPage = raster::guids::kFrameDimensionPage;

std::string quoted(const std::string& s) {
  return "'" + s + "'";
}

// convert `args` into dir/name ("TIFF64:" as the last argument prefixes the name).
Bytes magick_make(const ScratchDir& dir, const std::string& name, std::string args) {
  const bool big = args.ends_with(" TIFF64:");
  if (big) args.resize(args.size() - 8);
  const std::string out = quoted((big ? "TIFF64:" : "") + dir.file(name));
  EXPECT_EQ(run(convert_tool() + " " + args + " " + out), 0) << args;
  return read_file(dir.file(name));
}

std::string tiffinfo(const std::string& path) {
  std::string out;
  EXPECT_EQ(run("/usr/bin/tiffinfo " + quoted(path) + " 2>&1", &out), 0) << out;
  return out;
}

uint16_t le16(const uint8_t* p) {
  return static_cast<uint16_t>(p[0] | p[1] << 8);
}

// The active frame against ImageMagick's, per channel within `tolerance` (transparent colour free).
void expect_like_magick(Image& img, const std::string& path, int frame = 0, int tolerance = 0) {
  int32_t w = 0, h = 0;
  const Pixels ref = magick_argb(path, &w, &h, frame);
  ASSERT_EQ(std::make_pair(img.width(), img.height()), std::make_pair(w, h));
  const Pixels ours = argb_pixels(img);
  for (size_t i = 0; i < ours.size(); ++i) {
    for (int shift = 24; shift >= 0 && (shift == 24 || ours[i] >> 24 != 0); shift -= 8) {
      const int d = int((ours[i] >> shift) & 0xFF) - int((ref[i] >> shift) & 0xFF);
      ASSERT_LE(std::abs(d), tolerance) << i << std::hex << ": " << ours[i] << " vs " << ref[i];
    }
  }
}

// A little-endian one-strip uncompressed TIFF; `extra` entries follow the standard ones.
struct Entry {
  uint16_t tag, type;  // 3 SHORT, 4 LONG
  uint32_t count, value;
};
constexpr uint32_t kData = 0xFFFFFFFF;
Bytes handmade_tiff(uint32_t w, uint32_t h, uint16_t bps, uint16_t photometric, const Bytes& data,
                    std::vector<Entry> extra = {}, uint32_t strip_bytes = 0) {
  const uint32_t n = strip_bytes ? strip_bytes : static_cast<uint32_t>(data.size());
  // clang-format off
  std::vector<Entry> e = {{256, 4, 1, w}, {257, 4, 1, h}, {258, 3, 1, bps}, {259, 3, 1, 1},
                          {262, 3, 1, photometric}, {273, 4, 1, kData}, {277, 3, 1, 1},
                          {278, 4, 1, h}, {279, 4, 1, n}};
  // clang-format on
  e.insert(e.end(), extra.begin(), extra.end());
  Bytes b = {'I', 'I', 42, 0, 8, 0, 0, 0, static_cast<uint8_t>(e.size()), 0};
  auto put = [&b](uint32_t v, int bytes) { put_le(b, v, bytes); };
  for (const Entry& x : e) {
    put(x.tag, 2), put(x.type, 2), put(x.count, 4);
    put(x.value == kData ? 8 + 2 + 12 * static_cast<uint32_t>(e.size()) + 4 : x.value, 4);
  }
  put(0, 4);
  b.insert(b.end(), data.begin(), data.end());
  return b;
}

std::vector<uint32_t> directory_offsets(const Bytes& b) {  // little-endian classic TIFF
  auto u32 = [&b](size_t at) { return uint32_t(le16(&b[at]) | le16(&b[at + 2]) << 16); };
  std::vector<uint32_t> out;
  for (uint32_t at = u32(4); at != 0 && out.size() < 100; at = u32(at + 2 + 12 * le16(&b[at]))) {
    out.push_back(at);
  }
  return out;
}

const raster::Encoder& tiff_encoder() {
  return *encoder_for("*.tif");
}

raster::EncoderParams params(int32_t compression, int32_t depth = 0) {
  raster::EncoderParams p;
  if (compression != 0) p.push_back({ep::kCompression, compression});
  if (depth != 0) p.push_back({ep::kColorDepth, depth});
  return p;
}

// Encodes into dir/name; returns the bytes and tiffinfo's report.
std::pair<Bytes, std::string> encode_to(const ScratchDir& dir, const std::string& name, Image& img,
                                        const raster::EncoderParams& p) {
  const Bytes bytes = encode("*.tif", img, p);
  write_file(dir.file(name), bytes);
  return {bytes, tiffinfo(dir.file(name))};
}

TEST(TiffDecode, EveryLayoutAndCompressionMatchesImageMagick) {
  ScratchDir dir;
  // Within 1: ImageMagick truncates 16-bit samples and colormap entries, libtiff's CMYK.
  const std::string tiles = " -define tiff:tile-geometry=", a = " -alpha set -channel A -fx ",
                    bilevel = "rose: -resize 300% -type Bilevel -compress ";
  const std::tuple<std::string, raster::PixelFormat, int> cases[] = {
      // clang-format off
      {"rose: -depth 8 -compress LZW", pf::k24bppRGB, 0},
      {"rose: -depth 8 -compress RLE" + tiles + "32x16", pf::k24bppRGB, 0},  // PackBits
      {"rose: -depth 8 -interlace Plane -compress LZW", pf::k24bppRGB, 0},
      {"rose: -depth 8 TIFF64:", pf::k24bppRGB, 0},
      {"rose: -depth 16 -interlace Plane -compress Zip", pf::k48bppRGB, 1},
      {"rose: -depth 8" + a + "i/w +channel", pf::k32bppARGB, 0},
      {"rose: -depth 8" + a + "j/h +channel -interlace Plane" + tiles + "16x16", pf::k32bppARGB, 0},
      {"rose: -depth 16" + a + "i/w +channel", pf::k64bppARGB, 1},
      {"rose: -depth 8 -type GrayscaleAlpha -channel A -fx i/w +channel", pf::k32bppARGB, 0},
      {"rose: -depth 8 -type Palette", pf::k8bppIndexed, 1},
      {"rose: -colors 16 -type Palette" + tiles + "16x16", pf::k4bppIndexed, 1},
      {"rose: -depth 8 -type Grayscale -define quantum:polarity=min-is-white", pf::k8bppIndexed, 0},
      {"rose: -depth 4 -type Grayscale" + tiles + "16x16", pf::k4bppIndexed, 0},
      {"rose: -depth 2 -type Grayscale", pf::k4bppIndexed, 0},
      {"rose: -depth 16 -type Grayscale", pf::k48bppRGB, 1},
      {bilevel + "Group4", pf::k1bppIndexed, 0},
      {bilevel + "Fax" + tiles + "32x32", pf::k1bppIndexed, 0},
      {bilevel + "Group4 -define quantum:polarity=min-is-black", pf::k1bppIndexed, 0},
      {bilevel + "LZW -depth 1", pf::k1bppIndexed, 0},
      {"rose: -depth 8 -colorspace CMYK", pf::k32bppARGB, 1},  // libtiff's RGBA reader
      // clang-format on
  };
  for (const auto& [args, format, tolerance] : cases) {
    SCOPED_TRACE(args);
    auto img = decode_ok(magick_make(dir, "m.tif", args));
    EXPECT_EQ(img->format(), format);
    EXPECT_EQ(img->raw_format(), raster::guids::kFormatTiff);
    expect_like_magick(*img, dir.file("m.tif"), 0, tolerance);
  }
}

TEST(TiffDecode, HandmadeFilesGiveKnownSamplesAndPalettes) {
  const uint32_t kW = 0xFFFFFFFF, kB = 0xFF000000;
  // Width, bits per sample, photometric, file samples, the surface's bytes, ARGB.
  const std::tuple<uint32_t, uint16_t, uint16_t, Bytes, Bytes, Pixels> cases[] = {
      // clang-format off
      // Bilevel bits are kept as stored; the palette follows the photometric order.
      {8, 1, 0, {0xA3}, {0xA3}, {kB, kW, kB, kW, kW, kW, kB, kB}},
      {8, 1, 1, {0xA3}, {0xA3}, {kW, kB, kW, kB, kB, kB, kW, kW}},
      // 2-bit gray 0 1 2 3 2 widened to 4-bit indices.
      {5, 2, 1, {0x1B, 0x80}, {0x01, 0x23, 0x20}, {kB, 0xFF555555, 0xFFAAAAAA, kW, 0xFFAAAAAA}},
      {3, 4, 0, {0x1C, 0xF0}, {0x1C, 0xF0}, {0xFFEEEEEE, 0xFF333333, kB}},
      {4, 8, 0, {0, 17, 200, 255}, {0, 17, 200, 255}, {kW, 0xFFEEEEEE, 0xFF373737, kB}},
      // 16-bit gray, exact in all three channels; min-is-white inverted.
      {2, 16, 1, {0x34, 0x12, 0xFE, 0xFF},
       {0x34, 0x12, 0x34, 0x12, 0x34, 0x12, 0xFE, 0xFF, 0xFE, 0xFF, 0xFE, 0xFF}, {0xFF121212, kW}},
      {1, 16, 0, {0x34, 0x12}, {0xCB, 0xED, 0xCB, 0xED, 0xCB, 0xED}, {0xFFEDEDED}},
      // clang-format on
  };
  for (const auto& [w, bps, photometric, data, stored, argb] : cases) {
    SCOPED_TRACE(testing::Message() << bps << " bits, photometric " << photometric);
    auto img = decode_ok(handmade_tiff(w, 1, bps, photometric, data));
    EXPECT_EQ(stored_rows(*img), stored);
    EXPECT_EQ(argb_pixels(*img), argb);
    if (raster::is_indexed(img->format())) {
      EXPECT_EQ(img->palette().flags, raster::Palette::kGrayScale);
    }
  }
  // A colormap of 8-bit values (all entries < 256) is read as such.
  const Bytes data = {0x40, 0, 10, 0, 250, 0, 20, 0, 0, 0, 30, 0, 5, 0};
  auto cmap = decode_ok(handmade_tiff(2, 1, 1, 3, data, {{320, 3, 6, 8 + 2 + 12 * 10 + 4 + 2}}, 1));
  EXPECT_EQ(cmap->palette().entries, (Pixels{0xFF0A141E, 0xFFFA0005}));
  EXPECT_EQ(cmap->palette().flags, 0u);
  // Resolution in pixels per centimetre.
  ScratchDir dir;
  auto cm =
      decode_ok(magick_make(dir, "cm.tif", "rose: -units PixelsPerCentimeter -density 100x50"));
  EXPECT_NEAR(cm->dpi_x(), 254.0, 0.01);
  EXPECT_NEAR(cm->dpi_y(), 127.0, 0.01);
}

TEST(TiffDecode, DamagedInputAndThePixelLimitGiveAStatus) {
  std::unique_ptr<Image> img;
  for (const raster::Decoder& d : raster::decoders()) {
    if (std::strcmp(d.name, "TIFF") == 0) {
      EXPECT_EQ(d.decode(raster::own_bytes({0x89, 'P', 'N', 'G', 13, 10, 26, 10}), img),
                Status::UnknownImageFormat);
    }
  }
  EXPECT_EQ(status_of({'I', 'I', 42, 0, 8, 0, 0, 0}), Status::GenericError);
  EXPECT_EQ(status_of(handmade_tiff(4, 4, 8, 1, {1, 2, 3}, {}, 16)), Status::GenericError);
  EXPECT_EQ(status_of(handmade_tiff(0, 4, 8, 1, Bytes(16, 1))), Status::GenericError);
  // Float samples: refused by libtiff's RGBA reader too.
  EXPECT_EQ(status_of(handmade_tiff(1, 1, 32, 1, Bytes(4, 0), {{339, 3, 1, 3}})),
            Status::GenericError);
  // 100000 x 100000 declared in sixteen bytes: over the limit before any reading.
  EXPECT_EQ(status_of(handmade_tiff(100000, 100000, 8, 1, Bytes(16, 0))), Status::OutOfMemory);
  ScratchDir dir;
  const Bytes rgb = magick_make(dir, "rgb.tif", "rose: -depth 8");
  const Bytes cmyk = magick_make(dir, "cmyk.tif", "rose: -depth 8 -colorspace CMYK");
  {
    const PixelLimit limit(4096);
    EXPECT_EQ(status_of(rgb), Status::OutOfMemory);
    EXPECT_EQ(status_of(cmyk), Status::OutOfMemory);  // through libtiff's RGBA reader
  }

  // Prefixes of a tiled LZW file: a status, never a crash (random damage is the fuzz
  // harness's, whose seeds and crashers the replay test reads).
  const Bytes whole =
      magick_make(dir, "t.tif", "rose: -depth 8 -compress LZW -define tiff:tile-geometry=32x32");
  for (size_t n = 4; n < whole.size(); n += 37) {
    const Status s = status_of(Bytes(whole.begin(), whole.begin() + ptrdiff_t(n)));
    EXPECT_TRUE(s == Status::Ok || s == Status::GenericError) << n;
  }
}

TEST(TiffEncode, EachStoredFormatGetsItsLayoutAndReadsBack) {
  ScratchDir dir;
  raster::Palette ramp{raster::Palette::kGrayScale, {}};
  for (uint32_t i = 0; i < 256; ++i) ramp.entries.push_back(0xFF000000u | i * 0x010101u);
  const raster::Palette white_black{raster::Palette::kGrayScale, {0xFFFFFFFF, 0xFF000000}};
  const raster::Palette colours{0, {0xFF102030, 0xFFC08040}};
  // Format and palette; bits, photometric and alpha as tiffinfo shows them; format read back.
  using F = raster::PixelFormat;
  const std::tuple<F, const raster::Palette*, const char*, const char*, const char*, F> cases[] = {
      // clang-format off
      {pf::k1bppIndexed, nullptr, "1", "min-is-black", "", pf::k1bppIndexed},
      {pf::k1bppIndexed, &white_black, "1", "min-is-white", "", pf::k1bppIndexed},
      {pf::k1bppIndexed, &colours, "1", "palette", "", pf::k1bppIndexed},
      {pf::k4bppIndexed, nullptr, "4", "palette", "", pf::k4bppIndexed},
      {pf::k8bppIndexed, nullptr, "8", "palette", "", pf::k8bppIndexed},
      {pf::k8bppIndexed, &ramp, "8", "min-is-black", "", pf::k8bppIndexed},
      {pf::k16bppRGB565, nullptr, "8", "RGB", "", pf::k24bppRGB},
      {pf::k16bppGrayScale, nullptr, "8", "RGB", "", pf::k24bppRGB},
      {pf::k24bppRGB, nullptr, "8", "RGB", "", pf::k24bppRGB},
      {pf::k32bppRGB, nullptr, "8", "RGB", "", pf::k24bppRGB},
      {pf::k32bppARGB, nullptr, "8", "RGB", "unassoc-alpha", pf::k32bppARGB},
      {pf::k32bppPARGB, nullptr, "8", "RGB", "assoc-alpha", pf::k32bppPARGB},
      {pf::k48bppRGB, nullptr, "16", "RGB", "", pf::k48bppRGB},
      {pf::k64bppARGB, nullptr, "16", "RGB", "unassoc-alpha", pf::k64bppARGB},
      {pf::k64bppPARGB, nullptr, "16", "RGB", "assoc-alpha", pf::k64bppPARGB},
      // clang-format on
  };
  int n = 0;
  for (const auto& [format, palette, bits, photometric, extra, decoded] : cases) {
    SCOPED_TRACE(testing::Message() << raster::pixel_format_name(format) << photometric);
    auto img = pattern_image(format);
    if (palette) {
      ASSERT_EQ(img->set_palette(*palette), Status::Ok);
    }
    // A 16-bit sample that is not a multiple of 257: kept only by exact writing.
    const bool wide = raster::bits_per_pixel(format) >= 48;
    if (wide) img->surface().row(0)[0] = 0x01;
    ASSERT_EQ(img->set_resolution(200.0f, 100.0f), Status::Ok);
    const std::string name = std::to_string(n++) + ".tif";
    const auto [bytes, info] = encode_to(dir, name, *img, {});
    for (const std::string& line :
         {"Bits/Sample: " + std::string(bits) + "\n", std::string(photometric), std::string(extra),
          std::string("Compression Scheme: LZW"),
          std::string("Resolution: 200, 100 pixels/inch")}) {
      EXPECT_NE(info.find(line), std::string::npos) << info;
    }
    auto back = decode_ok(bytes);
    EXPECT_EQ(back->format(), decoded);
    EXPECT_EQ(back->dpi_y(), 100.0f);
    EXPECT_EQ(argb_pixels(*back), argb_pixels(*img));
    EXPECT_EQ(back->palette().entries, img->palette().entries);
    if (decoded == format) {
      EXPECT_EQ(stored_rows(*back), stored_rows(*img));
    }
    // ImageMagick unpremultiplies its own way, and truncates 16-bit samples.
    expect_like_magick(*img, dir.file(name), 0, raster::is_premultiplied(format) ? 2 : wide);
  }
}

TEST(TiffEncode, CompressionAndDepthParameters) {
  ScratchDir dir;
  auto bilevel = pattern_image(pf::k1bppIndexed, 77, 19);
  Bytes clean = stored_rows(*bilevel);  // rows of 10 bytes; 77 pixels leave 3 pad bits
  for (int32_t y = 0; y < 19; ++y) bilevel->surface().row(y)[9] |= 0x07;
  const std::pair<int32_t, const char*> schemes[] = {{ep::kCompressionLZW, "LZW"},
                                                     {ep::kCompressionCCITT3, "CCITT Group 3"},
                                                     {ep::kCompressionCCITT4, "CCITT Group 4"},
                                                     {ep::kCompressionRle, "CCITT RLE"},
                                                     {ep::kCompressionNone, "None"}};
  for (const auto& [value, scheme] : schemes) {
    SCOPED_TRACE(scheme);
    const std::string name = std::to_string(value) + ".tif";
    const auto [bytes, info] = encode_to(dir, name, *bilevel, params(value));
    EXPECT_NE(info.find("Compression Scheme: " + std::string(scheme) + "\n"), std::string::npos);
    EXPECT_EQ(stored_rows(*decode_ok(bytes)), clean);  // pad bits are written as zeros
    expect_like_magick(*bilevel, dir.file(name));
  }
  // Fax coding of a two-colour palette that is not black and white.
  ASSERT_EQ(bilevel->set_palette({0, {0xFF202020, 0xFFE0E0E0}}), Status::Ok);
  const auto fax = encode_to(dir, "fax.tif", *bilevel, params(ep::kCompressionCCITT4));
  EXPECT_NE(fax.second.find("min-is-black"), std::string::npos) << fax.second;
  ASSERT_EQ(bilevel->set_palette(raster::default_palette(pf::k1bppIndexed)), Status::Ok);
  EXPECT_EQ(argb_pixels(*decode_ok(fax.first)), argb_pixels(*bilevel));

  // Fax coding of 8-bit samples, unknown compressions and depths.
  std::vector<raster::EncoderParams> bad;
  for (int32_t c : {ep::kCompressionCCITT3, ep::kCompressionCCITT4, ep::kCompressionRle}) {
    bad.push_back(params(c, 8));
  }
  for (int32_t v : {0, 1, 7, -2}) bad.push_back({{ep::kCompression, v}});
  for (int32_t v : {2, 16, 48, -1}) bad.push_back(params(0, v));
  for (const auto& p : bad) {
    EXPECT_TRUE(
        encode("*.tif", *pattern_image(pf::k24bppRGB), p, Status::InvalidParameter).empty());
  }

  // Depth 1: nearest of black and white; 4 and 8: nearest halftone entry; 24, 32: RGB(A).
  std::unique_ptr<Image> four;
  ASSERT_EQ(Image::create(4, 1, pf::k32bppARGB, four), Status::Ok);
  const uint32_t px[] = {0xFF000000, 0xFFFFFFFF, 0xFF505050, 0x80C0C0C0};
  std::memcpy(four->surface().row(0), px, sizeof px);
  const std::tuple<int32_t, const char*, Bytes> depths[] = {
      // photometric, stored bytes
      // clang-format off
      {1, "min-is-black", {0x50}},
      {4, "palette", {0x0F, 0x78}},     // 0x505050 -> gray 128, entry 7
      {8, "palette", {0, 15, 239, 8}},  // 0x505050 -> ramp gray 78
      {24, "RGB", {0, 0, 0, 255, 255, 255, 0x50, 0x50, 0x50, 0xC0, 0xC0, 0xC0}},
      {32, "RGB", {0, 0, 0, 255, 255, 255, 255, 255, 0x50, 0x50, 0x50, 255, 0xC0, 0xC0, 0xC0, 0x80}},
      // clang-format on
  };
  for (const auto& [depth, photometric, stored] : depths) {
    SCOPED_TRACE(depth);
    const auto [bytes, info] = encode_to(dir, "d.tif", *four, params(ep::kCompressionNone, depth));
    EXPECT_NE(info.find(photometric), std::string::npos) << info;
    auto back = decode_ok(bytes);
    EXPECT_EQ(raster::bits_per_pixel(back->format()), depth);
    EXPECT_EQ(stored_rows(*back), stored);
    if (depth == 8) {
      EXPECT_EQ(back->palette().entries, raster::default_palette(pf::k8bppIndexed).entries);
    }
  }
}

std::vector<std::string> listing(const std::string& folder) {
  std::vector<std::string> names;
  for (const auto& e : std::filesystem::directory_iterator(folder)) {
    names.push_back(e.path().filename());
  }
  std::sort(names.begin(), names.end());
  return names;
}

TEST(TiffPages, WriterPublishesOnFinishWithTagsAndDamagedPagesFailOnlyWhenSelected) {
  ScratchDir dir;
  const std::string path = dir.file("pages.tif");
  std::unique_ptr<Image> sources[] = {pattern_image(pf::k24bppRGB, 31, 17),
                                      pattern_image(pf::k1bppIndexed, 40, 9),
                                      pattern_image(pf::k32bppARGB, 12, 30)};
  const raster::PropertyItem software{305, raster::ptype::kAscii, {'K', 'v', 'x', 0}};
  ASSERT_EQ(sources[0]->set_property(software), Status::Ok);
  ASSERT_EQ(sources[0]->set_property({315, raster::ptype::kAscii, {'A', 'd', 'a', 0}}), Status::Ok);
  ASSERT_EQ(sources[0]->set_property({0x5100, raster::ptype::kShort, {1, 0}}), Status::Ok);
  std::unique_ptr<raster::FrameWriter> writer;
  ASSERT_EQ(host::open_frame_file(tiff_encoder(), *sources[0], {}, path, writer), Status::Ok);
  EXPECT_EQ(writer->add(*sources[1], params(ep::kCompressionCCITT4)), Status::Ok);
  EXPECT_EQ(writer->add(*sources[2], params(ep::kCompressionCCITT3)), Status::InvalidParameter);
  EXPECT_EQ(writer->add(*sources[2], params(ep::kCompressionNone)), Status::Ok);
  EXPECT_FALSE(std::filesystem::exists(path));  // published by finish() only
  ASSERT_EQ(writer->finish(), Status::Ok);
  EXPECT_EQ(listing(dir.path()), std::vector<std::string>{"pages.tif"});
  EXPECT_EQ(writer->finish(), Status::WrongState);
  EXPECT_EQ(writer->add(*sources[0], {}), Status::WrongState);

  const std::string info = tiffinfo(path);
  for (const char* part : {"Scheme: LZW", "Scheme: CCITT Group 4", "Scheme: None",
                           "Software: Kvx\n", "Artist: Ada\n"}) {
    EXPECT_NE(info.find(part), std::string::npos) << info;
  }
  Bytes bytes = read_file(path);
  auto back = decode_ok(bytes);
  ASSERT_EQ(back->frame_count(kPage), 3u);
  ASSERT_NE(back->property(305), nullptr);
  EXPECT_EQ(*back->property(305), software);
  EXPECT_EQ(back->property(0x5100), nullptr);  // not an ordinary tag: not written
  for (uint32_t i = 0; i < 3; ++i) {
    SCOPED_TRACE(i);
    expect_like_magick(*sources[i], path, static_cast<int>(i));
    ASSERT_EQ(back->select_active_frame(kPage, i), Status::Ok);
    EXPECT_EQ(back->format(), sources[i]->format());
    EXPECT_EQ(argb_pixels(*back), argb_pixels(*sources[i]));
    ASSERT_NE(back->property(256), nullptr);  // this page's own ImageWidth
    EXPECT_EQ(le16(back->property(256)->value.data()), sources[i]->width());
  }

  // Point the second page's only strip past the end of the file.
  const uint32_t second = directory_offsets(bytes)[1];
  for (uint16_t i = 0; i < le16(&bytes[second]); ++i) {
    uint8_t* entry = &bytes[second + 2 + 12 * size_t{i}];
    if (le16(entry) == 273) entry[8] = entry[9] = entry[10] = 0xF0, entry[11] = 0x7F;
  }
  auto damaged = decode_ok(bytes);
  ASSERT_EQ(damaged->frame_count(kPage), 3u);
  EXPECT_EQ(damaged->select_active_frame(kPage, 1), Status::GenericError);
  ASSERT_EQ(damaged->select_active_frame(kPage, 2), Status::Ok);
  EXPECT_EQ(argb_pixels(*damaged), argb_pixels(*sources[2]));
  EXPECT_EQ(damaged->select_active_frame(kPage, 1), Status::GenericError);  // again on retry
}

// The file itself is the host layer's (held to the old file or the whole new one in its
// tests); here the page writer over it, once with an old file in place.
TEST(TiffPages, FailedRefusedOrAbandonedWritesLeaveTheOldFile) {
  const Bytes original = {'o', 'l', 'd'};
  auto small = pattern_image(pf::k8bppIndexed);
  auto big = pattern_image(pf::k24bppRGB, 400, 400);  // 480 KB uncompressed
  ScratchDir dir;
  const std::string path = dir.file("pages.tif");
  write_file(path, original);
  auto expect_untouched = [&] {
    EXPECT_EQ(read_file(path), original);
    EXPECT_EQ(listing(dir.path()), std::vector<std::string>{"pages.tif"});
  };
  std::unique_ptr<raster::FrameWriter> writer;
  ASSERT_EQ(host::open_frame_file(tiff_encoder(), *small, {}, path, writer), Status::Ok);
  ASSERT_EQ(writer->add(*small, {}), Status::Ok);
  writer.reset();  // abandoned
  expect_untouched();
  EXPECT_EQ(host::open_frame_file(tiff_encoder(), *small, params(9), path, writer),
            Status::InvalidParameter);
  // A missing folder: the status of a single-image save there (it used to be Win32Error).
  EXPECT_EQ(host::open_frame_file(tiff_encoder(), *small, {}, dir.file("no/such/dir.tif"), writer),
            Status::FileNotFound);
  EXPECT_EQ(writer, nullptr);

  FileSizeLimit limit(64 << 10);
  ASSERT_EQ(host::open_frame_file(tiff_encoder(), *small, {}, path, writer), Status::Ok);
  EXPECT_EQ(writer->add(*big, params(ep::kCompressionNone)), Status::Win32Error);
  EXPECT_EQ(writer->add(*small, {}), Status::WrongState);
  EXPECT_EQ(writer->finish(), Status::GenericError);  // a failed page fails the file
  expect_untouched();
}

}  // namespace
}  // namespace korvex
