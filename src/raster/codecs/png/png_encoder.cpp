// PNG encoder.
//
// Each stored format maps to the PNG type that holds it without loss:
//   1 / 4 / 8bppIndexed     palette PNG of the same depth (PLTE, plus tRNS when
//                           an entry has alpha, trailing opaque entries trimmed)
//   24bppRGB, 32bppRGB, 16bppRGB555, 16bppRGB565    RGB, 8 bits
//   32bppARGB, 32bppPARGB (unpremultiplied), 16bppARGB1555    RGBA, 8 bits
//   16bppGrayScale          gray, 16 bits (the samples as they are)
//   48bppRGB                RGB, 16 bits
//   64bppARGB, 64bppPARGB (unpremultiplied at 16 bits)    RGBA, 16 bits
// Rows in B, G, R(, A) order and little-endian 16-bit samples are handed to
// libpng as they lie in the surface, with its bgr / swap / filler transforms
// doing the reordering; the other formats are converted a row at a time.
//
// The resolution goes to pHYs (pixels per metre) and the text properties
// (software, title, author, description, copyright, creation time) to tEXt
// chunks. Truecolour and gray pictures are compressed with the row filter and
// zlib settings a trial on a sample of their rows picks (png_compression.h);
// palette pictures unfiltered at zlib level 6. IDAT chunks hold up to 256 KiB.
#include <algorithm>
#include <cmath>
#include <csetjmp>
#include <cstring>
#include <new>
#include <string>

#include "png_codec.h"
#include "png_compression.h"
#include "raster/convert.h"
#include "raster/guard.h"

