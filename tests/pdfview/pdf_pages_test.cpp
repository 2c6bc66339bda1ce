// PDF pages in the viewer: documents written by our own PDF writer,
// encrypted with qpdf, shown page by page and compared with pdftoppm's
// rendering at the same resolution; the page-file cache and every temporary
// file the viewer makes.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "../engine/bombs.h"
#include "korvex/engine.h"
#include "korvex/limits.h"
#include "korvex/viewer.h"
#include "raster/handles.h"
#include "raster/image.h"
#include "viewer/core.h"
#include "viewer/headless_host.h"

namespace korvex {
namespace {

namespace fs = std::filesystem;
using viewer::HeadlessHost;

constexpr int32_t kRed = 0x0000FF, kBlue = 0xFF0000;  // COLORREF

class PdfPagesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir = fs::path(::testing::TempDir()) / ("kx_pdfview_" + std::to_string(::getpid()));
    fs::create_directories(dir / "tmp");
    setenv("TMPDIR", (dir / "tmp").c_str(), 1);
  }
  void TearDown() override {
    v.reset();
    fs::remove_all(dir);
  }
  // Pages of 200 x 100 points; page i holds a bar 15 * i points wide, red on
  // odd pages and blue on even ones, over a white page.
  std::string write_pdf(const std::string& name, int pages) {
    const std::string p = (dir / name).string();
    cKorvex k;
    EXPECT_TRUE(k.PdfNewPdf(p));
    k.PdfSetMeasurementUnits(0);
    k.PdfSetPageDimensions(200, 100);
    for (int i = 1; i <= pages; ++i) {
      EXPECT_EQ(k.PdfNewPage(), i);
      k.PdfDrawFillRectangle(10, 20, 15.0f * i, 50, 0, i % 2 ? kRed : kBlue);
      k.PdfEndPage();
    }
    k.PdfSavePdf();
    EXPECT_EQ(k.GetStat(), cKorvexStatus::Ok);
    return p;
  }
  std::string encrypt(const std::string& in, const std::string& name, const std::string& args) {
    const std::string out = (dir / name).string();
    EXPECT_EQ(std::system(("qpdf " + args + " -- '" + in + "' '" + out + "'").c_str()), 0);
    return out;
  }
  size_t temp_files() const {
    return static_cast<size_t>(std::distance(fs::directory_iterator(dir / "tmp"), {}));
  }
  // Width in pixels of the bar on the middle row of the shown page.
  int bar_width() const {
    const raster::Image* img = raster::find_image(v->GetNativeImage());
    int n = 0;
    for (int32_t x = 0; img != nullptr && x < img->width(); ++x) {
      uint32_t argb = 0;
      (void)img->get_pixel(x, img->height() / 2, argb);
      // Far from white (JPEG pages carry some noise around the bar).
      n += 765 - int((argb >> 16) & 0xFF) - int((argb >> 8) & 0xFF) - int(argb & 0xFF) > 192;
    }
    return n;
  }

  fs::path dir;
  std::shared_ptr<HeadlessHost> host = std::make_shared<HeadlessHost>(200, 100);
  std::unique_ptr<kxViewer> v = std::make_unique<kxViewer>(host);
};

TEST_F(PdfPagesTest, PasswordsAndFailuresGiveTheirStatusesAndLeaveNoFiles) {
  const std::string plain = write_pdf("plain.pdf", 2);
  const std::string aes = encrypt(plain, "aes.pdf", "--encrypt secret owner 256");
  const std::string rc4 =
      encrypt(plain, "rc4.pdf", "--allow-weak-crypto --encrypt secret owner 128 --use-aes=n");
  const std::string owner_only = encrypt(plain, "owner.pdf", "--encrypt '' owner 256");
  const std::string damaged = (dir / "damaged.pdf").string();
  std::ofstream(damaged) << "%PDF-1.4 this is no document";
  const std::string missing = (dir / "missing.pdf").string();
  struct Case {
    std::string path, password;
    ViewerStatus status;
    std::string message;  // the first message box; "" for none
  } cases[] = {
      {aes, "", ViewerStatus::PdfNeedPassword, "A password was required."},
      {aes, "wrong", ViewerStatus::PdfBadPassword, "The password supplied is incorrect."},
      {aes, "secret", ViewerStatus::Ok, ""},
      {aes, "owner", ViewerStatus::Ok, ""},
      {rc4, "secret", ViewerStatus::Ok, ""},
      {owner_only, "", ViewerStatus::Ok, ""},
      {plain, "unneeded", ViewerStatus::Ok, ""},
      {damaged, "", ViewerStatus::PdfCanNotOpenFile, "Can not open this file."},
      // A failed decryption is reported and the document is not opened after it.
      {damaged, "x", ViewerStatus::PdfCanNotDecrypt,
       "Can not decrypt this file. (409: Invalid file structure, file is damaged.)"},
      {missing, "", ViewerStatus::FileNotFound, "Can't foud " + missing + " file."},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.path + " / " + c.password);
    const size_t boxes = host->message_boxes().size();
    EXPECT_EQ(v->DisplayFromPdfFile(c.path, c.password), c.status);
    const bool ok = c.status == ViewerStatus::Ok;
    EXPECT_EQ(host->message_boxes().size() > boxes, !ok);
    if (!ok && host->message_boxes().size() > boxes) {
      EXPECT_EQ(host->message_boxes()[boxes], c.message);
    }
    EXPECT_EQ(v->get_NumPages(), ok ? 2 : 0);
    EXPECT_EQ(v->GetNativeImage() != 0, ok);
    EXPECT_EQ(v->core().pdf_document_id != 0, ok);
    if (ok) {
      EXPECT_EQ(bar_width(), 21);  // page 1 at 100 dpi: 15 pt
    }
    // A failed open keeps nothing; an open one only its page file (and decrypted copy).
    EXPECT_EQ(temp_files(), ok ? (c.password.empty() || c.path == plain ? 1u : 2u) : 0u);
    v->ClosePicture();
    EXPECT_EQ(temp_files(), 0u);
  }
  EXPECT_EQ(viewer::PdfErrorText(999), "");
}

