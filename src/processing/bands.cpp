// Band measurement: one pass over the rows counts, for every row and every
// column, the pixels that do not match the reference colour; the four edge
// searches then walk those counts. Rows are read where they lie, in the
// image's own pixel format; runs of matching pixels (the blank paper of a
// page) are passed over several pixels at a time.
#include "processing/bands.h"

#include <bit>
#include <cstring>
#include <vector>

#include "raster/convert.h"

namespace korvex::filters {

namespace {

// Whether a 32bppARGB pixel matches the reference colour (alpha ignored).
class ColourTest {
 public:
  explicit ColourTest(const BandRule& r) : ref_(r.reference & 0xFFFFFFu), tol_(r.tolerance) {}
  bool operator()(uint32_t argb) const {
    const uint32_t rgb = argb & 0xFFFFFFu;
    if (rgb == ref_) return true;
    return tol_ != 0 && distance(rgb) <= tol_;
  }
  uint32_t reference() const { return ref_; }

 private:
  // Sum of the absolute red, green and blue differences.
  int32_t distance(uint32_t rgb) const {
    int32_t d = 0;
    for (int shift = 0; shift <= 16; shift += 8) {
      const auto a = static_cast<int32_t>((rgb >> shift) & 0xFF);
      const auto b = static_cast<int32_t>((ref_ >> shift) & 0xFF);
      d += a > b ? a - b : b - a;
    }
    return d;
  }

