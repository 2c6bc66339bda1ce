// Persisted properties through a memory bag (orders, defaults, refused and
// damaged values), property notices of every setter, the context menu's
// captions and actions, and printing the viewer's document on the built-in
// PDF printer, checked with poppler's pdftoppm and pdfinfo.
#include <gtest/gtest.h>

#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "korvex/automation.h"
#include "korvex/engine.h"
#include "korvex/property_bag.h"
#include "korvex/viewer.h"
#include "print/printer.h"
#include "raster/handles.h"
#include "raster/image.h"
#include "viewer/core.h"
#include "viewer/headless_host.h"

namespace korvex {
namespace {

namespace fs = std::filesystem;
using viewer::HeadlessHost;

// Remembers the order of what the viewer asked of it.
struct RecordingBag : MemoryPropertyBag {
  std::vector<std::string> reads, writes;
  ViewerStatus ReadProperty(const std::string& n, PropertyType t, double& v) override {
    reads.push_back(n);
    return MemoryPropertyBag::ReadProperty(n, t, v);
  }
  ViewerStatus WriteProperty(const std::string& n, PropertyType t, double v) override {
    writes.push_back(n);
    return MemoryPropertyBag::WriteProperty(n, t, v);
  }
  ViewerStatus RemoveProperty(const std::string& n) override {
    writes.push_back(n);
    return MemoryPropertyBag::RemoveProperty(n);
  }
};

const std::vector<std::string> kWriteOrder = {
    "ScrollBars", "EnableMenu", "Zoom", "PictureWidth", "PictureHeight", "MouseMode", "ZoomStep",
    "ScrollSmallChange", "ScrollLargeChange", "VerticalResolution", "HorizontalResolution",
    "NumPages", "Currentpage", "SilentMode", "PdfDpiRendering", "pdfForceTemporaryMode",
    "pdfForceUncrypt", "imageForceTemporaryMode", "SkipImageResolution", "LockScreen", "ZoomMode",
    "SmoothingMode", "InterpolationMode", "PdfRenderingMode", "PdfBufferingMode",
    "RectBorderStyle", "RectDrawMode", "Enabled", "EnableMouseWheel", "ImageAlignment",
    "AnimateGIF", "RectBorderSize", "ClipControls", "RectBorderColor", "BorderStyle",
    "Appearance", "BackStyle", "BackColor", "ScrollOptimization"};

// A 32bppARGB image whose pixel (x, y) is 0xFF000000 | (x << 16) | (y << 8),
// or all `black` when asked.
int32_t gradient_image(int32_t w, int32_t h, float dpi = 96, bool black = false) {
  std::unique_ptr<raster::Image> img;
  EXPECT_EQ(raster::Image::create(w, h, raster::pf::k32bppARGB, img), raster::Status::Ok);
  for (int32_t y = 0; y < h; ++y)
    for (int32_t x = 0; x < w; ++x)
      EXPECT_EQ(img->set_pixel(x, y, black ? 0xFF000000u : 0xFF000000u | uint32_t(x) << 16 | uint32_t(y) << 8),
                raster::Status::Ok);
  EXPECT_EQ(img->set_resolution(dpi, dpi), raster::Status::Ok);
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

// Bounding box (x0, y0, x1, y1) of the pixels darker than mid-grey on a
// page of `pdf` rendered by pdftoppm at `dpi`; empty when it cannot be read.
std::vector<int> dark_box(const std::string& pdf, int page, int dpi) {
  const std::string pgm = run("pdftoppm -gray -r " + std::to_string(dpi) + " -f " +
                              std::to_string(page) + " -l " + std::to_string(page) + " '" + pdf +
                              "'");
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

class PropertiesMenuTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir = fs::path(::testing::TempDir()) / ("kx_vprops_" + std::to_string(::getpid()));
    fs::create_directories(dir / "tmp");
    fs::create_directories(dir / "out");
    setenv("TMPDIR", (dir / "tmp").c_str(), 1);
    // No scheduler: the built-in PDF printer is the only one.
    setenv("CUPS_SERVER", (dir / "no-cupsd.sock").c_str(), 1);
  }
  void TearDown() override {
    v.reset();
    fs::remove_all(dir);
  }
  // Prints on the built-in printer into dir/out; the file written, or "".
  std::string print_with(const std::function<void()>& print) {
    EXPECT_TRUE(v->PrintSetActivePrinter("Korvex PDF"));
    v->core().Printer().set_output_folder((dir / "out").string());
    v->PrintSetDocumentName("job");
    print();
    const fs::path out = dir / "out" / "job.pdf";
    return fs::exists(out) ? out.string() : std::string();
  }

  fs::path dir;
  std::shared_ptr<HeadlessHost> host = std::make_shared<HeadlessHost>(200, 150);
  std::unique_ptr<kxViewer> v = std::make_unique<kxViewer>(host);
};

TEST_F(PropertiesMenuTest, PropertiesRoundTripInTheirOrdersAndDefaultsAreNotStored) {
  // A fresh control stores nothing, and removes what an older save left.
  RecordingBag bag;
  bag.entries["ZoomStep"] = {PropertyType::Long, 25};
  ASSERT_EQ(v->WriteProperties(bag), ViewerStatus::Ok);
  EXPECT_TRUE(bag.entries.empty());
  EXPECT_EQ(bag.writes, kWriteOrder);

  v->put_ScrollBars(false);
  v->put_Zoom(2.5);  // ZoomMode 4
  v->put_MouseMode(3);
  v->put_ScrollSmallChange(7);
  v->put_PdfDpiRendering(300);
  v->put_RectDrawMode(7);
  v->put_RectBorderSize(3);
  v->put_BackColor(0x123456);
  v->put_AnimateGIF(true);
  RecordingBag saved;
  ASSERT_EQ(v->WriteProperties(saved), ViewerStatus::Ok);
  const std::map<std::string, std::pair<PropertyType, double>> expected = {
      {"ScrollBars", {PropertyType::Boolean, 0}},  {"Zoom", {PropertyType::Double, 2.5}},
      {"MouseMode", {PropertyType::Long, 3}},      {"ScrollSmallChange", {PropertyType::Integer, 7}},
      {"PdfDpiRendering", {PropertyType::Long, 300}}, {"ZoomMode", {PropertyType::Long, 4}},
      {"RectDrawMode", {PropertyType::Long, 7}},   {"RectBorderSize", {PropertyType::Integer, 3}},
      {"BackColor", {PropertyType::Long, 0x123456}}, {"AnimateGIF", {PropertyType::Boolean, 1}}};
  EXPECT_EQ(saved.entries, expected);

  auto other_host = std::make_shared<HeadlessHost>(100, 100);
  kxViewer other(other_host);
  other_host->ClearLog();
  ASSERT_EQ(other.ReadProperties(saved), ViewerStatus::Ok);
  const std::vector<std::string> read_order = {
      "ScrollBars", "EnableMenu", "Zoom", "PictureWidth", "PictureHeight", "MouseMode",
      "ZoomStep", "VerticalResolution", "HorizontalResolution", "NumPages", "Currentpage",
      "SilentMode", "PdfDpiRendering", "pdfForceTemporaryMode", "pdfForceUncrypt",
      "imageForceTemporaryMode", "SkipImageResolution", "LockScreen", "ZoomMode",
      "SmoothingMode", "InterpolationMode", "PdfRenderingMode", "PdfBufferingMode",
      "EnableMouseWheel", "ImageAlignment", "AnimateGIF", "Enabled", "ScrollSmallChange",
      "ScrollLargeChange", "RectDrawMode", "RectBorderStyle", "RectBorderColor",
      "RectBorderSize", "ClipControls", "BorderStyle", "Appearance", "BackStyle", "BackColor",
      "ScrollOptimization"};
  EXPECT_EQ(saved.reads, read_order);
  // Nothing laid out or painted: only the menu's check marks follow.
  EXPECT_EQ(other_host->Log().find("hscroll"), std::string::npos) << other_host->Log();
  EXPECT_EQ(other_host->menu_item("mnautozoom").first, true);
  EXPECT_EQ(other_host->menu_item("mnscroll").first, false);
  MemoryPropertyBag again;
  ASSERT_EQ(other.WriteProperties(again), ViewerStatus::Ok);
  EXPECT_EQ(again.entries, expected);
  EXPECT_EQ(other.get_RectDrawMode(), 7);
  EXPECT_EQ(other.get_ScrollSmallChange(), 7);
}

TEST_F(PropertiesMenuTest, ReadValuesPassTheSettersRulesAndDocumentValuesStayAlone) {
  // Each of these is refused: the property keeps its default.
  const struct {
    const char* name;
    double value;
  } kRefused[] = {{"ZoomMode", 99},        {"ScrollSmallChange", 0}, {"ScrollLargeChange", -5},
                  {"PdfDpiRendering", 1e6}, {"MouseMode", 7},        {"Zoom", -1},
                  {"ZoomStep", 0},         {"RectBorderStyle", 9},  {"RectDrawMode", 0},
                  {"RectBorderSize", 0},   {"PdfRenderingMode", 2}, {"NumPages", 5},
                  {"Currentpage", 3},      {"PictureWidth", 640},   {"PictureHeight", 480},
                  {"HorizontalResolution", 300}, {"VerticalResolution", 300}};
  MemoryPropertyBag bag;
  for (const auto& r : kRefused) bag.entries[r.name] = {PropertyType::Double, r.value};
  ASSERT_EQ(v->ReadProperties(bag), ViewerStatus::Ok);
  MemoryPropertyBag out;
  ASSERT_EQ(v->WriteProperties(out), ViewerStatus::Ok);
  EXPECT_TRUE(out.entries.empty()) << out.entries.begin()->first;

  // With a document the document's own values stay.
  ASSERT_EQ(v->DisplayFromImageRef(gradient_image(40, 30)), ViewerStatus::Ok);
  ASSERT_EQ(v->ReadProperties(bag), ViewerStatus::Ok);
  EXPECT_EQ(v->get_PictureWidth(), 40);
  EXPECT_EQ(v->get_NumPages(), 1);
  EXPECT_EQ(v->get_Currentpage(), 1);
  EXPECT_EQ(v->get_HorizontalResolution(), 96);
}

TEST_F(PropertiesMenuTest, ADamagedBagLeavesEveryPropertyAtItsDefault) {
  const struct {
    const char* name;
    double value;
    ViewerStatus status;
  } kDamaged[] = {{"ScrollBars", 2, ViewerStatus::InvalidParameter},
                  {"ZoomStep", 2.5, ViewerStatus::InvalidParameter},
                  {"ScrollLargeChange", 40000, ViewerStatus::ValueOverflow},
                  {"BackColor", 1e12, ViewerStatus::ValueOverflow},
                  {"Zoom", std::nan(""), ViewerStatus::InvalidParameter}};
  for (const auto& d : kDamaged) {
    SCOPED_TRACE(d.name);
    v->put_ZoomStep(25);
    MemoryPropertyBag bag;
    bag.entries["PdfDpiRendering"] = {PropertyType::Long, 200};  // valid, read before or after
    bag.entries[d.name] = {PropertyType::Double, d.value};
    EXPECT_EQ(v->ReadProperties(bag), d.status);
    EXPECT_EQ(v->LastStatus(), d.status);
    EXPECT_EQ(v->get_ZoomStep(), 10);
    EXPECT_EQ(v->get_PdfDpiRendering(), 100);
  }
}

TEST_F(PropertiesMenuTest, EveryPropertySetterTellsTheHostUnderItsName) {
  const automation::Object obj(automation::FindClass("kxViewer"),
                               std::shared_ptr<void>(v.get(), [](void*) {}));
  int checked = 0;
  for (const automation::Member& m : obj.cls()->members) {
    if (m.kind != automation::MemberKind::PropertyLet) continue;
    std::vector<Variant> none;
    automation::CallResult got = obj.Invoke(m.name, automation::MemberKind::PropertyGet, none);
    ASSERT_EQ(got.error, automation::DispatchError::None) << m.name;
    host->ClearLog();
    std::vector<Variant> args{got.value};
    ASSERT_EQ(obj.Invoke(m.name, automation::MemberKind::PropertyLet, args).error,
              automation::DispatchError::None)
        << m.name;
    EXPECT_NE(host->Log().find("property " + std::string(m.name) + "\n"), std::string::npos)
        << m.name;
    ++checked;
  }
  EXPECT_GE(checked, 39);
}

TEST_F(PropertiesMenuTest, CaptionsChangeByIndexOneToThirtyOne) {
  EXPECT_EQ(v->MenuItemCaption("mn90flipx"), "90\xC2\xB0   Flip X");
  EXPECT_EQ(v->MenuItemCaption("mn180Flipx"), "180\xC2\xB0 Flip X");
  const struct {
    int32_t index;
    const char* item;  // the item renamed, or nullptr
  } kCases[] = {{0, nullptr}, {32, nullptr}, {-1, nullptr}, {21, "mnzoom100"},
                {1, "mnframes"}, {31, "mnautozoom"}};
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.index);
    host->ClearLog();
    v->SetItemMenuCaption(c.index, "Renamed");
    if (c.item == nullptr) {
      EXPECT_EQ(host->Log(), "");
      continue;
    }
    EXPECT_EQ(v->MenuItemCaption(c.item), "Renamed");
    EXPECT_EQ(host->menu_caption(c.item), "Renamed");
  }
  EXPECT_EQ(v->MenuItemCaption("mnzoomfit"), "Zoom fit");
}