// A page past the pixel limits at the viewer's resolution, or whose content
// stream inflates past the ratio limit, is refused before poppler draws it.
TEST_F(PdfPagesTest, PagesPastTheLimitsAreRefused) {
  const std::string plain = write_pdf("plain.pdf", 1);
  const std::string bomb = (dir / "bomb.pdf").string();
  std::ofstream(bomb, std::ios::binary) << testutil::pdf_bomb(uint64_t{72} << 20);
  ASSERT_LT(fs::file_size(bomb), 1u << 20);
  // 200 x 100 points at 72 dpi: 200 x 100 pixels of 4 bytes.
  const struct {
    std::string path;
    Limit limit;
    uint64_t value;  // 0: the default
    ViewerStatus status;
  } cases[] = {
      {plain, Limit::Pixels, 20000, ViewerStatus::Ok},
      {plain, Limit::Pixels, 19999, ViewerStatus::PdfRenderingPageError},
      {plain, Limit::PixelBytes, 79999, ViewerStatus::PdfRenderingPageError},
      {bomb, Limit::InflateRatio, 0, ViewerStatus::PdfRenderingPageError},
      {bomb, Limit::InflateRatio, 5000, ViewerStatus::Ok},
  };
  v->put_SilentMode(true);
  v->put_PdfDpiRendering(72);
  for (const auto& c : cases) {
    SCOPED_TRACE(c.path + " " + LimitName(c.limit) + " " + std::to_string(c.value));
    if (c.value != 0) SetLimit(c.limit, c.value);
    EXPECT_EQ(v->DisplayFromPdfFile(c.path, ""), c.status);
    ResetLimits();
    EXPECT_EQ(v->GetNativeImage() != 0, c.status == ViewerStatus::Ok);
    v->ClosePicture();
  }
}

TEST_F(PdfPagesTest, PagesMatchPdftoppmAtTheRequestedResolution) {
  const std::string pdf = write_pdf("doc.pdf", 3);
  // BMP pages are pdftoppm's pixels; JPEG pages differ by their compression only.
  struct Case {
    int32_t dpi, mode, max_diff;
    double mean_diff;
  } cases[] = {{72, 0, 0, 0.0}, {150, 0, 0, 0.0}, {100, 1, 160, 2.0}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.dpi);
    v->put_PdfDpiRendering(c.dpi);
    v->put_PdfRenderingMode(c.mode);
    ASSERT_EQ(v->DisplayFromFile(pdf), ViewerStatus::Ok);
    ASSERT_EQ(v->DisplayFrame(2), ViewerStatus::Ok);
    const std::string ref = (dir / "ref").string();
    ASSERT_EQ(std::system(("pdftoppm -png -r " + std::to_string(c.dpi) +
                           " -f 2 -l 2 -singlefile '" + pdf + "' '" + ref + "'")
                              .c_str()),
              0);
    cKorvex k;
    const raster::Image* want = raster::find_image(k.CreateImageFromFile(ref + ".png"));
    const raster::Image* got = raster::find_image(v->GetNativeImage());
    ASSERT_TRUE(want != nullptr && got != nullptr);
    EXPECT_EQ(std::make_pair(got->width(), got->height()),
              std::make_pair(want->width(), want->height()));
    EXPECT_EQ(std::make_pair(v->get_HorizontalResolution(), v->get_VerticalResolution()),
              std::make_pair(c.dpi, c.dpi));
    int worst = 0;
    double sum = 0;
    for (int32_t y = 0; y < want->height(); ++y)
      for (int32_t x = 0; x < want->width(); ++x) {
        uint32_t a = 0, b = 0;
        (void)want->get_pixel(x, y, a);
        (void)got->get_pixel(x, y, b);
        for (int s = 0; s < 24; s += 8) {
          const int d = std::abs(int((a >> s) & 0xFF) - int((b >> s) & 0xFF));
          worst = std::max(worst, d);
          sum += d;
        }
      }
    EXPECT_LE(worst, c.max_diff);
    EXPECT_LE(sum / (3.0 * want->width() * want->height()), c.mean_diff);
    EXPECT_NEAR(bar_width(), 30.0 * c.dpi / 72, 2.0);  // the blue bar of page 2: 30 pt
  }
}

