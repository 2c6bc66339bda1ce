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

TEST(EngineState, FreshEngineHasNoImageAndReportsMissingOneOnQueries) {
  cKorvex k;
  EXPECT_EQ(k.GetNativeImage(), 0);
  EXPECT_EQ(k.GetStat(), S::Ok);
  EXPECT_DOUBLE_EQ(k.GetVersion(), 3.8);
  EXPECT_FALSE(st(k).NativeOwned);
  EXPECT_TRUE(st(k).PreserveTags);
  EXPECT_EQ(st(k).FontUnit, 3);
  EXPECT_EQ(st(k).FilterZone.mode, 1);
  EXPECT_EQ(k.GetWidth(), 0);
  EXPECT_EQ(k.GetStat(), S::InvalidParameter);
  k.LoadFromImage(0);
  EXPECT_EQ(k.GetImageFormat(), "");
  EXPECT_EQ(k.GetStat(), S::InvalidParameter);
  EXPECT_EQ(k.GetWidthMM(), 0.0f);
  EXPECT_EQ(k.GetVerticalResolution(), 0);
  // Members that need a native image leave the status as it was.
  st(k).LastStatus = S::AccessDenied;
  EXPECT_EQ(ConvertNativePixelFormat(st(k), raster::pf::k24bppRGB), S::AccessDenied);
}

TEST(EngineOwnership, SetNativeImageAdoptsWithoutOwningOrClosing) {
  cKorvex k;
  ASSERT_EQ(k.CreateImage(8, 8), S::Ok);
  const int32_t owned = k.GetNativeImage();
  EXPECT_TRUE(st(k).NativeOwned);
  // Same identifier: nothing changes, not even ownership or the status.
  k.GetWidthMM();
  st(k).LastStatus = S::Aborted;
  k.SetNativeImage(owned);
  EXPECT_TRUE(st(k).NativeOwned);
  EXPECT_EQ(k.GetStat(), S::Aborted);

  const int32_t other = k.CreateNewImage(4, 4);  // native now, ownership unchanged
  k.SetNativeImage(owned);
  k.SetNativeImage(other);
  EXPECT_FALSE(st(k).NativeOwned);
  EXPECT_NE(img(owned), nullptr);  // the previous native image is not closed
  // Closing a native image the engine does not own only forgets it, and
  // returns the status as it was.
  st(k).LastStatus = S::Aborted;
  EXPECT_EQ(k.CloseNativeImage(), S::Aborted);
  EXPECT_EQ(k.GetNativeImage(), 0);
  EXPECT_NE(img(other), nullptr);
  EXPECT_EQ(k.CloseImage(other), S::Ok);
  EXPECT_EQ(k.CloseImage(owned), S::Ok);
}

TEST(EngineOwnership, LoadFromImageClosesTheOwnedNativeImageFirst) {
  cKorvex k;
  ASSERT_EQ(k.CreateImage(8, 8), S::Ok);
  const int32_t owned = k.GetNativeImage();
  const int32_t outside = k.CreateNewImage(2, 2);
  k.SetNativeImage(owned);
  st(k).NativeOwned = true;
  EXPECT_EQ(k.LoadFromImage(outside), S::Ok);
  EXPECT_EQ(img(owned), nullptr);
  EXPECT_EQ(k.GetNativeImage(), outside);
  EXPECT_FALSE(st(k).NativeOwned);
  k.CloseImage(outside);
}

