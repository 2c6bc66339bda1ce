// The engine's PDF members: units, colours, whole documents, one-call conversions, failed writes.

#include "../file_size_limit.h"
#include "korvex/korvex.h"
#include "pdf_test_util.h"
#include "raster/handles.h"

namespace korvex {
namespace {

using S = cKorvexStatus;
using std::filesystem::exists;
using testutil::count_of;
using testutil::FileSizeLimit;
using testutil::run;
using testutil::ScratchDir;
using testutil::slurp;

// The page sizes pdfinfo reports, "W x H;" per page.
std::string page_sizes(const std::string& path, int pages) {
  return run(
      "pdfinfo -f 1 -l " + std::to_string(pages) + " '" + path +
      "' | sed -n 's/^Page *[0-9]* size: *\\([0-9.]* x [0-9.]*\\) pts.*/\\1;/p' | tr -d '\\n'");
}

// A native image of the given size, depth and resolution; its id.
int32_t make_image(cKorvex& k, int32_t w, int32_t h, int16_t depth, float dpi) {
  EXPECT_EQ(k.CreateImage(w, h, depth), S::Ok);
  EXPECT_EQ(raster::find_image(k.GetNativeImage())->set_resolution(dpi, dpi), raster::Status::Ok);
  return k.GetNativeImage();
}

// A multi-page CCITT G4 TIFF of `pages` pages; page i has i black bars.
void write_fax(const std::string& path, int pages, int32_t w, int32_t h, float dpi) {
  cKorvex k;
  std::vector<int32_t> more;
  auto bars = [&](int32_t id, int n) {
    for (int b = 0; b < n; ++b) {
      const raster::Rect r{(b * 37) % w, (b * 23) % h, std::min(w, 13), std::min(h, 7)};
      ASSERT_EQ(raster::find_image(id)->fill_rect(r, 0xFF000000u), raster::Status::Ok);
    }
  };
  for (int i = 1; i < pages; ++i) {
    more.push_back(k.CreateNewImage(w, h, 1));
    ASSERT_EQ(raster::find_image(more.back())->set_resolution(dpi, dpi), raster::Status::Ok);
    bars(more.back(), i + 1);
  }
  bars(make_image(k, w, h, 1, dpi), 1);
  ASSERT_EQ(k.TiffSaveAsNativeMultiPage(path, 4), S::Ok);
  for (int32_t id : more) ASSERT_EQ(k.TiffAddToNativeMultipage(id), S::Ok);
  ASSERT_EQ(k.TiffCloseNativeMultiPage(), S::Ok);
  for (int32_t id : more) k.CloseImage(id);
}

TEST(PdfMembers, UnitsConvertPageSizesMarginsAndImageSizes) {
  struct Case {
    int32_t unit;
    float w, h, margin;
    const char* media_box;
    float image_width;  // of 2480 pixels at 300 dpi
  };
  const Case cases[] = {
      {0, 612, 792, 10, "/MediaBox [0 0 612 792]", 595.2f},
      {1, 210, 297, 10, "/MediaBox [0 0 595.276 841.89]", 2480 / 300.0f * 25.4f},
      {2, 21, 29.7f, 1, "/MediaBox [0 0 595.276 841.89]", 2480 / 300.0f * 2.54f},
      {3, 8.5f, 11, 0.5f, "/MediaBox [0 0 612 792]", 2480 / 300.0f},
  };
  ScratchDir dir;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.unit);
    cKorvex k;
    const int32_t picture = make_image(k, 2480, 8, 24, 300);
    k.PdfSetMeasurementUnits(c.unit);
    ASSERT_TRUE(k.PdfNewPdf(dir / "units.pdf"));
    k.PdfSetPageDimensions(c.w, c.h);
    k.PdfSetPageMargin(c.margin);
    EXPECT_NEAR(k.PdfGetPageMargin(), c.margin, 1e-4);
    const int32_t id = k.PdfAddImageFromImageID(picture);
    ASSERT_EQ(id, 1);
    EXPECT_NEAR(k.PdfGetImageWidth(id), c.image_width, 1e-3);
    EXPECT_EQ(k.PdfNewPage(), 1);
    k.PdfSavePdf();
    EXPECT_EQ(k.GetStat(), S::Ok);
    EXPECT_NE(slurp(dir / "units.pdf").find(c.media_box), std::string::npos);
  }
  cKorvex k;
  k.PdfSetMeasurementUnits(1);
  k.PdfSetMeasurementUnits(4);  // ignored
  EXPECT_EQ(k.GetStat(), S::InvalidParameter);
  ASSERT_TRUE(k.PdfNewPdf(dir / "u.pdf"));
  k.PdfSetPageMargin(25.4f);
  EXPECT_NEAR(k.PdfGetPageMargin(), 25.4f, 1e-4);  // still millimetres
  const int32_t font = k.PdfAddFont("Arial", true);
  const float mm = k.PdfGetTextWidth("Page two", font, 14);
  k.PdfSetMeasurementUnits(0);
  EXPECT_GT(mm, 10.0f);
  EXPECT_NEAR(mm / 25.4f * 72, k.PdfGetTextWidth("Page two", font, 14), 1e-3);
  k.PdfSetPageOrientation(2);  // ignored
  EXPECT_EQ(k.PdfGetPageOrientation(), 0);
}

