// The raster image: one or more frames of pixels in a stored pixel format,
// with a palette, resolution, raw (file) format, frame dimension and
// metadata property items.
//
// An image's pixels are either owned (allocated zeroed, rows padded to four
// bytes) or borrowed from a caller's buffer that must outlive the image (an
// image built over a packed DIB, for example). Multi-frame images may be
// decoded lazily: a FrameLoader fills frames the first time they are selected.
#pragma once

#include <cstdint>
#include <cstdlib>
#include <memory>
#include <vector>

#include "raster/types.h"

namespace korvex::raster {

struct FreeDeleter {
  void operator()(uint8_t* p) const { std::free(p); }
};

// Pixels of one frame.
struct Surface {
  int32_t width = 0;
  int32_t height = 0;
  PixelFormat format = pf::kUndefined;
  int32_t stride = 0;        // bytes from one row to the next; negative for bottom-up memory
  uint8_t* scan0 = nullptr;  // first byte of row 0
  std::unique_ptr<uint8_t, FreeDeleter> owned;  // null when the pixels are borrowed
  Palette palette;

  uint8_t* row(int32_t y) const { return scan0 + static_cast<std::ptrdiff_t>(y) * stride; }
};

// A frame's pixels as the file coded them, kept where a writer can hand the
// coded data on instead of compressing the samples again: a CCITT Group 4
// strip (K -1, MSB-first bits) that decodes, with black runs as 1 bits, to
// exactly the frame's 1-bit samples. `pixels_hash` ties the copy to the
// samples it was decoded into; once they change, the copy no longer applies.
struct CodedPixels {
  enum class Kind { CcittG4 };
  Kind kind = Kind::CcittG4;
  std::vector<uint8_t> bytes;
  uint64_t pixels_hash = 0;
};

// Hash of a surface's samples (the bits of each row inside the width, never
// the row padding), for telling whether pixels changed since a moment.
uint64_t hash_pixels(const Surface& s);

// One frame: pixels, resolution and the frame's metadata.
struct Frame {
  Surface pixels;
  std::shared_ptr<const CodedPixels> coded;  // null unless the decoder kept one
  float dpi_x = 96.0f;
  float dpi_y = 96.0f;
  std::vector<PropertyItem> properties;
  bool loaded = true;
};

// Decodes frames on demand (set by decoders of multi-frame files).
class FrameLoader {
 public:
  virtual ~FrameLoader() = default;
  virtual Status load(uint32_t index, Frame& out) = 0;
};

// Description of a locked rectangle, as filled by Image::lock_bits. With
// lock::kUserInputBuffer the caller sets scan0 and stride before locking.
struct LockData {
  int32_t width = 0;
  int32_t height = 0;
  int32_t stride = 0;
  PixelFormat format = pf::kUndefined;
  uint8_t* scan0 = nullptr;
  // Private to the image.
  Rect rect;
  uint32_t mode = 0;
  std::unique_ptr<uint8_t, FreeDeleter> temp;
};

// Stride of a row in bytes: the row's bits rounded up to whole 32-bit words.
// Returns -1 when it does not fit in 31 bits.
int32_t padded_stride(int32_t width, PixelFormat f);

// Pixel memory limit for one bitmap: Limit::PixelBytes of korvex/limits.h,
// process-wide (the pixel count limit is checked beside it, raster/limits.h).
uint64_t pixel_memory_limit();
void set_pixel_memory_limit(uint64_t bytes);

class Image {
 public:
  Image() = default;
  Image(const Image&) = delete;
  Image& operator=(const Image&) = delete;

  // New bitmap, pixels zeroed, 96 dpi, the default palette for indexed formats,
  // raw format "memory bitmap". Sizes <= 0 or an unknown format give
  // InvalidParameter; more pixel memory than the limit gives OutOfMemory.
  static Status create(int32_t width, int32_t height, PixelFormat f, std::unique_ptr<Image>& out);
  // Bitmap over a caller's pixels (not copied); stride may be negative.
  // With scan0 null this is create().
  static Status create_from_scan0(int32_t width, int32_t height, int32_t stride, PixelFormat f,
                                  uint8_t* scan0, std::unique_ptr<Image>& out);
  // Multi-frame image whose frames come from a loader; frame 0 must already be loaded.
  static std::unique_ptr<Image> from_frames(std::vector<Frame> frames, const Guid& dimension,
                                            const Guid& raw_format,
                                            std::shared_ptr<FrameLoader> loader);

