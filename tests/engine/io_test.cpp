// Loading and saving through the stand-in codec: ownership, encoder parameters, the software
// property, crash-safe files, memory forms and the multi-page writer.
#include <filesystem>
#include <fstream>
#include <string>

#include "engine/state.h"
#include "engine_test_util.h"
#include "raster/version.h"
#include "standin_codec.h"

namespace korvex {
namespace {

namespace fs = std::filesystem;

class Saving : public ScratchTest {
 protected:
  void SetUp() override { standin::install(); }
  void TearDown() override { standin::uninstall(); }
  const std::vector<standin::Call>& calls() const { return standin::record().encodes; }
  // A parameter of an encode, -1 when absent.
  static int32_t param(const raster::EncoderParams& p, const raster::Guid& id) {
    return raster::param_value(p, id, -1);
  }
};

// With a 3 x 2 red image in the stand-in format at sub/red.kxr.
class Sources : public Saving {
 protected:
  void SetUp() override {
    Saving::SetUp();
    fs::create_directories(path("sub"));
    testutil::write_file(file_ = path("sub/red.kxr"), standin::encode_bytes(3, 2, 0xFFFF0000));
  }
  std::string file_;
};

TEST_F(Sources, FilesLoadByContentAfterPathCleanUpAndMissingOnesLeaveNoNativeImage) {
  cKorvex k;
  // Backslashes, doubled separators and spaces around the path.
  const int32_t id = k.CreateImageFromFile("  " + dir_.path() + "\\\\sub\\red.kxr ");
  ASSERT_NE(id, 0) << static_cast<int>(k.GetStat());
  EXPECT_EQ((std::tuple{k.GetNativeImage(), k.GetWidth(), k.GetImageFormat()}),
            std::tuple(id, 3, std::string("PNG")));
  EXPECT_FALSE(EngineAccess::state(k).NativeOwned);  // ownership rules: EngineOwnership
  EXPECT_EQ(k.LoadFromFile(path("nothing.png")), S::FileNotFound);
  EXPECT_EQ(k.GetNativeImage(), 0);
  EXPECT_NE(img(id), nullptr);                            // the caller's image was not disposed
  EXPECT_EQ(k.LoadFromFile(dir_.path()), S::Win32Error);  // a folder
  std::ofstream(path("text.txt")) << "hello, not an image";
  EXPECT_EQ(k.LoadFromFile(path("text.txt")), S::UnknownImageFormat);
  std::ofstream{path("empty.png")};
  EXPECT_EQ(k.LoadFromFile(path("empty.png")), S::GenericError);
  k.CloseImage(id);
}

TEST_F(Sources, ByteArraysAreCopiedAndTooShortOnesRefused) {
  cKorvex k;
  const auto encoded = standin::encode_bytes(2, 2, 0xFF00FF00);
  Array<uint8_t> bytes(encoded);
  const int32_t id = k.CreateImageFromByteArray(bytes);
  ASSERT_NE(id, 0);
  std::fill(bytes.values().begin(), bytes.values().end(), 0);
  bytes.Erase();
  EXPECT_EQ(pixel(id, 1, 1), 0xFF00FF00u);
  Array<uint8_t> one(std::vector<uint8_t>{0x42});
  EXPECT_EQ((std::pair{k.CreateImageFromByteArray(one), k.GetStat()}),
            std::pair(0, S::InvalidParameter));
  // An array whose upper bound is 1 with a lower bound of 1 holds a single byte.
  Array<uint8_t> based;
  based.Redim({{1, 1}});
  EXPECT_EQ(k.LoadFromByteArray(based), S::InvalidParameter);
  Array<uint8_t> throwing(standin::encode_bytes(1, 1, 0));
  throwing.values()[4] = 0xEE;  // makes the stand-in decoder throw
  EXPECT_EQ((std::pair{k.CreateImageFromByteArray(throwing), static_cast<int>(k.GetStat())}),
            std::pair(0, 23));
  k.CloseImage(id);
}

TEST_F(Sources, ImageStringsNeedTwoCharactersAndStreamsAreReadFromTheirPosition) {
  cKorvex k;
  EXPECT_EQ((std::pair{k.CreateImageFromString(""), k.GetStat()}), std::pair(0, S::GenericError));
  // One character, three UTF-8 bytes.
  EXPECT_EQ((std::pair{k.CreateImageFromString("\xE2\x82\xAC"), k.GetStat()}),
            std::pair(0, S::ProfileNotFound));
  EXPECT_EQ(k.LoadFromString("ab"), S::UnknownImageFormat);

  auto encoded = standin::encode_bytes(4, 1, 0xFF0000FF);
  std::vector<uint8_t> with_prefix = {'j', 'u', 'n', 'k'};
  with_prefix.insert(with_prefix.end(), encoded.begin(), encoded.end());
  auto stream = std::make_shared<MemoryStream>(with_prefix);
  stream->Seek(4, Stream::kBegin);
  ASSERT_EQ(k.LoadFromStream(stream), S::Ok);
  EXPECT_EQ(k.GetWidth(), 4);
  EXPECT_EQ(k.LoadFromStream(nullptr), S::InvalidParameter);
  EXPECT_EQ(k.GetNativeImage(), 0);
  // At its end now: nothing to read.
  EXPECT_EQ((std::pair{k.CreateImageFromStream(stream), k.GetStat()}),
            std::pair(0, S::GenericError));
}

TEST_F(Saving, JpegQualityIsPassedOnlyWhenAtLeastOneAndFileSavesStampTheSoftwareTag) {
  cKorvex k;
  ASSERT_EQ(k.CreateImage(4, 3, 24), S::Ok);
  for (int32_t q : {0, -5, 100}) ASSERT_EQ(k.SaveAsJpeg(path("a.jpg"), q), S::Ok);
  ASSERT_EQ(calls().size(), 3u);
  EXPECT_TRUE(calls()[0].params.empty() && calls()[1].params.empty());
  EXPECT_EQ(param(calls()[2].params, raster::encparam::kQuality), 100);
  EXPECT_EQ(calls()[2].software, "Korvex https://korvex.org");
  // The stamp is left on the image; BMP saves do not add it.
  ASSERT_EQ(k.CreateImage(4, 3, 24), S::Ok);
  ASSERT_EQ(k.SaveAsBmp(path("a.bmp")), S::Ok);
  EXPECT_FALSE(calls().back().had_software_tag);
  ASSERT_EQ(k.SaveAsPng(path("a.png")), S::Ok);
  EXPECT_TRUE(calls().back().had_software_tag);
  EXPECT_TRUE(img(k.GetNativeImage())->property(305) != nullptr);
}

TEST_F(Saving, TiffRuleTurnsFaxCompressionOfDeepImagesIntoLzwAndDepth16Into24) {
  // Image depth, SaveAsTiff's compression and depth, then the compression and depth the
  // encoder gets (-1: not passed). Depth 1 asked allows fax compression of a deep image.
  const struct {
    int16_t bpp;
    int32_t compression, depth, want_compression, want_depth;
  } cases[] = {{24, 4, 0, 2, -1}, {24, 2, 16, 2, 24}, {24, 0, 0, -1, -1},
               {24, 3, 1, 3, 1},  {1, 4, 0, 4, -1},   {1, 5, 8, 2, 8}};
  cKorvex k;
  for (const auto& c : cases) {
    SCOPED_TRACE(::testing::Message() << c.bpp << " bits, " << c.compression << ", " << c.depth);
    ASSERT_EQ(k.CreateImage(8, 2, c.bpp), S::Ok);
    ASSERT_EQ(k.SaveAsTiff(path("a.tif"), c.compression, c.depth), S::Ok);
    const raster::EncoderParams& p = calls().back().params;
    EXPECT_EQ(param(p, raster::encparam::kCompression), c.want_compression);
    EXPECT_EQ(param(p, raster::encparam::kColorDepth), c.want_depth);
    ASSERT_EQ(p.size(), size_t{c.want_compression >= 0} + size_t{c.want_depth >= 0});
    EXPECT_TRUE(p.size() < 2 || p[0].id == raster::encparam::kCompression);  // compression first
  }
  // Under an old raster version depths 1..23 are not passed.
  raster::set_version_text_for_testing("5.1.0.0");
  ASSERT_EQ(k.SaveAsTiff(path("a.tif"), 6, 8), S::Ok);
  raster::set_version_text_for_testing("");
  EXPECT_EQ(param(calls().back().params, raster::encparam::kColorDepth), -1);
}

TEST_F(Saving, SoftwareTagBypassHoldsForEveryEngineOfTheThread) {
  cKorvex a, b;  // a new engine switching it back on: EngineSession
  bool bypass = true;
  a.TagsBypassKorvexTag(bypass);
  ASSERT_EQ(b.CreateImage(2, 2), S::Ok);
  ASSERT_EQ(b.SaveAsPng(path("x.png")), S::Ok);
  EXPECT_FALSE(calls().back().had_software_tag);
}

TEST_F(Saving, MemoryFormsLookUpTheFormatCaseInsensitivelyAndStringsGoThroughCodePage1252) {
  cKorvex k;
  ASSERT_EQ(k.CreateImage(3, 2, 32), S::Ok);
  Array<uint8_t> bytes;
  int32_t n = 0;
  ASSERT_EQ(k.SaveAsByteArray(bytes, n, " JPG ", 0), S::Ok);
  EXPECT_TRUE(calls().back().params.empty());
  EXPECT_FALSE(calls().back().had_software_tag);
  EXPECT_EQ(std::make_tuple(bytes.LBound(), bytes.UBound(), bytes.size()),
            std::make_tuple(0, n - 1, static_cast<size_t>(n)));
  // Format, the number given, the parameter it becomes (-1: none passed).
  for (auto [format, value, id, want] : {std::tuple{"jpg", 50, raster::encparam::kQuality, 50},
                                         {"jpg", -3, raster::encparam::kQuality, 75},
                                         {"tif", 4, raster::encparam::kCompression, 4},
                                         {"png", 7, raster::encparam::kQuality, -1}}) {
    ASSERT_EQ(k.SaveAsByteArray(bytes, n, format, value), S::Ok);
    EXPECT_EQ(param(calls().back().params, id), want) << format << " " << value;
    EXPECT_EQ(calls().back().params.size(), size_t{want >= 0}) << format << " " << value;
    EXPECT_TRUE(calls().back().had_software_tag);
  }
  // Unknown formats fall back to BMP: checked with the real encoders in roundtrip_test.

  std::shared_ptr<Stream> stream;
  ASSERT_EQ(k.SaveAsStream(stream, "png"), S::Ok);
  ASSERT_NE(stream, nullptr);
  EXPECT_EQ(stream->Tell(), stream->Size());  // positioned after the last byte
  // A failing encoder leaves the caller's stream as it was.
  standin::record().fail_next_encode = true;
  auto previous = stream;
  EXPECT_EQ(k.SaveAsStream(stream, "png"), S::Win32Error);
  EXPECT_EQ(stream, previous);

  // Image strings through code page 1252: RealCodecs. Without a native image nothing is encoded.
  k.CloseNativeImage();
  EXPECT_EQ(k.SaveAsString("png"), "");
}

// Temporary files, permissions and missing folders: host's AtomicWrites.
TEST_F(Saving, AFailedSaveLeavesTheOldFile) {
  cKorvex k;
  ASSERT_EQ(k.CreateImage(2, 2), S::Ok);
  const std::string target = path("keep.png");
  { std::ofstream(target) << "precious"; }
  standin::record().fail_next_encode = true;
  EXPECT_EQ(k.SaveAsPng(target), S::Win32Error);
  EXPECT_EQ(slurp(target), "precious");
  ASSERT_EQ(k.SaveAsPng(target), S::Ok);
  EXPECT_EQ(slurp(target).substr(0, 4), "KXR1");
  // Saving over the file the native image was loaded from.
  for (S s : {k.LoadFromFile(target), k.SaveAsPng(target), k.LoadFromFile(target)})
    ASSERT_EQ(s, S::Ok);
  EXPECT_EQ(k.GetWidth(), 2);
  // An encoder gone from the registry: UnknownImageFormat, and nothing written.
  standin::uninstall();
  EXPECT_EQ(k.SaveAsPng(path("gone.png")), S::UnknownImageFormat);
  EXPECT_FALSE(fs::exists(path("gone.png")));
}

TEST_F(Saving, MultiPageWriterFollowsItsFirstPageImage) {
  cKorvex k;
  EXPECT_EQ(k.TiffAddToNativeMultipage(1), S::GenericError);  // nothing open
  ASSERT_EQ(k.CreateImage(6, 6, 24), S::Ok);
  const int32_t first = k.GetNativeImage();
  const std::string file = path("pages.tif");
  ASSERT_EQ(k.TiffSaveAsNativeMultiPage(file, 4), S::Ok);
  const auto& pages = standin::record().pages;
  ASSERT_EQ(pages.size(), 1u);
  EXPECT_EQ(pages[0].params[0].value, raster::encparam::kMultiFrame);
  EXPECT_EQ(param(pages[0].params, raster::encparam::kCompression), 2);  // 24-bit: LZW
  EXPECT_FALSE(pages[0].had_software_tag);
  const int32_t second = k.CreateNewImage(3, 3, 1);
  k.SetNativeImage(first);
  ASSERT_EQ(k.TiffAddToNativeMultipage(second), S::Ok);
  EXPECT_EQ(pages.back().params.size(), 1u);
  EXPECT_EQ(pages.back().params[0].value, raster::encparam::kFrameDimensionPage);
  EXPECT_EQ(k.TiffAddToNativeMultipage(999999), S::InvalidParameter);
  EXPECT_FALSE(fs::exists(file));  // the file appears when it is complete
  ASSERT_EQ(k.TiffCloseNativeMultiPage(), S::Ok);
  EXPECT_EQ(slurp(file), "pages 2");
  // The first page image was closed with the file; added pages stay the caller's.
  EXPECT_TRUE(k.GetNativeImage() == 0 && img(first) == nullptr && img(second) != nullptr);
  EXPECT_EQ(k.TiffAddToNativeMultipage(second), S::GenericError);

  // Rebuilding the first-page image completes the file and ends the writer.
  ASSERT_EQ(k.CreateImage(2, 2, 24), S::Ok);
  ASSERT_EQ(k.TiffSaveAsNativeMultiPage(path("rebuilt.tif")), S::Ok);
  ASSERT_EQ(k.ConvertTo32Bpp(), S::Ok);
  EXPECT_EQ(slurp(path("rebuilt.tif")), "pages 1");
  EXPECT_EQ(k.TiffAddToNativeMultipage(second), S::GenericError);
  // Closing it from another engine completes the file too.
  ASSERT_EQ(k.TiffSaveAsNativeMultiPage(path("closed.tif"), 6), S::Ok);
  cKorvex other;
  EXPECT_EQ(other.CloseImage(k.GetNativeImage()), S::Ok);
  EXPECT_EQ(slurp(path("closed.tif")), "pages 1");
  EXPECT_EQ(k.TiffAddToNativeMultipage(second), S::GenericError);
  EXPECT_EQ(standin::record().finished, 3);
  k.CloseImage(second);
}

}  // namespace
}  // namespace korvex
