// WMF and EMF: third-party files rendered at their own pixel size, checked
// against the libraries' command-line tools and ImageMagick; damaged files
// and oversized frames refused with a status.
#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "codec_test_util.h"

namespace korvex {
namespace {

using raster::Status;
using U32s = std::vector<uint32_t>;

std::string data_file(const std::string& name) {
  return std::string(KORVEX_SOURCE_DIR) + "/tests/data/metafile/" + name;
}

std::vector<uint8_t> bytes_of(const std::string& name) {
  return testutil::read_file(data_file(name));
}

void put32(std::vector<uint8_t>& v, size_t at, uint32_t x) {
  for (int i = 0; i < 4; ++i) v[at + i] = static_cast<uint8_t>(x >> (8 * i));
}

// Differences that survive 8 x 8 box averaging: a peer that anti-aliases
// edges, or maps the frame a fraction of a pixel apart, differs pixel by pixel
// along every edge but hardly at all per block, while a shifted, scaled,
// missing or blank drawing differs in many blocks.
struct BlockDiff {
  double mean = 0;  // mean over blocks of the largest channel difference
  double over = 0;  // fraction of blocks differing by more than 24 levels
};
BlockDiff block_diff(const U32s& a, const U32s& b, int32_t w, int32_t h) {
  constexpr int k = 8;
  BlockDiff d;
  if (a.size() != b.size() || a.size() != static_cast<size_t>(w) * h) return {255, 1};
  size_t blocks = 0;
  for (int32_t by = 0; by + k <= h; by += k) {
    for (int32_t bx = 0; bx + k <= w; bx += k) {
      double worst = 0;
      for (int s = 0; s < 24; s += 8) {
        double sa = 0, sb = 0;
        for (int32_t y = by; y < by + k; ++y) {
          for (int32_t x = bx; x < bx + k; ++x) {
            sa += a[static_cast<size_t>(y) * w + x] >> s & 0xFF;
            sb += b[static_cast<size_t>(y) * w + x] >> s & 0xFF;
          }
        }
        worst = std::max(worst, std::fabs(sa - sb) / (k * k));
      }
      d.mean += worst;
      d.over += worst > 24 ? 1 : 0;
      ++blocks;
    }
  }
  d.mean /= static_cast<double>(blocks);
  d.over /= static_cast<double>(blocks);
  return d;
}

struct RealFile {
  const char* name;
  raster::Guid format;
  int32_t width, height;
  float dpi_x, dpi_y;
};
// Clip art (a circle, a star) and a chart with text. Sizes: the WMF bounding
// box at its 1200 units per inch; the EMF frame at the reference device's
// resolution (micrometre header fields where present).
const RealFile kFiles[] = {
    {"pillow_drawing.wmf", raster::guids::kFormatWmf, 1369, 1369, 1200.0f, 1200.0f},
    {"pillow_drawing.emf", raster::guids::kFormatEmf, 1370, 1370, 1200.03f, 1199.99f},
    {"emf2svg_test-023.emf", raster::guids::kFormatEmf, 230, 135, 96.33f, 96.09f},
    {"emf2svg_test-067.emf", raster::guids::kFormatEmf, 660, 413, 101.6f, 84.67f},
};

TEST(Metafile, RealFilesRenderOpaqueAtTheirOwnPixelSize) {
  for (const RealFile& f : kFiles) {
    SCOPED_TRACE(f.name);
    std::unique_ptr<raster::Image> img = testutil::decode_ok(bytes_of(f.name));
    EXPECT_EQ(img->raw_format(), f.format);
    EXPECT_EQ(std::pair(img->width(), img->height()), std::pair(f.width, f.height));
    EXPECT_NEAR(img->dpi_x(), f.dpi_x, 0.01f);
    EXPECT_NEAR(img->dpi_y(), f.dpi_y, 0.01f);
    EXPECT_EQ(img->format(), raster::pf::k32bppRGB);
    size_t inked = 0;
    for (uint32_t p : testutil::argb_pixels(*img)) inked += (p & 0xFFFFFFu) != 0xFFFFFFu;
    // Drawn, not left blank: every file inks more than 5 % of its picture.
    EXPECT_GT(inked * 20, static_cast<size_t>(f.width) * f.height);
  }
}

TEST(Metafile, TheFrameFillsThePicture) {
  // A red circle with a black outline, drawn against the frame's top-left
  // corner: the WMF's circle spans its whole box; the EMF's outline spans
  // device pixels 0.5 to 1337.5 of a 1370-pixel frame, so 32.5 pixels stay
  // free on the right and at the bottom. Distances of the first black pixel
  // from each edge along the middle row and column, within 2 pixels.
  struct Case {
    const char* name;
    int left, right, top, bottom;
  };
  for (const Case& c : {Case{"pillow_drawing.wmf", 0, 0, 0, 0},
                        Case{"pillow_drawing.emf", 1, 33, 1, 33}}) {
    SCOPED_TRACE(c.name);
    std::unique_ptr<raster::Image> img = testutil::decode_ok(bytes_of(c.name));
    const int32_t w = img->width(), m = w / 2;
    auto at = [&](int32_t x, int32_t y) {
      uint32_t v = 0;
      EXPECT_EQ(img->get_pixel(x, y, v), Status::Ok);
      return v;
    };
    auto first_black = [&](int32_t x, int32_t y, int32_t dx, int32_t dy) {
      int i = 0;
      while (i < w && (at(x + i * dx, y + i * dy) & 0xFFFFFFu) > 0x3C3C3Cu) ++i;
      return i;
    };
    EXPECT_NEAR(first_black(0, m, 1, 0), c.left, 2);
    EXPECT_NEAR(first_black(w - 1, m, -1, 0), c.right, 2);
    EXPECT_NEAR(first_black(m, 0, 0, 1), c.top, 2);
    EXPECT_NEAR(first_black(m, w - 1, 0, -1), c.bottom, 2);
    EXPECT_EQ(at(m, m), 0xFFFF0000u);
    EXPECT_EQ(at(2, 2), 0xFFFFFFFFu);
  }
}

TEST(Metafile, PeersDrawTheSamePicture) {
  // %W %H: our pixel size, %D: the file's resolution, %I: input, %O: PNG out.
  struct Peer {
    const char* file;
    const char* command;
    double mean, over;  // upper limits of BlockDiff
  };
  // wmf2gd is the same gd device: identical pixels. ImageMagick plays WMF
  // through libwmf into its own anti-aliased renderer: edges differ (measured
  // mean 1.0, 1.8 % of blocks). emf2svg-conv + rsvg-convert map the bounds
  // instead of the frame, up to a pixel apart over the picture (measured mean
  // 0.1 and 1.1, blocks over 24: none and 0.02 %).
  const Peer peers[] = {
      {"pillow_drawing.wmf", "wmf2gd --maxwidth=%W --maxheight=%H --maxsize -o %O %I", 0, 0},
      {"pillow_drawing.wmf", "%M -density %D %I -background white -flatten %O", 2.0, 0.03},
      {"emf2svg_test-023.emf",
       "emf2svg-conv -i %I -o %O.svg && rsvg-convert -w %W -h %H -b white %O.svg -o %O", 0.5,
       0.005},
      {"emf2svg_test-067.emf",
       "emf2svg-conv -i %I -o %O.svg && rsvg-convert -w %W -h %H -b white %O.svg -o %O", 2.0,
       0.005},
  };
  testutil::ScratchDir dir;
  for (const Peer& p : peers) {
    SCOPED_TRACE(std::string(p.file) + ": " + p.command);
    std::unique_ptr<raster::Image> img = testutil::decode_ok(bytes_of(p.file));
    const std::string out = dir.file("peer.png");
    std::string cmd = p.command;
    auto subst = [&](const std::string& key, const std::string& value) {
      for (size_t at = cmd.find(key); at != std::string::npos; at = cmd.find(key, at)) {
        cmd.replace(at, key.size(), value);
      }
    };
    subst("%W", std::to_string(img->width()));
    subst("%H", std::to_string(img->height()));
    subst("%D", std::to_string(std::lround(img->dpi_x())));
    subst("%M", testutil::convert_tool());
    subst("%I", "'" + data_file(p.file) + "'");
    subst("%O", "'" + out + "'");
    ASSERT_EQ(testutil::run(cmd + " 2>/dev/null"), 0);
    int32_t w = 0, h = 0;
    const U32s theirs = testutil::rgba_to_argb(testutil::magick_rgba(out, &w, &h));
    ASSERT_EQ(std::pair(w, h), std::pair(img->width(), img->height()));
    const BlockDiff d = block_diff(testutil::argb_pixels(*img), theirs, w, h);
    EXPECT_LE(d.mean, p.mean);
    EXPECT_LE(d.over, p.over);
  }
}

TEST(Metafile, DamagedFilesAndHugeFramesGiveAStatus) {
  const std::vector<uint8_t> wmf = bytes_of("pillow_drawing.wmf");
  const std::vector<uint8_t> emf = bytes_of("pillow_drawing.emf");
  struct Case {
    const char* what;
    std::vector<uint8_t> bytes;
    Status expect;
  };
  auto edit = [](std::vector<uint8_t> v, size_t size, size_t at, uint32_t value) {
    v.resize(size);
    if (at < v.size() && v.size() - at >= 4) put32(v, at, value);
    return v;
  };
  const size_t nw = wmf.size(), ne = emf.size();
  constexpr size_t kNone = ~size_t{0};
  // WMF: records start at 40 (22-byte placeable header, 18-byte META
  // header); EMF: the header record is 208 bytes, the end record the last 20.
  const Case cases[] = {
      {"WMF cut inside its headers", edit(wmf, 30, kNone, 0), Status::GenericError},
      {"WMF cut before its end record", edit(wmf, nw - 8, kNone, 0), Status::GenericError},
      {"WMF record of no size", edit(wmf, nw, 40, 0), Status::GenericError},
      {"WMF record past the end", edit(wmf, nw, 40, 0x7FFFFFFF), Status::GenericError},
      {"WMF with 0 units per inch", edit(wmf, nw, 12, 0x0000'0559), Status::GenericError},
      {"WMF with an empty box", edit(wmf, nw, 8, 0x0000'0000), Status::GenericError},
      {"WMF of a bad META type", edit(wmf, nw, 22, 0x0009'0007), Status::GenericError},
      {"WMF libwmf refuses (real file)", bytes_of("uemf_test_libuemf_ref.wmf"),
       Status::GenericError},
      {"EMF cut short of its declared size", edit(emf, ne - 20, kNone, 0), Status::GenericError},
      {"EMF record size not a multiple of 4", edit(emf, ne, 212, 13), Status::GenericError},
      {"EMF record past the end", edit(emf, ne, 212, 0x10000), Status::GenericError},
      {"EMF without an end record", edit(emf, ne, ne - 20, 70), Status::GenericError},
      {"EMF with a second header", edit(emf, ne, 208, 1), Status::GenericError},
      {"EMF reference device 0 pixels wide", edit(emf, ne, 72, 0), Status::GenericError},
      {"EMF frame of 2^31 units", edit(emf, ne, 32, 0x7FFFFFFF), Status::OutOfMemory},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    std::unique_ptr<raster::Image> img;
    EXPECT_EQ(testutil::decode(c.bytes, img), c.expect);
    EXPECT_EQ(img, nullptr);
  }
}

TEST(Metafile, ThePixelLimitIsCheckedBeforeRendering) {
  // 1369 x 1369 x 4 bytes is above a 4 MiB limit: refused, nothing drawn.
  raster::set_pixel_memory_limit(uint64_t{4} << 20);
  for (const char* name : {"pillow_drawing.wmf", "pillow_drawing.emf"}) {
    std::unique_ptr<raster::Image> img;
    EXPECT_EQ(testutil::decode(bytes_of(name), img), Status::OutOfMemory) << name;
  }
  raster::set_pixel_memory_limit(uint64_t{4} << 30);
}

}  // namespace
}  // namespace korvex
