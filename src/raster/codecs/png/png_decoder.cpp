// PNG decoder.
//
// Output formats, chosen so that no sample loses precision:
//   palette 1 / 2 / 4 / 8 bits    1bppIndexed / 4bppIndexed (2-bit indices
//                                 widened) / 4bppIndexed / 8bppIndexed, with
//                                 the PLTE colours, alpha from tRNS
//   gray 1 / 2 / 4 / 8 bits       the same indexed formats over a gray ramp
//   gray 1..8 + tRNS, gray+alpha 8, RGB 8 + tRNS, RGBA 8    32bppARGB
//   RGB 8                         24bppRGB
//   gray 16, RGB 16               48bppRGB (the exact 16-bit samples)
//   gray+alpha 16, RGBA 16, gray 16 + tRNS, RGB 16 + tRNS   64bppARGB
// libpng's transforms turn the big-endian RGB(A) samples into the surface's
// little-endian B, G, R(, A) order, so rows are decoded straight into the
// surface; interlaced images go through libpng's pass handling.
//
// Metadata: pHYs in pixels per metre gives the resolution (96 dpi otherwise),
// gAMA the gamma property, and the text chunks with a known keyword ASCII
// properties, iCCP the colour profile property 0x8773. All other ancillary
// chunks are skipped unread by libpng.
#include <algorithm>
#include <csetjmp>
#include <cstdlib>
#include <cstring>
#include <new>

#include "png_codec.h"
#include "raster/guard.h"
#include "raster/limits.h"

