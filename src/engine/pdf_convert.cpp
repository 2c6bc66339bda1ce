// One-call PDF conversions of the native image: SaveAsPdf (one page the size
// of the image at its resolution, or every page of a multi-page TIFF) and
// PdfSaveNativeMultiTIFFtoPDF. They use the engine's separate conversion
// document, so an open Pdf... document is left as it is. A conversion that
// fails is abandoned: the target file is neither created nor replaced.
#include "engine/pdf_convert.h"

#include <memory>

#include "engine/core.h"
#include "engine/state.h"
#include "korvex/engine.h"
#include "pdf/pdf.h"
#include "raster/handles.h"
#include "raster/rounding.h"

namespace korvex {

namespace {

constexpr char kToolkit[] = "Korvex ToolKit";

// A resolution below 1 dpi (none recorded) counts as 72: one pixel, one point.
double usable_dpi(double dpi) {
  return dpi < 1 ? 72.0 : dpi;
}

// A fresh conversion document with the toolkit's document information.
pdf::cPDF& new_conversion(cKorvex::State& s) {
  s.Pdf.Conversion = std::make_shared<pdf::cPDF>();
  SetUpConversion(*s.Pdf.Conversion);
  return *s.Pdf.Conversion;
}

// Abandons the conversion document (its temporary file is removed) and
// records why it failed: the writer's error, else `otherwise`.
void abandon(cKorvex::State& s, raster::Status otherwise) {
  const raster::Status st = s.Pdf.Conversion ? s.Pdf.Conversion->status() : raster::Status::Ok;
  s.Pdf.Conversion.reset();
  SetStatus(s, st != raster::Status::Ok ? st : otherwise);
}

}  // namespace

void SetUpConversion(pdf::cPDF& doc) {
  doc.Orientation = 0;
  doc.PDFTitle.clear();
  doc.PDFCreator = kToolkit;
  doc.PDFAuthor = kToolkit;
  doc.PDFProducer = kToolkit;
}

raster::Status WriteOnePagePdf(pdf::cPDF& doc, const std::string& path, int32_t width,
                               int32_t height, float dpi_x, float dpi_y,
                               const std::function<int32_t(pdf::cPDF&)>& add) {
  // Whole points, halves to even, from the rounded resolution.
  const double res_x = usable_dpi(raster::RoundHalfEven(dpi_x));
  const double res_y = usable_dpi(raster::RoundHalfEven(dpi_y));
  const int32_t page_w = raster::RoundHalfEven(width / res_x * 72.0);
  const int32_t page_h = raster::RoundHalfEven(height / res_y * 72.0);
  if (!doc.InitPDFFile(path)) return raster::Status::Win32Error;
  doc.SetPaperHeight(static_cast<float>(page_h));
  doc.SetPaperWidth(static_cast<float>(page_w));
  const int32_t id = add(doc);
  // Without its picture the document would be empty: nothing is written.
  if (id == 0) return raster::Status::InvalidParameter;
  doc.BeginPage();
  doc.DrawImg(id, 0, 0, static_cast<float>(page_w), static_cast<float>(page_h));
  doc.EndPage();
  if (!doc.ClosePDFFile()) return raster::Status::Win32Error;
  return raster::Status::Ok;
}

bool cKorvex::SaveAsPdf(const std::string& sFilePath) {
  raster::Image* img = raster::find_image(s_->NativeImage);
  if (img == nullptr) {
    SetStatus(*s_, raster::Status::InvalidParameter);
    return false;
  }
  if (TiffGetPageCount() >= 2) return PdfSaveNativeMultiTIFFtoPDF(sFilePath, true) == 0;
  pdf::cPDF& doc = new_conversion(*s_);
  const raster::Status st =
      WriteOnePagePdf(doc, sFilePath, img->width(), img->height(), img->dpi_x(), img->dpi_y(),
                      [&](pdf::cPDF& d) { return d.PdfAddImage(*img); });
  if (st != raster::Status::Ok) {
    abandon(*s_, st);
    return false;
  }
  SetStatus(*s_, raster::Status::Ok);
  return true;
}

int32_t cKorvex::PdfSaveNativeMultiTIFFtoPDF(const std::string& sPdfFileNameDst, bool bCompress) {
  if (raster::find_image(s_->NativeImage) == nullptr) {
    SetStatus(*s_, raster::Status::InvalidParameter);
    return -1;
  }
  // An image that is not a multi-page TIFF is converted as its one page.
  const int32_t tiff_pages = TiffGetPageCount();
  const int32_t pages = tiff_pages < 1 ? 1 : tiff_pages;
  pdf::cPDF& doc = new_conversion(*s_);
  if (!doc.InitPDFFile(sPdfFileNameDst)) {
    abandon(*s_, raster::Status::Win32Error);
    return -3;
  }
  doc.CompressData = bCompress;
  // Every page image first, then the pages that show them.
  for (int32_t i = 1; i <= pages; ++i) {
    if (tiff_pages >= 1 && TiffSelectPage(i) != cKorvexStatus::Ok) {
      const raster::Status why = static_cast<raster::Status>(s_->LastStatus);
      abandon(*s_, why);
      return -2;
    }
    raster::Image* img = raster::find_image(s_->NativeImage);
    if (img == nullptr || doc.PdfAddImage(*img) == 0) {
      abandon(*s_, raster::Status::InvalidParameter);
      return -4;
    }
  }
  for (int32_t i = 1; i <= pages; ++i) {
    doc.SetPaperWidth(static_cast<float>(doc.ImageWidth(i) * 72.0 / usable_dpi(doc.ImageResX(i))));
    doc.SetPaperHeight(
        static_cast<float>(doc.ImageHeight(i) * 72.0 / usable_dpi(doc.ImageResY(i))));
    doc.BeginPage();
    doc.DrawImg(i, 0, 0, doc.PaperWidth(), doc.PaperHeight());
    doc.EndPage();
  }
  if (!doc.ClosePDFFile()) {
    abandon(*s_, raster::Status::Win32Error);
    return -3;
  }
  SetStatus(*s_, raster::Status::Ok);
  return 0;
}

}  // namespace korvex
