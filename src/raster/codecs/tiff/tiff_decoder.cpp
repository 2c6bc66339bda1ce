// TIFF decoder: every directory is a page. The first page is decoded at load,
// the others when they are selected.
//
// Common layouts are decoded directly from strips or tiles (contiguous or
// separate planes) into the page's surface, keeping their depth:
//   bilevel, 4- and 8-bit gray, palette      -> 1/4/8bppIndexed (2-bit widened to 4)
//   16-bit gray                              -> 48bppRGB
//   8-bit RGB / RGBA / gray + alpha          -> 24bppRGB / 32bpp(P)ARGB
//   16-bit RGB / RGBA / gray + alpha         -> 48bppRGB / 64bpp(P)ARGB
// 16-bit samples are kept exactly. Everything else (CMYK, YCbCr, JPEG-in-
// YCbCr, Lab, odd depths...) goes through libtiff's RGBA reader into
// 32bppARGB.
#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <limits>
#include <new>
#include <utility>
#include <vector>

#include "raster/codecs/ifd/ifd.h"
#include "raster/codecs/tiff/tiff_pages.h"
#include "raster/convert.h"
#include "raster/guard.h"

namespace korvex::raster::tiffcodec {

namespace {

constexpr uint32_t kMaxPages = 65535;

uint64_t bits_to_bytes(uint64_t bits) {
  return (bits + 7) / 8;
}

Palette gray_ramp(int levels, bool min_is_white) {
  Palette p;
  p.flags = Palette::kGrayScale;
  for (int i = 0; i < levels; ++i) {
    uint32_t v = static_cast<uint32_t>(i * 255 / (levels - 1));
    if (min_is_white) v = 255 - v;
    p.entries.push_back(0xFF000000u | v << 16 | v << 8 | v);
  }
  return p;
}

// The colormap as a palette. Entries are 16-bit; files whose entries all fit
// in 8 bits were written with 8-bit values (an old writers' habit) and are
// read as such, as other TIFF readers do.
bool colormap_palette(TIFF* tif, uint16_t bps, Palette& out) {
  uint16_t* r = nullptr;
  uint16_t* g = nullptr;
  uint16_t* b = nullptr;
  if (TIFFGetField(tif, TIFFTAG_COLORMAP, &r, &g, &b) != 1 || !r || !g || !b) return false;
  const size_t n = size_t{1} << bps;
  bool eight_bit = true;
  for (size_t i = 0; i < n; ++i) {
    if (r[i] > 255 || g[i] > 255 || b[i] > 255) {
      eight_bit = false;
      break;
    }
  }
  const int shift = eight_bit ? 0 : 8;
  out.flags = 0;
  out.entries.resize(n);
  for (size_t i = 0; i < n; ++i) {
    out.entries[i] = 0xFF000000u | static_cast<uint32_t>(r[i] >> shift) << 16 |
                     static_cast<uint32_t>(g[i] >> shift) << 8 | (b[i] >> shift);
  }
  return true;
}

// Index of the alpha sample after `colors` colour samples, -1 when none.
// Follows libtiff's reading: an unspecified extra sample counts as
// associated alpha when there are more than three samples, and RGB with four
// samples and no ExtraSamples tag has associated alpha.
int alpha_sample(TIFF* tif, int colors, uint16_t spp, uint16_t photometric, bool& associated) {
  uint16_t count = 0;
  uint16_t* types = nullptr;
  associated = false;
  if (TIFFGetField(tif, TIFFTAG_EXTRASAMPLES, &count, &types) == 1 && count > 0 && types) {
    if (spp <= colors) return -1;
    switch (types[0]) {
      case EXTRASAMPLE_ASSOCALPHA:
        associated = true;
        return colors;
      case EXTRASAMPLE_UNASSALPHA:
        return colors;
      case EXTRASAMPLE_UNSPECIFIED:
        if (spp > 3) {
          associated = true;
          return colors;
        }
        return -1;
      default:
        return -1;
    }
  }
  if (photometric == PHOTOMETRIC_RGB && spp == 4) {
    associated = true;
    return 3;
  }
  return -1;
}

}  // namespace

Status plan_page(TIFF* tif, PagePlan& p) {
  uint32_t w = 0, h = 0;
  if (TIFFGetField(tif, TIFFTAG_IMAGEWIDTH, &w) != 1 ||
      TIFFGetField(tif, TIFFTAG_IMAGELENGTH, &h) != 1) {
    return Status::GenericError;
  }
  const uint32_t most = static_cast<uint32_t>(std::numeric_limits<int32_t>::max());
  if (w == 0 || h == 0 || w > most || h > most) return Status::GenericError;
  p.width = w;
  p.height = h;

  uint16_t bps = 1, spp = 1, planar = PLANARCONFIG_CONTIG, sample_format = SAMPLEFORMAT_UINT;
  uint16_t compression = COMPRESSION_NONE, photometric = 0;
  TIFFGetFieldDefaulted(tif, TIFFTAG_BITSPERSAMPLE, &bps);
  TIFFGetFieldDefaulted(tif, TIFFTAG_SAMPLESPERPIXEL, &spp);
  TIFFGetFieldDefaulted(tif, TIFFTAG_PLANARCONFIG, &planar);
  TIFFGetFieldDefaulted(tif, TIFFTAG_SAMPLEFORMAT, &sample_format);
  TIFFGetFieldDefaulted(tif, TIFFTAG_COMPRESSION, &compression);
  const bool has_photometric = TIFFGetField(tif, TIFFTAG_PHOTOMETRIC, &photometric) == 1;
  p.bps = bps;
  p.spp = spp;
  p.separate = planar == PLANARCONFIG_SEPARATE && spp > 1;
  p.layout = Layout::Rgba;
  p.format = pf::k32bppARGB;

  const bool plain_samples =
      sample_format == SAMPLEFORMAT_UINT || sample_format == SAMPLEFORMAT_VOID;
  if (!has_photometric || !plain_samples || spp == 0 || compression == COMPRESSION_OJPEG) {
    return Status::Ok;
  }
  const bool gray = photometric == PHOTOMETRIC_MINISBLACK || photometric == PHOTOMETRIC_MINISWHITE;
  const bool min_is_white = photometric == PHOTOMETRIC_MINISWHITE;

  if ((gray || photometric == PHOTOMETRIC_PALETTE) && spp == 1 && bps <= 8) {
    if (bps != 1 && bps != 2 && bps != 4 && bps != 8) return Status::Ok;
    if (photometric == PHOTOMETRIC_PALETTE) {
      if (!colormap_palette(tif, bps, p.palette)) return Status::Ok;
    } else {
      p.palette = gray_ramp(1 << bps, min_is_white);
    }
    p.layout = bps == 2 ? Layout::Widen2To4 : Layout::Indexed;
    p.format = bps == 1 ? pf::k1bppIndexed : bps == 8 ? pf::k8bppIndexed : pf::k4bppIndexed;
    return Status::Ok;
  }

  if ((gray || photometric == PHOTOMETRIC_RGB) && (bps == 8 || bps == 16)) {
    const int colors = gray ? 1 : 3;
    if (spp < colors) return Status::Ok;
    bool associated = false;
    const int alpha = alpha_sample(tif, colors, spp, photometric, associated);
    // Gray with extra samples that are not alpha is left to libtiff.
    if (gray && spp > 1 && alpha < 0) return Status::Ok;
    p.colors = colors;
    p.alpha = alpha;
    p.invert = min_is_white;
    if (bps == 8) {
      p.layout = Layout::Color8;
      p.format = alpha < 0 ? pf::k24bppRGB : associated ? pf::k32bppPARGB : pf::k32bppARGB;
    } else {
      p.layout = Layout::Color16;
      p.format = alpha < 0 ? pf::k48bppRGB : associated ? pf::k64bppPARGB : pf::k64bppARGB;
    }
  }
  return Status::Ok;
}

namespace {

inline uint16_t load16(const uint8_t* p) {
  uint16_t v;
  std::memcpy(&v, p, 2);  // libtiff hands out samples in host order
  return v;
}
inline void store16le(uint8_t* p, uint16_t v) {
  p[0] = static_cast<uint8_t>(v);
  p[1] = static_cast<uint8_t>(v >> 8);
}

// One row of contiguous samples to 24/32bpp (B, G, R[, A]).
template <int kColors, bool kAlpha>
void color8_row(const uint8_t* src, uint8_t* dst, uint32_t width, int spp, int alpha, bool invert) {
  const uint8_t flip = invert ? 0xFF : 0x00;
  constexpr int kOut = kAlpha ? 4 : 3;
  for (uint32_t x = 0; x < width; ++x, src += spp, dst += kOut) {
    if constexpr (kColors == 3) {
      dst[0] = src[2];
      dst[1] = src[1];
      dst[2] = src[0];
    } else {
      const uint8_t v = src[0] ^ flip;
      dst[0] = dst[1] = dst[2] = v;
    }
    if constexpr (kAlpha) dst[3] = src[alpha];
  }
}

// One row of contiguous 16-bit samples to 48/64bpp (B, G, R[, A], little-endian).
template <int kColors, bool kAlpha>
void color16_row(const uint8_t* src, uint8_t* dst, uint32_t width, int spp, int alpha,
                 bool invert) {
  const uint16_t flip = invert ? 0xFFFF : 0x0000;
  constexpr int kOut = kAlpha ? 8 : 6;
  const size_t step = static_cast<size_t>(spp) * 2;
  for (uint32_t x = 0; x < width; ++x, src += step, dst += kOut) {
    if constexpr (kColors == 3) {
      store16le(dst + 0, load16(src + 4));
      store16le(dst + 2, load16(src + 2));
      store16le(dst + 4, load16(src + 0));
    } else {
      const uint16_t v = load16(src) ^ flip;
      store16le(dst + 0, v);
      store16le(dst + 2, v);
      store16le(dst + 4, v);
    }
    if constexpr (kAlpha) store16le(dst + 6, load16(src + 2 * alpha));
  }
}

void convert_row(const PagePlan& p, const uint8_t* src, uint8_t* dst) {
  const int spp = p.spp;
  const bool a = p.alpha >= 0;
  switch (p.layout) {
    case Layout::Indexed:
      std::memcpy(dst, src, static_cast<size_t>(bits_to_bytes(uint64_t{p.width} * p.bps)));
      break;
    case Layout::Widen2To4:
      for (uint32_t x = 0; x < p.width; x += 2) {
        const uint8_t byte = src[x >> 2];
        const int shift = 6 - 2 * static_cast<int>(x & 3);  // x is even: shift is 6 or 2
        const uint8_t hi = (byte >> shift) & 3;
        const uint8_t lo = (byte >> (shift - 2)) & 3;
        dst[x >> 1] = static_cast<uint8_t>(hi << 4 | lo);
      }
      break;
    case Layout::Color8:
      if (p.colors == 3) {
        a ? color8_row<3, true>(src, dst, p.width, spp, p.alpha, false)
          : color8_row<3, false>(src, dst, p.width, spp, p.alpha, false);
      } else {
        a ? color8_row<1, true>(src, dst, p.width, spp, p.alpha, p.invert)
          : color8_row<1, false>(src, dst, p.width, spp, p.alpha, p.invert);
      }
      break;
    case Layout::Color16:
      if (p.colors == 3) {
        a ? color16_row<3, true>(src, dst, p.width, spp, p.alpha, false)
          : color16_row<3, false>(src, dst, p.width, spp, p.alpha, false);
      } else {
        a ? color16_row<1, true>(src, dst, p.width, spp, p.alpha, p.invert)
          : color16_row<1, false>(src, dst, p.width, spp, p.alpha, p.invert);
      }
      break;
    case Layout::Rgba:
      break;
  }
}

// Buffers for decoding are held to the pixel memory limit like the surface.
Status reserve(std::vector<uint8_t>& buf, uint64_t bytes) {
  if (bytes > pixel_memory_limit() || bytes > std::numeric_limits<size_t>::max() / 2) {
    return Status::OutOfMemory;
  }
  buf.assign(static_cast<size_t>(bytes), 0);
  return Status::Ok;
}

}  // namespace

Status DirectRows::start(TIFF* tif, const PagePlan& p) {
  tif_ = tif;
  p_ = &p;
  const uint64_t pixel_bits = uint64_t{p.spp} * p.bps;
  row_bytes_ = bits_to_bytes(p.width * pixel_bits);
  if (TIFFIsTiled(tif)) {
    tiled_ = true;
    if (TIFFGetField(tif, TIFFTAG_TILEWIDTH, &tw_) != 1 ||
        TIFFGetField(tif, TIFFTAG_TILELENGTH, &th_) != 1 || tw_ == 0 || th_ == 0) {
      return Status::GenericError;
    }
    const uint64_t tile_pixel_bits = p.separate ? p.bps : pixel_bits;
    // Tile columns must start on byte boundaries for the copy below.
    if ((uint64_t{tw_} * tile_pixel_bits) % 8 != 0) return Status::NotImplemented;
    tile_row_bytes_ = uint64_t{tw_} * tile_pixel_bits / 8;
    tile_bytes_ = tile_row_bytes_ * th_;
    if (tile_bytes_ > static_cast<uint64_t>(std::numeric_limits<tmsize_t>::max())) {
      return Status::OutOfMemory;
    }
    band_rows_ = std::min(th_, p.height);
    if (Status st = reserve(band_, row_bytes_ * band_rows_); st != Status::Ok) return st;
    return reserve(plane_, tile_bytes_);
  }
  uint32_t rps = 0;
  TIFFGetFieldDefaulted(tif, TIFFTAG_ROWSPERSTRIP, &rps);
  if (rps == 0) return Status::GenericError;
  band_rows_ = std::min(rps, p.height);
  if (Status st = reserve(band_, row_bytes_ * band_rows_); st != Status::Ok) return st;
  plane_row_bytes_ = bits_to_bytes(uint64_t{p.width} * p.bps);
  if (p.separate) return reserve(plane_, plane_row_bytes_ * band_rows_);
  return Status::Ok;
}

// Decodes the band (one strip, or one row of tiles) that starts at row y0
// into contiguous rows of samples.
Status DirectRows::load(uint32_t y0) {
  const PagePlan& p = *p_;
  const uint64_t pixel_bits = uint64_t{p.spp} * p.bps;
  // Separate planes are only decoded directly with whole-byte samples.
  const uint64_t sample_bytes = p.bps / 8;
  const uint32_t rows = std::min(band_rows_, p.height - y0);
  if (tiled_) {
    const uint16_t planes = p.separate ? p.spp : 1;
    for (uint32_t x0 = 0; x0 < p.width; x0 += tw_) {
      const uint32_t cols = std::min(tw_, p.width - x0);
      for (uint16_t pl = 0; pl < planes; ++pl) {
        const uint32_t tile = TIFFComputeTile(tif_, x0, y0, 0, pl);
        const tmsize_t n =
            TIFFReadEncodedTile(tif_, tile, plane_.data(), static_cast<tmsize_t>(tile_bytes_));
        if (n < 0 || static_cast<uint64_t>(n) < tile_bytes_) return Status::GenericError;
        for (uint32_t r = 0; r < rows; ++r) {
          const uint8_t* from = plane_.data() + r * tile_row_bytes_;
          uint8_t* to = band_.data() + r * row_bytes_;
          if (!p.separate) {
            std::memcpy(to + x0 * pixel_bits / 8, from,
                        static_cast<size_t>(bits_to_bytes(cols * pixel_bits)));
          } else {
            uint8_t* out = to + (x0 * uint64_t{p.spp} + pl) * sample_bytes;
            const uint64_t step = uint64_t{p.spp} * sample_bytes;
            for (uint32_t c = 0; c < cols; ++c, from += sample_bytes, out += step) {
              std::memcpy(out, from, static_cast<size_t>(sample_bytes));
            }
          }
        }
      }
    }
  } else if (!p.separate) {
    const uint64_t want = row_bytes_ * rows;
    const tmsize_t n = TIFFReadEncodedStrip(tif_, TIFFComputeStrip(tif_, y0, 0), band_.data(),
                                            static_cast<tmsize_t>(want));
    if (n < 0 || static_cast<uint64_t>(n) < want) return Status::GenericError;
  } else {
    const uint64_t want = plane_row_bytes_ * rows;
    for (uint16_t pl = 0; pl < p.spp; ++pl) {
      const tmsize_t n = TIFFReadEncodedStrip(tif_, TIFFComputeStrip(tif_, y0, pl), plane_.data(),
                                              static_cast<tmsize_t>(want));
      if (n < 0 || static_cast<uint64_t>(n) < want) return Status::GenericError;
      const uint64_t step = uint64_t{p.spp} * sample_bytes;
      for (uint32_t r = 0; r < rows; ++r) {
        const uint8_t* from = plane_.data() + r * plane_row_bytes_;
        uint8_t* out = band_.data() + r * row_bytes_ + pl * sample_bytes;
        for (uint32_t x = 0; x < p.width; ++x, from += sample_bytes, out += step) {
          std::memcpy(out, from, static_cast<size_t>(sample_bytes));
        }
      }
    }
  }
  band_y0_ = y0;
  band_n_ = rows;
  return Status::Ok;
}

Status DirectRows::read(uint8_t* dst, ptrdiff_t stride, uint32_t rows) {
  for (uint32_t i = 0; i < rows && next_ < p_->height; ++i, ++next_) {
    if (next_ >= band_y0_ + band_n_) {
      if (Status st = load(next_); st != Status::Ok) return st;
    }
    convert_row(*p_, band_.data() + (next_ - band_y0_) * row_bytes_,
                dst + static_cast<ptrdiff_t>(i) * stride);
  }
  return Status::Ok;
}

namespace {

// libtiff's RGBA reader, in stored row order, into a 32bppARGB surface.
Status read_rgba(TIFF* tif, Surface& s) {
  char message[1024] = {};
  TIFFRGBAImage img;
  if (TIFFRGBAImageBegin(&img, tif, 0, message) != 1) return Status::GenericError;
  // Ask for the file's own orientation: rows come out as stored, like the
  // direct paths (the Orientation tag stays available as a property).
  img.req_orientation = img.orientation;
  // The surface is 32bpp with a stride of exactly width * 4, allocated by
  // calloc: a valid uint32_t raster.
  auto* raster = static_cast<uint32_t*>(static_cast<void*>(s.scan0));
  const int ok = TIFFRGBAImageGet(&img, raster, static_cast<uint32_t>(s.width),
                                  static_cast<uint32_t>(s.height));
  const bool alpha = img.alpha != 0;
  TIFFRGBAImageEnd(&img);
  if (ok != 1) return Status::GenericError;
  // libtiff packs R in the low byte and premultiplies alpha; we store B in the
  // low byte, unpremultiplied.
  const size_t count = static_cast<size_t>(s.width) * static_cast<size_t>(s.height);
  for (size_t i = 0; i < count; ++i) {
    uint32_t v;
    std::memcpy(&v, s.scan0 + 4 * i, 4);
    v = (v & 0xFF00FF00u) | (v & 0xFFu) << 16 | ((v >> 16) & 0xFFu);
    if (alpha && (v >> 24) != 0xFF) v = unpremultiply(v);
    std::memcpy(s.scan0 + 4 * i, &v, 4);
  }
  return Status::Ok;
}

}  // namespace

void read_resolution(TIFF* tif, float& dpi_x, float& dpi_y) {
  float xr = 0.0f, yr = 0.0f;
  uint16_t unit = RESUNIT_INCH;
  const bool has_x = TIFFGetField(tif, TIFFTAG_XRESOLUTION, &xr) == 1;
  const bool has_y = TIFFGetField(tif, TIFFTAG_YRESOLUTION, &yr) == 1;
  TIFFGetFieldDefaulted(tif, TIFFTAG_RESOLUTIONUNIT, &unit);
  if (!has_x && !has_y) return;
  if (!has_x) xr = yr;
  if (!has_y) yr = xr;
  const float scale = unit == RESUNIT_CENTIMETER ? 2.54f : 1.0f;
  auto usable = [](float v) { return std::isfinite(v) && v > 0.0f; };
  if (usable(xr * scale) && usable(yr * scale)) {
    dpi_x = xr * scale;
    dpi_y = yr * scale;
  }
}

namespace {

// Keeps the page's Group 4 strip beside its decoded samples when a writer can
// hand it on as it is: one strip, 1-bit gray, no Group 4 options (no
// uncompressed mode), and a decode libtiff finished without a complaint (a
// damaged strip may decode differently elsewhere). Strips in LSB-first bit
// order are reversed. Any doubt leaves the page without a copy.
void keep_group4_strip(TIFF* tif, const PagePlan& plan, Frame& f) {
  uint16_t compression = 0, fill = FILLORDER_MSB2LSB;
  uint32_t options = 0;
  TIFFGetFieldDefaulted(tif, TIFFTAG_COMPRESSION, &compression);
  if (compression != COMPRESSION_CCITTFAX4 || plan.format != pf::k1bppIndexed ||
      plan.layout != Layout::Indexed || TIFFIsTiled(tif) || TIFFNumberOfStrips(tif) != 1) {
    return;
  }
  TIFFGetFieldDefaulted(tif, TIFFTAG_FILLORDER, &fill);
  if (TIFFGetField(tif, TIFFTAG_GROUP4OPTIONS, &options) == 1 && options != 0) return;
  const uint64_t* counts = nullptr;
  if (TIFFGetField(tif, TIFFTAG_STRIPBYTECOUNTS, &counts) != 1 || counts == nullptr) return;
  // A Group 4 strip that outweighs the plain samples is not worth keeping.
  const uint64_t plain = bits_to_bytes(uint64_t{plan.width}) * plan.height;
  if (counts[0] == 0 || counts[0] > plain) return;
  auto coded = std::make_shared<CodedPixels>();
  try {
    coded->bytes.resize(static_cast<size_t>(counts[0]));
  } catch (const std::bad_alloc&) {
    return;
  }
  const tmsize_t n = TIFFReadRawStrip(tif, 0, coded->bytes.data(),
                                      static_cast<tmsize_t>(coded->bytes.size()));
  if (n != static_cast<tmsize_t>(coded->bytes.size())) return;
  if (fill == FILLORDER_LSB2MSB) TIFFReverseBits(coded->bytes.data(), n);
  coded->kind = CodedPixels::Kind::CcittG4;
  coded->pixels_hash = hash_pixels(f.pixels);
  f.coded = std::move(coded);
}

}  // namespace

// Decodes the handle's current directory into a frame; `diag` counts the
// handle's messages.
Status decode_page(TIFF* tif, const EncodedBytes& in, const Diagnostics& diag, Frame& f) {
  PagePlan plan;
  if (Status st = plan_page(tif, plan); st != Status::Ok) return st;
  if (!page_inflate_allowed(tif, plan.width, plan.height, uint64_t{plan.spp} * plan.bps, in.size))
    return Status::OutOfMemory;
  if (plan.layout == Layout::Rgba) {
    char message[1024] = {};
    if (TIFFRGBAImageOK(tif, message) != 1) return Status::GenericError;
  }
  Surface s;
  if (Status st = allocate_surface(static_cast<int32_t>(plan.width),
                                   static_cast<int32_t>(plan.height), plan.format, s);
      st != Status::Ok) {
    return st;
  }
  if (is_indexed(plan.format)) s.palette = plan.palette;
  const int complaints = diag.errors + diag.warnings;
  Status st = Status::Ok;
  if (plan.layout == Layout::Rgba) {
    st = read_rgba(tif, s);
  } else {
    DirectRows rows;
    st = rows.start(tif, plan);
    if (st == Status::Ok) st = rows.read(s.scan0, s.stride, plan.height);
  }
  if (st != Status::Ok) return st;

  f.pixels = std::move(s);
  if (diag.errors + diag.warnings == complaints) keep_group4_strip(tif, plan, f);
  read_resolution(tif, f.dpi_x, f.dpi_y);
  std::vector<PropertyItem> items;
  if (ifd::read_properties(in.data, in.size, TIFFCurrentDirOffset(tif), items) == Status::Ok) {
    f.properties = std::move(items);
  }
  return Status::Ok;
}

namespace {

// Decodes the pages after the first on demand. Keeps one handle open so that
// pages visited in order cost one directory read each.
class PageLoader final : public FrameLoader {
 public:
  explicit PageLoader(EncodedBytes bytes) : bytes_(std::move(bytes)) {
    reader_.data = bytes_.data;
    reader_.size = bytes_.size;
  }
  PageLoader(const PageLoader&) = delete;
  PageLoader& operator=(const PageLoader&) = delete;

