// Drawing the visible part of an image at a zoom: a separable resampler
// that renders any rectangle of the displayed (zoomed) image with one fixed
// mapping, so rectangles rendered apart join without a seam, and a cache of
// the last rendered view so that a scroll step renders only the strip it
// uncovers.
#pragma once

#include <cstdint>
#include <functional>
#include <vector>

#include "raster/image.h"
#include "raster/types.h"
#include "viewer/viewer_host.h"

namespace korvex::viewer {

// Rows of premultiplied B, G, R, A pixels of the source image.
struct SourceRows {
  const uint8_t* scan0 = nullptr;
  int32_t stride = 0;
  int32_t width = 0;
  int32_t height = 0;
  bool opaque = false;  // the fourth byte carries nothing: read it as 255
  const uint8_t* row(int32_t y) const { return scan0 + static_cast<std::ptrdiff_t>(y) * stride; }
};

// The displayed image: the source stretched to displayed_width x
// displayed_height with an interpolation mode (the raster values 0..7).
struct Scaling {
  int32_t displayed_width = 0;
  int32_t displayed_height = 0;
  int32_t interpolation = 2;
};

// Renders the rectangle `area` of the displayed image (displayed pixels,
// inside it) into `out`, premultiplied B, G, R, A. Displayed pixel d takes
// its value around source position (d + 0.5) * source / displayed - 0.5;
// borders repeat the edge pixels. Bilinear and bicubic kernels are widened
// by the shrink factor in the high-quality modes, which average fixed blocks
// first when shrinking 4 times or more.
void RenderArea(const SourceRows& src, const Scaling& s, const PixelRect& area,
                const PixelBuffer& out);

// Copies the rectangle `area` of the source into `out` unscaled: what
// RenderArea gives when the displayed size is the source's own.
void CopyArea(const SourceRows& src, const PixelRect& area, const PixelBuffer& out);

// The last rendered view, in displayed coordinates, with what it was rendered from.
class ViewCache {
 public:
  // The source pixels of `image` as SourceRows: the image's own rows when it
  // is 32bppPARGB or 32bppRGB, else a premultiplied copy kept until
  // DropSource. OutOfMemory when the copy does not fit.
  raster::Status Source(raster::Image& image, int32_t image_id, SourceRows& out);
  // Renders `area` of the displayed image, reusing the pixels of the last
  // area rendered with the same scaling; the result stays in the cache.
  raster::Status Render(const SourceRows& src, const Scaling& s, const PixelRect& area);
  // Render for the image itself: at 1:1 (displayed size = image size) the
  // visible pixels are copied without resampling, converted from the image's
  // pixel format only where they are shown; otherwise Source, then Render.
  raster::Status RenderImage(raster::Image& image, int32_t image_id, const Scaling& s,
                             const PixelRect& area);
  const PixelBuffer& view() const { return view_; }
  const PixelRect& area() const { return area_; }
  // Pixels rendered by the last Render (a scroll step renders only the uncovered strips).
  int64_t last_rendered_pixels() const { return rendered_; }
  // After a zoom change or a new document: the next Render starts afresh.
  void DropView() { valid_ = false; }
  // After the image's pixels may have changed: the copy is made again too.
  void DropSource();

 private:
  // Fills one rectangle of the displayed image (displayed coordinates) into a buffer.
  using StripFiller = std::function<raster::Status(const PixelRect&, const PixelBuffer&)>;
  // Render's bookkeeping: keeps the overlap with the last view and fills the rest.
  raster::Status Fill(const Scaling& s, const PixelRect& area, const StripFiller& fill);

  std::vector<uint8_t> copy_;
  int32_t copy_id_ = 0;
  SourceRows copy_rows_;
  std::vector<uint8_t> pixels_, spare_;
  PixelBuffer view_;
  PixelRect area_;
  Scaling scaling_;
  bool valid_ = false;
  int64_t rendered_ = 0;
};

}  // namespace korvex::viewer
