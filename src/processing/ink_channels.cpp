#include "processing/ink_channels.h"

#include <algorithm>
#include <array>
#include <vector>

#include "processing/color_models.h"

namespace korvex::colors {

namespace {

// The colour inks of cCMYK depend on two numbers only: the range black
// leaves (d = 255 - K) and what is left of the complement above black
// (n = complement - K, 0..d). One table of those, filled through cCMYK itself
// so the pictures and the conversion members can never disagree.
struct InkTable {
  std::array<std::array<uint8_t, 256>, 256> ink{};  // [d][n]
  InkTable() {
    cCMYK m;
    for (int32_t d = 1; d < 256; ++d) {
      for (int32_t n = 0; n <= d; ++n) {
        // Red's complement is n + K, green's and blue's are K: cyan = ink(d, n).
        m.RGB(MakeRGBValue(d - n, d, d));
        ink[static_cast<size_t>(d)][static_cast<size_t>(n)] = static_cast<uint8_t>(m.C());
      }
    }
  }
};

const InkTable& ink_table() {
  static const InkTable table;  // built once, thread-safe
  return table;
}

// 255 minus the ink amount of one colour.
uint32_t gray_of(const InkTable& t, uint32_t argb, InkChannel ch) {
  const uint32_t r = (argb >> 16) & 0xFF, g = (argb >> 8) & 0xFF, b = argb & 0xFF;
  const uint32_t mx = std::max({r, g, b});  // 255 - K
  uint32_t ink = 255;
  if (ch == InkChannel::K) {
    ink = 255 - mx;
  } else if (mx != 0) {
    const uint32_t v = ch == InkChannel::C ? r : ch == InkChannel::M ? g : b;
    ink = t.ink[mx][mx - v];  // complement - K = (255 - v) - (255 - mx)
  }
  const uint32_t gray = 255 - ink;
  return (argb & 0xFF000000u) | gray << 16 | gray << 8 | gray;
}

}  // namespace

uint32_t InkGray(uint32_t argb, InkChannel ch) {
  return gray_of(ink_table(), argb, ch);
}

raster::Status InkChannelImage(raster::Image& src, InkChannel ch,
                               std::unique_ptr<raster::Image>& out) {
  const int32_t w = src.width(), h = src.height();
  const raster::PixelFormat f = src.format();
  const InkTable& t = ink_table();
  std::unique_ptr<raster::Image> dst;
  if (raster::Status st = raster::Image::create(w, h, f, dst); st != raster::Status::Ok) return st;

  // Indexed pictures: the ink is a function of the colour, which is the
  // palette entry, so the indices stay and the palette turns to grays.
  const bool indexed = raster::is_indexed(f);
  const raster::PixelFormat work = indexed ? f : raster::pf::k32bppARGB;
  if (indexed) {
    raster::Palette p = src.palette();
    for (uint32_t& e : p.entries) e = gray_of(t, e, ch);
    p.flags &= ~static_cast<uint32_t>(raster::Palette::kHalftone);
    if (raster::Status st = dst->set_palette(p); st != raster::Status::Ok) return st;
  }

  // Tiles of at most 2^20 columns and about 4 MiB through a small buffer, so
  // the picture is never held twice and no row length overflows.
  const int32_t tile_w = std::min<int32_t>(w, 1 << 20);
  const int32_t stride = indexed ? raster::padded_stride(tile_w, f) : tile_w * 4;
  if (stride <= 0) return raster::Status::InvalidParameter;
  const int32_t band = std::max<int32_t>(1, std::min<int32_t>(h, (1 << 22) / stride));
  std::vector<uint8_t> buf(static_cast<size_t>(stride) * static_cast<size_t>(band));
  // 64-bit steps: the last one may pass 2^31.
  for (int64_t x = 0; x < w; x += tile_w) {
    for (int64_t y = 0; y < h; y += band) {
      const auto x0 = static_cast<int32_t>(x), y0 = static_cast<int32_t>(y);
      const raster::Rect r{x0, y0, std::min(tile_w, w - x0), std::min(band, h - y0)};
      if (raster::Status st = src.read_pixels(r, work, buf.data(), stride);
          st != raster::Status::Ok)
        return st;
      if (!indexed) {
        for (int32_t row = 0; row < r.height; ++row) {
          auto* px = reinterpret_cast<uint32_t*>(buf.data() + static_cast<size_t>(row) * stride);
          for (int32_t i = 0; i < r.width; ++i) px[i] = gray_of(t, px[i], ch);
        }
      }
      if (raster::Status st = dst->write_pixels(r, work, buf.data(), stride);
          st != raster::Status::Ok)
        return st;
    }
  }
  if (raster::Status st = dst->set_resolution(src.dpi_x(), src.dpi_y()); st != raster::Status::Ok)
    return st;
  out = std::move(dst);
  return raster::Status::Ok;
}

}  // namespace korvex::colors
