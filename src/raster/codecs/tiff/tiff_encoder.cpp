// TIFF encoder: one page, or several pages through a FrameWriter, into a
// byte sink.
//
// Output layout by colour depth (0 = the image's own depth):
//   1/4/8 bits   indexed: gray (min-is-black or min-is-white) when the
//                palette is a black/white or gray ramp, a colormap otherwise;
//                a different source depth is matched to {black, white} (1) or
//                to the default halftone palette (4, 8)
//   24 bits      8-bit RGB (also the own depth of 16-bit, 24bppRGB, 32bppRGB)
//   32 bits      8-bit RGBA, associated alpha for premultiplied sources
//   48/64bpp     own depth only: 16-bit RGB / RGBA, samples kept exactly
// Compressions: LZW (default), none, and for bilevel output CCITT modified
// Huffman, Group 3 and Group 4.
#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <iterator>
#include <new>
#include <optional>
#include <string>

#include "raster/codecs/ifd/ifd.h"
#include "raster/codecs/tiff/tiff_internal.h"
#include "raster/convert.h"
#include "raster/guard.h"

namespace korvex::raster::tiffcodec {

namespace {

enum class RowSource {
  IndexedCopy,  // the surface's indexed rows as they are
  ToIndexed,    // nearest entries of `palette`
  Rgb8,
  Rgba8,
  Rgb16,   // 48bppRGB surface
  Rgba16,  // 64bpp(P)ARGB surface
};

struct WritePlan {
  RowSource source = RowSource::Rgb8;
  uint16_t bps = 8;
  uint16_t spp = 3;
  uint16_t photometric = PHOTOMETRIC_RGB;
  uint16_t compression = COMPRESSION_LZW;
  uint16_t extra = 0;                           // 0, or the ExtraSamples value of the alpha sample
  PixelFormat indexed_format = pf::kUndefined;  // ToIndexed target
  Palette palette;                              // colormap or match target
};

constexpr uint32_t kRgbMask = 0x00FFFFFFu;

bool is_ramp(const Palette& p, size_t levels, bool reversed) {
  if (p.entries.size() != levels) return false;
  for (size_t i = 0; i < levels; ++i) {
    uint32_t v = static_cast<uint32_t>(i * 255 / (levels - 1));
    if (reversed) v = 255 - v;
    if ((p.entries[i] & kRgbMask) != (v << 16 | v << 8 | v)) return false;
  }
  return true;
}

// Photometric interpretation of indexed pixels stored as they are.
uint16_t indexed_photometric(const Palette& p, int bits) {
  const size_t levels = size_t{1} << bits;
  if (is_ramp(p, levels, false)) return PHOTOMETRIC_MINISBLACK;
  if (is_ramp(p, levels, true)) return PHOTOMETRIC_MINISWHITE;
  return PHOTOMETRIC_PALETTE;
}

void bilevel_target(WritePlan& plan) {
  plan.source = RowSource::ToIndexed;
  plan.bps = 1;
  plan.spp = 1;
  plan.photometric = PHOTOMETRIC_MINISBLACK;
  plan.indexed_format = pf::k1bppIndexed;
  plan.palette = default_palette(pf::k1bppIndexed);
}

Status make_plan(PixelFormat f, const Palette& palette, const EncoderParams& params,
                 WritePlan& plan) {
  const int32_t compression =
      param_value(params, encparam::kCompression, encparam::kCompressionLZW);
  const int32_t depth = param_value(params, encparam::kColorDepth, 0);
  switch (compression) {
    case encparam::kCompressionLZW:
      plan.compression = COMPRESSION_LZW;
      break;
    case encparam::kCompressionCCITT3:
      plan.compression = COMPRESSION_CCITTFAX3;
      break;
    case encparam::kCompressionCCITT4:
      plan.compression = COMPRESSION_CCITTFAX4;
      break;
    case encparam::kCompressionRle:
      plan.compression = COMPRESSION_CCITTRLE;
      break;
    case encparam::kCompressionNone:
      plan.compression = COMPRESSION_NONE;
      break;
    default:
      return Status::InvalidParameter;
  }
  if (depth != 0 && depth != 1 && depth != 4 && depth != 8 && depth != 24 && depth != 32) {
    return Status::InvalidParameter;
  }
  if (!is_supported_format(f)) return Status::InvalidParameter;
  const int own = bits_per_pixel(f);

  if (depth == 0 || depth == own) {
    if (is_indexed(f)) {
      plan.source = RowSource::IndexedCopy;
      plan.bps = static_cast<uint16_t>(own);
      plan.spp = 1;
      plan.palette = palette;
      plan.photometric = indexed_photometric(plan.palette, own);
    } else if (f == pf::k32bppARGB || f == pf::k32bppPARGB) {
      plan.source = RowSource::Rgba8;
      plan.spp = 4;
      plan.extra = f == pf::k32bppPARGB ? EXTRASAMPLE_ASSOCALPHA : EXTRASAMPLE_UNASSALPHA;
    } else if (f == pf::k48bppRGB) {
      plan.source = RowSource::Rgb16;
      plan.bps = 16;
    } else if (f == pf::k64bppARGB || f == pf::k64bppPARGB) {
      plan.source = RowSource::Rgba16;
      plan.bps = 16;
      plan.spp = 4;
      plan.extra = f == pf::k64bppPARGB ? EXTRASAMPLE_ASSOCALPHA : EXTRASAMPLE_UNASSALPHA;
    } else {
      plan.source = RowSource::Rgb8;  // 16-bit formats, 24bppRGB, 32bppRGB
    }
  } else if (depth == 1) {
    bilevel_target(plan);
  } else if (depth == 4 || depth == 8) {
    plan.source = RowSource::ToIndexed;
    plan.bps = static_cast<uint16_t>(depth);
    plan.spp = 1;
    plan.photometric = PHOTOMETRIC_PALETTE;
    plan.indexed_format = depth == 4 ? pf::k4bppIndexed : pf::k8bppIndexed;
    plan.palette = default_palette(plan.indexed_format);
  } else if (depth == 24) {
    plan.source = RowSource::Rgb8;
  } else {
    plan.source = RowSource::Rgba8;
    plan.spp = 4;
    plan.extra = is_premultiplied(f) ? EXTRASAMPLE_ASSOCALPHA : EXTRASAMPLE_UNASSALPHA;
  }

  const bool fax = plan.compression == COMPRESSION_CCITTFAX3 ||
                   plan.compression == COMPRESSION_CCITTFAX4 ||
                   plan.compression == COMPRESSION_CCITTRLE;
  if (fax) {
    if (plan.bps != 1 || plan.spp != 1) return Status::InvalidParameter;
    // Fax coding is bilevel: a two-colour palette that is not black and
    // white is matched to black and white.
    if (plan.photometric == PHOTOMETRIC_PALETTE) bilevel_target(plan);
  }
  return Status::Ok;
}

bool set_ascii(TIFF* tif, uint32_t tag, const std::vector<uint8_t>& value) {
  std::string text(value.begin(), value.end());
  const size_t nul = text.find('\0');
  if (nul != std::string::npos) text.resize(nul);
  if (text.empty()) return true;
  return TIFFSetField(tif, tag, text.c_str()) == 1;
}

Status set_fields(TIFF* tif, const BandPicture& img, const WritePlan& plan, bool page_of_many) {
  const uint32_t w = static_cast<uint32_t>(img.width);
  const uint32_t h = static_cast<uint32_t>(img.height);
  const uint64_t row_bytes = (uint64_t{w} * plan.bps * plan.spp + 7) / 8;
  // Fax pages (CCITT) are one strip, as fax readers expect and as PDF writers
  // can hand on whole; other pages are cut into strips of about 64 KB.
  const bool fax = plan.compression == COMPRESSION_CCITTRLE ||
                   plan.compression == COMPRESSION_CCITTFAX3 ||
                   plan.compression == COMPRESSION_CCITTFAX4;
  const uint64_t rows_per_strip =
      fax ? h : std::clamp<uint64_t>((uint64_t{64} << 10) / std::max<uint64_t>(row_bytes, 1), 1, h);
  auto dpi = [](float v) { return std::isfinite(v) && v > 0.0f ? static_cast<double>(v) : 96.0; };

  bool ok =
      TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, w) == 1 &&
      TIFFSetField(tif, TIFFTAG_IMAGELENGTH, h) == 1 &&
      TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, static_cast<unsigned>(plan.bps)) == 1 &&
      TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, static_cast<unsigned>(plan.spp)) == 1 &&
      TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, static_cast<unsigned>(plan.photometric)) == 1 &&
      TIFFSetField(tif, TIFFTAG_PLANARCONFIG, static_cast<unsigned>(PLANARCONFIG_CONTIG)) == 1 &&
      TIFFSetField(tif, TIFFTAG_COMPRESSION, static_cast<unsigned>(plan.compression)) == 1 &&
      TIFFSetField(tif, TIFFTAG_ROWSPERSTRIP, static_cast<uint32_t>(rows_per_strip)) == 1 &&
      TIFFSetField(tif, TIFFTAG_XRESOLUTION, dpi(img.dpi_x)) == 1 &&
      TIFFSetField(tif, TIFFTAG_YRESOLUTION, dpi(img.dpi_y)) == 1 &&
      TIFFSetField(tif, TIFFTAG_RESOLUTIONUNIT, static_cast<unsigned>(RESUNIT_INCH)) == 1;
  if (ok && page_of_many) {
    ok = TIFFSetField(tif, TIFFTAG_SUBFILETYPE, static_cast<uint32_t>(FILETYPE_PAGE)) == 1;
  }
  if (ok && plan.extra != 0) {
    const uint16_t extra[1] = {plan.extra};
    ok = TIFFSetField(tif, TIFFTAG_EXTRASAMPLES, 1u, extra) == 1;
  }
  if (ok && plan.photometric == PHOTOMETRIC_PALETTE) {
    // A full colormap; entries the palette lacks are black.
    const size_t n = size_t{1} << plan.bps;
    std::vector<uint16_t> r(n, 0), g(n, 0), b(n, 0);
    for (size_t i = 0; i < n && i < plan.palette.entries.size(); ++i) {
      const uint32_t c = plan.palette.entries[i];
      r[i] = static_cast<uint16_t>(((c >> 16) & 0xFF) * 257);
      g[i] = static_cast<uint16_t>(((c >> 8) & 0xFF) * 257);
      b[i] = static_cast<uint16_t>((c & 0xFF) * 257);
    }
    ok = TIFFSetField(tif, TIFFTAG_COLORMAP, r.data(), g.data(), b.data()) == 1;
  }
  // ASCII metadata that are ordinary TIFF tags.
  static constexpr uint32_t kAsciiTags[] = {
      TIFFTAG_IMAGEDESCRIPTION, TIFFTAG_MAKE,   TIFFTAG_MODEL,    TIFFTAG_SOFTWARE,
      TIFFTAG_DATETIME,         TIFFTAG_ARTIST, TIFFTAG_COPYRIGHT};
  for (const PropertyItem& item : img.properties) {
    if (!ok) break;
    if (item.type != ptype::kAscii) continue;
    if (std::find(std::begin(kAsciiTags), std::end(kAsciiTags), item.id) == std::end(kAsciiTags)) {
      continue;
    }
    ok = set_ascii(tif, item.id, item.value);
  }
  return ok ? Status::Ok : Status::GenericError;
}