  Status load(uint32_t index, Frame& out) override {
    LibtiffScope scope;
    const Status st = guarded([&] {
      Status s = seek(index);
      if (s != Status::Ok) return s;
      Frame f;
      s = decode_page(tif_.get(), bytes_, diag_, f);
      if (s != Status::Ok) return s;
      out.pixels = std::move(f.pixels);
      out.coded = std::move(f.coded);
      out.dpi_x = f.dpi_x;
      out.dpi_y = f.dpi_y;
      out.properties = std::move(f.properties);
      return Status::Ok;
    });
    if (st != Status::Ok) tif_.reset();  // start afresh next time
    return st;
  }

 private:
  Status seek(uint32_t index) {
    if (!tif_) {
      tif_ = open_reader(reader_, diag_);
      if (!tif_) return Status::GenericError;
      current_ = 0;
    }
    if (index == current_ + 1) {
      if (TIFFReadDirectory(tif_.get()) != 1) return Status::GenericError;
    } else if (index != current_) {
      if (TIFFSetDirectory(tif_.get(), static_cast<tdir_t>(index)) != 1) {
        return Status::GenericError;
      }
    }
    current_ = index;
    return Status::Ok;
  }

  EncodedBytes bytes_;
  MemoryReader reader_;
  Diagnostics diag_;
  TiffHandle tif_;
  uint32_t current_ = 0;
};

}  // namespace

bool sniff(const uint8_t* data, size_t size) {
  if (data == nullptr || size < 4) return false;
  static const uint8_t kSignatures[4][4] = {
      {'I', 'I', 42, 0}, {'M', 'M', 0, 42}, {'I', 'I', 43, 0}, {'M', 'M', 0, 43}};
  for (const auto& sig : kSignatures) {
    if (std::memcmp(data, sig, 4) == 0) return true;
  }
  return false;
}

Status decode(const EncodedBytes& in, std::unique_ptr<Image>& out) {
  if (!sniff(in.data, in.size)) return Status::UnknownImageFormat;
  LibtiffScope scope;
  return guarded([&] {
    MemoryReader reader;
    reader.data = in.data;
    reader.size = in.size;
    Diagnostics diag;
    TiffHandle tif = open_reader(reader, diag);
    if (!tif) return Status::GenericError;
    Frame first;
    if (Status st = decode_page(tif.get(), in, diag, first); st != Status::Ok) return st;
    const uint32_t pages = std::clamp<uint32_t>(
        static_cast<uint32_t>(TIFFNumberOfDirectories(tif.get())), 1, kMaxPages);
    tif.reset();

    std::vector<Frame> frames(pages);
    frames[0] = std::move(first);
    for (uint32_t i = 1; i < pages; ++i) frames[i].loaded = false;
    std::shared_ptr<FrameLoader> loader;
    if (pages > 1) {
      // Later pages are read from these bytes: hold on to them (or to a copy
      // when the caller did not hand over ownership).
      loader = std::make_shared<PageLoader>(
          in.keep ? in : own_bytes(std::vector<uint8_t>(in.data, in.data + in.size)));
    }
    out = Image::from_frames(std::move(frames), guids::kFrameDimensionPage, guids::kFormatTiff,
                             std::move(loader));
    return Status::Ok;
  });
}

}  // namespace korvex::raster::tiffcodec
