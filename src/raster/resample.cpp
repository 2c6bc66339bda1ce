// Resampling as a row job: every destination row is computed from the
// source rows its taps cover, by a worker that keeps what it filtered for
// the next rows. resample() splits a whole image's rows into bands run by
// separate threads; RowResampler runs the same job over a picture that
// arrives and leaves a band of rows at a time. Both give the same bytes.
//
// Pixels are filtered as rows of C bytes per pixel: C = 3 straight from a
// 24bppRGB source (opaque, no conversion at all), C = 4 premultiplied BGRA for
// every other format. Each axis has a tap table built once per job. The pass
// order follows the cost: when shrinking vertically the vertical pass runs
// first over source rows read in place (or converted into a small ring of
// rows), and its single output row is filtered horizontally; when enlarging,
// source rows are filtered horizontally into a ring of intermediate rows that
// the vertical pass combines. No full-size intermediate image is made. The
// integer sums (resample_kernels.h) never depend on the processor, the
// number of threads or the rows a call covers.
#include "raster/resample.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <new>
#include <vector>

#if defined(__x86_64__) || defined(__i386__)
#define KX_X86 1
#endif

#include "raster/convert.h"
#include "raster/cpu.h"
#include "raster/guard.h"
#include "raster/parallel.h"
#include "raster/premultiply_simd.h"
#include "raster/resample_kernels.h"

