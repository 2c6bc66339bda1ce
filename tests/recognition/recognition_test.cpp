// Document recognition: signatures against the written rule, learning, relevance and the RAD...
// members; realistic scans are classified by the README's command-line run (tests/cli).
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <memory>
#include <numeric>
#include <random>
#include <string>
#include <tuple>
#include <vector>

#include "../../fuzz/rad_config_check.h"
#include "../codecs/codec_test_util.h"
#include "korvex/korvex.h"
#include "raster/handles.h"
#include "raster/rounding.h"
#include "recognition/rad.h"

namespace korvex::recognition {
namespace {

namespace pf = raster::pf;
constexpr uint32_t kBlack = 0xFF000000u;

std::unique_ptr<raster::Image> image(int32_t w, int32_t h, raster::PixelFormat f) {
  std::unique_ptr<raster::Image> img;
  EXPECT_EQ(raster::Image::create(w, h, f, img), raster::Status::Ok);
  return img;
}

Signature signature(raster::Image& img) {
  Signature sig;
  std::vector<uint32_t> buffer;
  EXPECT_EQ(ComputeSignature(img, sig, buffer), raster::Status::Ok);
  return sig;
}

// The rule as written, one pixel at a time through get_pixel (1-based).
Signature reference(const raster::Image& img) {
  static const int kWeight[3][3] = {{256, 128, 64}, {32, 16, 8}, {4, 2, 1}};
  Signature s;
  const int32_t w = img.width(), h = img.height(), top = RoundHalfEven(h / 3.0);
  s.area = int64_t{w} * h;
  for (int32_t y = 2; y <= h - 1; y += 3) {
    for (int32_t x = 2; x <= w - 1; x += 3) {
      int p = 0;
      for (int dy = -1; dy <= 1; ++dy) {
        for (int dx = -1; dx <= 1; ++dx) {
          uint32_t v = 0;
          img.get_pixel(x + dx - 1, y + dy - 1, v);
          const bool counts = dx == 0 && dy == 0 ? v == 0 : v == kBlack;
          if (counts) p += kWeight[dy + 1][dx + 1];
          if (counts && y < top) ++s.top_black;
        }
      }
      ++s.bins[p];
    }
  }
  return s;
}

TEST(Signature, WrittenFactsAndGridLimits) {
  auto white = image(3, 3, pf::k24bppRGB);
  white->fill_rect({0, 0, 3, 3}, 0xFFFFFFFFu);
  Signature s = signature(*white);
  EXPECT_EQ(std::accumulate(s.bins.begin(), s.bins.end(), int64_t{0}), s.bins[0]);
  EXPECT_EQ(std::tuple(s.bins[0], s.top_black), std::tuple(1, 1));
  s = signature(*image(3, 3, pf::k32bppARGB));  // 0x00000000: only the centre counts
  EXPECT_EQ(s.bins[16], 1);
  // Opaque black pages: every grid point is 495 (all weights but the
  // centre's 16) and adds 8 to the top black while its row is below
  // round(h / 3). Columns and rows 2, 5, ... up to one before the last; the
  // grid's limits on small pages are compared with the rule below.
  for (const auto& [w, h, points, top_black] : {std::tuple(9, 9, 9, 25), std::tuple(7, 20, 12, 33)}) {
    auto black = image(w, h, pf::k1bppIndexed);
    black->fill_rect({0, 0, w, h}, kBlack);
    s = signature(*black);
    EXPECT_EQ(std::tuple(s.bins[495], s.top_black, s.area),
              std::tuple(int64_t{points}, int64_t{top_black}, int64_t{w} * h))
        << w << "x" << h;
  }
}

TEST(Signature, EveryPixelFormatMatchesTheWrittenRule) {
  std::mt19937 rng(7);
  const uint32_t colours[] = {kBlack, 0x00000000u, 0xFFFFFFFFu, 0x80000000u, 0xFF000001u};
  struct Case {
    raster::PixelFormat f;
    std::vector<uint32_t> palette;  // empty: the format's own
  };
  for (const Case& c : {Case{pf::k1bppIndexed, {}}, Case{pf::k1bppIndexed, {0xFFFFFFFFu, kBlack}},
                        Case{pf::k1bppIndexed, {0x00000000u, kBlack}}, Case{pf::k8bppIndexed, {}},
                        Case{pf::k16bppRGB555, {}}, Case{pf::k24bppRGB, {}},
                        Case{pf::k32bppARGB, {}}, Case{pf::k32bppPARGB, {}}}) {
    // Dense noise on odd sizes (3-pixel windows straddle bytes) and on pages
    // at the grid's limits, then a wide page of paper with sparse marks.
    for (const auto& [w, h, ink_one_in] :
         {std::tuple(61, 47, 1u), std::tuple(1, 1, 1u), std::tuple(2, 9, 1u), std::tuple(5, 5, 1u),
          std::tuple(6, 6, 1u), std::tuple(3, 8, 1u), std::tuple(3, 15, 1u), std::tuple(3, 17, 1u),
          std::tuple(203, 29, 40u)}) {
      auto img = image(w, h, c.f);
      if (!c.palette.empty()) {
        raster::Palette p;
        p.entries = c.palette;
        ASSERT_EQ(img->set_palette(p), raster::Status::Ok);
      }
      for (int32_t y = 0; y < h; ++y) {
        for (int32_t x = 0; x < w; ++x)
          img->set_pixel(x, y, rng() % ink_one_in == 0 ? colours[rng() % 5] : colours[2]);
      }
      const Signature want = reference(*img), got = signature(*img);
      EXPECT_EQ(got.bins, want.bins) << c.f << " " << w;
      EXPECT_EQ(got.top_black, want.top_black) << c.f << " " << w;
    }
  }
}

TEST(Learning, RunningMeansRoundHalfEvenIn64Bits) {
  Family f;
  // Bin 3 learns 1, 2, 3 (1.5 -> 2, 2.33 -> 2), then 3 over one image (2.5 -> 2).
  for (int64_t v : {1, 2, 3}) {
    Signature sig;
    sig.bins[3] = v;
    ASSERT_EQ(LearnInto(f, sig), raster::Status::Ok);
    EXPECT_EQ(f.histogram[3], v == 1 ? 1 : 2);
  }
  f.images = 1;
  Signature sig;
  sig.bins[3] = 3;
  ASSERT_EQ(LearnInto(f, sig), raster::Status::Ok);
  EXPECT_EQ(f.histogram[3], 2);
  // (n - 1) x old overflows 32 bits long before the mean does.
  f.images = f.area = 2'000'000'000;
  sig.area = 1'000'000'000;
  ASSERT_EQ(LearnInto(f, sig), raster::Status::Ok);
  EXPECT_EQ(std::tuple(f.area, f.images),
            std::tuple(2'000'000'000, 2'000'000'001));  // x.50000000025
  f.images = 2147483647;
  EXPECT_EQ(LearnInto(f, sig), raster::Status::ValueOverflow);
  EXPECT_EQ(f.images, 2147483647);
}

TEST(Learning, TheSameImageTwiceKeepsEveryValueAndFamilyIdsAreChecked) {
  auto page = image(40, 31, pf::k24bppRGB);
  page->fill_rect({0, 0, 40, 31}, 0xFFFFFFFFu);
  page->fill_rect({3, 2, 30, 6}, kBlack);
  page->fill_rect({5, 14, 4, 12}, kBlack);
  cRAD rad;
  rad.NewFamily("letters");
  ASSERT_EQ(rad.Learn(*page, 1), raster::Status::Ok);
  Family once = *rad.family(1);
  ASSERT_EQ(rad.Learn(*page, 1), raster::Status::Ok);
  once.images = 2;
  EXPECT_EQ(*rad.family(1), once);
  for (int32_t bad : {0, 2, -1}) EXPECT_EQ(rad.Learn(*page, bad), raster::Status::InvalidParameter);
}

TEST(Relevance, WrittenWeightsAndAFamilyWithNothingLearnedScoresZero) {
  // Distance: |95 - 100| / 10 rounds to 0, then 5 + 2 in other bins, of at
  // most 900 / 9 = 100: patterns 93; sizes 450 / 900 and top blacks 5 / 10: 50.
  Family f;
  f.images = 1, f.area = 900, f.top_black = 10, f.histogram[0] = 95, f.histogram[5] = 5;
  Signature sig;
  sig.area = 450, sig.top_black = 5, sig.bins[0] = 100, sig.bins[7] = 2;
  EXPECT_EQ(Distance(f, sig), 7);
  EXPECT_DOUBLE_EQ(Relevance(f, sig), 0.65 * 93 + 0.15 * 50 + 0.2 * 50);
  sig.bins[7] = 200;  // beyond the area's ninth: no pattern score
  EXPECT_DOUBLE_EQ(Relevance(f, sig), 0.15 * 50 + 0.2 * 50);

  auto white = image(3, 3, pf::k24bppRGB);
  white->fill_rect({0, 0, 3, 3}, 0xFFFFFFFFu);
  cRAD rad;
  raster::Status st;
  auto classify = [&](raster::Image* img) {
    const int32_t id = rad.Classify(img, st);
    return std::tuple(id, rad.last_relevance(), st);
  };
  EXPECT_EQ(classify(white.get()), std::tuple(0, 0.0, raster::Status::Ok));  // no family
  rad.NewFamily("empty");  // its area of 0 would divide by zero; yet some family wins
  EXPECT_EQ(classify(white.get()), std::tuple(1, 0.0, raster::Status::Ok));
  ASSERT_EQ(rad.Learn(*white, 1), raster::Status::Ok);
  EXPECT_EQ(classify(white.get()), std::tuple(1, 100.0, raster::Status::Ok));
  EXPECT_EQ(classify(nullptr), std::tuple(0, 0.0, raster::Status::InvalidParameter));
}

namespace fs = std::filesystem;
using S = cKorvexStatus;
using testutil::read_file;
using testutil::write_file;

class RadTest : public ::testing::Test {
 protected:
  std::string path(const std::string& name) const { return dir_.file(name); }
  // A folder of `n` pages with a black band at row `band`, and files not to be learned.
  std::string scans(const std::string& name, int32_t band, int32_t n) {
    const std::string folder = path(name);
    fs::create_directories(folder + "/sub");
    cKorvex k;
    k.CreateNewImage(60, 80, 24, -1);
    k.DrawFillRectangle(1, band, 60, 10, static_cast<int32_t>(0xFF000000), false);
    for (int32_t i = 0; i < n; ++i) k.SaveAsPng(folder + "/scan" + std::to_string(i) + ".png");
    k.SaveAsPng(folder + "/.hidden.png");
    k.SaveAsPng(folder + "/sub/nested.png");
    std::ofstream(folder + "/notes.txt") << "not an image";
    return folder;
  }
  testutil::ScratchDir dir_;
};

TEST_F(RadTest, FamilyIdsAreCheckedByEveryMember) {
  cKorvex k;
  EXPECT_EQ(k.RADNewFamily("  invoices "), 1);
  EXPECT_EQ(k.RADNewFamily("letters"), 2);
  auto status_of = [&k](auto&& call) {
    call();
    return k.GetStat();
  };
  for (int32_t bad : {0, 3, -1}) {
    const auto statuses = std::tuple(status_of([&] { k.RADSetFamilyTagFromID(bad, "x"); }),
                                     status_of([&] { k.RADDeleteFamily(bad); }),
                                     status_of([&] { k.RADReinitFamily(bad); }));
    EXPECT_EQ(statuses, std::tuple(S::InvalidParameter, S::InvalidParameter, S::InvalidParameter));
    // RADLearnImage checks the id before it notices there is no image.
    EXPECT_EQ((std::tuple{k.RADGetFamilyNameFromID(bad), k.RADGetFamilyTagFromID(bad),
                          k.RADGetImageCountInFamily(bad), k.RADLearnImage(bad)}),
              std::tuple("", "", 0, 2));
    EXPECT_EQ(k.RADGetFamilyCount(), 2);
  }
  EXPECT_EQ((std::tuple{k.RADLearnImage(1), k.RADGetFamilyDocID(), k.GetStat()}),
            std::tuple(2, 0, S::InvalidParameter));  // no native image
  ASSERT_GT(k.CreateNewImage(30, 20, 24, -1), 0);
  EXPECT_EQ(k.RADLearnImage(2), 0);
  k.RADSetFamilyTagFromID(2, "tagged");
  k.RADFreeMemory();  // buffers only: the families stay; names are trimmed
  EXPECT_EQ((std::tuple{k.RADGetFamilyNameFromID(1), k.RADGetImageCountInFamily(2),
                        k.RADGetFamilyDocID()}),
            std::tuple("invoices", 1, 2));
  k.RADDeleteFamily(1);  // "letters" moves down to id 1
  EXPECT_EQ(k.RADGetFamilyTagFromID(1), "tagged");
  k.RADReinitFamily(1);
  EXPECT_EQ((std::tuple{k.RADGetFamilyNameFromID(1), k.RADGetFamilyTagFromID(1),
                        k.RADGetImageCountInFamily(1)}),
            std::tuple("letters", "", 0));
  k.RADNewConfig();
  EXPECT_EQ((std::tuple{k.RADGetFamilyCount(), k.RADGetFamilyDocID(), k.RADGetLastRelevance()}),
            std::tuple(0, 0, 0));
}

TEST_F(RadTest, TheConfigurationFileRoundTripsByteForByte) {
  cKorvex k;
  k.RADSaveConfig(path("none.rad"));
  EXPECT_EQ(read_file(path("none.rad")), std::vector<uint8_t>(4, 0));
  k.RADLoadConfig(path("none.rad"));
  EXPECT_EQ(k.GetStat(), S::Ok);

  k.RADNewFamily("Café");
  k.RADNewFamily("tables");
  ASSERT_GT(k.CreateNewImage(30, 20, 24, -1), 0);
  EXPECT_EQ(k.RADLearnImage(2), 0);
  k.RADSetFamilyTagFromID(2, "ledger №");  // outside code page 1252: '?'
  k.RADSaveConfig(path("two.rad"));
  ASSERT_EQ(k.GetStat(), S::Ok);
  const std::vector<uint8_t> bytes = read_file(path("two.rad"));
  ASSERT_EQ(bytes.size(), 4 + 2 * recognition::kMinFamilyBytes + 4 + 6 + 8);
  EXPECT_EQ(std::vector<uint8_t>(bytes.begin(), bytes.begin() + 10),
            (std::vector<uint8_t>{2, 0, 0, 0, 4, 0, 'C', 'a', 'f', 0xE9}));

  cKorvex other;
  other.RADLoadConfig(path("two.rad"));
  ASSERT_EQ(other.GetStat(), S::Ok);
  EXPECT_EQ((std::tuple{other.RADGetFamilyNameFromID(1), other.RADGetFamilyTagFromID(2),
                        other.RADGetImageCountInFamily(2)}),
            std::tuple("Café", "ledger ?", 1));
  other.RADSaveConfig(path("again.rad"));
  EXPECT_EQ(read_file(path("again.rad")), bytes);
  EXPECT_EQ(other.RADGetFamilyDocID(), 0);  // other has no image
  EXPECT_EQ(k.RADGetFamilyDocID(), 2);
  EXPECT_EQ(k.RADGetLastRelevance(), 100);
}

TEST_F(RadTest, MalformedFilesAreRefusedAndLeaveTheFamilies) {
  std::vector<recognition::Family> one(1);
  one[0].name = "form";
  one[0].tag = "t";
  one[0].images = 1;
  std::vector<uint8_t> good;
  ASSERT_EQ(recognition::WriteConfig(one, good), raster::Status::Ok);
  ASSERT_EQ(good.size(), 4 + recognition::kMinFamilyBytes + 5);
  auto cut = [&](size_t n) { return std::vector<uint8_t>(good.begin(), good.begin() + n); };
  auto with = [&](size_t at, std::vector<uint8_t> b) {
    std::vector<uint8_t> v = good;
    std::copy(b.begin(), b.end(), v.begin() + static_cast<std::ptrdiff_t>(at));
    return v;
  };
  const size_t bins = 4 + 2 + 4, area = bins + 4 * 512, images = area + 8, tag = images + 4;
  const std::vector<std::vector<uint8_t>> bad = {
      {},
      cut(3),                                     // no count
      with(0, {2, 0, 0, 0}),                      // a second family the bytes cannot hold
      with(0, {0xFF, 0xFF, 0xFF, 0x7F}),          // 2^31 - 1 families
      cut(4 + recognition::kMinFamilyBytes - 1),  // less than a family's least size
      cut(bins + 100),                            // cut in the bins
      cut(images),                                // cut before the image count
      cut(tag + 2),                               // cut before the tag's byte
      with(4, {0xFF, 0xFF}),                      // a name longer than the file
      with(tag, {2, 0}),                          // a tag one byte longer than the file
      with(bins + 8, {0, 0, 0, 0x80}),            // a negative bin
      with(area, {0xFF, 0xFF, 0xFF, 0xFF}),       // a negative area
      with(images, {0xFE, 0xFF, 0xFF, 0xFF}),     // a negative image count
  };
  for (size_t i = 0; i < bad.size(); ++i) {
    write_file(path("bad.rad"), bad[i]);
    cKorvex k;
    k.RADNewFamily("kept");
    k.RADLoadConfig(path("bad.rad"));
    EXPECT_EQ(k.GetStat(), S::GenericError) << "case " << i;
    k.RADLoadCompilationFile(path("bad.rad"));
    EXPECT_EQ(k.GetStat(), S::GenericError) << "case " << i;
    EXPECT_EQ(k.RADGetFamilyCount(), 1) << "case " << i;
    EXPECT_EQ(k.RADGetFamilyNameFromID(1), "kept");
    EXPECT_EQ(rad_config_check(bad[i].data(), bad[i].size()), "") << "case " << i;
  }
  // Accepted: bytes after the last family, and a negative count (no
  // families); a missing file is refused as such.
  std::vector<uint8_t> tail = good;
  tail.resize(good.size() + 100, 0xAB);
  write_file(path("tail.rad"), tail);
  write_file(path("none.rad"), {0xFB, 0xFF, 0xFF, 0xFF});
  for (const auto& [file, status, count] : {std::tuple{"tail.rad", S::Ok, 1},
                                            {"none.rad", S::Ok, 0},
                                            {"missing.rad", S::FileNotFound, 1}}) {
    cKorvex k;
    k.RADNewFamily("replaced");
    k.RADLoadConfig(path(file));
    EXPECT_EQ((std::pair{k.GetStat(), k.RADGetFamilyCount()}), std::pair(status, count)) << file;
  }
}

TEST_F(RadTest, SavingReplacesTheFileWholeOrNotAtAll) {
  cKorvex k;
  k.RADNewFamily("first");
  k.RADSaveConfig(path("f.rad"));
  const std::vector<uint8_t> before = read_file(path("f.rad"));
  k.RADNewFamily(std::string(70000, 'x'));  // a name the 16-bit length cannot hold
  k.RADSaveConfig(path("f.rad"));
  EXPECT_EQ(k.GetStat(), S::ValueOverflow);
  EXPECT_EQ(read_file(path("f.rad")), before);
  k.RADDeleteFamily(2);
  k.RADNewFamily("second");
  k.RADSaveConfig(path("f.rad"));
  EXPECT_EQ(k.GetStat(), S::Ok);
  EXPECT_EQ(read_file(path("f.rad")).size(), before.size() + recognition::kMinFamilyBytes + 6);
  k.RADSaveConfig(path("no/such/folder/f.rad"));
  EXPECT_EQ(k.GetStat(), S::FileNotFound);
  EXPECT_EQ(std::distance(fs::directory_iterator(dir_.path()), fs::directory_iterator()), 1);
}

TEST_F(RadTest, FoldersAreLearnedIntoFamiliesAndCompilationsMerge) {
  const std::string forms = scans("forms", 5, 3), letters = scans("letters", 50, 2);
  cKorvex k;
  EXPECT_EQ(k.RADLearnDocuments(forms + "/", path("forms.rad")), 3);
  EXPECT_EQ(k.RADLearnDocuments(letters, path("both.rad")), 2);
  EXPECT_EQ(k.RADLearnDocuments(forms), 3);  // the same family again
  EXPECT_EQ((std::tuple{k.RADGetFamilyCount(), k.RADGetFamilyNameFromID(1),
                        k.RADGetImageCountInFamily(1), k.RADGetImageCountInFamily(2)}),
            std::tuple(2, "forms", 6, 2));
  // Failures change nothing.
  EXPECT_EQ(k.RADLearnDocuments(path("nowhere")), 0);
  EXPECT_EQ(k.GetStat(), S::FileNotFound);
  EXPECT_EQ(k.RADLearnDocuments(forms, path("no/such/folder/x.rad")), 0);
  EXPECT_EQ(k.GetStat(), S::FileNotFound);
  EXPECT_EQ(k.RADGetImageCountInFamily(1), 6);

  // A compilation adds its images to the family of the same name.
  cKorvex m;
  m.RADLoadCompilationFile(path("both.rad"));
  m.RADLoadCompilationFile(path("forms.rad"));
  EXPECT_EQ((std::tuple{m.GetStat(), m.RADGetFamilyCount(), m.RADGetImageCountInFamily(1),
                        m.RADGetImageCountInFamily(2)}),
            std::tuple(S::Ok, 2, 6, 2));
  ASSERT_EQ(m.LoadFromFile(letters + "/scan1.png"), S::Ok);
  EXPECT_EQ((std::pair{m.RADGetFamilyDocID(), m.RADGetLastRelevance()}), std::pair(2, 100));
}

TEST(RadConfigFuzzCorpus, EverySeedKeepsTheInvariants) {
  int seen = 0;
  for (const char* kind : {"corpus", "regressions"}) {
    const fs::path dir = fs::path(KORVEX_SOURCE_DIR) / "fuzz" / kind / "rad_config";
    if (!fs::exists(dir)) continue;
    for (const auto& e : fs::directory_iterator(dir)) {
      const std::vector<uint8_t> seed = read_file(e.path().string());
      EXPECT_EQ(rad_config_check(seed.data(), seed.size()), "") << e.path();
      ++seen;
    }
  }
  EXPECT_GE(seen, 4);
}

}  // namespace
}  // namespace korvex::recognition
