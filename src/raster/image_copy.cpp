// Rotation and flipping in place, clones, area clones and thumbnails.
#include <cmath>
#include <cstring>
#include <memory>
#include <optional>
#include <vector>

#include "raster/convert.h"
#include "raster/image.h"

namespace korvex::raster {

namespace {

// Copies whole rows of one surface into another of the same size and format.
void copy_surface_pixels(const Surface& from, Surface& to) {
  const size_t bytes =
      static_cast<size_t>((static_cast<int64_t>(from.width) * bits_per_pixel(from.format) + 7) / 8);
  for (int32_t y = 0; y < from.height; ++y) std::memcpy(to.row(y), from.row(y), bytes);
}

Status copy_frame(const Frame& from, Frame& to) {
  const Surface& s = from.pixels;
  if (Status st = allocate_surface(s.width, s.height, s.format, to.pixels); st != Status::Ok) {
    return st;
  }
  copy_surface_pixels(s, to.pixels);
  to.pixels.palette = s.palette;
  to.dpi_x = from.dpi_x;
  to.dpi_y = from.dpi_y;
  to.properties = from.properties;
  to.loaded = true;
  return Status::Ok;
}

template <int N>
void remap_bytes(const Surface& src, Surface& dst, int64_t x0, int64_t y0, int64_t dx_x,
                 int64_t dx_y, int64_t dy_x, int64_t dy_y) {
  // Source position of destination pixel (x, y) = (x0 + x*dx_x + y*dy_x, y0 + x*dx_y + y*dy_y).
  const std::ptrdiff_t step = dx_x * N + dx_y * src.stride;
  for (int32_t y = 0; y < dst.height; ++y) {
    const uint8_t* sp = src.row(static_cast<int32_t>(y0 + y * dy_y)) + (x0 + y * dy_x) * N;
    uint8_t* dp = dst.row(y);
    for (int32_t x = 0; x < dst.width; ++x, dp += N, sp += step) std::memcpy(dp, sp, N);
  }
}

void remap_bits(const Surface& src, Surface& dst, int64_t x0, int64_t y0, int64_t dx_x,
                int64_t dx_y, int64_t dy_x, int64_t dy_y) {
  const int bpp = bits_per_pixel(src.format);  // 1 or 4
  const int per_byte = 8 / bpp;
  const unsigned mask = (1u << bpp) - 1;
  for (int32_t y = 0; y < dst.height; ++y) {
    int64_t sx = x0 + y * dy_x, sy = y0 + y * dy_y;
    uint8_t* dp = dst.row(y);
    std::memset(dp, 0, static_cast<size_t>((static_cast<int64_t>(dst.width) * bpp + 7) / 8));
    for (int32_t x = 0; x < dst.width; ++x, sx += dx_x, sy += dx_y) {
      const uint8_t b = src.row(static_cast<int32_t>(sy))[sx / per_byte];
      const int sshift = 8 - bpp * static_cast<int>(sx % per_byte + 1);
      const unsigned v = (b >> sshift) & mask;
      const int dshift = 8 - bpp * (x % per_byte + 1);
      dp[x / per_byte] |= static_cast<uint8_t>(v << dshift);
    }
  }
}

// Separable resampling weights: for each destination index, the first source
// index and its weights. Box (area) weights when shrinking, linear when enlarging.
struct Taps {
  std::vector<int32_t> first;
  std::vector<int32_t> count;
  std::vector<float> weights;  // count[i] weights per destination index, concatenated
  std::vector<size_t> offset;
};

Taps make_taps(int32_t src_n, int32_t dst_n) {
  Taps t;
  const double scale = static_cast<double>(src_n) / dst_n;
  for (int32_t i = 0; i < dst_n; ++i) {
    t.offset.push_back(t.weights.size());
    if (scale >= 1.0) {
      const double a = i * scale, b = (i + 1) * scale;
      const int32_t lo = static_cast<int32_t>(std::floor(a));
      const int32_t hi = std::min<int32_t>(src_n, static_cast<int32_t>(std::ceil(b)));
      t.first.push_back(lo);
      t.count.push_back(hi - lo);
      for (int32_t k = lo; k < hi; ++k) {
        const double cover = std::min<double>(b, k + 1) - std::max<double>(a, k);
        t.weights.push_back(static_cast<float>(cover / scale));
      }
    } else {
      double c = (i + 0.5) * scale - 0.5;
      if (c < 0) c = 0;
      int32_t lo = static_cast<int32_t>(std::floor(c));
      if (lo >= src_n - 1) {
        t.first.push_back(src_n - 1);
        t.count.push_back(1);
        t.weights.push_back(1.0f);
        continue;
      }
      const float f = static_cast<float>(c - lo);
      t.first.push_back(lo);
      t.count.push_back(2);
      t.weights.push_back(1.0f - f);
      t.weights.push_back(f);
    }
  }
  return t;
}

}  // namespace

Status Image::rotate_flip(RotateFlip type) {
  const int t = static_cast<int>(type);
  if (t < 0 || t > 7) return Status::InvalidParameter;
  if (locked_) return Status::WrongState;
  if (t == 0) return Status::Ok;
  const int rotation = t & 3;  // quarter turns clockwise
  const bool flip_x = t >= 4;
  Surface& src = surface();
  const int32_t w = src.width, h = src.height;
  const bool swap = rotation & 1;
  Surface dst;
  if (Status s = allocate_surface(swap ? h : w, swap ? w : h, src.format, dst); s != Status::Ok) {
    return s;
  }
  dst.palette = src.palette;
  const int32_t dw = dst.width;
  // Destination (x, y) reads rotated position (rx, ry) = (flip ? dw-1-x : x, y),
  // which comes from the source as follows for each quarter turn.
  int64_t x0, y0, dx_x, dx_y, dy_x, dy_y;
  switch (rotation) {
    case 0:
      x0 = 0;
      y0 = 0;
      dx_x = 1;
      dx_y = 0;
      dy_x = 0;
      dy_y = 1;
      break;  // (rx, ry)
    case 1:
      x0 = 0;
      y0 = h - 1;
      dx_x = 0;
      dx_y = -1;
      dy_x = 1;
      dy_y = 0;
      break;  // (ry, h-1-rx)
    case 2:
      x0 = w - 1;
      y0 = h - 1;
      dx_x = -1;
      dx_y = 0;
      dy_x = 0;
      dy_y = -1;
      break;
    default:
      x0 = w - 1;
      y0 = 0;
      dx_x = 0;
      dx_y = 1;
      dy_x = -1;
      dy_y = 0;
      break;  // (w-1-ry, rx)
  }
  if (flip_x) {
    // rx runs from dw-1 down to 0 as x grows.
    x0 += (dw - 1) * dx_x;
    y0 += (dw - 1) * dx_y;
    dx_x = -dx_x;
    dx_y = -dx_y;
  }
  switch (bits_per_pixel(src.format)) {
    case 8:
      remap_bytes<1>(src, dst, x0, y0, dx_x, dx_y, dy_x, dy_y);
      break;
    case 16:
      remap_bytes<2>(src, dst, x0, y0, dx_x, dx_y, dy_x, dy_y);
      break;
    case 24:
      remap_bytes<3>(src, dst, x0, y0, dx_x, dx_y, dy_x, dy_y);
      break;
    case 32:
      remap_bytes<4>(src, dst, x0, y0, dx_x, dx_y, dy_x, dy_y);
      break;
    case 48:
      remap_bytes<6>(src, dst, x0, y0, dx_x, dx_y, dy_x, dy_y);
      break;
    case 64:
      remap_bytes<8>(src, dst, x0, y0, dx_x, dx_y, dy_x, dy_y);
      break;
    default:
      remap_bits(src, dst, x0, y0, dx_x, dx_y, dy_x, dy_y);
      break;
  }
  src = std::move(dst);
  if (swap) std::swap(active().dpi_x, active().dpi_y);
  return Status::Ok;
}

Status Image::clone(std::unique_ptr<Image>& out) {
  if (locked_) return Status::WrongState;
  auto img = std::make_unique<Image>();
  img->frames_.resize(frames_.size());
  for (size_t i = 0; i < frames_.size(); ++i) {
    if (!frames_[i].loaded) {
      if (!loader_) return Status::GenericError;
      if (Status s = loader_->load(static_cast<uint32_t>(i), frames_[i]); s != Status::Ok) return s;
      frames_[i].loaded = true;
    }
    if (Status s = copy_frame(frames_[i], img->frames_[i]); s != Status::Ok) return s;
  }
  img->active_ = active_;
  img->dimension_ = dimension_;
  img->raw_format_ = raw_format_;
  out = std::move(img);
  return Status::Ok;
}

Status Image::clone_area(const Rect& rect, PixelFormat f, std::unique_ptr<Image>& out) {
  if (Status s = check_rect(rect); s != Status::Ok) return s;
  if (!is_supported_format(f)) return Status::InvalidParameter;
  if (locked_) return Status::WrongState;
  std::unique_ptr<Image> img;
  if (Status s = create(rect.width, rect.height, f, img); s != Status::Ok) return s;
  const Surface& src = surface();
  Surface& dst = img->surface();
  if (f == src.format) dst.palette = src.palette;
  std::optional<PaletteMatcher> matcher;
  if (is_indexed(f) && f != src.format) matcher.emplace(dst.palette);
  std::unique_ptr<uint32_t[]> scratch(new uint32_t[static_cast<size_t>(rect.width)]);
  for (int32_t y = 0; y < rect.height; ++y) {
    convert_pixels(src.format, src.row(rect.y + y), rect.x, src.palette, f, dst.row(y), 0,
                   matcher ? &*matcher : nullptr, rect.width, scratch.get());
  }
  img->active().dpi_x = dpi_x();
  img->active().dpi_y = dpi_y();
  out = std::move(img);
  return Status::Ok;
}

Status Image::thumbnail(int32_t tw, int32_t th, std::unique_ptr<Image>& out) {
  if (tw <= 0 || th <= 0) return Status::InvalidParameter;
  if (locked_) return Status::WrongState;
  std::unique_ptr<Image> img;
  if (Status s = create(tw, th, pf::k32bppPARGB, img); s != Status::Ok) return s;
  const Surface& src = surface();
  const int32_t sw = src.width, sh = src.height;
  const Taps hx = make_taps(sw, tw), vy = make_taps(sh, th);
  // Horizontal pass over premultiplied values, one source row at a time.
  std::vector<float> mid(static_cast<size_t>(sh) * tw * 4);
  std::vector<uint32_t> line(static_cast<size_t>(sw));
  for (int32_t y = 0; y < sh; ++y) {
    load_argb(src.format, src.row(y), 0, sw, src.palette, line.data());
    for (uint32_t& p : line) p = premultiply(p);
    float* m = &mid[static_cast<size_t>(y) * tw * 4];
    for (int32_t x = 0; x < tw; ++x) {
      float acc[4] = {0, 0, 0, 0};
      const float* w = &hx.weights[hx.offset[x]];
      for (int32_t k = 0; k < hx.count[x]; ++k) {
        const uint32_t p = line[static_cast<size_t>(hx.first[x] + k)];
        for (int c = 0; c < 4; ++c) acc[c] += w[k] * static_cast<float>((p >> (8 * c)) & 0xFF);
      }
      for (int c = 0; c < 4; ++c) m[x * 4 + c] = acc[c];
    }
  }
  Surface& dst = img->surface();
  for (int32_t y = 0; y < th; ++y) {
    const float* w = &vy.weights[vy.offset[y]];
    uint8_t* row = dst.row(y);
    for (int32_t x = 0; x < tw; ++x) {
      float acc[4] = {0, 0, 0, 0};
      for (int32_t k = 0; k < vy.count[y]; ++k) {
        const float* m = &mid[(static_cast<size_t>(vy.first[y] + k) * tw + x) * 4];
        for (int c = 0; c < 4; ++c) acc[c] += w[k] * m[c];
      }
      uint8_t px[4];
      for (int c = 0; c < 4; ++c) {
        px[c] = static_cast<uint8_t>(std::lround(std::min(255.0f, std::max(0.0f, acc[c]))));
      }
      // Rounding can leave a colour channel above alpha; premultiplied values never may.
      for (int c = 0; c < 3; ++c) px[c] = std::min(px[c], px[3]);
      std::memcpy(row + 4 * x, px, 4);
    }
  }
  img->active().dpi_x = dpi_x();
  img->active().dpi_y = dpi_y();
  out = std::move(img);
  return Status::Ok;
}

}  // namespace korvex::raster