namespace korvex::raster {

using resampling::Kernel;
using resampling::kSlack;
using resampling::Taps;

enum class Method { Copy, Nearest, Filtered };

// Everything the row workers share (read-only). Source rows are numbered
// within the source rectangle; its pixels start at column `src_x`.
struct RowResampler::Job {
  Method method = Method::Copy;
  PixelFormat src_format = pf::kUndefined;
  Palette src_palette;
  int32_t src_x = 0, src_w = 0, src_h = 0;
  PixelFormat dst_format = pf::kUndefined;
  Palette dst_palette;
  int32_t dst_w = 0, dst_h = 0;
  bool same = false;  // same storage on both sides
  // Nearest: the source column (from column 0) and row of each output.
  std::vector<int32_t> xs, ys;
  Taps tx, ty;
  int channels = 4;     // 3: raw 24bppRGB rows; 4: premultiplied BGRA rows
  bool direct = false;  // source rows are used in place (24bppRGB or 32bppPARGB)
  bool vertical_first = true;
  bool avx2 = false;
  double work = 0;  // simple pixel operations, for the split into threads
  // The lowest source row that output row y or any later row reads.
  std::vector<int32_t> lowest;
};

namespace {

using Job = RowResampler::Job;
using SrcRows = RowsAt<const uint8_t>;
using DstRows = RowsAt<uint8_t>;

bool same_storage(PixelFormat s, const Palette& sp, PixelFormat d, const Palette& dp) {
  return s == d && (!is_indexed(s) || sp == dp);
}

// Index of the source sample whose centre is nearest to output i's centre:
// floor((i + 0.5) * src / dst), in exact integer arithmetic.
int32_t nearest_index(int32_t i, int32_t src_len, int32_t dst_len) {
  const int64_t v =
      ((2 * static_cast<int64_t>(i) + 1) * src_len) / (2 * static_cast<int64_t>(dst_len));
  return static_cast<int32_t>(std::min<int64_t>(v, src_len - 1));
}

template <size_t Bytes>
void gather_pixels(const uint8_t* srow, const int32_t* xs, int32_t n, uint8_t* drow) {
  for (int32_t x = 0; x < n; ++x)
    std::memcpy(drow + static_cast<ptrdiff_t>(x) * static_cast<ptrdiff_t>(Bytes),
                srow + static_cast<ptrdiff_t>(xs[x]) * static_cast<ptrdiff_t>(Bytes), Bytes);
}

// The source rows [first, end) output row y reads.
void taps_of(const Job& j, int32_t y, int32_t& first, int32_t& end) {
  const auto yi = static_cast<size_t>(y);
  switch (j.method) {
    case Method::Copy:
      first = y;
      end = y + 1;
      return;
    case Method::Nearest:
      first = j.ys[yi];
      end = first + 1;
      return;
    case Method::Filtered:
      first = j.ty.start[yi];
      end = first + j.ty.count[yi];
      return;
  }
}

void make_job(const RowResampler::Picture& src, int32_t src_x, const RowResampler::Picture& dst,
              Interpolation mode, Job& j) {
  j.src_format = src.format;
  j.src_palette = src.palette;
  j.src_x = src_x;
  j.src_w = src.width;
  j.src_h = src.height;
  j.dst_format = dst.format;
  j.dst_palette = dst.palette;
  j.dst_w = dst.width;
  j.dst_h = dst.height;
  j.same = same_storage(src.format, src.palette, dst.format, dst.palette);
  // A same-size resample copies the pixels exactly, whatever the mode.
  if (src.width == dst.width && src.height == dst.height) {
    j.method = Method::Copy;
  } else if (mode == Interpolation::NearestNeighbor) {
    j.method = Method::Nearest;
    j.xs.resize(static_cast<size_t>(dst.width));
    j.ys.resize(static_cast<size_t>(dst.height));
    for (int32_t x = 0; x < dst.width; ++x)
      j.xs[static_cast<size_t>(x)] = src_x + nearest_index(x, src.width, dst.width);
    for (int32_t y = 0; y < dst.height; ++y)
      j.ys[static_cast<size_t>(y)] = nearest_index(y, src.height, dst.height);
    j.work = static_cast<double>(dst.width) * dst.height / 4;
  } else {
    j.method = Method::Filtered;
    const Kernel k = mode == Interpolation::Bicubic || mode == Interpolation::HighQuality ||
                             mode == Interpolation::HighQualityBicubic
                         ? Kernel::Cubic
                         : Kernel::Triangle;
    const bool widen = mode == Interpolation::HighQuality ||
                       mode == Interpolation::HighQualityBicubic ||
                       mode == Interpolation::HighQualityBilinear;
    j.tx = resampling::make_taps(src.width, dst.width, k, widen);
    j.ty = resampling::make_taps(src.height, dst.height, k, widen);
    j.channels = src.format == pf::k24bppRGB ? 3 : 4;
    j.direct = src.format == pf::k24bppRGB || src.format == pf::k32bppPARGB;
    j.avx2 = use_avx2();
    // Cost model in byte-taps: a horizontal tap costs about twice a vertical
    // one (the vertical pass runs over whole rows at once).
    const double c = j.channels;
    const double avg_tx = static_cast<double>(j.tx.weights.size()) / dst.width;
    const double avg_ty = static_cast<double>(j.ty.weights.size()) / dst.height;
    const double v_first = c * static_cast<double>(dst.height) * src.width * avg_ty +
                           2.0 * c * static_cast<double>(dst.height) * dst.width * avg_tx;
    const double h_first = 2.0 * c * static_cast<double>(src.height) * dst.width * avg_tx +
                           c * static_cast<double>(dst.height) * dst.width * avg_ty;
    j.vertical_first = v_first <= h_first;
    j.work = std::min(v_first, h_first) / 4;
  }
  j.lowest.resize(static_cast<size_t>(dst.height));
  int32_t low = src.height;
  for (int32_t y = dst.height - 1; y >= 0; --y) {
    int32_t first = 0, end = 0;
    taps_of(j, y, first, end);
    low = std::min(low, first);
    j.lowest[static_cast<size_t>(y)] = low;
  }
}

}  // namespace

// Output rows of one thread, with its own buffers. Filtered rows stay in
// its rings from one call to the next, keyed by their source row.
class RowResampler::Worker {
 public:
  explicit Worker(const Job& j)
      : j_(j), scratch_(static_cast<size_t>(std::max(j.src_x + j.src_w, j.dst_w))) {
    if (is_indexed(j.dst_format)) matcher_ = std::make_unique<PaletteMatcher>(j.dst_palette);
  }

  void run(int32_t y0, int32_t y1, const SrcRows& src, const DstRows& dst) {
    src_ = &src;
    dst_ = &dst;
    switch (j_.method) {
      case Method::Copy:
        run_copy(y0, y1);
        break;
      case Method::Nearest:
        run_nearest(y0, y1);
        break;
      case Method::Filtered:
        if (j_.vertical_first)
          run_vertical_first(y0, y1);
        else
          run_horizontal_first(y0, y1);
        break;
    }
  }

