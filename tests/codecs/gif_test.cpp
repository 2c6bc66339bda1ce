// GIF codec against ImageMagick and hand-built files; damage, limits, encoder.
#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <cstring>
#include <unordered_map>

#include "codec_test_util.h"
#include "raster/codecs/gif/gif_codec.h"

namespace korvex {
namespace {

using namespace testutil;

using raster::Image;
using raster::Status;
namespace pf = raster::pf;

constexpr uint32_t kRed = 0xFFFF0000, kGreen = 0xFF00FF00, kBlue = 0xFF0000FF, kWhite = 0xFFFFFFFF,
                   kBlack = 0xFF000000, kClearGreen = 0x0000FF00;
constexpr uint32_t kDelays = raster::gif::kPropertyFrameDelay;
constexpr uint32_t kLoops = raster::gif::kPropertyLoopCount;
const raster::Guid kTime = raster::guids::kFrameDimensionTime;

// LZW codes packed least significant bit first.
struct CodeWriter {
  void put(uint32_t code, int width) {
    acc |= code << nbits;
    for (nbits += width; nbits >= 8; nbits -= 8, acc >>= 8) data.push_back(uint8_t(acc));
  }
  Bytes end() {
    if (nbits > 0) data.push_back(uint8_t(acc));
    return data;
  }
  Bytes data;
  uint32_t acc = 0;
  int nbits = 0;
};

// GIF files byte by byte; pixels as literal LZW codes, cleared before the width grows.
struct GifBuilder {
  GifBuilder(int w, int h, const Pixels& global = {}, int background = 0) {
    put({'G', 'I', 'F', '8', '9', 'a'}), put16(w), put16(h);
    put({uint8_t(global.empty() ? 0 : 0xF0 | (bits(global.size()) - 1)), uint8_t(background), 0});
    colors(global);
  }
  GifBuilder& control(int disposal, int delay, int transparent = -1) {
    put({0x21, 0xF9, 4, uint8_t(disposal << 2 | (transparent >= 0))}), put16(delay);
    put({uint8_t(transparent), 0});
    return *this;
  }
  // A picture; `code_size` 0 picks the one matching the colour map.
  GifBuilder& picture(int x, int y, int w, int h, const Bytes& px, const Pixels& local = {},
                      int code_size = 0) {
    put({0x2C}), put16(x), put16(y), put16(w), put16(h);
    put({uint8_t(local.empty() ? 0 : 0x80 | (bits(local.size()) - 1))});
    colors(local);
    const int m = code_size > 0 ? code_size : std::max(2, bits(local.empty() ? 4 : local.size()));
    CodeWriter out;
    for (size_t i = 0; i < px.size(); ++i) {
      if (i % ((1u << m) - 2) == 0) out.put(1u << m, m + 1);
      out.put(px[i], m + 1);
    }
    out.put((1u << m) + 1, m + 1);
    return blocks(m, out.end());
  }
  // A picture without a local map from compressed data; flags 0x40: interlaced.
  GifBuilder& packed(int x, int y, int w, int h, int code_size, const Bytes& data, int flags = 0) {
    put({0x2C}), put16(x), put16(y), put16(w), put16(h), put({uint8_t(flags)});
    return blocks(code_size, data);
  }
  GifBuilder& blocks(int code_size, const Bytes& data) {
    put({uint8_t(code_size)});
    for (size_t i = 0; i < data.size(); i += 255) {  // sub-blocks of at most 255 bytes
      put({uint8_t(std::min<size_t>(255, data.size() - i))});
      b.insert(b.end(), data.begin() + i, data.begin() + i + b.back());
    }
    put({0});
    return *this;
  }
  Bytes end() {
    put({0x3B});
    return b;
  }

