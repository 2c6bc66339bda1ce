// Persisted properties, property notices, the context menu, and printing on
// the built-in PDF printer (checked with poppler's pdftoppm and pdfinfo).
#include <algorithm>
#include <cmath>

#include "korvex/automation.h"
#include "korvex/engine.h"
#include "korvex/property_bag.h"
#include "print/printer.h"
#include "viewer_test_util.h"

namespace korvex {
namespace {

namespace fs = std::filesystem;
using viewer::HeadlessHost;

// 32bppARGB, pixel (x, y) = 0xFF000000 | x << 16 | y << 8.
int32_t gradient_image(int32_t w, int32_t h) {
  std::unique_ptr<raster::Image> img;
  EXPECT_EQ(raster::Image::create(w, h, raster::pf::k32bppARGB, img), raster::Status::Ok);
  for (int32_t y = 0; y < h; ++y)
    for (int32_t x = 0; x < w; ++x)
      EXPECT_EQ(img->set_pixel(x, y, 0xFF000000u | uint32_t(x) << 16 | uint32_t(y) << 8),
                raster::Status::Ok);
  return raster::register_image(std::move(img));
}

std::string run(const std::string& cmd) {
  std::string out;
  FILE* p = ::popen(cmd.c_str(), "r");
  if (p == nullptr) return out;
  char buf[4096];
  size_t n = 0;
  while ((n = std::fread(buf, 1, sizeof buf, p)) > 0) out.append(buf, n);
  ::pclose(p);
  return out;
}

// Box (x0, y0, x1, y1) of the pixels darker than mid-grey on a page rendered by pdftoppm.
std::vector<int> dark_box(const std::string& pdf, int page, int dpi) {
  const std::string pgm =
      run("pdftoppm -gray -r " + std::to_string(dpi) + " -f " + std::to_string(page) + " -l " +
          std::to_string(page) + " '" + pdf + "'");
  int w = 0, h = 0, maxval = 0, used = 0;
  if (std::sscanf(pgm.c_str(), "P5 %d %d %d%n", &w, &h, &maxval, &used) != 3) return {};
  const size_t start = static_cast<size_t>(used) + 1;
  if (pgm.size() < start + static_cast<size_t>(w) * h) return {};
  int x0 = w, y0 = h, x1 = -1, y1 = -1;
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x)
      if (static_cast<uint8_t>(pgm[start + static_cast<size_t>(y) * w + x]) < 128) {
        x0 = std::min(x0, x), y0 = std::min(y0, y), x1 = std::max(x1, x), y1 = std::max(y1, y);
      }
  return {x0, y0, x1, y1};
}

class PropertiesMenuTest : public testutil::ViewerTest {
 protected:
  // Prints on the built-in printer into dir/out; the file written, or "".
  std::string print_with(const std::function<void()>& print) {
    fs::create_directories(dir / "out");
    EXPECT_TRUE(v->PrintSetActivePrinter("Korvex PDF"));
    v->core().Printer().set_output_folder((dir / "out").string());
    v->PrintSetDocumentName("job");
    print();
    const fs::path out = dir / "out" / "job.pdf";
    return fs::exists(out) ? out.string() : std::string();
  }
};

TEST_F(PropertiesMenuTest, PropertiesRoundTripAndDefaultsAreNotStored) {
  // A fresh control stores nothing, and removes what an older save left.
  MemoryPropertyBag bag;
  bag.entries["ZoomStep"] = {PropertyType::Long, 25};
  ASSERT_EQ(v->WriteProperties(bag), ViewerStatus::Ok);
  EXPECT_TRUE(bag.entries.empty());

  v->put_ScrollBars(false);
  v->put_Zoom(2.5);  // ZoomMode 4
  v->put_MouseMode(3);
  v->put_ScrollSmallChange(7);
  v->put_RectBorderSize(3);
  v->put_BackColor(0x123456);
  MemoryPropertyBag saved;
  ASSERT_EQ(v->WriteProperties(saved), ViewerStatus::Ok);
  using P = PropertyType;
  const std::map<std::string, std::pair<P, double>> expected = {
      {"ScrollBars", {P::Boolean, 0}},   {"Zoom", {P::Double, 2.5}},
      {"MouseMode", {P::Long, 3}},       {"ScrollSmallChange", {P::Integer, 7}},
      {"ZoomMode", {P::Long, 4}},        {"RectBorderSize", {P::Integer, 3}},
      {"BackColor", {P::Long, 0x123456}}};
  EXPECT_EQ(saved.entries, expected);

  // The second control reads what the first wrote, under the same names.
  auto other_host = std::make_shared<HeadlessHost>(100, 100);
  KxViewerCnt other(other_host);
  other_host->ClearLog();
  ASSERT_EQ(other.ReadProperties(saved), ViewerStatus::Ok);
  // Nothing laid out or painted: only the menu's check marks follow.
  EXPECT_EQ(other_host->Log().find("hscroll"), std::string::npos) << other_host->Log();
  EXPECT_TRUE(other_host->menu_item("mnautozoom").first);
  EXPECT_FALSE(other_host->menu_item("mnscroll").first);
  MemoryPropertyBag again;
  ASSERT_EQ(other.WriteProperties(again), ViewerStatus::Ok);
  EXPECT_EQ(again.entries, expected);
}

TEST_F(PropertiesMenuTest, RefusedValuesAreIgnoredAndADamagedBagGivesTheDefaults) {
  // Refused and document-owned values leave the default; a value its type cannot hold is damage.
  // (The setters' own refusals are checked with the setters.)
  using S = ViewerStatus;
  struct Case {
    const char* name;
    double value;
    ViewerStatus status;
  };
  const Case kCases[] = {
      {"ZoomMode", 99, S::Ok},
      {"ScrollSmallChange", 0, S::Ok},
      {"Zoom", -1, S::Ok},
      {"NumPages", 5, S::Ok},
      {"Currentpage", 3, S::Ok},
      {"PictureWidth", 640, S::Ok},
      {"HorizontalResolution", 300, S::Ok},
      {"ScrollBars", 2, S::InvalidParameter},
      {"ZoomStep", 2.5, S::InvalidParameter},
      {"ScrollLargeChange", 40000, S::ValueOverflow},
      {"Zoom", std::nan(""), S::InvalidParameter},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.name);
    v->put_ZoomStep(25);  // not in the bag: a damaged bag brings the default back
    MemoryPropertyBag bag;
    bag.entries["InterpolationMode"] = {PropertyType::Long, 7};
    bag.entries[c.name] = {PropertyType::Double, c.value};
    EXPECT_EQ(v->ReadProperties(bag), c.status);
    MemoryPropertyBag out;
    ASSERT_EQ(v->WriteProperties(out), ViewerStatus::Ok);
    if (c.status == S::Ok)
      EXPECT_EQ(out.entries,
                (decltype(out.entries){{"InterpolationMode", {PropertyType::Long, 7}}}));
    else
      EXPECT_TRUE(out.entries.empty());
  }
  // With a document its own values stay.
  ASSERT_EQ(v->DisplayFromImageRef(gradient_image(40, 30)), ViewerStatus::Ok);
  MemoryPropertyBag bag;
  bag.entries = {{"PictureWidth", {PropertyType::Long, 9}}, {"NumPages", {PropertyType::Long, 9}}};
  ASSERT_EQ(v->ReadProperties(bag), ViewerStatus::Ok);
  EXPECT_EQ(v->get_PictureWidth(), 40);
  EXPECT_EQ(v->get_NumPages(), 1);
}