 private:
  // Same size: a straight per-row conversion (a plain copy for matching formats).
  void run_copy(int32_t y0, int32_t y1) {
    for (int32_t y = y0; y < y1; ++y) {
      const uint8_t* srow = src_->row(y);
      if (j_.same) {
        copy_pixels(j_.src_format, srow, j_.src_x, dst_->row(y), 0, j_.src_w);
      } else {
        load_argb(j_.src_format, srow, j_.src_x, j_.src_w, j_.src_palette, scratch_.data());
        store_argb(j_.dst_format, dst_->row(y), 0, j_.src_w, matcher_.get(), scratch_.data());
      }
    }
  }

  // Nearest neighbour needs no blending, so it works on straight (or stored)
  // pixels and reproduces the source values exactly. An output row that reads
  // the same source row as the one above it is a copy of that row.
  void run_nearest(int32_t y0, int32_t y1) {
    const int32_t bytes = bits_per_pixel(j_.src_format) / 8;
    const size_t row_bytes =
        (static_cast<size_t>(j_.dst_w) * static_cast<size_t>(bits_per_pixel(j_.dst_format)) + 7) /
        8;
    const int32_t w = j_.dst_w;
    const int32_t* xs = j_.xs.data();
    if (!j_.same) out_.resize(static_cast<size_t>(w));
    int32_t last_sy = -1;
    for (int32_t y = y0; y < y1; ++y) {
      const int32_t sy = j_.ys[static_cast<size_t>(y)];
      uint8_t* drow = dst_->row(y);
      if (sy == last_sy) {
        // Whole bytes: sub-byte rows are laid out from bit 0 of the row, so
        // copying the previous row's bytes reproduces it exactly.
        std::memcpy(drow, dst_->row(y - 1), row_bytes);
        continue;
      }
      last_sy = sy;
      const uint8_t* srow = src_->row(sy);
      if (j_.same && bytes > 0) {
        switch (bytes) {
          case 1: gather_pixels<1>(srow, xs, w, drow); break;
          case 2: gather_pixels<2>(srow, xs, w, drow); break;
          case 3: gather_pixels<3>(srow, xs, w, drow); break;
          case 4: gather_pixels<4>(srow, xs, w, drow); break;
          case 6: gather_pixels<6>(srow, xs, w, drow); break;
          default: gather_pixels<8>(srow, xs, w, drow); break;
        }
      } else if (j_.same) {
        for (int32_t x = 0; x < w; ++x)
          copy_pixels(j_.src_format, srow, xs[static_cast<size_t>(x)], drow, x, 1);
      } else {
        load_argb(j_.src_format, srow, 0, j_.src_x + j_.src_w, j_.src_palette, scratch_.data());
        for (int32_t x = 0; x < w; ++x)
          out_[static_cast<size_t>(x)] = scratch_[static_cast<size_t>(xs[static_cast<size_t>(x)])];
        store_argb(j_.dst_format, drow, 0, w, matcher_.get(), out_.data());
      }
    }
  }

  size_t src_row_bytes() const {
    return static_cast<size_t>(j_.src_w) * static_cast<size_t>(j_.channels);
  }
  size_t dst_row_bytes() const {
    return static_cast<size_t>(j_.dst_w) * static_cast<size_t>(j_.channels);
  }
  // 24bppRGB to 24bppRGB: finished rows go straight into the destination.
  bool straight_24() const { return j_.channels == 3 && j_.dst_format == pf::k24bppRGB; }
  const uint8_t* src_row(int32_t sy) const {
    return src_->row(sy) + static_cast<ptrdiff_t>(j_.src_x) * j_.channels;
  }
  void horizontal(const uint8_t* in, uint8_t* out) const {
    resampling::horizontal_pass(j_.tx, j_.channels, j_.avx2, in, out);
  }
  void vertical(size_t yi, int32_t n, uint8_t* out) const {
    resampling::vertical_pass(j_.ty, yi, j_.avx2, rows_.data(), n, out);
  }

  // Source row `sy` converted to premultiplied BGRA.
  void fetch(int32_t sy, uint8_t* buf) {
    const uint8_t* row = src_->row(sy);
    int32_t done = 0;
#if defined(KX_X86)
    if (j_.avx2 && j_.src_format == pf::k32bppARGB)
      done = premultiply_row_avx2(row + static_cast<ptrdiff_t>(j_.src_x) * 4, buf, j_.src_w);
#endif
    if (done < j_.src_w)
      convert_pixels(j_.src_format, row, j_.src_x + done, j_.src_palette, pf::k32bppPARGB,
                     buf + static_cast<ptrdiff_t>(done) * 4, 0, nullptr, j_.src_w - done,
                     scratch_.data());
  }

