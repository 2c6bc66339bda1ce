// The native image's life cycle and queries; per-thread module state and small helpers.
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "engine/core.h"
#include "engine/module_state.h"
#include "engine/paths.h"
#include "engine/state.h"
#include "engine_test_util.h"
#include "korvex/global_memory.h"
#include "raster/rounding.h"
#include "raster/version.h"

namespace korvex {
namespace {

cKorvex::State& st(cKorvex& k) {
  return EngineAccess::state(k);
}

TEST(EngineState, QueriesWithoutAnImageGiveEmptyValuesAndInvalidParameter) {
  cKorvex k;
  EXPECT_EQ((std::pair{k.GetNativeImage(), k.GetStat()}), std::pair(0, S::Ok));
  EXPECT_EQ((std::pair{k.GetWidth(), k.GetStat()}), std::pair(0, S::InvalidParameter));
  k.LoadFromImage(0);
  EXPECT_EQ((std::pair{k.GetImageFormat(), k.GetStat()}),
            std::pair(std::string(), S::InvalidParameter));
  EXPECT_EQ((std::pair{k.GetPixelFormat(), k.GetStat()}),
            std::pair(std::string(), S::InvalidParameter));
  EXPECT_EQ((std::tuple{k.GetWidthMM(), k.GetVerticalResolution(), k.GetIntPixelFormat(),
                        k.IsPixelFormatIndexed()}),
            std::tuple(0.0f, 0, 0, false));
}

TEST(EngineOwnership, SetNativeImageAdoptsWithoutOwningOrClosingAndLoadFromImageClosesFirst) {
  cKorvex k;
  const int32_t other = k.CreateNewImage(4, 4);
  ASSERT_EQ(k.CreateImage(8, 8), S::Ok);
  const int32_t owned = k.GetNativeImage();
  // Same identifier: nothing changes, not even ownership or the status.
  st(k).LastStatus = S::Aborted;
  k.SetNativeImage(owned);
  EXPECT_EQ((std::pair{st(k).NativeOwned, k.GetStat()}), std::pair(true, S::Aborted));
  k.SetNativeImage(other);
  EXPECT_FALSE(st(k).NativeOwned);
  EXPECT_NE(img(owned), nullptr);  // the previous native image is not closed
  // Closing a native image the engine does not own only forgets it, and
  // returns the status as it was.
  EXPECT_EQ(k.CloseNativeImage(), S::Aborted);
  EXPECT_EQ(k.GetNativeImage(), 0);
  EXPECT_NE(img(other), nullptr);
  // LoadFromImage closes an owned native image first, and does not own the new one.
  k.SetNativeImage(owned);
  st(k).NativeOwned = true;
  EXPECT_EQ(k.LoadFromImage(other), S::Ok);
  EXPECT_EQ(img(owned), nullptr);
  EXPECT_EQ(std::make_pair(k.GetNativeImage(), st(k).NativeOwned), std::make_pair(other, false));
  // CreateImage owns its image and closes only the engine's own one first;
  // CreateNewImage's image is the caller's, and an owned one is forgotten, not closed.
  ASSERT_EQ(k.CreateImage(3, 3, 8), S::Ok);
  const int32_t third = k.GetNativeImage();
  ASSERT_EQ(k.CreateImage(1, 1), S::Ok);
  EXPECT_TRUE(img(other) != nullptr && img(third) == nullptr);
  const int32_t fourth = k.GetNativeImage(), fifth = k.CreateNewImage(2, 2);
  EXPECT_TRUE(img(fourth) != nullptr && !st(k).NativeOwned);
  ASSERT_EQ(k.CreateImage(1, 1), S::Ok);
  EXPECT_NE(img(fifth), nullptr);
  for (int32_t id : {other, fourth, fifth}) EXPECT_EQ(k.CloseImage(id), S::Ok);
}

TEST(EngineClose, ClosingZeroStaleOrUnknownIdentifiersTouchesNothing) {
  cKorvex k;
  ASSERT_EQ(k.CreateImage(3, 3), S::Ok);
  const int32_t id = k.GetNativeImage();
  st(k).MultiPageTarget = id;
  st(k).LastStatus = S::WrongState;
  EXPECT_EQ(k.CloseImage(0), S::WrongState);  // the previous status, unchanged
  EXPECT_EQ(k.GetStat(), S::WrongState);
  EXPECT_EQ(k.CloseImage(id), S::Ok);
  EXPECT_EQ(std::make_pair(k.GetNativeImage(), st(k).MultiPageTarget), std::make_pair(0, 0));
  // Already closed, never opened, negative.
  for (int32_t bad : {id, 123456789, -7}) EXPECT_EQ(k.CloseImage(bad), S::InvalidParameter);

  // Closing an owned native image that another engine already closed fails
  // and leaves the engine's fields as they were.
  ASSERT_EQ(k.CreateImage(3, 3), S::Ok);
  const int32_t native = k.GetNativeImage();
  cKorvex other;
  EXPECT_EQ(other.CloseImage(native), S::Ok);
  EXPECT_EQ(k.CloseNativeImage(), S::InvalidParameter);
  EXPECT_EQ(std::make_pair(k.GetNativeImage(), st(k).NativeOwned), std::make_pair(native, true));
}

TEST(EngineClone, CloneImageAndFormatConversionReplaceTheNativeImageCreateClonedImageLeavesIt) {
  cKorvex k;
  ASSERT_EQ(k.CreateImage(5, 4, 24), S::Ok);
  const int32_t first = k.GetNativeImage();
  ASSERT_EQ(img(first)->set_pixel(4, 3, 0xFF123456), raster::Status::Ok);
  // Cloning the engine's own owned native image: the copy is made first.
  EXPECT_EQ(k.CloneImage(k.GetNativeImage()), S::Ok);
  const int32_t second = k.GetNativeImage();
  EXPECT_TRUE(second != 0 && second != first && st(k).NativeOwned);
  EXPECT_EQ(img(first), nullptr);  // the owned original was closed
  EXPECT_EQ(pixel(second, 4, 3), 0xFF123456u);
  const int32_t third = k.CreateClonedImage(second);
  EXPECT_NE(third, 0);
  EXPECT_EQ(k.GetNativeImage(), second);
  // A failed CloneImage still closes the owned native image.
  EXPECT_EQ(k.CloneImage(987654321), S::InvalidParameter);
  EXPECT_EQ(k.GetNativeImage(), 0);
  EXPECT_EQ(img(second), nullptr);
  k.CloseImage(third);
  // ConvertNativePixelFormat replaces the native image the same way and keeps ownership.
  ASSERT_EQ(k.CreateImage(4, 4, 32), S::Ok);
  const int32_t before = k.GetNativeImage();
  ASSERT_EQ(img(before)->set_resolution(200.4f, 199.5f), raster::Status::Ok);
  EXPECT_EQ(ConvertNativePixelFormat(st(k), raster::pf::k1bppIndexed), S::Ok);
  EXPECT_TRUE(k.GetNativeImage() != before && st(k).NativeOwned);  // pixels: frames_test
  EXPECT_EQ(img(before), nullptr);
  // 199.5 remembered as 200 (half to even).
  EXPECT_EQ(std::make_pair(k.GetHorizontalResolution(), k.GetVerticalResolution()),
            std::make_pair(200, 200));
}

TEST(EngineClone, PixelFormatClonesWorkOnTheGivenImageWithoutANativeOne) {
  cKorvex maker;
  const int32_t src = maker.CreateNewImage(3, 2, 8);
  ASSERT_NE(src, 0);
  const raster::Palette p{0, {0xFF000000, 0xFF102030, 0xFF405060}};
  ASSERT_EQ(img(src)->set_palette(p), raster::Status::Ok);
  img(src)->surface().row(1)[2] = 2;
  ASSERT_EQ(img(src)->set_resolution(150.0f, 75.0f), raster::Status::Ok);
  ASSERT_EQ(img(src)->set_property({305, raster::ptype::kAscii, {'x', 0}}), raster::Status::Ok);

  cKorvex k;  // no native image
  const int32_t same = k.CreateClonedImageI(src);
  ASSERT_NE(same, 0);
  EXPECT_EQ((std::pair{k.GetStat(), k.GetNativeImage()}), std::pair(S::Ok, 0));
  EXPECT_EQ(img(same)->format(), raster::pf::k8bppIndexed);
  // The copy keeps the palette, so the colour survives (not the nearest default colour).
  EXPECT_EQ(img(same)->palette(), p);
  EXPECT_EQ(img(same)->surface().row(1)[2], 2);
  EXPECT_EQ(RoundHalfEven(img(same)->dpi_x()), 150);
  ASSERT_NE(img(same)->property(305), nullptr);

  const int32_t argb = k.CreateClonedImageARGB(src);
  ASSERT_NE(argb, 0);
  EXPECT_EQ(std::pair(img(argb)->format(), pixel(argb, 2, 1)),
            std::pair(raster::pf::k32bppARGB, 0xFF405060u));
  EXPECT_EQ((std::pair{k.CreateClonedImageARGB(0), k.GetStat()}),
            std::pair(0, S::InvalidParameter));

  // Under an old raster version a converting write into an indexed copy is
  // refused, and the half-built copy is not left behind.
  const size_t open = raster::open_image_count();
  raster::set_version_text_for_testing("5.1.3102.0");
  const int32_t rgb = maker.CreateNewImage(2, 2, 24);
  EXPECT_EQ((std::pair{CloneToPixelFormat(st(k), rgb, raster::pf::k8bppIndexed), k.GetStat()}),
            std::pair(0, S::PixelFormatMustBeConverted));
  EXPECT_EQ(raster::open_image_count(), open + 1);
  raster::set_version_text_for_testing("");
  for (int32_t id : {src, same, argb, rgb}) EXPECT_EQ(k.CloseImage(id), S::Ok);
}

TEST(EngineTags, SaveImageInfoStartsAfreshAndRestoreObeysPreserveTags) {
  cKorvex k;
  const int32_t a = k.CreateNewImage(2, 2, 24);
  ASSERT_EQ(img(a)->set_property({305, raster::ptype::kAscii, {'a', 0}}), raster::Status::Ok);
  const int32_t b = k.CreateNewImage(2, 2, 24);
  // Preserving on and off through rebuilt images: tags_test.
  SaveImageInfo(st(k), a);
  SaveImageInfo(st(k), b);  // no tags: nothing left over from a
  EXPECT_TRUE(st(k).SavedTagCount == 0 && st(k).SavedTags.empty());
  {
    PreserveTagsOverride off(st(k), false);
    SaveImageInfo(st(k), a);
    EXPECT_EQ(st(k).SavedTagCount, 0);
  }
  SaveImageInfo(st(k), a);
  RestoreImageInfo(st(k), b);
  EXPECT_NE(img(b)->property(305), nullptr);
  EXPECT_EQ(st(k).SavedTagCount, 0);
  for (int32_t id : {a, b}) k.CloseImage(id);
}

// Filter zones (the picture, or a zone left alone) through the effects: processing's Zone tests.
TEST(EngineQueries, ResolutionRoundsHalfToEvenAndMillimetresNeedOneDpi) {
  cKorvex k;
  ASSERT_EQ(k.CreateImage(254, 100), S::Ok);
  EXPECT_EQ(std::make_pair(k.GetImageFormat(), k.GetHorizontalResolution()),
            std::make_pair(std::string("Memory BMP"), 96));
  raster::Image* i = img(k.GetNativeImage());
  ASSERT_EQ(i->set_resolution(72.5f, 73.5f), raster::Status::Ok);
  EXPECT_EQ(std::make_pair(k.GetHorizontalResolution(), k.GetVerticalResolution()),
            std::make_pair(72, 74));
  ASSERT_EQ(i->set_resolution(254.0f, 0.4f), raster::Status::Ok);
  EXPECT_FLOAT_EQ(k.GetWidthMM(), 25.4f);
  EXPECT_EQ(k.GetHeightMM(), 0.0f);  // 0.4 dpi rounds to 0
  EXPECT_EQ(k.GetStat(), S::Ok);
  // A GUID that is no image format at all reads as undefined (real formats: EverySample).
  i->set_raw_format(raster::guids::kFrameDimensionPage);
  EXPECT_EQ(k.GetImageFormat(), "Undefined");
}

TEST(EngineClose, ClosingReleasesADibBlockOnlyWhenHandedItAndTheKeptBufferOfItsOwner) {
  cKorvex k;
  const size_t blocks = host::GlobalBlockCount();
  int32_t ids[3], handles[3];
  for (int i = 0; i < 3; ++i) {
    std::unique_ptr<raster::Image> over;
    uint8_t* bits = host::GlobalLock(handles[i] = host::GlobalAlloc(16));
    ASSERT_EQ(raster::Image::create_from_scan0(2, 2, 8, raster::pf::k24bppRGB, bits, over),
              raster::Status::Ok);
    ids[i] = raster::register_image(std::move(over));
    host::GlobalUnlock(handles[i]);
    DibImageTableAdd(handles[i], ids[i], i == 1 ? 0 : 1);
  }
  ASSERT_EQ(module_state().DibImageTable.size(), 3u);
  EXPECT_EQ(k.CloseImage(ids[0]), S::Ok);
  EXPECT_EQ(host::GlobalSize(handles[0]), 0u);  // freed
  EXPECT_EQ(k.CloseImage(ids[1]), S::Ok);
  EXPECT_EQ(k.CloseImage(ids[1]), S::InvalidParameter);
  EXPECT_EQ(host::GlobalSize(handles[1]), 16u);  // left to its owner
  EXPECT_TRUE(host::GlobalFree(handles[1]));
  EXPECT_EQ(k.CloseImage(ids[2]), S::Ok);
  EXPECT_TRUE(module_state().DibImageTable.empty());
  EXPECT_EQ(host::GlobalBlockCount(), blocks);

  const int32_t a = k.CreateNewImage(1, 1), b = k.CreateNewImage(1, 1);
  module_state().KeptBytes.assign(100, 7);
  module_state().KeptBytesOwner = a;
  k.CloseImage(b);
  EXPECT_EQ(module_state().KeptBytes.size(), 100u);
  k.CloseImage(a);
  EXPECT_TRUE(module_state().KeptBytes.empty() && module_state().KeptBytesOwner == 0);
}

TEST(EngineSession, EnginesOfAThreadShareImagesWhichDieWithTheLastOne) {
  const size_t open = raster::open_image_count();
  int32_t id = 0;
  {
    cKorvex outer;
    {
      module_state().WriteSoftwareTag = false;
      cKorvex a;  // each new engine switches the software tag back on
      EXPECT_TRUE(module_state().WriteSoftwareTag && module_state().session.started);
      EXPECT_EQ(module_state().session.users, 2);
      id = a.CreateNewImage(6, 5);  // two users counted: module_state_test
    }
    // The image outlives the engine that made it while another engine lives.
    outer.SetNativeImage(id);
    EXPECT_EQ(outer.GetWidth(), 6);
    EXPECT_EQ(module_state().session.version, raster::version_text());
  }
  EXPECT_FALSE(module_state().session.started);
  EXPECT_EQ(raster::open_image_count(), open);
  cKorvex k;
  k.SetNativeImage(id);
  EXPECT_EQ((std::pair{k.GetWidth(), k.GetStat()}), std::pair(0, S::InvalidParameter));
  EXPECT_NE(k.CreateNewImage(1, 1), id);  // identifiers are not handed out again
}

TEST(EngineSession, AnEngineOutlivingItsThreadsStateLeavesQuietly) {
  // The pointer is constructed before the engine creates the thread's state,
  // so it is destroyed after that state at thread exit.
  std::thread t([] {
    thread_local std::unique_ptr<cKorvex> k;
    k = std::make_unique<cKorvex>();
    EXPECT_EQ(k->CreateImage(2, 2), S::Ok);
  });
  t.join();
}

TEST(EngineSession, IdentifiersWrapAroundPastTheLargestAndSkipOpenOnes) {
  cKorvex k;
  raster::set_identifier_counter_for_testing(2147483645);  // next: 2147483646
  const int32_t a = k.CreateNewImage(1, 1), b = k.CreateNewImage(1, 1), c = k.CreateNewImage(1, 1);
  EXPECT_EQ(std::make_tuple(a, b, c), std::make_tuple(2147483646, 2147483647, 1));
  raster::set_identifier_counter_for_testing(2147483645 + 2147483647ull);  // 2147483646 again
  const int32_t d = k.CreateNewImage(1, 1);
  EXPECT_EQ(d, 2);  // 2147483646 and 2147483647 are open, 1 is open: skipped
  for (int32_t id : {a, b, c, d}) EXPECT_EQ(k.CloseImage(id), S::Ok);
}

TEST(BlankImages, EveryDepthGetsItsFormatBitsZeroByDefaultAndCreateImageIsOpaqueWhite) {
  const struct {
    int16_t depth;
    raster::PixelFormat f;
    const char* name;
    std::vector<uint8_t> white;  // CreateImage's first bytes of a row
  } table[] = {{1, raster::pf::k1bppIndexed, "1bppIndexed", {0xFF}},
               {4, raster::pf::k4bppIndexed, "4bppIndexed", {0xFF}},  // index 15 twice
               {8, raster::pf::k8bppIndexed, "8bppIndexed", {15}},
               {16, raster::pf::k16bppRGB555, "16bppRGB555", {0xFF, 0x7F}},
               {24, raster::pf::k24bppRGB, "24bppRGB", std::vector<uint8_t>(3, 0xFF)},
               {32, raster::pf::k32bppARGB, "32bppARGB", std::vector<uint8_t>(4, 0xFF)},
               {48, raster::pf::k48bppRGB, "48bppRGB", std::vector<uint8_t>(6, 0xFF)},
               {64, raster::pf::k64bppPARGB, "64bppPARGB", std::vector<uint8_t>(8, 0xFF)}};
  cKorvex k;
  for (const auto& row : table) {
    SCOPED_TRACE(row.depth);
    const int32_t id = k.CreateNewImage(9, 3, row.depth);
    ASSERT_NE(id, 0);
    EXPECT_EQ((std::tuple{k.GetStat(), k.GetNativeImage(), img(id)->format()}),
              std::tuple(S::Ok, id, row.f));
    EXPECT_EQ((std::tuple{k.GetPixelFormat(), k.GetIntPixelFormat(), k.IsPixelFormatIndexed()}),
              std::tuple(std::string(row.name), int32_t{row.depth}, row.depth <= 8));
    const raster::Surface& s = img(id)->surface();
    const std::vector<uint8_t> zero(static_cast<size_t>(s.stride), 0);
    for (int32_t y = 0; y < 3; ++y) EXPECT_EQ(std::memcmp(s.row(y), zero.data(), zero.size()), 0);
    EXPECT_EQ(pixel(id, 8, 2), raster::has_alpha(row.f) ? 0x00000000u : 0xFF000000u);
    k.CloseImage(id);
    ASSERT_EQ(k.CreateImage(8, 2, row.depth), S::Ok);
    const raster::Surface& w = img(k.GetNativeImage())->surface();
    EXPECT_EQ(std::memcmp(w.row(1), row.white.data(), row.white.size()), 0);
    EXPECT_EQ(pixel(k.GetNativeImage(), 7, 1), 0xFFFFFFFFu);
  }
}

TEST(BlankImages, BackColoursAreCompositedLikeAFilledRectangle) {
  cKorvex k;
  // Over the transparent 32-bit bitmap a translucent colour stays as given;
  // over the black 24-bit one it is blended.
  const int32_t argb = k.CreateNewImage(2, 2, 32, static_cast<int32_t>(0x80FF8040));
  EXPECT_EQ(pixel(argb, 1, 1), 0x80FF8040u);
  const int32_t rgb = k.CreateNewImage(2, 2, 24, static_cast<int32_t>(0x80FF8040));
  EXPECT_EQ(pixel(rgb, 0, 0), 0xFF804020u);
  const int32_t pal = k.CreateNewImage(2, 2, 4, static_cast<int32_t>(0xFF0000F0));
  EXPECT_EQ(img(pal)->surface().row(0)[0], 0x99);  // nearest standard colour: blue (9)
  for (int32_t id : {argb, rgb, pal}) k.CloseImage(id);
}

TEST(BlankImages, RefusedDepthsAndSizesLeaveTheNativeImageAlone) {
  cKorvex k;
  ASSERT_EQ(k.CreateImage(4, 4), S::Ok);
  const int32_t native = k.GetNativeImage();
  const size_t open = raster::open_image_count();
  // Refused depths and sizes; 80 GB is over the pixel memory limit.
  const struct {
    int32_t w, h;
    int16_t depth;
    S status;
  } cases[] = {{4, 4, 0, S::InvalidParameter},   {4, 4, 2, S::InvalidParameter},
               {4, 4, 12, S::InvalidParameter},  {4, 4, -32, S::InvalidParameter},
               {4, 4, 128, S::InvalidParameter}, {0, 4, 32, S::InvalidParameter},
               {4, -4, 32, S::InvalidParameter}, {100000, 100000, 64, S::OutOfMemory}};
  for (const auto& c : cases) {
    SCOPED_TRACE(::testing::Message() << c.w << " x " << c.h << " x " << c.depth);
    EXPECT_EQ(k.CreateNewImage(c.w, c.h, c.depth), 0);
    EXPECT_EQ(k.GetStat(), c.status);
  }
  EXPECT_EQ(k.GetNativeImage(), native);
  EXPECT_EQ(raster::open_image_count(), open);
}

TEST(EncoderTable, PatternsAreCaseInsensitiveAndTheFirstEncoderListedWins) {
  raster::Guid a{1, 0, 0, {}}, b{2, 0, 0, {}}, c{3, 0, 0, {}};
  EncoderTable t;
  t.build({{a, "*.BMP;*.DIB;*.RLE"},
           {b, "*.JPG;*.JPEG;*.JPE;*.JFIF"},
           {c, "*.jpg; *.TIF;*.TIFF  "}});  // claims *.jpg too; only the last piece is trimmed
  ASSERT_EQ(t.clsids.size(), 3u);
  EXPECT_EQ(t.clsids[2], c);
  // Inner pieces keep their spaces: " *.tif", not "*.tif".
  for (auto [pattern, index] : {std::pair{"*.bmp", 0},
                                {"*.Jfif", 1},
                                {"*.jpg", 1},
                                {"*.tiff", 2},
                                {" *.tif", 2},
                                {"*.tif", -1},
                                {"*.png", -1}})
    EXPECT_EQ(t.lookup(pattern), index) << pattern;
  t.build({{a, "*.X;"}});  // an empty last piece adds nothing
  EXPECT_EQ(std::pair(t.patterns.size(), t.lookup("*.bmp")), std::pair(size_t{1}, -1));
}

TEST(Paths, NormalizePathUsesSlashesAndCollapsesRepeatsAfterTheFirstTwo) {
  // A pair starting in the first two characters stays; three characters are left as they are.
  for (auto [in, out] : {std::pair{"  C:\\Images\\\\scan.tif ", "C:/Images/scan.tif"},
                         {"/home//me///a.png", "/home/me/a.png"},
                         {"\\\\server\\share\\\\x.bmp", "//server/share/x.bmp"},
                         {"////server/x", "//server/x"},
                         {"a//b", "a//b"},
                         {"ab//c", "ab/c"},
                         {" //x", "//x"},
                         {"", ""}})
    EXPECT_EQ(NormalizePath(in), out) << in;
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

TEST(Rounding, HalvesGoToEvenAndLargeValuesClamp) {
  // Positive halves through the resolution members: EngineQueries.
  for (auto [in, out] : {std::pair{0.5, 0}, {-2.5, -2}, {1e12, 2147483647}})
    EXPECT_EQ(RoundHalfEven(in), out) << in;
}

TEST(Statuses, EveryValueHasItsNameAndOthersHaveNone) {
  EXPECT_STREQ(StatusName(cKorvexStatus::InvalidBarCode), "InvalidBarCode");
  EXPECT_STREQ(StatusName(static_cast<cKorvexStatus>(22)), "");
  for (int v = 0; v <= 21; ++v) EXPECT_STRNE(StatusName(static_cast<cKorvexStatus>(v)), "") << v;
}

}  // namespace
}  // namespace korvex
