// Device-independent bitmaps: the part of a BMP file after its 14-byte file
// header, which is also how icon entries store their pixels and how the
// clipboard and scanners hand pictures over (packed DIBs). The one reader and
// writer of them: the BMP and ICO codecs and the engine's packed DIBs all go
// through here. The info header in its historical sizes, the colour table,
// and the pixel array in every depth and compression the decoders accept.
//
// Nothing here trusts the data: sizes are checked against the bytes given
// and against the pixel memory limit before any pixel memory is touched.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>

#include "raster/codec.h"
#include "raster/image.h"
#include "raster/types.h"

namespace korvex::raster::dib {

// Values of the compression field.
inline constexpr uint32_t kRgb = 0;
inline constexpr uint32_t kRle8 = 1;
inline constexpr uint32_t kRle4 = 2;
inline constexpr uint32_t kBitfields = 3;
inline constexpr uint32_t kJpeg = 4;
inline constexpr uint32_t kPng = 5;
inline constexpr uint32_t kAlphaBitfields = 6;

// Header sizes with a fixed meaning; 16..64 other than 40, 52 and 56 are the
// OS/2 2.x header, cut short after any of its fields.
inline constexpr uint32_t kCoreHeader = 12;  // OS/2 1.x: 16-bit sizes, RGB triples
inline constexpr uint32_t kInfoHeader = 40;
inline constexpr uint32_t kV2Header = 52;   // + red, green, blue masks
inline constexpr uint32_t kV3Header = 56;   // + alpha mask
inline constexpr uint32_t kV4Header = 108;  // + colour space and gamma
inline constexpr uint32_t kV5Header = 124;  // + rendering intent and profile

// How the stored pixels become the decoded ones.
enum class Layout {
  kIndexed,   // 1/4/8-bit indices copied as they are
  kRle,       // RLE8 / RLE4 runs expanded into 8/4-bit indices
  kCopy16,    // 16-bit pixels whose masks match the output format
  kCopy24,    // B, G, R
  kCopy32,    // B, G, R, A kept (32bppARGB output)
  kOpaque32,  // B, G, R, x with the fourth byte replaced by 0xFF (32bppRGB output)
  kMasked,    // arbitrary 16/32-bit masks, each field scaled to 8 bits
};

struct Info {
  uint32_t header_size = 0;
  int32_t width = 0;
  int32_t height = 0;  // number of rows, always > 0
  bool top_down = false;
  uint16_t planes = 1;
  uint16_t bit_count = 0;
  uint32_t compression = kRgb;
  // Channel masks in effect for 16/32-bit pixels (the defaults for kRgb).
  uint32_t red_mask = 0;
  uint32_t green_mask = 0;
  uint32_t blue_mask = 0;
  uint32_t alpha_mask = 0;
  int32_t ppm_x = 0;  // pels per metre
  int32_t ppm_y = 0;
  uint32_t colors_used = 0;  // as declared, before any limit
  // Colour table: where it starts (from the start of the info header), the
  // number of entries declared (already limited to 2^bits) and their size.
  size_t table_offset = 0;
  uint32_t table_entries = 0;
  uint32_t entry_size = 4;
  // How the pixels are decoded, and into which stored format.
  Layout layout = Layout::kIndexed;
  PixelFormat format = pf::kUndefined;
};

// Parses the info header at the start of `p` (`n` bytes from there on).
// GenericError for a malformed header, NotImplemented for a valid variant that
// is not decoded (JPEG or PNG payloads, OS/2 Huffman and RLE24, CMYK, 2 and
// 64 bits). With `keep_alpha`, 32-bit BI_RGB pixels keep their fourth byte as
// alpha (32bppARGB) instead of being read as opaque.
Status parse_header(const uint8_t* p, size_t n, bool keep_alpha, Info& out);

// Reads the colour table, at most `limit` bytes from the info header start
// (entries that do not fit are dropped). Entries are opaque.
Palette read_palette(const Info& info, const uint8_t* p, size_t limit);

// Bytes of one stored row (padded to four bytes), and of the whole array
// when the last row may lack its padding. 64-bit: cannot overflow for any
// 32-bit width; the second saturates at SIZE_MAX.
uint64_t stored_stride(const Info& info);
uint64_t minimum_array_size(const Info& info);

// OutOfMemory when a surface of this size and format would exceed the pixel
// count or pixel memory limit (checked before allocating, and before the data length so
// that huge declared pictures are reported as such).
Status check_pixel_limit(int32_t width, int32_t height, PixelFormat f);

// Decodes the pixel array (`n` bytes at `px`) into `dst`, already allocated
// with info.format and info.width x info.height. GenericError when the array
// is too short (compressed streams: when it stops before the last row).
Status decode_pixels(const Info& info, const uint8_t* px, size_t n, Surface& dst);

// dpi for a pels-per-metre pair; 96 unless both are positive.
void resolution(const Info& info, float& dpi_x, float& dpi_y);

// Packed DIBs: info header, masks, colour table and rows back to back in one
// block. Such blocks come from programs, not files, so they are held to the
// format's own rules, stricter than the BMP file reader: one plane; bit-field
// masks that are contiguous, inside the pixel, and do not overlap; a declared
// colour count the depth can address (at most 256 beyond 8 bits); the table
// and every padded row inside the block. GenericError for a block that breaks them (the
// size check comes before the pixel memory limit: a picture larger than its
// block is a bad block), NotImplemented for variants that are not read here
// (headers under 40 bytes, run-length and alpha-bitfield compressions, and
// what parse_header does not decode), OutOfMemory past the limit. The image
// keeps 96 dpi: `info.ppm_x` / `ppm_y` carry the stored resolution, for the
// caller to apply by its own rounding.
Status read_packed(const uint8_t* p, size_t n, std::unique_ptr<Image>& out, Info& info);

// The one DIB writer: the 40-byte info header, the three 5-6-5 masks when the
// rows are 16bppRGB565 (BI_BITFIELDS), the colour table of indexed rows (the
// palette cut to what the depth addresses; an empty one written as black
// entries, since 0 colours would mean 2^bits), then the rows bottom-up, each
// padded with zeros to four bytes. Resolution in pels per metre, rounded.
struct WriteOptions {
  // Format of the stored rows: 1/4/8bppIndexed (only from an image in that
  // format), 16bppRGB555, 16bppRGB565, 24bppRGB, 32bppRGB or 32bppARGB; the
  // image's pixels are converted to it. 32bppRGB rows store 0xFF in the
  // fourth byte, so readers taking it as alpha see them opaque.
  PixelFormat rows = pf::kUndefined;
  // Precede the DIB with the 14-byte BMP file header (a .bmp file).
  bool file_header = false;
  // For 32-bit rows: composite every pixel over this opaque colour (ARGB), so
  // that readers of a device bitmap see the picture as it would show there.
  std::optional<uint32_t> background;
};
// InvalidParameter for an empty image or rows it cannot be stored in;
// ValueOverflow past the 4 GiB that the 32-bit size fields describe; the
// sink's error when a write fails.
Status write(Image& img, const WriteOptions& options, ByteSink& out);

// A 32bppARGB colour composited over an opaque background, each channel
// (c * a + b * (255 - a)) / 255 rounded; the result is opaque.
inline uint32_t opaque_over(uint32_t argb, uint32_t background) {
  const uint32_t a = argb >> 24;
  if (a == 255) return argb;
  uint32_t out = 0xFF000000u;
  for (int shift = 0; shift <= 16; shift += 8) {
    const uint32_t c = (argb >> shift) & 0xFF, b = (background >> shift) & 0xFF;
    out |= ((c * a + b * (255 - a) + 127) / 255) << shift;
  }
  return out;
}

// Little-endian field access.
inline uint16_t u16(const uint8_t* p) {
  return static_cast<uint16_t>(p[0] | (p[1] << 8));
}
inline uint32_t u32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
         (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24);
}
inline int32_t i32(const uint8_t* p) {
  return static_cast<int32_t>(u32(p));
}
inline void put16(uint8_t* p, uint32_t v) {
  p[0] = static_cast<uint8_t>(v);
  p[1] = static_cast<uint8_t>(v >> 8);
}
inline void put32(uint8_t* p, uint32_t v) {
  p[0] = static_cast<uint8_t>(v);
  p[1] = static_cast<uint8_t>(v >> 8);
  p[2] = static_cast<uint8_t>(v >> 16);
  p[3] = static_cast<uint8_t>(v >> 24);
}

}  // namespace korvex::raster::dib