TEST(PdfMembers, WithoutADocumentMembersAreInertAndSayWrongState) {
  cKorvex k;
  // Braced lists are evaluated in order: the status is read after the first call.
  EXPECT_EQ((std::tuple{k.PdfGetPageOrientation(), k.GetStat(), k.PdfNewPage(),
                        k.PdfGetCurrentPage(), k.PdfAddFont("Arial")}),
            std::tuple(-1, S::WrongState, 0, 0, 0));
  k.PdfDrawLine(0, 0, 10, 10, 1);
  EXPECT_EQ(k.GetStat(), S::WrongState);
  k.PdfSavePdf();
  EXPECT_EQ(k.GetStat(), S::WrongState);
  EXPECT_FALSE(k.PdfNewPdf("/nonexistent-folder/x.pdf"));
  EXPECT_EQ(k.PdfNewPage(), 0);
  // Drawing outside a page, fonts inside one: refused, nothing written.
  ScratchDir dir;
  ASSERT_TRUE(k.PdfNewPdf(dir / "w.pdf"));
  EXPECT_EQ(k.PdfAddImageFromImageID(999999), 0);
  EXPECT_EQ(k.GetStat(), S::InvalidParameter);
  k.PdfDrawLine(0, 0, 10, 10, 1, 255);
  EXPECT_EQ(k.GetStat(), S::WrongState);
  EXPECT_EQ(k.PdfNewPage(), 1);
  EXPECT_EQ(k.PdfAddFont("Arial"), 0);
  EXPECT_EQ(k.GetStat(), S::WrongState);
  k.PdfDrawLine(0, 0, 10, 10, 1, 255);  // the refused red was not cached
  EXPECT_EQ(k.GetStat(), S::Ok);
  k.PdfSavePdf();
  EXPECT_EQ(count_of(slurp(dir / "w.pdf"), "1 0 0 RG"), 1u);
}

TEST(PdfMembers, EachPageWritesAColourOnceUntilItChanges) {
  ScratchDir dir;
  cKorvex k;
  ASSERT_TRUE(k.PdfNewPdf(dir / "c.pdf"));
  const int32_t font = k.PdfAddFont("Arial");
  ASSERT_NE(font, 0);
  for (int page = 1; page <= 2; ++page) {
    EXPECT_EQ(k.PdfNewPage(), page);
    k.PdfDrawLine(10, 10, 100, 10, 1, 255);  // red
    k.PdfDrawLine(10, 20, 100, 20, 1, 255);
    k.PdfDrawRectangle(10, 30, 50, 20, 1, 255);
    k.PdfDrawFillRectangle(10, 60, 50, 20, 1, 0xFF0000);  // blue fill
    k.PdfDrawFillCircle(50, 150, 20, 1, 0xFF0000);
    k.PdfSetTextColor(0xFF0000);
    k.PdfDrawText(10, 200, "blue", font, 12);
    k.PdfDrawLine(10, 300, 100, 300, 1);  // black: back to the default
    k.PdfDrawCircle(50, 400, 20, 1);
    k.PdfEndPage();
  }
  k.PdfSavePdf();
  const std::string pdf = slurp(dir / "c.pdf");
  EXPECT_EQ(count_of(pdf, "1 0 0 RG"), 2u);
  EXPECT_EQ(count_of(pdf, "0 0 1 rg"), 2u);
  EXPECT_EQ(count_of(pdf, "0 G"), 2u);  // the return to black, once a page
  EXPECT_EQ(count_of(pdf, " g\r"), 0u);
  testutil::expect_qpdf_clean(dir / "c.pdf");
}