namespace korvex::raster::png {

namespace {

// Bytes being read: libpng pulls from here through read_bytes().
struct Input {
  const uint8_t* data;
  size_t size;
  size_t pos;
};

// What the header pass learns from the chunks before the image data.
struct Header {
  png_uint_32 width;
  png_uint_32 height;
  int bit_depth;
  int color_type;
  int interlace;
  png_color palette[256];
  int num_palette;
  png_byte trans_alpha[256];
  int num_trans;  // palette entries with alpha from tRNS
  bool has_trns;  // tRNS present (any colour type)
  bool has_phys;
  png_uint_32 ppm_x;
  png_uint_32 ppm_y;
  int phys_unit;
  bool has_gamma;
  png_fixed_point gamma;
};

// Transformations asked of libpng for the chosen output format.
enum Transform : unsigned {
  kExpand = 1,     // tRNS to an alpha channel, low-depth gray to 8 bits
  kGrayToRgb = 2,  // replicate gray into R, G, B
  kBgr = 4,        // RGB(A) to the surface's B, G, R(, A)
  kSwap16 = 8,     // 16-bit samples to little-endian
};

// All the plain data of one decode, shared with the setjmp frames below.
struct Job {
  png_structp png;
  png_infop info;
  Input input;
  Header header;
  unsigned transforms;
  uint8_t* scan0;
  std::ptrdiff_t stride;
  size_t row_capacity;  // bytes a surface row can take
};

void read_bytes(png_structp png, png_bytep out, size_t n) {
  Input* in = static_cast<Input*>(png_get_io_ptr(png));
  if (in == nullptr || n > in->size - in->pos) png_error(png, "unexpected end of data");
  std::memcpy(out, in->data + in->pos, n);
  in->pos += n;
}

// Walks the chunk lengths up to IEND. libpng allocates some chunks (iTXt,
// unknown ones) at their declared length before reading them, so a length
// running past the end of the data is refused here, before any allocation.
// `idat` gets the bytes of compressed image data the chunks hold.
bool chunk_lengths_fit(const uint8_t* data, size_t size, uint64_t& idat) {
  size_t pos = sizeof kSignature;
  idat = 0;
  while (size - pos >= 8) {
    const uint32_t length = uint32_t{data[pos]} << 24 | uint32_t{data[pos + 1]} << 16 |
                            uint32_t{data[pos + 2]} << 8 | data[pos + 3];
    if (length > size - pos - 8 || size - pos - 8 - length < 4) return false;
    if (std::memcmp(data + pos + 4, "IEND", 4) == 0) break;
    if (std::memcmp(data + pos + 4, "IDAT", 4) == 0) idat += length;
    pos += 12 + size_t{length};
  }
  return true;
}

// Bytes the image data inflates to: per row a filter byte and the packed
// samples (an interlaced image has a few more rows, in its passes).
uint64_t inflated_size(const Header& h) {
  const int channels = h.color_type == PNG_COLOR_TYPE_RGB         ? 3
                       : h.color_type == PNG_COLOR_TYPE_RGB_ALPHA ? 4
                       : h.color_type == PNG_COLOR_TYPE_GRAY_ALPHA ? 2
                                                                   : 1;
  const uint64_t row_bits = uint64_t{h.width} * static_cast<uint64_t>(channels * h.bit_depth);
  const uint64_t row = 1 + (row_bits + 7) / 8;  // below 2^35: width < 2^31, 64 bits a pixel
  return row > UINT64_MAX / std::max<uint64_t>(h.height, 1) ? UINT64_MAX : row * h.height;
}

// Reads the chunks up to the first IDAT. Plain C data only: libpng may jump
// back here. Returns false when the file is corrupt.
bool read_header(Job* job) {
  png_structp png = job->png;
  png_infop info = job->info;
  if (setjmp(png_jmpbuf(png))) return false;

  png_set_read_fn(png, &job->input, read_bytes);
  // PNG allows up to 2^31 - 1 pixels a side; the pixel memory limit is what
  // decides whether a picture is too big, not libpng's default of a million.
  png_set_user_limits(png, 0x7FFFFFFF, 0x7FFFFFFF);
  // Bounds the memory of text: a text chunk, or a compressed text once
  // inflated, is kept only up to 8 MiB (larger ones are dropped), and at most
  // 31 text chunks are kept.
  png_set_chunk_malloc_max(png, 8u << 20);
  png_set_chunk_cache_max(png, 32);
  // Only the chunks that become pixels or metadata are processed; libpng
  // skips the others (colour profiles, histograms, suggested palettes...).
  png_set_keep_unknown_chunks(png, PNG_HANDLE_CHUNK_NEVER, nullptr, -1);
  static const png_byte kWanted[] = "pHYs\0gAMA\0tEXt\0zTXt\0iTXt\0iCCP";
  png_set_keep_unknown_chunks(png, PNG_HANDLE_CHUNK_AS_DEFAULT, kWanted, 6);

#ifdef FUZZING_BUILD_MODE_UNSAFE_FOR_PRODUCTION
  // Fuzzing builds skip the checksums, so that mutated files get past them.
  png_set_crc_action(png, PNG_CRC_QUIET_USE, PNG_CRC_QUIET_USE);
  png_set_option(png, PNG_IGNORE_ADLER32, PNG_OPTION_ON);
#endif

  png_read_info(png, info);

  Header* h = &job->header;
  int compression = 0, filter = 0;
  png_get_IHDR(png, info, &h->width, &h->height, &h->bit_depth, &h->color_type, &h->interlace,
               &compression, &filter);

  h->num_palette = 0;
  png_colorp palette = nullptr;
  if (png_get_PLTE(png, info, &palette, &h->num_palette) != 0 && palette != nullptr) {
    if (h->num_palette > 256) h->num_palette = 256;
    if (h->num_palette < 0) h->num_palette = 0;
    std::memcpy(h->palette, palette, sizeof(png_color) * static_cast<size_t>(h->num_palette));
  } else {
    h->num_palette = 0;
  }

  h->num_trans = 0;
  h->has_trns = false;
  png_bytep trans = nullptr;
  int num_trans = 0;
  if (png_get_tRNS(png, info, &trans, &num_trans, nullptr) != 0) {
    h->has_trns = true;
    if (h->color_type == PNG_COLOR_TYPE_PALETTE && trans != nullptr) {
      if (num_trans > 256) num_trans = 256;
      if (num_trans < 0) num_trans = 0;
      h->num_trans = num_trans;
      std::memcpy(h->trans_alpha, trans, static_cast<size_t>(num_trans));
    }
  }

  h->has_phys = png_get_pHYs(png, info, &h->ppm_x, &h->ppm_y, &h->phys_unit) != 0;
  h->has_gamma = png_get_gAMA_fixed(png, info, &h->gamma) != 0;
  return true;
}

// Decodes the image data into the surface rows and reads the chunks after it.
// Plain C data only: libpng may jump back here. Returns false when the data
// is corrupt or truncated.
bool read_pixels(Job* job) {
  png_structp png = job->png;
  png_infop info = job->info;
  if (setjmp(png_jmpbuf(png))) return false;

  const unsigned t = job->transforms;
  if (t & kExpand) png_set_expand(png);
  if (t & kGrayToRgb) png_set_gray_to_rgb(png);
  if (t & kBgr) png_set_bgr(png);
  if (t & kSwap16) png_set_swap(png);
  const int passes = png_set_interlace_handling(png);
  png_read_update_info(png, info);
  if (png_get_rowbytes(png, info) > job->row_capacity) png_error(png, "row too long");

  const png_uint_32 height = job->header.height;
  for (int pass = 0; pass < passes; ++pass) {
    uint8_t* row = job->scan0;
    for (png_uint_32 y = 0; y < height; ++y, row += job->stride) png_read_row(png, row, nullptr);
  }
  png_read_end(png, info);
  return true;
}

// Spreads 2-bit indices (four a byte) into 4-bit ones (two a byte), in place.
// Works from the end of the row, where the output never overtakes the input
// still to be read; the surface row has room for the wider pixels.
void widen_2bit_row(uint8_t* row, int32_t width) {
  const int32_t in_bytes = (width + 3) / 4;
  for (int32_t i = in_bytes - 1; i >= 0; --i) {
    const unsigned b = row[i];
    row[2 * i] = static_cast<uint8_t>(((b >> 6) & 3) << 4 | ((b >> 4) & 3));
    row[2 * i + 1] = static_cast<uint8_t>(((b >> 2) & 3) << 4 | (b & 3));
  }
}

Palette gray_palette(int bit_depth) {
  Palette p;
  p.flags = Palette::kGrayScale;
  const int levels = 1 << bit_depth;
  const int step = 255 / (levels - 1);
  p.entries.resize(static_cast<size_t>(levels));
  for (int i = 0; i < levels; ++i) {
    const uint32_t v = static_cast<uint32_t>(i * step);
    p.entries[static_cast<size_t>(i)] = 0xFF000000u | v << 16 | v << 8 | v;
  }
  return p;
}

Palette color_palette(const Header& h, size_t capacity) {
  Palette p;
  const size_t n = std::min(static_cast<size_t>(h.num_palette), capacity);
  p.entries.resize(n);
  for (size_t i = 0; i < n; ++i) {
    const uint32_t a = i < static_cast<size_t>(h.num_trans) ? h.trans_alpha[i] : 0xFFu;
    if (a != 0xFF) p.flags |= Palette::kHasAlpha;
    p.entries[i] = a << 24 | uint32_t{h.palette[i].red} << 16 | uint32_t{h.palette[i].green} << 8 |
                   h.palette[i].blue;
  }
  return p;
}

// Chooses the surface format and the libpng transforms that fill it.
PixelFormat choose_format(const Header& h, unsigned& transforms) {
  transforms = 0;
  const bool deep = h.bit_depth == 16;
  switch (h.color_type) {
    case PNG_COLOR_TYPE_PALETTE:
      return h.bit_depth == 1   ? pf::k1bppIndexed
             : h.bit_depth == 8 ? pf::k8bppIndexed
                                : pf::k4bppIndexed;
    case PNG_COLOR_TYPE_GRAY:
      if (!h.has_trns) {
        if (deep) {
          transforms = kGrayToRgb | kSwap16;
          return pf::k48bppRGB;
        }
        return h.bit_depth == 1   ? pf::k1bppIndexed
               : h.bit_depth == 8 ? pf::k8bppIndexed
                                  : pf::k4bppIndexed;
      }
      transforms = kExpand | kGrayToRgb | (deep ? kSwap16 : 0u);
      return deep ? pf::k64bppARGB : pf::k32bppARGB;
    case PNG_COLOR_TYPE_GRAY_ALPHA:
      transforms = kGrayToRgb | (deep ? kSwap16 : 0u);
      return deep ? pf::k64bppARGB : pf::k32bppARGB;
    case PNG_COLOR_TYPE_RGB:
      transforms = kBgr | (deep ? kSwap16 : 0u);
      if (h.has_trns) {
        transforms |= kExpand;
        return deep ? pf::k64bppARGB : pf::k32bppARGB;
      }
      return deep ? pf::k48bppRGB : pf::k24bppRGB;
    case PNG_COLOR_TYPE_RGB_ALPHA:
      transforms = kBgr | (deep ? kSwap16 : 0u);
      return deep ? pf::k64bppARGB : pf::k32bppARGB;
    default:
      return pf::kUndefined;
  }
}

PropertyItem ascii_item(uint32_t id, const char* text) {
  PropertyItem item;
  item.id = id;
  item.type = ptype::kAscii;
  const size_t n = std::strlen(text);
  item.value.assign(text, text + n);
  item.value.push_back(0);
  return item;
}

void put_u32(std::vector<uint8_t>& v, uint32_t x) {
  for (int i = 0; i < 4; ++i) v.push_back(static_cast<uint8_t>(x >> (8 * i)));
}

void collect_metadata(png_structp png, png_infop info, const Header& h, Frame& frame) {
  if (h.has_phys && h.phys_unit == PNG_RESOLUTION_METER) {
    if (h.ppm_x > 0) frame.dpi_x = static_cast<float>(h.ppm_x * 0.0254);
    if (h.ppm_y > 0) frame.dpi_y = static_cast<float>(h.ppm_y * 0.0254);
  }
  if (h.has_gamma && h.gamma > 0) {
    PropertyItem item;
    item.id = kTagGamma;
    item.type = ptype::kRational;
    put_u32(item.value, static_cast<uint32_t>(h.gamma));
    put_u32(item.value, 100000);
    frame.properties.push_back(std::move(item));
  }
  png_charp icc_name = nullptr;
  int icc_compression = 0;
  png_bytep icc = nullptr;
  png_uint_32 icc_size = 0;
  if (png_get_iCCP(png, info, &icc_name, &icc_compression, &icc, &icc_size) != 0 &&
      icc != nullptr && icc_size > 0) {
    PropertyItem item;
    item.id = kTagIccProfile;
    item.type = ptype::kUndefined;
    item.value.assign(icc, icc + icc_size);
    frame.properties.push_back(std::move(item));
  }
  png_textp text = nullptr;
  int count = 0;
  png_get_text(png, info, &text, &count);
  for (int i = 0; i < count && text != nullptr; ++i) {
    if (text[i].key == nullptr || text[i].text == nullptr) continue;
    for (const TextKey& k : kTextKeys) {
      if (std::strcmp(text[i].key, k.keyword) != 0) continue;
      // The first chunk with a keyword wins.
      bool seen = false;
      for (const PropertyItem& p : frame.properties) seen = seen || p.id == k.id;
      if (!seen) frame.properties.push_back(ascii_item(k.id, text[i].text));
    }
  }
}

// Releases the png structs of a decode whatever happens.
struct ReadStructs {
  png_structp png = nullptr;
  png_infop info = nullptr;
  ~ReadStructs() {
    if (png != nullptr) png_destroy_read_struct(&png, info != nullptr ? &info : nullptr, nullptr);
  }
};

Status decode_png(const EncodedBytes& in, std::unique_ptr<Image>& out) {
  if (!sniff(in.data, in.size)) return Status::UnknownImageFormat;
  uint64_t idat = 0;
  if (!chunk_lengths_fit(in.data, in.size, idat)) return Status::GenericError;
  ReadStructs structs;
  structs.png =
      png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, on_png_error, on_png_warning);
  if (structs.png == nullptr) return Status::OutOfMemory;
  structs.info = png_create_info_struct(structs.png);
  if (structs.info == nullptr) return Status::OutOfMemory;

