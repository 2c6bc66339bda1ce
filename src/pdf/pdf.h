// cPDF: a PDF 1.3 writer that writes a document front to back while it is
// built. Header, information and catalog come first, each page's object and
// content stream as the page is drawn, fonts and images as they are added,
// and at the end the shared resources, the page tree, the cross-reference
// table and the trailer. Only bookkeeping stays in memory.
//
// The bytes go to a temporary file beside the target, which replaces the
// target only when ClosePDFFile completes without a write error; a document
// abandoned (destroyed or re-initialised) or failed leaves no partial file.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "raster/image.h"
#include "raster/types.h"

namespace korvex::host {
class FileReplacement;
}

namespace korvex::pdf {

// Painting of a path: a bit set.
enum PathStyle : int32_t { kStroke = 1, kClose = 2, kFill = 4 };

struct FontRecord {
  std::string BaseFont;
  int32_t FirstChar = 0;
  int32_t LastChar = 0;
  int32_t Widths[256] = {};
  int32_t MissingWidth = 0;
  int32_t AvgWidth = 0;
  int32_t MaxWidth = 0;
  int32_t Descent = 0;  // positive below the baseline
  int32_t Ascent = 0;
  int32_t ItalicAngle = 0;
  int32_t CapHeight = 0;
  int32_t StemV = 0;
  int32_t Flags = 0;
};

struct ImageRecord {
  int32_t width = 0;
  int32_t height = 0;
  int32_t res_x = 0;
  int32_t res_y = 0;
};

// Measures an installed font at a 1000-unit em: `name` is matched against the
// installed families with case and spaces ignored (the common Windows
// families through their metric-compatible stand-ins). False when no
// installed font has that name. BaseFont is the name as requested.
bool GetFontMetrics(const std::string& name, bool bold, bool italic, FontRecord& out);

class cPDF {
 public:
  cPDF();
  ~cPDF();
  cPDF(const cPDF&) = delete;
  cPDF& operator=(const cPDF&) = delete;

  // Document information (Subject and Keywords are kept but not written).
  std::string PDFAuthor, PDFCreator, PDFKeywords, PDFSubject, PDFProducer, PDFTitle;
  bool CompressData = true;
  int32_t Orientation = 0;  // 1: pages get "/Rotate 90"
  float Margin = 0;         // crop margin in points

  int32_t CompressLevel() const { return compress_level_; }
  void SetCompressLevel(int32_t level);  // 0..9, others ignored; 0 turns CompressData off
  int32_t PaperSize() const { return paper_size_; }
  void SetPaperSize(int32_t size);  // 0 A4, 1 A3, 2 Letter, 3 12x8 in; others only stored
  float PaperWidth() const { return paper_width_; }
  float PaperHeight() const { return paper_height_; }
  void SetPaperWidth(float w);   // PaperSize becomes 255
  void SetPaperHeight(float h);  // PaperSize becomes 255
  int32_t Pages() const { return pages_; }
  // Non-zero while a document is open.
  int32_t NativeHandle() const { return handle_; }
  // The first write or file error of the current document (Ok otherwise).
  raster::Status status() const { return status_; }
  bool page_open() const { return in_page_; }
  int32_t last_object() const { return last_obj_; }

  // Document structure.
  bool InitPDFFile(const std::string& path);
  int32_t BeginPage();
  void EndPage();
  // Finishes the file and puts it in place; false when it could not be
  // written (status() tells why) or no document was open.
  bool ClosePDFFile();

  // Resources; 0 when refused (no document, a page open, font not installed,
  // image unreadable or empty).
  int32_t LoadFont(const std::string& name, bool bold, bool italic);
  int32_t PdfAddImage(raster::Image& img);
  int32_t PdfAddImage(const std::string& path);
  // A colour image already encoded as a baseline JPEG stream (stored as it
  // is, as PdfAddImage stores the stream it encodes), `width` x `height`
  // pixels at the given resolution.
  int32_t PdfAddJpeg(const std::vector<uint8_t>& jpeg, int32_t width, int32_t height, float dpi_x,
                     float dpi_y);
  int32_t ImageWidth(int32_t id) const;
  int32_t ImageHeight(int32_t id) const;
  int32_t ImageResX(int32_t id) const;
  int32_t ImageResY(int32_t id) const;
  int32_t font_count() const { return static_cast<int32_t>(fonts_.size()); }
  int32_t image_count() const { return static_cast<int32_t>(images_.size()); }