TEST(PdfConversions, SaveAsPdfSizesThePageFromPixelsAndResolution) {
  struct Case {
    int32_t w, h;
    int16_t depth;
    float dpi;
    const char* size;
  };
  const Case cases[] = {
      {300, 150, 24, 150, "144 x 72;"},
      {301, 101, 24, 200, "108 x 36;"},  // 108.36 and 36.36 pt, whole points
      {50, 40, 24, 0.4f, "50 x 40;"},    // no usable resolution: 72 dpi
      {170, 220, 1, 20, "612 x 792;"},
  };
  ScratchDir dir;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.size);
    cKorvex k;
    make_image(k, c.w, c.h, c.depth, c.dpi);
    ASSERT_TRUE(k.SaveAsPdf(dir / "one.pdf"));
    EXPECT_EQ(k.GetStat(), S::Ok);
    testutil::expect_qpdf_clean(dir / "one.pdf");
    EXPECT_EQ(page_sizes(dir / "one.pdf", 1), c.size);
  }
  cKorvex none;
  EXPECT_FALSE(none.SaveAsPdf(dir / "none.pdf"));
  EXPECT_EQ(none.PdfSaveNativeMultiTIFFtoPDF(dir / "none.pdf"), -1);
  EXPECT_FALSE(exists(dir / "none.pdf"));
}

TEST(PdfConversions, MultiPageFaxBecomesOnePagePerTiffPage) {
  ScratchDir dir;
  write_fax(dir / "fax.tif", 3, 1700, 2200, 200);
  cKorvex k;
  ASSERT_EQ(k.LoadFromFile(dir / "fax.tif"), S::Ok);
  // An open document of the Pdf... members is left alone.
  ASSERT_TRUE(k.PdfNewPdf(dir / "open.pdf"));
  EXPECT_EQ(k.PdfNewPage(), 1);
  EXPECT_EQ(k.PdfSaveNativeMultiTIFFtoPDF(dir / "fax.pdf"), 0);
  EXPECT_EQ(k.PdfGetCurrentPage(), 1);
  const std::string pdf = slurp(dir / "fax.pdf");
  testutil::expect_qpdf_clean(dir / "fax.pdf");
  EXPECT_EQ(page_sizes(dir / "fax.pdf", 3), "612 x 792;612 x 792;612 x 792;");
  EXPECT_LT(pdf.find("/Img3"), pdf.find("/Type /Page\r"));  // images before the pages
  // Page 1 keeps its Group 4 data; the added pages were written with LZW.
  EXPECT_EQ(count_of(pdf, "/CCITTFaxDecode"), 1u);
  EXPECT_EQ(count_of(pdf, "/FlateDecode"), 2u);
  ASSERT_TRUE(k.SaveAsPdf(dir / "again.pdf"));
  EXPECT_EQ(page_sizes(dir / "again.pdf", 3), "612 x 792;612 x 792;612 x 792;");
  EXPECT_EQ(k.PdfSaveNativeMultiTIFFtoPDF(dir / "raw.pdf", false), 0);
  EXPECT_EQ(count_of(slurp(dir / "raw.pdf"), "/FlateDecode"), 0u);
  EXPECT_EQ(k.PdfSaveNativeMultiTIFFtoPDF("/nonexistent-folder/x.pdf"), -3);
  k.PdfSavePdf();
  EXPECT_EQ(k.GetStat(), S::Ok);
  testutil::expect_qpdf_clean(dir / "open.pdf");

  // Pages without a usable resolution are 72 dpi.
  write_fax(dir / "nores.tif", 2, 100, 50, 0.4f);
  ASSERT_EQ(k.LoadFromFile(dir / "nores.tif"), S::Ok);
  EXPECT_EQ(k.PdfSaveNativeMultiTIFFtoPDF(dir / "nores.pdf"), 0);
  EXPECT_EQ(page_sizes(dir / "nores.pdf", 2), "100 x 50;100 x 50;");
}

// Pixels of `path` (as loaded) differing from the engine's native image.
int differing_pixels(cKorvex& k, const std::string& path) {
  cKorvex other;
  if (other.LoadFromFile(path) != S::Ok) return -1;
  const raster::Image* a = raster::find_image(k.GetNativeImage());
  const raster::Image* b = raster::find_image(other.GetNativeImage());
  if (a->width() != b->width() || a->height() != b->height()) return -1;
  int differing = 0;
  for (int32_t y = 0; y < a->height(); ++y) {
    for (int32_t x = 0; x < a->width(); ++x) {
      uint32_t p = 0, q = 0;
      a->get_pixel(x, y, p);
      b->get_pixel(x, y, q);
      differing += (p & 0xFFFFFFu) != (q & 0xFFFFFFu);
    }
  }
  return differing;
}