  // Writes a finished row of C-byte pixels into destination row y.
  void emit(int32_t y, uint8_t* row) {
    uint8_t* drow = dst_->row(y);
    const int32_t w = j_.dst_w;
    if (j_.channels == 3) {
      if (j_.dst_format == pf::k24bppRGB) {
        std::memcpy(drow, row, dst_row_bytes());
      } else {
        convert_pixels(pf::k24bppRGB, row, 0, Palette{}, j_.dst_format, drow, 0, matcher_.get(), w,
                       scratch_.data());
      }
      return;
    }
    // Opaque sources give alpha 255 everywhere, where premultiplied and
    // straight pixels coincide: skip the unpremultiply.
    if (!has_alpha(j_.src_format) && !is_indexed(j_.src_format)) {
      convert_pixels(pf::k32bppARGB, row, 0, Palette{}, j_.dst_format, drow, 0, matcher_.get(), w,
                     scratch_.data());
      return;
    }
    // Cubic overshoot can leave a colour above its alpha; keep the pixel valid.
    int32_t done = 0;
#if defined(KX_X86)
    if (j_.avx2 && j_.dst_format == pf::k32bppARGB)
      done = clamp_unpremultiply_row_avx2(row, drow, w);
#endif
    for (auto i = static_cast<size_t>(done); i < static_cast<size_t>(w); ++i) {
      uint8_t* q = row + i * 4;
      q[0] = std::min(q[0], q[3]);
      q[1] = std::min(q[1], q[3]);
      q[2] = std::min(q[2], q[3]);
    }
    if (done < w)
      convert_pixels(pf::k32bppPARGB, row + static_cast<ptrdiff_t>(done) * 4, 0, Palette{},
                     j_.dst_format, drow, done, matcher_.get(), w - done, scratch_.data());
  }

  // The rings and row buffers of the filtered passes, made on first use.
  void prepare(size_t ring_row_bytes) {
    if (!ring_row_.empty()) return;
    const auto cap = static_cast<size_t>(j_.ty.max_count);
    ring_.resize(cap * ring_row_bytes);
    ring_bytes_ = ring_row_bytes;
    ring_row_.assign(cap, -1);
    rows_.resize(cap + 1);
    const size_t sb = std::max(src_row_bytes(), static_cast<size_t>(j_.src_w) * 4);
    buf_.resize(sb + kSlack);
    out_bytes_.resize(dst_row_bytes() + kSlack);
  }

  // The taps of output row y as row pointers, padded to an even count by
  // repeating the last one (its pair weight is zero). Rows are read in place
  // when direct, otherwise through the ring, filled by `load(sy, buffer)`.
  template <class Load>
  void gather(size_t yi, bool direct, Load load) {
    const int32_t taps = j_.ty.count[yi];
    const auto cap = ring_row_.size();
    for (int32_t t = 0; t < taps; ++t) {
      const int32_t sy = j_.ty.start[yi] + t;
      if (direct) {
        rows_[static_cast<size_t>(t)] = src_row(sy);
        continue;
      }
      const size_t slot = static_cast<size_t>(sy) % cap;
      uint8_t* buf = ring_.data() + slot * ring_bytes_;
      if (ring_row_[slot] != sy) {
        load(sy, buf);
        ring_row_[slot] = sy;
      }
      rows_[static_cast<size_t>(t)] = buf;
    }
    if (taps % 2 != 0) rows_[static_cast<size_t>(taps)] = rows_[static_cast<size_t>(taps) - 1];
  }

  void run_vertical_first(int32_t y0, int32_t y1) {
    const size_t sb = src_row_bytes();
    prepare(j_.direct ? 0 : sb);
    for (int32_t y = y0; y < y1; ++y) {
      const auto yi = static_cast<size_t>(y);
      gather(yi, j_.direct, [this](int32_t sy, uint8_t* buf) { fetch(sy, buf); });
      // buf_ holds the vertically filtered row, with its slack.
      vertical(yi, static_cast<int32_t>(sb), buf_.data());
      if (straight_24()) {
        horizontal(buf_.data(), dst_->row(y));
        continue;
      }
      horizontal(buf_.data(), out_bytes_.data());
      emit(y, out_bytes_.data());
    }
  }

