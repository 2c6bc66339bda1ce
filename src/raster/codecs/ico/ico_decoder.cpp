// Icon and cursor decoder. A 6-byte header (reserved 0, type 1 = icon or
// 2 = cursor, entry count) and 16-byte directory entries (width, height,
// colour count, reserved, planes or hotspot x, bit count or hotspot y, byte
// count, offset) point at the pictures. The best entry is decoded: the
// largest, then the deepest. An entry is a PNG file, or a DIB without file
// header whose height counts the colour rows and the 1-bit AND mask rows that
// follow them. The result is always 32bppARGB at 96 dpi.
#include <cstring>
#include <memory>
#include <new>

#include "raster/codec.h"
#include "raster/codecs/bmp/dib.h"
#include "raster/codecs/ico/ico.h"
#include "raster/convert.h"
#include "raster/guard.h"

namespace korvex::raster {
namespace {

using dib::u16;
using dib::u32;

constexpr size_t kDirHeader = 6;
constexpr size_t kDirEntry = 16;
constexpr uint8_t kPngSignature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};

bool plausible_bit_count(uint32_t bits) {
  return bits == 0 || bits == 1 || bits == 2 || bits == 4 || bits == 8 || bits == 16 ||
         bits == 24 || bits == 32;
}

}  // namespace

bool sniff_ico(const uint8_t* data, size_t size) {
  if (size < kDirHeader + kDirEntry) return false;
  const uint32_t type = u16(data + 2), count = u16(data + 4);
  if (u16(data) != 0 || (type != 1 && type != 2) || count == 0) return false;
  const uint8_t* e = data + kDirHeader;
  if (u32(e + 8) == 0 || u32(e + 12) < kDirHeader + kDirEntry * count) return false;
  // Cursors keep their hotspot where icons keep planes and bit count.
  return type == 2 || (u16(e + 4) <= 1 && plausible_bit_count(u16(e + 6)));
}

