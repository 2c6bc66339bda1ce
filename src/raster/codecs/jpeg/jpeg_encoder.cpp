// JPEG encoder: baseline JFIF with standard Huffman tables. Gray images
// (8bppIndexed over a gray palette, 16bppGrayScale) are written as one
// component; everything else as YCbCr 4:2:0 from B, G, R rows, alpha
// dropped. The image's property items go into an EXIF APP1 segment.
#include <algorithm>
#include <cmath>
#include <new>

#include "raster/codecs/ifd/ifd.h"
#include "raster/codecs/jpeg/jpeg_common.h"
#include "raster/convert.h"
#include "raster/guard.h"

namespace korvex::raster::jpeg {

namespace {

constexpr int kDefaultQuality = 75;
// A marker segment holds 65533 bytes after its length; "Exif\0\0" takes 6.
constexpr size_t kMaxExifBlock = 65533 - 6;
// libjpeg's largest picture side.
constexpr int32_t kMaxSide = 65500;

enum class Source { kBgr24, kGrayIndexed, kGray16, kConvert };

// The output: libjpeg fills a fixed buffer, which goes to the sink whenever
// it is full and once more at the end.
constexpr size_t kOutputBuffer = size_t{64} << 10;

struct Destination {
  jpeg_destination_mgr pub;
  ByteSink* out;
  uint8_t* buffer;  // kOutputBuffer bytes
};

void init_destination(j_compress_ptr cinfo) {
  Destination* d = reinterpret_cast<Destination*>(cinfo->dest);
  d->pub.next_output_byte = d->buffer;
  d->pub.free_in_buffer = kOutputBuffer;
}

boolean empty_output_buffer(j_compress_ptr cinfo) {
  Destination* d = reinterpret_cast<Destination*>(cinfo->dest);
  // Called when the whole buffer is full, whatever free_in_buffer says.
  if (!d->out->write(d->buffer, kOutputBuffer)) {
    fail(reinterpret_cast<j_common_ptr>(cinfo), d->out->error());
  }
  d->pub.next_output_byte = d->buffer;
  d->pub.free_in_buffer = kOutputBuffer;
  return TRUE;
}

void term_destination(j_compress_ptr cinfo) {
  Destination* d = reinterpret_cast<Destination*>(cinfo->dest);
  const size_t used = kOutputBuffer - d->pub.free_in_buffer;
  if (!d->out->write(d->buffer, used)) fail(reinterpret_cast<j_common_ptr>(cinfo), d->out->error());
}

// Everything the setjmp frame touches: plain C data and pointers only.
struct EncodeJob {
  jpeg_compress_struct cinfo;
  ErrorManager err;
  Destination dest;
  // Source rows.
  int32_t width;
  int32_t height;
  PixelFormat format;
  const Palette* palette;  // kConvert: the source's palette
  Source source;
  const uint8_t* gray_lut;  // kGrayIndexed: palette index -> gray
  uint8_t* row;             // one converted row (kGray*, kConvert)
  uint32_t* scratch;        // kConvert: one row of 32bppARGB
  // Settings.
  int quality;
  uint16_t dpi_x, dpi_y;
  const uint8_t* exif;  // "Exif\0\0" + block, or null
  unsigned exif_size;
  const uint8_t* icc;  // ICC profile, or null
  unsigned icc_size;
};

// One source row in the form libjpeg takes (gray bytes or B, G, R).
JSAMPROW prepare_row(const EncodeJob* job, const uint8_t* src) {
  const int32_t w = job->width;
  switch (job->source) {
    case Source::kBgr24:
      return const_cast<JSAMPROW>(src);  // libjpeg only reads the rows
    case Source::kGrayIndexed:
      for (int32_t x = 0; x < w; ++x) job->row[x] = job->gray_lut[src[x]];
      return job->row;
    case Source::kGray16:
      for (int32_t x = 0; x < w; ++x) job->row[x] = src[2 * x + 1];  // high byte
      return job->row;
    case Source::kConvert:
      convert_pixels(job->format, src, 0, *job->palette, pf::k24bppRGB, job->row, 0, nullptr, w,
                     job->scratch);
      return job->row;
  }
  return job->row;
}

j_common_ptr common(EncodeJob* job) {
  return reinterpret_cast<j_common_ptr>(&job->cinfo);
}

// Sets libjpeg up and writes the headers and metadata segments.
bool start(EncodeJob* job) {
  if (setjmp(job->err.jump)) return false;
  jpeg_compress_struct& c = job->cinfo;
  jpeg_create_compress(&c);
  c.dest = &job->dest.pub;
  c.image_width = static_cast<JDIMENSION>(job->width);
  c.image_height = static_cast<JDIMENSION>(job->height);
  const bool gray = job->source == Source::kGrayIndexed || job->source == Source::kGray16;
  c.input_components = gray ? 1 : 3;
  c.in_color_space = gray ? JCS_GRAYSCALE : JCS_EXT_BGR;
  jpeg_set_defaults(&c);  // YCbCr output is 4:2:0
  jpeg_set_quality(&c, job->quality, TRUE);
  c.optimize_coding = FALSE;
  c.write_JFIF_header = TRUE;
  c.density_unit = 1;
  c.X_density = job->dpi_x;
  c.Y_density = job->dpi_y;
  jpeg_start_compress(&c, TRUE);
  if (job->exif != nullptr) jpeg_write_marker(&c, JPEG_APP0 + 1, job->exif, job->exif_size);
  if (job->icc != nullptr) jpeg_write_icc_profile(&c, job->icc, job->icc_size);
  return true;
}

// Compresses the next `rows` source rows (rows past the picture's end are ignored).
bool write_rows(EncodeJob* job, const uint8_t* src, ptrdiff_t stride, int32_t rows) {
  if (setjmp(job->err.jump)) return false;
  jpeg_compress_struct& c = job->cinfo;
  for (int32_t y = 0; y < rows && c.next_scanline < c.image_height; ++y) {
    JSAMPROW row = prepare_row(job, src + static_cast<ptrdiff_t>(y) * stride);
    jpeg_write_scanlines(&c, &row, 1);
  }
  return true;
}

bool finish(EncodeJob* job) {
  if (setjmp(job->err.jump)) return false;
  if (job->cinfo.next_scanline < job->cinfo.image_height) fail(common(job), Status::WrongState);
  jpeg_finish_compress(&job->cinfo);
  return true;
}

// Owns the libjpeg struct for the C++ side: destroys it on every path.
struct Session {
  EncodeJob job{};
  Session() { install_error_manager(reinterpret_cast<j_common_ptr>(&job.cinfo), job.err, false); }
  ~Session() { jpeg_destroy_compress(&job.cinfo); }
  Session(const Session&) = delete;
  Session& operator=(const Session&) = delete;
};

// An 8-bit palette that is a gray ramp (entry i is gray level i), or that is
// flagged gray and holds only grays, maps each index to a gray level.
bool gray_palette(const Palette& p, uint8_t lut[256]) {
  if (p.entries.empty() || p.entries.size() > 256) return false;
  bool ramp = true;
  for (size_t i = 0; i < p.entries.size(); ++i) {
    const uint32_t c = p.entries[i];
    const uint8_t r = static_cast<uint8_t>(c >> 16), g = static_cast<uint8_t>(c >> 8),
                  b = static_cast<uint8_t>(c);
    if (r != g || g != b) return false;
    ramp = ramp && static_cast<size_t>(r) == i;
    lut[i] = r;
  }
  if (!ramp && (p.flags & Palette::kGrayScale) == 0) return false;
  std::fill(lut + p.entries.size(), lut + 256, uint8_t{0});  // past the palette reads as 0
  return true;
}

uint16_t density(float dpi) {
  if (!std::isfinite(dpi)) return 96;
  return static_cast<uint16_t>(std::clamp(std::lround(dpi), 1L, 65535L));
}

// "Exif\0\0" and the block of the image's writable items, or nothing. When
// the block would not fit in a segment the largest items are dropped first.
Status exif_segment(const std::vector<PropertyItem>& properties, std::vector<uint8_t>& segment) {
  // The colour profile travels in its own segments, not in EXIF.
  std::vector<PropertyItem> all;
  for (const PropertyItem& p : properties) {
    if (p.id != kIccProfileTag) all.push_back(p);
  }
  std::vector<uint8_t> block;
  Status s = ifd::write_exif_block(all, block);
  if (s == Status::OutOfMemory) return s;
  if (s != Status::Ok || block.size() > kMaxExifBlock) {
    std::vector<PropertyItem> items = all;
    std::stable_sort(items.begin(), items.end(), [](const PropertyItem& a, const PropertyItem& b) {
      return a.value.size() < b.value.size();
    });
    while ((s != Status::Ok || block.size() > kMaxExifBlock) && !items.empty()) {
      items.pop_back();
      s = ifd::write_exif_block(items, block);
      if (s == Status::OutOfMemory) return s;
    }
  }
  if (s != Status::Ok) block.clear();
  segment.clear();
  if (block.empty()) return Status::Ok;
  static constexpr uint8_t kHeader[6] = {'E', 'x', 'i', 'f', 0, 0};
  segment.assign(kHeader, kHeader + 6);
  segment.insert(segment.end(), block.begin(), block.end());
  return Status::Ok;
}

// The picture's rows into libjpeg, a band at a time. The writer keeps what
// libjpeg reads while it works: the row buffers, the output buffer, the
// metadata segments and the palette.
class Writer final : public BandWriter {
 public:
  Status open(const BandPicture& p, const EncoderParams& params, ByteSink& out);
  Status write(const uint8_t* src, ptrdiff_t stride, int32_t rows) override;
  Status finish() override;

