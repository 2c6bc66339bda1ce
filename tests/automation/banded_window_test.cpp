// Neighbourhood effects in whole commands run in bands: the band runner
// takes them, alone and chained with point effects, and writes the bytes
// the members write one after another, for bands of every height, pictures
// shorter than an effect's reach, and failures that keep the old file.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "banded_test_util.h"
#include "engine/banded.h"
#include "korvex/pipeline.h"

namespace korvex::automation {
namespace {

using testutil::banded;
using testutil::Bytes;
using testutil::read_file;
using testutil::Words;
using testutil::write_file;

// A 24bppRGB picture as JPEG (quality 92) or uncompressed TIFF.
Bytes picture(int32_t w, int32_t h, bool jpeg) {
  auto img = testutil::pattern_image(raster::pf::k24bppRGB, w, h);
  if (jpeg) return testutil::encode("*.jpg", *img, {{raster::encparam::kQuality, 92}});
  return testutil::encode("*.tif", *img, {{raster::encparam::kCompression, 6}});
}

// Single effects of every reach, then chains mixing them with point
// effects: Contrast's and Stretch's whole-picture figures gathered after
// neighbourhood effects, copy and in-place effects in turn, Pixelize's
// blocks after rows held back.
// clang-format off
const std::vector<Words> kChains = {
    {"-SetBlurEffect"}, {"-SetSharpenEffect"}, {"-SetSharpenMoreEffect"}, {"-SetSmoothEffect"},
    {"-SetEdgeEnhanceEffect"}, {"-SetSoftenEffect", "40"}, {"-SetEmbossEffect"},
    {"-SetEngraveColorEffect", "2113632"}, {"-SetEmbossMoreEffect"}, {"-SetEngraveMoreEffect"},
    {"-SetContourEffect"}, {"-SetReliefEffect"}, {"-SetDilateEffect"}, {"-SetErodeEffect"},
    {"-SetConnectedContourEffect"}, {"-SetAQUAEffect"}, {"-SetPixelizeEffect"},
    {"-SetBlackNWhiteEffect", "2"}, {"-SetBlackNWhiteEffect", "1"}, {"-SetStretchEffect"},
    {"-SetContrastEffect", "20", "-SetBlurEffect", "-SetAQUAEffect", "-SetNegativeEffect"},
    {"-SetAQUAEffect", "-SetContrastEffect", "-30", "-SetEmbossMoreEffect"},
    {"-SetSharpenEffect", "-SetPixelizeEffect", "-SetBlackNWhiteEffect", "2"},
    {"-SetEmbossEffect", "-SetStretchEffect", "-SetSharpenEffect", "-SetBlurEffect",
     "-SetErodeEffect"}};
// clang-format on

class BandedWindow : public testutil::BandedTest {
 protected:
  // The command "load, effects, save" as words, and as pipeline calls.
  Words command(const std::string& in, const Words& fx, const Words& save) const {
    Words words = {"-LoadFromFile", file(in)};
    words.insert(words.end(), fx.begin(), fx.end());
    words.insert(words.end(), save.begin(), save.end());
    return words;
  }
  std::vector<PipelineCall> calls(const std::string& in, const Words& fx, const Words& save) {
    std::vector<PipelineCall> out;
    std::string error;
    EXPECT_TRUE(ParsePipeline(command(in, fx, save), out, error)) << error;
    return out;
  }
  bool run_banded(const std::string& in, const Words& fx, const Words& save) {
    return RunBanded(banded(command(in, fx, save)));
  }
  // Member by member: a result kept under a name keeps the band runner out.
  int run_members(const std::string& in, const Words& fx, const Words& save) {
    std::vector<PipelineCall> c = calls(in, fx, save);
    c.front().keep_as = "first";
    return RunPipeline(c).exit_code;
  }

