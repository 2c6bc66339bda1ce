// The RAD... members: family ids, the configuration file (round trip,
// refusals that leave the families as they were, crash-safe saving), folders
// of scans and compilation files, and the replay of the fuzz corpus.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <tuple>
#include <vector>

#include "../../fuzz/rad_config_check.h"
#include "../codecs/codec_test_util.h"
#include "korvex/korvex.h"
#include "recognition/rad.h"

namespace korvex {
namespace {

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
  k.RADFreeMemory();  // buffers only: the families stay
  EXPECT_EQ((std::tuple{k.RADGetImageCountInFamily(2), k.RADGetFamilyDocID()}), std::tuple(1, 2));
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
  // Accepted: bytes after the last family, and a negative count (no families).
  std::vector<uint8_t> tail = good;
  tail.resize(good.size() + 100, 0xAB);
  for (const auto& [bytes, count] :
       {std::pair{tail, 1}, std::pair{std::vector<uint8_t>{0xFB, 0xFF, 0xFF, 0xFF}, 0}}) {
    write_file(path("ok.rad"), bytes);
    cKorvex k;
    k.RADNewFamily("replaced");
    k.RADLoadConfig(path("ok.rad"));
    EXPECT_EQ(k.GetStat(), S::Ok);
    EXPECT_EQ(k.RADGetFamilyCount(), count);
  }
  cKorvex k;
  k.RADNewFamily("kept");
  k.RADLoadConfig(path("missing.rad"));
  EXPECT_EQ(k.GetStat(), S::FileNotFound);
  EXPECT_EQ(k.RADGetFamilyCount(), 1);
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
}  // namespace korvex
