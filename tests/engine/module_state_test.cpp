// Per-thread module state and helpers: encoder table, paths, rounding, names.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "engine/state.h"
#include "korvex/korvex.h"

namespace korvex {
namespace {

TEST(EncoderTable, PatternsAreCaseInsensitiveAndTheFirstEncoderListedWins) {
  raster::Guid a{1, 0, 0, {}}, b{2, 0, 0, {}}, c{3, 0, 0, {}};
  EncoderTable t;
  t.build({{a, "*.BMP;*.DIB;*.RLE"},
           {b, "*.JPG;*.JPEG;*.JPE;*.JFIF"},
           {c, "*.jpg; *.TIF;*.TIFF  "}});  // claims *.jpg too; only the last piece is trimmed
  ASSERT_EQ(t.clsids.size(), 3u);
  EXPECT_EQ(t.clsids[2], c);
  EXPECT_EQ(t.lookup("*.bmp"), 0);
  EXPECT_EQ(t.lookup("*.Jfif"), 1);
  EXPECT_EQ(t.lookup("*.jpg"), 1);
  EXPECT_EQ(t.lookup("*.tiff"), 2);
  EXPECT_EQ(t.lookup(" *.tif"), 2);  // inner pieces keep their spaces
  EXPECT_EQ(t.lookup("*.tif"), -1);
  EXPECT_EQ(t.lookup("*.png"), -1);
  t.build({{a, "*.X;"}});  // an empty last piece adds nothing
  EXPECT_EQ(t.patterns.size(), 1u);
  EXPECT_EQ(t.lookup("*.bmp"), -1);
}

TEST(Paths, NormalizePathUsesSlashesAndCollapsesRepeatsAfterTheFirstTwo) {
  EXPECT_EQ(NormalizePath("  C:\\Images\\\\scan.tif "), "C:/Images/scan.tif");
  EXPECT_EQ(NormalizePath("/home//me///a.png"), "/home/me/a.png");
  EXPECT_EQ(NormalizePath("\\\\server\\share\\\\x.bmp"), "//server/share/x.bmp");
  EXPECT_EQ(NormalizePath("////server/x"), "//server/x");
  EXPECT_EQ(NormalizePath("a//b"), "a//b");  // a pair starting in the first two characters stays
  EXPECT_EQ(NormalizePath("ab//c"), "ab/c");
  EXPECT_EQ(NormalizePath(" //x"), "//x");  // three characters: left as they are
  EXPECT_EQ(NormalizePath(""), "");
}

TEST(Paths, TempFolderPrefersTmpdirThenTmpThenTempAndEndsWithOneSlash) {
  const char* saved = std::getenv("TMPDIR");
  const std::string keep = saved ? saved : "";
  setenv("TMPDIR", "/var/scratch//", 1);
  setenv("tmp", "/t1", 1);
  EXPECT_EQ(TempFolder(), "/var/scratch/");
  unsetenv("TMPDIR");
  EXPECT_EQ(TempFolder(), "/t1/");
  unsetenv("tmp");
  setenv("temp", "/t2/", 1);
  EXPECT_EQ(TempFolder(), "/t2/");
  unsetenv("temp");
  EXPECT_EQ(TempFolder(), "/tmp/");
  if (saved) setenv("TMPDIR", keep.c_str(), 1);
}

TEST(Rounding, HalvesGoToEven) {
  EXPECT_EQ(RoundHalfEven(72.5), 72);
  EXPECT_EQ(RoundHalfEven(73.5), 74);
  EXPECT_EQ(RoundHalfEven(0.5), 0);
  EXPECT_EQ(RoundHalfEven(0.49), 0);
  EXPECT_EQ(RoundHalfEven(299.6), 300);
  EXPECT_EQ(RoundHalfEven(-2.5), -2);
  EXPECT_EQ(RoundHalfEven(1e12), 2147483647);
}

TEST(Statuses, EveryValueHasItsNameAndOthersHaveNone) {
  EXPECT_STREQ(StatusName(cKorvexStatus::Ok), "Ok");
  EXPECT_STREQ(StatusName(cKorvexStatus::UnknownImageFormat), "UnknownImageFormat");
  EXPECT_EQ(static_cast<int>(cKorvexStatus::UnknownImageFormat), 13);
  EXPECT_EQ(static_cast<int>(cKorvexStatus::ProfileNotFound), 21);
  EXPECT_EQ(static_cast<int>(cKorvexStatus::WrongKxTwainVersion), 31);
  EXPECT_EQ(static_cast<int>(cKorvexStatus::PixelFormatMustBeConverted), 60);
  EXPECT_STREQ(StatusName(cKorvexStatus::InvalidBarCode), "InvalidBarCode");
  EXPECT_STREQ(StatusName(static_cast<cKorvexStatus>(22)), "");
  for (int v = 0; v <= 21; ++v) EXPECT_STRNE(StatusName(static_cast<cKorvexStatus>(v)), "") << v;
}

TEST(ModuleState, EachNewEngineSwitchesTheSoftwareTagBackOn) {
  cKorvex a;
  module_state().WriteSoftwareTag = false;
  cKorvex b;
  EXPECT_TRUE(module_state().WriteSoftwareTag);
  EXPECT_TRUE(module_state().session.started);
  EXPECT_EQ(module_state().session.users, 2);
}

}  // namespace
}  // namespace korvex
