// WMF and EMF: third-party files rendered at their own pixel size, checked against the
// libraries' command-line tools; damaged files and oversized frames refused with a status.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <tuple>
#include <vector>

#include "codec_test_util.h"

namespace korvex {
namespace {

using namespace testutil;

using raster::Status;

std::string data_file(const std::string& name) {
  return std::string(KORVEX_SOURCE_DIR) + "/tests/data/metafile/" + name;
}

Bytes bytes_of(const std::string& n) {
  return read_file(data_file(n));
}

void put32(Bytes& v, size_t at, uint32_t x) {
  for (int i = 0; i < 4; ++i) v[at + i] = static_cast<uint8_t>(x >> (8 * i));
}

// Differences that survive 8 x 8 box averaging: anti-aliased or sub-pixel
// edges hardly count, a shifted, scaled or missing drawing does.
struct BlockDiff {
  double mean = 0;  // mean over blocks of the largest channel difference
  double over = 0;  // fraction of blocks differing by more than 24 levels
};
BlockDiff block_diff(const Pixels& a, const Pixels& b, int32_t w, int32_t h) {
  constexpr int k = 8;
  if (a.size() != b.size() || a.size() != static_cast<size_t>(w) * h) return {255, 1};
  BlockDiff d;
  const double blocks = static_cast<double>(w / k) * (h / k);
  for (int32_t by = 0; by + k <= h; by += k) {
    for (int32_t bx = 0; bx + k <= w; bx += k) {
      int worst = 0;
      for (int s = 0; s < 24; s += 8) {
        int sum = 0;  // a's channel total minus b's over the block
        for (int32_t i = 0; i < k * k; ++i) {
          const size_t at = static_cast<size_t>(by + i / k) * w + bx + i % k;
          sum += int(a[at] >> s & 0xFF) - int(b[at] >> s & 0xFF);
        }
        worst = std::max(worst, std::abs(sum));
      }
      d.mean += worst / double(k * k) / blocks;
      d.over += (worst > 24 * k * k ? 1 : 0) / blocks;
    }
  }
  return d;
}

// Clip art (a circle, a star) and a chart with text: the WMF bounding box at its 1200 units
// per inch, the EMF frame at the reference device's resolution (micrometre header fields where
// present). Where the drawing lands within that size is left to the peers below.
TEST(Metafile, RealFilesFillTheirOwnPixelSize) {
  const std::tuple<const char*, raster::Guid, int32_t, int32_t, float, float> files[] = {
      {"pillow_drawing.wmf", raster::guids::kFormatWmf, 1369, 1369, 1200.0f, 1200.0f},
      {"pillow_drawing.emf", raster::guids::kFormatEmf, 1370, 1370, 1200.03f, 1199.99f},
      {"emf2svg_test-023.emf", raster::guids::kFormatEmf, 230, 135, 96.33f, 96.09f},
      {"emf2svg_test-067.emf", raster::guids::kFormatEmf, 660, 413, 101.6f, 84.67f},
  };
  for (const auto& [name, format, width, height, dpi_x, dpi_y] : files) {
    SCOPED_TRACE(name);
    std::unique_ptr<raster::Image> img = decode_ok(bytes_of(name));
    EXPECT_EQ(img->raw_format(), format);
    EXPECT_EQ(img->format(), raster::pf::k32bppRGB);
    EXPECT_EQ(std::pair(img->width(), img->height()), std::pair(width, height));
    EXPECT_NEAR(img->dpi_x(), dpi_x, 0.01f);
    EXPECT_NEAR(img->dpi_y(), dpi_y, 0.01f);
  }
}

TEST(Metafile, PeersDrawTheSamePicture) {
  // Shell commands given $1 $2: our pixel size, $3: input, $4: PNG output. wmf2gd is the
  // same gd device: identical pixels. emf2svg-conv + rsvg-convert map the bounds instead of
  // the frame, up to a pixel apart (measured mean 0.1 and 1.1, blocks over 24: none and
  // 0.02 %). Limits: BlockDiff's mean and fraction over 24.
  const char* emf_cli =
      "emf2svg-conv -i \"$3\" -o \"$4.svg\" && "
      "rsvg-convert -w $1 -h $2 -b white \"$4.svg\" -o \"$4\"";
  const std::tuple<const char*, const char*, double, double> peers[] = {
      {"pillow_drawing.wmf", "wmf2gd --maxwidth=$1 --maxheight=$2 --maxsize -o \"$4\" \"$3\"", 0,
       0},
      {"emf2svg_test-023.emf", emf_cli, 0.5, 0.005},
      {"emf2svg_test-067.emf", emf_cli, 2.0, 0.005},
  };
  ScratchDir dir;
  for (const auto& [file, command, mean, over] : peers) {
    SCOPED_TRACE(std::string(file) + ": " + command);
    std::unique_ptr<raster::Image> img = decode_ok(bytes_of(file));
    const std::string out = dir.file("peer.png");
    ASSERT_EQ(
        run(std::string("sh -c '") + command + "' sh " + std::to_string(img->width()) + " " +
            std::to_string(img->height()) + " '" + data_file(file) + "' '" + out + "' 2>/dev/null"),
        0);
    int32_t w = 0, h = 0;
    const Pixels theirs = magick_argb(out, &w, &h);
    ASSERT_EQ(std::pair(w, h), std::pair(img->width(), img->height()));
    const BlockDiff d = block_diff(argb_pixels(*img), theirs, w, h);
    EXPECT_LE(d.mean, mean);
    EXPECT_LE(d.over, over);
  }
}

TEST(Metafile, DamagedFilesAndHugeFramesGiveAStatus) {
  const Bytes wmf = bytes_of("pillow_drawing.wmf"), emf = bytes_of("pillow_drawing.emf");
  auto edit = [](Bytes v, size_t size, size_t at, uint32_t value) {
    v.resize(size);
    if (at < v.size() && v.size() - at >= 4) put32(v, at, value);
    return v;
  };
  const size_t nw = wmf.size(), ne = emf.size();
  constexpr size_t kNone = ~size_t{0};
  // WMF: records start at 40 (22-byte placeable header, 18-byte META
  // header); EMF: the header record is 208 bytes, the end record the last 20.
  const std::tuple<const char*, Bytes, Status> cases[] = {
      {"WMF cut inside its headers", edit(wmf, 30, kNone, 0), Status::GenericError},
      {"WMF cut before its end record", edit(wmf, nw - 8, kNone, 0), Status::GenericError},
      {"WMF record of no size", edit(wmf, nw, 40, 0), Status::GenericError},
      {"WMF record past the end", edit(wmf, nw, 40, 0x7FFFFFFF), Status::GenericError},
      {"WMF with 0 units per inch", edit(wmf, nw, 12, 0x0000'0559), Status::GenericError},
      {"WMF with an empty box", edit(wmf, nw, 8, 0x0000'0000), Status::GenericError},
      {"WMF of a bad META type", edit(wmf, nw, 22, 0x0009'0007), Status::GenericError},
      {"WMF libwmf refuses (real)", bytes_of("uemf_test_libuemf_ref.wmf"), Status::GenericError},
      {"EMF cut short of its declared size", edit(emf, ne - 20, kNone, 0), Status::GenericError},
      {"EMF record size not a multiple of 4", edit(emf, ne, 212, 13), Status::GenericError},
      {"EMF record past the end", edit(emf, ne, 212, 0x10000), Status::GenericError},
      {"EMF without an end record", edit(emf, ne, ne - 20, 70), Status::GenericError},
      {"EMF with a second header", edit(emf, ne, 208, 1), Status::GenericError},
      {"EMF reference device 0 pixels wide", edit(emf, ne, 72, 0), Status::GenericError},
      {"EMF frame of 2^31 units", edit(emf, ne, 32, 0x7FFFFFFF), Status::OutOfMemory},
      // 84667 hundredths of a millimetre at 1200 dpi: 40001 pixels, within
      // the pixel limit but beyond the 32767 a side cairo draws.
      {"EMF frame wider than the renderer draws", edit(emf, ne, 32, 84667), Status::NotImplemented},
      // A world transform shearing by 1.4e14: cairo would take gigabytes to
      // flatten the sheared ellipse before clipping it.
      {"EMF transform sheared past any canvas",
       read_file(std::string(KORVEX_SOURCE_DIR) +
                 "/fuzz/regressions/emf/world_transform_shear_1e14.emf"),
       Status::GenericError},
  };
  for (const auto& [what, bytes, status] : cases) {
    SCOPED_TRACE(what);
    std::unique_ptr<raster::Image> img;
    EXPECT_EQ(decode(bytes, img), status);
    EXPECT_EQ(img, nullptr);
  }
}

TEST(Metafile, ThePixelLimitIsCheckedBeforeRendering) {
  const PixelLimit limit(uint64_t{4} << 20);  // below 1369 x 1369 x 4 bytes
  for (const char* name : {"pillow_drawing.wmf", "pillow_drawing.emf"}) {
    EXPECT_EQ(status_of(bytes_of(name)), Status::OutOfMemory) << name;
  }
}

}  // namespace
}  // namespace korvex