  void run_horizontal_first(int32_t y0, int32_t y1) {
    const size_t db = dst_row_bytes();
    const size_t sb = src_row_bytes();
    prepare(db);
    const bool direct_24 = j_.direct && j_.channels == 3;
    for (int32_t y = y0; y < y1; ++y) {
      const auto yi = static_cast<size_t>(y);
      gather(yi, false, [&](int32_t sy, uint8_t* buf) {
        const uint8_t* in;
        if (direct_24) {
          // A copy gives the vector loads their slack past the row's end.
          std::memcpy(buf_.data(), src_row(sy), sb);
          in = buf_.data();
        } else if (j_.direct) {
          in = src_row(sy);
        } else {
          fetch(sy, buf_.data());
          in = buf_.data();
        }
        horizontal(in, buf);
      });
      uint8_t* target = straight_24() ? dst_->row(y) : out_bytes_.data();
      vertical(yi, static_cast<int32_t>(db), target);
      if (!straight_24()) emit(y, target);
    }
  }

  const Job& j_;
  const SrcRows* src_ = nullptr;
  const DstRows* dst_ = nullptr;
  std::vector<uint32_t> scratch_, out_;
  std::unique_ptr<PaletteMatcher> matcher_;
  std::vector<uint8_t> ring_, buf_, out_bytes_;
  size_t ring_bytes_ = 0;
  std::vector<int32_t> ring_row_;
  std::vector<const uint8_t*> rows_;
};

RowResampler::RowResampler() = default;
RowResampler::~RowResampler() = default;

Status RowResampler::create(const Picture& src, const Picture& dst, Interpolation mode,
                            std::unique_ptr<RowResampler>& out) {
  if (src.width <= 0 || src.height <= 0 || dst.width <= 0 || dst.height <= 0 ||
      !is_supported_format(src.format) || !is_supported_format(dst.format) ||
      static_cast<int32_t>(mode) < 0 || static_cast<int32_t>(mode) > 7) {
    return Status::InvalidParameter;
  }
  return guarded([&] {
    std::unique_ptr<RowResampler> r(new RowResampler());
    r->job_ = std::make_unique<Job>();
    make_job(src, 0, dst, mode, *r->job_);
    r->worker_ = std::make_unique<Worker>(*r->job_);
    out = std::move(r);
    return Status::Ok;
  });
}

void RowResampler::source_rows(int32_t y0, int32_t y1, int32_t& first, int32_t& end) const {
  first = job_->lowest[static_cast<size_t>(y0)];
  end = first;
  for (int32_t y = y0; y < y1; ++y) {
    int32_t a = 0, b = 0;
    taps_of(*job_, y, a, b);
    end = std::max(end, b);
  }
}

void RowResampler::run(int32_t y0, int32_t y1, RowsAt<const uint8_t> src, RowsAt<uint8_t> dst) {
  worker_->run(y0, y1, src, dst);
}

Status resample(Image& src, const Rect& from, Image& dst, Interpolation mode) {
  if (src.locked() || dst.locked()) return Status::WrongState;
  if (from.width <= 0 || from.height <= 0 || from.x < 0 || from.y < 0 ||
      from.x > src.width() - from.width || from.y > src.height() - from.height)
    return Status::InvalidParameter;
  if (static_cast<int32_t>(mode) < 0 || static_cast<int32_t>(mode) > 7)
    return Status::InvalidParameter;
  if (&src == &dst) {
    // Reading and writing the same pixels: resample from a copy of the rectangle.
    std::unique_ptr<Image> copy;
    const Status st = src.clone_area(from, src.format(), copy);
    if (st != Status::Ok) return st;
    return resample(*copy, Rect{0, 0, from.width, from.height}, dst, mode);
  }
  const Surface& s = src.surface();
  Surface& d = dst.surface();
  return guarded([&] {
    Job j;
    make_job({from.width, from.height, s.format, s.palette}, from.x,
             {d.width, d.height, d.format, d.palette}, mode, j);
    const SrcRows rows_in{s.row(from.y), s.stride, 0};
    const DstRows rows_out{d.scan0, d.stride, 0};
    if (j.method == Method::Copy) {
      RowResampler::Worker(j).run(0, d.height, rows_in, rows_out);
      return Status::Ok;
    }
    parallel_rows(d.height, j.work, [&](int32_t y0, int32_t y1) {
      RowResampler::Worker(j).run(y0, y1, rows_in, rows_out);
    });
    return Status::Ok;
  });
}

}  // namespace korvex::raster
