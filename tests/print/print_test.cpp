// The Print... members end to end on the built-in printer and a private cupsd.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "../pdf/pdf_test_util.h"
#include "korvex/korvex.h"
#include "private_cups.h"
#include "raster/handles.h"

namespace korvex {
namespace {

using S = cKorvexStatus;
using testutil::private_cups;
using testutil::run;
using testutil::ScratchDir;

// Tests that need the scheduler skip only when cupsd is not installed.
#define REQUIRE_CUPS()                                                                    \
  do {                                                                                    \
    const testutil::PrivateCups& c = private_cups();                                      \
    if (!c.running && c.pid == 0 && c.why_not.find("not installed") != std::string::npos) \
      GTEST_SKIP() << c.why_not;                                                          \
    ASSERT_TRUE(c.running) << c.why_not;                                                  \
  } while (0)

// A gray page of a rendered PDF: pdftoppm at `dpi`.
struct Gray {
  int w = 0, h = 0;
  std::vector<uint8_t> px;
  uint8_t at(int x, int y) const { return px[static_cast<size_t>(y) * w + x]; }
};

Gray render(const std::string& pdf, int page, double dpi) {
  Gray g;
  const std::string pgm =
      run("pdftoppm -gray -r " + std::to_string(dpi) + " -f " + std::to_string(page) + " -l " +
          std::to_string(page) + " '" + pdf + "'");
  int maxval = 0;
  int consumed = 0;
  if (std::sscanf(pgm.c_str(), "P5 %d %d %d%n", &g.w, &g.h, &maxval, &consumed) != 3) return g;
  const size_t start = static_cast<size_t>(consumed) + 1;
  if (pgm.size() < start + static_cast<size_t>(g.w) * g.h) return {};
  g.px.assign(pgm.begin() + static_cast<std::ptrdiff_t>(start), pgm.end());
  return g;
}

// Bounding box (x0, y0, x1, y1 inclusive) of the dark pixels.
std::vector<int> dark_box(const Gray& g) {
  int x0 = g.w, y0 = g.h, x1 = -1, y1 = -1;
  for (int y = 0; y < g.h; ++y)
    for (int x = 0; x < g.w; ++x)
      if (g.at(x, y) < 128) {
        x0 = std::min(x0, x);
        y0 = std::min(y0, y);
        x1 = std::max(x1, x);
        y1 = std::max(y1, y);
      }
  return {x0, y0, x1, y1};
}

// The box of a rectangle in millimetres at `per_mm` pixels per millimetre.
void expect_box(const std::vector<int>& got, double x, double y, double w, double h, double per_mm,
                int tolerance = 1) {
  EXPECT_NEAR(got[0], x * per_mm, tolerance);
  EXPECT_NEAR(got[1], y * per_mm, tolerance);
  EXPECT_NEAR(got[2] + 1, (x + w) * per_mm, tolerance);
  EXPECT_NEAR(got[3] + 1, (y + h) * per_mm, tolerance);
}

std::string info(const std::string& pdf) {
  return run("pdfinfo '" + pdf + "'");
}

// A black native image of that size and resolution.
void black_image(cKorvex& k, int32_t w, int32_t h, float dpi) {
  ASSERT_EQ(k.CreateImage(w, h, 24), S::Ok);
  raster::Image* img = raster::find_image(k.GetNativeImage());
  ASSERT_EQ(img->set_resolution(dpi, dpi), raster::Status::Ok);
  ASSERT_EQ(img->fill_rect({0, 0, w, h}, 0xFF000000u), raster::Status::Ok);
}

// A 5-page TIFF, page i (1-based) a 100 x 100 square of gray 40 * i at 100 dpi.
void write_gray_pages(const std::string& path) {
  cKorvex k;
  std::vector<int32_t> pages;
  for (int i = 1; i <= 5; ++i) {
    const int32_t id = k.CreateNewImage(100, 100, 24);
    raster::Image* img = raster::find_image(id);
    ASSERT_EQ(img->set_resolution(100, 100), raster::Status::Ok);
    const uint32_t g = 40u * static_cast<uint32_t>(i);
    ASSERT_EQ(img->fill_rect({0, 0, 100, 100}, 0xFF000000u | g << 16 | g << 8 | g),
              raster::Status::Ok);
    pages.push_back(id);
  }
  k.SetNativeImage(pages[0]);
  ASSERT_EQ(k.TiffSaveAsNativeMultiPage(path, 2), S::Ok);
  for (size_t i = 1; i < pages.size(); ++i) ASSERT_EQ(k.TiffAddToNativeMultipage(pages[i]), S::Ok);
  ASSERT_EQ(k.TiffCloseNativeMultiPage(), S::Ok);
  for (size_t i = 1; i < pages.size(); ++i) k.CloseImage(pages[i]);
}

class Print : public ::testing::Test {
 protected:
  // The scheduler's address must be set before libcups is first used.
  void SetUp() override { private_cups(); }
  ScratchDir dir;
};

TEST_F(Print, RefusedSettingsKeepTheirValues) {
  cKorvex k;
  ASSERT_TRUE(k.PrintSetActivePrinter("Korvex PDF"));
  k.PrintSetStdPaperSize(42);
  k.PrintSetOrientation(3);
  EXPECT_EQ(k.PrintGetPaperSize(), 9);
  k.PrintSetOrientation(2);  // landscape: the sides swap
  EXPECT_NEAR(k.PrintGetPaperWidth(), 297, 0.01);
  k.PrintSetUserPaperSize(203.2f, 300);
  EXPECT_EQ(k.PrintGetPaperSize(), 256);
  struct Setting {
    void (cKorvex::*set)(int32_t);
    int32_t (cKorvex::*get)();
    int32_t good, bad;
  };
  const Setting settings[] = {
      {&cKorvex::PrintSetDuplexMode, &cKorvex::PrintGetDuplexMode, 3, 4},
      {&cKorvex::PrintSetCopies, &cKorvex::PrintGetCopies, 3, 0},
      {&cKorvex::PrintSetQuality, &cKorvex::PrintGetQuality, 600, -5},
      {&cKorvex::PrintSetColorMode, &cKorvex::PrintGetColorMode, 1, 3},
      {&cKorvex::PrintSetPaperBin, &cKorvex::PrintGetPaperBin, 2, 0},
      {&cKorvex::PrintSetImageAlignment, &cKorvex::PrintGetImageAlignment, 9, 10},
  };
  for (const Setting& s : settings) {
    (k.*s.set)(s.good);
    (k.*s.set)(s.bad);
    EXPECT_EQ((k.*s.get)(), s.good);
  }
}

TEST_F(Print, WrittenSizeExampleOnTheBuiltInPrinter) {
  // 2480 x 3508 at 300 dpi on a 203.2 x 300 mm printable area: only the
  // width exceeds, so it is reduced to 203.2 x 287.43 mm (drawn 203 x 287),
  // centred vertically by alignment 0: y = 6.28 (drawn 6).
  cKorvex k;
  black_image(k, 2480, 3508, 300);
  ASSERT_TRUE(k.PrintSetActivePrinter("Korvex PDF"));
  k.PrintSetOutputFolder(dir.dir.string());
  k.PrintSetUserPaperSize(203.2f, 300);
  k.PrintSetDocumentName("size example");
  k.PrintImage();
  ASSERT_EQ(k.PrintGetStat(), S::Ok);
  const std::string pdf = k.PrintGetLastJob();
  EXPECT_EQ(pdf, dir / "size example.pdf");
  EXPECT_NE(info(pdf).find("Pages:           1\n"), std::string::npos);
  expect_box(dark_box(render(pdf, 1, 127)), 0, 6, 203, 287, 5);
  // The next job of the same name does not replace the first.
  k.PrintImageFit();
  EXPECT_EQ(k.PrintGetLastJob(), dir / "size example (2).pdf");
  // An output folder that does not exist: a status, and no file anywhere.
  k.PrintSetOutputFolder(dir / "missing");
  k.PrintImage();
  EXPECT_NE(k.PrintGetStat(), S::Ok);
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.dir), {}), 2);
}

