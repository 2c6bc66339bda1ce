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
//
// The encoder is a band writer. The trial, and the scan of a short
// palette for the highest index the pixels use, need rows from all over the
// picture before the first byte of pixel data: they run in an analysis pass
// over every row (the writer asks for it) ahead of the writing pass. The
// whole-image encode is the same writer given the whole surface twice.
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
  // Supplies a source row in the layout libpng expects before its transforms.
  const uint8_t* (*row)(void* context, const uint8_t* src);
  void* row_context;
  png_uint_32 rows_written;
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

// Sets libpng up and writes everything up to the pixel data. Plain C data
// only: libpng may jump back here. False when libpng fails (out of memory,
// or the sink refused bytes).
bool start(Job* job) {
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
  return true;
}

// Compresses the next `rows` source rows (rows past the picture's end are ignored).
bool write_rows(Job* job, const uint8_t* src, ptrdiff_t stride, int32_t rows) {
  png_structp png = job->png;
  if (setjmp(png_jmpbuf(png))) return false;
  for (int32_t y = 0; y < rows && job->rows_written < job->height; ++y, ++job->rows_written) {
    png_write_row(png, job->row(job->row_context, src + static_cast<ptrdiff_t>(y) * stride));
  }
  return true;
}

bool finish_png(Job* job) {
  if (setjmp(png_jmpbuf(job->png))) return false;
  png_write_end(job->png, job->info);
  return true;
}

// Rows of the picture, as they are or converted into a scratch row.
struct RowSource {
  enum class Kind { Direct, Convert, Unpremultiply16 };
  PixelFormat format = pf::kUndefined;
  int32_t width = 0;
  const Palette* palette = nullptr;
  Kind kind = Kind::Direct;
  PixelFormat target = pf::kUndefined;  // for Convert
  std::vector<uint8_t> line;
  std::vector<uint32_t> scratch;

  // Bytes of a row as row() returns it, and between its samples of one channel.
  size_t row_bytes() const {
    const size_t w = static_cast<size_t>(width);
    return line.empty() ? (static_cast<size_t>(bits_per_pixel(format)) * w + 7) / 8 : line.size();
  }
  size_t pixel_bytes() const {
    const size_t bytes = line.empty() ? static_cast<size_t>(bits_per_pixel(format)) / 8
                                      : line.size() / static_cast<size_t>(width);
    return std::max<size_t>(bytes, 1);
  }