  // Active frame.
  int32_t width() const { return active().pixels.width; }
  int32_t height() const { return active().pixels.height; }
  PixelFormat format() const { return active().pixels.format; }
  const Surface& surface() const { return active().pixels; }
  Surface& surface() { return active().pixels; }
  float dpi_x() const { return active().dpi_x; }
  float dpi_y() const { return active().dpi_y; }
  Status set_resolution(float dpi_x, float dpi_y);
  const Palette& palette() const { return active().pixels.palette; }
  Status set_palette(const Palette& p);

  const Guid& raw_format() const { return raw_format_; }
  void set_raw_format(const Guid& g) { raw_format_ = g; }

  // Frames: one dimension (page by default, time for animations).
  const Guid& frame_dimension() const { return dimension_; }
  uint32_t frame_count(const Guid& dimension) const;
  uint32_t frame_count() const { return static_cast<uint32_t>(frames_.size()); }
  uint32_t active_frame() const { return active_; }
  Status select_active_frame(const Guid& dimension, uint32_t index);
  // Appends a frame (used by decoders and multi-page builders).
  void add_frame(Frame f) { frames_.push_back(std::move(f)); }

  // Metadata of the active frame.
  const std::vector<PropertyItem>& properties() const { return active().properties; }
  const PropertyItem* property(uint32_t id) const;
  Status set_property(const PropertyItem& item);  // replaces an item with the same id
  Status remove_property(uint32_t id);            // PropertyNotFound when absent

  // Pixel access. Rectangles must lie inside the image; lock formats are the
  // non-indexed stored formats, or the image's own indexed format.
  Status lock_bits(const Rect* rect, uint32_t mode, PixelFormat f, LockData& data);
  Status unlock_bits(LockData& data);
  // Read or write lock with a caller buffer, in one call.
  Status read_pixels(const Rect& rect, PixelFormat f, uint8_t* dst, int32_t stride);
  Status write_pixels(const Rect& rect, PixelFormat f, const uint8_t* src, int32_t stride);
  Status get_pixel(int32_t x, int32_t y, uint32_t& argb) const;
  Status set_pixel(int32_t x, int32_t y, uint32_t argb);
  // Composites a colour over a rectangle (source over, non-premultiplied),
  // each pixel read and written back in the image's own format.
  Status fill_rect(const Rect& rect, uint32_t argb);

  // Geometry and copies.
  Status rotate_flip(RotateFlip type);
  // Full copy: every frame (loading the ones not decoded yet), palettes,
  // resolutions, properties, raw format and active frame.
  Status clone(std::unique_ptr<Image>& out);
  // Copy of a rectangle of the active frame in format f (its own format
  // keeps the palette); resolution and palette follow, properties do not.
  Status clone_area(const Rect& rect, PixelFormat f, std::unique_ptr<Image>& out);
  // Scaled 32bppPARGB copy of the active frame (box filter when shrinking,
  // bilinear when enlarging).
  Status thumbnail(int32_t width, int32_t height, std::unique_ptr<Image>& out);

  bool locked() const { return locked_; }

  // The active frame's coded copy while its pixels are still the ones it
  // decodes to; null otherwise.
  const CodedPixels* coded_pixels() const;

 private:
  Frame& active() { return frames_[active_]; }
  const Frame& active() const { return frames_[active_]; }
  Status check_rect(const Rect& r) const;

  std::vector<Frame> frames_;
  uint32_t active_ = 0;
  Guid dimension_ = guids::kFrameDimensionPage;
  Guid raw_format_ = guids::kFormatMemoryBmp;
  std::shared_ptr<FrameLoader> loader_;
  bool locked_ = false;
};

// Allocates zeroed pixels for a surface after checking the size against the
// pixel memory limit with overflow-safe arithmetic.
Status allocate_surface(int32_t width, int32_t height, PixelFormat f, Surface& out);
// Its checks alone: Ok when such a surface may be allocated.
Status check_surface(int32_t width, int32_t height, PixelFormat f);

}  // namespace korvex::raster
