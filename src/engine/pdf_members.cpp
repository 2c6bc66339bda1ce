// PDF documents: the Pdf... members that build a document page by page over
// the cPDF writer, in the caller's unit, with the page's fill and stroke
// colours cached so that a colour is written once until it changes.
#include <memory>

#include "engine/core.h"
#include "engine/state.h"
#include "korvex/engine.h"
#include "pdf/pdf.h"
#include "raster/handles.h"

namespace korvex {

namespace {

constexpr double kPointsPerInch = 72.0;

// Coordinates and sizes in the document's unit to points.
float ToPoints(const PdfFields& p, double v) {
  switch (p.PdfUnits) {
    case 1:
      return static_cast<float>(v * (kPointsPerInch / 25.4));
    case 2:
      return static_cast<float>(v * (kPointsPerInch / 2.54));
    case 3:
      return static_cast<float>(v * kPointsPerInch);
    default:
      return static_cast<float>(v);
  }
}

float FromPoints(const PdfFields& p, double v) {
  switch (p.PdfUnits) {
    case 1:
      return static_cast<float>(v / (kPointsPerInch / 25.4));
    case 2:
      return static_cast<float>(v / (kPointsPerInch / 2.54));
    case 3:
      return static_cast<float>(v / kPointsPerInch);
    default:
      return static_cast<float>(v);
  }
}

// A length of pixels at a resolution, in the document's unit; a resolution
// below 1 dpi counts as 72 (images without a usable resolution).
float PixelsToUnits(const PdfFields& p, int32_t pixels, int32_t dpi) {
  const double res = dpi < 1 ? kPointsPerInch : dpi;
  const double inches = pixels / res;
  switch (p.PdfUnits) {
    case 1:
      return static_cast<float>(inches * 25.4);
    case 2:
      return static_cast<float>(inches * 2.54);
    case 3:
      return static_cast<float>(inches);
    default:
      return static_cast<float>(pixels / (res / kPointsPerInch));
  }
}

// The open document, or null with WrongState recorded.
pdf::cPDF* open_doc(cKorvex::State& s) {
  if (s.Pdf.PdfOpen == 0 || !s.Pdf.PdfDoc) {
    SetStatus(s, raster::Status::WrongState);
    return nullptr;
  }
  return s.Pdf.PdfDoc.get();
}

// The open document when a page is open to draw on, else null with
// WrongState recorded (the writer would have nowhere to put the operators).
pdf::cPDF* page_doc(cKorvex::State& s) {
  pdf::cPDF* doc = open_doc(s);
  if (doc != nullptr && !doc->page_open()) {
    SetStatus(s, raster::Status::WrongState);
    return nullptr;
  }
  return doc;
}

// Records the writer's state after a call: its first write error, if any.
void record(cKorvex::State& s, const pdf::cPDF& doc) {
  SetStatus(s, doc.status());
}

// A value read from the open document once the writer's state is recorded;
// `none` without a document.
template <class T, class Read>
T read_doc(cKorvex::State& s, T none, Read read) {
  pdf::cPDF* doc = open_doc(s);
  if (doc == nullptr) return none;
  record(s, *doc);
  return read(*doc);
}

// A change to the open document (or, with `page`, to its open page), then
// the writer's state recorded.
template <class Change>
void change_doc(cKorvex::State& s, bool page, Change change) {
  pdf::cPDF* doc = page ? page_doc(s) : open_doc(s);
  if (doc == nullptr) return;
  change(*doc);
  record(s, *doc);
}

void stroke_color(PdfFields& p, pdf::cPDF& doc, int32_t color) {
  if (color == p.PdfStrokeCache) return;
  p.PdfStrokeCache = color;
  doc.SetColorStroke(color);
}

void fill_color(PdfFields& p, pdf::cPDF& doc, int32_t color) {
  if (color == p.PdfFillCache) return;
  p.PdfFillCache = color;
  doc.SetColorFill(color);
}

// An id result: the writer's error when it has one, else `refused` for 0.
int32_t id_result(cKorvex::State& s, const pdf::cPDF& doc, int32_t id, raster::Status refused) {
  if (doc.status() != raster::Status::Ok)
    SetStatus(s, doc.status());
  else
    SetStatus(
        s, id != 0 ? raster::Status::Ok : (doc.page_open() ? raster::Status::WrongState : refused));
  return id;
}

}  // namespace

bool cKorvex::PdfNewPdf(const std::string& sFilePath, const std::string& sTitle,
                        const std::string& sCreator, const std::string& sAuthor,
                        const std::string& sProducer) {
  PdfFields& p = s_->Pdf;
  // A document still open is abandoned: its temporary file goes away.
  p.PdfDoc = std::make_shared<pdf::cPDF>();
  p.PdfOpen = 0;
  pdf::cPDF& doc = *p.PdfDoc;
  doc.SetPaperSize(0);
  doc.Orientation = 0;
  doc.PDFTitle = sTitle;
  doc.PDFCreator = sCreator;
  doc.PDFAuthor = sAuthor;
  doc.PDFProducer = sProducer;
  p.PdfFillCache = 0;
  p.PdfStrokeCache = 0;
  const bool ok = doc.InitPDFFile(sFilePath);
  if (ok) p.PdfOpen = doc.NativeHandle();
  record(*s_, doc);
  return ok;
}

void cKorvex::PdfSavePdf() {
  PdfFields& p = s_->Pdf;
  if (!p.PdfDoc || p.PdfOpen == 0) {
    SetStatus(*s_, raster::Status::WrongState);
    return;
  }
  p.PdfOpen = 0;
  const bool ok = p.PdfDoc->ClosePDFFile();
  const raster::Status st = p.PdfDoc->status();
  SetStatus(*s_,
            ok ? raster::Status::Ok : (st != raster::Status::Ok ? st : raster::Status::Win32Error));
}

int32_t cKorvex::PdfNewPage() {
  pdf::cPDF* doc = open_doc(*s_);
  if (doc == nullptr) return 0;
  const int32_t page = doc->BeginPage();
  s_->Pdf.PdfFillCache = 0;  // a new page starts black
  s_->Pdf.PdfStrokeCache = 0;
  record(*s_, *doc);
  return page;
}

void cKorvex::PdfEndPage() {
  change_doc(*s_, false, [](pdf::cPDF& doc) { doc.EndPage(); });
}

int32_t cKorvex::PdfGetCurrentPage() {
  return read_doc(*s_, 0, [](const pdf::cPDF& doc) { return doc.Pages(); });
}

void cKorvex::PdfSetMeasurementUnits(int32_t nUnitValue) {
  if (nUnitValue < 0 || nUnitValue > 3) {
    SetStatus(*s_, raster::Status::InvalidParameter);
    return;
  }
  s_->Pdf.PdfUnits = nUnitValue;
  SetStatus(*s_, raster::Status::Ok);
}

void cKorvex::PdfSetPageDimensions(float nWidth, float nHeight) {
  const PdfFields& p = s_->Pdf;
  change_doc(*s_, false, [&](pdf::cPDF& doc) {
    doc.SetPaperHeight(ToPoints(p, nHeight));
    doc.SetPaperWidth(ToPoints(p, nWidth));
  });
}

void cKorvex::PdfSetPageOrientation(int32_t nOrientation) {
  pdf::cPDF* doc = open_doc(*s_);
  if (doc == nullptr) return;
  if (nOrientation != 0 && nOrientation != 1) {
    SetStatus(*s_, raster::Status::InvalidParameter);
    return;
  }
  doc->Orientation = nOrientation;
  record(*s_, *doc);
}

int32_t cKorvex::PdfGetPageOrientation() {
  return read_doc(*s_, -1, [](const pdf::cPDF& doc) { return doc.Orientation; });
}

void cKorvex::PdfSetPageMargin(float nMargin) {
  const PdfFields& p = s_->Pdf;
  change_doc(*s_, false, [&](pdf::cPDF& doc) { doc.Margin = ToPoints(p, nMargin); });
}

float cKorvex::PdfGetPageMargin() {
  const PdfFields& p = s_->Pdf;
  return read_doc(*s_, 0.0f, [&](const pdf::cPDF& doc) { return FromPoints(p, doc.Margin); });
}

void cKorvex::PdfSetCompressionLevel(int32_t nLevel) {
  pdf::cPDF* doc = open_doc(*s_);
  if (doc == nullptr) return;
  if (nLevel < 0 || nLevel > 9) {
    SetStatus(*s_, raster::Status::InvalidParameter);
    return;
  }
  doc->SetCompressLevel(nLevel);
  // A level above 0 turns compression back on after a level of 0.
  doc->CompressData = nLevel > 0;
  record(*s_, *doc);
}

int32_t cKorvex::PdfGetCompressionLevel() {
  return read_doc(*s_, 0, [](const pdf::cPDF& doc) { return doc.CompressLevel(); });
}

void cKorvex::PdfSetTextColor(int32_t nRGBColor) {
  if (open_doc(*s_) == nullptr) return;
  s_->Pdf.PdfTextColor = nRGBColor;
  SetStatus(*s_, raster::Status::Ok);
}

void cKorvex::PdfSetCharSpacing(float nValue) {
  change_doc(*s_, true, [&](pdf::cPDF& doc) { doc.SetCharSpacing(nValue); });
}

void cKorvex::PdfSetWordSpacing(float nValue) {
  change_doc(*s_, true, [&](pdf::cPDF& doc) { doc.SetWordSpacing(nValue); });
}

void cKorvex::PdfSetTextHorizontalScaling(float nValue) {
  change_doc(*s_, true, [&](pdf::cPDF& doc) { doc.SetTextHorizontalScaling(nValue); });
}

int32_t cKorvex::PdfAddFont(const std::string& sFontName, bool bBold, bool bItalic) {
  pdf::cPDF* doc = open_doc(*s_);
  if (doc == nullptr) return 0;
  return id_result(*s_, *doc, doc->LoadFont(sFontName, bBold, bItalic),
                   raster::Status::FontFamilyNotFound);
}

int32_t cKorvex::PdfAddT1Font(const std::string& sFontName, bool bBold, bool bItalic) {
  return PdfAddFont(sFontName, bBold, bItalic);
}

int32_t cKorvex::PdfAddImageFromFile(const std::string& sImagePath) {
  pdf::cPDF* doc = open_doc(*s_);
  if (doc == nullptr) return 0;
  return id_result(*s_, *doc, doc->PdfAddImage(sImagePath), raster::Status::InvalidParameter);
}

int32_t cKorvex::PdfAddImageFromImageID(int32_t nImageID) {
  pdf::cPDF* doc = open_doc(*s_);
  if (doc == nullptr) return 0;
  raster::Image* img = raster::find_image(nImageID);
  if (img == nullptr) {
    SetStatus(*s_, raster::Status::InvalidParameter);
    return 0;
  }
  return id_result(*s_, *doc, doc->PdfAddImage(*img), raster::Status::InvalidParameter);
}

float cKorvex::PdfGetImageWidth(int32_t nPdfImageID) {
  const PdfFields& p = s_->Pdf;
  return read_doc(*s_, 0.0f, [&](const pdf::cPDF& doc) {
    return PixelsToUnits(p, doc.ImageWidth(nPdfImageID), doc.ImageResX(nPdfImageID));
  });
}

float cKorvex::PdfGetImageHeight(int32_t nPdfImageID) {
  const PdfFields& p = s_->Pdf;
  return read_doc(*s_, 0.0f, [&](const pdf::cPDF& doc) {
    return PixelsToUnits(p, doc.ImageHeight(nPdfImageID), doc.ImageResY(nPdfImageID));
  });
}

void cKorvex::PdfDrawImage(int32_t nPdfImageID, float nDstX, float nDstY, float nWidth,
                           float nHeight) {
  pdf::cPDF* doc = page_doc(*s_);
  if (doc == nullptr) return;
  const PdfFields& p = s_->Pdf;
  doc->DrawImg(nPdfImageID, ToPoints(p, nDstX), ToPoints(p, nDstY), ToPoints(p, nWidth),
               ToPoints(p, nHeight));
  record(*s_, *doc);
}

void cKorvex::PdfDrawText(float nDstX, float nDstY, const std::string& sText, int32_t nFontID,
                          float nFontSize, float nRotation) {
  pdf::cPDF* doc = page_doc(*s_);
  if (doc == nullptr) return;
  PdfFields& p = s_->Pdf;
  fill_color(p, *doc, p.PdfTextColor);
  doc->DrawText(ToPoints(p, nDstX), ToPoints(p, nDstY), sText, nFontID, nFontSize, 0, nRotation);
  record(*s_, *doc);
}

void cKorvex::PdfDrawTextAlign(float nDstX, float nDstY, const std::string& sText, int32_t nFontID,
                               float nFontSize, int32_t nTextAlign) {
  pdf::cPDF* doc = page_doc(*s_);
  if (doc == nullptr) return;
  PdfFields& p = s_->Pdf;
  fill_color(p, *doc, p.PdfTextColor);
  doc->DrawText(ToPoints(p, nDstX), ToPoints(p, nDstY), sText, nFontID, nFontSize, nTextAlign, 0);
  record(*s_, *doc);
}

float cKorvex::PdfGetTextWidth(const std::string& sText, int32_t nFontID, float nFontSize) {
  const PdfFields& p = s_->Pdf;
  return read_doc(*s_, 0.0f, [&](const pdf::cPDF& doc) {
    return FromPoints(p, doc.TextWidth(sText, nFontID, nFontSize));
  });
}

void cKorvex::PdfDrawLine(float nSrcX, float nSrcY, float nDstX, float nDstY, float nBorderWidth,
                          int32_t nColor) {
  pdf::cPDF* doc = page_doc(*s_);
  if (doc == nullptr) return;
  PdfFields& p = s_->Pdf;
  stroke_color(p, *doc, nColor);
  doc->SetLineWidth(nBorderWidth);
  doc->MoveTo(ToPoints(p, nSrcX), ToPoints(p, nSrcY));
  doc->LineTo(ToPoints(p, nDstX), ToPoints(p, nDstY), pdf::kStroke);
  record(*s_, *doc);
}

namespace {

void rectangle(cKorvex::State& s, float x, float y, float w, float h, float border, int32_t color,
               float ray, bool fill) {
  pdf::cPDF* doc = page_doc(s);
  if (doc == nullptr) return;
  PdfFields& p = s.Pdf;
  if (fill)
    fill_color(p, *doc, color);
  else
    stroke_color(p, *doc, color);
  doc->SetLineWidth(border);
  doc->Rectangle(ToPoints(p, x), ToPoints(p, y), ToPoints(p, w), ToPoints(p, h),
                 fill ? pdf::kFill : pdf::kStroke, ToPoints(p, ray));
  record(s, *doc);
}

void circle(cKorvex::State& s, float x, float y, float r, float border, int32_t color, bool fill) {
  pdf::cPDF* doc = page_doc(s);
  if (doc == nullptr) return;
  PdfFields& p = s.Pdf;
  if (fill)
    fill_color(p, *doc, color);
  else
    stroke_color(p, *doc, color);
  doc->SetLineWidth(border);
  doc->DrawCircle(ToPoints(p, x), ToPoints(p, y), ToPoints(p, r), fill ? pdf::kFill : pdf::kStroke);
  record(s, *doc);
}

}  // namespace

void cKorvex::PdfDrawRectangle(float nDstX, float nDstY, float nWidth, float nHeight,
                               float nBorderWidth, int32_t nColor, float nRay) {
  rectangle(*s_, nDstX, nDstY, nWidth, nHeight, nBorderWidth, nColor, nRay, false);
}

void cKorvex::PdfDrawFillRectangle(float nDstX, float nDstY, float nWidth, float nHeight,
                                   float nBorderWidth, int32_t nColor, float nRay) {
  rectangle(*s_, nDstX, nDstY, nWidth, nHeight, nBorderWidth, nColor, nRay, true);
}

void cKorvex::PdfDrawCircle(float nDstX, float nDstY, float nRay, float nBorderWidth,
                            int32_t nColor) {
  circle(*s_, nDstX, nDstY, nRay, nBorderWidth, nColor, false);
}

void cKorvex::PdfDrawFillCircle(float nDstX, float nDstY, float nRay, float nBorderWidth,
                                int32_t nColor) {
  circle(*s_, nDstX, nDstY, nRay, nBorderWidth, nColor, true);
}

void cKorvex::PdfDrawCurve(float nDstX1, float nDstY1, float nDstX2, float nDstY2, float nDstX3,
                           float nDstY3, float nBorderWidth, int32_t nColor) {
  pdf::cPDF* doc = page_doc(*s_);
  if (doc == nullptr) return;
  PdfFields& p = s_->Pdf;
  stroke_color(p, *doc, nColor);
  doc->SetLineWidth(nBorderWidth);
  const float x1 = ToPoints(p, nDstX1), y1 = ToPoints(p, nDstY1);
  doc->MoveTo(x1, y1);
  // The first control point is the start point.
  doc->Curve(x1, y1, ToPoints(p, nDstX2), ToPoints(p, nDstY2), ToPoints(p, nDstX3),
             ToPoints(p, nDstY3), pdf::kStroke);
  record(*s_, *doc);
}

void cKorvex::PdfDrawArc(float nDstX, float nDstY, float nRay, float nBorderWidth,
                         float nStartAngle, float nEndAngle, float nRatio, bool bPie,
                         int32_t nColor) {
  pdf::cPDF* doc = page_doc(*s_);
  if (doc == nullptr) return;
  PdfFields& p = s_->Pdf;
  stroke_color(p, *doc, nColor);
  doc->SetLineWidth(nBorderWidth);
  doc->Arc(ToPoints(p, nDstX), ToPoints(p, nDstY), ToPoints(p, nRay), nStartAngle, nEndAngle,
           nRatio, bPie, 0, 1, pdf::kStroke);
  record(*s_, *doc);
}

}  // namespace korvex
