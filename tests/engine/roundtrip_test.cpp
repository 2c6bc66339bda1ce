// The engine with the real codecs, its files as peer tools see them, embedded ICC profiles.
#include <lcms2.h>
#include <filesystem>
#include <string>

#include "engine_test_util.h"
#include "raster/cp1252.h"

namespace korvex {
namespace {

namespace fs = std::filesystem;

// An RGB profile with sRGB primaries and a linear (gamma 1.0) response.
std::vector<uint8_t> linear_profile() {
  cmsCIExyY white;
  cmsWhitePointFromTemp(&white, 6504);
  const cmsCIExyYTRIPLE primaries = {
      {0.6400, 0.3300, 1.0}, {0.3000, 0.6000, 1.0}, {0.1500, 0.0600, 1.0}};
  cmsToneCurve* linear = cmsBuildGamma(nullptr, 1.0);
  cmsToneCurve* curves[3] = {linear, linear, linear};
  cmsHPROFILE p = cmsCreateRGBProfile(&white, &primaries, curves);
  cmsUInt32Number size = 0;
  cmsSaveProfileToMem(p, nullptr, &size);
  std::vector<uint8_t> bytes(size);
  cmsSaveProfileToMem(p, bytes.data(), &size);
  cmsCloseProfile(p);
  cmsFreeToneCurve(linear);
  return bytes;
}

using RealCodecs = ScratchTest;

TEST_F(RealCodecs, MultiPageTiffHoldsEveryPageImageMagickCounts) {
  cKorvex k;
  ASSERT_EQ(k.CreateImage(40, 30, 1), S::Ok);
  const int32_t second = k.CreateNewImage(20, 10, 24, static_cast<int32_t>(0xFFFF0000));
  const int32_t third = k.CreateNewImage(10, 10, 8);
  ASSERT_EQ(k.CreateImage(40, 30, 1), S::Ok);
  for (S s : {k.TiffSaveAsNativeMultiPage(path("pages.tif"), 4), k.TiffAddToNativeMultipage(second),
              k.TiffAddToNativeMultipage(third), k.TiffCloseNativeMultiPage()})
    ASSERT_EQ(s, S::Ok);
  EXPECT_EQ(output_of("/usr/bin/identify -format '%w %C\\n' " + path("pages.tif")),
            "40 Group4\n20 LZW\n10 LZW\n");
  ASSERT_EQ(k.LoadFromFile(path("pages.tif")), S::Ok);
  EXPECT_EQ(k.TiffGetPageCount(), 3);
  ASSERT_EQ(k.TiffSelectPage(2), S::Ok);
  EXPECT_EQ(k.GetWidth(), 20);
  k.CloseImage(second);
  k.CloseImage(third);
}

TEST_F(RealCodecs, ImageStringsRoundTripTheEncodedBytes) {
  cKorvex k;
  ASSERT_EQ(k.CreateImage(9, 7, 24), S::Ok);
  img(k.GetNativeImage())->set_pixel(3, 3, 0xFF80909F);
  for (const char* format : {"png", "bmp", "gif", "jpg", "tif"}) {
    SCOPED_TRACE(format);
    const std::string text = k.SaveAsString(format);
    Array<uint8_t> bytes;
    int32_t n = 0;
    ASSERT_EQ(k.SaveAsByteArray(bytes, n, format), S::Ok);
    EXPECT_EQ(raster::utf8_to_cp1252(text), bytes.values());
    const int32_t id = k.CreateImageFromString(text);
    ASSERT_NE(id, 0);
    EXPECT_EQ(k.GetWidth(), 9);
    k.SetNativeImage(0);
    k.LoadFromImage(id);
    k.SetNativeImage(id);
  }
  Array<uint8_t> bmp;
  int32_t n = 0;
  ASSERT_EQ(k.SaveAsByteArray(bmp, n, "xyz"), S::Ok);
  EXPECT_EQ(std::pair(bmp(0), bmp(1)), std::pair(uint8_t{'B'}, uint8_t{'M'}));  // unknown: BMP
}

TEST_F(RealCodecs, IconsAreThirtyTwoSquareWithTheirMask) {
  cKorvex k;
  ASSERT_EQ(k.CreateImage(64, 64, 24), S::Ok);
  img(k.GetNativeImage())->fill_rect({0, 0, 64, 32}, 0xFF00FF00);
  ASSERT_EQ(k.SaveAsIco(path("a.ico"), true, 0x00FFFFFF), S::Ok);  // white (COLORREF) transparent
  EXPECT_EQ(output_of("/usr/bin/identify -format '%w %h' " + path("a.ico")), "32 32");
  // Top half green and opaque, bottom half white made transparent.
  EXPECT_EQ(output_of("/usr/bin/convert " + path("a.ico") +
                      " -format '%[pixel:p{5,5}] %[fx:p{5,25}.a]' info:"),
            "srgba(0,255,0,1) 0");
  // 32 wide, 100 high: used as it is, only its top 32 rows reach the icon.
  ASSERT_EQ(k.CreateImage(32, 100, 24), S::Ok);
  img(k.GetNativeImage())->fill_rect({0, 40, 32, 60}, 0xFF0000FF);
  ASSERT_EQ(k.SaveAsIco(path("b.ico")), S::Ok);
  EXPECT_EQ(output_of("/usr/bin/convert " + path("b.ico") + " -format '%[pixel:p{5,31}]' info:"),
            "srgba(255,255,255,1)");
  // A file that cannot be written gives no icon.
  EXPECT_EQ(k.SaveAsIco(path("missing/c.ico")), S::GenericError);
  auto picture = std::make_shared<host::Picture>(host::Picture::kBitmap,
                                                 host::CreateBitmap(host::Bitmap::Blank(8, 8, 24)));
  EXPECT_EQ((std::pair{k.GetIcon(picture, path("missing/d.ico")), k.GetStat()}),
            std::pair(0, S::FileNotFound));
  const int32_t icon = k.GetIcon(picture);
  ASSERT_NE(icon, 0);
  ASSERT_NE(host::GetIcon(icon), nullptr);
  EXPECT_EQ(host::GetIcon(icon)->color.width, 32);
  host::DestroyIcon(icon);
  EXPECT_EQ(k.GetIcon(nullptr), 0);
}

TEST_F(RealCodecs, AnimationsPlayOntoADeviceContextWhileTheHostLoopRuns) {
  const std::string gif = path("rgb.gif");
  ASSERT_EQ(testutil::run("/usr/bin/convert -delay 2 -size 4x4 xc:red xc:lime xc:blue " + gif), 0);
  host::Bitmap canvas = host::Bitmap::Blank(8, 8, 32);
  const int32_t hbm = host::CreateBitmap(canvas);
  const int32_t dc = host::CreateMemoryDC();
  host::SelectBitmap(dc, hbm);
  struct Host {
    int pumps = 0;
    cKorvex* engine = nullptr;
    bool close_it = false;
  } h;
  host::SetEventPump(
      [](void* c) {
        auto* hh = static_cast<Host*>(c);
        ++hh->pumps;
        if (hh->close_it) hh->engine->CloseNativeImage();  // host code closes the image meanwhile
      },
      &h);
  cKorvex k;
  h.engine = &k;
  ASSERT_EQ(k.LoadFromFile(gif), S::Ok);
  EXPECT_EQ(k.GifDisplayAnimatedGif(dc, 1, 1, 8, 8), 0);
  EXPECT_GE(h.pumps, 3);  // the host loop ran while each frame waited
  const uint8_t* p = host::GetBitmap(hbm)->bits.data();
  EXPECT_EQ(std::pair(p[0], p[2]), std::pair(uint8_t{0xFF}, uint8_t{0}));  // the last frame, blue
  EXPECT_EQ(k.PixelGetColor(1, 1), static_cast<int32_t>(0xFF0000FF));      // left on the last frame
  h.close_it = true;
  EXPECT_EQ(k.GifDisplayAnimatedGif(dc, 1, 1, 8, 8), static_cast<int32_t>(S::InvalidParameter));
  EXPECT_EQ(k.GetNativeImage(), 0);
  host::SetEventPump(nullptr, nullptr);
  host::ReleaseDC(dc);
  host::DeleteObject(hbm);
}

TEST_F(RealCodecs, EverySampleLoadsWithItsFormatAndFrames) {
  const fs::path samples = fs::path(KORVEX_SOURCE_DIR) / "samples";
  cKorvex k;
  struct {
    const char* file;
    const char* format;
    int32_t width, frames;
  } expected[] = {{"photo.jpg", "JPEG", 320, 0}, {"logo.png", "PNG", 200, 0},
                  {"scan.tif", "TIFF", 850, 2},  {"anim.gif", "GIF", 64, 3},
                  {"icon.ico", "ICON", 48, 0},   {"gradient.bmp", "BMP", 100, 0}};
  for (const auto& e : expected) {
    SCOPED_TRACE(e.file);
    ASSERT_EQ(k.LoadFromFile((samples / e.file).string()), S::Ok);
    EXPECT_EQ(k.GetImageFormat(), e.format);
    EXPECT_EQ(k.GetWidth(), e.width);
    EXPECT_EQ(k.TiffGetPageCount() + k.GifGetFrameCount(), e.frames);
  }
}

TEST_F(RealCodecs, EmbeddedProfilesAreAppliedOnRequestAndKeptOnSave) {
  const std::vector<uint8_t> icc = linear_profile();
  for (const std::string ext : {"jpg", "png"}) {
    SCOPED_TRACE(ext);
    const std::string file = path("linear." + ext);
    {
      cKorvex k;
      ASSERT_EQ(k.CreateImage(16, 16, 24), S::Ok);
      raster::Image* image = img(k.GetNativeImage());
      image->fill_rect({0, 0, 16, 16}, 0xFF808080);
      ASSERT_EQ(image->set_property({0x8773, raster::ptype::kUndefined, icc}), raster::Status::Ok);
      ASSERT_EQ(ext == "png" ? k.SaveAsPng(file) : k.SaveAsJpeg(file, 100), S::Ok);
    }
    // ImageMagick finds the same profile in the file.
    ASSERT_EQ(testutil::run("/usr/bin/convert '" + file + "' '" + path("out.icc") + "'"), 0);
    EXPECT_EQ(testutil::read_file(path("out.icc")), icc);
    cKorvex k;
    const int32_t plain = k.CreateImageFromFile(file);
    ASSERT_NE(plain, 0);
    EXPECT_NEAR(static_cast<int>(pixel(plain, 8, 8) & 0xFF), 128, 1);
    ASSERT_NE(img(plain)->property(0x8773), nullptr);
    const int32_t managed = k.CreateImageFromFileICM(file);
    ASSERT_NE(managed, 0);
    EXPECT_EQ(k.GetStat(), S::Ok);
    const uint32_t v = pixel(managed, 8, 8);  // linear 0.5 is sRGB 188
    EXPECT_NEAR(static_cast<int>(v & 0xFF), 188, 2);
    EXPECT_NEAR(static_cast<int>((v >> 16) & 0xFF), 188, 2);
    EXPECT_EQ(img(managed)->property(0x8773), nullptr);  // pixels are sRGB now
    EXPECT_EQ((std::pair{k.CreateImageFromFileICM(path("none")), k.GetStat()}),
              std::pair(0, S::FileNotFound));
    k.CloseImage(plain);
    k.CloseImage(managed);
  }
}

}  // namespace
}  // namespace korvex