 private:
  Session session_;
  uint8_t lut_[256] = {};
  Palette palette_;
  std::vector<uint8_t> row_;
  std::vector<uint32_t> scratch_;
  std::vector<uint8_t> exif_;
  std::vector<uint8_t> icc_;
  std::vector<uint8_t> buffer_;
  Status failed_ = Status::Ok;
};

Status Writer::open(const BandPicture& p, const EncoderParams& params, ByteSink& out) {
  const int32_t quality = param_value(params, encparam::kQuality, kDefaultQuality);
  if (quality < 0 || quality > 100) return Status::InvalidParameter;
  if (p.width <= 0 || p.height <= 0) return Status::InvalidParameter;
  if (p.width > kMaxSide || p.height > kMaxSide) return Status::GenericError;

  EncodeJob& job = session_.job;
  if (p.format == pf::k8bppIndexed && gray_palette(p.palette, lut_)) {
    job.source = Source::kGrayIndexed;
  } else if (p.format == pf::k16bppGrayScale) {
    job.source = Source::kGray16;
  } else if (p.format == pf::k24bppRGB) {
    job.source = Source::kBgr24;
  } else {
    job.source = Source::kConvert;
  }
  palette_ = p.palette;
  row_.resize(static_cast<size_t>(p.width) * 3);
  scratch_.resize(job.source == Source::kConvert ? static_cast<size_t>(p.width) : 0);
  if (Status st = exif_segment(p.properties, exif_); st != Status::Ok) return st;
  for (const PropertyItem& item : p.properties) {
    if (item.id == kIccProfileTag) {
      icc_ = item.value;
      break;
    }
  }

  // A first guess at the size, for a memory sink.
  out.expect(std::clamp<uint64_t>(static_cast<uint64_t>(p.width) * p.height / 4, 4096, 16u << 20));
  buffer_.resize(kOutputBuffer);
  job.dest.pub.init_destination = init_destination;
  job.dest.pub.empty_output_buffer = empty_output_buffer;
  job.dest.pub.term_destination = term_destination;
  job.dest.out = &out;
  job.dest.buffer = buffer_.data();
  job.width = p.width;
  job.height = p.height;
  job.format = p.format;
  job.palette = &palette_;
  job.gray_lut = lut_;
  job.row = row_.data();
  job.scratch = scratch_.data();
  job.quality = quality;
  job.dpi_x = density(p.dpi_x);
  job.dpi_y = density(p.dpi_y);
  job.exif = exif_.empty() ? nullptr : exif_.data();
  job.exif_size = static_cast<unsigned>(exif_.size());
  job.icc = icc_.empty() ? nullptr : icc_.data();
  job.icc_size = static_cast<unsigned>(icc_.size());
  if (!start(&job)) return failed_ = job.err.status;
  return Status::Ok;
}

Status Writer::write(const uint8_t* src, ptrdiff_t stride, int32_t rows) {
  if (failed_ != Status::Ok) return failed_;
  if (!write_rows(&session_.job, src, stride, rows)) return failed_ = session_.job.err.status;
  return Status::Ok;
}

Status Writer::finish() {
  if (failed_ != Status::Ok) return failed_;
  if (!jpeg::finish(&session_.job)) return failed_ = session_.job.err.status;
  return Status::Ok;
}

}  // namespace

Status encode(Image& img, const EncoderParams& params, ByteSink& out) {
  return guarded([&] {
    const Surface& s = img.surface();
    if (s.scan0 == nullptr) return Status::InvalidParameter;
    Writer w;
    if (Status st = w.open(band_picture_of(img), params, out); st != Status::Ok) return st;
    if (Status st = w.write(s.scan0, s.stride, s.height); st != Status::Ok) return st;
    return w.finish();
  });
}

Status open_band_writer(const BandPicture& picture, const EncoderParams& params, ByteSink& sink,
                        std::unique_ptr<BandWriter>& out) {
  return guarded([&] {
    auto w = std::make_unique<Writer>();
    if (Status st = w->open(picture, params, sink); st != Status::Ok) return st;
    out = std::move(w);
    return Status::Ok;
  });
}

}  // namespace korvex::raster::jpeg
