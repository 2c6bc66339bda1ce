// Fonts and images of the PDF writer, and the files as qpdf and poppler's
// tools read and render them.
#include <cmath>
#include <tuple>

#include "pdf_test_util.h"
#include "raster/image.h"

namespace korvex {
namespace {

using pdf::cPDF;
using testutil::count_of;
using testutil::expect_contains;
using testutil::run;
using testutil::slurp;

TEST(PdfFonts, NamesWidthsAndToolsListing) {
  testutil::ScratchDir tmp;
  cPDF doc;
  ASSERT_TRUE(doc.InitPDFFile(tmp / "f.pdf"));
  EXPECT_EQ(doc.LoadFont("Arial", true, false), 1);
  EXPECT_EQ(doc.LoadFont("Times New Roman", true, true), 2);
  EXPECT_EQ(doc.LoadFont("Courier New", false, false), 3);
  EXPECT_EQ(doc.LoadFont("No Such Font Family", false, false), 0);
  EXPECT_EQ(doc.LoadFont("Arial", false, false), 4);  // every call adds a font
  doc.BeginPage();
  doc.DrawText(100, 700, "AA", 4, 10, 2, 0);  // centred: x - width / 2
  doc.DrawText(10, 20, "(x)", 1, 12, 0, 90);
  doc.SetCharSpacing(1);
  doc.SetWordSpacing(2);
  doc.SetTextHorizontalScaling(50);
  EXPECT_NEAR(doc.TextWidth("A A", 4, 10), (16.12 + 2 + 3) / 2, 1e-4);
  doc.EndPage();
  doc.BeginPage();  // resets the text state
  doc.EndPage();
  // Liberation Sans has the advance widths of Arial: "A" 667, space 278.
  EXPECT_NEAR(doc.TextWidth("AA", 4, 10), 13.34, 1e-4);
  EXPECT_NEAR(doc.TextWidth("A A", 4, 10), 16.12, 1e-4);
  EXPECT_EQ(doc.TextWidth("", 4, 10), 0);
  EXPECT_EQ(doc.TextWidth("A", 5, 10), 0);
  ASSERT_TRUE(doc.ClosePDFFile());
  const std::string f = slurp(tmp / "f.pdf");
  expect_contains(
      f, {"<< /Type /Font \r/Subtype /TrueType\r/Name /Font1\r/BaseFont /Arial,Bold\r"
          "/FirstChar 32\r/LastChar 255\r/FontDescriptor 6 0 R\r/Encoding /WinAnsiEncoding\r"
          "/Widths [\r\n278 333 ",
          "/FontName /Arial,Bold\r/MissingWidth ", "/BaseFont /TimesNewRoman,BoldItalic\r",
          "/FontName /TimesNewRoman,BoldItalic\r", "/ItalicAngle -11\r/Flags 32\r/MaxWidth  ",
          "/BaseFont /CourierNew\r",
          "/Font <<\r/Font1 5 0 R \r/Font2 7 0 R \r/Font3 9 0 R \r/Font4 11 0 R \r>>\r"
          "/ProcSet [/PDF /Text ]\r>>",
          "BT\r\n/Font4 10 Tf\r\n93.33 700 Td\r\n(AA) Tj\r\nET\r\n",
          "/Font1 12 Tf\r\n0 1 -1 0 10 20 Tm\r\n(\\(x\\)) Tj\r\n"});
  // The widths line: 224 numbers (codes 32..255), each followed by a space.
  const size_t w = f.find("/Widths [\r\n") + 11;
  const std::string widths = f.substr(w, f.find("\r\n", w) - w);
  EXPECT_EQ(count_of(widths, " "), 224u);
  EXPECT_EQ(widths.back(), ' ');
  testutil::expect_qpdf_clean(tmp / "f.pdf");
  const std::string fonts = run("pdffonts '" + tmp / "f.pdf" + "'");
  expect_contains(fonts,
                  {"\nArial,Bold ", "\nTimesNewRoman,BoldItalic ", "\nCourierNew ", "\nArial "});
  EXPECT_EQ(count_of(fonts, "TrueType"), 4u) << fonts;
}

std::unique_ptr<raster::Image> make_image(int w, int h, raster::PixelFormat f) {
  std::unique_ptr<raster::Image> img;
  EXPECT_EQ(raster::Image::create(w, h, f, img), raster::Status::Ok);
  raster::Palette pal;
  for (uint32_t i = 0; i < 4; ++i) pal.entries.push_back(0xFF000000u | (i * 0x400000u) | (i * 60u));
  if (raster::is_indexed(f)) img->set_palette(pal);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x)
      img->set_pixel(x, y,
                     raster::is_indexed(f)
                         ? pal.entries[static_cast<size_t>((x / 3 + y / 2) % 4)]
                         : 0xFF000000u | (uint32_t(x * 6) << 16) | (uint32_t(y * 8) << 8) | 90u);
  img->set_resolution(144, 72);
  return img;
}

// One page rendered by pdftoppm at 288 dpi as RGB bytes: poppler smooths images
// drawn below four device pixels per image pixel, at 4x each is a plain block.
std::string render(const std::string& pdf, int page, const std::string& prefix, int& w, int& h) {
  run("pdftoppm -r 288 -f " + std::to_string(page) + " -l " + std::to_string(page) +
      " -singlefile '" + pdf + "' '" + prefix + "'");
  const std::string ppm = slurp(prefix + ".ppm");
  int maxval = 0, consumed = 0;
  if (std::sscanf(ppm.c_str(), "P6 %d %d %d%n", &w, &h, &maxval, &consumed) != 3) return {};
  return ppm.substr(static_cast<size_t>(consumed) + 1);
}

TEST(PdfImages, EncodingsPalettesRenderedPixelsAndEveryPixelFormat) {
  testutil::ScratchDir tmp;
  const int W = 40, H = 30;
  auto indexed = make_image(W, H, raster::pf::k8bppIndexed);
  auto rgb = make_image(W, H, raster::pf::k24bppRGB);
  auto one_bit = make_image(10, 2, raster::pf::k1bppIndexed);
  auto four_bit = make_image(5, 5, raster::pf::k4bppIndexed);
  for (bool compress : {true, false}) {
    SCOPED_TRACE(compress);
    const std::string path = tmp / (compress ? "c.pdf" : "r.pdf");
    cPDF doc;
    ASSERT_TRUE(doc.InitPDFFile(path));
    doc.CompressData = compress;
    int32_t next = 1;  // numbered in the order added
    for (auto* img : {indexed.get(), rgb.get(), one_bit.get(), four_bit.get()})
      EXPECT_EQ(doc.PdfAddImage(*img), next++);
    EXPECT_EQ(doc.PdfAddImage(tmp / "missing.png"), 0);
    EXPECT_EQ(doc.PdfAddImage(std::string(KORVEX_SOURCE_DIR) + "/tests/data/png/basi0g08.png"), 5);
    EXPECT_EQ(
        std::make_tuple(doc.ImageWidth(5), doc.ImageResX(2), doc.ImageHeight(2), doc.ImageWidth(6)),
        std::make_tuple(32, 144, H, 0));
    doc.SetPaperWidth(W);
    doc.SetPaperHeight(H);
    for (int id : {1, 2}) {
      doc.BeginPage();
      EXPECT_EQ(doc.PdfAddImage(*rgb), 0);  // refused inside a page
      doc.DrawImg(id, 0, 0, W, H);
      doc.EndPage();
    }
    doc.BeginPage();
    doc.SetColorFill(255);
    doc.Rectangle(10, 5, 8, 6, pdf::kFill, 0);
    doc.EndPage();
    ASSERT_TRUE(doc.ClosePDFFile());
    const std::string f = slurp(path);
    // The four indexed images (the grey PNG decodes as indexed): Flate while
    // compressing, else raw without a filter.
    EXPECT_EQ(count_of(f, " /Filter/FlateDecode\r\n"), compress ? 4u : 0u);
    const std::string one_bit_length = compress ? "" : "4\r\n";  // 10 pixels: rows of 2 bytes
    expect_contains(f, {"/Name /Img1\r/Width 40\r/Height 30\r\n/BitsPerComponent 8\r"
                        "/ColorSpace [/Indexed /DeviceRGB 255 7 0 R]\r/Length ",
                        "7 0 obj\r\n<</Length 768 >>\rstream\r\n",
                        "<</Length 6 >>\rstream\r\n",   // 1 bit: 2 palette entries
                        "<</Length 48 >>\rstream\r\n",  // 4 bits: 16 entries
                        "/ColorSpace /DeviceRGB\r/Length 9 0 R" +
                            std::string(compress ? " /Filter/DCTDecode" : "") + "\r\n",
                        "/ColorSpace [/Indexed /DeviceRGB 1 12 0 R]\r/Length " + one_bit_length,
                        "/XObject <<\r/Img1 5 0 R \r/Img2 8 0 R \r/Img3 10 0 R \r/Img4 13 0 R "
                        "\r/Img5 16 0 R \r\r>>",
                        "q\r40.00 0 0 30.00 0.00 0.00 cm /Img2 Do Q\r\n"});
    testutil::expect_qpdf_clean(path);
    expect_contains(run("pdfinfo '" + path + "'"), {"Page size:       40 x 30 pts"});
    const std::string list = run("pdfimages -list '" + path + "'");
    EXPECT_EQ(count_of(list, " jpeg "), compress ? 1u : 0u) << list;
    EXPECT_EQ(count_of(list, "\n"), 4u) << list;  // two header lines, two images drawn
    EXPECT_EQ(count_of(list, " index "), 1u) << list;

    int rw = 0, rh = 0;
    for (int page : {1, 2}) {
      const std::string px = render(path, page, tmp / "page", rw, rh);
      ASSERT_EQ(rw, 4 * W);
      ASSERT_EQ(rh, 4 * H);
      raster::Image& src = page == 1 ? *indexed : *rgb;
      int worst = 0;
      for (int y = 0; y < rh; ++y)
        for (int x = 0; x < rw; ++x) {
          uint32_t argb = 0;
          src.get_pixel(x / 4, y / 4, argb);
          for (int c = 0; c < 3; ++c)
            worst = std::max(worst, std::abs(int(uint8_t(px[size_t((y * rw + x) * 3 + c)])) -
                                             int((argb >> (16 - 8 * c)) & 255)));
        }
      // Flate and raw samples exactly; JPEG at quality 90 within a small error.
      EXPECT_LE(worst, page == 2 && compress ? 16 : 0) << "page " << page;
    }
    // The red rectangle at (10, 5) sized 8 x 6 points, y growing upwards.
    const std::string px = render(path, 3, tmp / "rect", rw, rh);
    ASSERT_EQ(px.size(), size_t(rw) * size_t(rh) * 3);
    int wrong = 0;
    for (int y = 0; y < rh; ++y)
      for (int x = 0; x < rw; ++x) {
        const bool inside = x >= 40 && x < 72 && y >= 4 * (H - 11) && y < 4 * (H - 5);
        wrong += px.compare(size_t((y * rw + x) * 3), 3, inside ? "\xFF\x00\x00" : "\xFF\xFF\xFF",
                            3) != 0;
      }
    EXPECT_EQ(wrong, 0);

    cPDF all;  // every pixel format gives an image object
    ASSERT_TRUE(all.InitPDFFile(tmp / "all.pdf"));
    all.CompressData = compress;
    int id = 0;
    for (raster::PixelFormat pf : raster::pf::kAll)
      EXPECT_EQ(all.PdfAddImage(*make_image(7, 3, pf)), ++id) << pf;
    ASSERT_TRUE(all.ClosePDFFile());
    testutil::expect_qpdf_clean(tmp / "all.pdf");
    EXPECT_EQ(count_of(slurp(tmp / "all.pdf"), "/DCTDecode"), compress ? 11u : 0u);
  }
}

}  // namespace
}  // namespace korvex