TEST_F(Print, BySizeFromThePrintableAreasTopLeftInWholeMillimetres) {
  // Alignments are placed by the layout (layout_test.cpp); here one reaches the page.
  cKorvex k;
  black_image(k, 354, 236, 300);
  ASSERT_TRUE(k.PrintSetActivePrinter("Korvex PDF"));
  k.PrintSetOutputFolder(dir.dir.string());
  k.PrintSetUserPaperSize(100, 80);
  k.PrintSetImageAlignment(4);
  k.PrintImageBySize(10.4f, 20.6f, 50, 40);
  ASSERT_EQ(k.PrintGetStat(), S::Ok);
  expect_box(dark_box(render(k.PrintGetLastJob(), 1, 254)), 10, 21, 50, 40, 10);
}

TEST_F(Print, BilevelAndColourPagesMatchTheirSourcePixels) {
  // 80 x 40 pixels at 203.2 dpi (8 per mm) on the sheet's corner. A 1-bit image (drawn through a
  // stencil, bit order matters) with each palette, and a 24-bit one.
  struct Case {
    int16_t depth;
    uint32_t c0, c1;  // palette (1-bit) or the two colours painted
  };
  const Case cases[] = {{1, 0xFF000000u, 0xFFFFFFFFu},
                        {1, 0xFFFFFFFFu, 0xFF000000u},
                        {24, 0xFFFFFFFFu, 0xFF000000u},
                        // 1-bit, read back from a G4 TIFF with its coded data
                        {4, 0xFFFFFFFFu, 0xFF000000u},
                        {4, 0xFF000000u, 0xFFFFFFFFu}};
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.depth << " " << c.c0);
    cKorvex k;
    ASSERT_EQ(k.CreateImage(80, 40, c.depth == 4 ? 1 : c.depth), S::Ok);
    raster::Image* img = raster::find_image(k.GetNativeImage());
    ASSERT_EQ(img->set_resolution(203.2f, 203.2f), raster::Status::Ok);
    if (c.depth == 1) {
      ASSERT_EQ(img->set_palette({0, {c.c0, c.c1}}), raster::Status::Ok);
    }
    // Diagonal runs of three: not byte-aligned, and compact in Group 4.
    auto dark = [](int x, int y) { return (x / 3 + y / 2) % 4 == 0; };
    for (int y = 0; y < 40; ++y)
      for (int x = 0; x < 80; ++x)
        ASSERT_EQ(img->set_pixel(x, y, dark(x, y) ? 0xFF000000u : 0xFFFFFFFFu), raster::Status::Ok);
    if (c.depth == 4) {
      ASSERT_EQ(k.SaveAsTiff(dir / "g4.tif", 4), S::Ok);
      ASSERT_EQ(k.LoadFromFile(dir / "g4.tif"), S::Ok);
    }
    ASSERT_TRUE(k.PrintSetActivePrinter("Korvex PDF"));
    k.PrintSetOutputFolder(dir.dir.string());
    k.PrintSetUserPaperSize(20, 10);
    k.PrintSetImageAlignment(4);
    k.PrintImage();
    ASSERT_EQ(k.PrintGetStat(), S::Ok);
    // One rendered pixel per source pixel: a hair under 203.2 dpi, so that
    // poppler's scaled image lands on 80 device pixels, not 81.
    const Gray g = render(k.PrintGetLastJob(), 1, 203.1);
    ASSERT_GE(g.w, 80);
    ASSERT_GE(g.h, 40);
    int wrong = 0;
    for (int y = 0; y < 40; ++y)
      for (int x = 0; x < 80; ++x) wrong += (g.at(x, y) < 128) != dark(x, y);
    EXPECT_EQ(wrong, 0);
    if (c.depth == 4) {
      EXPECT_NE(testutil::slurp(k.PrintGetLastJob()).find("/CCITTFaxDecode"), std::string::npos);
    }
  }
}