namespace korvex::raster::png {

namespace {

enum Transform : unsigned {
  kBgr = 1,          // B, G, R(, A) rows
  kSwap16 = 2,       // little-endian 16-bit samples
  kStripFiller = 4,  // a fourth, unused byte after B, G, R
};

// All the plain data of one encode, shared with the setjmp frame below.
struct Job {
  png_structp png;
  png_infop info;
  ByteSink* out;
  bool write_failed;  // set when the sink refused bytes
  png_uint_32 width;
  png_uint_32 height;
  int bit_depth;
  int color_type;
  png_color palette[256];
  int num_palette;
  png_byte trans_alpha[256];
  int num_trans;
  bool has_phys;
  png_uint_32 ppm_x;
  png_uint_32 ppm_y;
  png_textp texts;
  int num_texts;
  const uint8_t* icc;  // ICC profile, or null
  png_uint_32 icc_size;
  unsigned transforms;
  Compression compression;
  // Supplies row y in the layout libpng expects before its transforms.
  const uint8_t* (*row)(void* context, int32_t y);
  void* row_context;
};

void write_bytes(png_structp png, png_bytep data, size_t n) {
  Job* job = static_cast<Job*>(png_get_io_ptr(png));
  if (!job->out->write(data, n)) {  // sinks report failure, they do not throw
    job->write_failed = true;
    png_error(png, "write failed");
  }
}

void flush_bytes(png_structp /*png*/) {}

// Largest IDAT chunk: fewer chunk headers and sink writes than libpng's 8 KiB.
constexpr size_t kIdatBytes = 256u << 10;

// Writes the whole file. Plain C data only: libpng may jump back here.
// Returns false when libpng fails (out of memory, in practice).
bool write_png(Job* job) {
  png_structp png = job->png;
  png_infop info = job->info;
  if (setjmp(png_jmpbuf(png))) return false;

  png_set_write_fn(png, job, write_bytes, flush_bytes);
  png_set_compression_level(png, job->compression.level);
  png_set_compression_strategy(png, job->compression.strategy);
  png_set_filter(png, PNG_FILTER_TYPE_BASE, job->compression.filters);
  png_set_compression_buffer_size(png, kIdatBytes);
  png_set_IHDR(png, info, job->width, job->height, job->bit_depth, job->color_type,
               PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
  if (job->color_type == PNG_COLOR_TYPE_PALETTE) {
    png_set_PLTE(png, info, job->palette, job->num_palette);
    if (job->num_trans > 0) png_set_tRNS(png, info, job->trans_alpha, job->num_trans, nullptr);
  }
  if (job->has_phys) png_set_pHYs(png, info, job->ppm_x, job->ppm_y, PNG_RESOLUTION_METER);
  if (job->num_texts > 0) png_set_text(png, info, job->texts, job->num_texts);
  if (job->icc != nullptr) {
    // A profile libpng finds inconsistent is left out with a warning instead
    // of failing the whole save.
    png_set_benign_errors(png, 1);
    png_set_iCCP(png, info, "ICC profile", PNG_COMPRESSION_TYPE_BASE, job->icc, job->icc_size);
  }
  png_write_info(png, info);

  const unsigned t = job->transforms;
  if (t & kStripFiller) png_set_filler(png, 0, PNG_FILLER_AFTER);
  if (t & kBgr) png_set_bgr(png);
  if (t & kSwap16) png_set_swap(png);

  const int32_t height = static_cast<int32_t>(job->height);
  for (int32_t y = 0; y < height; ++y) png_write_row(png, job->row(job->row_context, y));
  png_write_end(png, info);
  return true;
}

// Rows of the surface, as they are or converted into a scratch row.
struct RowSource {
  enum class Kind { Direct, Convert, Unpremultiply16 };
  const Surface* surface = nullptr;
  Kind kind = Kind::Direct;
  PixelFormat target = pf::kUndefined;  // for Convert
  std::vector<uint8_t> line;
  std::vector<uint32_t> scratch;

  // Bytes of a row as row() returns it, and between its samples of one channel.
  size_t row_bytes() const {
    const size_t w = static_cast<size_t>(surface->width);
    return line.empty() ? (static_cast<size_t>(bits_per_pixel(surface->format)) * w + 7) / 8
                        : line.size();
  }
  size_t pixel_bytes() const {
    const size_t bytes = line.empty() ? static_cast<size_t>(bits_per_pixel(surface->format)) / 8
                                      : line.size() / static_cast<size_t>(surface->width);
    return std::max<size_t>(bytes, 1);
  }

  const uint8_t* row(int32_t y) {
    const uint8_t* src = surface->row(y);
    const int32_t w = surface->width;
    switch (kind) {
      case Kind::Direct:
        return src;
      case Kind::Convert:
        convert_pixels(surface->format, src, 0, surface->palette, target, line.data(), 0, nullptr,
                       w, scratch.data());
        return line.data();
      case Kind::Unpremultiply16:
        unpremultiply16(src, w, line.data());
        return line.data();
    }
    return src;
  }

  // 64bppPARGB to 64bppARGB at full precision: c * 65535 / a, rounded.
  static void unpremultiply16(const uint8_t* src, int32_t w, uint8_t* dst) {
    for (int32_t x = 0; x < w; ++x) {
      uint16_t c[4];
      std::memcpy(c, src + 8 * static_cast<size_t>(x), 8);
      const uint32_t a = c[3];
      for (int i = 0; i < 3; ++i) {
        if (a == 0) {
          c[i] = 0;
        } else if (a != 65535) {
          const uint32_t v = (c[i] * 65535u + a / 2) / a;
          c[i] = static_cast<uint16_t>(std::min<uint32_t>(v, 65535));
        }
      }
      std::memcpy(dst + 8 * static_cast<size_t>(x), c, 8);
    }
  }

  static const uint8_t* thunk(void* context, int32_t y) {
    return static_cast<RowSource*>(context)->row(y);
  }
};

// Highest palette index the pixels of an indexed surface use.
int max_index_used(const Surface& s) {
  const int bits = bits_per_pixel(s.format);
  int most = 0;
  for (int32_t y = 0; y < s.height; ++y) {
    const uint8_t* row = s.row(y);
    if (bits == 8) {
      for (int32_t x = 0; x < s.width; ++x) most = std::max<int>(most, row[x]);
    } else if (bits == 4) {
      for (int32_t x = 0; x < s.width; ++x) {
        most = std::max<int>(most, (x & 1) ? row[x >> 1] & 0x0F : row[x >> 1] >> 4);
      }
    } else {
      for (int32_t x = 0; x < s.width && most == 0; ++x) {
        most = (row[x >> 3] >> (7 - (x & 7))) & 1;
      }
    }
    if (most == (1 << bits) - 1) break;
  }
  return most;
}

// PLTE and tRNS from the palette. PNG needs an entry for every index the
// pixels use: entries missing from the palette are written as transparent
// black, which is how indices past the palette read.
void set_palette(const Surface& s, Job& job) {
  const size_t capacity = size_t{1} << bits_per_pixel(s.format);
  std::vector<uint32_t> entries(
      s.palette.entries.begin(),
      s.palette.entries.begin() +
          static_cast<std::ptrdiff_t>(std::min(s.palette.entries.size(), capacity)));
  if (entries.size() < capacity) {
    const size_t needed = static_cast<size_t>(max_index_used(s)) + 1;
    if (entries.size() < needed) entries.resize(needed, 0x00000000u);
  }
  job.num_palette = static_cast<int>(entries.size());
  job.num_trans = 0;
  for (size_t i = 0; i < entries.size(); ++i) {
    const uint32_t e = entries[i];
    job.palette[i] = png_color{static_cast<png_byte>(e >> 16), static_cast<png_byte>(e >> 8),
                               static_cast<png_byte>(e)};
    job.trans_alpha[i] = static_cast<png_byte>(e >> 24);
    if ((e >> 24) != 0xFF) job.num_trans = static_cast<int>(i) + 1;
  }
}

// Pixels per metre of a resolution in dots per inch; 0 when unusable.
png_uint_32 pixels_per_metre(float dpi) {
  if (!(dpi > 0.0f) || !std::isfinite(dpi)) return 0;
  const double ppm = std::round(static_cast<double>(dpi) / 0.0254);
  if (ppm < 1.0 || ppm > 2147483647.0) return 0;
  return static_cast<png_uint_32>(ppm);
}

// Chooses the PNG type, the transforms and the row source of a format.
bool plan(const Surface& s, Job& job, RowSource& rows) {
  rows.surface = &s;
  rows.kind = RowSource::Kind::Direct;
  job.transforms = 0;
  size_t line_bytes = 0;
  switch (s.format) {
    case pf::k1bppIndexed:
    case pf::k4bppIndexed:
    case pf::k8bppIndexed:
      job.color_type = PNG_COLOR_TYPE_PALETTE;
      job.bit_depth = bits_per_pixel(s.format);
      set_palette(s, job);
      break;
    case pf::k24bppRGB:
      job.color_type = PNG_COLOR_TYPE_RGB;
      job.bit_depth = 8;
      job.transforms = kBgr;
      break;
    case pf::k32bppRGB:
      job.color_type = PNG_COLOR_TYPE_RGB;
      job.bit_depth = 8;
      job.transforms = kBgr | kStripFiller;
      break;
    case pf::k16bppRGB555:
    case pf::k16bppRGB565:
      job.color_type = PNG_COLOR_TYPE_RGB;
      job.bit_depth = 8;
      job.transforms = kBgr;
      rows.kind = RowSource::Kind::Convert;
      rows.target = pf::k24bppRGB;
      line_bytes = 3;
      break;
    case pf::k32bppARGB:
      job.color_type = PNG_COLOR_TYPE_RGB_ALPHA;
      job.bit_depth = 8;
      job.transforms = kBgr;
      break;
    case pf::k32bppPARGB:
    case pf::k16bppARGB1555:
      job.color_type = PNG_COLOR_TYPE_RGB_ALPHA;
      job.bit_depth = 8;
      job.transforms = kBgr;
      rows.kind = RowSource::Kind::Convert;
      rows.target = pf::k32bppARGB;
      line_bytes = 4;
      break;
    case pf::k16bppGrayScale:
      job.color_type = PNG_COLOR_TYPE_GRAY;
      job.bit_depth = 16;
      job.transforms = kSwap16;
      break;
    case pf::k48bppRGB:
      job.color_type = PNG_COLOR_TYPE_RGB;
      job.bit_depth = 16;
      job.transforms = kBgr | kSwap16;
      break;
    case pf::k64bppARGB:
      job.color_type = PNG_COLOR_TYPE_RGB_ALPHA;
      job.bit_depth = 16;
      job.transforms = kBgr | kSwap16;
      break;
    case pf::k64bppPARGB:
      job.color_type = PNG_COLOR_TYPE_RGB_ALPHA;
      job.bit_depth = 16;
      job.transforms = kBgr | kSwap16;
      rows.kind = RowSource::Kind::Unpremultiply16;
      line_bytes = 8;
      break;
    default:
      return false;
  }
  if (line_bytes != 0) {
    rows.line.resize(line_bytes * static_cast<size_t>(s.width));
    rows.scratch.resize(static_cast<size_t>(s.width));
  }
  return true;
}

// Releases the png structs of an encode whatever happens.
struct WriteStructs {
  png_structp png = nullptr;
  png_infop info = nullptr;
  ~WriteStructs() {
    if (png != nullptr) png_destroy_write_struct(&png, info != nullptr ? &info : nullptr);
  }
};

Status encode_png(Image& img, ByteSink& out) {
  const Surface& s = img.surface();
  if (s.width <= 0 || s.height <= 0 || s.scan0 == nullptr) return Status::InvalidParameter;

  auto job = std::make_unique<Job>();
  RowSource rows;
  if (!plan(s, *job, rows)) return Status::NotImplemented;
  job->width = static_cast<png_uint_32>(s.width);
  job->height = static_cast<png_uint_32>(s.height);
  job->row = RowSource::thunk;
  job->row_context = &rows;
  job->compression = job->color_type == PNG_COLOR_TYPE_PALETTE
                         ? flat_compression()
                         : choose_compression(RowSource::thunk, &rows, s.height, rows.row_bytes(),
                                              rows.pixel_bytes());

  const png_uint_32 ppm_x = pixels_per_metre(img.dpi_x());
  const png_uint_32 ppm_y = pixels_per_metre(img.dpi_y());
  job->has_phys = ppm_x != 0 && ppm_y != 0;
  job->ppm_x = ppm_x;
  job->ppm_y = ppm_y;

  // Text chunks; the ASCII values end at their first NUL.
  std::vector<std::string> values;
  std::vector<png_text> texts;
  values.reserve(std::size(kTextKeys));
  for (const TextKey& k : kTextKeys) {
    const PropertyItem* p = img.property(k.id);
    if (p == nullptr || p->type != ptype::kAscii) continue;
    const auto end = std::find(p->value.begin(), p->value.end(), uint8_t{0});
    values.emplace_back(p->value.begin(), end);
    png_text t{};
    t.compression = PNG_TEXT_COMPRESSION_NONE;
    t.key = const_cast<char*>(k.keyword);
    t.text = values.back().data();
    t.text_length = values.back().size();
    texts.push_back(t);
  }
  job->texts = texts.data();
  job->num_texts = static_cast<int>(texts.size());
  const PropertyItem* icc = img.property(kTagIccProfile);
  const bool has_icc =
      icc != nullptr && icc->value.size() >= 132 && icc->value.size() < (64u << 20);
  job->icc = has_icc ? icc->value.data() : nullptr;
  job->icc_size = has_icc ? icc->length() : 0;

  WriteStructs structs;
  structs.png =
      png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, on_png_error, on_png_warning);
  if (structs.png == nullptr) return Status::OutOfMemory;
  structs.info = png_create_info_struct(structs.png);
  if (structs.info == nullptr) return Status::OutOfMemory;
  job->png = structs.png;
  job->info = structs.info;

  job->out = &out;
  if (!write_png(job.get())) return job->write_failed ? out.error() : Status::GenericError;
  return Status::Ok;
}

}  // namespace

Status encode(Image& img, const EncoderParams& /*params*/, ByteSink& out) {
  return guarded([&] { return encode_png(img, out); });
}

}  // namespace korvex::raster::png