inline uint16_t load16le(const uint8_t* p) {
  return static_cast<uint16_t>(p[0] | p[1] << 8);
}
inline void store16(uint8_t* p, uint16_t v) {
  std::memcpy(p, &v, 2);  // libtiff takes samples in host order
}

// Source rows of a picture into rows of the file's samples.
class RowConverter {
 public:
  RowConverter(const BandPicture& p, const WritePlan& plan)
      : plan_(plan),
        format_(p.format),
        palette_(p.palette),
        w_(p.width),
        row_bytes_((static_cast<size_t>(p.width) * plan.bps * plan.spp + 7) / 8),
        row_(row_bytes_ + 8, 0),
        scratch_(static_cast<size_t>(p.width)) {
    if (plan.source == RowSource::ToIndexed) matcher_.emplace(plan.palette);
    // Sub-byte rows end with pad bits that must be zero (the fax coders read them).
    const unsigned tail_bits = static_cast<unsigned>((static_cast<uint64_t>(w_) * plan.bps) % 8);
    tail_mask_ = tail_bits == 0 ? 0xFF : static_cast<uint8_t>(0xFF00 >> tail_bits);
  }

  uint8_t* convert(const uint8_t* src) {
    const int32_t w = w_;
    uint8_t* dst = row_.data();
    switch (plan_.source) {
      case RowSource::IndexedCopy:
        std::memcpy(dst, src, row_bytes_);
        break;
      case RowSource::ToIndexed:
        load_argb(format_, src, 0, w, palette_, scratch_.data());
        store_argb(plan_.indexed_format, dst, 0, w, &*matcher_, scratch_.data());
        break;
      case RowSource::Rgb8:
        convert_pixels(format_, src, 0, palette_, pf::k24bppRGB, dst, 0, nullptr, w,
                       scratch_.data());
        for (int32_t x = 0; x < w; ++x) std::swap(dst[3 * x], dst[3 * x + 2]);
        break;
      case RowSource::Rgba8: {
        const PixelFormat to =
            plan_.extra == EXTRASAMPLE_ASSOCALPHA ? pf::k32bppPARGB : pf::k32bppARGB;
        convert_pixels(format_, src, 0, palette_, to, dst, 0, nullptr, w, scratch_.data());
        for (int32_t x = 0; x < w; ++x) std::swap(dst[4 * x], dst[4 * x + 2]);
        break;
      }
      case RowSource::Rgb16:
        for (int32_t x = 0; x < w; ++x) {
          const uint8_t* p = src + 6 * x;
          store16(dst + 6 * x, load16le(p + 4));
          store16(dst + 6 * x + 2, load16le(p + 2));
          store16(dst + 6 * x + 4, load16le(p));
        }
        break;
      case RowSource::Rgba16:
        for (int32_t x = 0; x < w; ++x) {
          const uint8_t* p = src + 8 * x;
          store16(dst + 8 * x, load16le(p + 4));
          store16(dst + 8 * x + 2, load16le(p + 2));
          store16(dst + 8 * x + 4, load16le(p));
          store16(dst + 8 * x + 6, load16le(p + 6));
        }
        break;
    }
    if (plan_.spp == 1 && plan_.bps < 8) dst[row_bytes_ - 1] &= tail_mask_;
    return dst;
  }

