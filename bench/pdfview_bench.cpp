// PDF pages in the viewer against pdftoppm, in one run: a 100-page A4
// document (written by our PDF writer: text, rules and shapes on every page)
// is opened in a headless viewer at 150 dpi and page 50 shown, then the
// viewer pages forward 10 times; pdftoppm renders the same pages at the same
// resolution to files (page 50 alone, then pages 51-60), as the viewer does
// before it loads each page. Median wall time of several runs, each with a
// fresh viewer (the viewer keeps rendered pages only while a document is
// open). Opening also renders page 1, as the viewer always shows it first.
//
// usage: pdfview_bench [RUNS]
#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "korvex/engine.h"
#include "korvex/viewer.h"
#include "viewer/headless_host.h"
#include "table_row.h"

namespace {

using namespace korvex;
using Clock = std::chrono::steady_clock;

constexpr int kPages = 100;
constexpr int32_t kDpi = 150;

double ms_since(Clock::time_point t) {
  return std::chrono::duration<double, std::milli>(Clock::now() - t).count();
}

double median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v[v.size() / 2];
}

bool write_document(const std::string& path) {
  cKorvex k;
  if (!k.PdfNewPdf(path, "Bench")) return false;
  k.PdfSetMeasurementUnits(0);  // points
  k.PdfSetPageDimensions(595, 842);
  const int32_t font = k.PdfAddFont("Arial");
  for (int page = 1; page <= kPages; ++page) {
    k.PdfNewPage();
    k.PdfDrawText(50, 60, "Page " + std::to_string(page) + " of a bench document", font, 18);
    for (int line = 0; line < 40; ++line) {
      k.PdfDrawText(50, 100 + 17.0f * line,
                    "Line " + std::to_string(line + 1) +
                        ": the quick brown fox jumps over the lazy dog 0123456789",
                    font, 11);
    }
    for (int i = 0; i < 12; ++i) {
      k.PdfDrawFillRectangle(50 + 40.0f * i, 800, 30, 20, 0, 0x102030 * (i + page) & 0xFFFFFF);
      k.PdfDrawCircle(70 + 40.0f * i, 785, 8, 1, 0x0000FF);
    }
    k.PdfDrawLine(50, 90, 545, 90, 1.5f);
    k.PdfEndPage();
  }
  k.PdfSavePdf();
  return k.GetStat() == cKorvexStatus::Ok;
}

double run_peer(const std::string& pdf, const std::string& out, int first, int last) {
  const std::string cmd = "pdftoppm -r " + std::to_string(kDpi) + " -f " + std::to_string(first) +
                          " -l " + std::to_string(last) + " '" + pdf + "' '" + out + "'";
  const Clock::time_point t = Clock::now();
  if (std::system(cmd.c_str()) != 0) return -1;
  return ms_since(t);
}

}  // namespace

int main(int argc, char** argv) {
  const int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 5;
  char work_template[] = "/tmp/korvex-pdfview-bench-XXXXXX";
  const char* work = mkdtemp(work_template);
  if (work == nullptr) return 1;
  const std::string pdf = std::string(work) + "/hundred.pdf";
  if (!write_document(pdf)) {
    std::fprintf(stderr, "pdfview_bench: the document could not be written\n");
    return 1;
  }
  std::vector<double> open_ms, page_ms, peer_open_ms, peer_page_ms;
  for (int run = 0; run < runs; ++run) {
    auto host = std::make_shared<viewer::HeadlessHost>(1280, 1024);
    kxViewer v(host);
    v.put_SilentMode(true);
    v.put_PdfDpiRendering(kDpi);
    Clock::time_point t = Clock::now();
    if (v.DisplayFromPdfFile(pdf) != ViewerStatus::Ok || v.DisplayFrame(50) != ViewerStatus::Ok ||
        v.get_NumPages() != kPages) {
      std::fprintf(stderr, "pdfview_bench: page 50 not shown (status %d)\n",
                   static_cast<int>(v.LastStatus()));
      return 1;
    }
    open_ms.push_back(ms_since(t));
    t = Clock::now();
    for (int i = 0; i < 10; ++i) {
      if (v.DisplayNextFrame() != ViewerStatus::Ok) return 1;
    }
    page_ms.push_back(ms_since(t));
    if (v.get_Currentpage() != 60 || v.get_PictureWidth() != 1240) {
      std::fprintf(stderr, "pdfview_bench: page %d at %d pixels wide\n", v.get_Currentpage(),
                   v.get_PictureWidth());
      return 1;
    }
    v.ClosePicture();
    const std::string out = std::string(work) + "/peer";
    peer_open_ms.push_back(run_peer(pdf, out, 50, 50));
    peer_page_ms.push_back(run_peer(pdf, out, 51, 60));
    if (peer_open_ms.back() < 0 || peer_page_ms.back() < 0) {
      std::fprintf(stderr, "pdfview_bench: pdftoppm failed\n");
      return 1;
    }
  }
  std::filesystem::remove_all(work);
  std::printf(
      "PDF pages in the viewer (100-page A4 document, %d dpi, 1240 x 1754 pixels a page),\n"
      "median ms of %d runs, against pdftoppm of the same pages (whole command)\n",
      kDpi, runs);
  const double a = median(open_ms), b = median(peer_open_ms);
  const double c = median(page_ms), d = median(peer_page_ms);
  std::printf("  open, show page 50      korvex %8.1f | pdftoppm -f 50 -l 50 %8.1f  x%5.2f\n", a, b,
              a / b);
  std::printf("  page forward 10 times   korvex %8.1f | pdftoppm -f 51 -l 60 %8.1f  x%5.2f\n", c, d,
              c / d);
  table_row("PDF viewer: open, show page 50", a / 1e3, -1, "pdftoppm -f 50 -l 50", b / 1e3, -1);
  table_row("PDF viewer: page forward 10 times", c / 1e3, -1, "pdftoppm -f 51 -l 60", d / 1e3, -1);
  return 0;
}
