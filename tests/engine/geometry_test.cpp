// Rotations, crops, borders, thumbnails and area clones of the native image.
#include "engine/state.h"
#include "engine_test_util.h"
#include "raster/version.h"

namespace korvex {
namespace {

using Size = std::pair<int32_t, int32_t>;
Size size(cKorvex& k) {
  return {k.GetWidth(), k.GetHeight()};
}

// Every turn and flip moves every pixel where it belongs: raster's ImageGeometry.
TEST(Geometry, RotateTurnsInPlaceAndRefusesUnknownTypes) {
  cKorvex k;
  EXPECT_EQ(k.Rotate(1), S::InvalidParameter);
  ASSERT_EQ(k.CreateImage(3, 2, 24), S::Ok);
  k.PixelSetColor(1, 1, static_cast<int32_t>(0xFFFF0000));  // top-left red
  k.SetHorizontalResolution(200);
  const int32_t id = k.GetNativeImage();
  for (int32_t type : {8, -1}) EXPECT_EQ(k.Rotate(type), S::InvalidParameter);
  ASSERT_EQ(k.Rotate(1), S::Ok);  // 90 degrees clockwise: top-left goes top-right
  EXPECT_EQ(k.GetNativeImage(), id);
  EXPECT_EQ(size(k), Size(2, 3));
  EXPECT_EQ(px(k, 2, 1), 0xFFFF0000u);
  EXPECT_EQ(k.GetVerticalResolution(), 200);  // the resolutions turn with the picture
}

TEST(Geometry, CropsKeepTheirRectangleResolutionTagsAndOwnership) {
  cKorvex k;
  ASSERT_EQ(k.CreateImage(100, 40, 8), S::Ok);
  k.PixelSetColor(11, 1, static_cast<int32_t>(0xFFFF0000));
  k.SetVerticalResolution(150);
  img(k.GetNativeImage())->set_property({305, raster::ptype::kAscii, {'k'}});
  const int32_t before = k.GetNativeImage();
  ASSERT_EQ(k.CropLeft(10), S::Ok);
  // Pixel (1, 1) was column 11.
  EXPECT_EQ((std::tuple{k.GetWidth(), px(k, 1, 1), k.GetPixelFormat(), k.GetVerticalResolution()}),
            std::tuple(90, 0xFFFF0000u, std::string("8bppIndexed"), 150));
  EXPECT_NE(img(k.GetNativeImage())->property(305), nullptr);
  EXPECT_EQ(img(before), nullptr);
  EXPECT_TRUE(EngineAccess::state(k).NativeOwned);
  for (S s : {k.CropTop(5), k.CropBottom(5), k.CropRight(40)}) ASSERT_EQ(s, S::Ok);
  EXPECT_EQ(size(k), Size(50, 30));
  // Rectangles outside, empty or negative change nothing.
  const int32_t kept = k.GetNativeImage();
  for (S s : {k.Crop(45, 1, 10, 10), k.Crop(1, 1, 0, 10), k.CropLeft(50), k.CropTop(-3)})
    EXPECT_EQ(s, S::InvalidParameter);
  EXPECT_EQ(k.GetNativeImage(), kept);
  EXPECT_EQ(size(k), Size(50, 30));
}

TEST(Geometry, BordersFrameThePictureInItsOwnFormat) {
  constexpr uint32_t W = 0xFFFFFFFFu, B = 0xFF000000u;
  cKorvex k;
  ASSERT_EQ(k.CreateImage(4, 3, 24), S::Ok);  // white
  ASSERT_EQ(k.AddBorders(5), S::Ok);          // default colour: the new bitmap's black
  EXPECT_EQ(size(k), Size(14, 13));
  expect_px(k, {{1, 1, B}, {14, 13, B}, {6, 6, W}, {9, 8, W}, {10, 8, B}});
  ASSERT_EQ(k.AddBorders(1, -1), S::Ok);  // white frame
  expect_px(k, {{1, 1, W}, {2, 2, B}});
  // On a 32-bit image the default border stays transparent; a colour fills one side only.
  ASSERT_EQ(k.CreateImage(2, 2, 32), S::Ok);
  ASSERT_EQ(k.AddBorderTop(2), S::Ok);
  EXPECT_EQ(px(k, 1, 1), 0x00000000u);
  ASSERT_EQ(k.AddBorderRight(1, static_cast<int32_t>(0xFF00FF00)), S::Ok);
  EXPECT_EQ(k.GetWidth(), 3);
  expect_px(k, {{3, 1, 0xFF00FF00u}, {1, 4, W}});
  // 1-bit pictures shifted by a border that is not a whole byte.
  ASSERT_EQ(k.CreateImage(5, 1, 1), S::Ok);  // white
  k.PixelSetColor(1, 1, static_cast<int32_t>(B));
  ASSERT_EQ(k.AddBorderLeft(3, -1), S::Ok);
  ASSERT_EQ(k.AddBorderBottom(1), S::Ok);
  EXPECT_EQ(k.GetWidth(), 8);
  // The old first pixel at 4; the default bottom border is index 0, black.
  expect_px(k, {{3, 1, W}, {4, 1, B}, {5, 1, W}, {5, 2, B}});
  const int32_t kept = k.GetNativeImage();
  EXPECT_EQ(k.AddBorders(0), S::InvalidParameter);
  EXPECT_EQ(k.AddBorderTop(-2), S::InvalidParameter);
  EXPECT_EQ(k.GetNativeImage(), kept);
}

TEST(Geometry, ThumbnailsAndAreaClonesAreNewImagesForTheCaller) {
  cKorvex k;
  EXPECT_EQ(k.MakeThumbnail(10, 10), 0);
  ASSERT_EQ(k.CreateImage(40, 20, 24), S::Ok);
  const int32_t native = k.GetNativeImage();
  k.PixelSetColor(31, 11, static_cast<int32_t>(0xFF0000FF));
  const int32_t thumb = k.MakeThumbnail(20, 10);
  ASSERT_NE(thumb, 0);
  EXPECT_EQ(k.GetNativeImage(), native);
  EXPECT_EQ(img(thumb)->width(), 20);
  EXPECT_EQ(k.CreateThumbnail(native, 0, 5), 0);
  EXPECT_EQ(k.GetStat(), S::InvalidParameter);
  const int32_t area = k.CreateClonedImageArea(native, 31, 11, 5, 5);
  ASSERT_NE(area, 0);
  EXPECT_EQ(pixel(area, 0, 0), 0xFF0000FFu);
  EXPECT_EQ(img(area)->format(), raster::pf::k24bppRGB);
  EXPECT_EQ(k.CreateClonedImageArea(native, 38, 1, 5, 5), 0);  // past the right edge
  EXPECT_EQ(k.CreateClonedImageArea(0, 1, 1, 5, 5), 0);
  k.CloseImage(thumb);
  k.CloseImage(area);
}

TEST(Geometry, RotationsByAngleSizeTheCanvasAsTheAngleConstantDoes) {
  cKorvex k;
  EXPECT_EQ(k.RotateAngle(30), S::Ok);  // no image: the status as it was
  const struct {
    int32_t angle, w, h;
  } sizes[] = {{0, 100, 50}, {30, 112, 94}, {45, 107, 107}, {90, 51, 101}, {180, 101, 51}};
  for (const auto& s : sizes) {
    ASSERT_EQ(k.CreateImage(100, 50, 24), S::Ok);
    ASSERT_EQ(k.RotateAngle(s.angle), S::Ok);
    EXPECT_EQ(size(k), Size(s.w, s.h)) << s.angle;
  }
  // The enlarged canvas: corners uncovered (a new 24-bit bitmap's black), the
  // centre the picture's white; the BackColor form fills the corners.
  for (uint32_t back : {0xFF000000u, 0xFF00FF00u}) {
    ASSERT_EQ(k.CreateImage(100, 50, 24), S::Ok);
    ASSERT_EQ(back == 0xFF000000u ? k.RotateAngle(45)
                                  : k.RotateAngleBackColor(45, static_cast<int32_t>(back)),
              S::Ok);
    expect_px(k, {{1, 1, back}, {54, 54, 0xFFFFFFFFu}});
  }
  // Half a turn about the centre keeps the size and turns the picture upside down.
  ASSERT_EQ(k.CreateImage(6, 4, 32), S::Ok);
  k.PixelSetColor(1, 1, static_cast<int32_t>(0xFFFF0000));
  k.PixelSetColor(2, 1, static_cast<int32_t>(0xFF0000FF));
  ASSERT_EQ(k.RotateAnglePreserveDimentionsCenter(180), S::Ok);
  EXPECT_EQ(k.GetWidth(), 6);
  expect_px(k, {{6, 4, 0xFFFF0000u}, {5, 4, 0xFF0000FFu}, {1, 1, 0xFFFFFFFFu}});
  // About the top-left corner, a quarter turn leaves only a column strip of the
  // picture on the canvas: the rest is uncovered.
  ASSERT_EQ(k.CreateImage(6, 4, 32), S::Ok);
  ASSERT_EQ(k.RotateAnglePreserveDimentionsBackColor(90, static_cast<int32_t>(0xFF0000FF)), S::Ok);
  EXPECT_EQ(px(k, 6, 4), 0xFF0000FFu);
}

TEST(Geometry, ResizeKeepsFormatResolutionAndChecksItsArguments) {
  cKorvex k;
  ASSERT_EQ(k.CreateImage(200, 100, 8), S::Ok);
  k.SetHorizontalResolution(300);
  ASSERT_EQ(k.ResizeHeightRatio(50), S::Ok);
  EXPECT_EQ(size(k), Size(100, 50));
  EXPECT_EQ(k.GetPixelFormat(), "8bppIndexed");
  EXPECT_EQ(k.GetHorizontalResolution(), 300);  // kept, not scaled
  EXPECT_EQ(px(k, 50, 25), 0xFFFFFFFFu);
  ASSERT_EQ(k.ResizeWidthRatio(30, 7), S::Ok);
  EXPECT_EQ(k.GetHeight(), 15);
  for (int32_t mode = 0; mode <= 7; ++mode) {
    SCOPED_TRACE(mode);
    ASSERT_EQ(k.CreateImage(10, 10, 24), S::Ok);
    k.PixelSetColor(1, 1, static_cast<int32_t>(0xFF000000));
    ASSERT_EQ(k.Resize(20, 20, mode), S::Ok);
    expect_px(k, {{20, 20, 0xFFFFFFFFu}, {1, 1, 0xFF000000u}});  // the corner pixel stays black
  }
  const int32_t kept = k.GetNativeImage();
  EXPECT_EQ(k.Resize(0, 10), S::InvalidParameter);
  EXPECT_EQ(k.Resize(10, 10, 8), S::InvalidParameter);
  EXPECT_EQ(k.GetNativeImage(), kept);
}

TEST(Geometry, OlderRasterVersionsRefuseToDrawOnIndexedCanvases) {
  cKorvex k;
  ASSERT_EQ(k.CreateImage(20, 10, 8), S::Ok);
  const int32_t id = k.GetNativeImage();
  raster::set_version_text_for_testing("5.1.3102.0");
  for (S s : {k.RotateAngle(30), k.AddBorders(2), k.DrawLine(1, 1, 5, 5)})
    EXPECT_EQ(s, S::PixelFormatMustBeConverted);
  EXPECT_EQ(k.GetNativeImage(), id);  // left as it was
  EXPECT_EQ(k.GetWidth(), 20);
  raster::set_version_text_for_testing("");
  EXPECT_EQ(k.RotateAngle(30), S::Ok);
}

}  // namespace
}  // namespace korvex