  static int bits(size_t n) { return n <= 2 ? 1 : static_cast<int>(std::bit_width(n - 1)); }
  void put(std::initializer_list<uint8_t> v) { b.insert(b.end(), v); }
  void put16(int v) { put({uint8_t(v), uint8_t(v >> 8)}); }
  void colors(Pixels c) {  // padded to a power of two
    c.resize(c.empty() ? 0 : size_t{1} << bits(c.size()));
    for (uint32_t v : c) put({uint8_t(v >> 16), uint8_t(v >> 8), uint8_t(v)});
  }
  Bytes b;
};

// A real LZW encoder (codes widen up to 12 bits); a full table is cleared unless `defer_clear`.
Bytes lzw(const Bytes& px, int m, bool defer_clear) {
  const uint32_t clear = 1u << m;
  std::unordered_map<uint32_t, uint32_t> table;  // string code << 8 | pixel -> code
  uint32_t next = clear + 2;
  int width = m + 1;
  CodeWriter out;
  out.put(clear, width);
  uint32_t string = px[0];
  for (size_t i = 1; i < px.size(); ++i) {
    const uint32_t key = string << 8 | px[i];
    if (auto it = table.find(key); it != table.end()) {
      string = it->second;
      continue;
    }
    out.put(string, width);
    if (next < 4096) {
      table[key] = next++;
      if (next > 1u << width && width < 12) ++width;
    } else if (!defer_clear) {
      out.put(clear, width);
      table.clear();
      next = clear + 2, width = m + 1;
    }
    string = px[i];
  }
  out.put(string, width);
  out.put(clear + 1, width);
  return out.end();
}

// Codes of 12 bits, as a code size of 11 writes them from the start.
Bytes codes12(std::initializer_list<uint32_t> codes) {
  CodeWriter out;
  for (uint32_t code : codes) out.put(code, 12);
  return out.end();
}

Pixels frame_pixels(Image& img, uint32_t i) {
  EXPECT_EQ(img.select_active_frame(kTime, i), Status::Ok);
  return argb_pixels(img);
}

std::string magick(const std::string& args) {
  std::string out;
  EXPECT_EQ(run(convert_tool() + " " + args + " 2>&1", &out), 0) << out;
  return out;
}

TEST(GifDecode, PictureIsPlacedOnTheScreen) {
  const Pixels map = {kRed, kGreen, kBlue, kWhite};
  // Around the picture: the background index (blue).
  auto img = decode_ok(GifBuilder(4, 2, map, 2).picture(1, 1, 2, 1, {0, 3}).end());
  EXPECT_EQ(argb_pixels(*img), (Pixels{kBlue, kBlue, kBlue, kBlue, kBlue, kRed, kWhite, kBlue}));
  EXPECT_EQ(img->palette().entries, map);
  // Else the transparent index; clipped at the right; index 5 (past the map) opaque black.
  img = decode_ok(
      GifBuilder(4, 2, map, 2).control(0, 7, 1).picture(2, 1, 3, 1, {5, 1, 0}, {}, 3).end());
  EXPECT_EQ(argb_pixels(*img), (Pixels{kClearGreen, kClearGreen, kClearGreen, kClearGreen,
                                       kClearGreen, kClearGreen, kBlack, kClearGreen}));
  EXPECT_EQ(img->palette().flags, uint32_t{raster::Palette::kHasAlpha});
  EXPECT_EQ(img->palette().entries, (Pixels{kRed, kClearGreen, kBlue, kWhite, kBlack, kBlack}));
  EXPECT_EQ(property_bytes(*img, kDelays), (Bytes{7, 0, 0, 0}));
  // A zero-sized screen takes the extent of the first picture.
  img = decode_ok(GifBuilder(0, 0, map).picture(1, 0, 1, 2, {3, 2}).end());
  EXPECT_EQ(argb_pixels(*img), (Pixels{kRed, kWhite, kRed, kBlue}));
}

// Restoring the previous frame throughout, and each disposal method in turn; small offset
// pictures with holes.
TEST(GifDecode, AnimationsComposeLikeImageMagick) {
  ScratchDir dir;
  const std::string f[] = {
      "\\( -size 12x9 xc:none -fill red -draw 'rectangle 0,0 6,4' "
      "-fill navy -draw 'rectangle 5,5 11,8' \\) ",
      "\\( -size 5x4 xc:lime -fill none -draw 'color 1,1 point' -repage +3+2 \\) ",
      "\\( -size 4x6 xc:yellow -fill none -draw 'color 2,0 point' -repage +7+1 \\) ",
      "\\( -size 3x3 xc:magenta -repage +0+6 \\) "};
  const std::string gif = dir.file("anim.gif");
  for (const std::string& c : {"-dispose Previous " + f[0] + f[1] + f[2] + f[3],
                               "-dispose None " + f[0] + "-dispose Previous " + f[1] +
                                   "-dispose Background " + f[2] + "-dispose None " + f[3]}) {
    SCOPED_TRACE(c);
    magick("-delay 10 " + c + "-loop 3 " + gif);
    magick(gif + " -coalesce -depth 8 +adjoin RGBA:" + dir.file("c-%d.rgba"));
    auto img = decode_ok(read_file(gif));
    ASSERT_EQ(img->frame_count(kTime), 4u);
    std::vector<Pixels> frames;
    for (uint32_t i = 0; i < 4; ++i) {
      frames.push_back(frame_pixels(*img, i));
      EXPECT_EQ(img->format(), pf::k32bppARGB);
      const Bytes rgba = read_file(dir.file("c-" + std::to_string(i) + ".rgba"));
      // Fully transparent pixels are 0 in the decoder's canvas.
      EXPECT_EQ(frames[i], clear_transparent(rgba_to_argb(rgba))) << i;
    }
    // ImageMagick stores "-loop 3" as 2 further plays.
    EXPECT_EQ(property_bytes(*img, kDelays),
              (Bytes{10, 0, 0, 0, 10, 0, 0, 0, 10, 0, 0, 0, 10, 0, 0, 0}));
    EXPECT_EQ(property_bytes(*img, kLoops), (Bytes{2, 0}));
    // Going back recomposes from the start.
    auto again = decode_ok(read_file(gif));
    for (uint32_t i : {3u, 1u, 2u, 0u}) EXPECT_EQ(frame_pixels(*again, i), frames[i]);
  }
}

// Disposal, transparency, broken pictures and stray indices with known pixels.
Bytes hand_built_animation() {
  const Pixels map = {kRed, kGreen, kBlue, kBlack};
  GifBuilder b(3, 1);
  b.control(1, 5).picture(0, 0, 3, 1, {0, 1, 2}, map);
  b.control(3, 6, 3).picture(1, 0, 2, 1, {3, 0}, map);  // hole over green; restore previous
  b.control(2, 7).picture(0, 0, 1, 1, {1}, map);        // restore to transparent
  b.control(2, 8).picture(2, 0, 1, 1, {0});             // no colour map: draws nothing
  b.control(2, 9).picture(0, 0, 0, 1, {});              // empty
  b.picture(2, 0, 1, 1, {7}, map, 3);                   // index past the map
  b.picture(0, 0, 3, 2, {1, 1, 1, 2, 2, 2}, map);       // clipped below the screen
  return b.end();
}

TEST(GifDecode, AnimationRulesOnKnownPixels) {
  const std::vector<Pixels> expected = {
      {kRed, kGreen, kBlue}, {kRed, kGreen, kRed}, {kGreen, kGreen, kBlue}, {0, kGreen, kBlue},
      {0, kGreen, kBlue},    {0, kGreen, kBlack},  {kGreen, kGreen, kGreen}};
  auto img = decode_ok(hand_built_animation());
  ASSERT_EQ(img->frame_count(), expected.size());
  for (uint32_t i = 0; i < expected.size(); ++i) EXPECT_EQ(frame_pixels(*img, i), expected[i]) << i;
  EXPECT_EQ(property_bytes(*img, kDelays), (Bytes{5, 0, 0, 0, 6, 0, 0, 0, 7, 0, 0, 0, 8, 0,
                                                  0, 0, 9, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}));
  EXPECT_EQ(img->property(kLoops), nullptr);
}

TEST(GifDecode, DamagedFilesGiveAStatus) {
  const Pixels map = {kRed, kGreen, kBlue, kBlack};
  std::unique_ptr<Image> img;
  const Bytes full = hand_built_animation();
  // Cut anywhere: refused until the first picture is complete (header, control, descriptor,
  // map, code size, block, end), then complete pictures are kept; one alone is indexed.
  const size_t first_end = 13 + 8 + 10 + 12 + 1 + 5;
  uint32_t frames = 1;
  for (size_t n = 1; n < full.size(); ++n) {
    const Status s = decode(Bytes(full.begin(), full.begin() + n), img);
    ASSERT_EQ(s, n < 6           ? Status::UnknownImageFormat
                 : n < first_end ? Status::GenericError
                                 : Status::Ok)
        << n;
    if (s != Status::Ok) continue;
    EXPECT_GE(img->frame_count(), frames) << n;
    frames = img->frame_count();
    EXPECT_EQ(img->format(), frames == 1 ? pf::k8bppIndexed : pf::k32bppARGB) << n;
    for (uint32_t i = 0; i < frames; ++i) frame_pixels(*img, i);
  }
  EXPECT_EQ(img->frame_count(), 7u);  // all but the trailer
  // Data stopping a row early: fatal in the first picture, partial (top row) later.
  EXPECT_EQ(status_of(GifBuilder(2, 2, map).picture(0, 0, 2, 2, {1, 2}).end()),
            Status::GenericError);
  img = decode_ok(
      GifBuilder(2, 2, map).picture(0, 0, 2, 2, {0, 0, 0, 0}).picture(0, 0, 2, 2, {1, 2}).end());
  EXPECT_EQ(frame_pixels(*img, 1), (Pixels{kGreen, kBlue, kRed, kRed}));
  // Code size past 11 bits, foreign signature.
  EXPECT_EQ(status_of(GifBuilder(2, 1, map).picture(0, 0, 2, 1, {0, 1}, {}, 12).end()),
            Status::GenericError);
  EXPECT_EQ(status_of({'G', 'I', 'F', '8', '8', 'a', 2, 0, 1, 0, 0, 0, 0}),
            Status::UnknownImageFormat);
}

// Code sizes 9..11 (refused by giflib) through our LZW reader, 8 through giflib; random
// indices with a long run (self-referring strings) fill the table several times.
TEST(GifDecode, LargeLzwCodeSizes) {
  Pixels map(256);
  for (uint32_t i = 0; i < 256; ++i) map[i] = kBlack | i << 16 | (255 - i) << 8 | (i * 7 & 255);
  const int w = 97, h = 83;
  Bytes px(w * h);
  uint32_t seed = 1;
  for (uint8_t& p : px) p = uint8_t((seed = seed * 1103515245 + 12345) >> 16);
  std::fill(px.begin() + 1000, px.begin() + 1400, 7);
  Bytes stored;  // rows in interlaced order
  const int start[] = {0, 4, 2, 1}, step[] = {8, 8, 4, 2};
  for (int pass = 0; pass < 4; ++pass) {
    for (int y = start[pass]; y < h; y += step[pass]) {
      stored.insert(stored.end(), px.begin() + y * w, px.begin() + (y + 1) * w);
    }
  }
  ASSERT_EQ(stored.size(), px.size());
  ScratchDir dir;
  const std::string path = dir.file("lzw.gif");
  // Code size, deferred clear, interlaced.
  const std::tuple<int, bool, bool> cases[] = {{11, false, false}, {11, true, false},
                                               {11, false, true},  {10, true, true},
                                               {9, false, false},  {8, true, false}};
  for (const auto& [m, defer, interlaced] : cases) {
    SCOPED_TRACE(testing::Message() << m << " " << defer << " " << interlaced);
    const Bytes gif =
        GifBuilder(w, h, map)
            .packed(0, 0, w, h, m, lzw(interlaced ? stored : px, m, defer), interlaced ? 0x40 : 0)
            .end();
    auto img = decode_ok(gif);
    EXPECT_EQ(img->format(), pf::k8bppIndexed);
    EXPECT_EQ(stored_rows(*img), px);
    EXPECT_EQ(img->palette().entries, map);
    write_file(path, gif);
    EXPECT_EQ(argb_pixels(*img), magick_argb(path));
  }

  // After the clear (2048): literals, 2050 = 5 6, the next free entry 2051 = 6 6, and a
  // literal past 255 that keeps its low 8 bits as browsers do.
  const Pixels small = {kRed, kGreen, kBlue, kBlack, kWhite, kRed, kGreen, kBlue};
  auto one = [&](std::initializer_list<uint32_t> codes, int n) {
    return GifBuilder(n, 1, small).packed(0, 0, n, 1, 11, codes12(codes)).end();
  };
  auto img = decode_ok(one({2048, 5, 6, 2051, 2050, 256 + 4, 2049}, 7));
  EXPECT_EQ(stored_rows(*img), (Bytes{5, 6, 6, 6, 5, 6, 4}));
  // Code past the next free entry, string first after a clear, early end code or data end.
  for (const Bytes& bad : {one({2048, 5, 6, 2052, 2049}, 4), one({2048, 2050, 2049}, 2),
                           one({2048, 5, 2049}, 2), one({2048, 5}, 2)}) {
    EXPECT_EQ(status_of(bad), Status::GenericError);
  }
  // In an animation: the next picture goes through giflib; transparency and delays
  // apply; a later fault keeps the pixels decoded before it.
  GifBuilder anim(3, 1, small);
  anim.picture(0, 0, 3, 1, {0, 1, 2});
  anim.control(0, 4, 1).packed(1, 0, 2, 1, 11, codes12({2048, 1, 3, 2049}));
  anim.control(0, 5).picture(0, 0, 1, 1, {2});
  anim.packed(0, 0, 1, 2, 11, codes12({2048, 4, 2052, 2049}));  // row 1 is off the screen
  img = decode_ok(anim.end());
  ASSERT_EQ(img->frame_count(), 4u);
  EXPECT_EQ(frame_pixels(*img, 1), (Pixels{kRed, kGreen, kBlack}));
  EXPECT_EQ(frame_pixels(*img, 2), (Pixels{kBlue, kGreen, kBlack}));
  EXPECT_EQ(frame_pixels(*img, 3), (Pixels{kWhite, kGreen, kBlack}));
  EXPECT_EQ(property_bytes(*img, kDelays), (Bytes{0, 0, 0, 0, 4, 0, 0, 0, 5, 0, 0, 0, 0, 0, 0, 0}));
  // Cut anywhere inside the picture's data: refused, as giflib's pictures are.
  const Bytes whole = one({2048, 5, 6, 2051, 2050, 2049}, 6);
  for (size_t n = 13 + 24; n < whole.size() - 1; ++n) {
    EXPECT_EQ(status_of(Bytes(whole.begin(), whole.begin() + n)), Status::GenericError) << n;
  }
}

TEST(GifDecode, PixelMemoryLimit) {
  const Pixels map = {kRed, kGreen};
  // Four composed 100 x 100 frames and the canvas need about 200 KB.
  GifBuilder anim(100, 100, map);
  for (int i = 0; i < 4; ++i) anim.picture(i, i, 1, 1, {1});
  const Bytes bytes = anim.end();
  {
    const PixelLimit limit(180000);
    EXPECT_EQ(status_of(GifBuilder(30000, 30000, map).picture(0, 0, 1, 1, {1}).end()),
              Status::OutOfMemory);
    EXPECT_EQ(status_of(bytes), Status::OutOfMemory);
  }
  std::unique_ptr<Image> img;
  {
    const PixelLimit limit(220000);
    img = decode_ok(bytes);
  }
  EXPECT_EQ(frame_pixels(*img, 3)[303], kGreen);
}

class GifEncode : public ::testing::Test {
 protected:
  // Encodes `img` into `bytes` and a file, which ImageMagick reads as the decoder does.
  std::unique_ptr<Image> round_trip() {
    bytes = encode("*.gif", *img);
    write_file(path, bytes);
    auto back = decode_ok(bytes);
    EXPECT_EQ(magick_argb(path), argb_pixels(*back));
    return back;
  }
  ScratchDir dir;
  const std::string path = dir.file("out.gif");
  std::unique_ptr<Image> img;
  Bytes bytes;
};

TEST_F(GifEncode, IndexedImagesKeepIndicesAndPalette) {
  // 8 bits, five entries (one transparent), index 9 used past the palette.
  ASSERT_EQ(Image::create(5, 2, pf::k8bppIndexed, img), Status::Ok);
  ASSERT_EQ(
      img->set_palette({raster::Palette::kHasAlpha, {kRed, kGreen, kBlue, 0x00123456, kWhite}}),
      Status::Ok);
  const uint8_t idx[10] = {0, 1, 2, 3, 4, 4, 3, 9, 1, 0};
  for (int y = 0; y < 2; ++y) std::memcpy(img->surface().row(y), idx + 5 * y, 5);
  auto back = round_trip();
  // A map of 16 (for index 9); index 3 transparent.
  EXPECT_EQ(Bytes(back->surface().row(1), back->surface().row(1) + 5), Bytes(idx + 5, idx + 10));
  EXPECT_EQ(back->palette().entries.size(), 16u);
  EXPECT_EQ(back->palette().entries.at(3), 0x00123456u);
  EXPECT_EQ(argb_pixels(*back)[7], kBlack);
  // 1 and 4 bits: the indices come back as written, with a map of 2 or 16.
  for (raster::PixelFormat f : {pf::k1bppIndexed, pf::k4bppIndexed}) {
    SCOPED_TRACE(raster::pixel_format_name(f));
    ASSERT_EQ(Image::create(11, 3, f, img), Status::Ok);
    for (int x = 0; x < 11; ++x) img->set_pixel(x, x % 3, x % 2 ? kWhite : 0xFFFF00FF);
    const Pixels want = argb_pixels(*img);
    EXPECT_EQ(argb_pixels(*round_trip()), want);
    EXPECT_EQ(bytes.at(10), f == pf::k1bppIndexed ? 0xF0 : 0xF3);
  }
}

TEST_F(GifEncode, OtherFormatsUseTheHalftonePalette) {
  ASSERT_EQ(Image::create(4, 2, pf::k32bppARGB, img), Status::Ok);
  // 0x102030 -> 28 gray; opaque 238 gray (entry 255 is transparency's) -> 228 gray.
  const Pixels in = {kRed,       0xFF336699, 0xFF102030, 0xFFEEEEEE,
                     0x40FFFFFF, 0x00000000, 0x90FF0000, kWhite};
  const Pixels want = {kRed,       0xFF336699, 0xFF1C1C1C, 0xFFE4E4E4,
                       0x00EEEEEE, 0x00EEEEEE, kRed,       kWhite};
  ASSERT_EQ(img->write_pixels({0, 0, 4, 2}, pf::k32bppARGB,
                              reinterpret_cast<const uint8_t*>(in.data()), 16),
            Status::Ok);
  auto back = round_trip();
  EXPECT_EQ(argb_pixels(*back), want);
  EXPECT_EQ(back->palette().entries.at(255), 0x00EEEEEEu);
  // Without transparent pixels there is no control extension and 238 gray stays.
  ASSERT_EQ(Image::create(3, 1, pf::k24bppRGB, img), Status::Ok);
  img->set_pixel(0, 0, 0xFFEEEEEE);
  EXPECT_EQ(argb_pixels(*round_trip()), (Pixels{0xFFEEEEEE, kBlack, kBlack}));
  EXPECT_EQ(bytes.at(13 + 768), 0x2C);
}

TEST_F(GifEncode, PropertiesAndRefusals) {
  ASSERT_EQ(Image::create(2, 2, pf::k24bppRGB, img), Status::Ok);
  ASSERT_EQ(img->set_property({kDelays, raster::ptype::kLong, {25, 0, 0, 0}}), Status::Ok);
  ASSERT_EQ(img->set_property({kLoops, raster::ptype::kShort, {5, 0}}), Status::Ok);
  auto back = round_trip();
  EXPECT_EQ(property_bytes(*back, kDelays), (Bytes{25, 0, 0, 0}));
  EXPECT_EQ(property_bytes(*back, kLoops), (Bytes{5, 0}));
  const std::string info = magick(path + " -verbose info:");
  EXPECT_NE(info.find("Delay: 25x100"), std::string::npos) << info;
  EXPECT_NE(info.find("Iterations: 6"), std::string::npos) << info;  // counts the first play
  // Sizes are 16-bit in the file.
  ASSERT_EQ(Image::create(70000, 1, pf::k8bppIndexed, img), Status::Ok);
  EXPECT_TRUE(encode("*.gif", *img, {}, Status::InvalidParameter).empty());
}

}  // namespace
}  // namespace korvex
