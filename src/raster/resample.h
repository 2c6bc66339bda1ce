// Resizing of a rectangle of one image onto the whole of another, with the
// eight interpolation modes.
//
// Filters (pixel centres at i + 0.5 in both images; taps outside the source
// rectangle take the nearest border pixel of the rectangle):
//  NearestNeighbor               the source pixel whose centre is nearest
//  Default, LowQuality, Bilinear triangle filter, 2 x 2 taps at any scale
//  Bicubic                       cubic convolution (a = -0.5), 4 x 4 taps
//  HighQualityBilinear           triangle widened by the scale factor when
//                                shrinking (area-correct, no aliasing)
//  HighQuality, HighQualityBicubic  cubic (a = -0.5) widened likewise
// When enlarging, the high-quality modes equal their plain counterparts.
// Colours are filtered premultiplied by alpha and unpremultiplied into the
// destination's format; indexed destinations take the nearest palette entry.
// A same-size resample copies the pixels exactly. Results are identical
// whatever the processor features or the number of threads used.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

#include "raster/image.h"
#include "raster/types.h"

namespace korvex::raster {

enum class Interpolation : int32_t {
  Default = 0,
  LowQuality = 1,
  HighQuality = 2,
  Bilinear = 3,
  Bicubic = 4,
  NearestNeighbor = 5,
  HighQualityBilinear = 6,
  HighQualityBicubic = 7
};

// Resamples the rectangle `from` of the active frame of `src` onto the whole of `dst`
// (any sizes, any stored formats on both sides). InvalidParameter for an empty or outside
// rectangle. WrongState when either image is locked. `src` and `dst` may be the same image.
Status resample(Image& src, const Rect& from, Image& dst, Interpolation mode);

// Rows of stored pixels: row y starts at base + (y - first) * stride.
template <class T>
struct RowsAt {
  T* base = nullptr;
  ptrdiff_t stride = 0;
  int32_t first = 0;
  T* row(int32_t y) const { return base + static_cast<ptrdiff_t>(y - first) * stride; }
};

// The same resampling as a row job, for pictures that are never whole in
// memory: destination rows are computed from the source rows their taps
// cover, by the routine resample() runs over whole images, so a picture
// resized band by band gives resample()'s bytes. One thread at a time; the
// object keeps the rows it filtered for the next call, so calls that go down
// the picture filter each source row once.
class RowResampler {
 public:
  struct Picture {
    int32_t width = 0;
    int32_t height = 0;
    PixelFormat format = pf::kUndefined;
    Palette palette;
  };
  // Resampling the whole of `src` onto the whole of `dst`. InvalidParameter
  // for an empty size, an unsupported format or an unknown mode.
  static Status create(const Picture& src, const Picture& dst, Interpolation mode,
                       std::unique_ptr<RowResampler>& out);
  ~RowResampler();
  RowResampler(const RowResampler&) = delete;
  RowResampler& operator=(const RowResampler&) = delete;

  // Source rows destination rows [y0, y1) read lie in [first, end); no
  // destination row from y0 on reads a row above `first`.
  void source_rows(int32_t y0, int32_t y1, int32_t& first, int32_t& end) const;
  // Destination rows [y0, y1) into `dst`, from the source rows in `src` that
  // source_rows names (whole rows in the source's stored format). Memory
  // only: may throw std::bad_alloc.
  void run(int32_t y0, int32_t y1, RowsAt<const uint8_t> src, RowsAt<uint8_t> dst);

  struct Job;    // what the rows share: sizes, formats, taps
  class Worker;  // the buffers of one thread

 private:
  RowResampler();
  std::unique_ptr<Job> job_;
  std::unique_ptr<Worker> worker_;
};

}  // namespace korvex::raster
