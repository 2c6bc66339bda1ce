// Whole commands with a resize, run in bands, against the same commands run
// member by member: the same file bytes (PDF creation dates aside) for a
// table of sizes, modes, effects and saves at several band heights, and the
// members' status with the old file kept when the input is cut short.
#include <gtest/gtest.h>

#include <algorithm>
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

using testutil::banded;
using testutil::Bytes;
using testutil::encoded;
using testutil::read_file;
using testutil::without_date;
using testutil::Words;
using testutil::write_file;
namespace fs = std::filesystem;

// The pictures carry the camera make and an old Software text and, in 8
// bits, a palette flagged as gray-scale.
constexpr unsigned kItems = testutil::kMake | testutil::kOldSoftware | testutil::kGrayPalette;

// A JPEG at quality 92 with the items above and `dpi`.
Bytes jpeg(raster::PixelFormat f, int32_t w, int32_t h, float dpi) {
  return encoded(f, w, h, dpi, "*.jpg", 92, kItems);
}

class BandedResize : public testutil::BandedTest {
 protected:
  void SetUp() override {
    write_file(file("color.jpg"), jpeg(raster::pf::k24bppRGB, 301, 203, 300));
    write_file(file("gray.jpg"), jpeg(raster::pf::k8bppIndexed, 77, 53, 72));
    write_file(file("line.jpg"), jpeg(raster::pf::k24bppRGB, 1, 37, 96.4f));
  }

  // The file the members write one after another on a new engine.
  static Bytes by_members(const Words& words, const std::string& out, int* exit_code = nullptr) {
    std::vector<PipelineCall> calls;
    std::string error;
    EXPECT_TRUE(ParsePipeline(words, calls, error)) << error;
    calls.front().keep_as = "first";  // keeps the pipeline out of the band runner
    const PipelineResult r = RunPipeline(calls);
    if (exit_code != nullptr) *exit_code = r.exit_code;
    return read_file(out);
  }
};

TEST_F(BandedResize, SizesModesEffectsAndSavesGiveTheBytesOfTheMembers) {
  // Shrink, enlarge, one-pixel sides, mixed and non-integer ratios, same size.
  const std::vector<Words> sizes = {
      {"-Resize", "150", "101"}, {"-Resize", "602", "406"},    {"-Resize", "1", "1"},
      {"-Resize", "97", "311"},  {"-Resize", "1", "203"},      {"-Resize", "301", "1"},
      {"-Resize", "301", "203"}, {"-ResizeWidthRatio", "211"}, {"-ResizeHeightRatio", "29"}};
  const std::vector<Words> first4(sizes.begin(), sizes.begin() + 4);
  const Words none, contrast = {"-SetContrastEffect", "20"}, negative = {"-SetNegativeEffect"},
                    two = {"-SetBrightnessEffect", "-15", "-SetGrayscaleEffect"};
  const Words jpeg = {"-SaveAsJpeg", file("out.jpg"), "90"},
              tiff = {"-SaveAsTiff", file("out.tif"), "6", "0"},
              png = {"-SaveAsPng", file("out.png")}, pdf = {"-SaveAsPdf", file("out.pdf")};
  struct Group {
    std::vector<std::string> inputs;
    std::vector<Words> sizes;
    std::vector<int32_t> modes;
    std::vector<std::pair<Words, Words>> effects;  // before and after the resize
    Words save;
    std::vector<int32_t> rows;  // band heights (0: the default)
  };
  const Group groups[] = {
      {{"color.jpg"}, sizes, {0, 1, 2, 3, 4, 5, 6, 7}, {{none, none}}, jpeg, {7}},
      {{"color.jpg"}, first4, {3, 7}, {{none, none}}, jpeg, {0, 1}},
      {{"gray.jpg", "line.jpg"}, first4, {0, 4, 5, 6}, {{none, none}}, tiff, {7}},
      {{"color.jpg", "line.jpg"}, first4, {1, 7}, {{contrast, negative}, {none, two}}, tiff, {3}},
      // PNG's analysis pass (row filter, highest palette index) and the PDF
      // page's size and resolution from the resized picture.
      {{"color.jpg", "gray.jpg"}, first4, {0, 7}, {{none, none}}, png, {0, 7}},
      {{"color.jpg"}, first4, {5}, {{contrast, negative}, {none, two}}, png, {3}},
      {{"color.jpg", "line.jpg"}, sizes, {2, 6}, {{none, none}}, pdf, {7}},
      {{"color.jpg"}, first4, {5}, {{contrast, negative}, {none, two}}, pdf, {0}},
  };
  for (const Group& g : groups) {
    for (const int32_t rows : g.rows) {
      SetBandedRowsForTesting(rows);
      for (const std::string& input : g.inputs) {
        for (const Words& size : g.sizes) {
          for (const int32_t mode : g.modes) {
            for (const auto& [before, after] : g.effects) {
              Words words = {"-LoadFromFile", file(input)};
              for (const Words* part : {&before, &size, &after, &g.save}) {
                words.insert(words.end(), part->begin(), part->end());
                if (part == &size) words.push_back(std::to_string(mode));
              }
              std::string trace;
              for (const std::string& w : words) trace += w + " ";
              SCOPED_TRACE(trace + "rows " + std::to_string(rows));
              fs::remove(g.save[1]);
              ASSERT_TRUE(RunBanded(banded(words)));
              const Bytes banded = read_file(g.save[1]);
              fs::remove(g.save[1]);
              const Bytes members = by_members(words, g.save[1]);
              if (g.save == pdf) {
                EXPECT_TRUE(without_date(banded) == without_date(members));
              } else {
                EXPECT_TRUE(banded == members);
              }
            }
          }
        }
      }
    }
  }
  // The file holds the new size, the picture's resolution and its pixels.
  ASSERT_TRUE(RunBanded(banded({"-LoadFromFile", file("color.jpg"), "-ResizeWidthRatio", "211", "5",
                                "-SaveAsTiff", file("out.tif"), "6", "0"})));
  std::unique_ptr<raster::Image> img;
  ASSERT_EQ(raster::decode_image(raster::own_bytes(read_file(file("out.tif"))), img),
            raster::Status::Ok);
  EXPECT_EQ(img->width(), 211);
  EXPECT_EQ(img->height(), 142);  // 211 * 203 / 301 = 142.3
  EXPECT_EQ(img->dpi_x(), 300.0f);
  uint32_t corner = 0;
  ASSERT_EQ(img->get_pixel(210, 141, corner), raster::Status::Ok);
  EXPECT_NE(corner & 0xFFFFFF, 0u);
}