TEST_F(Print, PageRangeOfAMultiPageTiff) {
  const std::string tif = dir / "five.tif";
  write_gray_pages(tif);
  cKorvex k;
  ASSERT_EQ(k.LoadFromFile(tif), S::Ok);
  ASSERT_EQ(k.TiffSelectPage(3), S::Ok);
  ASSERT_TRUE(k.PrintSetActivePrinter("Korvex PDF"));
  k.PrintSetOutputFolder(dir.dir.string());
  struct Case {
    int32_t from, to;
    std::vector<int> pages;
  };
  const Case cases[] = {{2, 99, {2, 3, 4, 5}}, {0, 0, {1}}, {4, 2, {4}}, {-1, 2, {1, 2}}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.from);
    k.PrintSetFromToPage(c.from, c.to);
    k.PrintImage();
    ASSERT_EQ(k.PrintGetStat(), S::Ok);
    const std::string pdf = k.PrintGetLastJob();
    EXPECT_NE(info(pdf).find("Pages:           " + std::to_string(c.pages.size()) + "\n"),
              std::string::npos);
    for (size_t i = 0; i < c.pages.size(); ++i) {
      // The square (25.4 mm) sits at the left, centred vertically on A4.
      const Gray g = render(pdf, static_cast<int>(i) + 1, 25.4);
      ASSERT_GT(g.w, 20);
      EXPECT_NEAR(g.at(12, 148), 40 * c.pages[i], 3);
    }
  }
  // The page the caller had selected stays selected.
  EXPECT_EQ(raster::find_image(k.GetNativeImage())->active_frame(), 2u);
}

