// kxViewer's Print... members: the viewer's own printing object (cPrinter),
// made at the first of them or by the set-up of a PDF page, and released at
// termination. The settings members forward to it unchanged; the print
// members print the viewer's document: the PDF document behind a shown PDF
// page (rendered at PdfDpiRendering), else the whole raster document, and
// nothing without a document.
#include <memory>

#include "korvex/viewer.h"
#include "print/printer.h"
#include "viewer/core.h"

namespace korvex {

namespace viewer {

print::cPrinter& Core::Printer() {
  if (!printer) printer = std::make_shared<print::cPrinter>();
  return *printer;
}

void Core::MarkPrinter() {
  if (document_kind == 2) {
    // A PDF page prints from its document, measured at the rendering resolution.
    print::cPrinter& p = Printer();
    p.set_pdf_source(true);
    p.set_resolution_override(true, pdf_dpi, pdf_dpi);
  } else if (printer) {
    printer->set_pdf_source(false);
    printer->set_resolution_override(false, 0, 0);
  }
}

}  // namespace viewer

namespace {

void print_document(viewer::Core& c, print::Placement placement, const print::RectMM& rect = {}) {
  print::cPrinter& p = c.Printer();
  const bool mark = p.pdf_source();
  const bool pdf = c.document_kind == 2 && mark;
  const int32_t source = pdf ? c.pdf_document_id : c.native_image;
  c.status(ViewerStatus::Ok);
  if (source == 0) return;
  p.set_pdf_source(pdf);
  c.status(static_cast<ViewerStatus>(p.print(source, placement, rect)));
  p.set_pdf_source(mark);
}

}  // namespace

void kxViewer::PrintImage() {
  print_document(*core_, print::Placement::Natural);
}

void kxViewer::PrintImageFit() {
  print_document(*core_, print::Placement::Fit);
}

void kxViewer::PrintImageBySize(float nDstX, float nDstY, float nWidth, float nHeight) {
  print_document(*core_, print::Placement::BySize, {nDstX, nDstY, nWidth, nHeight});
}

bool kxViewer::PrintImage2Printer(const std::string& sPrinterName) {
  if (!PrintSetActivePrinter(sPrinterName)) return false;
  PrintImage();
  return true;
}

bool kxViewer::PrintImageBySize2Printer(const std::string& sPrinterName, float nDstX, float nDstY,
                                        float nWidth, float nHeight) {
  if (!PrintSetActivePrinter(sPrinterName)) return false;
  PrintImageBySize(nDstX, nDstY, nWidth, nHeight);
  return true;
}

bool kxViewer::PrintSetActivePrinter(const std::string& sPrinterName) {
  const bool found = core_->Printer().set_active_printer(sPrinterName);
  core_->status(found ? ViewerStatus::Ok : ViewerStatus::InvalidParameter);
  return found;
}

std::string kxViewer::PrintGetDefaultPrinter() {
  return core_->Printer().active_printer();
}

int32_t kxViewer::PrintGetPrintersCount() {
  return static_cast<int32_t>(core_->Printer().printer_names().size());
}

std::string kxViewer::PrintGetPrinterName(int32_t nPrinterNo) {
  const std::vector<std::string> names = core_->Printer().printer_names();
  if (nPrinterNo < 1 || static_cast<size_t>(nPrinterNo) > names.size()) return "";
  return names[static_cast<size_t>(nPrinterNo - 1)];
}

void kxViewer::PrintSetStdPaperSize(int32_t nPaperSize) {
  core_->Printer().set_std_paper_size(nPaperSize);
}

int32_t kxViewer::PrintGetPaperSize() {
  return core_->Printer().paper_size();
}

void kxViewer::PrintSetUserPaperSize(float nPaperWidth, float nPaperHeight) {
  core_->Printer().set_user_paper_size(nPaperWidth, nPaperHeight);
}

float kxViewer::PrintGetPaperWidth() {
  return static_cast<float>(core_->Printer().paper_width_mm());
}

float kxViewer::PrintGetPaperHeight() {
  return static_cast<float>(core_->Printer().paper_height_mm());
}

void kxViewer::PrintSetOrientation(int32_t nOrientation) {
  core_->Printer().set_orientation(nOrientation);
}

void kxViewer::PrintSetDuplexMode(int32_t nDuplexMode) {
  core_->Printer().set_duplex(nDuplexMode);
}

int32_t kxViewer::PrintGetDuplexMode() {
  return core_->Printer().duplex();
}

void kxViewer::PrintSetCopies(int32_t nCopies) {
  core_->Printer().set_copies(nCopies);
}

int32_t kxViewer::PrintGetCopies() {
  return core_->Printer().copies();
}

void kxViewer::PrintSetQuality(int32_t nQuality) {
  core_->Printer().set_quality(nQuality);
}

int32_t kxViewer::PrintGetQuality() {
  return core_->Printer().quality();
}

void kxViewer::PrintSetColorMode(int32_t nColorMode) {
  core_->Printer().set_color_mode(nColorMode);
}

int32_t kxViewer::PrintGetColorMode() {
  return core_->Printer().color_mode();
}

void kxViewer::PrintSetPaperBin(int32_t nPaperBin) {
  core_->Printer().set_paper_bin(nPaperBin);
}

int32_t kxViewer::PrintGetPaperBin() {
  return core_->Printer().paper_bin();
}

void kxViewer::PrintSetFromToPage(int32_t nFrom, int32_t nTo) {
  core_->Printer().set_page_range(nFrom, nTo);
}

void kxViewer::PrintSetImageAlignment(int32_t nImageAlignment) {
  core_->Printer().set_alignment(nImageAlignment);
}

int32_t kxViewer::PrintGetImageAlignment() {
  return core_->Printer().alignment();
}

void kxViewer::PrintSetDocumentName(const std::string& sDocumentName) {
  core_->Printer().document_name = sDocumentName;
}

std::string kxViewer::PrintGetDocumentName() {
  return core_->Printer().document_name;
}

void kxViewer::PrintGetMargins(float& nLeftMargin, float& nTopMargin) {
  const print::Margins m = core_->Printer().margins();
  nLeftMargin = static_cast<float>(m.left);
  nTopMargin = static_cast<float>(m.top);
}

ViewerStatus kxViewer::PrintGetStat() {
  return static_cast<ViewerStatus>(core_->Printer().status());
}

}  // namespace korvex