TEST(EngineClose, ClosingZeroStaleOrUnknownIdentifiersTouchesNothing) {
  cKorvex k;
  ASSERT_EQ(k.CreateImage(3, 3), S::Ok);
  const int32_t id = k.GetNativeImage();
  st(k).MultiPageTarget = id;
  k.GetWidth();
  st(k).LastStatus = S::WrongState;
  EXPECT_EQ(k.CloseImage(0), S::WrongState);  // the previous status, unchanged
  EXPECT_EQ(k.GetStat(), S::WrongState);
  EXPECT_EQ(k.CloseImage(id), S::Ok);
  EXPECT_EQ(k.GetNativeImage(), 0);
  EXPECT_EQ(st(k).MultiPageTarget, 0);
  EXPECT_EQ(k.CloseImage(id), S::InvalidParameter);  // already closed
  EXPECT_EQ(k.CloseImage(123456789), S::InvalidParameter);
  EXPECT_EQ(k.CloseImage(-7), S::InvalidParameter);

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

TEST(EngineClone, CloneImageCopiesBeforeClosingAndCreateClonedImageLeavesNativeAlone) {
  cKorvex k;
  ASSERT_EQ(k.CreateImage(5, 4, 24), S::Ok);
  const int32_t first = k.GetNativeImage();
  ASSERT_EQ(img(first)->set_pixel(4, 3, 0xFF123456), raster::Status::Ok);
  // Cloning the engine's own owned native image: the copy is made first.
  EXPECT_EQ(k.CloneImage(k.GetNativeImage()), S::Ok);
  const int32_t second = k.GetNativeImage();
  EXPECT_NE(second, 0);
  EXPECT_NE(second, first);
  EXPECT_EQ(img(first), nullptr);  // the owned original was closed
  EXPECT_TRUE(st(k).NativeOwned);
  uint32_t v = 0;
  ASSERT_EQ(img(second)->get_pixel(4, 3, v), raster::Status::Ok);
  EXPECT_EQ(v, 0xFF123456u);

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
}

TEST(EngineClone, PixelFormatClonesWorkOnTheGivenImageWithoutANativeOne) {
  cKorvex maker;
  const int32_t src = maker.CreateNewImage(3, 2, 8);
  ASSERT_NE(src, 0);
  raster::Palette p;
  p.entries = {0xFF000000, 0xFF102030, 0xFF405060};
  ASSERT_EQ(img(src)->set_palette(p), raster::Status::Ok);
  uint8_t* row = img(src)->surface().row(1);
  row[2] = 2;
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
  uint32_t v = 0;
  ASSERT_EQ(img(argb)->get_pixel(2, 1, v), raster::Status::Ok);
  EXPECT_EQ(v, 0xFF405060u);
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

TEST(EngineClone, ConvertNativePixelFormatReplacesTheNativeImageAndKeepsOwnership) {
  cKorvex k;
  ASSERT_EQ(k.CreateImage(4, 4, 32), S::Ok);
  const int32_t before = k.GetNativeImage();
  ASSERT_EQ(img(before)->set_resolution(200.4f, 199.5f), raster::Status::Ok);
  EXPECT_EQ(ConvertNativePixelFormat(st(k), raster::pf::k1bppIndexed), S::Ok);
  EXPECT_NE(k.GetNativeImage(), before);
  EXPECT_EQ(img(before), nullptr);
  EXPECT_TRUE(st(k).NativeOwned);
  const raster::Image* now = img(k.GetNativeImage());
  EXPECT_EQ(now->format(), raster::pf::k1bppIndexed);
  EXPECT_EQ(now->surface().row(3)[0] & 0xF0, 0xF0);  // white stays white
  EXPECT_EQ(k.GetHorizontalResolution(), 200);
  EXPECT_EQ(k.GetVerticalResolution(), 200);  // 199.5 remembered as 200 (half to even)
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
  k.CloseImage(a);
  k.CloseImage(b);
}

TEST(EngineQueries, ResolutionRoundsHalfToEvenAndMillimetresNeedOneDpi) {
  cKorvex k;
  ASSERT_EQ(k.CreateImage(254, 100), S::Ok);
  EXPECT_EQ(k.GetImageFormat(), "Memory BMP");
  EXPECT_EQ(k.GetHorizontalResolution(), 96);
  raster::Image* i = img(k.GetNativeImage());
  ASSERT_EQ(i->set_resolution(72.5f, 73.5f), raster::Status::Ok);
  EXPECT_EQ(k.GetHorizontalResolution(), 72);
  EXPECT_EQ(k.GetVerticalResolution(), 74);
  ASSERT_EQ(i->set_resolution(254.0f, 0.4f), raster::Status::Ok);
  EXPECT_FLOAT_EQ(k.GetWidthMM(), 25.4f);
  EXPECT_EQ(k.GetHeightMM(), 0.0f);  // 0.4 dpi rounds to 0
  EXPECT_EQ(k.GetStat(), S::Ok);
  i->set_raw_format(raster::guids::kFormatTiff);
  EXPECT_EQ(k.GetImageFormat(), "TIFF");
  i->set_raw_format(raster::guids::kFormatIcon);
  EXPECT_EQ(k.GetImageFormat(), "ICON");
  i->set_raw_format(raster::guids::kFormatUndefined);
  EXPECT_EQ(k.GetImageFormat(), "Undefined");
  i->set_raw_format(raster::guids::kFrameDimensionPage);
  EXPECT_EQ(k.GetImageFormat(), "Undefined");
}

TEST(EngineZone, RefreshFilterZoneCoversTheWholePictureOnlyInMode1) {
  cKorvex k;
  ASSERT_EQ(k.CreateImage(30, 20), S::Ok);
  RefreshFilterZone(k);
  EXPECT_EQ(st(k).FilterZone.width, 30);
  EXPECT_EQ(st(k).FilterZone.height, 20);
  st(k).FilterZone = {2, 1, 1, 10, 10};
  RefreshFilterZone(k);
  EXPECT_EQ(st(k).FilterZone.width, 10);
}

TEST(EngineDib, ClosingReleasesTheBlockAfterTheImageOnlyWhenTheEngineWasHandedIt) {
  cKorvex k;
  const size_t blocks = host::GlobalBlockCount();
  int32_t ids[3], handles[3];
  for (int i = 0; i < 3; ++i) {
    handles[i] = host::GlobalAlloc(16);
    uint8_t* bits = host::GlobalLock(handles[i]);
    std::unique_ptr<raster::Image> over;
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
}

TEST(EngineKeptBytes, ClosingTheOwnerEmptiesTheKeptBuffer) {
  cKorvex k;
  const int32_t a = k.CreateNewImage(1, 1);
  const int32_t b = k.CreateNewImage(1, 1);
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
      id = a.CreateNewImage(6, 5);
      EXPECT_EQ(module_state().session.users, 2);
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
  const int32_t fresh = k.CreateNewImage(1, 1);
  EXPECT_NE(fresh, id);  // identifiers are not handed out again
}

TEST(EngineSession, AnEngineOutlivingItsThreadsStateLeavesQuietly) {
  // The holder is constructed before the engine creates the thread's state,
  // so it is destroyed after that state at thread exit.
  struct Holder {
    std::unique_ptr<cKorvex> k;
  };
  std::thread t([] {
    thread_local Holder h;
    h.k = std::make_unique<cKorvex>();
    EXPECT_EQ(h.k->CreateImage(2, 2), S::Ok);
  });
  t.join();
}

TEST(EngineSession, IdentifiersWrapAroundPastTheLargestAndSkipOpenOnes) {
  cKorvex k;
  raster::set_identifier_counter_for_testing(2147483645);  // next: 2147483646
  const int32_t a = k.CreateNewImage(1, 1);
  const int32_t b = k.CreateNewImage(1, 1);
  EXPECT_EQ(a, 2147483646);
  EXPECT_EQ(b, 2147483647);
  const int32_t c = k.CreateNewImage(1, 1);
  EXPECT_EQ(c, 1);
  raster::set_identifier_counter_for_testing(2147483645 + 2147483647ull);  // 2147483646 again
  const int32_t d = k.CreateNewImage(1, 1);
  EXPECT_EQ(d, 2);  // 2147483646 and 2147483647 are open, 1 is open: skipped
  for (int32_t id : {a, b, c, d}) EXPECT_EQ(k.CloseImage(id), S::Ok);
}

}  // namespace
}  // namespace korvex