TEST_F(PropertiesMenuTest, MenuItemsRunTheirMembers) {
  ASSERT_EQ(v->DisplayFromImageRef(gradient_image(60, 40)), ViewerStatus::Ok);
  EXPECT_TRUE(host->menu_item("mnzoom100").first);
  EXPECT_FALSE(host->menu_item("mnplaygif").second);
  // A checked zoom item changes nothing, not even the view.
  host->ClearLog();
  host->ChooseMenuItem("mnzoom100");
  EXPECT_EQ(host->Log(), "menu mnzoom100 chosen\n");

  const struct {
    const char* item;
    int32_t zoom_mode, mouse_mode, width;
    bool scroll_bars;
  } kSteps[] = {{"mnzoomfit", 2, 2, 60, true},     {"mnhandcursor", 2, 2, 60, true},
                {"mnareaselection", 2, 1, 60, true}, {"mnautozoom", 2, 3, 60, true},
                {"mnstandard", 2, 0, 60, true},    {"mnscroll", 2, 0, 60, false},
                {"mnscroll", 2, 0, 60, true},      {"mn90", 2, 0, 40, true},
                {"mn90flipx", 2, 0, 60, true},     {"mnZoomwidth", 3, 0, 60, true},
                {"mnzoomviewer", 6, 0, 60, true},  {"mnZoomin", 4, 0, 60, true}};
  for (const auto& s : kSteps) {
    SCOPED_TRACE(s.item);
    host->ChooseMenuItem(s.item);
    EXPECT_EQ(v->get_ZoomMode(), s.zoom_mode);
    EXPECT_EQ(v->get_MouseMode(), s.mouse_mode);
    EXPECT_EQ(v->get_PictureWidth(), s.width);
    EXPECT_EQ(v->get_ScrollBars(), s.scroll_bars);
    EXPECT_EQ(host->menu_item("mnscroll").first, s.scroll_bars);
  }
  EXPECT_TRUE(host->menu_item("mnstandard").first);
  EXPECT_FALSE(host->menu_item("mnautozoom").first);
}

