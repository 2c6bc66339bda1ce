#include "raster/image.h"

#include <sys/mman.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <limits>
#include <memory>
#include <optional>

#include "raster/big_alloc.h"
#include "raster/convert.h"
#include "raster/limits.h"
#include "raster/version.h"

namespace korvex::raster {

namespace {

// Bytes holding `width` pixels of a row, without padding.
int64_t row_bytes(int64_t width, PixelFormat f) {
  return (width * bits_per_pixel(f) + 7) / 8;
}

bool valid_property_type(uint16_t t) {
  switch (t) {
    case ptype::kByte:
    case ptype::kAscii:
    case ptype::kShort:
    case ptype::kLong:
    case ptype::kRational:
    case ptype::kUndefined:
    case ptype::kSLong:
    case ptype::kSRational:
      return true;
    default:
      return false;
  }
}

// Copies or converts the rows of a rectangle between an image surface and a
// buffer in format f.
void transfer_rows(Surface& s, const Rect& r, PixelFormat f, uint8_t* buf, int32_t stride,
                   bool to_image) {
  std::unique_ptr<uint32_t[]> scratch(new uint32_t[static_cast<size_t>(r.width)]);
  std::optional<PaletteMatcher> matcher;
  if (to_image && is_indexed(s.format) && f != s.format) matcher.emplace(s.palette);
  for (int32_t y = 0; y < r.height; ++y) {
    uint8_t* line = buf + static_cast<std::ptrdiff_t>(y) * stride;
    if (to_image) {
      convert_pixels(f, line, 0, s.palette, s.format, s.row(r.y + y), r.x,
                     matcher ? &*matcher : nullptr, r.width, scratch.get());
    } else {
      convert_pixels(s.format, s.row(r.y + y), r.x, s.palette, f, line, 0, nullptr, r.width,
                     scratch.get());
    }
  }
}

// Source-over compositing of a non-premultiplied colour onto a pixel.
uint32_t blend_over(uint32_t src, uint32_t dst) {
  const uint32_t sa = src >> 24;
  if (sa == 255) return src;
  if (sa == 0) return dst;
  const uint32_t da = dst >> 24;
  // Alpha scaled by 255: sa * 255 + da * (255 - sa).
  const uint32_t out_a255 = sa * 255 + da * (255 - sa);
  if (out_a255 == 0) return 0;
  uint32_t out = ((out_a255 + 127) / 255) << 24;
  for (int shift = 0; shift <= 16; shift += 8) {
    const uint32_t sc = (src >> shift) & 0xFF;
    const uint32_t dc = (dst >> shift) & 0xFF;
    const uint32_t num = sc * sa * 255 + dc * da * (255 - sa);
    out |= ((num + out_a255 / 2) / out_a255) << shift;
  }
  return out;
}

}  // namespace

uint64_t pixel_memory_limit() {
  return GetLimit(Limit::PixelBytes);
}
void set_pixel_memory_limit(uint64_t bytes) {
  SetLimit(Limit::PixelBytes, bytes);
}

int32_t padded_stride(int32_t width, PixelFormat f) {
  const int64_t bits = static_cast<int64_t>(width) * bits_per_pixel(f);
  const int64_t bytes = (bits + 31) / 32 * 4;
  if (bytes > std::numeric_limits<int32_t>::max()) return -1;
  return static_cast<int32_t>(bytes);
}

uint8_t* allocate_buffer(size_t bytes, bool zero) {
  if (bytes == 0) bytes = 1;
  // calloc leaves fresh mappings to the kernel's zero-filled pages instead of
  // clearing them itself, so untouched parts of a large buffer cost nothing.
  auto* p = static_cast<uint8_t*>(zero ? std::calloc(bytes, 1) : std::malloc(bytes));
  if (p == nullptr || bytes < kLargeBuffer) return p;
  // Huge pages for the whole 2 MiB blocks inside the buffer. Only advice:
  // without them the buffer works the same, just slower to fill.
  constexpr uintptr_t kHugePage = uintptr_t{2} << 20;
  const uintptr_t begin = (reinterpret_cast<uintptr_t>(p) + kHugePage - 1) & ~(kHugePage - 1);
  const uintptr_t end = (reinterpret_cast<uintptr_t>(p) + bytes) & ~(kHugePage - 1);
  if (end > begin) (void)::madvise(reinterpret_cast<void*>(begin), end - begin, MADV_HUGEPAGE);
  return p;
}

Status check_surface(int32_t width, int32_t height, PixelFormat f) {
  if (width <= 0 || height <= 0 || !is_supported_format(f)) return Status::InvalidParameter;
  const int32_t stride = padded_stride(width, f);
  if (stride < 0) return Status::OutOfMemory;
  // stride < 2^31 and height < 2^31, so the product fits in 64 bits.
  const uint64_t bytes = static_cast<uint64_t>(stride) * static_cast<uint64_t>(height);
  return check_bitmap(static_cast<uint64_t>(width), static_cast<uint64_t>(height), bytes);
}

Status allocate_surface(int32_t width, int32_t height, PixelFormat f, Surface& out) {
  if (Status s = check_surface(width, height, f); s != Status::Ok) return s;
  const int32_t stride = padded_stride(width, f);
  const uint64_t bytes = static_cast<uint64_t>(stride) * static_cast<uint64_t>(height);
  uint8_t* p = allocate_buffer(static_cast<size_t>(bytes), true);
  if (p == nullptr) return Status::OutOfMemory;
  out.owned.reset(p);
  out.scan0 = p;
  out.stride = stride;
  out.width = width;
  out.height = height;
  out.format = f;
  out.palette = default_palette(f);
  return Status::Ok;
}

Status Image::create(int32_t width, int32_t height, PixelFormat f, std::unique_ptr<Image>& out) {
  Frame frame;
  if (Status s = allocate_surface(width, height, f, frame.pixels); s != Status::Ok) return s;
  auto img = std::make_unique<Image>();
  img->frames_.push_back(std::move(frame));
  out = std::move(img);
  return Status::Ok;
}

Status Image::create_from_scan0(int32_t width, int32_t height, int32_t stride, PixelFormat f,
                                uint8_t* scan0, std::unique_ptr<Image>& out) {
  if (scan0 == nullptr) return create(width, height, f, out);
  if (width <= 0 || height <= 0 || !is_supported_format(f)) return Status::InvalidParameter;
  const int64_t abs_stride = stride < 0 ? -static_cast<int64_t>(stride) : stride;
  if (abs_stride < row_bytes(width, f)) return Status::InvalidParameter;
  Frame frame;
  frame.pixels.width = width;
  frame.pixels.height = height;
  frame.pixels.format = f;
  frame.pixels.stride = stride;
  frame.pixels.scan0 = scan0;
  frame.pixels.palette = default_palette(f);
  auto img = std::make_unique<Image>();
  img->frames_.push_back(std::move(frame));
  out = std::move(img);
  return Status::Ok;
}

std::unique_ptr<Image> Image::from_frames(std::vector<Frame> frames, const Guid& dimension,
                                          const Guid& raw_format,
                                          std::shared_ptr<FrameLoader> loader) {
  auto img = std::make_unique<Image>();
  img->frames_ = std::move(frames);
  img->dimension_ = dimension;
  img->raw_format_ = raw_format;
  img->loader_ = std::move(loader);
  return img;
}

Status Image::set_resolution(float dpi_x, float dpi_y) {
  if (!(dpi_x > 0.0f) || !(dpi_y > 0.0f)) return Status::InvalidParameter;
  active().dpi_x = dpi_x;
  active().dpi_y = dpi_y;
  return Status::Ok;
}

Status Image::set_palette(const Palette& p) {
  // An indexed image can only address 2^bits entries; more would be unreachable
  // and would let a nearest-colour search pick an index the pixels cannot hold.
  const size_t most = is_indexed(format()) ? size_t{1} << bits_per_pixel(format()) : 256;
  if (p.entries.size() > most) return Status::InvalidParameter;
  active().pixels.palette = p;
  return Status::Ok;
}

uint64_t hash_pixels(const Surface& s) {
  if (s.scan0 == nullptr || s.width <= 0 || s.height <= 0) return 0;
  const uint64_t bits = uint64_t{static_cast<uint32_t>(s.width)} * bits_per_pixel(s.format);
  const size_t whole = static_cast<size_t>(bits / 8);
  const unsigned rest = static_cast<unsigned>(bits % 8);
  const uint8_t tail_mask = static_cast<uint8_t>(0xFF00u >> rest);  // first `rest` bits
  constexpr uint64_t kMul = 0x9E3779B97F4A7C15ull;
  uint64_t h = 0x243F6A8885A308D3ull ^ bits;
  auto mix = [&](uint64_t v) {
    h = (h ^ v) * kMul;
    h ^= h >> 29;
  };
  for (int32_t y = 0; y < s.height; ++y) {
    const uint8_t* row = s.row(y);
    size_t i = 0;
    // Four independent lanes over 32 bytes at a time: one chain of
    // multiplications would wait on each product in turn.
    if (whole >= 32) {
      uint64_t lane[4] = {h, h ^ 0x13198A2E03707344ull, h ^ 0xA4093822299F31D0ull,
                          h ^ 0x082EFA98EC4E6C89ull};
      for (; i + 32 <= whole; i += 32) {
        for (int k = 0; k < 4; ++k) {
          uint64_t v;
          std::memcpy(&v, row + i + 8 * k, 8);
          lane[k] = (lane[k] ^ v) * kMul;
          lane[k] ^= lane[k] >> 29;
        }
      }
      for (const uint64_t l : lane) mix(l);
    }
    for (; i + 8 <= whole; i += 8) {
      uint64_t v;
      std::memcpy(&v, row + i, 8);
      mix(v);
    }
    uint64_t last = 0;
    for (; i < whole; ++i) last = last << 8 | row[i];
    if (rest != 0) last = last << 8 | (row[whole] & tail_mask);
    mix(last ^ (uint64_t{static_cast<uint32_t>(y)} << 32));
  }
  return h;
}

const CodedPixels* Image::coded_pixels() const {
  const Frame& f = active();
  if (!f.coded || f.coded->pixels_hash != hash_pixels(f.pixels)) return nullptr;
  return f.coded.get();
}

uint32_t Image::frame_count(const Guid& dimension) const {
  return dimension == dimension_ ? static_cast<uint32_t>(frames_.size()) : 0;
}

Status Image::select_active_frame(const Guid& dimension, uint32_t index) {
  if (dimension != dimension_ || index >= frames_.size()) return Status::InvalidParameter;
  if (locked_) return Status::WrongState;
  Frame& f = frames_[index];
  if (!f.loaded) {
    if (!loader_) return Status::GenericError;
    if (Status s = loader_->load(index, f); s != Status::Ok) return s;
    f.loaded = true;
  }
  active_ = index;
  return Status::Ok;
}

const PropertyItem* Image::property(uint32_t id) const {
  for (const PropertyItem& p : active().properties) {
    if (p.id == id) return &p;
  }
  return nullptr;
}

Status Image::set_property(const PropertyItem& item) {
  if (!valid_property_type(item.type)) return Status::InvalidParameter;
  for (PropertyItem& p : active().properties) {
    if (p.id == item.id) {
      p = item;
      return Status::Ok;
    }
  }
  active().properties.push_back(item);
  return Status::Ok;
}

Status Image::remove_property(uint32_t id) {
  auto& props = active().properties;
  auto it =
      std::find_if(props.begin(), props.end(), [&](const PropertyItem& p) { return p.id == id; });
  if (it == props.end()) return Status::PropertyNotFound;
  props.erase(it);
  return Status::Ok;
}

Status Image::check_rect(const Rect& r) const {
  if (r.x < 0 || r.y < 0 || r.width <= 0 || r.height <= 0) return Status::InvalidParameter;
  if (static_cast<int64_t>(r.x) + r.width > width()) return Status::InvalidParameter;
  if (static_cast<int64_t>(r.y) + r.height > height()) return Status::InvalidParameter;
  return Status::Ok;
}

Status Image::lock_bits(const Rect* rect, uint32_t mode, PixelFormat f, LockData& data) {
  if (locked_) return Status::WrongState;
  if ((mode & (lock::kRead | lock::kWrite)) == 0 ||
      (mode & ~(lock::kRead | lock::kWrite | lock::kUserInputBuffer)) != 0) {
    return Status::InvalidParameter;
  }
  const Rect r = rect ? *rect : Rect{0, 0, width(), height()};
  if (Status s = check_rect(r); s != Status::Ok) return s;
  if (!is_supported_format(f)) return Status::InvalidParameter;
  Surface& s = surface();
  // An indexed layout only makes sense over the image's own palette.
  if (is_indexed(f) && f != s.format) return Status::InvalidParameter;
  if ((mode & lock::kWrite) && is_indexed(s.format) && f != s.format && is_old_version()) {
    return Status::PixelFormatMustBeConverted;
  }

  if (mode & lock::kUserInputBuffer) {
    if (data.scan0 == nullptr) return Status::InvalidParameter;
    const int64_t abs_stride = data.stride < 0 ? -static_cast<int64_t>(data.stride) : data.stride;
    if (abs_stride < row_bytes(r.width, f)) return Status::InvalidParameter;
    if (mode & lock::kRead) transfer_rows(s, r, f, data.scan0, data.stride, false);
    data.temp.reset();
  } else if (f == s.format && (static_cast<int64_t>(r.x) * bits_per_pixel(f)) % 8 == 0) {
    // Same layout and byte-aligned start: hand out the image's own rows.
    data.scan0 = s.row(r.y) + static_cast<int64_t>(r.x) * bits_per_pixel(f) / 8;
    data.stride = s.stride;
    data.temp.reset();
  } else {
    const int32_t stride = padded_stride(r.width, f);
    if (stride < 0) return Status::OutOfMemory;
    const uint64_t bytes = static_cast<uint64_t>(stride) * static_cast<uint64_t>(r.height);
    if (bytes > pixel_memory_limit()) return Status::OutOfMemory;
    uint8_t* p = allocate_buffer(static_cast<size_t>(bytes), true);
    if (p == nullptr) return Status::OutOfMemory;
    data.temp.reset(p);
    data.scan0 = p;
    data.stride = stride;
    if (mode & lock::kRead) transfer_rows(s, r, f, data.scan0, data.stride, false);
  }
  data.width = r.width;
  data.height = r.height;
  data.format = f;
  data.rect = r;
  data.mode = mode;
  locked_ = true;
  return Status::Ok;
}

Status Image::unlock_bits(LockData& data) {
  if (!locked_) return Status::WrongState;
  const bool direct = !(data.mode & lock::kUserInputBuffer) && !data.temp;
  if ((data.mode & lock::kWrite) && !direct) {
    transfer_rows(surface(), data.rect, data.format, data.scan0, data.stride, true);
  }
  data.temp.reset();
  data.mode = 0;
  locked_ = false;
  return Status::Ok;
}

Status Image::read_pixels(const Rect& rect, PixelFormat f, uint8_t* dst, int32_t stride) {
  LockData d;
  d.scan0 = dst;
  d.stride = stride;
  if (Status s = lock_bits(&rect, lock::kRead | lock::kUserInputBuffer, f, d); s != Status::Ok) {
    return s;
  }
  return unlock_bits(d);
}

Status Image::write_pixels(const Rect& rect, PixelFormat f, const uint8_t* src, int32_t stride) {
  LockData d;
  // The buffer is only read from: a write lock copies it into the image on unlock.
  d.scan0 = const_cast<uint8_t*>(src);
  d.stride = stride;
  if (Status s = lock_bits(&rect, lock::kWrite | lock::kUserInputBuffer, f, d); s != Status::Ok) {
    return s;
  }
  return unlock_bits(d);
}

Status Image::get_pixel(int32_t x, int32_t y, uint32_t& argb) const {
  if (x < 0 || y < 0 || x >= width() || y >= height()) return Status::InvalidParameter;
  const Surface& s = surface();
  load_argb(s.format, s.row(y), x, 1, s.palette, &argb);
  return Status::Ok;
}

Status Image::set_pixel(int32_t x, int32_t y, uint32_t argb) {
  if (x < 0 || y < 0 || x >= width() || y >= height()) return Status::InvalidParameter;
  if (locked_) return Status::WrongState;
  Surface& s = surface();
  std::optional<PaletteMatcher> matcher;
  if (is_indexed(s.format)) matcher.emplace(s.palette);
  store_argb(s.format, s.row(y), x, 1, matcher ? &*matcher : nullptr, &argb);
  return Status::Ok;
}

Status Image::fill_rect(const Rect& rect, uint32_t argb) {
  if (Status st = check_rect(rect); st != Status::Ok) return st;
  if (locked_) return Status::WrongState;
  Surface& s = surface();
  std::optional<PaletteMatcher> matcher;
  if (is_indexed(s.format)) matcher.emplace(s.palette);
  std::unique_ptr<uint32_t[]> line(new uint32_t[static_cast<size_t>(rect.width)]);
  for (int32_t y = 0; y < rect.height; ++y) {
    uint8_t* row = s.row(rect.y + y);
    load_argb(s.format, row, rect.x, rect.width, s.palette, line.get());
    // Runs of equal pixels blend once: a fresh or flat image costs one blend a row.
    uint32_t last_in = ~line[0], last_out = 0;
    for (int32_t x = 0; x < rect.width; ++x) {
      if (line[x] != last_in) {
        last_in = line[x];
        last_out = blend_over(argb, last_in);
      }
      line[x] = last_out;
    }
    store_argb(s.format, row, rect.x, rect.width, matcher ? &*matcher : nullptr, line.get());
  }
  return Status::Ok;
}

}  // namespace korvex::raster