namespace {

bool is_png(const uint8_t* p, size_t n) {
  return n >= sizeof kPngSignature && std::memcmp(p, kPngSignature, sizeof kPngSignature) == 0;
}

// Bits per pixel of an entry as its own header gives them (directories are
// often vague: 0, or a colour count instead); the directory's value otherwise.
uint32_t entry_bit_count(const uint8_t* p, size_t n, uint32_t directory_bits) {
  if (is_png(p, n)) {
    if (n < 26) return directory_bits;
    static constexpr uint8_t kChannels[7] = {1, 0, 3, 1, 2, 0, 4};
    const uint32_t depth = p[24], colour_type = p[25];
    return colour_type < 7 ? depth * kChannels[colour_type] : directory_bits;
  }
  if (n >= 16 && u32(p) >= 16) return u16(p + 14);
  if (n >= 12 && u32(p) == dib::kCoreHeader) return u16(p + 10);
  return directory_bits;
}

// Sets alpha from the AND mask: 0 where the mask bit is 1; elsewhere 255
// when `opaque_elsewhere`, unchanged otherwise.
void apply_and_mask(Surface& s, const dib::Info& info, const uint8_t* mask, size_t mask_stride,
                    bool opaque_elsewhere) {
  for (int32_t y = 0; y < info.height; ++y) {
    const uint8_t* m = mask + static_cast<size_t>(y) * mask_stride;
    uint8_t* d = s.row(info.top_down ? y : info.height - 1 - y);
    for (int32_t x = 0; x < info.width; ++x) {
      const bool transparent = (m[x >> 3] >> (7 - (x & 7))) & 1;
      if (transparent) {
        d[4 * x + 3] = 0;
      } else if (opaque_elsewhere) {
        d[4 * x + 3] = 0xFF;
      }
    }
  }
}

Status decode_dib_entry(const uint8_t* p, size_t n, std::unique_ptr<Image>& out) {
  dib::Info info;
  if (Status s = dib::parse_header(p, n, /*keep_alpha=*/true, info); s != Status::Ok) return s;
  // Compressed colour rows would leave the mask's position unknown.
  if (info.layout == dib::Layout::kRle) return Status::NotImplemented;
  if (info.height < 2) return Status::GenericError;
  info.height /= 2;  // colour rows; as many mask rows follow
  if (Status s = dib::check_pixel_limit(info.width, info.height, pf::k32bppARGB); s != Status::Ok) {
    return s;
  }

  // The colour table, then the colour rows, then the mask.
  const uint64_t table_end =
      info.table_offset + static_cast<uint64_t>(info.table_entries) * info.entry_size;
  if (table_end > n) return Status::GenericError;
  const uint8_t* pixels = p + table_end;
  const size_t avail = n - static_cast<size_t>(table_end);
  if (dib::minimum_array_size(info) > avail) return Status::GenericError;
  dib::Info mask_info = info;
  mask_info.bit_count = 1;
  const uint64_t colour_bytes = dib::stored_stride(info) * static_cast<uint64_t>(info.height);
  const bool has_mask =
      colour_bytes <= avail && dib::minimum_array_size(mask_info) <= avail - colour_bytes;
  // A 32-bit entry may carry everything in its alpha; the others need the mask.
  if (!has_mask && info.bit_count != 32) return Status::GenericError;

  std::unique_ptr<Image> img;
  if (Status s = Image::create(info.width, info.height, pf::k32bppARGB, img); s != Status::Ok) {
    return s;
  }
  Surface& argb = img->surface();
  if (info.format == pf::k32bppARGB) {
    if (Status s = dib::decode_pixels(info, pixels, avail, argb); s != Status::Ok) return s;
  } else {
    Surface native;
    if (Status s = allocate_surface(info.width, info.height, info.format, native);
        s != Status::Ok) {
      return s;
    }
    native.palette = dib::read_palette(info, p, static_cast<size_t>(table_end));
    if (Status s = dib::decode_pixels(info, pixels, avail, native); s != Status::Ok) return s;
    for (int32_t y = 0; y < info.height; ++y) {
      load_argb(native.format, native.row(y), 0, info.width, native.palette,
                reinterpret_cast<uint32_t*>(argb.row(y)));
    }
  }

  // Alpha: the entry's own when it has any, otherwise the AND mask.
  bool alpha_used = false;
  if (info.bit_count == 32 && info.alpha_mask != 0) {
    for (int32_t y = 0; y < info.height && !alpha_used; ++y) {
      const uint8_t* r = argb.row(y);
      for (int32_t x = 0; x < info.width; ++x) {
        if (r[4 * x + 3] != 0) {
          alpha_used = true;
          break;
        }
      }
    }
  }
  if (!alpha_used) {
    if (has_mask) {
      apply_and_mask(argb, info, pixels + colour_bytes,
                     static_cast<size_t>(dib::stored_stride(mask_info)), info.bit_count == 32);
    } else {
      for (int32_t y = 0; y < info.height; ++y) {
        uint8_t* r = argb.row(y);
        for (int32_t x = 0; x < info.width; ++x) r[4 * x + 3] = 0xFF;
      }
    }
  }
  out = std::move(img);
  return Status::Ok;
}

Status decode_png_entry(const EncodedBytes& in, const uint8_t* p, size_t n,
                        std::unique_ptr<Image>& out) {
  EncodedBytes sub;
  sub.data = p;
  sub.size = n;
  sub.keep = in.keep;
  std::unique_ptr<Image> img;
  const Status s = decode_image(sub, img);
  if (s == Status::UnknownImageFormat) return Status::NotImplemented;  // no PNG decoder
  if (s != Status::Ok) return s;
  if (img->format() != pf::k32bppARGB || img->frame_count() > 1) {
    std::unique_ptr<Image> argb;
    if (Status c = img->clone_area(Rect{0, 0, img->width(), img->height()}, pf::k32bppARGB, argb);
        c != Status::Ok) {
      return c;
    }
    img = std::move(argb);
  }
  out = std::move(img);
  return Status::Ok;
}

Status decode_ico_unchecked(const EncodedBytes& in, std::unique_ptr<Image>& out) {
  const uint8_t* data = in.data;
  const size_t size = in.size;
  if (!sniff_ico(data, size)) return Status::UnknownImageFormat;
  const uint32_t count = u16(data + 4);
  const size_t directory_end = kDirHeader + kDirEntry * count;
  if (directory_end > size) return Status::GenericError;

  // Best entry among those lying inside the file.
  const uint8_t* best = nullptr;
  size_t best_size = 0;
  uint64_t best_area = 0;
  uint32_t best_bits = 0;
  for (uint32_t k = 0; k < count; ++k) {
    const uint8_t* e = data + kDirHeader + kDirEntry * k;
    const uint32_t bytes = u32(e + 8), offset = u32(e + 12);
    if (bytes == 0 || offset < directory_end || offset > size || bytes > size - offset) continue;
    const uint64_t area = uint64_t{e[0] == 0 ? 256u : e[0]} * (e[1] == 0 ? 256u : e[1]);
    const uint32_t bits = entry_bit_count(data + offset, bytes, u16(e + 6));
    if (best == nullptr || area > best_area || (area == best_area && bits > best_bits)) {
      best = data + offset;
      best_size = bytes;
      best_area = area;
      best_bits = bits;
    }
  }
  if (best == nullptr) return Status::GenericError;

  std::unique_ptr<Image> img;
  const Status s = is_png(best, best_size) ? decode_png_entry(in, best, best_size, img)
                                           : decode_dib_entry(best, best_size, img);
  if (s != Status::Ok) return s;
  img->set_resolution(96.0f, 96.0f);
  img->set_raw_format(guids::kFormatIcon);
  out = std::move(img);
  return Status::Ok;
}

}  // namespace

Status decode_ico(const EncodedBytes& in, std::unique_ptr<Image>& out) {
  return guarded([&] { return decode_ico_unchecked(in, out); });
}

}  // namespace korvex::raster