TEST_F(PropertiesMenuTest, EveryPropertySetterTellsTheHostUnderItsName) {
  using automation::MemberKind;
  const automation::Object obj(automation::FindClass("kxViewer"),
                               std::shared_ptr<void>(v.get(), [](void*) {}));
  int checked = 0;
  for (const automation::Member& m : obj.cls()->members) {
    if (m.kind != MemberKind::PropertyLet) continue;
    std::vector<Variant> args;
    args.push_back(obj.Invoke(m.name, MemberKind::PropertyGet, args).value);
    host->ClearLog();
    ASSERT_EQ(obj.Invoke(m.name, MemberKind::PropertyLet, args).error,
              automation::DispatchError::None)
        << m.name;
    EXPECT_NE(host->Log().find("property " + std::string(m.name) + "\n"), std::string::npos)
        << m.name;
    ++checked;
  }
  EXPECT_GE(checked, 39);
}

TEST_F(PropertiesMenuTest, MenuCaptionsAndItems) {
  EXPECT_EQ(v->MenuItemCaption("mn90flipx"), "90\xC2\xB0   Flip X");
  for (const int32_t index : {0, 32, -1}) v->SetItemMenuCaption(index, "Renamed");
  EXPECT_EQ(host->Log().find("caption"), std::string::npos);
  v->SetItemMenuCaption(21, "Renamed");
  EXPECT_EQ(v->MenuItemCaption("mnzoom100"), "Renamed");
  EXPECT_EQ(host->menu_caption("mnzoom100"), "Renamed");
  EXPECT_EQ(v->MenuItemCaption("mnzoomfit"), "Zoom fit");

  ASSERT_EQ(v->DisplayFromImageRef(gradient_image(60, 40)), ViewerStatus::Ok);
  EXPECT_FALSE(host->menu_item("mnplaygif").second);
  // A checked zoom item changes nothing, not even the view.
  host->ClearLog();
  host->ChooseMenuItem("mnzoom100");
  EXPECT_EQ(host->Log(), "menu mnzoom100 chosen\n");
  const struct {
    const char* item;
    int32_t zoom_mode, mouse_mode, width;
    bool scroll_bars;
  } kSteps[] = {{"mnzoomfit", 2, 2, 60, true},   {"mnareaselection", 2, 1, 60, true},
                {"mnautozoom", 2, 3, 60, true},  {"mnstandard", 2, 0, 60, true},
                {"mnscroll", 2, 0, 60, false},   {"mnscroll", 2, 0, 60, true},
                {"mn90", 2, 0, 40, true},        {"mn90flipx", 2, 0, 60, true},
                {"mnZoomwidth", 3, 0, 60, true}, {"mnZoomin", 4, 0, 60, true}};
  for (const auto& s : kSteps) {
    SCOPED_TRACE(s.item);
    host->ChooseMenuItem(s.item);
    EXPECT_EQ(v->get_ZoomMode(), s.zoom_mode);
    EXPECT_EQ(v->get_MouseMode(), s.mouse_mode);
    EXPECT_EQ(v->get_PictureWidth(), s.width);
    EXPECT_EQ(host->menu_item("mnscroll").first, s.scroll_bars);
  }
  EXPECT_TRUE(host->menu_item("mnstandard").first);

  // "Copy to Clipboard" with a selection: only its pixels.
  ASSERT_EQ(v->DisplayFromImageRef(gradient_image(60, 40)), ViewerStatus::Ok);
  v->put_MouseMode(1);
  v->SetRectValues(5, 10, 20, 12);  // top, left, width, height (1-based)
  host->ChooseMenuItem("mnclipboard");
  cKorvex k;
  const raster::Image* img = raster::find_image(k.CreateImageFromClipboard());
  ASSERT_NE(img, nullptr);
  EXPECT_EQ(img->width() * 100 + img->height(), 2012);
  for (const auto& [x, y] : {std::pair{0, 0}, std::pair{19, 11}, std::pair{7, 3}}) {
    uint32_t argb = 0;
    ASSERT_EQ(img->get_pixel(x, y, argb), raster::Status::Ok);
    EXPECT_EQ(argb & 0xFFFFFF, uint32_t(9 + x) << 16 | uint32_t(4 + y) << 8) << x << "," << y;
  }
}

