// The engine's Twain members against SANE's test backend.
#include <gtest/gtest.h>

#include <string>
#include <tuple>

#include "korvex/engine.h"
#include "korvex/global_memory.h"
#include "private_sane.h"

namespace korvex {
namespace {

using testutil::pixels;
using testutil::PrivateSane;

constexpr int32_t kFeederEnabled = 4098;
constexpr int32_t kXResolution = 4376;

TEST(TwainEngine, NoSourceOpen) {
  PrivateSane sane;
  cKorvex k;
  EXPECT_EQ(k.TwainGetState(), 1);
  EXPECT_EQ((std::tuple{k.TwainGetCurrentResolution(), k.TwainGetCurrentPixelType(),
                        k.TwainGetCurrentBitDepth(), k.TwainGetPhysicalWidth()}),
            std::tuple(-1.0, -1, -1, -1.0));
  const size_t blocks = host::GlobalBlockCount();
  EXPECT_EQ(k.TwainAcquire(), cKorvexStatus::BadTwainState);
  EXPECT_EQ(k.GetNativeImage(), 0);
  EXPECT_EQ(host::GlobalBlockCount(), blocks);
  EXPECT_EQ(k.CreateImageFromTwain(), 0);
  EXPECT_EQ(k.GetStat(), cKorvexStatus::BadTwainState);
}

TEST(TwainEngine, SourcesListedOpenedAndClosed) {
  PrivateSane sane;
  cKorvex k;
  const std::string name = "Noname frontend-tester (test:0)";
  EXPECT_EQ(k.TwainGetSourceCount(), 1);
  EXPECT_EQ(k.TwainGetSourceName(1), name);
  EXPECT_EQ(k.TwainGetSourceName(0) + k.TwainGetSourceName(2), "");
  EXPECT_EQ(k.TwainGetDefaultSourceName(), name);
  EXPECT_FALSE(k.TwainOpenSource("test:9"));
  ASSERT_TRUE(k.TwainOpenSource("  " + name + " "));
  EXPECT_EQ(k.TwainGetState(), 4);
  EXPECT_EQ(k.TwainGetCurrentSourceName(), name);
  EXPECT_FALSE(k.TwainShowSetupDialogSource());
  EXPECT_EQ(k.GetStat(), cKorvexStatus::BadTwainState);
  EXPECT_TRUE(k.TwainCloseSource());
  EXPECT_EQ(k.TwainGetState(), 3);
  EXPECT_TRUE(k.TwainOpenSource("test:0"));
  EXPECT_TRUE(k.TwainUnloadSourceManager());
  EXPECT_EQ(k.TwainGetState(), 1);
}

TEST(TwainEngine, SettingsReadBack) {
  PrivateSane sane;
  cKorvex k;
  ASSERT_TRUE(k.TwainOpenDefaultSource());
  EXPECT_DOUBLE_EQ(k.TwainGetPhysicalWidth(), 200 / 25.4);
  EXPECT_EQ(k.TwainGetCapItemType(kXResolution), 7);
  // The backend's step is 1 dpi: the value is taken as adjusted (whole values
  // set by TwainSetCurrentResolution show in AcquiredPages).
  EXPECT_TRUE(k.TwainSetCapCurrentNumeric(kXResolution, 7, 150.75));
  EXPECT_EQ(k.TwainGetLastResultCode(), 2);
  EXPECT_DOUBLE_EQ(k.TwainGetCurrentResolution(), 151);
  double v = 0;
  EXPECT_TRUE(k.TwainGetCapCurrentNumeric(kXResolution, v));
  EXPECT_DOUBLE_EQ(v, 151);
  // Pixel types (their depths show in AcquiredPages): black and white, gray and colour.
  EXPECT_TRUE(k.TwainIsPixelTypeAvailable(0) && k.TwainIsPixelTypeAvailable(2));
  EXPECT_TRUE(k.TwainSetCurrentPixelType(0));
  EXPECT_EQ(k.TwainGetCurrentBitDepth(), 1);  // gray at one bit on this backend
  EXPECT_FALSE(k.TwainIsPixelTypeAvailable(3));
  Array<int32_t> depths;
  EXPECT_EQ(k.TwainGetAvailableCapValuesNumeric(4395, depths), 2);  // 16-bit samples reduced
  EXPECT_EQ(depths.values(), (std::vector<int32_t>{1, 8}));
  EXPECT_EQ(k.TwainGetAvailableCapValuesCount(kXResolution), 1200);
  EXPECT_EQ(k.TwainGetAvailableCapValueNoNumeric(kXResolution, 1), 1);
  // No brightness on this backend: unsupported, not a made-up value.
  EXPECT_EQ(k.TwainGetCurrentBrightness(), -1);
  EXPECT_FALSE(k.TwainSetCurrentBrightness(10));
  EXPECT_EQ(k.TwainGetLastConditionCode(), 13);
  EXPECT_TRUE(k.TwainSetPaperSize(7));  // ISO B6, 125 x 176 mm
  EXPECT_EQ(k.TwainGetPaperSize(), 7);
  EXPECT_TRUE(k.TwainResetImageLayout());
  EXPECT_EQ(k.TwainGetPaperSize(), 0);
}

TEST(TwainEngine, AcquiredPages) {
  PrivateSane sane;
  cKorvex k;
  ASSERT_TRUE(k.TwainOpenDefaultSource());
  const size_t blocks = host::GlobalBlockCount();
  // Layout in inches: 0.5 .. 2.5 across, 0.25 .. 3.25 down, which the
  // backend's 1 mm step makes 13 .. 64 and 6 .. 83 mm.
  const struct {
    int32_t type;
    double dpi;
    int32_t bits;
    const char* format;
  } kPages[] = {{0, 300, 1, "1bppIndexed"}, {1, 100, 8, "8bppIndexed"}, {2, 150, 24, "24bppRGB"}};
  for (const auto& p : kPages) {
    ASSERT_TRUE(k.TwainSetCurrentPixelType(p.type));
    ASSERT_TRUE(k.TwainSetCurrentResolution(p.dpi));
    ASSERT_TRUE(k.TwainSetImageLayout(0.5, 0.25, 2.5, 3.25));
    ASSERT_EQ(k.TwainAcquire(), cKorvexStatus::Ok) << p.format;
    EXPECT_EQ(k.TwainGetState(), 4);
    EXPECT_EQ(k.GetWidth(), pixels(64 - 13, p.dpi)) << p.format;
    EXPECT_EQ(k.GetHeight(), pixels(83 - 6, p.dpi)) << p.format;
    EXPECT_EQ((std::tuple{k.GetPixelFormat(), k.GetIntPixelFormat(), k.GetHorizontalResolution()}),
              std::tuple(std::string(p.format), p.bits, p.dpi));
    // A solid black page stays black whatever the depth (SANE's 1-bit 1
    // is black, the DIB's 0 is).
    EXPECT_EQ(static_cast<uint32_t>(k.PixelGetColor(1, 1)), 0xFF000000u) << p.format;
  }
  const int32_t id = k.CreateImageFromTwain();
  ASSERT_NE(id, 0);
  EXPECT_EQ(host::GlobalBlockCount(), blocks + 2);  // the native image's and id's blocks
  EXPECT_EQ(k.CloseImage(id), cKorvexStatus::Ok);
  k.CloseNativeImage();
  EXPECT_EQ(host::GlobalBlockCount(), blocks);
}

TEST(TwainEngine, FeederPagesUntilNoMoreDocuments) {
  PrivateSane sane("resolution 25\n");
  cKorvex k;
  ASSERT_TRUE(k.TwainOpenDefaultSource());
  EXPECT_FALSE(k.TwainIsFeederSelected());
  EXPECT_TRUE(k.TwainHasFeeder());
  EXPECT_FALSE(k.TwainIsFeederSelected());  // probing put the flatbed back
  ASSERT_TRUE(k.TwainSelectFeeder(true));
  EXPECT_TRUE(k.TwainIsFeederSelected());
  EXPECT_TRUE(k.TwainIsFeederLoaded());
  EXPECT_FALSE(k.TwainIsAutoFeedOn());  // opening a source switched it off
  const size_t blocks = host::GlobalBlockCount();
  for (int page = 1; page <= 10; ++page) {
    ASSERT_EQ(k.TwainAcquire(), cKorvexStatus::Ok) << page;
    EXPECT_EQ(k.TwainGetState(), 6);  // the batch stays open between pages
    EXPECT_EQ(host::GlobalBlockCount(), blocks + 1);
  }
  EXPECT_EQ(k.TwainAcquire(), cKorvexStatus::TwainError);
  EXPECT_EQ(k.TwainGetLastConditionCode(), 28);  // no more documents
  EXPECT_EQ(k.GetNativeImage(), 0);
  EXPECT_EQ(host::GlobalBlockCount(), blocks);
  EXPECT_FALSE(k.TwainIsFeederLoaded());
  EXPECT_EQ(k.TwainGetState(), 4);
}

TEST(TwainEngine, ForcedReadErrorsGiveTwainError) {
  const struct {
    const char* sane;
    int32_t condition;
  } kErrors[] = {{"SANE_STATUS_JAMMED", 20},
                 {"SANE_STATUS_IO_ERROR", 5},
                 {"SANE_STATUS_NO_MEM", 2},
                 {"SANE_STATUS_COVER_OPEN", 23}};
  for (const auto& e : kErrors) {
    PrivateSane sane(std::string("read-status-code \"") + e.sane + "\"\n");
    cKorvex k;
    ASSERT_TRUE(k.TwainOpenDefaultSource());
    const size_t blocks = host::GlobalBlockCount();
    EXPECT_EQ(k.TwainAcquire(), cKorvexStatus::TwainError) << e.sane;
    EXPECT_EQ(k.TwainGetLastResultCode(), 1);
    EXPECT_EQ(k.TwainGetLastConditionCode(), e.condition) << e.sane;
    EXPECT_EQ(k.TwainGetState(), 4);  // the source stays open
    EXPECT_EQ(host::GlobalBlockCount(), blocks);
  }
}

// The named members pass their capability to the generic ones (one line
// each); what they give on this backend, and the options it lacks.
TEST(TwainEngine, NamedCapabilitiesAndMissingOptions) {
  PrivateSane sane;
  cKorvex k;
  ASSERT_TRUE(k.TwainOpenDefaultSource());
  EXPECT_EQ(k.TwainGetAvailablePixelTypesCount(), 3);
  EXPECT_EQ(k.TwainGetAvailableBrightnessCount(), 0);  // not offered by this backend
  EXPECT_EQ(k.TwainGetAvailableXResolutionNo(1), 1);   // number 1 is index 0
  // Neither a preview interface nor the software processing options here;
  // chunky samples, the darkest one 0, and only that is accepted.
  EXPECT_FALSE(k.TwainHasCameraPreviewUI());
  EXPECT_FALSE(k.TwainIsAutomaticBorderDetectionAvailable());
  EXPECT_FALSE(k.TwainIsAutomaticDeskewAvailable());
  EXPECT_FALSE(k.TwainIsAutomaticRotationAvailable());
  EXPECT_EQ(k.TwainGetCurrentThreshold(), -1);
  EXPECT_FALSE(k.TwainSetCurrentThreshold(128));
  EXPECT_EQ(k.TwainGetCurrentPlanarChunky(), 0);
  EXPECT_TRUE(k.TwainSetCurrentPlanarChunky(0));
  EXPECT_FALSE(k.TwainSetCurrentPlanarChunky(1));
  EXPECT_EQ(k.TwainGetCurrentPixelFlavor(), 0);
  EXPECT_FALSE(k.TwainSetCurrentPixelFlavor(1));
  EXPECT_TRUE(k.TwainCloseSource());
  EXPECT_EQ(k.TwainGetCurrentPixelFlavor(), -1);  // no source open
}

TEST(TwainEngine, VersionGuard) {
  PrivateSane sane;
  twain::SetReportedVersionForTest(324);
  cKorvex k;
  EXPECT_EQ(k.TwainGetState(), -1);
  EXPECT_EQ(k.GetStat(), cKorvexStatus::WrongKxTwainVersion);
  EXPECT_FALSE(k.TwainIsAvailable());
  EXPECT_EQ(k.TwainAcquire(), cKorvexStatus::WrongKxTwainVersion);
  twain::SetReportedVersionForTest(325);
  EXPECT_TRUE(k.TwainIsAvailable());
}

}  // namespace
}  // namespace korvex
