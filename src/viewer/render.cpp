// Separable resampling of a rectangle of the displayed image, and the view cache.
#include "viewer/render.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>

#include "raster/parallel.h"

namespace korvex::viewer {

namespace {

constexpr int kShift = 14;  // fixed-point weights: 1.0 = 1 << 14
constexpr int32_t kOne = 1 << kShift;

// Taps of one output position: contiguous source indices from `first`.
struct Taps {
  int32_t first = 0;
  int32_t count = 0;
  int32_t offset = 0;  // into Axis::weights
};

struct Axis {
  std::vector<Taps> taps;
  std::vector<int32_t> weights;
};

double kernel(int32_t mode, double t) {
  t = std::fabs(t);
  switch (mode) {
    case 4:  // bicubic
    case 2:  // high quality
    case 7: {
      // Cubic convolution, a = -0.5.
      constexpr double a = -0.5;
      if (t < 1.0) return ((a + 2.0) * t - (a + 3.0)) * t * t + 1.0;
      if (t < 2.0) return ((a * t - 5.0 * a) * t + 8.0 * a) * t - 4.0 * a;
      return 0.0;
    }
    default:  // bilinear family
      return t < 1.0 ? 1.0 - t : 0.0;
  }
}

double radius(int32_t mode) {
  return mode == 4 || mode == 2 || mode == 7 ? 2.0 : 1.0;
}

bool widened(int32_t mode) {
  return mode == 2 || mode == 6 || mode == 7;
}

// Weights of output positions [from, from + n) of an axis whose output
// pixel d is centred on source position (d + 0.5) * scale - 0.5 of `src` pixels.
Axis make_axis(int32_t src, double scale, int32_t from, int32_t n, int32_t mode) {
  Axis axis;
  axis.taps.resize(static_cast<size_t>(n));
  std::vector<double> w;
  for (int32_t i = 0; i < n; ++i) {
    Taps& t = axis.taps[static_cast<size_t>(i)];
    t.offset = static_cast<int32_t>(axis.weights.size());
    const double u = (from + i + 0.5) * scale - 0.5;
    if (mode == 5) {  // nearest neighbour
      t.first = std::clamp(static_cast<int32_t>(std::floor(u + 0.5)), 0, src - 1);
      t.count = 1;
      axis.weights.push_back(kOne);
      continue;
    }
    const double width = widened(mode) && scale > 1.0 ? scale : 1.0;
    const double reach = radius(mode) * width;
    const auto lo = static_cast<int32_t>(std::ceil(u - reach));
    const auto hi = static_cast<int32_t>(std::floor(u + reach));
    const int32_t first = std::clamp(lo, 0, src - 1);
    const int32_t last = std::clamp(hi, 0, src - 1);
    w.assign(static_cast<size_t>(last - first + 1), 0.0);
    double sum = 0.0;
    for (int32_t k = lo; k <= hi; ++k) {
      const double v = kernel(mode, (k - u) / width);
      w[static_cast<size_t>(std::clamp(k, first, last) - first)] += v;
      sum += v;
    }
    if (sum == 0.0) {
      w.assign(w.size(), 0.0);
      w[static_cast<size_t>(std::clamp(static_cast<int32_t>(std::lround(u)), first, last) - first)] =
          1.0;
      sum = 1.0;
    }
    // Fixed point, rounding errors given to the largest weight so the sum is exactly one.
    int32_t total = 0;
    size_t largest = 0;
    for (size_t k = 0; k < w.size(); ++k) {
      const auto q = static_cast<int32_t>(std::lround(w[k] / sum * kOne));
      axis.weights.push_back(q);
      total += q;
      if (std::fabs(w[k]) > std::fabs(w[largest])) largest = k;
    }
    axis.weights[static_cast<size_t>(t.offset) + largest] += kOne - total;
    // Zero weights at either end are taps that cost without counting.
    size_t head = 0, tail = w.size();
    const int32_t* q = axis.weights.data() + t.offset;
    while (head + 1 < tail && q[head] == 0) ++head;
    while (tail > head + 1 && q[tail - 1] == 0) --tail;
    axis.weights.erase(axis.weights.begin() + t.offset + static_cast<std::ptrdiff_t>(tail),
                       axis.weights.end());
    axis.weights.erase(axis.weights.begin() + t.offset,
                       axis.weights.begin() + t.offset + static_cast<std::ptrdiff_t>(head));
    t.first = first + static_cast<int32_t>(head);
    t.count = static_cast<int32_t>(tail - head);
  }
  return axis;
}

inline uint8_t clamp8(int32_t acc) {
  const int32_t v = (acc + (1 << (kShift - 1))) >> kShift;
  return static_cast<uint8_t>(v < 0 ? 0 : (v > 255 ? 255 : v));
}

// One row filtered horizontally into `out` (4 bytes per output pixel); `in`
// holds the row's pixels from index `base` on.
void filter_row(const uint8_t* in, int32_t base, bool opaque, const Axis& ax, uint8_t* out) {
  const int32_t* weights = ax.weights.data();
  for (const Taps& t : ax.taps) {
    const uint8_t* p = in + static_cast<std::ptrdiff_t>(t.first - base) * 4;
    const int32_t* w = weights + t.offset;
    int32_t b = 0, g = 0, r = 0, a = 0;
    for (int32_t k = 0; k < t.count; ++k, p += 4) {
      b += w[k] * p[0];
      g += w[k] * p[1];
      r += w[k] * p[2];
      a += w[k] * p[3];
    }
    out[0] = clamp8(b);
    out[1] = clamp8(g);
    out[2] = clamp8(r);
    out[3] = opaque ? 255 : clamp8(a);
    out += 4;
  }
}

}  // namespace

namespace {

// Strong reductions in the high-quality modes first average k x k blocks
// (k fixed by the scale alone, blocks aligned on the image, so every
// rectangle sees the same blocks), leaving the kernel a shrink of 2 to 4:
// the cost per source pixel drops from about 4 x scale taps to one addition.
int32_t box_factor(int32_t mode, double scale) {
  return widened(mode) && scale >= 4.0 ? static_cast<int32_t>(scale / 2.0) : 1;
}

}  // namespace

void RenderArea(const SourceRows& src, const Scaling& s, const PixelRect& area,
                const PixelBuffer& out) {
  if (area.width <= 0 || area.height <= 0 || src.width <= 0 || src.height <= 0) return;
  const double scale_x = static_cast<double>(src.width) / s.displayed_width;
  const double scale_y = static_cast<double>(src.height) / s.displayed_height;
  const int32_t kx = box_factor(s.interpolation, scale_x);
  const int32_t ky = box_factor(s.interpolation, scale_y);
  // The averaged image: ceil(size / k) pixels a side, the last block partial.
  const int32_t rw = (src.width + kx - 1) / kx, rh = (src.height + ky - 1) / ky;
  const Axis ax = make_axis(rw, scale_x / kx, area.x, area.width, s.interpolation);
  const Axis ay = make_axis(rh, scale_y / ky, area.y, area.height, s.interpolation);
  const int32_t c0 = ax.taps.front().first;
  const int32_t c1 = ax.taps.back().first + ax.taps.back().count;  // averaged columns [c0, c1)
  const size_t row_bytes = static_cast<size_t>(area.width) * 4;
  const double work =
      static_cast<double>(c1 - c0) * kx * ky * 4.0 *
          (ay.taps.back().first + ay.taps.back().count - ay.taps.front().first) +
      static_cast<double>(ay.weights.size()) * row_bytes;
  raster::parallel_rows(area.height, work, [&](int32_t y0, int32_t y1) {
    // The averaged rows this band reads, filtered horizontally once each.
    int32_t lo = std::numeric_limits<int32_t>::max(), hi = -1;
    for (int32_t y = y0; y < y1; ++y) {
      const Taps& t = ay.taps[static_cast<size_t>(y)];
      lo = std::min(lo, t.first);
      hi = std::max(hi, t.first + t.count - 1);
    }
    std::vector<uint8_t> rows(static_cast<size_t>(hi - lo + 1) * row_bytes);
    std::vector<uint32_t> sums;
    std::vector<uint8_t> averaged;
    if (kx > 1 || ky > 1) {
      sums.resize(static_cast<size_t>(c1 - c0) * 4);
      averaged.resize(sums.size());
    }
    for (int32_t ry = lo; ry <= hi; ++ry) {
      uint8_t* filtered = rows.data() + static_cast<size_t>(ry - lo) * row_bytes;
      if (kx == 1 && ky == 1) {
        filter_row(src.row(ry), 0, src.opaque, ax, filtered);
        continue;
      }
      std::fill(sums.begin(), sums.end(), 0u);
      const int32_t sy0 = ry * ky, sy1 = std::min(sy0 + ky, src.height);
      const int32_t sx0 = c0 * kx, sx1 = std::min(c1 * kx, src.width);
      for (int32_t sy = sy0; sy < sy1; ++sy) {
        const uint8_t* p = src.row(sy) + static_cast<std::ptrdiff_t>(sx0) * 4;
        uint32_t* acc = sums.data();
        for (int32_t bx = sx0; bx < sx1; bx += kx, acc += 4) {
          const int32_t end = std::min(bx + kx, sx1);
          for (int32_t x = bx; x < end; ++x, p += 4) {
            acc[0] += p[0];
            acc[1] += p[1];
            acc[2] += p[2];
            acc[3] += p[3];
          }
        }
      }
      for (int32_t c = c0; c < c1; ++c) {
        const uint32_t n = static_cast<uint32_t>(sy1 - sy0) *
                           static_cast<uint32_t>(std::min((c + 1) * kx, src.width) - c * kx);
        const uint32_t* acc = sums.data() + static_cast<size_t>(c - c0) * 4;
        uint8_t* a = averaged.data() + static_cast<size_t>(c - c0) * 4;
        for (int k = 0; k < 4; ++k) a[k] = static_cast<uint8_t>((acc[k] + n / 2) / n);
      }
      filter_row(averaged.data(), c0, src.opaque, ax, filtered);
    }
    for (int32_t y = y0; y < y1; ++y) {
      const Taps& t = ay.taps[static_cast<size_t>(y)];
      const int32_t* w = ay.weights.data() + t.offset;
      uint8_t* o = out.row(y);
      const uint8_t* base = rows.data() + static_cast<size_t>(t.first - lo) * row_bytes;
      if (t.count == 1 && w[0] == kOne) {
        std::memcpy(o, base, row_bytes);
        continue;
      }
      for (size_t x = 0; x < row_bytes; x += 4) {
        int32_t b = 0, g = 0, r = 0, a = 0;
        const uint8_t* p = base + x;
        for (int32_t k = 0; k < t.count; ++k, p += row_bytes) {
          b += w[k] * p[0];
          g += w[k] * p[1];
          r += w[k] * p[2];
          a += w[k] * p[3];
        }
        // Premultiplied: no colour above its alpha after the overshoot of cubic kernels.
        const uint8_t alpha = clamp8(a);
        o[x] = std::min(clamp8(b), alpha);
        o[x + 1] = std::min(clamp8(g), alpha);
        o[x + 2] = std::min(clamp8(r), alpha);
        o[x + 3] = alpha;
      }
    }
  });
}

void CopyArea(const SourceRows& src, const PixelRect& area, const PixelBuffer& out) {
  const size_t row_bytes = static_cast<size_t>(std::max(area.width, 0)) * 4;
  for (int32_t y = 0; y < area.height; ++y) {
    const uint8_t* s = src.row(area.y + y) + static_cast<std::ptrdiff_t>(area.x) * 4;
    uint8_t* d = out.row(y);
    if (!src.opaque) {
      std::memcpy(d, s, row_bytes);
      continue;
    }
    for (size_t x = 0; x < row_bytes; x += 4) {
      std::memcpy(d + x, s + x, 3);
      d[x + 3] = 255;
    }
  }
}

raster::Status ViewCache::Source(raster::Image& image, int32_t image_id, SourceRows& out) {
  const raster::Surface& sf = image.surface();
  if (sf.format == raster::pf::k32bppPARGB || sf.format == raster::pf::k32bppRGB) {
    out = SourceRows{sf.scan0, sf.stride, sf.width, sf.height, sf.format == raster::pf::k32bppRGB};
    return raster::Status::Ok;
  }
  if (copy_id_ != image_id || copy_rows_.width != sf.width || copy_rows_.height != sf.height) {
    const uint64_t bytes = static_cast<uint64_t>(sf.width) * static_cast<uint64_t>(sf.height) * 4;
    if (sf.width <= 0 || sf.height <= 0 || bytes > raster::pixel_memory_limit() ||
        static_cast<uint64_t>(sf.width) * 4 > static_cast<uint64_t>(INT32_MAX))
      return raster::Status::OutOfMemory;
    copy_.clear();
    copy_.resize(static_cast<size_t>(bytes));
    const int32_t stride = sf.width * 4;
    const raster::Status st =
        image.read_pixels(raster::Rect{0, 0, sf.width, sf.height}, raster::pf::k32bppPARGB,
                          copy_.data(), stride);
    if (st != raster::Status::Ok) {
      DropSource();
      return st;
    }
    copy_id_ = image_id;
    copy_rows_ = SourceRows{copy_.data(), stride, sf.width, sf.height, false};
  }
  out = copy_rows_;
  return raster::Status::Ok;
}

void ViewCache::DropSource() {
  copy_.clear();
  copy_.shrink_to_fit();
  copy_id_ = 0;
  copy_rows_ = SourceRows{};
  valid_ = false;
}

raster::Status ViewCache::Render(const SourceRows& src, const Scaling& s, const PixelRect& area) {
  return Fill(s, area, [&](const PixelRect& part, const PixelBuffer& out) {
    RenderArea(src, s, part, out);
    return raster::Status::Ok;
  });
}

raster::Status ViewCache::RenderImage(raster::Image& image, int32_t image_id, const Scaling& s,
                                      const PixelRect& area) {
  const raster::Surface& sf = image.surface();
  const bool one_to_one = s.displayed_width == sf.width && s.displayed_height == sf.height;
  const bool own_rows = sf.format == raster::pf::k32bppPARGB || sf.format == raster::pf::k32bppRGB;
  if (!one_to_one || own_rows) {
    SourceRows src;
    if (const raster::Status st = Source(image, image_id, src); st != raster::Status::Ok) return st;
    if (!one_to_one) return Render(src, s, area);
    return Fill(s, area, [&](const PixelRect& part, const PixelBuffer& out) {
      CopyArea(src, part, out);
      return raster::Status::Ok;
    });
  }
  // At 1:1 the displayed pixels are the image's own, converted to
  // premultiplied B, G, R, A: only the visible rectangle is converted, with
  // no full copy of the image.
  return Fill(s, area, [&](const PixelRect& part, const PixelBuffer& out) {
    return image.read_pixels(raster::Rect{part.x, part.y, part.width, part.height},
                             raster::pf::k32bppPARGB, out.pixels, out.stride);
  });
}

raster::Status ViewCache::Fill(const Scaling& s, const PixelRect& area, const StripFiller& fill) {
  const uint64_t bytes = static_cast<uint64_t>(std::max(area.width, 0)) *
                         static_cast<uint64_t>(std::max(area.height, 0)) * 4;
  if (bytes > raster::pixel_memory_limit()) return raster::Status::OutOfMemory;
  spare_.resize(static_cast<size_t>(bytes));
  PixelBuffer next{spare_.data(), area.width, area.height, area.width * 4};
  const bool reuse = valid_ && s.displayed_width == scaling_.displayed_width &&
                     s.displayed_height == scaling_.displayed_height &&
                     s.interpolation == scaling_.interpolation;
  // The part already rendered, copied across.
  int32_t ox0 = std::max(area.x, area_.x), oy0 = std::max(area.y, area_.y);
  int32_t ox1 = std::min(area.x + area.width, area_.x + area_.width);
  int32_t oy1 = std::min(area.y + area.height, area_.y + area_.height);
  if (!reuse || ox0 >= ox1 || oy0 >= oy1) ox0 = ox1 = oy0 = oy1 = area.y;
  for (int32_t y = oy0; y < oy1 && ox0 < ox1; ++y) {
    std::memcpy(next.row(y - area.y) + static_cast<std::ptrdiff_t>(ox0 - area.x) * 4,
                view_.row(y - area_.y) + static_cast<std::ptrdiff_t>(ox0 - area_.x) * 4,
                static_cast<size_t>(ox1 - ox0) * 4);
  }
  // The rest: the bands above and below the kept part, then its left and right.
  rendered_ = 0;
  raster::Status st = raster::Status::Ok;
  auto render = [&](int32_t x0, int32_t y0, int32_t x1, int32_t y1) {
    if (x0 >= x1 || y0 >= y1 || st != raster::Status::Ok) return;
    PixelBuffer part{next.row(y0 - area.y) + static_cast<std::ptrdiff_t>(x0 - area.x) * 4, x1 - x0,
                     y1 - y0, next.stride};
    st = fill(PixelRect{x0, y0, x1 - x0, y1 - y0}, part);
    rendered_ += static_cast<int64_t>(x1 - x0) * (y1 - y0);
  };
  const int32_t ax1 = area.x + area.width, ay1 = area.y + area.height;
  if (ox0 >= ox1) {
    render(area.x, area.y, ax1, ay1);
  } else {
    render(area.x, area.y, ax1, oy0);
    render(area.x, oy1, ax1, ay1);
    render(area.x, oy0, ox0, oy1);
    render(ox1, oy0, ax1, oy1);
  }
  if (st != raster::Status::Ok) {
    valid_ = false;
    return st;
  }
  pixels_.swap(spare_);
  view_ = PixelBuffer{pixels_.data(), area.width, area.height, area.width * 4};
  area_ = area;
  scaling_ = s;
  valid_ = true;
  return raster::Status::Ok;
}

}  // namespace korvex::viewer