TEST_F(PropertiesMenuTest, PrintsTheShownDocumentOnTheBuiltInPrinter) {
  EXPECT_EQ(print_with([&] { v->PrintImage(); }), "");  // no document: nothing
  EXPECT_TRUE(fs::is_empty(dir / "out"));

  // A PDF page prints its document's range, each page measured at PdfDpiRendering.
  const std::string doc = (dir / "doc.pdf").string();
  {
    cKorvex k;
    ASSERT_TRUE(k.PdfNewPdf(doc));
    k.PdfSetMeasurementUnits(0);
    k.PdfSetPageDimensions(200, 100);
    for (int i = 1; i <= 3; ++i) {
      k.PdfNewPage();
      k.PdfDrawFillRectangle(10, 20, 15.0f * i, 50, 0, 0);
      k.PdfEndPage();
    }
    k.PdfSavePdf();
  }
  v->put_PdfDpiRendering(72);
  ASSERT_EQ(v->DisplayFromPdfFile(doc), ViewerStatus::Ok);
  v->PrintSetFromToPage(2, 9);
  const std::string pdf = print_with([&] { v->PrintImage(); });
  ASSERT_NE(pdf, "");
  EXPECT_NE(run("pdfinfo '" + pdf + "'").find("Pages:           2"), std::string::npos);
  // At 72 dpi a point is a pixel: pages 2 and 3 hold bars 30 and 45 wide, 50 high.
  for (const auto& [page, width] : {std::pair{1, 30}, std::pair{2, 45}}) {
    const std::vector<int> bar = dark_box(pdf, page, 72);
    ASSERT_EQ(bar.size(), 4u);
    EXPECT_NEAR(bar[2] - bar[0] + 1, width, 1);
    EXPECT_NEAR(bar[3] - bar[1] + 1, 50, 1);
  }
  // A raster document clears the PDF mark.
  ASSERT_EQ(v->DisplayFromImageRef(gradient_image(20, 20)), ViewerStatus::Ok);
  EXPECT_FALSE(v->core().Printer().pdf_source());
}

}  // namespace
}  // namespace korvex
