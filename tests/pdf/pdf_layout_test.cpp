// The PDF writer's byte layout, number and text formatting, and its file faults.
#include <cstdlib>
#include <ctime>
#include <functional>
#include <optional>
#include <vector>

#include "../../fuzz/pdf_text_check.h"
#include "pdf_test_util.h"

namespace korvex {
namespace {

using pdf::cPDF;
using testutil::count_of;
using testutil::expect_contains;
using testutil::slurp;

const char kInfoStart[] = "1 0 obj\r\n<<\r/Title (";
const char kCatalog[] =
    "2 0 obj\r\n<<\r/Type /Catalog\r/Pages 3 0 R\r/PageMode /UseNone\r/PageLayout /OneColumn\r"
    "/ViewerPreferences << /HideToolbar false /DisplayDocTitle true /HideWindowUI false >>\r>>\r\n"
    "endobj\r\n";

// The xref table and trailer a file must end with, computed from where each
// "k 0 obj" line actually sits.
std::string expected_tail(const std::string& body, int objects) {
  std::vector<size_t> at(static_cast<size_t>(objects) + 1, 0);
  for (size_t line = 0; line < body.size();) {
    const size_t end = body.find('\n', line);
    const size_t sp = body.find(' ', line);
    if (sp < end && body.compare(sp, 8, " 0 obj\r\n") == 0 && sp + 7 == end) {
      const int k = std::atoi(body.c_str() + line);
      if (k >= 1 && k <= objects) at[size_t(k)] = line;
    }
    if (end == std::string::npos) break;
    line = end + 1;
  }
  std::string t = "xref\r\n0 " + std::to_string(objects + 1) + "\r\n0000000000 65535 f\r\n";
  for (int k = 1; k <= objects; ++k) {
    char e[32];
    std::snprintf(e, sizeof e, "%010zu 00000 n\r\n", at[size_t(k)]);
    t += e;
  }
  return t + "trailer\r<<\r/Size " + std::to_string(objects + 1) +
         "\r/Info 1 0 R\r/Root 2 0 R\r>>\r\nstartxref\r" + std::to_string(body.size()) +
         "\r\n%%EOF\r\r\n";
}

TEST(PdfLayout, EmptyDocumentIsExactByteForByte) {
  testutil::ScratchDir tmp;
  cPDF doc;
  doc.PDFTitle = "a(b)c\\d";
  doc.PDFCreator = "Korvex ToolKit";
  doc.PDFSubject = "never written";
  ASSERT_TRUE(doc.InitPDFFile(tmp / "e.pdf"));
  EXPECT_NE(doc.NativeHandle(), 0);
  ASSERT_TRUE(doc.ClosePDFFile());
  EXPECT_EQ(doc.NativeHandle(), 0);
  const std::string f = slurp(tmp / "e.pdf");
  const size_t date = f.find("/CreationDate (D:");
  ASSERT_NE(date, std::string::npos);
  const std::string stamp = f.substr(date + 15, 23);  // D:YYYYMMDDHHmmSS+HH'mm'
  const std::string body =
      std::string("%PDF-1.3\r\n") + kInfoStart +
      "a\\(b\\)c\\\\d)\r/Author ()\r/Creator  (Korvex ToolKit)\r" +
      "/Producer ()\r/CreationDate (" + stamp + ")\r>>\r\nendobj\r\n" + kCatalog +
      "4 0 obj\r\n<<\r/ProcSet [/PDF /Text ]\r>>\r\nendobj\r\n" +
      "3 0 obj\r\n<<\r/Type /Pages\r/Count 0\r/Kids [ ]\r/Resources 4 0 R\r>>\r\nendobj\r\n";
  EXPECT_EQ(f, body + expected_tail(body, 4));
  testutil::expect_qpdf_clean(tmp / "e.pdf");
}

TEST(PdfLayout, OnePageTripletAndLengthObject) {
  testutil::ScratchDir tmp;
  cPDF doc;
  ASSERT_TRUE(doc.InitPDFFile(tmp / "p.pdf"));
  EXPECT_EQ(doc.BeginPage(), 1);
  doc.SetColorFill(255);
  doc.Rectangle(10, 20, 30, 40, pdf::kFill, 0);
  doc.EndPage();
  doc.Orientation = 1;
  doc.Margin = 10;
  EXPECT_EQ(doc.BeginPage(), 2);
  doc.EndPage();
  ASSERT_TRUE(doc.ClosePDFFile());
  const std::string f = slurp(tmp / "p.pdf");
  const std::string content = "1 0 0 rg\r\nn\r\n10 20 30 40 re\r\nf\r\n";
  expect_contains(
      f, {"5 0 obj\r\n<<\r/Type /Page\r/Parent 3 0 R\r/Contents 6 0 R\r"
          "/MediaBox [0 0 595.2 842]\r/CropBox [0 0 595.2 842]\r\r>>\r\nendobj\r\n"
          "6 0 obj\r\n<< /Length 7 0 R >>\rstream\r\n" +
              content + "endstream\r\nendobj\r\n7 0 obj\r\n" + std::to_string(content.size()) +
              "\r\nendobj\r\n8 0 obj\r\n",
          "/CropBox [10 10 585.2 832]\r/Rotate 90\r>>", "/Count 2\r/Kids [5 0 R 8 0 R  ]"});
  const size_t tail = f.find("xref\r\n");
  EXPECT_EQ(f.substr(tail), expected_tail(f.substr(0, tail), 10));
}

TEST(PdfLayout, FormatsNumbersAndText) {
  struct Num {
    double v;
    int d;
    const char* num;
    const char* fixed;
  };
  const Num nums[] = {
      {595.2f, 3, "595.2", "595.200"}, {0.5, 2, "0.5", "0.50"},
      {-11, 3, "-11", "-11.000"},      {0.0005, 3, "0", "0.000"},
      {0.0015, 3, "0.002", "0.002"},   {2.5, 0, "2", "2"},
      {-1.235, 2, "-1.24", "-1.24"},   {-0.0004, 3, "0", "0.000"},
      {0.1 + 0.2, 3, "0.3", "0.300"},  {595.2755905511812, 3, "595.276", "595.276"},
      {9.9996, 3, "10", "10.000"},     {1e15, 3, "1000000000000000", "1000000000000000.000"}};
  for (const Num& n : nums) {
    EXPECT_EQ(cPDF::FormatNum(n.v, n.d), n.num) << n.v;
    EXPECT_EQ(cPDF::FormatFixed(n.v, n.d), n.fixed) << n.v;
  }
  EXPECT_EQ(cPDF::EscapeText("a(b)c\\d"), "a\\(b\\)c\\\\d");
  EXPECT_EQ(cPDF::EscapeText("\xC3\xA9\xE2\x82\xAC\xE4\xB8\xAD"), "\xE9\x80?");  // é € 中
  // The creation date carries the zone's real offset, east or west of UTC.
  const char* old = std::getenv("TZ");
  const std::optional<std::string> saved = old ? std::optional<std::string>(old) : std::nullopt;
  const std::pair<const char*, const char*> zones[] = {{"UTC0", "D:19700101000000+00'00'"},
                                                       {"IST-5:30", "D:19700101053000+05'30'"},
                                                       {"EST5", "D:19691231190000-05'00'"}};
  for (const auto& [tz, want] : zones) {
    setenv("TZ", tz, 1);
    tzset();
    EXPECT_EQ(cPDF::CreationDate(0), want) << tz;
  }
  saved ? setenv("TZ", saved->c_str(), 1) : unsetenv("TZ");
  tzset();
  // The fuzz harness's invariants hold on every seed and saved regression.
  namespace fs = std::filesystem;
  for (const char* kind : {"corpus", "regressions"}) {
    const fs::path dir = fs::path(KORVEX_SOURCE_DIR) / "fuzz" / kind / "pdf_text";
    if (!fs::exists(dir)) continue;
    for (const auto& e : fs::directory_iterator(dir)) {
      const std::string seed = slurp(e.path().string());
      EXPECT_EQ(pdf_text_check(reinterpret_cast<const uint8_t*>(seed.data()), seed.size()), "")
          << e.path();
    }
  }
}

// The content lines one page-drawing call writes.
std::string page_lines(const std::function<void(cPDF&)>& draw) {
  testutil::ScratchDir tmp;
  cPDF doc;
  if (!doc.InitPDFFile(tmp / "c.pdf")) return "init failed";
  doc.BeginPage();
  draw(doc);
  doc.EndPage();
  doc.ClosePDFFile();
  const std::string f = slurp(tmp / "c.pdf");
  const size_t s = f.find("stream\r\n") + 8;
  return f.substr(s, f.find("endstream") - s);
}

TEST(PdfContent, OperatorLines) {
  struct Case {
    const char* what;
    std::function<void(cPDF&)> draw;
    std::string lines;
  };
  // clang-format off
  const Case cases[] = {
      {"grey fill", [](cPDF& d) { d.SetColorFill(0); d.SetColorFill(-255); }, "0 g\r\n1 g\r\n"},
      {"rgb stroke", [](cPDF& d) { d.SetColorStroke(0x00FF00); d.SetColorStroke(255); },
       "0 1 0 RG\r\n1 0 0 RG\r\n"},
      {"out of range", [](cPDF& d) { d.SetLineCap(3); d.SetTextRenderingMode(3); d.SetLineJoin(-1); }, ""},
      {"state", [](cPDF& d) { d.SetLineCap(1); d.SetLineJoin(2); d.SetLineWidth(0.25f); d.SetDash(0, 0);
                             d.SetDash(3, 1.5f); d.SetTextRenderingMode(1); },
       "1 J\r\n2 j\r\n0.25 w\r\n[ ] 0 d\r\n[3 1.5] 0 d\r\n1 Tr\r\n"},
      {"text state", [](cPDF& d) { d.SetCharSpacing(1); d.SetWordSpacing(2); d.SetTextHorizontalScaling(90); },
       "1 Tc\r\n2 Tw\r\n90 Tz\r\n"},
      {"paint styles", [](cPDF& d) { for (int s : {7, 5, 6, 3, 0}) d.LineTo(1, 2, s); },
       "1 2 l\r\nb\r\n1 2 l\r\nB\r\n1 2 l\r\nf\r\n1 2 l\r\nh\r\nS\r\n1 2 l\r\n"},
      {"curve", [](cPDF& d) { d.MoveTo(1, 1); d.Curve(1, 1, 2, 3, 4.5f, 5, 1); }, "1 1 m\r\n1 1 2 3 4.5 5 c\r\nS\r\n"},
      {"rectangle", [](cPDF& d) { d.Rectangle(1, 2, 3, 4, 1, 0); }, "n\r\n1 2 3 4 re\r\nS\r\n"},
      {"rounded", [](cPDF& d) { d.Rectangle(0, 0, 100, 40, 4, 30); },
       "n\r\n20 0 m\r\n80 0 l\r\n91 0 100 9 100 20 c\r\n100 20 l\r\n100 31 91 40 80 40 c\r\n"
       "20 40 l\r\n9 40 0 31 0 20 c\r\n0 20 l\r\n0 9 9 0 20 0 c\r\nf\r\n"},
      {"circle", [](cPDF& d) { d.DrawCircle(10, 10, 10, 1); },
       "10 0 m\r\n15.5 0 20 4.5 20 10 c\r\n20 15.5 15.5 20 10 20 c\r\n4.5 20 0 15.5 0 10 c\r\n"
       "0 4.5 4.5 0 10 0 c\r\nS\r\n"},
      {"pie quarter", [](cPDF& d) { d.Arc(0, 0, 10, 0, 90, 1, false, 0, 45, 4); },
       "n\r\n0 0 m\r\n10 0 l\r\n7.071 7.071 l\r\n0 10 l\r\n0 0 l\r\nf\r\n"},
      {"image ids", [](cPDF& d) { d.DrawImg(0, 0, 0, 1, 1); d.DrawImg(1, 0, 0, 1, 1); }, ""},
      {"font ids", [](cPDF& d) { d.DrawText(0, 0, "x", 0, 12, 0, 0); d.DrawText(0, 0, "x", 1, 12, 0, 0); }, ""},
  };
  // clang-format on
  for (const Case& c : cases) EXPECT_EQ(page_lines(c.draw), c.lines) << c.what;

  const std::string arc = page_lines([](cPDF& d) { d.Arc(50, 50, 10, 0, 360, 1, false, 0, 1, 1); });
  EXPECT_EQ(arc.substr(0, 21), "n\r\n50 50 m\r\n60 50 m\r\n");
  EXPECT_EQ(count_of(arc, " l\r\n"), 361u);
  EXPECT_EQ(arc.substr(arc.size() - 3), "S\r\n");
  // An angle that stops advancing, or a step of 0, ends the polyline; a huge
  // sweep is bounded.
  EXPECT_EQ(count_of(page_lines([](cPDF& d) { d.Arc(0, 0, 1, 1e8f, 2e8f, 1, false, 0, 1, 1); }),
                     " l\r\n"),
            1u);
  EXPECT_EQ(
      count_of(page_lines([](cPDF& d) { d.Arc(0, 0, 1, 0, 10, 1, false, 0, 0, 1); }), " l\r\n"),
      1u);
  EXPECT_EQ(
      count_of(page_lines([](cPDF& d) { d.Arc(0, 0, 1, 0, 1e7f, 1, false, 0, 1, 1); }), " l\r\n"),
      100000u);
}

TEST(PdfDocument, WideObjectNumbersAndRefusedCalls) {
  testutil::ScratchDir tmp;
  cPDF doc;
  doc.MoveTo(1, 1);  // no document: nothing to write into
  EXPECT_EQ(doc.BeginPage(), 0);
  ASSERT_TRUE(doc.InitPDFFile(tmp / "big.pdf"));
  for (int i = 0; i < 13334; ++i) {
    doc.BeginPage();
    doc.EndPage();
  }
  doc.BeginPage();
  EXPECT_EQ(doc.LoadFont("Arial", false, false), 0);  // would land inside the content stream
  doc.EndPage();
  EXPECT_EQ(doc.last_object(), 40009);
  ASSERT_TRUE(doc.ClosePDFFile());
  const std::string f = slurp(tmp / "big.pdf");
  EXPECT_NE(f.find("/Count 13335\r"), std::string::npos);  // "/Size 40010": in the tail
  const size_t tail = f.find("xref\r\n");
  EXPECT_TRUE(f.substr(tail) == expected_tail(f.substr(0, tail), 40009));
  testutil::expect_qpdf_clean(tmp / "big.pdf");
}

TEST(PdfDocument, FailedOrAbandonedDocumentsLeaveNoFile) {
  testutil::ScratchDir tmp;
  const std::string target = tmp / "t.pdf";
  {
    std::ofstream(target) << "old";
    cPDF doc;
    ASSERT_TRUE(doc.InitPDFFile(target));
    doc.BeginPage();
    ASSERT_TRUE(doc.InitPDFFile(tmp / "other.pdf"));  // drops the first document
    EXPECT_EQ(slurp(target), "old");
  }  // destroyed before closing
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(tmp.dir), {}), 1);
  EXPECT_EQ(slurp(target), "old");

  cPDF doc;
  EXPECT_FALSE(doc.InitPDFFile(tmp / "missing/x.pdf"));
  EXPECT_NE(doc.status(), raster::Status::Ok);
  EXPECT_FALSE(doc.ClosePDFFile());
  ASSERT_TRUE(doc.InitPDFFile("/dev/full"));  // written in place at the end: no space
  EXPECT_FALSE(doc.ClosePDFFile());
  EXPECT_NE(doc.status(), raster::Status::Ok);
}

}  // namespace
}  // namespace korvex
