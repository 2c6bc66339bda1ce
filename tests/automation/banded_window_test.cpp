// Neighbourhood effects in whole commands run in bands: the band runner
// takes them, alone and chained with point effects, and writes the bytes
// the members write one after another, for bands of every height, pictures
// shorter than an effect's reach, and failures that keep the old file.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "engine/banded.h"
#include "korvex/pipeline.h"
#include "raster/codec.h"
#include "raster/image.h"

namespace korvex::automation {
namespace {

using Bytes = std::vector<uint8_t>;
namespace fs = std::filesystem;

Bytes read_bytes(const std::string& path) {
  std::ifstream f(path, std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(f), {});
}
void write_bytes(const std::string& path, const Bytes& b) {
  std::ofstream(path, std::ios::binary)
      .write(reinterpret_cast<const char*>(b.data()), static_cast<std::streamsize>(b.size()));
}

// A 24bppRGB picture with edges in every direction, as JPEG (quality 92)
// or uncompressed TIFF.
Bytes picture(int32_t w, int32_t h, bool jpeg) {
  std::unique_ptr<raster::Image> img;
  EXPECT_EQ(raster::Image::create(w, h, raster::pf::k24bppRGB, img), raster::Status::Ok);
  raster::Surface& s = img->surface();
  for (int32_t y = 0; y < h; ++y) {
    for (int32_t x = 0; x < 3 * w; ++x)
      s.row(y)[x] = static_cast<uint8_t>((x * 7 + y * 13) ^ (x * y >> 3));
  }
  const raster::Encoder* e = nullptr;
  for (const raster::Encoder& c : raster::encoders()) {
    if (c.format == (jpeg ? raster::guids::kFormatJpeg : raster::guids::kFormatTiff)) e = &c;
  }
  Bytes out;
  const raster::Guid id = jpeg ? raster::encparam::kQuality : raster::encparam::kCompression;
  EXPECT_EQ(raster::encode_to_memory(*e, *img, {{id, jpeg ? 92 : 6}}, out), raster::Status::Ok);
  return out;
}

// One member call: its name and Long (or Integer) arguments.
struct Call {
  std::string member;
  std::vector<int32_t> args;
};
using Chain = std::vector<Call>;

class BandedWindow : public testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() / ("korvex_window_" + std::to_string(::getpid()));
    fs::create_directories(dir_);
  }
  void TearDown() override {
    SetBandedRowsForTesting(0);
    fs::remove_all(dir_);
  }
  std::string file(const std::string& name) const { return (dir_ / name).string(); }

  static std::vector<BandedCall> banded(const std::string& in, const Chain& chain,
                                        const std::vector<std::string>& save) {
    std::vector<BandedCall> calls = {{"LoadFromFile", {{true, 0, in}}}};
    for (const Call& c : chain) {
      calls.push_back({c.member, {}});
      for (int32_t a : c.args) calls.back().args.push_back({false, a, {}});
    }
    calls.push_back({save[0], {{true, 0, save[1]}}});
    for (size_t i = 2; i < save.size(); ++i)
      calls.back().args.push_back({false, std::stoi(save[i]), {}});
    return calls;
  }

  // The same command member by member (a kept result keeps it out of the
  // band runner): its exit code, and the file at `out` afterwards.
  static int members(const std::string& in, const Chain& chain,
                     const std::vector<std::string>& save) {
    std::vector<PipelineCall> calls = {{"LoadFromFile", {in}, "first"}};
    for (const Call& c : chain) {
      calls.push_back({c.member, {}, {}});
      for (int32_t a : c.args) calls.back().args.push_back(std::to_string(a));
    }
    calls.push_back({save[0], std::vector<std::string>(save.begin() + 1, save.end()), {}});
    return RunPipeline(calls).exit_code;
  }

  fs::path dir_;
};

