#include "raster/codecs/bmp/dib.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstring>
#include <limits>
#include <vector>

#include "raster/bit_depth.h"
#include "raster/convert.h"
#include "raster/limits.h"

namespace korvex::raster::dib {
namespace {

// Standard channel masks.
constexpr uint32_t kR555 = 0x7C00, kG555 = 0x03E0, kB555 = 0x001F, kA1555 = 0x8000;
constexpr uint32_t kR565 = 0xF800, kG565 = 0x07E0, kB565 = 0x001F;
constexpr uint32_t kR888 = 0x00FF0000, kG888 = 0x0000FF00, kB888 = 0x000000FF;
constexpr uint32_t kA8888 = 0xFF000000;

// Compressions of the OS/2 2.x header that share numbers with the bitfield
// and JPEG codes of the other headers.
constexpr uint32_t kOs2Huffman = 3;
constexpr uint32_t kOs2Rle24 = 4;
// CMYK variants of the later headers.
constexpr uint32_t kCmyk = 11, kCmykRle8 = 12, kCmykRle4 = 13;

bool is_os2_v2(uint32_t size) {
  return size >= 16 && size <= 64 && size != kInfoHeader && size != kV2Header && size != kV3Header;
}

// Picks the layout and output format of 16/32-bit pixels from their masks.
void choose_masked_layout(Info& info) {
  const uint32_t r = info.red_mask, g = info.green_mask, b = info.blue_mask, a = info.alpha_mask;
  if (info.bit_count == 16) {
    if (g == kG555 && r == kR555 && b == kB555 && (a == 0 || a == kA1555)) {
      info.layout = Layout::kCopy16;
      info.format = a == 0 ? pf::k16bppRGB555 : pf::k16bppARGB1555;
      return;
    }
    if (r == kR565 && g == kG565 && b == kB565 && a == 0) {
      info.layout = Layout::kCopy16;
      info.format = pf::k16bppRGB565;
      return;
    }
  } else if (r == kR888 && g == kG888 && b == kB888 && (a == 0 || a == kA8888)) {
    info.layout = a == 0 ? Layout::kOpaque32 : Layout::kCopy32;
    info.format = a == 0 ? pf::k32bppRGB : pf::k32bppARGB;
    return;
  }
  info.layout = Layout::kMasked;
  info.format = pf::k32bppARGB;
}

// One channel of a masked pixel: (pixel & mask) >> shift, scaled from
// 0..max to 0..255 with rounding. Narrow fields go through a table.
class Field {
 public:
  Field(uint32_t mask, uint8_t absent) : mask_(mask), absent_(absent) {
    if (mask == 0) return;
    shift_ = std::countr_zero(mask);
    max_ = mask >> shift_;
    if (max_ <= 0xFFFF) {
      table_.resize(max_ + 1);
      for (uint32_t v = 0; v <= max_; ++v) table_[v] = scale(v);
    }
  }
  uint32_t operator()(uint32_t px) const {
    if (mask_ == 0) return absent_;
    const uint32_t v = (px & mask_) >> shift_;
    return table_.empty() ? scale(v) : table_[v];
  }

