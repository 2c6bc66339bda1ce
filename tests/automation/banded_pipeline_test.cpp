// Whole commands in bands against the same commands run member by member:
// the same bytes, statuses, errors and reported outputs for a table of
// pictures, effects and saves, and the same failures with the old file kept.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
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

using testutil::Bytes;
using testutil::encoded;
using testutil::read_file;
using testutil::write_file;
namespace fs = std::filesystem;

// The pictures carry the camera make, an old Software text, a colour profile
// and, in 8 bits, a palette flagged as gray-scale.
constexpr unsigned kItems =
    testutil::kMake | testutil::kOldSoftware | testutil::kProfile | testutil::kGrayPalette;

class BandedPipeline : public testutil::BandedTest {
 protected:
  void SetUp() override {
    // A colour picture carrying EXIF items (an old Software text among
    // them), a colour profile and 300 dpi; a gray one at 72 dpi.
    write_file(file("color.jpg"),
               encoded(raster::pf::k24bppRGB, 301, 203, 300, "*.jpg", 92, kItems));
    write_file(file("gray.jpg"),
               encoded(raster::pf::k8bppIndexed, 301, 203, 72, "*.jpg", 92, kItems));
  }

  static std::vector<PipelineCall> parse(const std::vector<std::string>& words) {
    std::vector<PipelineCall> calls;
    std::string error;
    EXPECT_TRUE(ParsePipeline(words, calls, error)) << error;
    return calls;
  }

  // Runs the words once as they are and once member by member (a result
  // kept under a name keeps a pipeline out of the band runner), each into a
  // fresh copy of `before` at `out`, and checks both give the same result and
  // file. Returns that file.
  Bytes same_both_ways(const std::vector<std::string>& words, const std::string& out,
                       const Bytes* before = nullptr) {
    std::vector<PipelineCall> calls = parse(words);
    std::vector<PipelineCall> member_by_member = calls;
    member_by_member.front().keep_as = "first";
    auto fresh = [&] {
      fs::remove(out);
      if (before != nullptr) write_file(out, *before);
    };
    fresh();
    const PipelineResult a = RunPipeline(calls);
    const Bytes a_file = read_file(out);
    fresh();
    const PipelineResult b = RunPipeline(member_by_member);
    const Bytes b_file = read_file(out);
    EXPECT_EQ(a.exit_code, b.exit_code);
    EXPECT_EQ(a.status, b.status);
    EXPECT_EQ(a.error, b.error);
    EXPECT_EQ(a.values, b.values);
    EXPECT_EQ(a.outputs, b.outputs);
    EXPECT_TRUE(a_file == b_file) << "sizes " << a_file.size() << " " << b_file.size();
    return a_file;
  }
};

TEST_F(BandedPipeline, PicturesEffectsAndSavesGiveTheBytesOfTheMembers) {
  // TIFF files of 4 MB and more are read in bands straight from the file:
  // stripped RGB with metadata, tiled RGB, stripped gray.
  write_file(file("big.tif"), encoded(raster::pf::k24bppRGB, 1100, 1320, 96, "*.tif", 6, kItems));
  write_file(file("gray.tif"),
             encoded(raster::pf::k8bppIndexed, 2100, 2100, 96, "*.tif", 6, kItems));
  ASSERT_EQ(std::system(("/usr/bin/convert " + file("big.tif") +
                         " -define tiff:tile-geometry=256x128 -compress none " + file("tiled.tif"))
                            .c_str()),
            0);
  ASSERT_GE(fs::file_size(file("tiled.tif")), 4u << 20);
  using Words = std::vector<std::string>;
  const std::vector<Words> all_effects = {
      {},
      {"-SetNegativeEffect"},
      {"-SetBrightnessEffect", "20"},
      {"-SetContrastEffect", "20"},
      {"-SetContrastEffect", "-35"},
      {"-SetGrayscaleEffect"},
      {"-SetGammaCorrectionEffect", "150"},
      {"-SetSaturationEffect", "40"},
      {"-SetBrigtnessEffect", "-10", "-SetContrastEffect", "30", "-SetNegativeEffect"},
  };
  const std::vector<Words> no_effect = {{}};
  const std::vector<Words> big_effects = {
      {}, {"-SetContrastEffect", "20", "-SetGrayscaleEffect", "-SetBrightnessEffect", "-15"}};
  const std::vector<Words> jpeg_saves = {
      {"-SaveAsJpeg", file("out.jpg")},
      {"-SaveAsJpeg", file("out.jpg"), "90"},
      {"-SaveAsJpeg", file("out.jpg"), "0"},
      {"-SaveAsJpeg", file("out.jpg"), "_"},
  };
  // LZW, none, 8-bit palette, Group 4 (LZW for colour), 32-bit RGBA.
  const std::vector<Words> tiff_saves = {
      {"-SaveAsTiff", file("out.tif")},
      {"-SaveAsTiff", file("out.tif"), "6"},
      {"-SaveAsTiff", file("out.tif"), "6", "8"},
      {"-SaveAsTiff", file("out.tif"), "4"},
      {"-SaveAsTiff", file("out.tif"), "2", "32"},
  };
  const std::vector<Words> one_jpeg = {jpeg_saves[0]}, one_tiff = {tiff_saves[1]};
  const std::vector<Words> big_tiff = {tiff_saves[0], tiff_saves[1]};
  struct Group {
    std::vector<std::string> inputs;
    const std::vector<Words>& effects;
    std::vector<const std::vector<Words>*> saves;
  };
  const Group groups[] = {
      {{"color.jpg", "gray.jpg"}, all_effects, {&jpeg_saves, &tiff_saves}},
      {{"big.tif", "tiled.tif"}, big_effects, {&one_jpeg, &big_tiff}},
      {{"gray.tif"}, no_effect, {&one_tiff}},
  };
  for (const int32_t rows : {0, 7}) {
    SetBandedRowsForTesting(rows);
    for (const Group& g : groups) {
      if (rows == 0 && &g != &groups[0]) continue;  // large pictures: odd bands only
      for (const std::string& input : g.inputs) {
        for (const Words& fx : g.effects) {
          for (const auto* saves : g.saves) {
            for (const Words& save : *saves) {
              Words words = {"-LoadFromFile", file(input)};
              words.insert(words.end(), fx.begin(), fx.end());
              words.insert(words.end(), save.begin(), save.end());
              std::string trace;
              for (const std::string& w : words) trace += w + " ";
              SCOPED_TRACE(trace + "rows " + std::to_string(rows));
              const Bytes out = same_both_ways(words, save[1]);
              EXPECT_GT(out.size(), 1000u);
            }
          }
        }
      }
    }
  }
}