  // The members' file, then the runner's for each band height.
  void same_file(const std::string& in, const Words& fx, const Words& save,
                 const std::vector<int32_t>& heights) {
    SCOPED_TRACE(in + " " + fx[0] + " (" + std::to_string(fx.size()) + " words) " + save[0]);
    ASSERT_EQ(run_members(in, fx, save), 0);
    const Bytes want = read_file(save[1]);
    for (const int32_t rows : heights) {
      SCOPED_TRACE("rows " + std::to_string(rows));
      SetBandedRowsForTesting(rows);
      ASSERT_TRUE(run_banded(in, fx, save));
      ASSERT_TRUE(want == read_file(save[1])) << want.size();
    }
  }
  Words tiff_save() const { return {"-SaveAsTiff", file("out.tif"), "6", "0"}; }
  Words jpeg_save() const { return {"-SaveAsJpeg", file("out.jpg"), "90"}; }
};

TEST_F(BandedWindow, ChainsGiveTheBytesOfTheMembersForEveryBandHeight) {
  // JPEG pictures, read in bands from their bytes; 1 to 4 rows are shorter
  // than Aqua's reach of 5 rows, 4 columns narrower.
  const std::pair<int32_t, int32_t> sizes[] = {{61, 47}, {40, 1}, {40, 2},
                                               {40, 3},  {40, 4}, {4, 30}};
  for (const auto& [w, h] : sizes) {
    write_file(file("in.jpg"), picture(w, h, true));
    SCOPED_TRACE(std::to_string(w) + " x " + std::to_string(h));
    for (const Words& fx : kChains) {
      for (const Words& save : {tiff_save(), jpeg_save()})
        same_file("in.jpg", fx, save, {0, 1, 2, 3, 7, 5000});
    }
  }
}

TEST_F(BandedWindow, LargeTiffFilesReadFromTheFileGiveTheBytesOfTheMembers) {
  write_file(file("big.tif"), picture(1100, 1301, false));  // 4 MB: read from the file
  for (size_t i : {15, 20, 21, 22}) same_file("big.tif", kChains[i], tiff_save(), {0, 3});
}

TEST_F(BandedWindow, UnboundedEffectsAndFailuresAreLeftToTheMembers) {
  write_file(file("a.jpg"), picture(61, 47, true));
  const Words refused[] = {
      {"-SetDiffuseEffect"},                      // random rows from anywhere
      {"-SethWavesEffect", "20", "10"},           // columns move by a wave's height
      {"-SetBlackNWhiteEffect", "3"},             // errors carried in raster order
      {"-SetBlackNWhiteEffect", "4"},             // not a mode: the member does nothing
      {"-SetSoftenEffect", "101"},                // refused by the effect
      {"-SetBlurEffect", "-SetAddNoiseEffect"}};  // random numbers in raster order
  for (const Words& fx : refused) EXPECT_FALSE(run_banded("a.jpg", fx, jpeg_save())) << fx[0];
  EXPECT_TRUE(read_file(file("out.jpg")).empty());

  // Truncated pictures: the runner writes nothing; the command gives the
  // members' failure and keeps the old file.
  Bytes cut = read_file(file("a.jpg"));
  cut.resize(cut.size() / 2);
  write_file(file("cut.jpg"), cut);
  Bytes big = picture(1100, 1301, false);
  big.resize(big.size() - 9000);
  write_file(file("cut.tif"), big);
  const Bytes old = picture(20, 20, true);
  for (const std::string in : {"cut.jpg", "cut.tif"}) {
    for (const int32_t rows : {0, 1, 5000}) {
      SetBandedRowsForTesting(rows);
      for (const Words& fx : {kChains[15], kChains[20]}) {
        SCOPED_TRACE(in + " " + fx[0] + " rows " + std::to_string(rows));
        write_file(file("out.jpg"), old);
        EXPECT_FALSE(run_banded(in, fx, jpeg_save()));
        EXPECT_TRUE(read_file(file("out.jpg")) == old);
        EXPECT_EQ(run_members(in, fx, jpeg_save()), 1);
        EXPECT_EQ(RunPipeline(calls(in, fx, jpeg_save())).exit_code, 1);
        EXPECT_TRUE(read_file(file("out.jpg")) == old);
      }
    }
  }
}

}  // namespace
}  // namespace korvex::automation