  const uint8_t* row(const uint8_t* src) {
    switch (kind) {
      case Kind::Direct:
        return src;
      case Kind::Convert:
        convert_pixels(format, src, 0, *palette, target, line.data(), 0, nullptr, width,
                       scratch.data());
        return line.data();
      case Kind::Unpremultiply16:
        unpremultiply16(src, width, line.data());
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

  static const uint8_t* thunk(void* context, const uint8_t* src) {
    return static_cast<RowSource*>(context)->row(src);
  }
};

// Highest palette index the pixels of one indexed row use, at least `most`.
int max_index_in_row(const uint8_t* row, int32_t width, int bits, int most) {
  if (bits == 8) {
    for (int32_t x = 0; x < width; ++x) most = std::max<int>(most, row[x]);
  } else if (bits == 4) {
    for (int32_t x = 0; x < width; ++x) {
      most = std::max<int>(most, (x & 1) ? row[x >> 1] & 0x0F : row[x >> 1] >> 4);
    }
  } else {
    for (int32_t x = 0; x < width && most == 0; ++x) most = (row[x >> 3] >> (7 - (x & 7))) & 1;
  }
  return most;
}

// PLTE and tRNS from the palette. PNG needs an entry for every index the
// pixels use (`most_used` and below): entries missing from the palette are
// written as transparent black, which is how indices past the palette read.
void set_palette(const Palette& palette, int bits, int most_used, Job& job) {
  const size_t capacity = size_t{1} << bits;
  std::vector<uint32_t> entries(palette.entries.begin(),
                                palette.entries.begin() + static_cast<std::ptrdiff_t>(std::min(
                                                              palette.entries.size(), capacity)));
  const size_t needed = static_cast<size_t>(most_used) + 1;
  if (entries.size() < needed) entries.resize(needed, 0x00000000u);
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
bool plan(const BandPicture& p, Job& job, RowSource& rows) {
  rows.format = p.format;
  rows.width = p.width;
  rows.palette = &p.palette;
  rows.kind = RowSource::Kind::Direct;
  job.transforms = 0;
  size_t line_bytes = 0;
  switch (p.format) {
    case pf::k1bppIndexed:
    case pf::k4bppIndexed:
    case pf::k8bppIndexed:
      job.color_type = PNG_COLOR_TYPE_PALETTE;
      job.bit_depth = bits_per_pixel(p.format);
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
    rows.line.resize(line_bytes * static_cast<size_t>(p.width));
    rows.scratch.resize(static_cast<size_t>(p.width));
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

// The picture's rows into libpng, a band at a time, after the analysis
// pass when the picture needs one. The writer keeps what libpng reads while
// it works: the palette, the texts, the profile and the scratch rows.
class Writer final : public BandWriter {
 public:
  Status open(const BandPicture& p, ByteSink& out);
  bool analyses() const override { return trial_ != nullptr || scan_palette_; }
  Status analyse(const uint8_t* src, ptrdiff_t stride, int32_t rows) override;
  Status write(const uint8_t* src, ptrdiff_t stride, int32_t rows) override;
  Status finish() override;

 private:
  Status begin();
  Status fail(Status st) { return failed_ = st; }

  BandPicture picture_;
  std::unique_ptr<Job> job_ = std::make_unique<Job>();
  RowSource rows_;
  std::unique_ptr<CompressionTrial> trial_;  // truecolour and gray pictures
  bool scan_palette_ = false;  // a short palette: the highest index the pixels use is sought
  int most_used_ = 0;
  int32_t analysed_ = 0;  // rows seen by the analysis pass
  std::vector<std::string> values_;
  std::vector<png_text> texts_;
  std::vector<uint8_t> icc_;
  WriteStructs structs_;
  bool started_ = false;
  Status failed_ = Status::Ok;
};

Status Writer::open(const BandPicture& p, ByteSink& out) {
  if (p.width <= 0 || p.height <= 0) return Status::InvalidParameter;
  picture_ = p;
  Job& job = *job_;
  if (!plan(picture_, job, rows_)) return Status::NotImplemented;
  job.width = static_cast<png_uint_32>(p.width);
  job.height = static_cast<png_uint_32>(p.height);
  job.row = RowSource::thunk;
  job.row_context = &rows_;
  if (job.color_type == PNG_COLOR_TYPE_PALETTE) {
    job.compression = flat_compression();
    const int bits = job.bit_depth;
    scan_palette_ = picture_.palette.entries.size() < (size_t{1} << bits);
  } else {
    trial_ = std::make_unique<CompressionTrial>(p.height, rows_.row_bytes(), rows_.pixel_bytes());
  }

  const png_uint_32 ppm_x = pixels_per_metre(p.dpi_x);
  const png_uint_32 ppm_y = pixels_per_metre(p.dpi_y);
  job.has_phys = ppm_x != 0 && ppm_y != 0;
  job.ppm_x = ppm_x;
  job.ppm_y = ppm_y;

  auto property = [&](uint32_t id) -> const PropertyItem* {
    for (const PropertyItem& item : picture_.properties) {
      if (item.id == id) return &item;
    }
    return nullptr;
  };
  // Text chunks; the ASCII values end at their first NUL.
  values_.reserve(std::size(kTextKeys));
  for (const TextKey& k : kTextKeys) {
    const PropertyItem* item = property(k.id);
    if (item == nullptr || item->type != ptype::kAscii) continue;
    const auto end = std::find(item->value.begin(), item->value.end(), uint8_t{0});
    values_.emplace_back(item->value.begin(), end);
    png_text t{};
    t.compression = PNG_TEXT_COMPRESSION_NONE;
    t.key = const_cast<char*>(k.keyword);
    t.text = values_.back().data();
    t.text_length = values_.back().size();
    texts_.push_back(t);
  }
  job.texts = texts_.data();
  job.num_texts = static_cast<int>(texts_.size());
  const PropertyItem* icc = property(kTagIccProfile);
  if (icc != nullptr && icc->value.size() >= 132 && icc->value.size() < (64u << 20))
    icc_ = icc->value;
  job.icc = icc_.empty() ? nullptr : icc_.data();
  job.icc_size = static_cast<png_uint_32>(icc_.size());

  structs_.png =
      png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, on_png_error, on_png_warning);
  if (structs_.png == nullptr) return Status::OutOfMemory;
  structs_.info = png_create_info_struct(structs_.png);
  if (structs_.info == nullptr) return Status::OutOfMemory;
  job.png = structs_.png;
  job.info = structs_.info;
  job.out = &out;
  return Status::Ok;
}

Status Writer::analyse(const uint8_t* src, ptrdiff_t stride, int32_t rows) {
  if (failed_ != Status::Ok) return failed_;
  if (started_ || rows < 0) return fail(Status::WrongState);
  const int32_t end = std::min(picture_.height, analysed_ + rows);
  if (trial_) {
    for (int32_t y = trial_->next(); y < end; y = trial_->next())
      trial_->row(rows_.row(src + static_cast<ptrdiff_t>(y - analysed_) * stride));
  }
  const int bits = job_->bit_depth, all = (1 << bits) - 1;
  for (int32_t y = analysed_; scan_palette_ && y < end && most_used_ != all; ++y) {
    most_used_ = max_index_in_row(src + static_cast<ptrdiff_t>(y - analysed_) * stride,
                                  picture_.width, bits, most_used_);
  }
  analysed_ = end;
  return Status::Ok;
}

// Settles the compression and the palette, and writes the headers.
Status Writer::begin() {
  Job& job = *job_;
  if (analyses() && analysed_ < picture_.height) return fail(Status::WrongState);
  if (job.color_type == PNG_COLOR_TYPE_PALETTE) {
    set_palette(picture_.palette, job.bit_depth, most_used_, job);
  } else {
    job.compression = trial_->result();
  }
  started_ = true;
  if (!start(&job)) return fail(job.write_failed ? job.out->error() : Status::GenericError);
  return Status::Ok;
}

Status Writer::write(const uint8_t* src, ptrdiff_t stride, int32_t rows) {
  if (failed_ != Status::Ok) return failed_;
  if (rows < 0) return fail(Status::InvalidParameter);
  if (!started_) {
    if (Status st = begin(); st != Status::Ok) return st;
  }
  Job& job = *job_;
  if (!write_rows(&job, src, stride, rows))
    return fail(job.write_failed ? job.out->error() : Status::GenericError);
  return Status::Ok;
}

Status Writer::finish() {
  if (failed_ != Status::Ok) return failed_;
  Job& job = *job_;
  if (!started_ || job.rows_written < job.height) return fail(Status::WrongState);
  if (!finish_png(&job)) return fail(job.write_failed ? job.out->error() : Status::GenericError);
  return Status::Ok;
}

}  // namespace

Status encode(Image& img, const EncoderParams& /*params*/, ByteSink& out) {
  return guarded([&] {
    const Surface& s = img.surface();
    if (s.width <= 0 || s.height <= 0 || s.scan0 == nullptr) return Status::InvalidParameter;
    Writer w;
    if (Status st = w.open(band_picture_of(img), out); st != Status::Ok) return st;
    if (w.analyses()) {
      if (Status st = w.analyse(s.scan0, s.stride, s.height); st != Status::Ok) return st;
    }
    if (Status st = w.write(s.scan0, s.stride, s.height); st != Status::Ok) return st;
    return w.finish();
  });
}

Status open_band_writer(const BandPicture& picture, const EncoderParams& /*params*/, ByteSink& sink,
                        std::unique_ptr<BandWriter>& out) {
  return guarded([&] {
    auto w = std::make_unique<Writer>();
    if (Status st = w->open(picture, sink); st != Status::Ok) return st;
    out = std::move(w);
    return Status::Ok;
  });
}

}  // namespace korvex::raster::png
