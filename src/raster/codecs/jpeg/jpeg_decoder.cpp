// JPEG decoder: baseline, extended, progressive and arithmetic-coded 8-bit
// pictures through libjpeg. Gray pictures become 8bppIndexed over a gray
// ramp, the others 24bppRGB; EXIF metadata becomes property items.
#include <climits>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <new>

#include "raster/bands.h"
#include "raster/codecs/ifd/ifd.h"
#include "raster/codecs/jpeg/jpeg_common.h"
#include "raster/guard.h"

namespace korvex::raster::jpeg {

namespace {

// A progressive file needs a dozen scans; thousands of tiny ones only make
// every one of them walk the whole coefficient buffer again.
constexpr int kMaxScans = 500;

enum class Layout { kGray, kBgr, kCmyk, kAdobeCmyk };

// Everything the setjmp frames touch: plain C data only.
struct DecodeState {
  jpeg_decompress_struct cinfo;
  ErrorManager err;
  jpeg_progress_mgr progress;
  bool started;  // jpeg_start_decompress has run
};

j_common_ptr common(DecodeState* st) {
  return reinterpret_cast<j_common_ptr>(&st->cinfo);
}

void limit_scans(j_common_ptr cinfo) {
  const j_decompress_ptr d = reinterpret_cast<j_decompress_ptr>(cinfo);
  if (d->input_scan_number > kMaxScans) fail(cinfo, Status::GenericError);
}

// Bytes libjpeg may use for its own buffers: the coefficients of a
// progressive or multi-scan picture take two bytes a sample, up to four
// samples a pixel, against three bytes a pixel for the surface.
long memory_cap() {
  const uint64_t limit = pixel_memory_limit();
  const uint64_t cap =
      limit > (uint64_t{LONG_MAX} - (16u << 20)) / 3 ? uint64_t{LONG_MAX} : limit * 3 + (16u << 20);
  return static_cast<long>(cap);
}

// Reads the markers up to the first scan and chooses the output colour
// space. Returns false when libjpeg fails (st->err.status says why).
bool read_header(DecodeState* st, const uint8_t* data, size_t size, long cap) {
  if (setjmp(st->err.jump)) return false;
  jpeg_create_decompress(&st->cinfo);
  st->cinfo.mem->max_memory_to_use = cap;
  st->progress.progress_monitor = limit_scans;
  st->cinfo.progress = &st->progress;
  jpeg_mem_src(&st->cinfo, data, static_cast<unsigned long>(size));
  jpeg_save_markers(&st->cinfo, JPEG_APP0 + 1, 0xFFFF);
  jpeg_save_markers(&st->cinfo, JPEG_APP0 + 2, 0xFFFF);  // ICC profile chunks
  if (jpeg_read_header(&st->cinfo, TRUE) != JPEG_HEADER_OK) fail(common(st), Status::GenericError);
  switch (st->cinfo.jpeg_color_space) {
    case JCS_GRAYSCALE:
      st->cinfo.out_color_space = JCS_GRAYSCALE;
      break;
    case JCS_YCbCr:
    case JCS_RGB:
      st->cinfo.out_color_space = JCS_EXT_BGR;
      break;
    case JCS_CMYK:
    case JCS_YCCK:
      st->cinfo.out_color_space = JCS_CMYK;
      break;
    default:  // two components, or five and more
      fail(common(st), Status::NotImplemented);
  }
  jpeg_calc_output_dimensions(&st->cinfo);
  return true;
}

// Exact round(a * b / 255) for bytes.
inline uint8_t mul255(unsigned a, unsigned b) {
  const unsigned x = a * b + 128;
  return static_cast<uint8_t>((x + (x >> 8)) >> 8);
}

// CMYK row to B, G, R. Files with an Adobe marker store the inks inverted
// (0 = full ink), so a channel is simply the product of its inverted ink and
// the inverted black; other files store plain ink amounts.
void cmyk_to_bgr(const uint8_t* src, uint8_t* dst, uint32_t width, bool inverted) {
  const unsigned flip = inverted ? 0 : 255;
  for (uint32_t x = 0; x < width; ++x, src += 4, dst += 3) {
    const unsigned k = src[3] ^ flip;
    dst[0] = mul255(src[2] ^ flip, k);
    dst[1] = mul255(src[1] ^ flip, k);
    dst[2] = mul255(src[0] ^ flip, k);
  }
}

// True when every coefficient of every component has reached its final
// precision. A progressive file cut between two scans decodes without a
// complaint from libjpeg, only coarser; this tells it from one that merely
// lacks its EOI marker (a file whose scans stop refining early on purpose
// and lacks EOI is refused too).
bool fully_refined(const jpeg_decompress_struct& cinfo) {
  if (cinfo.coef_bits == nullptr) return false;
  for (int c = 0; c < cinfo.num_components; ++c) {
    for (int k = 0; k < DCTSIZE2; ++k) {
      if (cinfo.coef_bits[c][k] != 0) return false;
    }
  }
  return true;
}

// Decodes the next `rows` rows into `dst`; CMYK rows go through `cmyk_row`.
// The first call starts decompression, the one that reaches the last row
// checks how the data ended.
bool read_rows(DecodeState* st, uint8_t* dst, ptrdiff_t stride, int32_t rows, Layout layout,
               uint8_t* cmyk_row) {
  if (setjmp(st->err.jump)) return false;
  if (!st->started) {
    st->started = true;
    jpeg_start_decompress(&st->cinfo);  // reads every scan of a progressive file
  }
  const bool cmyk = layout == Layout::kCmyk || layout == Layout::kAdobeCmyk;
  for (int32_t y = 0; y < rows && st->cinfo.output_scanline < st->cinfo.output_height; ++y) {
    uint8_t* out = dst + static_cast<ptrdiff_t>(y) * stride;
    JSAMPROW row = cmyk ? cmyk_row : out;
    if (jpeg_read_scanlines(&st->cinfo, &row, 1) != 1) fail(common(st), Status::GenericError);
    if (cmyk) cmyk_to_bgr(cmyk_row, out, st->cinfo.output_width, layout == Layout::kAdobeCmyk);
  }
  if (st->cinfo.output_scanline < st->cinfo.output_height) return true;
  // Huffman-coded data missing inside a scan has failed already
  // (JWRN_HIT_MARKER). Left are the silent truncations: a progressive file
  // cut between scans (told from a file that only lacks its EOI marker by
  // its unfinished refinement), and arithmetic-coded data, whose decoder
  // takes a marker or the end of the input as zero bytes by design; there an
  // input ending before EOI is refused whatever the cause, and so is an
  // unfinished progression even when an EOI marker was found.
  const jpeg_decompress_struct& c = st->cinfo;
  const bool unfinished = c.progressive_mode && !fully_refined(c);
  if (c.arith_code ? st->err.saw_eof || unfinished : st->err.saw_eof && unfinished) {
    fail(common(st), Status::GenericError);
  }
  // jpeg_finish_decompress is not called: it would only look for the EOI.
  return true;
}

// Owns the libjpeg struct for the C++ side: destroys it on every path.
struct Session {
  DecodeState st{};
  Session() { install_error_manager(reinterpret_cast<j_common_ptr>(&st.cinfo), st.err, true); }
  ~Session() { jpeg_destroy_decompress(&st.cinfo); }
  Session(const Session&) = delete;
  Session& operator=(const Session&) = delete;
};

jpeg_saved_marker_ptr find_exif(const jpeg_decompress_struct& cinfo) {
  for (jpeg_saved_marker_ptr m = cinfo.marker_list; m != nullptr; m = m->next) {
    if (m->marker == JPEG_APP0 + 1 && m->data_length > 6 &&
        std::memcmp(m->data, "Exif\0\0", 6) == 0) {
      return m;
    }
  }
  return nullptr;
}

// Value of a RATIONAL or SHORT item, or 0 when absent or unusable.
double number(const std::vector<PropertyItem>& items, uint32_t id) {
  for (const PropertyItem& it : items) {
    if (it.id != id) continue;
    if (it.type == ptype::kShort && it.value.size() >= 2) return it.value[0] | it.value[1] << 8;
    if (it.type == ptype::kRational && it.value.size() >= 8) {
      const uint8_t* v = it.value.data();
      const uint32_t num = uint32_t{v[3]} << 24 | uint32_t{v[2]} << 16 | uint32_t{v[1]} << 8 | v[0];
      const uint32_t den = uint32_t{v[7]} << 24 | uint32_t{v[6]} << 16 | uint32_t{v[5]} << 8 | v[4];
      return den == 0 ? 0.0 : static_cast<double>(num) / den;
    }
    return 0.0;
  }
  return 0.0;
}

// Resolution: the JFIF density when there is a JFIF header (density unit 1
// dots per inch, 2 dots per centimetre, 0 an aspect ratio only: 96 dpi),
// otherwise EXIF XResolution / YResolution with their ResolutionUnit, else 96.
void resolution(const jpeg_decompress_struct& cinfo, const std::vector<PropertyItem>& exif,
                float& dpi_x, float& dpi_y) {
  dpi_x = dpi_y = 96.0f;
  if (cinfo.saw_JFIF_marker && cinfo.X_density > 0 && cinfo.Y_density > 0) {
    if (cinfo.density_unit == 0) return;
    if (cinfo.density_unit == 1 || cinfo.density_unit == 2) {
      const float scale = cinfo.density_unit == 2 ? 2.54f : 1.0f;
      dpi_x = static_cast<float>(cinfo.X_density) * scale;
      dpi_y = static_cast<float>(cinfo.Y_density) * scale;
      return;
    }
  }
  const double x = number(exif, 0x011A), y = number(exif, 0x011B);
  const double unit = number(exif, 0x0128);
  const double scale = unit == 3 ? 2.54 : unit == 0 || unit == 2 ? 1.0 : 0.0;
  if (x > 0 && y > 0 && scale > 0 && x * scale < 1e6 && y * scale < 1e6) {
    dpi_x = static_cast<float>(x * scale);
    dpi_y = static_cast<float>(y * scale);
  }
}

// The picture's rows through libjpeg, a band at a time. The reader holds
// on to the encoded bytes for as long as libjpeg reads them.
class Reader final : public BandReader {
 public:
  Status open(const EncodedBytes& in);
  Status read(uint8_t* dst, ptrdiff_t stride, int32_t rows) override;