TEST_F(PropertiesMenuTest, CopyToClipboardTakesOnlyTheSelection) {
  ASSERT_EQ(v->DisplayFromImageRef(gradient_image(60, 40)), ViewerStatus::Ok);
  v->put_MouseMode(1);
  v->SetRectValues(5, 10, 20, 12);  // top, left, width, height (1-based)
  ASSERT_TRUE(v->isRectDrawed());
  host->ChooseMenuItem("mnclipboard");
  cKorvex k;
  const int32_t copy = k.CreateImageFromClipboard();
  const raster::Image* img = raster::find_image(copy);
  ASSERT_NE(img, nullptr);
  EXPECT_EQ(img->width(), 20);
  EXPECT_EQ(img->height(), 12);
  for (const auto& [x, y] : {std::pair{0, 0}, std::pair{19, 11}, std::pair{7, 3}}) {
    uint32_t argb = 0;
    ASSERT_EQ(img->get_pixel(x, y, argb), raster::Status::Ok);
    EXPECT_EQ(argb & 0xFFFFFF, uint32_t(9 + x) << 16 | uint32_t(4 + y) << 8) << x << "," << y;
  }
  // Without a selection: the whole picture.
  v->ClearRect();
  host->ChooseMenuItem("mnclipboard");
  const raster::Image* whole = raster::find_image(k.CreateImageFromClipboard());
  ASSERT_NE(whole, nullptr);
  EXPECT_EQ(whole->width(), 60);
}