  uint32_t ref_;
  int32_t tol_;
};

// Pixels that do not match, per row and per column.
struct Misses {
  std::vector<int32_t> rows;
  std::vector<int32_t> cols;
};

uint32_t palette_entry(const raster::Palette& p, uint32_t i) {
  return i < p.entries.size() ? p.entries[i] : 0u;
}

// Bit k (most significant first) of a byte as byte k of a 64-bit word: one
// addition counts eight columns at once in byte-wide lanes.
struct ByteLanes {
  uint64_t of[256];
  constexpr ByteLanes() : of() {
    for (uint32_t b = 0; b < 256; ++b) {
      for (int k = 0; k < 8; ++k) {
        if (b & (0x80u >> k)) of[b] |= uint64_t{1} << (8 * k);
      }
    }
  }
};
constexpr ByteLanes kLanes;

// 1 bit a pixel, most significant first: with one of the two entries
// matching, a pixel misses when its bit differs from that entry's index.
// Column misses gather in byte lanes, emptied every 255 rows.
void count_1bpp(const raster::Surface& s, const ColourTest& test, Misses& m) {
  const bool m0 = test(palette_entry(s.palette, 0)), m1 = test(palette_entry(s.palette, 1));
  if (m0 && m1) return;
  if (!m0 && !m1) {
    m.rows.assign(m.rows.size(), s.width);
    m.cols.assign(m.cols.size(), s.height);
    return;
  }
  const uint8_t flip = m0 ? 0x00 : 0xFF;  // a set bit of byte ^ flip misses
  const uint64_t flip8 = m0 ? 0 : ~uint64_t{0};
  const int32_t whole = s.width / 8, tail = s.width % 8, bytes = whole + (tail != 0);
  std::vector<uint64_t> lane_store(static_cast<size_t>(bytes), 0);
  uint64_t* lanes = lane_store.data();
  auto empty_lanes = [&] {
    for (int32_t i = 0; i < bytes; ++i) {
      for (int32_t k = 0, x = 8 * i; k < 8 && x < s.width; ++k, ++x)
        m.cols[static_cast<size_t>(x)] += static_cast<int32_t>((lanes[i] >> (8 * k)) & 0xFF);
      lanes[i] = 0;
    }
  };
  for (int32_t y = 0; y < s.height; ++y) {
    const uint8_t* row = s.row(y);
    int32_t miss = 0, i = 0;
    auto add = [&](int32_t at, uint8_t bits) {
      miss += std::popcount(bits);
      lanes[at] += kLanes.of[bits];
    };
    for (; i + 8 <= whole; i += 8) {
      uint64_t v;
      std::memcpy(&v, row + i, 8);
      if (v == flip8) continue;
      for (int32_t k = i; k < i + 8; ++k) add(k, static_cast<uint8_t>(row[k] ^ flip));
    }
    for (; i < whole; ++i) add(i, static_cast<uint8_t>(row[i] ^ flip));
    if (tail != 0) add(whole, static_cast<uint8_t>((row[whole] ^ flip) & (0xFF00u >> tail)));
    m.rows[static_cast<size_t>(y)] = miss;
    if (y % 255 == 254) empty_lanes();
  }
  empty_lanes();
}

// 4 and 8 bits a pixel: a miss table over the palette indices.
template <int Bits>
void count_indexed(const raster::Surface& s, const ColourTest& test, Misses& m) {
  uint8_t misses[256];
  for (uint32_t i = 0; i < (1u << Bits); ++i) misses[i] = test(palette_entry(s.palette, i)) ? 0 : 1;
  int32_t* cols = m.cols.data();
  for (int32_t y = 0; y < s.height; ++y) {
    const uint8_t* row = s.row(y);
    int32_t miss = 0;
    for (int32_t x = 0; x < s.width; ++x) {
      uint32_t index;
      if constexpr (Bits == 4) {
        index = (x & 1) ? row[x >> 1] & 0x0Fu : row[x >> 1] >> 4u;
      } else {
        index = row[x];
      }
      const int32_t d = misses[index];
      cols[x] += d;
      miss += d;
    }
    m.rows[static_cast<size_t>(y)] = miss;
  }
}

// 24bppRGB: B, G, R bytes; eight pixels equal to the reference are passed
// over with one comparison.
void count_24bpp(const raster::Surface& s, const ColourTest& test, Misses& m) {
  uint8_t run[24];
  const uint32_t ref = test.reference();
  for (int k = 0; k < 8; ++k) {
    run[3 * k] = static_cast<uint8_t>(ref);
    run[3 * k + 1] = static_cast<uint8_t>(ref >> 8);
    run[3 * k + 2] = static_cast<uint8_t>(ref >> 16);
  }
  int32_t* cols = m.cols.data();
  for (int32_t y = 0; y < s.height; ++y) {
    const uint8_t* row = s.row(y);
    int32_t miss = 0;
    auto one = [&](int32_t x) {
      const uint8_t* p = row + 3 * static_cast<ptrdiff_t>(x);
      const uint32_t argb =
          p[0] | static_cast<uint32_t>(p[1]) << 8 | static_cast<uint32_t>(p[2]) << 16;
      if (!test(argb)) {
        ++cols[x];
        ++miss;
      }
    };
    int32_t x = 0;
    for (; x + 8 <= s.width; x += 8) {
      if (std::memcmp(row + 3 * static_cast<ptrdiff_t>(x), run, sizeof run) == 0) continue;
      for (int32_t k = x; k < x + 8; ++k) one(k);
    }
    for (; x < s.width; ++x) one(x);
    m.rows[static_cast<size_t>(y)] = miss;
  }
}

// One row of 32-bit pixels whose low three bytes are B, G, R (32bppRGB,
// 32bppARGB, or a row read as 32bppARGB); eight pixels whose colour equals
// the reference are passed over at once.
int32_t count_argb_row(const uint8_t* row, int32_t width, const ColourTest& test, int32_t* cols) {
  const uint64_t ref2 = test.reference() * 0x0000000100000001ull;
  constexpr uint64_t kRgb2 = 0x00FFFFFF00FFFFFFull;
  int32_t miss = 0;
  auto one = [&](int32_t x) {
    uint32_t argb;
    std::memcpy(&argb, row + 4 * static_cast<ptrdiff_t>(x), 4);
    if (!test(argb)) {
      ++cols[x];
      ++miss;
    }
  };
  int32_t x = 0;
  for (; x + 8 <= width; x += 8) {
    uint64_t v[4];
    std::memcpy(v, row + 4 * static_cast<ptrdiff_t>(x), sizeof v);
    if ((((v[0] ^ ref2) | (v[1] ^ ref2) | (v[2] ^ ref2) | (v[3] ^ ref2)) & kRgb2) == 0) continue;
    for (int32_t k = x; k < x + 8; ++k) one(k);
  }
  for (; x < width; ++x) one(x);
  return miss;
}

// Every other format: each row read as 32bppARGB into one row of scratch.
void count_converted(const raster::Surface& s, const ColourTest& test, Misses& m) {
  const bool direct = s.format == raster::pf::k32bppRGB || s.format == raster::pf::k32bppARGB;
  std::vector<uint32_t> line(direct ? 0 : static_cast<size_t>(s.width));
  for (int32_t y = 0; y < s.height; ++y) {
    const uint8_t* row = s.row(y);
    if (!direct) {
      raster::load_argb(s.format, row, 0, s.width, s.palette, line.data());
      row = reinterpret_cast<const uint8_t*>(line.data());
    }
    m.rows[static_cast<size_t>(y)] = count_argb_row(row, s.width, test, m.cols.data());
  }
}

// Depth of the band at one end of a row or column list: from line skip + 1
// inward while the line's match share reaches the confidence, never taking
// the last line of the image; 0 when no line qualified.
int32_t band_depth(const std::vector<int32_t>& misses, int64_t line_pixels, const BandRule& r,
                   bool from_end) {
  const auto lines = static_cast<int64_t>(misses.size());
  int64_t n = r.skip;
  bool found = false;
  while (n + 1 < lines) {
    const int64_t i = from_end ? lines - 1 - n : n;
    const int64_t matches = line_pixels - misses[static_cast<size_t>(i)];
    // 100 x matches / pixels >= confidence, without rounding.
    if (100 * matches < static_cast<int64_t>(r.confidence) * line_pixels) break;
    ++n;
    found = true;
  }
  return found ? static_cast<int32_t>(n) : 0;
}

}  // namespace

raster::Status MeasureBands(const raster::Image& img, const BandRule& rule, BandDepths& out) {
  out = {};
  if (rule.tolerance < 0 || rule.skip < 0) return raster::Status::InvalidParameter;
  if (img.locked()) return raster::Status::WrongState;
  const raster::Surface& s = img.surface();
  if (s.width <= 0 || s.height <= 0 || s.scan0 == nullptr) return raster::Status::Ok;
  Misses m;
  m.rows.assign(static_cast<size_t>(s.height), 0);
  m.cols.assign(static_cast<size_t>(s.width), 0);
  const ColourTest test(rule);
  switch (s.format) {
    case raster::pf::k1bppIndexed:
      count_1bpp(s, test, m);
      break;
    case raster::pf::k4bppIndexed:
      count_indexed<4>(s, test, m);
      break;
    case raster::pf::k8bppIndexed:
      count_indexed<8>(s, test, m);
      break;
    case raster::pf::k24bppRGB:
      count_24bpp(s, test, m);
      break;
    default:
      count_converted(s, test, m);
      break;
  }
  out.top = band_depth(m.rows, s.width, rule, false);
  out.bottom = band_depth(m.rows, s.width, rule, true);
  out.left = band_depth(m.cols, s.height, rule, false);
  out.right = band_depth(m.cols, s.height, rule, true);
  return raster::Status::Ok;
}

}  // namespace korvex::filters
