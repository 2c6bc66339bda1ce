// cPDF document structure: header, information, catalog, page objects and
// their content streams, the shared resources, the page tree, the
// cross-reference table and the trailer, plus the writer's number and text
// formatting.
#include <time.h>

#include <algorithm>
#include <atomic>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <system_error>

#include "host/file_io.h"
#include "pdf/pdf.h"
#include "raster/cp1252.h"

namespace korvex::pdf {

namespace {

constexpr char kCR = '\r';

// Handles told apart per document, never 0 (0 means no document).
int32_t next_handle() {
  static std::atomic<uint32_t> counter{0};
  return static_cast<int32_t>(counter.fetch_add(1, std::memory_order_relaxed) % 0x7FFFFFFEu) + 1;
}

// `value` rounded to `decimals` places, halves to even, on the shortest
// decimal text of the value (so 0.0005 is a true half): digits of the
// rounded value times 10^decimals, and whether it is negative.
std::string round_decimal(double value, int decimals, bool& negative) {
  negative = false;
  if (!std::isfinite(value) || value == 0) return "0";
  if (decimals < 0) decimals = 0;
  if (decimals > 20) decimals = 20;
  char buf[64];
  const auto res = std::to_chars(buf, buf + sizeof buf, value, std::chars_format::scientific);
  if (res.ec != std::errc()) return "0";  // cannot happen with this buffer
  std::string sci(buf, res.ptr);
  if (sci[0] == '-') {
    negative = true;
    sci.erase(0, 1);
  }
  const size_t e_at = sci.find('e');
  std::string digits;
  for (size_t i = 0; i < e_at; ++i)
    if (sci[i] != '.') digits += sci[i];
  const int exponent = std::atoi(sci.c_str() + e_at + 1);
  // digits = d0 d1 d2 ... with the point after d0 at 10^exponent.
  const long keep = static_cast<long>(exponent) + 1 + decimals;
  if (keep < 0) {
    negative = false;
    return "0";
  }
  std::string kept =
      digits.substr(0, static_cast<size_t>(std::min<long>(keep, static_cast<long>(digits.size()))));
  while (static_cast<long>(kept.size()) < keep) kept += '0';
  const std::string rest =
      static_cast<long>(digits.size()) > keep ? digits.substr(static_cast<size_t>(keep)) : "";
  bool up = false;
  if (!rest.empty()) {
    if (rest[0] > '5') {
      up = true;
    } else if (rest[0] == '5') {
      const bool exact_half = rest.find_first_not_of('0', 1) == std::string::npos;
      const int last = kept.empty() ? 0 : kept.back() - '0';
      up = !exact_half || (last % 2 == 1);
    }
  }
  if (up) {
    int i = static_cast<int>(kept.size()) - 1;
    while (i >= 0 && kept[static_cast<size_t>(i)] == '9') kept[static_cast<size_t>(i--)] = '0';
    if (i < 0)
      kept.insert(kept.begin(), '1');
    else
      ++kept[static_cast<size_t>(i)];
  }
  const size_t nz = kept.find_first_not_of('0');
  if (nz == std::string::npos) {
    negative = false;
    return "0";
  }
  return kept.substr(nz);
}

std::string place_point(const std::string& scaled, int decimals, bool negative, bool trim) {
  if (decimals < 0) decimals = 0;
  if (decimals > 20) decimals = 20;
  std::string n = scaled;
  const size_t d = static_cast<size_t>(decimals);
  if (n.size() <= d) n.insert(0, d + 1 - n.size(), '0');
  std::string whole = n.substr(0, n.size() - d);
  std::string frac = n.substr(n.size() - d);
  if (trim) {
    const size_t last = frac.find_last_not_of('0');
    frac = last == std::string::npos ? "" : frac.substr(0, last + 1);
  }
  std::string out = negative ? "-" : "";
  out += whole;
  if (!frac.empty()) out += "." + frac;
  return out;
}

}  // namespace

std::string cPDF::FormatNum(double value, int decimals) {
  bool negative = false;
  const std::string scaled = round_decimal(value, decimals, negative);
  return place_point(scaled, decimals, negative, true);
}

std::string cPDF::FormatFixed(double value, int decimals) {
  bool negative = false;
  const std::string scaled = round_decimal(value, decimals, negative);
  return place_point(scaled, decimals, negative, false);
}

std::string cPDF::EscapeText(const std::string& text) {
  const std::vector<uint8_t> bytes = raster::utf8_to_cp1252(text);
  std::string out;
  out.reserve(bytes.size() + 8);
  for (uint8_t b : bytes) {
    if (b == '\\' || b == '(' || b == ')') out += '\\';
    out += static_cast<char>(b);
  }
  return out;
}

std::string cPDF::CreationDate(int64_t unix_time) {
  const time_t t = static_cast<time_t>(unix_time);
  struct tm lt {};
  if (localtime_r(&t, &lt) == nullptr) gmtime_r(&t, &lt);
  const long off = lt.tm_gmtoff;  // seconds east of UTC
  const long mins = (off < 0 ? -off : off) / 60;
  char buf[64];
  std::snprintf(buf, sizeof buf, "D:%04d%02d%02d%02d%02d%02d%c%02ld'%02ld'", lt.tm_year + 1900,
                lt.tm_mon + 1, lt.tm_mday, lt.tm_hour, lt.tm_min, lt.tm_sec, off < 0 ? '-' : '+',
                mins / 60, mins % 60);
  return buf;
}

cPDF::cPDF() = default;

cPDF::~cPDF() {
  Drop();
}

void cPDF::SetCompressLevel(int32_t level) {
  if (level < 0 || level > 9) return;
  compress_level_ = level;
  if (level == 0) CompressData = false;
}

void cPDF::SetPaperSize(int32_t size) {
  paper_size_ = size;
  switch (size) {
    case 0:
      paper_width_ = 595.2f;
      paper_height_ = 842.0f;
      break;
    case 1:
      paper_width_ = 842.0f;
      paper_height_ = 1190.5f;
      break;
    case 2:
      paper_width_ = 612.0f;
      paper_height_ = 792.0f;
      break;
    case 3:
      paper_width_ = 612.0f;
      paper_height_ = 864.0f;
      break;
    default:
      break;
  }
}

void cPDF::SetPaperWidth(float w) {
  paper_width_ = w;
  paper_size_ = 255;
}

void cPDF::SetPaperHeight(float h) {
  paper_height_ = h;
  paper_size_ = 255;
}

void cPDF::fail(raster::Status st) {
  if (status_ == raster::Status::Ok && st != raster::Status::Ok) status_ = st;
}

bool cPDF::writable() const {
  return file_ != nullptr && status_ == raster::Status::Ok;
}

uint64_t cPDF::position() const {
  return file_ ? file_->sink().tell() : 0;
}

void cPDF::WriteBytes(const void* data, size_t n) {
  if (!writable() || n == 0) return;
  raster::ByteSink& sink = file_->sink();
  if (!sink.write(data, n)) {
    fail(sink.error() != raster::Status::Ok ? sink.error() : raster::Status::Win32Error);
  }
}

void cPDF::WriteLine(const std::string& text) {
  std::string line = text;
  line += "\r\n";
  WriteBytes(line.data(), line.size());
}

int32_t cPDF::BeginObj(int32_t number) {
  if (number == 0) number = last_obj_ + 1;
  if (number > last_obj_) last_obj_ = number;
  if (xref_.size() < static_cast<size_t>(last_obj_))
    xref_.resize(static_cast<size_t>(last_obj_), 0);
  xref_[static_cast<size_t>(number) - 1] = position();
  WriteLine(std::to_string(number) + " 0 obj");
  return number;
}

void cPDF::Drop() {
  if (file_) file_->abandon();
  file_.reset();
  handle_ = 0;
  in_page_ = false;
}

bool cPDF::InitPDFFile(const std::string& path) {
  Drop();
  status_ = raster::Status::Ok;
  pages_ = 0;
  kids_.clear();
  font_resources_.clear();
  image_resources_.clear();
  fonts_.clear();
  images_.clear();
  xref_.clear();
  last_obj_ = 0;
  path_ = path;
  if (path.empty()) {
    status_ = raster::Status::InvalidParameter;
    return false;
  }
  file_ = std::make_unique<host::FileReplacement>();
  const raster::Status st =
      file_->begin(path, [](raster::ByteSink&) { return raster::Status::Ok; });
  if (st != raster::Status::Ok) {
    file_.reset();
    status_ = st;
    return false;
  }
  handle_ = next_handle();
  WriteLine("%PDF-1.3");
  BeginObj(1);
  std::string info = "<<";
  info += kCR + ("/Title (" + EscapeText(PDFTitle) + ")");
  info += kCR + ("/Author (" + EscapeText(PDFAuthor) + ")");
  info += kCR + ("/Creator  (" + EscapeText(PDFCreator) + ")");
  info += kCR + ("/Producer (" + EscapeText(PDFProducer) + ")");
  info += kCR + ("/CreationDate (" + CreationDate(static_cast<int64_t>(::time(nullptr))) + ")");
  info += kCR + std::string(">>");
  WriteLine(info);
  EndObj();
  BeginObj(2);
  WriteLine(
      "<<\r/Type /Catalog\r/Pages 3 0 R\r/PageMode /UseNone\r/PageLayout /OneColumn\r"
      "/ViewerPreferences << /HideToolbar false /DisplayDocTitle true /HideWindowUI false >>\r"
      ">>");
  EndObj();
  last_obj_ = 4;  // 3 and 4: the page tree and the resources, written at the end
  xref_.resize(4, 0);
  if (status_ != raster::Status::Ok) {
    const raster::Status failed = status_;
    Drop();
    status_ = failed;
    return false;
  }
  return true;
}

int32_t cPDF::BeginPage() {
  if (!writable()) return 0;
  if (in_page_) EndPage();
  ++pages_;
  char_spacing_ = 0;
  word_spacing_ = 0;
  h_scaling_ = 100;
  const int32_t p = BeginObj(0);
  const std::string m = FormatNum(Margin, 3);
  std::string page = "<<\r/Type /Page\r/Parent 3 0 R\r/Contents " + std::to_string(p + 1) + " 0 R";
  page +=
      "\r/MediaBox [0 0 " + FormatNum(paper_width_, 3) + " " + FormatNum(paper_height_, 3) + "]";
  page += "\r/CropBox [" + m + " " + m + " " + FormatNum(double(paper_width_) - Margin, 3) + " " +
          FormatNum(double(paper_height_) - Margin, 3) + "]";
  page += Orientation == 1 ? "\r/Rotate 90" : "\r";
  page += "\r>>";
  WriteLine(page);
  EndObj();
  kids_ += std::to_string(p) + " 0 R ";
  BeginObj(p + 1);
  // The length object is reserved now, so its number is p + 2 whatever is
  // numbered while the page is open.
  length_obj_ = p + 2;
  if (last_obj_ < length_obj_) last_obj_ = length_obj_;
  WriteLine("<< /Length " + std::to_string(length_obj_) + " 0 R >>\rstream");
  stream_start_ = position();
  in_page_ = true;
  return pages_;
}

void cPDF::EndPage() {
  if (!in_page_) return;
  in_page_ = false;
  const uint64_t length = position() - stream_start_;
  WriteLine("endstream");
  EndObj();
  BeginObj(length_obj_);
  WriteLine(std::to_string(length));
  EndObj();
}

bool cPDF::ClosePDFFile() {
  if (!file_) return false;
  if (in_page_) EndPage();
  BeginObj(4);
  std::string res = "<<";
  if (!fonts_.empty()) res += "\r/Font <<\r" + font_resources_ + ">>";
  res += std::string("\r/ProcSet [/PDF /Text") +
         (images_.empty() ? "" : " /ImageB /ImageC /ImageI") + " ]";
  if (!images_.empty()) res += "\r/XObject <<\r" + image_resources_ + "\r>>";
  res += "\r>>";
  WriteLine(res);
  EndObj();
  BeginObj(3);
  WriteLine("<<\r/Type /Pages\r/Count " + std::to_string(pages_) + "\r/Kids [" + kids_ +
            " ]\r/Resources 4 0 R\r>>");
  EndObj();
  const uint64_t xref_at = position();
  WriteLine("xref");
  WriteLine("0 " + std::to_string(last_obj_ + 1));
  WriteLine("0000000000 65535 f");
  char entry[40];
  std::string block;
  for (size_t i = 0; i < static_cast<size_t>(last_obj_); ++i) {
    const uint64_t at = i < xref_.size() ? xref_[i] : 0;
    std::snprintf(entry, sizeof entry, "%010llu 00000 n\r\n", static_cast<unsigned long long>(at));
    block += entry;
    if (block.size() >= 64 * 1024) {
      WriteBytes(block.data(), block.size());
      block.clear();
    }
  }
  WriteBytes(block.data(), block.size());
  WriteLine("trailer\r<<\r/Size " + std::to_string(last_obj_ + 1) +
            "\r/Info 1 0 R\r/Root 2 0 R\r>>");
  WriteLine("startxref\r" + std::to_string(xref_at));
  WriteLine("%%EOF\r");
  bool ok = status_ == raster::Status::Ok;
  if (ok) {
    const raster::Status st = file_->commit();
    fail(st);
    ok = st == raster::Status::Ok;
  }
  Drop();
  return ok;
}

}  // namespace korvex::pdf