 private:
  Session s_;
  EncodedBytes in_;
  Layout layout_ = Layout::kBgr;
  std::vector<uint8_t> cmyk_row_;
  Status failed_ = Status::Ok;
};

Status Reader::open(const EncodedBytes& in) {
  in_ = in;
  jpeg_decompress_struct& cinfo = s_.st.cinfo;
  if (!read_header(&s_.st, in.data, in.size, memory_cap())) return failed_ = s_.st.err.status;

  picture_.format = pf::k24bppRGB;
  if (cinfo.out_color_space == JCS_GRAYSCALE) {
    layout_ = Layout::kGray;
    picture_.format = pf::k8bppIndexed;
  } else if (cinfo.out_color_space == JCS_CMYK) {
    layout_ = cinfo.saw_Adobe_marker ? Layout::kAdobeCmyk : Layout::kCmyk;
  }
  if (cinfo.output_width > INT32_MAX || cinfo.output_height > INT32_MAX)
    return failed_ = Status::OutOfMemory;
  picture_.width = static_cast<int32_t>(cinfo.output_width);
  picture_.height = static_cast<int32_t>(cinfo.output_height);
  if (layout_ == Layout::kGray) {
    Palette& p = picture_.palette;
    p.flags = Palette::kGrayScale;
    p.entries.resize(256);
    for (uint32_t i = 0; i < 256; ++i) p.entries[i] = 0xFF000000u | i * 0x010101u;
  }
  // The markers live in libjpeg's pool until the struct is destroyed.
  std::vector<PropertyItem>& items = picture_.properties;
  if (const jpeg_saved_marker_ptr m = find_exif(cinfo)) {
    if (ifd::read_properties(m->data + 6, m->data_length - 6, 0, items) != Status::Ok) {
      items.clear();
    }
  }
  resolution(cinfo, items, picture_.dpi_x, picture_.dpi_y);
  // An embedded colour profile, reassembled from its chunks, as property 0x8773.
  JOCTET* icc = nullptr;
  unsigned int icc_size = 0;
  if (jpeg_read_icc_profile(&cinfo, &icc, &icc_size) && icc != nullptr) {
    PropertyItem item;
    item.id = kIccProfileTag;
    item.type = ptype::kUndefined;
    item.value.assign(icc, icc + icc_size);
    std::free(icc);
    items.push_back(std::move(item));
  }
  if (layout_ == Layout::kCmyk || layout_ == Layout::kAdobeCmyk) {
    cmyk_row_.resize(static_cast<size_t>(cinfo.output_width) * 4);
  }
  return Status::Ok;
}

Status Reader::read(uint8_t* dst, ptrdiff_t stride, int32_t rows) {
  if (failed_ != Status::Ok) return failed_;
  if (!read_rows(&s_.st, dst, stride, rows, layout_, cmyk_row_.data())) {
    return failed_ = s_.st.err.status;
  }
  return Status::Ok;
}

Status open_reader(const EncodedBytes& in, std::unique_ptr<BandReader>& out) {
  auto r = std::make_unique<Reader>();
  if (Status st = r->open(in); st != Status::Ok) return st;
  out = std::move(r);
  return Status::Ok;
}

}  // namespace

bool sniff(const uint8_t* data, size_t size) {
  return size >= 3 && data[0] == 0xFF && data[1] == 0xD8 && data[2] == 0xFF;
}

Status decode(const EncodedBytes& in, std::unique_ptr<Image>& out) {
  if (in.data == nullptr || !sniff(in.data, in.size)) return Status::UnknownImageFormat;
  return guarded([&] {
    Reader r;
    if (Status st = r.open(in); st != Status::Ok) return st;
    return decode_through_bands(r, guids::kFormatJpeg, out);
  });
}

Status open_band_reader(const EncodedBytes& in, std::unique_ptr<BandReader>& out) {
  if (in.data == nullptr || !sniff(in.data, in.size)) return Status::UnknownImageFormat;
  return guarded([&] { return open_reader(in, out); });
}

}  // namespace korvex::raster::jpeg
