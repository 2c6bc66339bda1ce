// The engine's native image, ownership, closing, cloning and queries.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <thread>

#include "engine/core.h"
#include "engine/state.h"
#include "korvex/global_memory.h"
#include "korvex/korvex.h"
#include "raster/handles.h"
#include "raster/version.h"

namespace korvex {
namespace {

using S = cKorvexStatus;

cKorvex::State& st(cKorvex& k) {
  return EngineAccess::state(k);
}
raster::Image* img(int32_t id) {
  return raster::find_image(id);
}
uint32_t pixel(int32_t id, int32_t x, int32_t y) {
  uint32_t v = 0;
  EXPECT_EQ(img(id)->get_pixel(x, y, v), raster::Status::Ok);
  return v;
}

TEST(EngineState, FreshEngineHasNoImageAndReportsMissingOneOnQueries) {
  cKorvex k;
  EXPECT_EQ(k.GetNativeImage(), 0);
  EXPECT_EQ(k.GetStat(), S::Ok);
  EXPECT_DOUBLE_EQ(k.GetVersion(), 3.8);
  // PreserveTags on and filter zone mode 1 are relied on by EngineTags and EngineZone.
  EXPECT_FALSE(st(k).NativeOwned);
  EXPECT_EQ(st(k).FontUnit, 3);
  EXPECT_EQ(k.GetWidth(), 0);
  EXPECT_EQ(k.GetStat(), S::InvalidParameter);
  k.LoadFromImage(0);
  EXPECT_EQ(k.GetImageFormat(), "");
  EXPECT_EQ(k.GetStat(), S::InvalidParameter);
  EXPECT_EQ(std::make_pair(k.GetWidthMM(), k.GetVerticalResolution()), std::make_pair(0.0f, 0));
  // Members that need a native image leave the status as it was.
  st(k).LastStatus = S::AccessDenied;
  EXPECT_EQ(ConvertNativePixelFormat(st(k), raster::pf::k24bppRGB), S::AccessDenied);
}

TEST(EngineOwnership, SetNativeImageAdoptsWithoutOwningOrClosingAndLoadFromImageClosesFirst) {
  cKorvex k;
  const int32_t other = k.CreateNewImage(4, 4);
  ASSERT_EQ(k.CreateImage(8, 8), S::Ok);
  const int32_t owned = k.GetNativeImage();
  // Same identifier: nothing changes, not even ownership or the status.
  st(k).LastStatus = S::Aborted;
  k.SetNativeImage(owned);
  EXPECT_TRUE(st(k).NativeOwned);
  EXPECT_EQ(k.GetStat(), S::Aborted);
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
  EXPECT_EQ(k.GetNativeImage(), other);
  EXPECT_FALSE(st(k).NativeOwned);
  EXPECT_EQ(k.CloseImage(other), S::Ok);
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
  EXPECT_EQ(k.GetNativeImage(), 0);
  EXPECT_EQ(st(k).MultiPageTarget, 0);
  // Already closed, never opened, negative.
  for (int32_t bad : {id, 123456789, -7}) EXPECT_EQ(k.CloseImage(bad), S::InvalidParameter);

  // Closing an owned native image that another engine already closed fails
  // and leaves the engine's fields as they were.
  ASSERT_EQ(k.CreateImage(3, 3), S::Ok);
  const int32_t native = k.GetNativeImage();
  cKorvex other;
  EXPECT_EQ(other.CloseImage(native), S::Ok);
  EXPECT_EQ(k.CloseNativeImage(), S::InvalidParameter);
  EXPECT_EQ(k.GetNativeImage(), native);
  EXPECT_TRUE(st(k).NativeOwned);
}

TEST(EngineClone, CloneImageAndFormatConversionReplaceTheNativeImageCreateClonedImageLeavesIt) {
  cKorvex k;
  ASSERT_EQ(k.CreateImage(5, 4, 24), S::Ok);
  const int32_t first = k.GetNativeImage();
  ASSERT_EQ(img(first)->set_pixel(4, 3, 0xFF123456), raster::Status::Ok);
  // Cloning the engine's own owned native image: the copy is made first.
  EXPECT_EQ(k.CloneImage(k.GetNativeImage()), S::Ok);
  const int32_t second = k.GetNativeImage();
  EXPECT_TRUE(second != 0 && second != first);
  EXPECT_EQ(img(first), nullptr);  // the owned original was closed
  EXPECT_TRUE(st(k).NativeOwned);
  EXPECT_EQ(pixel(second, 4, 3), 0xFF123456u);

  const int32_t third = k.CreateClonedImage(second);
  EXPECT_NE(third, 0);
  EXPECT_EQ(k.GetNativeImage(), second);
  EXPECT_EQ(k.CreateClonedImage(third + 1000), 0);
  EXPECT_EQ(k.GetStat(), S::InvalidParameter);
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
  EXPECT_NE(k.GetNativeImage(), before);
  EXPECT_EQ(img(before), nullptr);
  EXPECT_TRUE(st(k).NativeOwned);  // the converted pixels are checked by frames_test
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
  EXPECT_EQ(k.GetStat(), S::Ok);
  EXPECT_EQ(k.GetNativeImage(), 0);
  EXPECT_EQ(img(same)->format(), raster::pf::k8bppIndexed);
  // The copy keeps the palette, so the colour survives (not the nearest default colour).
  EXPECT_EQ(img(same)->palette(), p);
  EXPECT_EQ(img(same)->surface().row(1)[2], 2);
  EXPECT_EQ(RoundHalfEven(img(same)->dpi_x()), 150);
  ASSERT_NE(img(same)->property(305), nullptr);

  const int32_t argb = k.CreateClonedImageARGB(src);
  ASSERT_NE(argb, 0);
  EXPECT_EQ(img(argb)->format(), raster::pf::k32bppARGB);
  EXPECT_EQ(pixel(argb, 2, 1), 0xFF405060u);
  EXPECT_EQ(k.CreateClonedImageARGB(0), 0);
  EXPECT_EQ(k.GetStat(), S::InvalidParameter);

  // Under an old raster version a converting write into an indexed copy is
  // refused, and the half-built copy is not left behind.
  const size_t open = raster::open_image_count();
  raster::set_version_text_for_testing("5.1.3102.0");
  const int32_t rgb = maker.CreateNewImage(2, 2, 24);
  EXPECT_EQ(CloneToPixelFormat(st(k), rgb, raster::pf::k8bppIndexed), 0);
  EXPECT_EQ(k.GetStat(), S::PixelFormatMustBeConverted);
  EXPECT_EQ(raster::open_image_count(), open + 1);
  raster::set_version_text_for_testing("");
  for (int32_t id : {src, same, argb, rgb}) EXPECT_EQ(k.CloseImage(id), S::Ok);
}

TEST(EngineTags, SaveImageInfoStartsAfreshAndRestoreObeysPreserveTags) {
  cKorvex k;
  const int32_t a = k.CreateNewImage(2, 2, 24);
  ASSERT_EQ(img(a)->set_property({305, raster::ptype::kAscii, {'a', 0}}), raster::Status::Ok);
  const int32_t b = k.CreateNewImage(2, 2, 24);
  SaveImageInfo(st(k), a);
  EXPECT_EQ(st(k).SavedTagCount, 1);
  SaveImageInfo(st(k), b);  // no tags: nothing left over from a
  EXPECT_EQ(st(k).SavedTagCount, 0);
  EXPECT_TRUE(st(k).SavedTags.empty());
  {
    PreserveTagsOverride off(st(k), false);
    SaveImageInfo(st(k), a);
    EXPECT_EQ(st(k).SavedTagCount, 0);
  }
  EXPECT_TRUE(st(k).PreserveTags);
  SaveImageInfo(st(k), a);
  RestoreImageInfo(st(k), b);
  EXPECT_NE(img(b)->property(305), nullptr);
  EXPECT_EQ(st(k).SavedTagCount, 0);
  for (int32_t id : {a, b}) k.CloseImage(id);
}

TEST(EngineQueries, ResolutionRoundsHalfToEvenMillimetresNeedOneDpiAndZoneMode1IsThePicture) {
  cKorvex k;
  ASSERT_EQ(k.CreateImage(254, 100), S::Ok);
  RefreshFilterZone(k);
  EXPECT_EQ(std::make_pair(st(k).FilterZone.width, st(k).FilterZone.height),
            std::make_pair(254, 100));
  st(k).FilterZone = {2, 1, 1, 10, 10};
  RefreshFilterZone(k);
  EXPECT_EQ(st(k).FilterZone.width, 10);  // a set zone (mode 2) is left alone
  EXPECT_EQ(k.GetImageFormat(), "Memory BMP");
  EXPECT_EQ(k.GetHorizontalResolution(), 96);
  raster::Image* i = img(k.GetNativeImage());
  ASSERT_EQ(i->set_resolution(72.5f, 73.5f), raster::Status::Ok);
  EXPECT_EQ(std::make_pair(k.GetHorizontalResolution(), k.GetVerticalResolution()),
            std::make_pair(72, 74));
  ASSERT_EQ(i->set_resolution(254.0f, 0.4f), raster::Status::Ok);
  EXPECT_FLOAT_EQ(k.GetWidthMM(), 25.4f);
  EXPECT_EQ(k.GetHeightMM(), 0.0f);  // 0.4 dpi rounds to 0
  EXPECT_EQ(k.GetStat(), S::Ok);
  // A GUID that is no image format at all reads as undefined too.
  for (const auto& [g, name] : {std::pair{raster::guids::kFormatTiff, "TIFF"},
                                {raster::guids::kFormatIcon, "ICON"},
                                {raster::guids::kFormatUndefined, "Undefined"},
                                {raster::guids::kFrameDimensionPage, "Undefined"}}) {
    i->set_raw_format(g);
    EXPECT_EQ(k.GetImageFormat(), name);
  }
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
  // The last entry moved into the freed slot.
  ASSERT_EQ(module_state().DibImageTable.size(), 2u);
  EXPECT_EQ(module_state().DibImageTable[0].image, ids[2]);
  EXPECT_EQ(k.CloseImage(ids[1]), S::Ok);
  EXPECT_EQ(host::GlobalSize(handles[1]), 16u);  // left to its owner
  EXPECT_EQ(k.CloseImage(ids[1]), S::InvalidParameter);
  EXPECT_EQ(host::GlobalSize(handles[1]), 16u);
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
  EXPECT_TRUE(module_state().KeptBytes.empty());
  EXPECT_EQ(module_state().KeptBytesOwner, 0);
}

TEST(EngineSession, EnginesOfAThreadShareImagesWhichDieWithTheLastOne) {
  const size_t open = raster::open_image_count();
  int32_t id = 0;
  {
    cKorvex outer;
    {
      cKorvex a;
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
  EXPECT_EQ(k.GetWidth(), 0);
  EXPECT_EQ(k.GetStat(), S::InvalidParameter);
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

}  // namespace
}  // namespace korvex