  // Zeroed, on the heap: the setjmp frames reach it only through a pointer.
  auto job = std::make_unique<Job>();
  job->png = structs.png;
  job->info = structs.info;
  job->input = Input{in.data, in.size, 0};
  if (!read_header(job.get())) return Status::GenericError;

  const Header& h = job->header;
  if (h.width == 0 || h.height == 0 || h.width > 0x7FFFFFFF || h.height > 0x7FFFFFFF) {
    return Status::GenericError;
  }
  unsigned transforms = 0;
  const PixelFormat f = choose_format(h, transforms);
  if (f == pf::kUndefined || (h.bit_depth != 1 && h.bit_depth != 2 && h.bit_depth != 4 &&
                              h.bit_depth != 8 && h.bit_depth != 16)) {
    return Status::GenericError;
  }
  if (h.color_type == PNG_COLOR_TYPE_PALETTE && h.num_palette == 0) return Status::GenericError;
  // A small file declaring a huge picture is refused before its pixels are
  // allocated or inflated.
  if (!inflate_allowed(idat, inflated_size(h))) return Status::OutOfMemory;

  Frame frame;
  if (Status s = allocate_surface(static_cast<int32_t>(h.width), static_cast<int32_t>(h.height), f,
                                  frame.pixels);
      s != Status::Ok) {
    return s;
  }
  if (h.color_type == PNG_COLOR_TYPE_PALETTE) {
    frame.pixels.palette = color_palette(h, size_t{1} << bits_per_pixel(f));
  } else if (is_indexed(f)) {
    frame.pixels.palette = gray_palette(h.bit_depth);
  }

  job->transforms = transforms;
  job->scan0 = frame.pixels.scan0;
  job->stride = frame.pixels.stride;
  job->row_capacity = static_cast<size_t>(frame.pixels.stride);
  if (!read_pixels(job.get())) return Status::GenericError;

  if (h.bit_depth == 2) {
    for (int32_t y = 0; y < frame.pixels.height; ++y) {
      widen_2bit_row(frame.pixels.row(y), frame.pixels.width);
    }
  }
  collect_metadata(structs.png, structs.info, h, frame);

  std::vector<Frame> frames;
  frames.push_back(std::move(frame));
  out =
      Image::from_frames(std::move(frames), guids::kFrameDimensionPage, guids::kFormatPng, nullptr);
  return Status::Ok;
}

}  // namespace

Status decode(const EncodedBytes& in, std::unique_ptr<Image>& out) {
  return guarded([&] { return decode_png(in, out); });
}

}  // namespace korvex::raster::png
