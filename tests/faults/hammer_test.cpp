// Engines in several threads each load, convert, draw, tag, save and reload
// every sample, and must get exactly what one thread alone gets (for the tsan
// preset; KORVEX_HAMMER_SECONDS=N runs each thread N seconds).
#include <gtest/gtest.h>
#include <lcms2.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "../codecs/codec_test_util.h"
#include "korvex/korvex.h"
#include "raster/handles.h"
#include "raster/image.h"

namespace korvex {
namespace {

using S = cKorvexStatus;
using testutil::ScratchDir;

const std::string kSamples = KORVEX_SOURCE_DIR "/samples/";
const char* const kInputs[] = {"photo.jpg", "logo.png", "anim.gif", "scan.tif", "gradient.bmp",
                               "icon.ico"};

// A digest of the native image's pixels, read back through the engine.
uint64_t digest(cKorvex& k) {
  uint64_t h = 1469598103934665603ull;
  const int32_t w = k.GetWidth(), ht = k.GetHeight();
  for (int32_t y = 1; y <= ht; y += 3)
    for (int32_t x = 1; x <= w; x += 3) h = (h ^ static_cast<uint32_t>(k.PixelGetColor(x, y))) * 1099511628211ull;
  return h ^ (static_cast<uint64_t>(w) << 32 | static_cast<uint32_t>(ht));
}

// A PNG carrying an ICC profile (lcms2's sRGB), for the colour-managed load.
std::string profiled_png(const std::string& dir) {
  cmsHPROFILE srgb = cmsCreate_sRGBProfile();
  cmsUInt32Number n = 0;
  cmsSaveProfileToMem(srgb, nullptr, &n);
  std::vector<uint8_t> icc(n);
  cmsSaveProfileToMem(srgb, icc.data(), &n);
  cmsCloseProfile(srgb);
  cKorvex k;
  EXPECT_EQ(k.LoadFromFile(kSamples + "photo.jpg"), S::Ok);
  EXPECT_EQ(raster::find_image(k.GetNativeImage())->set_property({0x8773, raster::ptype::kUndefined, icc}),
            raster::Status::Ok);
  EXPECT_EQ(k.SaveAsPng(dir + "/profiled.png"), S::Ok);
  return dir + "/profiled.png";
}

// The digests of one round over every input, or empty after a failure.
std::vector<uint64_t> one_round(const std::string& dir, const std::string& profiled) {
  std::vector<uint64_t> out;
  cKorvex k;
  const int32_t managed = k.CreateImageFromFileICM(profiled);
  EXPECT_NE(managed, 0);
  out.push_back(digest(k));
  k.CloseImage(managed);
  for (const char* name : kInputs) {
    SCOPED_TRACE(name);
    const std::string in = kSamples + name;
    if (k.LoadFromFile(in) != S::Ok) {
      ADD_FAILURE() << "load";
      return {};
    }
    EXPECT_EQ(k.ConvertTo24Bpp(), S::Ok);
    EXPECT_EQ(k.ResizeWidthRatio(96, 7), S::Ok);
    EXPECT_EQ(k.SetContrastEffect(20), S::Ok);
    EXPECT_EQ(k.DrawText("Korvex", 2, 2, 14, 1, static_cast<int32_t>(0xFF2040C0), "Arial"), S::Ok);
    EXPECT_EQ(k.TagsWriteTypeASCII(270, std::string("hammered ") + name), S::Ok);
    out.push_back(digest(k));
    const std::string base = dir + "/" + name;
    EXPECT_EQ(k.SaveAsJpeg(base + ".jpg", 85), S::Ok);
    EXPECT_EQ(k.SaveAsTiff(base + ".tif", 2), S::Ok);
    EXPECT_EQ(k.SaveAsGif(base + ".gif"), S::Ok);
    EXPECT_EQ(k.SaveAsPng(base + ".png"), S::Ok);
    EXPECT_TRUE(k.PdfNewPdf(base + ".pdf", name));
    k.PdfNewPage();
    k.PdfDrawText(20, 20, name, k.PdfAddFont("Arial", true), 14);
    k.PdfDrawImage(k.PdfAddImageFromImageID(k.GetNativeImage()), 20, 60, 200, 150);
    k.PdfEndPage();
    k.PdfSavePdf();
    EXPECT_EQ(k.GetStat(), S::Ok);
    for (const char* ext : {".jpg", ".tif", ".gif", ".png"}) {
      if (k.LoadFromFile(base + ext) != S::Ok) {
        ADD_FAILURE() << ext;
        return {};
      }
      out.push_back(digest(k));
    }
    // The description tag went through the JPEG and TIFF files.
    EXPECT_EQ(k.LoadFromFile(base + ".tif"), S::Ok);
    bool tagged = false;
    for (int32_t i = 1; i <= k.TagsCount(); ++i)
      tagged |= k.TagsGetID(i) == 270 && k.TagsGetValue(i) == std::string("hammered ") + name;
    EXPECT_TRUE(tagged);
  }
  return out;
}

TEST(Hammer, EnginesInThreadsMakeWhatOneThreadMakes) {
  ScratchDir alone;
  const std::string profiled = profiled_png(alone.path());
  const std::vector<uint64_t> want = one_round(alone.path(), profiled);
  ASSERT_FALSE(want.empty());

  const char* env = std::getenv("KORVEX_HAMMER_SECONDS");
  const int seconds = env != nullptr ? std::atoi(env) : 0;
  const unsigned threads = std::max(4u, std::thread::hardware_concurrency());
  const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
  std::atomic<int> mismatches{0}, rounds{0};
  std::vector<std::thread> pool;
  for (unsigned t = 0; t < threads; ++t) {
    pool.emplace_back([&] {
      ScratchDir dir;
      // A bounded number of rounds, or rounds until the time asked for is up.
      for (int n = 0; n < 2 || std::chrono::steady_clock::now() < until; ++n) {
        if (one_round(dir.path(), profiled) != want) ++mismatches;
        ++rounds;
      }
    });
  }
  for (std::thread& t : pool) t.join();
  EXPECT_EQ(mismatches.load(), 0) << "of " << rounds.load() << " rounds";
}

}  // namespace
}  // namespace korvex
