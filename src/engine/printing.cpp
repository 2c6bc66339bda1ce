// Printing: the Print... members over cPrinter, which the engine creates on
// the first of them and keeps. Settings members record Ok; print members
// record the job's status, which PrintGetStat returns until the next print.
#include <memory>

#include "engine/core.h"
#include "engine/state.h"
#include "korvex/engine.h"
#include "print/printer.h"

namespace korvex {

namespace {

print::cPrinter& printer(cKorvex::State& s) {
  if (!s.Printer) s.Printer = std::make_shared<print::cPrinter>();
  SetStatus(s, raster::Status::Ok);
  return *s.Printer;
}

void run(cKorvex::State& s, print::Placement placement, const print::RectMM& rect = {}) {
  SetStatus(s, printer(s).print(s.NativeImage, placement, rect));
}

print::RectMM rect_of(float x, float y, float w, float h) {
  return {x, y, w, h};
}

}  // namespace

void cKorvex::PrintImage() {
  run(*s_, print::Placement::Natural);
}

void cKorvex::PrintImageFit() {
  run(*s_, print::Placement::Fit);
}

void cKorvex::PrintImageBySize(float nDstX, float nDstY, float nWidth, float nHeight) {
  run(*s_, print::Placement::BySize, rect_of(nDstX, nDstY, nWidth, nHeight));
}

bool cKorvex::PrintImage2Printer(const std::string& sPrinterName) {
  if (!PrintSetActivePrinter(sPrinterName)) return false;
  PrintImage();
  return true;
}

bool cKorvex::PrintImageBySize2Printer(const std::string& sPrinterName, float nDstX, float nDstY,
                                       float nWidth, float nHeight) {
  if (!PrintSetActivePrinter(sPrinterName)) return false;
  PrintImageBySize(nDstX, nDstY, nWidth, nHeight);
  return true;
}

bool cKorvex::PrintSetActivePrinter(const std::string& sPrinterName) {
  const bool found = printer(*s_).set_active_printer(sPrinterName);
  if (!found) SetStatus(*s_, raster::Status::InvalidParameter);
  return found;
}

std::string cKorvex::PrintGetDefaultPrinter() {
  return printer(*s_).active_printer();
}

int32_t cKorvex::PrintGetPrintersCount() {
  return static_cast<int32_t>(printer(*s_).printer_names().size());
}

std::string cKorvex::PrintGetPrinterName(int32_t nPrinterNo) {
  const std::vector<std::string> names = printer(*s_).printer_names();
  if (nPrinterNo < 1 || static_cast<size_t>(nPrinterNo) > names.size()) {
    SetStatus(*s_, raster::Status::InvalidParameter);
    return "";
  }
  return names[static_cast<size_t>(nPrinterNo - 1)];
}

void cKorvex::PrintSetStdPaperSize(int32_t nPaperSize) {
  printer(*s_).set_std_paper_size(nPaperSize);
}

int32_t cKorvex::PrintGetPaperSize() {
  return printer(*s_).paper_size();
}

void cKorvex::PrintSetUserPaperSize(float nPaperWidth, float nPaperHeight) {
  printer(*s_).set_user_paper_size(nPaperWidth, nPaperHeight);
}

float cKorvex::PrintGetPaperWidth() {
  return static_cast<float>(printer(*s_).paper_width_mm());
}

float cKorvex::PrintGetPaperHeight() {
  return static_cast<float>(printer(*s_).paper_height_mm());
}

void cKorvex::PrintSetOrientation(int32_t nOrientation) {
  printer(*s_).set_orientation(nOrientation);
}

void cKorvex::PrintSetDuplexMode(int32_t nDuplexMode) {
  printer(*s_).set_duplex(nDuplexMode);
}

int32_t cKorvex::PrintGetDuplexMode() {
  return printer(*s_).duplex();
}

void cKorvex::PrintSetCopies(int32_t nCopies) {
  printer(*s_).set_copies(nCopies);
}

int32_t cKorvex::PrintGetCopies() {
  return printer(*s_).copies();
}

void cKorvex::PrintSetQuality(int32_t nQuality) {
  printer(*s_).set_quality(nQuality);
}

int32_t cKorvex::PrintGetQuality() {
  return printer(*s_).quality();
}

void cKorvex::PrintSetColorMode(int32_t nColorMode) {
  printer(*s_).set_color_mode(nColorMode);
}

int32_t cKorvex::PrintGetColorMode() {
  return printer(*s_).color_mode();
}

void cKorvex::PrintSetPaperBin(int32_t nPaperBin) {
  printer(*s_).set_paper_bin(nPaperBin);
}

int32_t cKorvex::PrintGetPaperBin() {
  return printer(*s_).paper_bin();
}

void cKorvex::PrintSetFromToPage(int32_t nFrom, int32_t nTo) {
  printer(*s_).set_page_range(nFrom, nTo);
}

void cKorvex::PrintSetImageAlignment(int32_t nImageAlignment) {
  printer(*s_).set_alignment(nImageAlignment);
}

int32_t cKorvex::PrintGetImageAlignment() {
  return printer(*s_).alignment();
}

void cKorvex::PrintSetDocumentName(const std::string& sDocumentName) {
  printer(*s_).document_name = sDocumentName;
}

std::string cKorvex::PrintGetDocumentName() {
  return printer(*s_).document_name;
}

void cKorvex::PrintGetMargins(float& nLeftMargin, float& nTopMargin) {
  const print::Margins m = printer(*s_).margins();
  nLeftMargin = static_cast<float>(m.left);
  nTopMargin = static_cast<float>(m.top);
}

cKorvexStatus cKorvex::PrintGetStat() {
  const raster::Status st = printer(*s_).status();
  return static_cast<cKorvexStatus>(st);
}

void cKorvex::PrintSetOutputFolder(const std::string& sFolder) {
  printer(*s_).set_output_folder(sFolder);
}

std::string cKorvex::PrintGetOutputFolder() {
  return printer(*s_).output_folder();
}

std::string cKorvex::PrintGetLastJob() {
  return printer(*s_).last_job();
}

}  // namespace korvex