TEST_F(PdfPagesTest, PageFilesAreRenderedOncePerResolutionAndOnlyOwnFilesAreTrusted) {
  const std::string pdf = write_pdf("nav.pdf", 11);
  ASSERT_EQ(v->DisplayFromPdfFile(pdf), ViewerStatus::Ok);
  const auto& files = v->core().pdf_page_files;
  auto inode = [](const std::string& f) {
    struct stat st {};
    return ::stat(f.c_str(), &st) == 0 ? st.st_ino : 0;
  };
  ASSERT_EQ(v->DisplayFrame(2), ViewerStatus::Ok);
  const ino_t page2 = inode(files.at(1));
  ASSERT_EQ(v->DisplayPreviousFrame(), ViewerStatus::Ok);
  ASSERT_EQ(v->DisplayNextFrame(), ViewerStatus::Ok);
  EXPECT_EQ(std::make_tuple(files.size(), inode(files.at(1)), v->get_Currentpage()),
            std::make_tuple(size_t{2}, page2, 2));
  ASSERT_EQ(v->DisplayLastFrame(), ViewerStatus::Ok);  // page 11 at 100 dpi
  EXPECT_EQ(std::make_pair(v->get_Currentpage(), bar_width()), std::make_pair(11, 229));
  // A new resolution renders again under a name of its own: 1001 dpi page 1 is not 100 dpi page 11.
  v->put_PdfDpiRendering(1001);
  ASSERT_EQ(v->DisplayFirstFrame(), ViewerStatus::Ok);
  EXPECT_EQ(std::make_pair(files.size(), v->get_PictureWidth()), std::make_pair(size_t{4}, 2781));
  EXPECT_NE(files[2], files[3]);
  EXPECT_EQ(v->get_HorizontalResolution(), 1001);
  // Out-of-range values are ignored.
  for (int32_t bad : {0, -5, 1000000}) v->put_PdfDpiRendering(bad);
  EXPECT_EQ(v->get_PdfDpiRendering(), 1001);
  v->put_PdfDpiRendering(100);
  // A file of a page's name that this viewer did not render is never shown.
  const std::string name = files.at(1);
  v->ClosePicture();
  EXPECT_EQ(temp_files(), 0u);
  {
    cKorvex k;
    (void)k.CreateNewImage(10, 10, 24);
    ASSERT_EQ(k.SaveAsBmp(name), cKorvexStatus::Ok);
  }
  ASSERT_EQ(v->DisplayFromPdfFile(pdf), ViewerStatus::Ok);
  ASSERT_EQ(v->DisplayFrame(2), ViewerStatus::Ok);
  EXPECT_EQ(std::make_pair(v->get_PictureWidth(), bar_width()), std::make_pair(278, 42));
  // Requests outside the document are ignored.
  EXPECT_EQ(v->DisplayFrame(12), ViewerStatus::Ok);
  EXPECT_EQ(v->get_Currentpage(), 2);
  v->Terminate();
  EXPECT_EQ(temp_files(), 0u);
}

TEST_F(PdfPagesTest, TemporaryCopyFreesTheFileAndViewersKeepTheirOwnDocuments) {
  const std::string pdf = write_pdf("mine.pdf", 3);
  const std::string other = write_pdf("other.pdf", 2);
  v->put_pdfForceTemporaryMode(true);
  ASSERT_EQ(v->DisplayFromPdfFile(pdf), ViewerStatus::Ok);
  ASSERT_TRUE(fs::remove(pdf));
  // A second viewer of the thread opens its own document in between.
  auto host2 = std::make_shared<HeadlessHost>(50, 50);
  auto v2 = std::make_unique<kxViewer>(host2);
  ASSERT_EQ(v2->DisplayFromPdfFile(other), ViewerStatus::Ok);
  ASSERT_EQ(v->DisplayFrame(3), ViewerStatus::Ok);
  EXPECT_EQ(bar_width(), 62);  // 45 pt at 100 dpi (62.5 pixels), page 3 of the deleted file
  EXPECT_EQ(v2->DisplayFrame(3), ViewerStatus::Ok);  // outside its two pages: ignored
  EXPECT_EQ(v2->get_Currentpage(), 1);
  v2.reset();                   // its page file goes with it
  EXPECT_EQ(temp_files(), 3u);  // the copy and two page files
  v.reset();
  EXPECT_EQ(temp_files(), 0u);
}

}  // namespace
}  // namespace korvex
