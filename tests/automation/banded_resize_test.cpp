// Whole commands with a resize, run in bands, against the same commands run
// member by member: the same file bytes (PDF creation dates aside) for a
// table of sizes, modes, effects and saves at several band heights, and the
// members' status with the old file kept when the input is cut short.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <regex>
#include <string>
#include <vector>

#include "engine/banded.h"
#include "korvex/pipeline.h"
#include "raster/codec.h"
#include "raster/image.h"

namespace korvex::automation {
namespace {

using Bytes = std::vector<uint8_t>;
using Words = std::vector<std::string>;
namespace fs = std::filesystem;

Bytes read_bytes(const std::string& path) {
  std::ifstream f(path, std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(f), {});
}
void write_bytes(const std::string& path, const Bytes& b) {
  std::ofstream(path, std::ios::binary)
      .write(reinterpret_cast<const char*>(b.data()), static_cast<std::streamsize>(b.size()));
}
// A file's bytes, with a PDF's creation date (the clock's time) blanked.
std::string without_date(const Bytes& b) {
  static const std::regex date(R"(/CreationDate \(D:[^)]*\))");
  return std::regex_replace(std::string(b.begin(), b.end()), date, "/CreationDate ()");
}

class BandedResize : public testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() / ("korvex_bresize_" + std::to_string(::getpid()));
    fs::create_directories(dir_);
    write_bytes(file("color.jpg"), jpeg(raster::pf::k24bppRGB, 301, 203, 300));
    write_bytes(file("gray.jpg"), jpeg(raster::pf::k8bppIndexed, 77, 53, 72));
    write_bytes(file("line.jpg"), jpeg(raster::pf::k24bppRGB, 1, 37, 96.4f));
  }
  void TearDown() override {
    SetBandedRowsForTesting(0);
    fs::remove_all(dir_);
  }
  std::string file(const std::string& name) const { return (dir_ / name).string(); }

  // A JPEG at quality 92 carrying EXIF items, an old Software text and `dpi`.
  static Bytes jpeg(raster::PixelFormat f, int32_t w, int32_t h, float dpi) {
    std::unique_ptr<raster::Image> img;
    EXPECT_EQ(raster::Image::create(w, h, f, img), raster::Status::Ok);
    raster::Surface& s = img->surface();
    if (f == raster::pf::k8bppIndexed) {
      s.palette.flags = raster::Palette::kGrayScale;
      s.palette.entries.resize(256);
      for (uint32_t i = 0; i < 256; ++i) s.palette.entries[i] = 0xFF000000u | i * 0x010101u;
    }
    for (int32_t y = 0; y < s.height; ++y)
      for (int32_t x = 0; x < raster::padded_stride(s.width, f); ++x)
        s.row(y)[x] = static_cast<uint8_t>((x * 3 + y * 5) ^ (x * y >> 4));
    img->set_resolution(dpi, dpi);
    img->set_property({0x010F, raster::ptype::kAscii, {'K', 'x', 0}});
    img->set_property({305, raster::ptype::kAscii, {'o', 'l', 'd', 0}});
    const raster::Encoder* e = nullptr;
    for (const raster::Encoder& c : raster::encoders())
      if (c.format == raster::guids::kFormatJpeg) e = &c;
    Bytes out;
    EXPECT_EQ(raster::encode_to_memory(*e, *img, {{raster::encparam::kQuality, 92}}, out),
              raster::Status::Ok);
    return out;
  }

  // The words as engine calls with every argument written out.
  static std::vector<BandedCall> calls_of(const Words& words) {
    std::vector<BandedCall> calls;
    for (const std::string& w : words) {
      if (w[0] == '-' && std::isalpha(static_cast<unsigned char>(w[1]))) {
        calls.push_back({w.substr(1), {}});
      } else if (w.find_first_not_of("-0123456789") == std::string::npos) {
        calls.back().args.push_back({false, std::stoi(w), {}});
      } else {
        calls.back().args.push_back({true, 0, w});
      }
    }
    return calls;
  }

  // The file the members write one after another on a new engine.
  static Bytes by_members(const Words& words, const std::string& out, int* exit_code = nullptr) {
    std::vector<PipelineCall> calls;
    std::string error;
    EXPECT_TRUE(ParsePipeline(words, calls, error)) << error;
    calls.front().keep_as = "first";  // keeps the pipeline out of the band runner
    const PipelineResult r = RunPipeline(calls);
    if (exit_code != nullptr) *exit_code = r.exit_code;
    return read_bytes(out);
  }

  fs::path dir_;
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
              ASSERT_TRUE(RunBanded(calls_of(words)));
              const Bytes banded = read_bytes(g.save[1]);
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
  ASSERT_TRUE(RunBanded(calls_of({"-LoadFromFile", file("color.jpg"), "-ResizeWidthRatio", "211",
                                  "5", "-SaveAsTiff", file("out.tif"), "6", "0"})));
  std::unique_ptr<raster::Image> img;
  ASSERT_EQ(raster::decode_image(raster::own_bytes(read_bytes(file("out.tif"))), img),
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
    EXPECT_FALSE(RunBanded(calls_of(words))) << middle[0] << " " << middle[1];
    EXPECT_FALSE(fs::exists(file("r.jpg")));
  }
  // A cut input: the members' status, and the old file as it was.
  Bytes cut = read_bytes(file("color.jpg"));
  cut.resize(cut.size() / 2);
  write_bytes(file("cut.jpg"), cut);
  const Bytes old = read_bytes(file("gray.jpg"));
  const std::string out = file("old.jpg");
  for (const int32_t rows : {0, 3}) {
    SetBandedRowsForTesting(rows);
    for (const char* width : {"120", "700"}) {
      const Words words = {
          "-LoadFromFile", file("cut.jpg"), "-Resize", width, "80", "7", "-SaveAsJpeg", out, "90"};
      write_bytes(out, old);
      EXPECT_FALSE(RunBanded(calls_of(words)));
      std::vector<PipelineCall> calls;
      std::string error;
      ASSERT_TRUE(ParsePipeline(words, calls, error));
      EXPECT_EQ(RunPipeline(calls).exit_code, 1);
      EXPECT_TRUE(read_bytes(out) == old);
      int members = 0;
      EXPECT_TRUE(by_members(words, out, &members) == old);
      EXPECT_EQ(members, 1);
    }
  }
  // No temporary file is left behind.
  std::vector<std::string> names;
  for (const auto& e : fs::directory_iterator(dir_)) names.push_back(e.path().filename());
  std::sort(names.begin(), names.end());
  EXPECT_EQ(names, (Words{"color.jpg", "cut.jpg", "gray.jpg", "line.jpg", "old.jpg"}));
}

}  // namespace
}  // namespace korvex::automation