 private:
  const WritePlan& plan_;
  PixelFormat format_;
  Palette palette_;
  int32_t w_;
  size_t row_bytes_;
  std::vector<uint8_t> row_;
  std::vector<uint32_t> scratch_;
  std::optional<PaletteMatcher> matcher_;
  uint8_t tail_mask_ = 0xFF;
};

// Fields and pixels of one page (an image's active frame), closed with its directory.
Status write_page(TIFF* tif, const Image& img, const WritePlan& plan, bool page_of_many) {
  const BandPicture p = band_picture_of(img);
  if (Status st = set_fields(tif, p, plan, page_of_many); st != Status::Ok) return st;
  const Surface& s = img.surface();
  RowConverter rows(p, plan);
  for (int32_t y = 0; y < s.height; ++y) {
    if (TIFFWriteScanline(tif, rows.convert(s.row(y)), static_cast<uint32_t>(y), 0) != 1)
      return Status::GenericError;
  }
  return TIFFWriteDirectory(tif) == 1 ? Status::Ok : Status::GenericError;
}

// Pages into a byte sink, each closed with its directory; finish() writes
// what libtiff still holds. The file behind the sink is the caller's.
class TiffFrameWriter final : public FrameWriter {
 public:
  explicit TiffFrameWriter(ByteSink& out) : out_(out) {}
  TiffFrameWriter(const TiffFrameWriter&) = delete;
  TiffFrameWriter& operator=(const TiffFrameWriter&) = delete;