TEST_F(PropertiesMenuTest, PrintsTheShownDocumentOnTheBuiltInPrinter) {
  // Nothing without a document.
  EXPECT_EQ(print_with([&] { v->PrintImage(); }), "");
  EXPECT_TRUE(fs::is_empty(dir / "out"));

  // A 254 x 127 pixel image at 254 dpi is 25.4 x 12.7 mm; fitted and by size.
  ASSERT_EQ(v->DisplayFromImageRef(gradient_image(254, 127, 254, true)), ViewerStatus::Ok);
  v->PrintSetImageAlignment(4);  // top-left
  std::string pdf = print_with([&] { v->PrintImageBySize(10, 20, 50, 30); });
  ASSERT_NE(pdf, "");
  EXPECT_EQ(v->PrintGetStat(), ViewerStatus::Ok);
  float left = -1, top = -1;
  v->PrintGetMargins(left, top);
  std::vector<int> box = dark_box(pdf, 1, 254);  // 10 pixels a millimetre
  ASSERT_EQ(box.size(), 4u);
  EXPECT_NEAR(box[0], (10 + left) * 10, 2);
  EXPECT_NEAR(box[1], (20 + top) * 10, 2);
  EXPECT_NEAR(box[2] - box[0] + 1, 500, 2);
  EXPECT_NEAR(box[3] - box[1] + 1, 300, 2);
  fs::remove(pdf);

  // A PDF page prints its document: every page, measured at PdfDpiRendering.
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
    ASSERT_EQ(k.GetStat(), cKorvexStatus::Ok);
  }
  v->put_PdfDpiRendering(72);
  ASSERT_EQ(v->DisplayFromPdfFile(doc), ViewerStatus::Ok);
  ASSERT_TRUE(v->core().Printer().pdf_source());
  v->PrintSetFromToPage(2, 9);
  pdf = print_with([&] { v->PrintImage(); });
  ASSERT_NE(pdf, "");
  EXPECT_NE(run("pdfinfo '" + pdf + "'").find("Pages:           2"), std::string::npos);
  // Page 2 of the document: a bar 30 points wide, 50 high, at (10, 20) points of
  // a 200-point page printed at its own size, so 72 dpi keeps points.
  box = dark_box(pdf, 1, 72);
  ASSERT_EQ(box.size(), 4u);
  EXPECT_NEAR(box[2] - box[0] + 1, 30, 2);
  EXPECT_NEAR(box[3] - box[1] + 1, 50, 2);
  box = dark_box(pdf, 2, 72);
  ASSERT_EQ(box.size(), 4u);
  EXPECT_NEAR(box[2] - box[0] + 1, 45, 2);

  // Back to a raster document: the mark goes, the image prints again.
  ASSERT_EQ(v->DisplayFromImageRef(gradient_image(20, 20)), ViewerStatus::Ok);
  EXPECT_FALSE(v->core().Printer().pdf_source());
}

}  // namespace
}  // namespace korvex
