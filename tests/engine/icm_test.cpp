// Colour-managed loading: an embedded ICC profile is applied on request, and
// profiles survive a JPEG save.
#include <gtest/gtest.h>
#include <lcms2.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "korvex/korvex.h"
#include "raster/handles.h"

namespace korvex {
namespace {

using S = cKorvexStatus;
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

class ColourManagement : public ::testing::TestWithParam<const char*> {};

TEST_P(ColourManagement, EmbeddedProfilesAreAppliedOnRequestAndKeptOnSave) {
  const fs::path dir = fs::temp_directory_path() / ("kx-icm-" + std::to_string(getpid()));
  fs::create_directories(dir);
  const std::string ext = GetParam();
  const std::string file = (dir / ("linear." + ext)).string();
  const std::vector<uint8_t> icc = linear_profile();
  {
    cKorvex k;
    ASSERT_EQ(k.CreateImage(16, 16, 24), S::Ok);
    raster::Image* img = raster::find_image(k.GetNativeImage());
    img->fill_rect({0, 0, 16, 16}, 0xFF808080);
    ASSERT_EQ(img->set_property({0x8773, raster::ptype::kUndefined, icc}), raster::Status::Ok);
    ASSERT_EQ(ext == "png" ? k.SaveAsPng(file) : k.SaveAsJpeg(file, 100), S::Ok);
  }
  // ImageMagick finds the same profile in the file.
  const std::string extracted = (dir / "out.icc").string();
  ASSERT_EQ(std::system(("/usr/bin/convert '" + file + "' '" + extracted + "'").c_str()), 0);
  std::ifstream in(extracted, std::ios::binary);
  const std::vector<uint8_t> back((std::istreambuf_iterator<char>(in)),
                                  std::istreambuf_iterator<char>());
  EXPECT_EQ(back, icc);

  cKorvex k;
  const int32_t plain = k.CreateImageFromFile(file);
  ASSERT_NE(plain, 0);
  uint32_t v = 0;
  raster::find_image(plain)->get_pixel(8, 8, v);
  EXPECT_NEAR(static_cast<int>(v & 0xFF), 128, 1);
  ASSERT_NE(raster::find_image(plain)->property(0x8773), nullptr);
  const int32_t managed = k.CreateImageFromFileICM(file);
  ASSERT_NE(managed, 0);
  EXPECT_EQ(k.GetStat(), S::Ok);
  raster::find_image(managed)->get_pixel(8, 8, v);
  // Linear 0.5 is sRGB 188.
  EXPECT_NEAR(static_cast<int>(v & 0xFF), 188, 2);
  EXPECT_NEAR(static_cast<int>((v >> 16) & 0xFF), 188, 2);
  EXPECT_EQ(raster::find_image(managed)->property(0x8773), nullptr);  // pixels are sRGB now
  EXPECT_EQ(k.CreateImageFromFileICM((dir / "none").string()), 0);
  EXPECT_EQ(k.GetStat(), S::FileNotFound);
  k.CloseImage(plain);
  k.CloseImage(managed);
  fs::remove_all(dir);
}

INSTANTIATE_TEST_SUITE_P(JpegAndPng, ColourManagement, ::testing::Values("jpg", "png"));

}  // namespace
}  // namespace korvex