TEST_F(Print, PrintersListedAndUnknownNamesRefused) {
  REQUIRE_CUPS();
  cKorvex k;
  EXPECT_EQ(k.PrintGetPrintersCount(), 3);
  const char* names[] = {"", "Korvex PDF", "kx-generic", "kx-pass", ""};
  for (int32_t i = 0; i <= 4; ++i) EXPECT_EQ(k.PrintGetPrinterName(i), names[i]) << i;
  ASSERT_TRUE(k.PrintSetActivePrinter("kx-pass"));
  EXPECT_FALSE(k.PrintSetActivePrinter("kx-missing"));
  EXPECT_FALSE(k.PrintImage2Printer("kx-missing"));
  EXPECT_EQ(k.PrintGetDefaultPrinter(), "kx-pass");
}

TEST_F(Print, A4ThroughThePassThroughQueueMatchesTheBuiltInPrinter) {
  REQUIRE_CUPS();
  cKorvex k;
  black_image(k, 2480, 3508, 300);
  ASSERT_TRUE(k.PrintImage2Printer("kx-pass"));
  ASSERT_EQ(k.PrintGetStat(), S::Ok);
  const std::string out = private_cups().pass_output();
  const std::string i = info(out);
  EXPECT_NE(i.find("Pages:           1\n"), std::string::npos) << i;
  EXPECT_NE(i.find("595.3 x 841.9 pts (A4)"), std::string::npos) << i;
  k.PrintSetActivePrinter("Korvex PDF");
  k.PrintSetOutputFolder(dir.dir.string());
  k.PrintImage();
  ASSERT_EQ(k.PrintGetStat(), S::Ok);
  EXPECT_EQ(render(out, 1, 36).px, render(k.PrintGetLastJob(), 1, 36).px);
}

TEST_F(Print, GenericQueueMarginsFromItsImageableArea) {
  REQUIRE_CUPS();
  cKorvex k;
  ASSERT_TRUE(k.PrintSetActivePrinter("kx-generic"));
  // Letter with 18 pt side and 36 pt top and bottom bands: 203.2 mm printable width.
  EXPECT_EQ(k.PrintGetPaperSize(), 1);
  float left = 0, top = 0;
  k.PrintGetMargins(left, top);
  EXPECT_NEAR(left, 6.35, 0.01);
  EXPECT_NEAR(top, 12.7, 0.01);
  black_image(k, 2480, 2480, 300);  // 210 mm square: reduced to 203.2
  k.PrintSetImageAlignment(4);
  k.PrintImage();
  ASSERT_EQ(k.PrintGetStat(), S::Ok);
  expect_box(dark_box(render(private_cups().generic_output(), 1, 127)), 6.35, 12.7, 203, 203, 5, 2);
  // Paper smaller than the unprintable bands: nothing printed.
  k.PrintSetUserPaperSize(10, 20);
  k.PrintImage();
  EXPECT_EQ(k.PrintGetStat(), S::InvalidParameter);
}

TEST_F(Print, CopiesDuplexAndMediaReachTheJob) {
  REQUIRE_CUPS();
  cKorvex k;
  black_image(k, 100, 100, 100);
  ASSERT_TRUE(k.PrintSetActivePrinter("kx-generic"));
  k.PrintSetCopies(2);
  k.PrintSetDuplexMode(2);
  k.PrintSetStdPaperSize(9);
  k.PrintImage();
  ASSERT_EQ(k.PrintGetStat(), S::Ok);
  // The filter chain made two copies, each with a blank back side, on A4.
  const std::string i = info(private_cups().generic_output());
  EXPECT_NE(i.find("Pages:           4\n"), std::string::npos) << i;
  EXPECT_NE(i.find("(A4)"), std::string::npos) << i;
}

TEST_F(Print, StoppedOrRefusingQueueGivesAStatus) {
  REQUIRE_CUPS();
  const testutil::PrivateCups& c = private_cups();
  cKorvex k;
  black_image(k, 50, 50, 100);
  ASSERT_TRUE(k.PrintSetActivePrinter("kx-pass"));
  const char* cases[][2] = {{"cupsdisable kx-pass", "cupsenable kx-pass"},
                            {"cupsreject kx-pass", "cupsaccept kx-pass"}};
  for (const auto& cmd : cases) {
    SCOPED_TRACE(cmd[0]);
    ASSERT_EQ(c.tool(cmd[0]), 0);
    k.PrintImage();
    EXPECT_NE(k.PrintGetStat(), S::Ok);
    ASSERT_EQ(c.tool(cmd[1]), 0);
  }
  k.PrintImage();
  EXPECT_EQ(k.PrintGetStat(), S::Ok);
}

}  // namespace
}  // namespace korvex