// The engine's band runner itself: the shapes it takes (and so the ones the
// table above runs in bands) and the ones it leaves to the members.
TEST_F(BandedPipeline, TheRunnerTakesLoadPointEffectsAndABandedSaveOnly) {
  auto text = [](const std::string& s) { return BandedArg{true, 0, s}; };
  auto num = [](int32_t n) { return BandedArg{false, n, {}}; };
  const BandedCall load{"LoadFromFile", {text(file("color.jpg"))}};
  const BandedCall gray_load{"LoadFromFile", {text(file("gray.jpg"))}};
  const BandedCall save{"SaveAsJpeg", {text(file("r.jpg")), num(75)}};
  const BandedCall contrast{"SetContrastEffect", {num(20)}};
  EXPECT_TRUE(RunBanded({load, save}));
  EXPECT_TRUE(RunBanded({gray_load, save}));  // no effect: any stored format
  EXPECT_TRUE(RunBanded({load, contrast, save}));
  EXPECT_TRUE(RunBanded({load, BandedCall{"SaveAsTiff", {text(file("r.tif")), num(6), num(0)}}}));
  EXPECT_TRUE(fs::exists(file("r.jpg")));
  // A TIFF file large enough to be read from the file in bands.
  write_file(file("big.tif"), encoded(raster::pf::k24bppRGB, 1100, 1320, 96, "*.tif", 6, kItems));
  const BandedCall tiff_load{"LoadFromFile", {text(file("big.tif"))}};
  EXPECT_TRUE(RunBanded({tiff_load, contrast, save}));
  const std::vector<std::vector<BandedCall>> refused = {
      {load},
      {save},
      {load, BandedCall{"SetDiffuseEffect", {}}, save},         // random rows from anywhere
      {load, BandedCall{"SetAddNoiseEffect", {}}, save},        // random numbers in raster order
      {load, BandedCall{"SetGammaCorrectionEffect", {num(0)}}, save},  // refused by the effect
      {load, BandedCall{"SetContrastEffect", {}}, save},        // argument missing
      {gray_load, contrast, save},                             // palette pictures stay whole
      {load, BandedCall{"SaveAsGif", {text(file("r.gif"))}}},  // no band writer
      {BandedCall{"LoadFromFile", {text(file("missing.jpg"))}}, save},
      {BandedCall{"LoadFromFile", {text(dir_.path())}}, save},
  };
  for (size_t i = 0; i < refused.size(); ++i) EXPECT_FALSE(RunBanded(refused[i])) << i;
}

TEST_F(BandedPipeline, FailuresGiveTheMembersStatusAndKeepTheOldFile) {
  const Bytes old = read_file(file("gray.jpg"));
  Bytes cut = read_file(file("color.jpg"));
  cut.resize(cut.size() / 2);
  write_file(file("cut.jpg"), cut);
  write_file(file("text.jpg"), Bytes(100, 'x'));
  const std::string out = file("old.jpg");
  struct Case {
    std::vector<std::string> words;
    int exit_code;
  };
  const Case cases[] = {
      {{"-LoadFromFile", file("cut.jpg"), "-SetNegativeEffect", "-SaveAsJpeg", out}, 1},
      {{"-LoadFromFile", file("cut.jpg"), "-SetContrastEffect", "20", "-SaveAsJpeg", out}, 1},
      {{"-LoadFromFile", file("text.jpg"), "-SaveAsJpeg", out}, 1},
      {{"-LoadFromFile", file("color.jpg"), "-SaveAsJpeg", out, "101"}, 1},
      {{"-LoadFromFile", file("color.jpg"), "-SaveAsJpeg", out, "x"}, 2},
      {{"-LoadFromFile", file("color.jpg"), "-SaveAsJpeg", file("no/such/dir.jpg")}, 1},
      {{"-LoadFromFile", file("color.jpg"), "-SaveAsJpeg", file("gray.jpg") + "/in_a_file.jpg"},
       1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.words[1] + " " + c.words.back());
    const Bytes after = same_both_ways(c.words, out, &old);
    EXPECT_TRUE(after == old);
    std::vector<PipelineCall> calls = parse(c.words);
    write_file(out, old);
    EXPECT_EQ(RunPipeline(calls).exit_code, c.exit_code);
    EXPECT_TRUE(read_file(out) == old);
  }
  // No temporary file is left behind.
  std::vector<std::string> names;
  for (const auto& e : fs::directory_iterator(dir_.path())) names.push_back(e.path().filename());
  std::sort(names.begin(), names.end());
  EXPECT_EQ(names, (std::vector<std::string>{"color.jpg", "cut.jpg", "gray.jpg", "old.jpg",
                                             "text.jpg"}));
}

}  // namespace
}  // namespace korvex::automation
