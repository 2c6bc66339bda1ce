// Metafile headers and record chains, read without any third-party code.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <limits>

#include "metafile/metafile.h"

namespace korvex::metafile {
namespace {

using raster::Status;

uint16_t u16(const uint8_t* p) {
  return static_cast<uint16_t>(p[0] | (p[1] << 8));
}
int16_t i16(const uint8_t* p) {
  return static_cast<int16_t>(u16(p));
}
uint32_t u32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
         (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24);
}
int32_t i32(const uint8_t* p) {
  return static_cast<int32_t>(u32(p));
}

constexpr uint32_t kPlaceableKey = 0x9AC6CDD7u;
constexpr size_t kPlaceableSize = 22;
constexpr size_t kWmfHeaderSize = 18;  // the META header: 9 words
constexpr uint32_t kEmrHeader = 1;
constexpr uint32_t kEmrEof = 14;
constexpr uint32_t kEmfSignature = 0x464D4520u;  // " EMF"
constexpr size_t kEmfHeaderMin = 88;
constexpr size_t kEmfHeaderWithMicrometers = 108;
// Largest reference-device coordinate taken (far beyond any pixel limit).
constexpr int32_t kMaxDevice = 1 << 29;

// Pixels covering `extent` units at `units_per_inch` units per inch, drawn
// at `dpi`; at least one. OutOfMemory when it cannot be a 31-bit size (no
// pixel limit admits it).
Status to_pixels(double extent, double units_per_inch, double dpi, int32_t& out) {
  const double px = std::round(std::fabs(extent) / units_per_inch * dpi);
  if (!(px < static_cast<double>(std::numeric_limits<int32_t>::max()))) return Status::OutOfMemory;
  out = px < 1.0 ? 1 : static_cast<int32_t>(px);
  return Status::Ok;
}

// Resolution of the reference device from its size in pixels and in a
// length unit of `units_per_inch`; 0 when the header gives no usable value.
double device_dpi(int32_t pixels, int32_t length, double units_per_inch) {
  if (pixels <= 0 || length <= 0) return 0.0;
  const double dpi = static_cast<double>(pixels) / length * units_per_inch;
  return dpi >= 1.0 && dpi <= 1.0e5 ? dpi : 0.0;
}

}  // namespace

bool sniff_wmf(const uint8_t* data, size_t size) {
  return size >= kPlaceableSize && u32(data) == kPlaceableKey;
}

bool sniff_emf(const uint8_t* data, size_t size) {
  return size >= 44 && u32(data) == kEmrHeader && u32(data + 40) == kEmfSignature;
}

Status parse_wmf(const uint8_t* data, size_t size, Frame& out) {
  if (!sniff_wmf(data, size) || size < kPlaceableSize + kWmfHeaderSize) return Status::GenericError;
  // Placeable header: key, handle, bounding box in logical units, units per inch.
  const int32_t left = i16(data + 6), top = i16(data + 8);
  const int32_t right = i16(data + 10), bottom = i16(data + 12);
  const uint16_t inch = u16(data + 14);
  if (inch == 0 || right == left || bottom == top) return Status::GenericError;
  // The META header: type 1 (memory) or 2 (disk), nine words long.
  const uint8_t* h = data + kPlaceableSize;
  if ((u16(h) != 1 && u16(h) != 2) || u16(h + 2) != 9) return Status::GenericError;
  // Records: a size in 16-bit words (at least the size and function fields)
  // and a function; function 0 ends the picture.
  size_t pos = kPlaceableSize + kWmfHeaderSize;
  for (;;) {
    if (size - pos < 6) return Status::GenericError;
    const uint32_t words = u32(data + pos);
    const uint16_t function = u16(data + pos + 4);
    if (words < 3 || words > (size - pos) / 2) return Status::GenericError;
    if (function == 0) break;
    pos += static_cast<size_t>(words) * 2;
  }
  out.dpi_x = out.dpi_y = static_cast<float>(inch);
  // The bounding box at the file's own resolution is the pixel size.
  out.width = std::abs(right - left);
  out.height = std::abs(bottom - top);
  return Status::Ok;
}

