// Drawing on the native image: placements, rendering, statuses and fonts.
#include <fontconfig/fontconfig.h>

#include <array>
#include <set>
#include <string>

#include "engine/state.h"
#include "engine_test_util.h"

namespace korvex {
namespace {

constexpr int32_t kWhite = -1;
constexpr int32_t kBlack = static_cast<int32_t>(0xFF000000);
constexpr int32_t kRed = static_cast<int32_t>(0xFFFF0000);
constexpr int32_t kBlue = static_cast<int32_t>(0xFF0000FF);

// A white 24-bit canvas.
void canvas(cKorvex& k, int32_t w, int32_t h, int32_t bpp = 24) {
  ASSERT_EQ(k.CreateImage(w, h, bpp), S::Ok);
  ASSERT_EQ(k.DrawFillRectangle(1, 1, w, h, kWhite, false), S::Ok);
}

// 0-based bounding box of the pixels that are not white.
struct Box {
  int32_t x0 = INT32_MAX, y0 = INT32_MAX, x1 = -1, y1 = -1;
  int32_t w() const { return x1 - x0 + 1; }
  int32_t h() const { return y1 - y0 + 1; }
  bool empty() const { return x1 < 0; }
  std::array<int32_t, 4> edges() const { return {x0, y0, x1, y1}; }
};
using Edges = std::array<int32_t, 4>;
Box ink(cKorvex& k) {
  Box b;
  for (int32_t y = 0; y < k.GetHeight(); ++y)
    for (int32_t x = 0; x < k.GetWidth(); ++x)
      if (px(k, x + 1, y + 1) != 0xFFFFFFFFu) {
        b.x0 = std::min(b.x0, x), b.y0 = std::min(b.y0, y);
        b.x1 = std::max(b.x1, x), b.y1 = std::max(b.y1, y);
      }
  return b;
}

int channel(uint32_t c, int shift) {
  return static_cast<int>((c >> shift) & 0xFF);
}

Array<int32_t> points(std::initializer_list<std::pair<int32_t, int32_t>> pts) {
  Array<int32_t> a;
  a.Redim({{1, static_cast<int32_t>(pts.size())}, {1, 2}});
  int32_t i = 1;
  for (auto [x, y] : pts) a(i, 1) = x, a(i++, 2) = y;
  return a;
}

Edges edges(cKorvex& k) {
  return ink(k).edges();
}

TEST(Drawing, LinesCoverTheirEndPixelsOnOneBasedCoordinates) {
  for (bool aa : {true, false}) {
    SCOPED_TRACE(aa);
    cKorvex k;
    canvas(k, 20, 5);
    ASSERT_EQ(k.DrawLine(1, 1, 10, 1, 1, kBlack, aa), S::Ok);
    for (int32_t x = 1; x <= 10; ++x) EXPECT_EQ(px(k, x, 1), 0xFF000000u) << x;
    EXPECT_EQ(edges(k), (Edges{0, 0, 9, 0}));
  }
  // A vertical 3-pixel pen is centred on its column.
  cKorvex k;
  canvas(k, 20, 20);
  ASSERT_EQ(k.DrawLine(10, 5, 10, 15, 3, kRed, false), S::Ok);
  EXPECT_EQ(edges(k), (Edges{8, 4, 10, 14}));
  EXPECT_EQ(px(k, 10, 10), 0xFFFF0000u);
}

TEST(Drawing, FilledAndOutlinedShapesLandOnTheirBoxes) {
  cKorvex k;
  canvas(k, 100, 100);
  ASSERT_EQ(k.DrawFillRectangle(11, 21, 10, 5, kBlue, true), S::Ok);
  EXPECT_EQ(edges(k), (Edges{10, 20, 19, 24}));
  expect_px(k, {{11, 21, 0xFF0000FFu}, {20, 25, 0xFF0000FFu}});  // crisp corners when antialiased
  // Outlines are centred on the box edges: 1 pixel pen, both edges inked.
  canvas(k, 100, 100);
  ASSERT_EQ(k.DrawRectangle(11, 21, 10, 5, 1, kBlack, false), S::Ok);
  EXPECT_EQ(edges(k), (Edges{10, 20, 20, 25}));
  EXPECT_EQ(px(k, 15, 23), 0xFFFFFFFFu);  // hollow
  // Ellipses (and circles, drawn as ellipses) centred on the point: box from x - floor(w / 2).
  canvas(k, 100, 100);
  ASSERT_EQ(k.DrawFillEllipse(50, 50, 20, 9, kBlack, false), S::Ok);
  EXPECT_EQ(edges(k), (Edges{39, 45, 58, 53}));
}

TEST(Drawing, RotatedShapesTurnAboutTheirCorner) {
  cKorvex k;
  canvas(k, 60, 60);
  ASSERT_EQ(k.DrawRotatedFillRectangle(90, 31, 31, 20, 10, kBlack, false), S::Ok);
  EXPECT_EQ(edges(k), (Edges{20, 30, 29, 49}));  // a quarter clockwise about (30, 30)
  canvas(k, 60, 60);
  ASSERT_EQ(k.DrawRotatedRectangle(0, 11, 11, 20, 10, 1, kBlack, false), S::Ok);
  const Box b = ink(k);
  EXPECT_EQ(std::make_pair(b.x0, b.w()), std::make_pair(10, 21));
}

TEST(Drawing, CurvesArcsAndBeziersInkWhereTheyRun) {
  cKorvex k;
  canvas(k, 100, 100);
  Array<int32_t> pts = points({{11, 51}, {51, 11}, {91, 51}});
  ASSERT_EQ(k.DrawCurves(pts, 2, kBlack, true), S::Ok);
  Box b = ink(k);
  EXPECT_TRUE(b.y0 >= 8 && b.y0 <= 11) << b.y0;  // passes through the top point
  EXPECT_NEAR(b.x0, 10, 2);
  EXPECT_NEAR(b.x1, 90, 2);
  EXPECT_NE(px(k, 51, 11), 0xFFFFFFFFu);
  // Too few points, or a one-dimensional array, are refused untouched.
  canvas(k, 100, 100);
  Array<int32_t> one = points({{5, 5}});
  EXPECT_EQ(k.DrawCurves(one, 1, kBlack, true), S::InvalidParameter);
  Array<int32_t> flat(std::vector<int32_t>{1, 2, 3, 4});
  EXPECT_EQ(k.DrawGradientCurves(flat, 1, kBlack, kRed, true), S::InvalidParameter);
  EXPECT_TRUE(ink(k).empty());
  // Quarter arc from 0 to 90 degrees (clockwise): the bottom-right quarter.
  ASSERT_EQ(k.DrawArc(21, 21, 60, 40, 0, 90, 1, kBlack, false), S::Ok);
  const Edges arc = edges(k), want{50, 40, 80, 60};
  for (int i = 0; i < 4; ++i) EXPECT_NEAR(arc[i], want[i], 1) << i;
  canvas(k, 100, 100);
  ASSERT_EQ(k.DrawBezier(1, 1, 1, 100, 100, 100, 100, 1, 1, kBlack, false), S::Ok);
  b = ink(k);
  EXPECT_EQ(std::make_pair(b.x0, b.x1), std::make_pair(0, 99));
  EXPECT_NEAR(b.y1, 74, 1);  // the curve's lowest point is 3/4 of the way down
}

TEST(Drawing, GradientsReachTheirEndColours) {
  cKorvex k;
  canvas(k, 120, 10);
  ASSERT_EQ(k.DrawGradientLine(11, 5, 110, 5, 3, kRed, kBlue, false), S::Ok);
  // The ramp between the ends: raster's linear brush tests.
  const uint32_t start = px(k, 11, 5), end = px(k, 109, 5);
  EXPECT_TRUE(channel(start, 16) > 245 && channel(start, 0) < 10) << std::hex << start;
  EXPECT_TRUE(channel(end, 0) > 240 && channel(end, 16) < 15) << std::hex << end;
  // Spot light: the hot point's colour at the centre, the end colour at the rim.
  canvas(k, 100, 100);
  ASSERT_EQ(k.DrawSpotLight(50, 50, 40, 20, 50, 50, 0.0f, kWhite, kBlack), S::Ok);
  EXPECT_GT(channel(px(k, 50, 50), 0), 245);
  EXPECT_LT(channel(px(k, 89, 50), 0), 25);
  EXPECT_EQ(px(k, 5, 5), 0xFFFFFFFFu);  // outside the ellipse; half way out: raster tests
  // With a focus scale of 0.5 the inner half keeps the centre colour.
  canvas(k, 100, 100);
  ASSERT_EQ(k.DrawSpotLight(50, 50, 40, 40, 50, 50, 0.5f, kRed, kBlue), S::Ok);
  EXPECT_EQ(px(k, 65, 50), 0xFFFF0000u);
  EXPECT_NEAR(channel(px(k, 80, 50), 0), 128, 16);
}

TEST(Drawing, DrawingWithoutAnImageOrWithBadArgumentsReportsIt) {
  cKorvex k;
  // No native image: nothing drawn, LastStatus unchanged.
  k.GetImageFormat();
  const S last = k.GetStat();
  EXPECT_EQ(k.DrawSpotLight(1, 1, 5, 5, 1, 1, 0.5f, kRed, kBlue), last);
  EXPECT_EQ(k.DrawGrid(1, 1, 10, 10, 0, 0), last);
  canvas(k, 40, 40);
  EXPECT_EQ(k.DrawGrid(1, 1, 10, 10, 0, 5), S::InvalidParameter);
  EXPECT_EQ(k.DrawGrid(1, 1, 10, 10, 5, -1), S::InvalidParameter);
  EXPECT_EQ(k.DrawLine(1, 1, 5, 5, -2), S::InvalidParameter);
  EXPECT_EQ(k.DrawImage(999999, 1, 1, 5, 5), S::InvalidParameter);
  EXPECT_EQ(k.DrawTexturedLine(1, 1, 9, 9, 2, "/no/such/texture.png"), S::FileNotFound);
  EXPECT_EQ(k.GetStat(), S::FileNotFound);
  EXPECT_TRUE(ink(k).empty());
  // Grid: lines every step, both edges included.
  ASSERT_EQ(k.DrawGrid(1, 1, 20, 20, 10, 10, 1, kBlack), S::Ok);
  for (int32_t i : {1, 11, 21}) expect_px(k, {{i, 5, 0xFF000000u}, {5, i, 0xFF000000u}});
  EXPECT_EQ(px(k, 6, 6), 0xFFFFFFFFu);
  EXPECT_EQ(ink(k).x1, 20);
}

TEST(Drawing, GeometryFarBeyondThePictureIsCutNotWrapped) {
  // Sizes past the drawing layer's fixed-point range still cover the picture.
  cKorvex k;
  canvas(k, 50, 50);
  ASSERT_EQ(k.DrawFillRectangle(1, 1, INT32_MAX, INT32_MAX, kRed, false), S::Ok);
  EXPECT_EQ(px(k, 50, 50), 0xFFFF0000u);
  canvas(k, 50, 50);
  ASSERT_EQ(k.DrawLine(-2000000000, 10, 2000000000, 10, 1, kBlack, false), S::Ok);
  EXPECT_EQ(px(k, 25, 10), 0xFF000000u);
  canvas(k, 50, 50);
  ASSERT_EQ(k.DrawGrid(1, 1, INT32_MAX, INT32_MAX, 20, 20, 1, kBlack), S::Ok);
  expect_px(k, {{21, 45, 0xFF000000u}, {45, 41, 0xFF000000u}});
  // Ellipses and curves past the reach are refused rather than drawn wrapped.
  EXPECT_EQ(k.DrawFillEllipse(25, 25, 100000000, 100000000, kRed), S::ValueOverflow);
  EXPECT_EQ(k.DrawBezier(1, 1, 1, 2000000000, 50, 50, 50, 1), S::ValueOverflow);
  EXPECT_EQ(k.GetStat(), S::ValueOverflow);
  // Glyphs beyond FreeType's 16-bit sizes are refused rather than silently lost.
  k.FontSetUnit(2);
  EXPECT_EQ(k.DrawText("W", 1, 1, 100000), S::InvalidParameter);
}

TEST(Drawing, ImagesAreScaledIntoPlaceAndMayBeDrawnOntoThemselves) {
  cKorvex src;
  ASSERT_EQ(src.CreateImage(4, 2, 32), S::Ok);
  for (int32_t x = 1; x <= 4; ++x) src.PixelSetColor(x, 1, kRed), src.PixelSetColor(x, 2, kBlue);
  cKorvex k;
  canvas(k, 30, 30);
  const int32_t id = src.GetNativeImage();
  ASSERT_EQ(k.DrawImage(id, 3, 4, 4, 2), S::Ok);  // own size: pixel for pixel
  expect_px(k, {{3, 4, 0xFFFF0000u}, {6, 5, 0xFF0000FFu}});
  EXPECT_EQ(edges(k), (Edges{2, 3, 5, 4}));
  // Scaled 5x with nearest neighbour: exact blocks.
  canvas(k, 30, 30);
  ASSERT_EQ(k.DrawImage2(id, 1, 1, 20, 10, 5), S::Ok);
  expect_px(k, {{20, 5, 0xFFFF0000u}, {1, 6, 0xFF0000FFu}, {21, 5, 0xFFFFFFFFu}});
  // A source rectangle: only the blue row, stretched.
  canvas(k, 30, 30);
  ASSERT_EQ(k.DrawImageRect(id, 1, 1, 8, 8, 1, 2, 4, 1, 3), S::Ok);
  EXPECT_EQ(px(k, 4, 4), 0xFF0000FFu);
  EXPECT_EQ(k.DrawImageRect(id, 1, 1, 8, 8, 1, 2, 4, 2, 3), S::InvalidParameter);
  EXPECT_EQ(k.DrawImageRect(id, 1, 1, 8, 8, 1, 1, 4, 2, 9), S::InvalidParameter);
  // Onto itself: a shifted copy reads the pixels as they were.
  cKorvex self;
  ASSERT_EQ(self.CreateImage(8, 1, 24), S::Ok);
  for (int32_t x = 1; x <= 8; ++x) self.PixelSetColor(x, 1, static_cast<int32_t>(0xFF000000 | x));
  ASSERT_EQ(self.DrawImage(self.GetNativeImage(), 2, 1, 8, 1), S::Ok);
  for (int32_t x = 2; x <= 8; ++x) EXPECT_EQ(px(self, x, 1) & 0xFF, uint32_t(x - 1)) << x;
}

TEST(Drawing, SkewedClippedAndFadedImages) {
  cKorvex src;
  ASSERT_EQ(src.CreateImage(10, 10, 24), S::Ok);
  ASSERT_EQ(src.DrawFillRectangle(1, 1, 10, 10, kRed, false), S::Ok);
  const int32_t id = src.GetNativeImage();
  cKorvex k;
  canvas(k, 40, 40);
  // A parallelogram leaning right by 10 pixels over its height.
  ASSERT_EQ(k.DrawImageSkewing(id, 11, 11, 21, 11, 21, 21), S::Ok);
  const Edges skew = edges(k), want{10, 10, 29, 19};
  for (int i = 0; i < 4; ++i) EXPECT_NEAR(skew[i], want[i], 1) << i;
  EXPECT_EQ(px(k, 20, 16), 0xFFFF0000u);
  canvas(k, 40, 40);
  Array<int32_t> tri = points({{1, 1}, {9, 1}, {1, 9}});
  ASSERT_EQ(k.DrawImageClipped(id, tri), S::Ok);
  // Inside the triangle, outside it, outside the image.
  expect_px(k, {{2, 2, 0xFFFF0000u}, {9, 9, 0xFFFFFFFFu}, {15, 2, 0xFFFFFFFFu}});
  // Transparency: the source's alpha (even an opaque 24-bit one's) lowered by
  // 128 over white; the source and the native image stay as they were.
  canvas(k, 40, 40);
  const int32_t native = k.GetNativeImage();
  ASSERT_EQ(k.DrawImageTransparency(id, 128, 1, 1, 10, 10), S::Ok);
  EXPECT_EQ(k.GetNativeImage(), native);
  const uint32_t c = px(k, 5, 5);
  EXPECT_EQ(channel(c, 16), 255);
  EXPECT_NEAR(channel(c, 8), 128, 2);
  EXPECT_EQ(px(src, 5, 5), 0xFFFF0000u);
  EXPECT_EQ(k.DrawImageTransparency(999999, 10, 1, 1, 10, 10), S::InvalidParameter);
  EXPECT_EQ(k.GetNativeImage(), native);
}

TEST(Drawing, IndexedAndDeepImagesKeepUntouchedPixelsExactly) {
  cKorvex k;
  ASSERT_EQ(k.CreateImage(20, 20, 8), S::Ok);
  ASSERT_EQ(k.PixelSetColor(20, 20, kRed), S::Ok);
  ASSERT_EQ(k.DrawFillRectangle(1, 1, 5, 5, kBlue, true), S::Ok);
  EXPECT_EQ(k.GetPixelFormat(), "8bppIndexed");
  expect_px(k, {{3, 3, 0xFF0000FFu}, {20, 20, 0xFFFF0000u}, {10, 10, 0xFFFFFFFFu}});
  // 32-bit ARGB: a semi-transparent pixel outside the drawing keeps its value.
  ASSERT_EQ(k.CreateImage(10, 10, 32), S::Ok);
  ASSERT_EQ(k.PixelSetColor(1, 10, 0x03102030), S::Ok);
  ASSERT_EQ(k.DrawLine(1, 1, 10, 1, 1, kRed, true), S::Ok);
  expect_px(k, {{5, 1, 0xFFFF0000u}, {1, 10, 0x03102030u}});
}

TEST(Drawing, TextIsPlacedMeasuredAndBoxed) {
  cKorvex k;
  canvas(k, 200, 60);
  k.FontSetUnit(2);  // pixels
  ASSERT_EQ(k.DrawText("Hello", 11, 11, 20, 0, kBlack, "Arial", true), S::Ok);
  Box b = ink(k);
  ASSERT_FALSE(b.empty());
  EXPECT_TRUE(b.x0 >= 10 && b.x0 <= 13) << b.x0;
  // The layout box's top is the point: ascent space above the caps.
  EXPECT_TRUE(b.y0 >= 10 && b.y1 <= 10 + 24) << b.y0 << " " << b.y1;
  EXPECT_NEAR(b.w(), 47, 5);  // "Hello" at 20 px in Liberation Sans

  // A back colour fills the layout box.
  canvas(k, 200, 60);
  ASSERT_EQ(k.DrawTextBackColor("Hello", 11, 11, 20, 0, kWhite, "Arial", kRed, false), S::Ok);
  b = ink(k);
  EXPECT_EQ(std::pair(b.x0, b.y0), std::pair(10, 10));
  EXPECT_NEAR(b.h(), 22.34, 1);  // Liberation Sans line height at 20 px: (0.905 + 0.212) em
  EXPECT_EQ(px(k, 11, 11), 0xFFFF0000u);

  // Points scale with the resolution: 15 pt at 96 dpi is 20 px.
  k.FontSetUnit(3);
  canvas(k, 200, 60);
  ASSERT_EQ(k.DrawTextBackColor("Hello", 11, 11, 15, 0, kWhite, "Arial", kRed, false), S::Ok);
  EXPECT_NEAR(ink(k).h(), 22.34, 1);

  // Rotated a quarter turn clockwise about the point: the text runs down.
  k.FontSetUnit(2);
  canvas(k, 60, 120);
  ASSERT_EQ(k.DrawRotatedText(90, "Hello", 40, 11, 20, 0, kBlack, "Arial", true), S::Ok);
  b = ink(k);
  EXPECT_TRUE(b.h() > b.w() && b.x1 <= 39 && b.y0 >= 10) << b.x0 << " " << b.y0 << " " << b.x1;

  // Gradient text: red at the left, blue at the right.
  canvas(k, 300, 80);
  ASSERT_EQ(k.DrawTextGradient("MMMMMMMM", 1, 1, kRed, kBlue, 60, 1, "Arial", false), S::Ok);
  b = ink(k);
  const uint32_t left = px(k, b.x0 + 3, (b.y0 + b.y1) / 2 + 1);
  EXPECT_TRUE(channel(left, 16) > 200 && channel(left, 0) < 60) << std::hex << left;
}

TEST(Drawing, TextBoxAlignsInBothDirections) {
  cKorvex k;
  k.FontSetUnit(2);
  const int32_t L = 20, T = 10, W = 160, H = 100;
  Box boxes[3];
  for (int32_t a = 0; a < 3; ++a) {
    canvas(k, 200, 120);
    ASSERT_EQ(k.DrawTextBox("Wide", L, T, W, H, 20, a, 0, kBlack, "Arial"), S::Ok);
    boxes[a] = ink(k);
    ASSERT_FALSE(boxes[a].empty());
  }
  EXPECT_TRUE(boxes[0].x0 <= L + 3 && boxes[0].y0 <= T + 8);       // near: top-left, 0-based
  EXPECT_NEAR((boxes[1].x0 + boxes[1].x1) / 2.0, L + W / 2.0, 3);  // centred
  EXPECT_NEAR((boxes[1].y0 + boxes[1].y1) / 2.0, T + H / 2.0, 6);
  const Box& far = boxes[2];  // far: bottom-right corner
  EXPECT_TRUE(far.x1 >= L + W - 4 && far.x1 <= L + W - 1) << far.x1;
  EXPECT_TRUE(far.y1 >= T + H - 10 && far.y1 <= T + H - 1) << far.y1;

  // Long text wraps into several lines inside the box and is cut off there.
  canvas(k, 200, 120);
  ASSERT_EQ(k.DrawTextBox("one two three four five six seven eight nine ten", 10, 10, 80, 40, 14, 0,
                          0, kBlack, "Arial", true),
            S::Ok);
  const Box b = ink(k);  // the outline
  EXPECT_EQ(std::make_tuple(b.x0, b.x1, b.y1), std::make_tuple(10, 90, 50));
  EXPECT_EQ(k.DrawTextBox("x", 1, 1, 10, 10, 12, 3), S::InvalidParameter);
}

TEST(Drawing, FontsResolveThroughFontconfig) {
  cKorvex k;
  EXPECT_EQ(k.FontGetUnit(), 3);
  canvas(k, 50, 20);
  EXPECT_EQ((std::pair{k.DrawText("x", 1, 1, 10, 0, kBlack, "No Such Family 4711"), k.GetStat()}),
            std::pair(S::FontFamilyNotFound, S::FontFamilyNotFound));
  EXPECT_TRUE(ink(k).empty());
  for (const char* name : {"Arial", "Times New Roman", "Courier New", "DejaVu Sans"})
    EXPECT_EQ(k.DrawText("x", 1, 1, 10, 0, kBlack, name), S::Ok) << name;
  k.FontSetUnit(1);  // a font has no size on the display unit
  EXPECT_EQ(k.DrawText("x", 1, 1, 10), S::InvalidParameter);
  k.FontSetUnit(3);
  EXPECT_EQ(k.DrawText("x", 1, 1, 0), S::InvalidParameter);

  // The family list is fontconfig's, without repeats.
  FcPattern* pat = FcPatternCreate();
  FcObjectSet* os = FcObjectSetBuild(FC_FAMILY, nullptr);
  FcFontSet* fs = FcFontList(nullptr, pat, os);
  std::set<std::string> families;
  for (int i = 0; i < fs->nfont; ++i) {
    FcChar8* name = nullptr;
    if (FcPatternGetString(fs->fonts[i], FC_FAMILY, 0, &name) == FcResultMatch)
      families.insert(reinterpret_cast<const char*>(name));
  }
  FcFontSetDestroy(fs);
  FcObjectSetDestroy(os);
  FcPatternDestroy(pat);
  ASSERT_EQ(k.FontGetCount(), static_cast<int32_t>(families.size()));
  for (int32_t i = 1; i <= k.FontGetCount(); ++i) EXPECT_EQ(families.count(k.FontGetName(i)), 1u);
  EXPECT_EQ(k.FontGetName(0) + k.FontGetName(k.FontGetCount() + 1), "");

  EXPECT_TRUE(k.FontIsStyleAvailable("Arial", 3) && k.FontIsStyleAvailable("Liberation Mono", 4));
  EXPECT_FALSE(k.FontIsStyleAvailable("No Such Family 4711", 0));
  EXPECT_EQ(k.GetStat(), S::FontFamilyNotFound);
}

}  // namespace
}  // namespace korvex
