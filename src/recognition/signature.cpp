// Signature of a page: 3 x 3 black patterns on a grid of every third pixel.
//
// The grid covers each pixel once, so the page is read once, in its own
// pixel format, without a copy: 1-bit pages straight from their bits through
// a two-entry palette table, 24-bit ones from their bytes, the others a row
// at a time converted to ARGB.
#include <algorithm>
#include <bit>
#include <cstdint>
#include <vector>

#include "raster/convert.h"
#include "raster/guard.h"
#include "raster/rounding.h"
#include "recognition/rad.h"

namespace korvex::recognition {

namespace {

constexpr uint32_t kOpaqueBlack = 0xFF000000u;
constexpr uint32_t kClear = 0x00000000u;

// Grid points along a side of n pixels: centres at 0-based 1, 4, 7 ... <= n - 2.
int32_t grid_points(int32_t n) {
  return n >= 3 ? (n - 3) / 3 + 1 : 0;
}

// Tables of a 3-pixel window (bit 2 = left pixel) of a 1-bit row: which of
// its pixels are opaque black, and whether its middle pixel is 0x00000000.
struct BitTables {
  uint32_t black[8];
  uint32_t clear_mid[8];
};

BitTables bit_tables(const raster::Palette& pal) {
  // An index past the palette reads as 0x00000000, as the row conversions do.
  const uint32_t c[2] = {pal.entries.size() > 0 ? pal.entries[0] : 0u,
                         pal.entries.size() > 1 ? pal.entries[1] : 0u};
  BitTables t{};
  for (uint32_t v = 0; v < 8; ++v) {
    for (int b = 0; b < 3; ++b) {
      if (c[(v >> b) & 1u] == kOpaqueBlack) t.black[v] |= 1u << b;
    }
    t.clear_mid[v] = c[(v >> 1) & 1u] == kClear ? 1u : 0u;
  }
  return t;
}

// The three pixels starting at pixel `x` of a 1-bit row (most significant
// bit first), as bits 2..0.
inline uint32_t window3(const uint8_t* row, int32_t x) {
  const int32_t byte = x >> 3, bit = x & 7;
  if (bit <= 5) return (row[byte] >> (5 - bit)) & 7u;
  const uint32_t two = (static_cast<uint32_t>(row[byte]) << 8) | row[byte + 1];
  return (two >> (13 - bit)) & 7u;
}

inline uint32_t pattern_1bpp(const BitTables& t, uint32_t top, uint32_t mid, uint32_t bottom) {
  return t.black[top] << 6 | (t.black[mid] & 5u) << 3 | t.clear_mid[mid] << 4 | t.black[bottom];
}

void signature_1bpp(const raster::LockData& d, const raster::Palette& pal, int32_t cols,
                    int32_t rows, int32_t top_rows, Signature& sig) {
  const BitTables t = bit_tables(pal);
  // Three bytes hold 24 pixels: the windows of 8 grid points, whole.
  const int32_t whole = cols / 8;
  for (int32_t gy = 0; gy < rows; ++gy) {
    const uint8_t* r0 = d.scan0 + static_cast<std::ptrdiff_t>(3 * gy) * d.stride;
    const uint8_t* r1 = r0 + d.stride;
    const uint8_t* r2 = r1 + d.stride;
    int64_t black = 0;
    for (int32_t g = 0; g < whole; ++g) {
      const int32_t at = 3 * g;
      const uint32_t v0 = static_cast<uint32_t>(r0[at]) << 16 | r0[at + 1] << 8 | r0[at + 2];
      const uint32_t v1 = static_cast<uint32_t>(r1[at]) << 16 | r1[at + 1] << 8 | r1[at + 2];
      const uint32_t v2 = static_cast<uint32_t>(r2[at]) << 16 | r2[at + 1] << 8 | r2[at + 2];
      // Runs of one index (blank paper, mostly) give 8 equal patterns.
      if ((v0 == 0 || v0 == 0xFFFFFFu) && v1 == v0 && v2 == v0) {
        const uint32_t p = pattern_1bpp(t, v0 & 7u, v0 & 7u, v0 & 7u);
        sig.bins[p] += 8;
        black += 8 * std::popcount(p);
        continue;
      }
      for (int shift = 21; shift >= 0; shift -= 3) {
        const uint32_t p =
            pattern_1bpp(t, (v0 >> shift) & 7u, (v1 >> shift) & 7u, (v2 >> shift) & 7u);
        ++sig.bins[p];
        black += std::popcount(p);
      }
    }
    for (int32_t gx = whole * 8; gx < cols; ++gx) {
      const int32_t x = 3 * gx;  // the left column of the window
      const uint32_t p = pattern_1bpp(t, window3(r0, x), window3(r1, x), window3(r2, x));
      ++sig.bins[p];
      black += std::popcount(p);
    }
    if (gy < top_rows) sig.top_black += black;
  }
}

// 24-bit pixels are opaque: black when all three bytes are 0; the centre,
// never 0x00000000, never counts.
void signature_24bpp(const raster::LockData& d, int32_t cols, int32_t rows, int32_t top_rows,
                     Signature& sig) {
  auto black = [](const uint8_t* p) { return static_cast<uint32_t>((p[0] | p[1] | p[2]) == 0); };
  for (int32_t gy = 0; gy < rows; ++gy) {
    const uint8_t* r0 = d.scan0 + static_cast<std::ptrdiff_t>(3 * gy) * d.stride;
    const uint8_t* r1 = r0 + d.stride;
    const uint8_t* r2 = r1 + d.stride;
    int64_t count = 0;
    for (int32_t at = 0; at < 9 * cols; at += 9) {
      const uint32_t p = black(r0 + at) << 8 | black(r0 + at + 3) << 7 | black(r0 + at + 6) << 6 |
                         black(r1 + at) << 5 | black(r1 + at + 6) << 3 | black(r2 + at) << 2 |
                         black(r2 + at + 3) << 1 | black(r2 + at + 6);
      ++sig.bins[p];
      count += std::popcount(p);
    }
    if (gy < top_rows) sig.top_black += count;
  }
}

void signature_argb(const raster::LockData& d, const raster::Palette& pal, int32_t cols,
                    int32_t rows, int32_t top_rows, uint32_t* buf, Signature& sig) {
  const int32_t w = 3 * cols;  // pixels used in each row
  uint32_t* r[3] = {buf, buf + w, buf + 2 * w};
  for (int32_t gy = 0; gy < rows; ++gy) {
    for (int32_t k = 0; k < 3; ++k) {
      const uint8_t* src = d.scan0 + static_cast<std::ptrdiff_t>(3 * gy + k) * d.stride;
      raster::load_argb(d.format, src, 0, w, pal, r[k]);
    }
    int64_t black = 0;
    for (int32_t x = 1; x < w; x += 3) {
      const uint32_t p = static_cast<uint32_t>(r[0][x - 1] == kOpaqueBlack) << 8 |
                         static_cast<uint32_t>(r[0][x] == kOpaqueBlack) << 7 |
                         static_cast<uint32_t>(r[0][x + 1] == kOpaqueBlack) << 6 |
                         static_cast<uint32_t>(r[1][x - 1] == kOpaqueBlack) << 5 |
                         static_cast<uint32_t>(r[1][x] == kClear) << 4 |
                         static_cast<uint32_t>(r[1][x + 1] == kOpaqueBlack) << 3 |
                         static_cast<uint32_t>(r[2][x - 1] == kOpaqueBlack) << 2 |
                         static_cast<uint32_t>(r[2][x] == kOpaqueBlack) << 1 |
                         static_cast<uint32_t>(r[2][x + 1] == kOpaqueBlack);
      ++sig.bins[p];
      black += std::popcount(p);
    }
    if (gy < top_rows) sig.top_black += black;
  }
}

}  // namespace

raster::Status ComputeSignature(raster::Image& img, Signature& sig, std::vector<uint32_t>& buffer) {
  const int32_t width = img.width(), height = img.height();
  if (width < 1 || height < 1) return raster::Status::InvalidParameter;
  sig = Signature{};
  sig.area = static_cast<int64_t>(width) * height;
  const int32_t cols = grid_points(width), rows = grid_points(height);
  if (cols == 0 || rows == 0) return raster::Status::Ok;
  // Grid row gy sits at 1-based row 3 gy + 2, which counts as top while it
  // is below round(height / 3): the first round(height / 3) / 3 grid rows.
  const int32_t top_rows = std::min(RoundHalfEven(height / 3.0) / 3, rows);

  const raster::PixelFormat f = img.format();
  const bool one_bit = f == raster::pf::k1bppIndexed, rgb24 = f == raster::pf::k24bppRGB;
  if (!one_bit && !rgb24) {
    const raster::Status st = raster::guarded([&] {
      const size_t need = static_cast<size_t>(cols) * 9u;
      if (buffer.size() < need) buffer.resize(need);
      return raster::Status::Ok;
    });
    if (st != raster::Status::Ok) return st;
  }
  // The page's own rows, unconverted: a read lock in its own format.
  raster::LockData d;
  const raster::Rect used{0, 0, 3 * cols, 3 * rows};
  if (const raster::Status st = img.lock_bits(&used, raster::lock::kRead, f, d);
      st != raster::Status::Ok) {
    return st;
  }
  if (one_bit) {
    signature_1bpp(d, img.palette(), cols, rows, top_rows, sig);
  } else if (rgb24) {
    signature_24bpp(d, cols, rows, top_rows, sig);
  } else {
    signature_argb(d, img.palette(), cols, rows, top_rows, buffer.data(), sig);
  }
  return img.unlock_bits(d);
}

}  // namespace korvex::recognition
