// The viewer on the headless host: layout facts of each zoom mode, scroll
// ranges, coordinates, events and the pixels of the client area.
#include "korvex/engine.h"
#include "viewer/render.h"
#include "viewer_test_util.h"

namespace korvex {
namespace {

using testutil::make_image;
using testutil::ViewerTest;
using viewer::Bar;
using viewer::HeadlessHost;

TEST_F(ViewerTest, SmallImageAt100PercentIsCentredWithoutBars) {
  v->put_BackColor(0x00FF00);  // green (COLORREF)
  ASSERT_EQ(show(make_image(100, 100)), ViewerStatus::Ok);
  EXPECT_EQ(v->get_ImageLeftCoord(), 150);
  EXPECT_EQ(v->get_ImageTopCoord(), 100);
  EXPECT_FALSE(host->bar(Bar::Horizontal).visible);
  EXPECT_FALSE(host->bar(Bar::Vertical).visible);
  EXPECT_FALSE(host->corner_visible());
  EXPECT_EQ(pixel(150, 100), 0xFF0000u);
  EXPECT_EQ(pixel(249, 199), 0xFF0000u);
  EXPECT_EQ(pixel(149, 100), 0x00FF00u);
  EXPECT_EQ(pixel(250, 199), 0x00FF00u);
  EXPECT_EQ(v->get_PictureWidth(), 100);
  v->put_PictureWidth(7);  // read-only
  EXPECT_EQ(v->get_PictureWidth(), 100);
  // The client area is the control's window: an engine captures what was painted.
  cKorvex engine;
  ASSERT_NE(v->get_hwnd(), 0);
  ASSERT_GT(engine.CreateImageFromHwnd(v->get_hwnd()), 0);
  EXPECT_EQ(engine.GetWidth(), 400);
  EXPECT_EQ(engine.PixelGetColor(151, 101) & 0xFFFFFF, 0xFF0000);  // 1-based
  EXPECT_EQ(engine.PixelGetColor(150, 101) & 0xFFFFFF, 0x00FF00);
  host->ResizeClient(300, 200);  // the same window, resized
  ASSERT_GT(engine.CreateImageFromHwnd(v->get_hwnd()), 0);
  EXPECT_EQ(engine.GetWidth(), 300);
}

TEST_F(ViewerTest, ResolutionRatioStretchesHeights) {
  struct Case {
    float dpi_x, dpi_y;
    bool skip;
    int32_t displayed_height;
  } cases[] = {{200, 100, false, 200},  // fax: half the vertical resolution, twice as tall
               {200, 100, true, 100},   // resolution ignored
               {96, 0.3f, false, 100},  // a vertical resolution of 0 says nothing
               {0.3f, 96, false, 100}};
  for (const Case& c : cases) {
    v = std::make_unique<kxViewer>(host);
    v->put_SkipImageResolution(c.skip);
    ASSERT_EQ(show(make_image(100, 100, c.dpi_x, c.dpi_y)), ViewerStatus::Ok);
    EXPECT_EQ(v->core().displayed_height, c.displayed_height) << c.dpi_x << " " << c.dpi_y;
    EXPECT_EQ(v->get_ImageTopCoord(), (300 - c.displayed_height) / 2);
    int32_t x = 0, y = 0;
    v->CoordImageToObject(1, 101, x, y);
    EXPECT_EQ(y - v->get_ImageTopCoord(), c.displayed_height);
  }
}

TEST_F(ViewerTest, ZoomLimits) {
  ASSERT_EQ(show(make_image(100, 100)), ViewerStatus::Ok);
  EXPECT_EQ(v->SetZoom(250), ViewerStatus::Ok);
  EXPECT_DOUBLE_EQ(v->get_Zoom(), 2.5);
  EXPECT_EQ(v->get_ZoomMode(), 4);
  const double max = v->GetMaxZoom();
  v->SetZoom(0);
  v->SetZoom(static_cast<int32_t>(max * 100) + 1);
  EXPECT_DOUBLE_EQ(v->get_Zoom(), 2.5);
  v->put_Zoom(max * 10);  // capped
  EXPECT_DOUBLE_EQ(v->get_Zoom(), max);
  EXPECT_LE(v->GetHScrollBarMaxPosition(), 32767);
  v->put_ZoomStep(0);  // refused
  v->put_ZoomStep(-5);
  EXPECT_EQ(v->get_ZoomStep(), 10);
  v->put_ZoomStep(30);
  v->put_Zoom(0.5);
  for (int i = 0; i < 5; ++i) v->ZoomOUT();
  EXPECT_NEAR(v->get_Zoom(), 0.2, 1e-9);  // 0.2 - 0.3 would reach 0
  v->ZoomIN();
  EXPECT_NEAR(v->get_Zoom(), 0.5, 1e-9);
}

TEST_F(ViewerTest, MaxZoomKeepsBothScrollRangesWithin16Bits) {
  // A wide fax page: the width alone would allow a zoom whose height overflows.
  struct Case {
    int32_t w, h;
    float dpi_y;
  } cases[] = {{300, 200, 48}, {200, 300, 96}, {1000, 999, 24}};
  for (const Case& c : cases) {
    v = std::make_unique<kxViewer>(host);
    ASSERT_EQ(show(make_image(c.w, c.h, 96, c.dpi_y)), ViewerStatus::Ok);
    v->put_Zoom(1e9);
    EXPECT_GT(v->get_Zoom(), 1.0);
    EXPECT_LE(v->GetHScrollBarMaxPosition(), 32767);
    EXPECT_LE(v->GetVScrollBarMaxPosition(), 32767);
    EXPECT_LE(v->core().displayed_height, 300 + 32767);
    EXPECT_LE(v->core().displayed_width, 400 + 32767);
  }
}

TEST_F(ViewerTest, WidthModeLeavesRoomForTheBarAndFitModeShowsNone) {
  ASSERT_EQ(show(make_image(100, 1000)), ViewerStatus::Ok);
  v->SetZoomWidth();
  EXPECT_DOUBLE_EQ(v->get_Zoom(), (400.0 - HeadlessHost::kBarThickness) / 100);
  EXPECT_TRUE(host->bar(Bar::Vertical).visible);
  EXPECT_FALSE(host->bar(Bar::Horizontal).visible);
  EXPECT_EQ(v->get_ImageLeftCoord(), 0);
  for (int32_t id : {make_image(100, 1000), make_image(5000, 300), make_image(30, 20)}) {
    show(id);
    v->SetZoomFit();
    EXPECT_FALSE(host->bar(Bar::Vertical).visible);
    EXPECT_FALSE(host->bar(Bar::Horizontal).visible);
    EXPECT_TRUE(v->core().displayed_width <= 400 && v->core().displayed_height <= 300);
    EXPECT_TRUE(v->core().displayed_width == 400 || v->core().displayed_height == 300);
  }
}

TEST_F(ViewerTest, CoordinatesConvertBothWays) {
  ASSERT_EQ(show(make_image(300, 200)), ViewerStatus::Ok);
  for (int32_t percent : {25, 100, 150, 370}) {
    v->SetZoom(percent);
    int32_t ix = 0, iy = 0, ox = 0, oy = 0;
    v->CoordObjectToImage(v->GetPictureLeft(), v->GetPictureTop(), ix, iy);
    EXPECT_EQ(ix, 1);
    EXPECT_EQ(iy, 1);
    v->CoordImageToObject(1, 1, ox, oy);
    EXPECT_EQ(ox, v->get_ImageLeftCoord());
    EXPECT_EQ(oy, v->get_ImageTopCoord());
    v->CoordImageToObject(41, 21, ox, oy);
    EXPECT_EQ(ox - v->get_ImageLeftCoord(), static_cast<int32_t>(40 * percent / 100.0 + 0.5));
    v->CoordObjectToImage(ox, oy, ix, iy);
    EXPECT_EQ(ix, 41);
    EXPECT_EQ(iy, 21);
  }
  // Stretched to the viewer: the horizontal factor is the displayed width over the picture width.
  v->SetZoomViewer();
  EXPECT_DOUBLE_EQ(v->get_Zoom(), 1.5);
  int32_t ox = 0, oy = 0, ix = 0, iy = 0;
  v->CoordImageToObject(301, 201, ox, oy);
  EXPECT_EQ(ox, 400);
  EXPECT_EQ(oy, 300);
  v->CoordObjectToImage(200, 150, ix, iy);
  EXPECT_EQ(ix, 151);
  EXPECT_EQ(iy, 101);
}

TEST_F(ViewerTest, AlignmentPlacesTheBarsAndScrollingMovesTheImage) {
  v->put_ImageAlignment(8);  // bottom right
  ASSERT_EQ(show(make_image(1000, 800)), ViewerStatus::Ok);
  EXPECT_EQ(v->GetHScrollBarPosition(), v->GetHScrollBarMaxPosition());
  EXPECT_EQ(v->GetVScrollBarPosition(), v->GetVScrollBarMaxPosition());
  EXPECT_EQ(v->GetHScrollBarMaxPosition(), 1000 - 400 + 17);
  EXPECT_EQ(v->GetVScrollBarMaxPosition(), 800 - 300 + 17);
  EXPECT_TRUE(host->corner_visible());
  v->SetHVScrollBarPosition(-5, 100000);  // clamped
  EXPECT_EQ(v->get_ImageLeftCoord(), 0);
  EXPECT_EQ(v->get_ImageTopCoord(), -(800 - 300 + 17));
  EXPECT_NE(host->Log().find("hscroll min=0 max=617 value=0"), std::string::npos) << host->Log();
  // The user drags a bar: the host reports it, the image follows (clamped to the range).
  v->core().OnScrollBarChange(Bar::Horizontal, 10);
  v->core().OnScrollBarChange(Bar::Vertical, 1 << 20);
  EXPECT_EQ(v->get_ImageLeftCoord(), -10);
  EXPECT_EQ(v->get_ImageTopCoord(), -(800 - 300 + 17));
}

TEST_F(ViewerTest, EventsArriveInOrder) {
  v->Advise(events);
  ASSERT_EQ(show(make_image(1000, 800)), ViewerStatus::Ok);
  // Showing closes what was shown first: PageChange.
  EXPECT_EQ(events->text, "PageChange ZoomChange PictureChange Displayed PageChange ZoomChanged");
  events->text.clear();
  v->SetHScrollBarPosition(30);
  v->SetHScrollBarPosition(30);  // no change, no event
  EXPECT_EQ(events->text, "Displayed PageChange Scroll");
  events->text.clear();
  host->ResizeClient(500, 400);
  EXPECT_EQ(events->text, "ZoomChange Displayed PageChange ZoomChanged Resize");
  events->text.clear();
  v->get_ScrollBars();
  v->SetZoom100();  // already in mode 1
  EXPECT_EQ(events->text, "");
  EXPECT_NE(host->Log().find("resize 500x400"), std::string::npos);
}

TEST_F(ViewerTest, HandlerThatEndsTheViewerStopsTheStep) {
  v->Advise(events);
  ASSERT_EQ(show(make_image(100, 100)), ViewerStatus::Ok);
  events->text.clear();
  events->action = [this](ViewerEvent e, ViewerEventArgs&) {
    if (e == ViewerEvent::Displayed) v.reset();
  };
  v->SetZoom(200);
  EXPECT_EQ(events->text, "ZoomChange Displayed");
  EXPECT_EQ(v, nullptr);
  // A handler that shows another image stops the layout of the first one.
  v = std::make_unique<kxViewer>(host);
  v->Advise(events);
  const int32_t second = make_image(50, 50);
  events->text.clear();
  events->action = [&](ViewerEvent e, ViewerEventArgs&) {
    if (e == ViewerEvent::ZoomChange && v->core().native_image != second) show(second);
  };
  show(make_image(100, 100));
  EXPECT_EQ(events->text,
            "PageChange ZoomChange PageChange ZoomChange PictureChange Displayed PageChange "
            "ZoomChanged");
  EXPECT_EQ(v->get_PictureWidth(), 50);
}

TEST_F(ViewerTest, ScrollStepRendersOnlyTheUncoveredStrip) {
  ASSERT_EQ(show(make_image(5000, 3000, 96, 96, 0xFF2080C0, 0x80000000)), ViewerStatus::Ok);
  // Enlarging, and shrinking through averaged blocks (high quality, 20 %).
  for (int32_t percent : {137, 20}) {
    v->SetZoom(percent);
    const auto& cache = v->core().cache();
    EXPECT_EQ(cache.last_rendered_pixels(), int64_t{383} * 283);
    v->SetHScrollBarPosition(v->GetHScrollBarPosition() + 5);
    EXPECT_EQ(cache.last_rendered_pixels(), int64_t{5} * 283);
    v->SetVScrollBarPosition(v->GetVScrollBarPosition() - 3);
    EXPECT_EQ(cache.last_rendered_pixels(), int64_t{3} * 383);
    // The pieces join exactly: a full repaint gives the same client area.
    const viewer::PixelBuffer a = host->Snapshot();
    const std::vector<uint8_t> pieced(a.pixels, a.pixels + a.stride * a.height);
    v->Redraw();
    const viewer::PixelBuffer b = host->Snapshot();
    EXPECT_EQ(std::memcmp(pieced.data(), b.pixels, pieced.size()), 0) << percent;
    // A half-transparent checkerboard, averaged or interpolated: between its two colours.
    EXPECT_GT(pixel(100, 100) & 0xFF, 0x20u);
    EXPECT_LT(pixel(100, 100) & 0xFF, 0xC0u);
  }
}

// At 100 % the client shows the image's own pixels, unscaled, whatever the
// pixel format and wherever the view is scrolled (scroll steps reuse the
// pixels already shown and fetch only the uncovered strips).
TEST_F(ViewerTest, At100PercentTheClientShowsTheImagePixelsWhereverScrolled) {
  for (const raster::PixelFormat f :
       {raster::pf::k24bppRGB, raster::pf::k32bppRGB, raster::pf::k32bppPARGB}) {
    std::unique_ptr<raster::Image> img;
    ASSERT_EQ(raster::Image::create(1000, 700, f, img), raster::Status::Ok);
    std::vector<uint32_t> noise(1000 * 700);
    uint32_t seed = 12345;
    for (uint32_t& p : noise) p = 0xFF000000u | ((seed = seed * 1664525u + 1013904223u) >> 8);
    ASSERT_EQ(img->write_pixels(raster::Rect{0, 0, 1000, 700}, raster::pf::k32bppARGB,
                                reinterpret_cast<const uint8_t*>(noise.data()), 4000),
              raster::Status::Ok);
    ASSERT_EQ(show(raster::register_image(std::move(img))), ViewerStatus::Ok);
    v->SetZoom100();
    const struct {
      int32_t h, v;
    } positions[] = {{0, 0}, {1, 0}, {37, 11}, {36, 12}, {600, 400}, {617, 417}, {5, 417}};
    for (const auto& at : positions) {
      v->SetHVScrollBarPosition(at.h, at.v);
      ASSERT_EQ(v->get_ImageLeftCoord(), -at.h);
      ASSERT_EQ(v->get_ImageTopCoord(), -at.v);
      const viewer::PixelBuffer b = host->Snapshot();
      int32_t wrong = 0;
      for (int32_t y = 0; y < 283; ++y)
        for (int32_t x = 0; x < 383; ++x) {
          uint32_t shown;
          std::memcpy(&shown, b.row(y) + x * 4, 4);
          wrong += (shown & 0xFFFFFF) != (noise[(y + at.v) * 1000 + x + at.h] & 0xFFFFFF);
        }
      EXPECT_EQ(wrong, 0) << "format " << f << " at " << at.h << "," << at.v;
    }
  }
}

// The unscaled copy is what the resampler gives at 1:1 in every mode,
// translucent pixels included.
TEST(ViewRender, CopyAreaMatchesResamplingAtOneToOne) {
  constexpr int32_t w = 61, h = 47;
  std::vector<uint8_t> pixels(static_cast<size_t>(w) * h * 4);
  uint32_t seed = 99;
  for (size_t i = 0; i < pixels.size(); i += 4) {
    seed = seed * 1664525u + 1013904223u;
    const uint8_t a = static_cast<uint8_t>(seed >> 24);
    for (int c = 0; c < 3; ++c) pixels[i + c] = static_cast<uint8_t>((seed >> (8 * c)) % (a + 1u));
    pixels[i + 3] = a;
  }
  const viewer::PixelRect area{7, 5, 40, 30};
  std::vector<uint8_t> copied(40 * 30 * 4), resampled(copied.size());
  for (const bool opaque : {false, true}) {
    const viewer::SourceRows src{pixels.data(), w * 4, w, h, opaque};
    viewer::CopyArea(src, area, viewer::PixelBuffer{copied.data(), 40, 30, 160});
    for (int32_t mode : {0, 1, 2, 3, 4, 5, 6, 7}) {
      viewer::RenderArea(src, viewer::Scaling{w, h, mode}, area,
                         viewer::PixelBuffer{resampled.data(), 40, 30, 160});
      EXPECT_EQ(copied, resampled) << "mode " << mode << " opaque " << opaque;
    }
  }
}

TEST_F(ViewerTest, TransparentBackStyleShowsTheContainerAroundTheImage) {
  v->put_InterpolationMode(5);  // nearest neighbour: exact 2 x 2 blocks at 200 %
  ASSERT_EQ(show(make_image(4, 4, 96, 96, 0xFFFF0000, 0xFF0000FF)), ViewerStatus::Ok);
  v->SetZoom(200);
  const int32_t l = v->get_ImageLeftCoord(), t = v->get_ImageTopCoord();
  EXPECT_EQ(pixel(l + 7, t + 7), 0xFF0000u);
  // Transparent: the container shows around the image (mask colour black at 200 %).
  host->set_container_color(0x00FFFF);  // yellow
  v->put_BackStyle(0);
  v->Redraw();
  EXPECT_EQ(pixel(0, 0), 0xFFFF00u);
  EXPECT_EQ(pixel(l + 2, t), 0x0000FFu);
}

TEST_F(ViewerTest, InterpolationModesAcrossAnEdge) {
  // Black | white, doubled: displayed pixel d samples source position d / 2 - 0.25.
  struct Case {
    int32_t mode;
    uint32_t blue[4];
  } cases[] = {{5, {0, 0, 255, 255}},    // nearest neighbour
               {3, {0, 64, 191, 255}},   // bilinear: 1/4 and 3/4 of the way
               {4, {0, 52, 203, 255}},   // cubic convolution, a = -0.5
               {2, {0, 52, 203, 255}}};  // high quality equals it when enlarging
  for (const Case& c : cases) {
    v = std::make_unique<kxViewer>(host);
    v->put_InterpolationMode(c.mode);
    ASSERT_EQ(show(make_image(2, 1, 96, 96, 0xFF000000, 0xFFFFFFFF)), ViewerStatus::Ok);
    v->SetZoom(200);
    for (int32_t d = 0; d < 4; ++d) {
      EXPECT_EQ(pixel(v->get_ImageLeftCoord() + d, v->get_ImageTopCoord()) & 0xFF, c.blue[d])
          << "mode " << c.mode << " pixel " << d;
    }
  }
}

TEST_F(ViewerTest, PaintFailureIsReportedUnlessSilent) {
  const int32_t id = make_image(10, 10);
  ASSERT_EQ(show(id), ViewerStatus::Ok);
  ASSERT_EQ(raster::dispose_image(id), raster::Status::Ok);
  EXPECT_EQ(v->Redraw(), ViewerStatus::InvalidParameter);
  ASSERT_EQ(host->message_boxes().size(), 1u);
  EXPECT_EQ(host->message_boxes()[0], "Can not display image error no: 2");
  v->put_SilentMode(true);
  v->core().last_status = ViewerStatus::Ok;
  v->Redraw();
  EXPECT_EQ(host->message_boxes().size(), 1u);
  EXPECT_NE(host->Log().find("property SilentMode"), std::string::npos);
}

}  // namespace
}  // namespace korvex