  // Page content; written only while a page is open.
  void SetWordSpacing(float v);
  void SetCharSpacing(float v);
  void SetTextHorizontalScaling(float percent);
  void SetTextRenderingMode(float mode);
  void SetColorStroke(int32_t color);
  void SetColorFill(int32_t color);
  void SetDash(float on, float off);
  void SetLineWidth(float w);
  void SetLineCap(int16_t cap);
  void SetLineJoin(int16_t join);
  void MoveTo(float x, float y);
  void LineTo(float x, float y, int32_t style);
  void Curve(float x1, float y1, float x2, float y2, float x3, float y3, int32_t style);
  void Rectangle(float x, float y, float w, float h, int32_t style, float radius);
  void DrawCircle(float x, float y, float r, int32_t style);
  void Arc(float x, float y, float r, float start, float end, float ratio, bool pie, float rotation,
           int16_t step, int32_t style);
  void DrawText(float x, float y, const std::string& text, int32_t font, float size,
                int32_t alignment, float rotation);
  void DrawImg(int32_t id, float x, float y, float w, float h);
  float TextWidth(const std::string& text, int32_t font, float size) const;

  // Number and text formatting of the writer.
  // Rounded to `decimals` places (halves to even), shortest plain decimal text.
  static std::string FormatNum(double value, int decimals);
  // Exactly `decimals` places, at least one integer digit.
  static std::string FormatFixed(double value, int decimals);
  // UTF-8 text as Windows-1252 bytes ("?" outside the code page) with "\",
  // "(" and ")" escaped for a PDF literal string.
  static std::string EscapeText(const std::string& text);
  // The CreationDate of a local time: D:YYYYMMDDHHmmSS+HH'mm'.
  static std::string CreationDate(int64_t unix_time);

 private:
  // Writes `text` and CR LF; lines of one item are joined by CR.
  void WriteLine(const std::string& text);
  void WriteBytes(const void* data, size_t n);
  int32_t BeginObj(int32_t number);
  void EndObj() { WriteLine("endobj"); }
  uint64_t position() const;
  void PaintPath(int32_t style);
  // How an image object's bytes are stored: samples (Flate while
  // compression is on, else raw), a JPEG file, or CCITT Group 4 data.
  enum class Storage { Samples, Jpeg, CcittG4 };
  void WriteImageObject(const std::string& name, const std::vector<uint8_t>& data,
                        const std::vector<uint8_t>& palette, int32_t width, int32_t height,
                        int32_t depth, Storage storage);
  bool writable() const;  // a document is open and has not failed
  void Drop();            // forgets the open document and removes its temporary file
  void fail(raster::Status st);

  std::unique_ptr<host::FileReplacement> file_;
  raster::Status status_ = raster::Status::Ok;
  int32_t handle_ = 0;
  int32_t compress_level_ = 9;
  int32_t paper_size_ = 0;
  float paper_width_ = 595.2f;
  float paper_height_ = 842.0f;
  int32_t pages_ = 0;
  std::string path_;
  float char_spacing_ = 0, word_spacing_ = 0, h_scaling_ = 100;
  std::string kids_;
  std::string font_resources_;
  std::string image_resources_;
  int32_t last_obj_ = 0;
  uint64_t stream_start_ = 0;
  int32_t length_obj_ = 0;  // length object reserved for the open page
  bool in_page_ = false;
  std::vector<ImageRecord> images_;
  std::vector<uint64_t> xref_;  // index = object number - 1: its byte offset
  std::vector<FontRecord> fonts_;
};

}  // namespace korvex::pdf