  ~TiffFrameWriter() override {
    LibtiffScope scope;
    drop();
  }

  // Opens the handle and writes the first page.
  Status start(Image& first, const WritePlan& plan) {
    tif_ = open_sink_writer(out_, diag_);
    if (!tif_) return out_.error() != Status::Ok ? out_.error() : Status::GenericError;
    const Status st = page(first, plan);
    if (st != Status::Ok) state_ = State::Failed;
    return st;
  }

  Status add(Image& frame, const EncoderParams& params) override {
    LibtiffScope scope;
    if (state_ != State::Open) return Status::WrongState;
    // Parameters refused before anything is written leave the writer open.
    bool refused = false;
    const Status st = guarded([&] {
      WritePlan plan;
      if (Status s = make_plan(frame.format(), frame.palette(), params, plan); s != Status::Ok) {
        refused = true;
        return s;
      }
      return page(frame, plan);
    });
    if (st != Status::Ok && !refused) state_ = State::Failed;
    return st;
  }

  Status finish() override {
    LibtiffScope scope;
    if (state_ == State::Done) return Status::WrongState;
    const bool failed = state_ == State::Failed;
    state_ = State::Done;
    const Status st = failed ? Status::GenericError : guarded([&] { return close(); });
    if (st != Status::Ok) drop();
    return st;
  }

