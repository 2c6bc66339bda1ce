// Documents in the viewer: sources, image set-up, TIFF pages, GIF frames
// played on the headless host's timers, rotation of a page, temporary
// copies, and handlers that close or destroy the viewer during a step.
#include <tuple>

#include "korvex/engine.h"
#include "viewer_test_util.h"

namespace korvex {
namespace {

namespace fs = std::filesystem;
using viewer::HeadlessHost;

// A GIF of 1 x 1 frames; frame i shows colour i of a four-colour map
// (0xRRGGBB) and carries delays[i] (1/100 s) in its control extension.
std::vector<uint8_t> gif_bytes(const std::vector<uint16_t>& delays) {
  const uint32_t colours[4] = {0xFF0000, 0x00FF00, 0x0000FF, 0xFFFFFF};
  std::vector<uint8_t> b = {'G', 'I', 'F', '8', '9', 'a', 1, 0, 1, 0, 0xF1, 0, 0};
  for (uint32_t c : colours) b.insert(b.end(), {uint8_t(c >> 16), uint8_t(c >> 8), uint8_t(c)});
  for (size_t i = 0; i < delays.size(); ++i) {
    const auto k = static_cast<uint8_t>(i);
    b.insert(b.end(), {0x21, 0xF9, 4, 0, uint8_t(delays[i] & 0xFF), uint8_t(delays[i] >> 8), 0, 0});
    b.insert(b.end(), {0x2C, 0, 0, 0, 0, 1, 0, 1, 0, 0});
    // Codes of 3 bits: clear (4), index k, end (5).
    b.insert(b.end(), {2, 2, uint8_t(4 | (k << 3) | 0x40), 1, 0});
  }
  b.push_back(0x3B);
  return b;
}

class DocumentTest : public testutil::ViewerTest {
 protected:
  // A 3-page fax TIFF (204 x 98 dpi): pages 30, 40 and 50 pixels wide, 20 high.
  std::string three_pages() {
    const std::string p = (dir / "pages.tif").string();
    cKorvex k;
    std::vector<int32_t> pages;
    for (int32_t w : {30, 40, 50}) {
      pages.push_back(k.CreateNewImage(w, 20, 24, static_cast<int32_t>(0xFF000000 | w)));
      k.SetHorizontalResolution(204);
      k.SetVerticalResolution(98);
    }
    k.SetNativeImage(pages[0]);
    for (cKorvexStatus st :
         {k.TiffSaveAsNativeMultiPage(p, 2), k.TiffAddToNativeMultipage(pages[1]),
          k.TiffAddToNativeMultipage(pages[2]), k.TiffCloseNativeMultiPage()})
      EXPECT_EQ(st, cKorvexStatus::Ok);
    return p;
  }
};

TEST_F(DocumentTest, GifFramesPlayOnTheHostTimerForTheirDelays) {
  v->put_ZoomMode(2);  // the 1 x 1 frames fill the middle of the client area
  const std::string anim = write("anim.gif", gif_bytes({0, 5, 20}));
  ASSERT_EQ(v->DisplayFromFile(anim), ViewerStatus::Ok);
  EXPECT_EQ(std::make_pair(v->get_NumPages(), v->get_Currentpage()), std::make_pair(3, 1));
  EXPECT_NE(host->Log().find("menu mnplaygif checked=0 enabled=1"), std::string::npos);
  EXPECT_TRUE(pending().empty());  // AnimateGIF is off
  EXPECT_EQ(pixel(), 0xFF0000u);
  ASSERT_EQ(v->PlayGif(), ViewerStatus::Ok);
  // Each tick shows its frame and waits its delay: 0 -> 100 ms, 5 -> 50 ms, 20 -> 200 ms.
  struct Step {
    uint32_t colour;
    int32_t page, delay;
  } steps[] = {{0xFF0000, 1, 100}, {0x00FF00, 2, 50}, {0x0000FF, 3, 200}, {0xFF0000, 1, 100}};
  for (const Step& s : steps) {
    EXPECT_EQ(pixel(), s.colour);
    EXPECT_EQ(v->get_Currentpage(), s.page);
    EXPECT_EQ(fire(), s.delay);
  }
  v->StopGif();
  EXPECT_TRUE(pending().empty());
  // A delay property shorter than the frames: the frames it misses show for 100 ms.
  cKorvex k;
  const int32_t id = k.CreateImageFromFile(anim);
  raster::PropertyItem delay{0x5100, 4, {7, 0, 0, 0}};
  ASSERT_EQ(raster::find_image(id)->set_property(delay), raster::Status::Ok);
  v->put_AnimateGIF(true);  // shown from now on: plays at once
  ASSERT_EQ(v->DisplayFromImageRef(id), ViewerStatus::Ok);
  EXPECT_EQ(std::vector<int32_t>({fire(), fire(), fire()}), std::vector<int32_t>({70, 100, 100}));
  // Closing stops the animation and forgets that the image was animated.
  v->ClosePicture();
  EXPECT_TRUE(pending().empty());
  EXPECT_FALSE(v->core().is_animated);
  EXPECT_NE(raster::find_image(id), nullptr);  // shown by reference: still the engine's
  // One frame is no animation.
  ASSERT_EQ(v->DisplayFromFile(write("one.gif", gif_bytes({30}))), ViewerStatus::Ok);
  EXPECT_EQ(v->get_NumPages(), 1);
  EXPECT_EQ(std::make_pair(v->PlayGif(), pending().empty()),
            std::make_pair(ViewerStatus::Ok, true));
}

TEST_F(DocumentTest, HandlersThatCloseOrDestroyTheViewerStopTheStep) {
  const std::string one = write("one.gif", gif_bytes({0})),
                    anim = write("anim.gif", gif_bytes({1, 1}));
  v->Advise(events);
  // During a load.
  events->action = [this](ViewerEvent e, ViewerEventArgs&) {
    if (e == ViewerEvent::PictureChange) v->ClosePicture();
  };
  EXPECT_EQ(v->DisplayFromFile(one), ViewerStatus::Ok);
  EXPECT_EQ(events->text, "PageChange ZoomChange PictureChange PageChange");
  EXPECT_EQ(std::make_tuple(v->GetNativeImage(), v->get_PictureWidth(), v->get_Currentpage()),
            std::make_tuple(0, 0, 0));
  // During an animation tick.
  events->action = nullptr;
  v->put_AnimateGIF(true);
  ASSERT_EQ(v->DisplayFromFile(anim), ViewerStatus::Ok);
  events->action = [this](ViewerEvent e, ViewerEventArgs&) {
    if (e == ViewerEvent::Displayed) v->ClosePicture();
  };
  events->text.clear();
  fire();
  EXPECT_EQ(events->text, "Displayed PageChange");
  EXPECT_TRUE(pending().empty());
  EXPECT_EQ(v->GetNativeImage(), 0);
  events->action = nullptr;
  ASSERT_EQ(v->DisplayFromFile(anim), ViewerStatus::Ok);
  events->action = [this](ViewerEvent e, ViewerEventArgs&) {
    if (e == ViewerEvent::Displayed) v.reset();
  };
  fire();
  EXPECT_EQ(v, nullptr);
  EXPECT_TRUE(pending().empty());
}

TEST_F(DocumentTest, PagesChangeWithTheirEventsAndRotateInACopy) {
  const std::string tif = three_pages();
  v->Advise(events);
  ASSERT_EQ(v->DisplayFromFile(tif), ViewerStatus::Ok);
  EXPECT_EQ(std::make_tuple(v->GetTotalFrame(), v->get_Currentpage(), v->get_PictureWidth()),
            std::make_tuple(3, 1, 30));
  // Fax resolution: pixels about twice as tall as wide (20 * 204 / 98 -> 42).
  EXPECT_EQ(std::make_tuple(v->get_HorizontalResolution(), v->get_VerticalResolution(),
                            v->core().displayed_height),
            std::make_tuple(204, 98, 42));
  int32_t page_seen = 0;
  events->action = [&](ViewerEvent e, ViewerEventArgs&) {
    if (e == ViewerEvent::PageChange) page_seen = v->get_Currentpage();
  };
  events->text.clear();
  host->ClearLog();
  ASSERT_EQ(v->DisplayNextFrame(), ViewerStatus::Ok);
  EXPECT_EQ(events->text, "ZoomChange Displayed PageChange ZoomChanged");
  EXPECT_EQ(std::make_tuple(page_seen, v->get_PictureWidth()), std::make_tuple(2, 40));
  EXPECT_NE(host->Log().rfind("menu mnfirstframe checked=0 enabled=1"), std::string::npos);
  // Out of range, or already there: nothing happens.
  events->text.clear();
  for (int32_t page : {0, 4, -1}) v->DisplayFrame(page);
  v->put_Currentpage(3);
  EXPECT_EQ(std::make_pair(events->text, v->get_Currentpage()), std::make_pair(std::string(), 2));
  v->DisplayLastFrame(), v->DisplayNextFrame();
  EXPECT_EQ(std::make_pair(v->get_Currentpage(), v->get_PictureWidth()), std::make_pair(3, 50));
  EXPECT_NE(host->Log().rfind("menu mnnextframe checked=0 enabled=0"), std::string::npos);
  v->DisplayFirstFrame(), v->DisplayPreviousFrame();
  EXPECT_EQ(std::make_pair(v->get_Currentpage(), v->get_PictureWidth()), std::make_pair(1, 30));
  // Rotating page 2 turns a private copy of it.
  events->action = nullptr;
  v->DisplayFrame(2);
  ASSERT_EQ(v->Rotate90(), ViewerStatus::Ok);
  EXPECT_EQ(std::make_pair(v->get_PictureWidth(), v->get_PictureHeight()), std::make_pair(20, 40));
  // The turned page is a 24-bit copy at the page's resolution, turned with
  // its pixels (the axes swap); the document is untouched.
  const raster::Image* copy = raster::find_image(v->core().page_image);
  ASSERT_NE(copy, nullptr);
  EXPECT_EQ(copy->format(), raster::pf::k24bppRGB);
  EXPECT_EQ(std::make_pair(copy->dpi_x(), copy->dpi_y()), std::make_pair(98.0f, 204.0f));
  EXPECT_EQ(v->get_HorizontalResolution(), 98);
  EXPECT_EQ(raster::find_image(v->GetNativeImage())->width(), 40);
  for (int32_t page : {1, 2}) {
    v->DisplayFrame(page);
    EXPECT_EQ(std::make_tuple(v->get_PictureWidth(), v->get_PictureHeight(), v->core().page_image),
              std::make_tuple(20 + 10 * page, 20, 0));
  }
  // A single-page image turns in place (here the engine's own image).
  cKorvex k;
  const int32_t id = k.CreateNewImage(30, 10, 24);
  ASSERT_EQ(v->DisplayFromImageRef(id), ViewerStatus::Ok);
  ASSERT_EQ(v->FlipX90(), ViewerStatus::Ok);
  EXPECT_EQ(std::make_pair(raster::find_image(id)->width(), v->core().page_image),
            std::make_pair(10, 0));
}

TEST_F(DocumentTest, SourcesFailuresAndClosing) {
  cKorvex k;
  const int32_t red = k.CreateNewImage(10, 10, 24, static_cast<int32_t>(0xFFFF0000));
  ASSERT_EQ(k.SaveAsPng((dir / "red.png").string()), cKorvexStatus::Ok);
  // A failing source leaves no document.
  EXPECT_EQ(v->DisplayFromFile((dir / "missing.png").string()), ViewerStatus::FileNotFound);
  EXPECT_EQ(std::make_tuple(v->GetNativeImage(), v->get_NumPages(), v->get_PictureWidth()),
            std::make_tuple(0, 0, 0));
  EXPECT_EQ(v->DisplayFromImageRef(0), ViewerStatus::InvalidParameter);
  // A path ending in "pdf" is a PDF document.
  EXPECT_EQ(v->DisplayFromFile((dir / "paper.PdF ").string()), ViewerStatus::FileNotFound);
  EXPECT_EQ(host->message_boxes().back(), "Can't foud " + (dir / "paper.PdF").string() + " file.");
  // Close2Picture leaves the last picture on screen while no document is shown.
  ASSERT_EQ(v->DisplayFromFile((dir / "red.png").string()), ViewerStatus::Ok);
  EXPECT_EQ(pixel(), 0xFF0000u);
  v->Close2Picture();
  EXPECT_EQ(std::make_pair(v->GetNativeImage(), pixel()), std::make_pair(0, 0xFF0000u));
  ASSERT_EQ(v->DisplayFromImageRef(red), ViewerStatus::Ok);
  v->ClosePicture();
  EXPECT_EQ(pixel(), 0u);  // cleared to the black background
  EXPECT_NE(raster::find_image(red), nullptr);
  // After Terminate the viewer has no raster session left to load with.
  v->Terminate();
  EXPECT_EQ(v->DisplayFromFile((dir / "red.png").string()), ViewerStatus::GdiplusNotInitialized);
}

TEST_F(DocumentTest, TemporaryCopies) {
  const std::string file = (dir / "green.png").string();
  cKorvex k;
  k.CreateNewImage(4, 4, 24, static_cast<int32_t>(0xFF00FF00));
  ASSERT_EQ(k.SaveAsPng(file), cKorvexStatus::Ok);
  v->put_imageForceTemporaryMode(true);
  ASSERT_EQ(v->DisplayFromFile(file), ViewerStatus::Ok);
  const std::string copy = v->core().temp_image_name;
  EXPECT_EQ(std::make_tuple(fs::path(copy).parent_path(), v->core().temp_image_in_use,
                            fs::file_size(copy)),
            std::make_tuple(dir / "tmp", true, fs::file_size(file)));
  // Another viewer of the process gets a name of its own.
  kxViewer other(std::make_shared<HeadlessHost>(50, 50));
  other.put_imageForceTemporaryMode(true);
  ASSERT_EQ(other.DisplayFromFile(file), ViewerStatus::Ok);
  EXPECT_NE(other.core().temp_image_name, copy);
  // Closing deletes the copy.
  v->ClosePicture();
  EXPECT_FALSE(fs::exists(copy));
  // A stale file under the name is replaced, never read.
  write("tmp/" + fs::path(copy).filename().string(), gif_bytes({0, 0}));
  ASSERT_EQ(v->DisplayFromFile(file), ViewerStatus::Ok);
  EXPECT_EQ(std::make_tuple(v->get_PictureWidth(), v->get_NumPages(), pixel()),
            std::make_tuple(4, 1, 0x00FF00u));
  // A copy that cannot be made is an error, not a silent load of the host's file.
  v->ClosePicture();
  fs::remove_all(dir / "tmp");
  EXPECT_EQ(v->DisplayFromFile(file), ViewerStatus::ErrorCreatingTemporaryFile);
  EXPECT_EQ(v->GetNativeImage(), 0);
}

}  // namespace
}  // namespace korvex