TEST_F(BandedResize, RefusalsAndCutInputsLeaveTheFileToTheMembers) {
  // Left to the members: the mean of the resized picture, bad arguments,
  // two resizes.
  const std::vector<Words> refused = {{"-Resize", "100", "100", "3", "-SetContrastEffect", "20"},
                                      {"-Resize", "0", "100", "3"},
                                      {"-Resize", "100", "100", "8"},
                                      {"-Resize", "9", "9", "3", "-Resize", "5", "5", "3"},
                                      {"-ResizeWidthRatio", "-4", "3"}};
  for (const Words& middle : refused) {
    Words words = {"-LoadFromFile", file("color.jpg")};
    words.insert(words.end(), middle.begin(), middle.end());
    words.insert(words.end(), {"-SaveAsJpeg", file("r.jpg"), "75"});
    EXPECT_FALSE(RunBanded(banded(words))) << middle[0] << " " << middle[1];
    EXPECT_FALSE(fs::exists(file("r.jpg")));
  }
  // A cut input: the members' status, and the old file as it was.
  Bytes cut = read_file(file("color.jpg"));
  cut.resize(cut.size() / 2);
  write_file(file("cut.jpg"), cut);
  const Bytes old = read_file(file("gray.jpg"));
  const std::string out = file("old.jpg");
  for (const int32_t rows : {0, 3}) {
    SetBandedRowsForTesting(rows);
    for (const char* width : {"120", "700"}) {
      const Words words = {
          "-LoadFromFile", file("cut.jpg"), "-Resize", width, "80", "7", "-SaveAsJpeg", out, "90"};
      write_file(out, old);
      EXPECT_FALSE(RunBanded(banded(words)));
      std::vector<PipelineCall> calls;
      std::string error;
      ASSERT_TRUE(ParsePipeline(words, calls, error));
      EXPECT_EQ(RunPipeline(calls).exit_code, 1);
      EXPECT_TRUE(read_file(out) == old);
      int members = 0;
      EXPECT_TRUE(by_members(words, out, &members) == old);
      EXPECT_EQ(members, 1);
    }
  }
  // No temporary file is left behind.
  std::vector<std::string> names;
  for (const auto& e : fs::directory_iterator(dir_.path())) names.push_back(e.path().filename());
  std::sort(names.begin(), names.end());
  EXPECT_EQ(names, (Words{"color.jpg", "cut.jpg", "gray.jpg", "line.jpg", "old.jpg"}));
}

}  // namespace
}  // namespace korvex::automation
