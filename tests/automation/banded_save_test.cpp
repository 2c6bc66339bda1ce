// SaveAsPng and SaveAsPdf at the end of whole commands in bands: the band
// runner takes them and writes the bytes the members write one by one
// (PDF creation dates aside), falls back for pictures it cannot store the
// member's way, and fails as the members do, keeping the old file.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "banded_test_util.h"
#include "engine/banded.h"
#include "korvex/pipeline.h"
#include "raster/codec.h"
#include "raster/image.h"

namespace korvex::automation {
namespace {

using testutil::banded;
using testutil::Bytes;
using testutil::encoded;
using testutil::read_file;
using testutil::without_date;
using testutil::Words;
using testutil::write_file;
namespace fs = std::filesystem;

// The pictures carry an old Software text and a colour profile; JPEG
// pictures are smooth, TIFF ones noisy.
constexpr unsigned kItems = testutil::kOldSoftware | testutil::kProfile;
constexpr unsigned kJpeg = kItems | testutil::kSmooth;

class BandedSave : public testutil::BandedTest {
 protected:
  void SetUp() override {
    // Smooth colour with EXIF items, a colour profile and 300 dpi (PNG picks
    // the Average filter); a gray JPEG; noisy colour and alpha TIFFs of over
    // 4 MB, read in bands straight from the file.
    write_file(file("color.jpg"),
               encoded(raster::pf::k24bppRGB, 301, 203, 300, "*.jpg", 92, kJpeg));
    write_file(file("gray.jpg"),
               encoded(raster::pf::k8bppIndexed, 301, 203, 72, "*.jpg", 92, kJpeg));
    write_file(file("big.tif"), encoded(raster::pf::k24bppRGB, 1100, 1320, 96, "*.tif", 6, kItems));
    write_file(file("alpha.tif"),
               encoded(raster::pf::k32bppARGB, 1050, 1000, 150, "*.tif", 6, kItems));
  }

  // The words through the pipeline once as they are and once member by
  // member (a result kept under a name keeps a pipeline out of the band
  // runner), each over a fresh copy of `before` at `out`: the same result
  // and file. Returns the file as the members wrote it.
  std::string same_both_ways(const Words& words, const std::string& out,
                             const Bytes* before = nullptr) {
    std::vector<PipelineCall> calls;
    std::string error;
    EXPECT_TRUE(ParsePipeline(words, calls, error)) << error;
    std::vector<PipelineCall> member_by_member = calls;
    member_by_member.front().keep_as = "first";
    PipelineResult r[2];
    std::string files[2];
    for (int i = 0; i < 2; ++i) {
      fs::remove(out);
      if (before != nullptr) write_file(out, *before);
      r[i] = RunPipeline(i == 0 ? calls : member_by_member);
      files[i] = without_date(read_file(out));
    }
    EXPECT_EQ(r[0].exit_code, r[1].exit_code);
    EXPECT_EQ(r[0].status, r[1].status);
    EXPECT_EQ(r[0].error, r[1].error);
    EXPECT_EQ(r[0].values, r[1].values);
    EXPECT_EQ(r[0].outputs, r[1].outputs);
    EXPECT_TRUE(files[0] == files[1]) << "sizes " << files[0].size() << " " << files[1].size();
    return files[1];
  }
};

TEST_F(BandedSave, PngAndPdfSavesGiveTheBytesOfTheMembers) {
  const std::vector<Words> effects = {
      {},
      {"-SetContrastEffect", "20"},  // a gather pass before the analysis pass
      {"-SetNegativeEffect", "-SetBrightnessEffect", "-15", "-SetGrayscaleEffect"},
  };
  // Without effects the runner takes any stored format to PNG; effects and
  // SaveAsPdf (the member stores other formats as samples, or as a JPEG of
  // 32-bit rows) only 24-bit pictures.
  const std::pair<std::string, bool> inputs[] = {
      {"color.jpg", true}, {"big.tif", true}, {"gray.jpg", false}, {"alpha.tif", false}};
  for (const int32_t rows : {0, 7}) {
    SetBandedRowsForTesting(rows);
    for (const auto& [input, rgb24] : inputs) {
      for (const Words& fx : effects) {
        // Large pictures: odd bands, and one effect.
        if (input.ends_with(".tif") && (rows == 0 || fx.size() > 2)) continue;
        for (const std::string save : {"png", "pdf"}) {
          const std::string out = file("out." + save);
          Words words = {"-LoadFromFile", file(input)};
          words.insert(words.end(), fx.begin(), fx.end());
          words.insert(words.end(), {save == "png" ? "-SaveAsPng" : "-SaveAsPdf", out});
          SCOPED_TRACE(input + " " + std::to_string(fx.size()) + " " + save + " rows " +
                       std::to_string(rows));
          const std::string members = same_both_ways(words, out);
          EXPECT_GT(members.size(), 1000u);
          // The runner itself takes the command, and writes the same file.
          const bool takes = rgb24 || (save == "png" && fx.empty());
          fs::remove(out);
          EXPECT_EQ(RunBanded(banded(words)), takes);
          if (takes) {
            EXPECT_TRUE(without_date(read_file(out)) == members);
          }
        }
      }
    }
  }
}

TEST_F(BandedSave, FailuresGiveTheMembersStatusAndKeepTheOldFile) {
  const Bytes old = read_file(file("gray.jpg"));
  Bytes cut = read_file(file("color.jpg"));
  cut.resize(cut.size() / 2);
  write_file(file("cut.jpg"), cut);
  Bytes cut_tif = read_file(file("big.tif"));
  cut_tif.resize(cut_tif.size() * 3 / 4);
  write_file(file("cut.tif"), cut_tif);
  for (const std::string save : {"-SaveAsPng", "-SaveAsPdf"}) {
    const std::string out = file("old.out");
    const Words cases[] = {
        {"-LoadFromFile", file("cut.jpg"), save, out},
        {"-LoadFromFile", file("cut.tif"), "-SetContrastEffect", "20", save, out},
        {"-LoadFromFile", file("color.jpg"), save, file("no/such/dir.out")},
        {"-LoadFromFile", file("big.tif"), save, file("gray.jpg") + "/in_a_file.out"},
    };
    for (const Words& words : cases) {
      SCOPED_TRACE(save + " " + words[1] + " " + words.back());
      const std::string after = same_both_ways(words, out, &old);
      EXPECT_TRUE(after == std::string(old.begin(), old.end()));
      EXPECT_FALSE(RunBanded(banded(words)));
      EXPECT_TRUE(read_file(out) == old);
    }
    fs::remove(file("old.out"));
  }
  // No temporary file is left behind.
  std::vector<std::string> names;
  for (const auto& e : fs::directory_iterator(dir_.path())) names.push_back(e.path().filename());
  std::sort(names.begin(), names.end());
  EXPECT_EQ(names, (Words{"alpha.tif", "big.tif", "color.jpg", "cut.jpg", "cut.tif", "gray.jpg"}));
}

}  // namespace
}  // namespace korvex::automation