 private:
  uint8_t scale(uint32_t v) const {
    return static_cast<uint8_t>((uint64_t{v} * 255 + max_ / 2) / max_);
  }
  uint32_t mask_;
  uint8_t absent_;
  int shift_ = 0;
  uint32_t max_ = 1;
  std::vector<uint8_t> table_;
};

// Writes the 4-bit index v at pixel x of a row.
inline void put_nibble(uint8_t* row, int64_t x, uint32_t v) {
  uint8_t& byte = row[x >> 1];
  byte = (x & 1) ? static_cast<uint8_t>((byte & 0xF0) | (v & 0x0F))
                 : static_cast<uint8_t>((byte & 0x0F) | ((v & 0x0F) << 4));
}

// Expands an RLE8 or RLE4 stream. Clipping rules: pixels of a run (encoded
// or absolute) that fall past the end of the row are dropped, never wrapped
// onto the next row; a delta or end-of-line that leaves the last row ends the
// picture. Skipped pixels keep index 0. A stream that stops before reaching
// the last row is truncated (GenericError); one that stops inside the last row
// without its end-of-bitmap code is accepted. Top-down RLE pictures, which
// writers should not produce, are decoded in their stored order all the same.
Status decode_rle(const Info& info, const uint8_t* data, size_t n, Surface& dst) {
  const bool four = info.compression == kRle4;
  const int64_t width = info.width, height = info.height;
  int64_t x = 0, y = 0;  // y counts stored rows, first stored row = 0
  size_t i = 0;
  auto row_of = [&](int64_t stored) {
    return dst.row(static_cast<int32_t>(info.top_down ? stored : height - 1 - stored));
  };
  auto stopped = [&]() { return y >= height - 1 ? Status::Ok : Status::GenericError; };
  while (y < height) {
    if (n - i < 2) return stopped();
    const uint32_t count = data[i], code = data[i + 1];
    i += 2;
    uint8_t* row = row_of(y);
    if (count > 0) {
      // Encoded run: one byte of value(s) repeated.
      const int64_t end = std::min<int64_t>(x + count, width);
      if (!four) {
        if (end > x) std::memset(row + x, static_cast<int>(code), static_cast<size_t>(end - x));
      } else {
        for (int64_t k = x; k < end; ++k) put_nibble(row, k, ((k - x) & 1) ? code : code >> 4);
      }
      x = std::min<int64_t>(x + count, width);
      continue;
    }
    switch (code) {
      case 0:  // end of line
        x = 0;
        ++y;
        break;
      case 1:  // end of bitmap
        return Status::Ok;
      case 2:  // delta: move right and on by the next two bytes
        if (n - i < 2) return stopped();
        x = std::min<int64_t>(x + data[i], width);
        y += data[i + 1];
        i += 2;
        break;
      default: {
        // Absolute run of `code` pixels, padded to a 16-bit boundary.
        const size_t bytes = four ? (code + 1) / 2 : code;
        if (n - i < bytes) return stopped();
        const uint8_t* src = data + i;
        const int64_t end = std::min<int64_t>(x + code, width);
        if (!four) {
          if (end > x) std::memcpy(row + x, src, static_cast<size_t>(end - x));
        } else {
          for (int64_t k = x; k < end; ++k) {
            const int64_t j = k - x;
            put_nibble(row, k, (j & 1) ? src[j >> 1] : src[j >> 1] >> 4);
          }
        }
        x = end;
        i += std::min(bytes + (bytes & 1), n - i);
        break;
      }
    }
  }
  return Status::Ok;
}

// Zeroes the bits after the last pixel of an indexed row, so the padding
// bits of the file do not leak into the surface.
void clear_tail(uint8_t* row, int32_t width, int bits) {
  const int64_t used = static_cast<int64_t>(width) * bits;
  if (used % 8 != 0) row[used / 8] &= static_cast<uint8_t>(0xFF << (8 - used % 8));
}

void masked_row(const uint8_t* s, uint8_t* d, int32_t width, bool sixteen, const Field& r,
                const Field& g, const Field& b, const Field& a) {
  for (int32_t x = 0; x < width; ++x) {
    uint32_t px;
    if (sixteen) {
      px = u16(s);
      s += 2;
    } else {
      px = u32(s);
      s += 4;
    }
    d[0] = static_cast<uint8_t>(b(px));
    d[1] = static_cast<uint8_t>(g(px));
    d[2] = static_cast<uint8_t>(r(px));
    d[3] = static_cast<uint8_t>(a(px));
    d += 4;
  }
}

// A channel mask as the DIB format defines it: non-zero, its bits contiguous
// and inside a pixel of `bits` bits.
bool plain_mask(uint32_t mask, int bits) {
  if (mask == 0 || (bits < 32 && (mask >> bits) != 0)) return false;
  const uint32_t field = mask >> std::countr_zero(mask);
  return (field & (field + 1)) == 0;  // all ones up to its top bit
}

// Bit-field masks of a packed DIB: red, green and blue plain, alpha absent or
// plain, no bit in two channels.
bool plain_masks(const Info& info) {
  const uint32_t r = info.red_mask, g = info.green_mask, b = info.blue_mask, a = info.alpha_mask;
  const int bits = info.bit_count;
  return plain_mask(r, bits) && plain_mask(g, bits) && plain_mask(b, bits) &&
         (a == 0 || plain_mask(a, bits)) && (r & g) == 0 && (r & b) == 0 && (g & b) == 0 &&
         ((r | g | b) & a) == 0;
}

// Pels per metre for a resolution in dpi, rounded; 0 when unknown.
uint32_t pels_per_metre(float dpi) {
  const double ppm = std::round(static_cast<double>(dpi) / 0.0254);
  if (!(ppm > 0)) return 0;
  return ppm >= std::numeric_limits<int32_t>::max()
             ? static_cast<uint32_t>(std::numeric_limits<int32_t>::max())
             : static_cast<uint32_t>(ppm);
}

// Formats rows can be written in, from an image of format `from`.
bool writable_rows(PixelFormat rows, PixelFormat from) {
  switch (rows) {
    case pf::k1bppIndexed:
    case pf::k4bppIndexed:
    case pf::k8bppIndexed:
      return rows == from;  // indices are copied, never matched to a palette
    case pf::k16bppRGB555:
    case pf::k16bppRGB565:
    case pf::k24bppRGB:
    case pf::k32bppRGB:
    case pf::k32bppARGB:
      return true;
    default:
      return false;
  }
}

}  // namespace

Status parse_header(const uint8_t* p, size_t n, bool keep_alpha, Info& out) {
  Info info;
  if (n < 4) return Status::GenericError;
  info.header_size = u32(p);
  const uint32_t size = info.header_size;
  if (size != kCoreHeader && !(size >= 16 && size <= 64) && size != kV4Header &&
      size != kV5Header) {
    return Status::GenericError;
  }
  if (n < size) return Status::GenericError;

  int64_t height = 0;
  uint32_t colors_used = 0;
  if (size == kCoreHeader) {
    info.width = u16(p + 4);
    height = u16(p + 6);
    info.planes = u16(p + 8);
    info.bit_count = u16(p + 10);
    info.entry_size = 3;
  } else {
    info.width = i32(p + 4);
    height = i32(p + 8);
    info.planes = u16(p + 12);
    info.bit_count = u16(p + 14);
    if (size >= 20) info.compression = u32(p + 16);
    if (size >= 28) info.ppm_x = i32(p + 24);
    if (size >= 32) info.ppm_y = i32(p + 28);
    if (size >= 36) colors_used = u32(p + 32);
  }
  if (info.width <= 0 || height == 0 || height == std::numeric_limits<int32_t>::min()) {
    return Status::GenericError;
  }
  info.top_down = height < 0;
  info.height = static_cast<int32_t>(height < 0 ? -height : height);
  info.colors_used = colors_used;
  info.table_offset = size;

  const bool os2 = is_os2_v2(size);
  const uint32_t c = info.compression;
  if (c == kJpeg || c == kPng || c == kCmyk || c == kCmykRle8 || c == kCmykRle4 ||
      (os2 && c == kOs2Huffman) || (os2 && c == kOs2Rle24)) {
    return Status::NotImplemented;
  }
  if (c != kRgb && c != kRle8 && c != kRle4 && c != kBitfields && c != kAlphaBitfields) {
    return Status::GenericError;
  }
  if (info.bit_count == 2 || info.bit_count == 64) return Status::NotImplemented;

  switch (info.bit_count) {
    case 1:
    case 4:
    case 8:
      if (c == kRgb) {
        info.layout = Layout::kIndexed;
      } else if ((c == kRle8 && info.bit_count == 8) || (c == kRle4 && info.bit_count == 4)) {
        info.layout = Layout::kRle;
      } else {
        return Status::GenericError;
      }
      info.format = format_for_depth(info.bit_count, DepthUse::kDib);
      break;
    case 24:
      if (c != kRgb) return Status::GenericError;
      info.layout = Layout::kCopy24;
      info.format = format_for_depth(24, DepthUse::kDib);
      break;
    case 16:
    case 32:
      if (c == kRgb) {
        if (info.bit_count == 16) {
          info.red_mask = kR555;
          info.green_mask = kG555;
          info.blue_mask = kB555;
          info.layout = Layout::kCopy16;
          info.format = format_for_depth(16, DepthUse::kDib);
        } else {
          info.red_mask = kR888;
          info.green_mask = kG888;
          info.blue_mask = kB888;
          info.alpha_mask = keep_alpha ? kA8888 : 0;
          info.layout = keep_alpha ? Layout::kCopy32 : Layout::kOpaque32;
          info.format = keep_alpha ? pf::k32bppARGB : format_for_depth(32, DepthUse::kDib);
        }
      } else if (c == kBitfields || c == kAlphaBitfields) {
        // Masks sit in the later headers, or right after a 40-byte one.
        const uint8_t* m = p + kInfoHeader;
        if (size >= kV2Header) {
          if (size >= kV3Header) info.alpha_mask = u32(m + 12);
        } else if (size == kInfoHeader) {
          const size_t count = c == kAlphaBitfields ? 4 : 3;
          if (n - size < 4 * count) return Status::GenericError;
          if (count == 4) info.alpha_mask = u32(m + 12);
          info.table_offset = size + 4 * count;
        } else {
          return Status::GenericError;  // OS/2 headers have no masks
        }
        info.red_mask = u32(m);
        info.green_mask = u32(m + 4);
        info.blue_mask = u32(m + 8);
        choose_masked_layout(info);
      } else {
        return Status::GenericError;  // RLE needs 4 or 8 bits
      }
      break;
    default:
      return Status::GenericError;
  }

  // The colour table of indexed pictures; deeper ones may carry a table for
  // display on palette devices, which decoding does not need.
  if (info.bit_count <= 8) {
    const uint32_t most = 1u << info.bit_count;
    info.table_entries = (colors_used == 0 || colors_used > most) ? most : colors_used;
  }
  out = info;
  return Status::Ok;
}

Palette read_palette(const Info& info, const uint8_t* p, size_t limit) {
  Palette pal;
  if (limit <= info.table_offset) return pal;
  const size_t fit = (limit - info.table_offset) / info.entry_size;
  const size_t count = std::min<size_t>(info.table_entries, fit);
  pal.entries.resize(count);
  const uint8_t* e = p + info.table_offset;
  for (size_t k = 0; k < count; ++k, e += info.entry_size) {
    pal.entries[k] = 0xFF000000u | (static_cast<uint32_t>(e[2]) << 16) |
                     (static_cast<uint32_t>(e[1]) << 8) | e[0];
  }
  return pal;
}

uint64_t stored_stride(const Info& info) {
  return (static_cast<uint64_t>(info.width) * info.bit_count + 31) / 32 * 4;
}

uint64_t minimum_array_size(const Info& info) {
  const uint64_t stride = stored_stride(info);
  const uint64_t last = (static_cast<uint64_t>(info.width) * info.bit_count + 7) / 8;
  const uint64_t rows = static_cast<uint64_t>(info.height) - 1;
  // stride < 2^35 and rows < 2^31: the product needs up to 66 bits.
  if (rows != 0 && stride > (std::numeric_limits<uint64_t>::max() - last) / rows) {
    return std::numeric_limits<uint64_t>::max();
  }
  return stride * rows + last;
}

Status check_pixel_limit(int32_t width, int32_t height, PixelFormat f) {
  const int32_t stride = padded_stride(width, f);
  if (stride < 0) return Status::OutOfMemory;
  const uint64_t bytes = static_cast<uint64_t>(stride) * static_cast<uint64_t>(height);
  return check_bitmap(static_cast<uint64_t>(width), static_cast<uint64_t>(height), bytes);
}

Status decode_pixels(const Info& info, const uint8_t* px, size_t n, Surface& dst) {
  if (info.layout == Layout::kRle) return decode_rle(info, px, n, dst);
  if (minimum_array_size(info) > n) return Status::GenericError;

  const size_t stride = static_cast<size_t>(stored_stride(info));
  const int32_t w = info.width, h = info.height;
  const size_t row_bytes = (static_cast<size_t>(w) * info.bit_count + 7) / 8;
  auto dst_row = [&](int32_t stored) { return dst.row(info.top_down ? stored : h - 1 - stored); };

  if (info.layout == Layout::kMasked) {
    const Field r(info.red_mask, 0), g(info.green_mask, 0), b(info.blue_mask, 0),
        a(info.alpha_mask, 255);
    for (int32_t y = 0; y < h; ++y) {
      masked_row(px + y * stride, dst_row(y), w, info.bit_count == 16, r, g, b, a);
    }
    return Status::Ok;
  }
  for (int32_t y = 0; y < h; ++y) {
    const uint8_t* s = px + y * stride;
    uint8_t* d = dst_row(y);
    std::memcpy(d, s, row_bytes);
    if (info.layout == Layout::kIndexed) {
      clear_tail(d, w, info.bit_count);
    } else if (info.layout == Layout::kOpaque32) {
      for (int32_t x = 0; x < w; ++x) d[4 * x + 3] = 0xFF;
    }
  }
  return Status::Ok;
}

void resolution(const Info& info, float& dpi_x, float& dpi_y) {
  if (info.ppm_x > 0 && info.ppm_y > 0) {
    dpi_x = static_cast<float>(info.ppm_x * 0.0254);
    dpi_y = static_cast<float>(info.ppm_y * 0.0254);
  } else {
    dpi_x = dpi_y = 96.0f;
  }
}

Status read_packed(const uint8_t* p, size_t n, std::unique_ptr<Image>& out, Info& info) {
  if (p == nullptr) return Status::GenericError;
  Info in;
  if (Status s = parse_header(p, n, /*keep_alpha=*/false, in); s != Status::Ok) return s;
  if (in.header_size < kInfoHeader || in.layout == Layout::kRle ||
      in.compression == kAlphaBitfields) {
    return Status::NotImplemented;
  }
  if (in.planes != 1) return Status::GenericError;
  if (in.compression == kBitfields && !plain_masks(in)) return Status::GenericError;
  // The table follows the header (and masks), the rows follow the table.
  const bool indexed = in.bit_count <= 8;
  if (in.colors_used > (indexed ? 1u << in.bit_count : 256u)) return Status::GenericError;
  const uint64_t entries = indexed ? in.table_entries : in.colors_used;
  const uint64_t table_end = in.table_offset + entries * in.entry_size;
  if (table_end > n) return Status::GenericError;
  const size_t avail = n - static_cast<size_t>(table_end);
  if (static_cast<uint64_t>(in.height) > avail / stored_stride(in)) return Status::GenericError;

  std::unique_ptr<Image> img;
  if (Status s = Image::create(in.width, in.height, in.format, img); s != Status::Ok) return s;
  Surface& surface = img->surface();
  if (indexed) surface.palette = read_palette(in, p, static_cast<size_t>(table_end));
  if (Status s = decode_pixels(in, p + table_end, avail, surface); s != Status::Ok) return s;
  out = std::move(img);
  info = in;
  return Status::Ok;
}

Status write(Image& img, const WriteOptions& options, ByteSink& out) {
  const Surface& src = img.surface();
  const int32_t w = src.width, h = src.height;
  const PixelFormat f = options.rows;
  if (w <= 0 || h <= 0 || src.scan0 == nullptr || !writable_rows(f, src.format)) {
    return Status::InvalidParameter;
  }
  const int bits = bits_per_pixel(f);

  // Colour table: the palette, cut to what the depth can address. An empty
  // palette is written as black entries, since 0 colours would mean 2^bits.
  std::vector<uint32_t> table;
  if (is_indexed(f)) {
    const size_t most = size_t{1} << bits;
    table = src.palette.entries;
    if (table.size() > most) table.resize(most);
    if (table.empty()) table.assign(most, 0);
  }
  const size_t file_header = options.file_header ? 14 : 0;
  const size_t masks = f == pf::k16bppRGB565 ? 12 : 0;
  const uint64_t stride = (static_cast<uint64_t>(w) * bits + 31) / 32 * 4;
  const uint64_t image_size = stride * static_cast<uint64_t>(h);
  const uint64_t offset = file_header + kInfoHeader + masks + 4 * table.size();
  const uint64_t total = offset + image_size;
  // The file and image sizes are 32-bit fields.
  if (total > std::numeric_limits<uint32_t>::max()) return Status::ValueOverflow;

  out.expect(total);
  std::vector<uint8_t> header(static_cast<size_t>(offset), 0);
  uint8_t* p = header.data();
  if (file_header != 0) {
    p[0] = 'B';
    p[1] = 'M';
    put32(p + 2, static_cast<uint32_t>(total));
    put32(p + 10, static_cast<uint32_t>(offset));
  }
  uint8_t* info = p + file_header;
  put32(info, kInfoHeader);
  put32(info + 4, static_cast<uint32_t>(w));
  put32(info + 8, static_cast<uint32_t>(h));  // positive: bottom-up
  put16(info + 12, 1);
  put16(info + 14, static_cast<uint32_t>(bits));
  put32(info + 16, masks != 0 ? kBitfields : kRgb);
  put32(info + 20, static_cast<uint32_t>(image_size));
  put32(info + 24, pels_per_metre(img.dpi_x()));
  put32(info + 28, pels_per_metre(img.dpi_y()));
  put32(info + 32, static_cast<uint32_t>(table.size()));
  uint8_t* q = info + kInfoHeader;
  if (masks != 0) {
    put32(q, kR565);
    put32(q + 4, kG565);
    put32(q + 8, kB565);
    q += masks;
  }
  for (uint32_t argb : table) {
    put32(q, argb & 0x00FFFFFF);  // B, G, R, reserved 0
    q += 4;
  }
  if (!out.write(header.data(), header.size())) return out.error();

  // Rows, last image row first, each padded with zeros to the stride. Rows
  // composited over a background go through 32bppARGB.
  const bool composite = bits == 32 && options.background.has_value();
  const PixelFormat converted = composite ? pf::k32bppARGB : f;
  const size_t row_bytes = (static_cast<size_t>(w) * bits + 7) / 8;
  std::vector<uint32_t> scratch(converted != src.format ? static_cast<size_t>(w) : 0);
  std::vector<uint8_t> line(static_cast<size_t>(stride), 0);
  uint8_t* d = line.data();
  for (int32_t y = h - 1; y >= 0; --y) {
    const uint8_t* s = src.row(y);
    if (converted != src.format) {
      convert_pixels(src.format, s, 0, src.palette, converted, d, 0, nullptr, w, scratch.data());
    } else {
      std::memcpy(d, s, row_bytes);
      // Bits past the last pixel are padding: write them as zero.
      if (is_indexed(f)) clear_tail(d, w, bits);
    }
    if (composite) {
      for (int32_t x = 0; x < w; ++x) {
        put32(d + 4 * x, opaque_over(u32(d + 4 * x), *options.background));
      }
    } else if (f == pf::k32bppRGB && src.format == f) {
      for (int32_t x = 0; x < w; ++x) d[4 * x + 3] = 0xFF;
    }
    if (!out.write(d, line.size())) return out.error();
  }
  return Status::Ok;
}

}  // namespace korvex::raster::dib