TEST_F(BandedWindow, ChainsGiveTheBytesOfTheMembersForEveryBandHeight) {
  // JPEG pictures are read in bands from their bytes, TIFF files of 4 MB
  // and more straight from the file. 1, 2, 3 and 4 rows are shorter than
  // Aqua's reach of 5 rows, 4 columns narrower.
  struct Input {
    std::string name;
    int32_t w, h;
  };
  const Input inputs[] = {{"a.jpg", 61, 47}, {"b.jpg", 40, 1}, {"c.jpg", 40, 2},
                          {"d.jpg", 40, 3},  {"e.jpg", 40, 4}, {"f.jpg", 4, 30}};
  for (const Input& in : inputs) write_bytes(file(in.name), picture(in.w, in.h, true));
  write_bytes(file("big.tif"), picture(1100, 1301, false));
  const std::vector<Chain> alone = {
      {{"SetBlurEffect", {}}},
      {{"SetSharpenEffect", {}}},
      {{"SetSharpenMoreEffect", {}}},
      {{"SetSmoothEffect", {}}},
      {{"SetEdgeEnhanceEffect", {}}},
      {{"SetSoftenEffect", {40}}},
      {{"SetEmbossEffect", {}}},
      {{"SetEngraveColorEffect", {0x204060}}},
      {{"SetEmbossMoreEffect", {}}},
      {{"SetEngraveMoreEffect", {}}},
      {{"SetContourEffect", {}}},
      {{"SetReliefEffect", {}}},
      {{"SetDilateEffect", {}}},
      {{"SetErodeEffect", {}}},
      {{"SetConnectedContourEffect", {}}},
      {{"SetAQUAEffect", {}}},
      {{"SetPixelizeEffect", {}}},
      {{"SetBlackNWhiteEffect", {2}}},
      {{"SetBlackNWhiteEffect", {1}}},
      {{"SetStretchEffect", {}}},
  };
  // Point and neighbourhood effects mixed: the whole-picture figures of
  // Contrast and Stretch gathered after neighbourhood effects, copy and
  // in-place effects after each other, Pixelize's blocks after a delay.
  const std::vector<Chain> mixed = {
      {{"SetContrastEffect", {20}},
       {"SetBlurEffect", {}},
       {"SetAQUAEffect", {}},
       {"SetNegativeEffect", {}}},
      {{"SetAQUAEffect", {}}, {"SetContrastEffect", {-30}}, {"SetEmbossMoreEffect", {}}},
      {{"SetSharpenEffect", {}}, {"SetPixelizeEffect", {}}, {"SetBlackNWhiteEffect", {2}}},
      {{"SetEmbossEffect", {}},
       {"SetStretchEffect", {}},
       {"SetSharpenEffect", {}},
       {"SetBlurEffect", {}},
       {"SetErodeEffect", {}}},
  };
  const std::vector<std::vector<std::string>> saves = {{"SaveAsTiff", file("out.tif"), "6", "0"},
                                                       {"SaveAsJpeg", file("out.jpg"), "90"}};
  // The members' file, then the runner's for each band height.
  auto same_file = [&](const std::string& in, const Chain& chain,
                       const std::vector<std::string>& save, std::vector<int32_t> heights) {
    std::string trace = in;
    for (const Call& c : chain) trace += " " + c.member;
    SCOPED_TRACE(trace + " " + save[0]);
    ASSERT_EQ(members(file(in), chain, save), 0);
    const Bytes want = read_bytes(save[1]);
    for (const int32_t rows : heights) {
      SCOPED_TRACE("rows " + std::to_string(rows));
      SetBandedRowsForTesting(rows);
      ASSERT_TRUE(RunBanded(banded(file(in), chain, save)));
      ASSERT_TRUE(want == read_bytes(save[1])) << want.size();
    }
  };
  for (const Input& in : inputs) {
    for (const auto* chains : {&alone, &mixed}) {
      for (const Chain& chain : *chains) {
        for (const auto& save : saves) same_file(in.name, chain, save, {0, 1, 2, 3, 7, 5000});
      }
    }
  }
  // The large file: the default bands and odd ones.
  for (const Chain& chain : {alone[0], alone[8], alone[15], alone[17], mixed[0], mixed[2]})
    same_file("big.tif", chain, saves[0], {0, 3});
}

TEST_F(BandedWindow, UnboundedEffectsAndFailuresAreLeftToTheMembers) {
  write_bytes(file("a.jpg"), picture(61, 47, true));
  const std::vector<std::string> save = {"SaveAsJpeg", file("out.jpg"), "75"};
  const std::vector<Chain> refused = {
      {{"SetDiffuseEffect", {}}},                          // random rows from anywhere
      {{"SethWavesEffect", {20, 10}}},                     // columns move by a wave's height
      {{"SetBlackNWhiteEffect", {3}}},                     // errors carried in raster order
      {{"SetBlackNWhiteEffect", {4}}},                     // not a mode: the member does nothing
      {{"SetSoftenEffect", {101}}},                        // refused by the effect
      {{"SetBlurEffect", {}}, {"SetAddNoiseEffect", {}}},  // random numbers in raster order
  };
  for (const Chain& chain : refused) {
    EXPECT_FALSE(RunBanded(banded(file("a.jpg"), chain, save))) << chain.back().member;
  }
  EXPECT_FALSE(fs::exists(file("out.jpg")));

  // Truncated pictures: the runner writes nothing, and the command gives
  // the members' failure with the old file in place.
  Bytes cut = read_bytes(file("a.jpg"));
  cut.resize(cut.size() / 2);
  write_bytes(file("cut.jpg"), cut);
  Bytes big = picture(1100, 1301, false);
  big.resize(big.size() - 9000);
  write_bytes(file("cut.tif"), big);
  const Bytes old = picture(20, 20, true);
  for (const std::string in : {"cut.jpg", "cut.tif"}) {
    for (const int32_t rows : {0, 1, 5000}) {
      SetBandedRowsForTesting(rows);
      for (const Chain& chain : {Chain{{"SetAQUAEffect", {}}},
                                 Chain{{"SetBlurEffect", {}}, {"SetContrastEffect", {20}}}}) {
        SCOPED_TRACE(in + " " + chain[0].member + " rows " + std::to_string(rows));
        write_bytes(file("out.jpg"), old);
        EXPECT_FALSE(RunBanded(banded(file(in), chain, save)));
        EXPECT_TRUE(read_bytes(file("out.jpg")) == old);
        std::vector<std::string> words = {"-LoadFromFile", file(in)};
        for (const Call& c : chain) {
          words.push_back("-" + c.member);
          for (int32_t a : c.args) words.push_back(std::to_string(a));
        }
        words.insert(words.end(), {"-SaveAsJpeg", file("out.jpg"), "75"});
        std::vector<PipelineCall> calls;
        std::string error;
        ASSERT_TRUE(ParsePipeline(words, calls, error));
        const PipelineResult r = RunPipeline(calls);
        EXPECT_EQ(r.exit_code, members(file(in), chain, save));
        EXPECT_EQ(r.exit_code, 1);
        EXPECT_TRUE(read_bytes(file("out.jpg")) == old);
      }
    }
  }
}

}  // namespace
}  // namespace korvex::automation