Status parse_emf(const uint8_t* data, size_t size, Frame& out) {
  if (!sniff_emf(data, size) || size < kEmfHeaderMin) return Status::GenericError;
  const uint32_t header_size = u32(data + 4);
  const uint32_t total = u32(data + 48);
  if (header_size < kEmfHeaderMin || total > size || header_size > total) {
    return Status::GenericError;
  }
  // Every record: type, size (a multiple of 4, at least 8), inside the file;
  // the end record closes the picture.
  size_t pos = 0;
  bool ended = false;
  while (!ended) {
    if (total - pos < 8) return Status::GenericError;
    const uint32_t type = u32(data + pos);
    const uint32_t rsize = u32(data + pos + 4);
    if (rsize < 8 || rsize % 4 != 0 || rsize > total - pos) return Status::GenericError;
    if (pos != 0 && type == kEmrHeader) return Status::GenericError;
    ended = type == kEmrEof;
    pos += rsize;
  }
  // Resolution of the reference device: pixels per millimetre, or per
  // micrometre when the extended header gives it.
  double dpi_x = device_dpi(i32(data + 72), i32(data + 80), 25.4);
  double dpi_y = device_dpi(i32(data + 76), i32(data + 84), 25.4);
  if (header_size >= kEmfHeaderWithMicrometers) {
    const double mx = device_dpi(i32(data + 72), i32(data + 100), 25400.0);
    const double my = device_dpi(i32(data + 76), i32(data + 104), 25400.0);
    if (mx > 0.0 && my > 0.0) dpi_x = mx, dpi_y = my;
  }
  if (dpi_x <= 0.0 || dpi_y <= 0.0) return Status::GenericError;
  // Reference-device pixels per 0.01 mm.
  const double per_x = dpi_x / 2540.0, per_y = dpi_y / 2540.0;
  // The frame, in 0.01 mm, inclusive; the bounds (device pixels, inclusive)
  // stand in when the frame is empty.
  const int64_t fw = int64_t{i32(data + 32)} - i32(data + 24);
  const int64_t fh = int64_t{i32(data + 36)} - i32(data + 28);
  Status st = Status::Ok;
  if (fw != 0 && fh != 0) {
    st = to_pixels(static_cast<double>(std::llabs(fw) + 1), 2540.0, dpi_x, out.width);
    if (st == Status::Ok) {
      st = to_pixels(static_cast<double>(std::llabs(fh) + 1), 2540.0, dpi_y, out.height);
    }
    if (st != Status::Ok) return st;
    const double x = std::min(i32(data + 24), i32(data + 32)) * per_x;
    const double y = std::min(i32(data + 28), i32(data + 36)) * per_y;
    const double w = static_cast<double>(std::llabs(fw) + 1) * per_x;
    const double h = static_cast<double>(std::llabs(fh) + 1) * per_y;
    // Kept well inside 31 bits so that the edges below cannot overflow.
    if (std::fabs(x) > kMaxDevice || std::fabs(y) > kMaxDevice || w > kMaxDevice ||
        h > kMaxDevice) {
      return Status::OutOfMemory;
    }
    out.device_x = x;
    out.device_y = y;
    out.device_width = std::max(w, 1e-3);
    out.device_height = std::max(h, 1e-3);
    out.device_left = static_cast<int32_t>(std::floor(x));
    out.device_top = static_cast<int32_t>(std::floor(y));
    out.device_right = static_cast<int32_t>(std::ceil(x + w));
    out.device_bottom = static_cast<int32_t>(std::ceil(y + h));
  } else {
    const int64_t bw = int64_t{i32(data + 16)} - i32(data + 8);
    const int64_t bh = int64_t{i32(data + 20)} - i32(data + 12);
    if (bw < 0 || bh < 0) return Status::GenericError;
    if (bw >= kMaxDevice || bh >= kMaxDevice || std::llabs(int64_t{i32(data + 8)}) > kMaxDevice ||
        std::llabs(int64_t{i32(data + 12)}) > kMaxDevice) {
      return Status::OutOfMemory;
    }
    out.width = static_cast<int32_t>(bw + 1);
    out.height = static_cast<int32_t>(bh + 1);
    out.device_left = i32(data + 8);
    out.device_top = i32(data + 12);
    out.device_right = out.device_left + out.width;
    out.device_bottom = out.device_top + out.height;
    out.device_x = out.device_left;
    out.device_y = out.device_top;
    out.device_width = out.width;
    out.device_height = out.height;
  }
  out.dpi_x = static_cast<float>(dpi_x);
  out.dpi_y = static_cast<float>(dpi_y);
  return Status::Ok;
}

}  // namespace korvex::metafile