 private:
  enum class State { Open, Failed, Done };

  Status page(Image& img, const WritePlan& plan) {
    pages_.push_back(img.properties());
    const Status st = write_page(tif_.get(), img, plan, true);
    // A failed write is the cause of whatever libtiff made of it.
    if (st != Status::Ok && out_.error() != Status::Ok) return out_.error();
    return st;
  }

  Status close() {
    const bool flushed = TIFFFlush(tif_.get()) == 1;
    tif_.reset();  // TIFFClose; its close procedure leaves the sink alone
    if (out_.error() != Status::Ok) return out_.error();
    if (!flushed) return Status::GenericError;
    // Each page's property items, as for a single page.
    for (size_t i = 0; i < pages_.size(); ++i) {
      const Status st = ifd::add_to_tiff_directory(out_, static_cast<uint32_t>(i), pages_[i]);
      if (st != Status::Ok) return st;
    }
    return Status::Ok;
  }

  // Frees the handle; what it writes meanwhile is the caller's to discard.
  void drop() {
    if (TIFF* tif = tif_.release()) TIFFCleanup(tif);
  }

  ByteSink& out_;
  Diagnostics diag_;
  TiffHandle tif_;
  State state_ = State::Open;
  std::vector<std::vector<PropertyItem>> pages_;  // property items of each page written
};

}  // namespace

// One page, a band of rows at a time: header and fields at open, strips
// as rows arrive, then the directory and the property items libtiff cannot
// carry byte for byte (every type, Exif and GPS directories).
class Writer final : public BandWriter {
 public:
  explicit Writer(ByteSink& out) : out_(out) {}
  // An unfinished page is dropped without writing what libtiff holds.
  ~Writer() override {
    LibtiffScope scope;
    if (TIFF* tif = tif_.release()) TIFFCleanup(tif);
  }