TEST(PdfConversions, FaxPagesKeepTheirGroup4DataOnlyWhileTheirPixelsAreUnchanged) {
  ScratchDir dir;
  write_fax(dir / "pages.tif", 2, 240, 160, 200);
  // Every page Group 4 in one strip, in both bit orders fax software writes.
  for (const char* order : {"msb2lsb", "lsb2msb"}) {
    run(std::string("tiffcp -c g4 -r 100000 -f ") + order + " '" + (dir / "pages.tif") + "' '" +
        (dir / (std::string(order) + ".tif")) + "'");
  }
  for (const char* name : {"msb2lsb.tif", "lsb2msb.tif"}) {
    SCOPED_TRACE(name);
    cKorvex k;
    ASSERT_EQ(k.LoadFromFile(dir / name), S::Ok);
    ASSERT_EQ(k.PdfSaveNativeMultiTIFFtoPDF(dir / "kept.pdf"), 0);
    EXPECT_EQ(count_of(slurp(dir / "kept.pdf"), "/CCITTFaxDecode"), 2u);
    testutil::expect_qpdf_clean(dir / "kept.pdf");
    // Decoded by poppler, each page image equals the page we hold.
    run("pdfimages -png '" + (dir / "kept.pdf") + "' '" + (dir / "img") + "'");
    for (int page = 1; page <= 2; ++page) {
      ASSERT_EQ(k.TiffSelectPage(page), S::Ok);
      EXPECT_EQ(differing_pixels(k, dir / ("img-00" + std::to_string(page - 1) + ".png")), 0);
    }
    // A page drawn on after loading is compressed from its pixels instead.
    ASSERT_EQ(k.TiffSelectPage(1), S::Ok);
    ASSERT_EQ(raster::find_image(k.GetNativeImage())->fill_rect({100, 50, 30, 30}, 0xFF000000u),
              raster::Status::Ok);
    ASSERT_EQ(k.PdfSaveNativeMultiTIFFtoPDF(dir / "drawn.pdf"), 0);
    const std::string drawn = slurp(dir / "drawn.pdf");
    EXPECT_EQ(count_of(drawn, "/CCITTFaxDecode"), 1u);
    EXPECT_EQ(count_of(drawn, "/FlateDecode"), 1u);
    run("pdfimages -png -f 1 -l 1 '" + (dir / "drawn.pdf") + "' '" + (dir / "drawn") + "'");
    ASSERT_EQ(k.TiffSelectPage(1), S::Ok);
    EXPECT_EQ(differing_pixels(k, dir / "drawn-000.png"), 0);
  }
}

TEST(PdfFaults, FailedWritesLeaveGetStatSetAndNoFileUnderTheTargetName) {
  ScratchDir dir;
  cKorvex k;
  const int32_t photo = make_image(k, 400, 400, 24, 96);
  for (int32_t y = 0; y < 400; ++y)
    for (int32_t x = 0; x < 400; ++x)
      raster::find_image(photo)->set_pixel(
          x, y, 0xFF000000u | static_cast<uint32_t>(x * y * 2654435761u >> 8));
  std::ofstream(dir / "keep.pdf") << "old";
  {
    FileSizeLimit limit(4096);
    ASSERT_TRUE(k.PdfNewPdf(dir / "keep.pdf"));
    k.PdfSetCompressionLevel(0);
    k.PdfAddImageFromImageID(photo);  // far more than 4096 bytes
    EXPECT_NE(k.GetStat(), S::Ok);
    k.PdfNewPage();
    k.PdfSavePdf();
    EXPECT_NE(k.GetStat(), S::Ok);
    EXPECT_FALSE(k.SaveAsPdf(dir / "photo.pdf"));
    EXPECT_NE(k.GetStat(), S::Ok);
    EXPECT_NE(k.PdfSaveNativeMultiTIFFtoPDF(dir / "photo.pdf", false), 0);
  }
  EXPECT_EQ(slurp(dir / "keep.pdf"), "old");
  EXPECT_FALSE(exists(dir / "photo.pdf"));
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.dir), {}), 1);  // no temporaries
}

}  // namespace
}  // namespace korvex