  Status open(const BandPicture& p, const EncoderParams& params) {
    if (Status st = make_plan(p.format, p.palette, params, plan_); st != Status::Ok) return st;
    if (plan_.compression == COMPRESSION_NONE) {
      // Header, strips, then the directory with its tags and two 32-bit
      // entries (offset, byte count) per strip of about 64 KiB.
      const uint64_t row_bytes = (static_cast<uint64_t>(p.width) * plan_.bps * plan_.spp + 7) / 8;
      const uint64_t pixels = row_bytes * static_cast<uint64_t>(p.height);
      out_.expect(pixels + pixels / (uint64_t{64} << 10) * 8 + (uint64_t{16} << 10));
    }
    tif_ = open_sink_writer(out_, diag_);
    if (!tif_) return failed_ = out_.error() != Status::Ok ? out_.error() : Status::GenericError;
    height_ = p.height;
    properties_ = p.properties;
    rows_.emplace(p, plan_);
    if (Status st = set_fields(tif_.get(), p, plan_, false); st != Status::Ok) return fail(st);
    return Status::Ok;
  }

  Status write(const uint8_t* src, ptrdiff_t stride, int32_t rows) override {
    LibtiffScope scope;
    if (failed_ != Status::Ok) return failed_;
    for (int32_t y = 0; y < rows && next_ < height_; ++y, ++next_) {
      const uint8_t* row = rows_->convert(src + static_cast<ptrdiff_t>(y) * stride);
      if (TIFFWriteScanline(tif_.get(), const_cast<uint8_t*>(row), static_cast<uint32_t>(next_),
                            0) != 1) {
        return fail(Status::GenericError);
      }
    }
    return Status::Ok;
  }

  Status finish() override {
    LibtiffScope scope;
    if (failed_ != Status::Ok) return failed_;
    if (next_ < height_) return fail(Status::WrongState);
    Status st = TIFFWriteDirectory(tif_.get()) == 1 ? Status::Ok : Status::GenericError;
    if (st == Status::Ok && TIFFFlush(tif_.get()) != 1) st = Status::GenericError;
    tif_.reset();
    if (out_.error() != Status::Ok) return failed_ = out_.error();
    if (st == Status::Ok) st = ifd::add_to_tiff_directory(out_, 0, properties_);
    if (st != Status::Ok) failed_ = st;
    return st;
  }

 private:
  // A failed write is the cause of whatever libtiff made of it.
  Status fail(Status st) {
    tif_.reset();
    return failed_ = out_.error() != Status::Ok ? out_.error() : st;
  }

  ByteSink& out_;
  WritePlan plan_;
  Diagnostics diag_;
  TiffHandle tif_;
  std::optional<RowConverter> rows_;
  std::vector<PropertyItem> properties_;
  int32_t height_ = 0;
  int32_t next_ = 0;
  Status failed_ = Status::Ok;
};

Status encode(Image& img, const EncoderParams& params, ByteSink& out) {
  LibtiffScope scope;
  return guarded([&] {
    Writer w(out);
    if (Status st = w.open(band_picture_of(img), params); st != Status::Ok) return st;
    const Surface& s = img.surface();
    if (Status st = w.write(s.scan0, s.stride, s.height); st != Status::Ok) return st;
    return w.finish();
  });
}

Status open_band_writer(const BandPicture& picture, const EncoderParams& params, ByteSink& sink,
                        std::unique_ptr<BandWriter>& out) {
  LibtiffScope scope;
  return guarded([&] {
    auto w = std::make_unique<Writer>(sink);
    if (Status st = w->open(picture, params); st != Status::Ok) return st;
    out = std::move(w);
    return Status::Ok;
  });
}

Status open_frames(Image& first, const EncoderParams& params, ByteSink& sink,
                   std::unique_ptr<FrameWriter>& out) {
  LibtiffScope scope;
  return guarded([&] {
    WritePlan plan;
    if (Status st = make_plan(first.format(), first.palette(), params, plan); st != Status::Ok)
      return st;
    auto writer = std::make_unique<TiffFrameWriter>(sink);
    if (Status st = writer->start(first, plan); st != Status::Ok) return st;
    out = std::move(writer);
    return Status::Ok;
  });
}

}  // namespace korvex::raster::tiffcodec
