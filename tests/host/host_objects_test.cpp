// Host objects: bitmaps, icons, DCs, windows, the clipboard, pictures and screen capture.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <numeric>
#include <optional>
#include <string>
#include <thread>
#include <tuple>

#include <X11/Xlib.h>

#include "korvex/global_memory.h"
#include "korvex/host.h"

namespace korvex::host {
namespace {

Bitmap filled(int32_t w, int32_t h, uint32_t bgrx) {
  Bitmap b = Bitmap::Blank(w, h, 32);
  for (size_t i = 0; i < b.bits.size(); ++i) b.bits[i] = static_cast<uint8_t>(bgrx >> 8 * (i % 4));
  return b;
}

class DisplayOverride {
 public:
  explicit DisplayOverride(const char* value) {
    if (const char* d = std::getenv("DISPLAY")) saved_ = d;
    value ? setenv("DISPLAY", value, 1) : unsetenv("DISPLAY");
  }
  ~DisplayOverride() { saved_ ? setenv("DISPLAY", saved_->c_str(), 1) : unsetenv("DISPLAY"); }

 private:
  std::optional<std::string> saved_;
};

TEST(HostObjects, BitmapsAreCheckedAndDeletedOnceByKind) {
  EXPECT_EQ(CreateBitmap(Bitmap::Blank(4, 4, 12)), 0);
  Bitmap short_bits = Bitmap::Blank(4, 4, 24);
  short_bits.bits.resize(10);
  EXPECT_EQ(CreateBitmap(short_bits), 0);
  Bitmap too_many = Bitmap::Blank(4, 4, 1);
  too_many.colors = {0, 1, 2};
  EXPECT_EQ(CreateBitmap(too_many), 0);
  const int32_t h = CreateBitmap(filled(3, 2, 0x00112233));
  ASSERT_NE(h, 0);
  EXPECT_EQ(std::make_pair(GetBitmap(h)->stride(), GetBitmap(h)->bits[2]),
            std::make_pair(12, uint8_t{0x11}));
  EXPECT_EQ(GetPalette(h), nullptr);  // not a palette
  EXPECT_TRUE(DeleteObject(h));
  EXPECT_FALSE(DeleteObject(h));
  EXPECT_EQ(GetBitmap(h), nullptr);

  const int32_t icon = CreateIcon(filled(2, 2, 0), Bitmap::Blank(2, 2, 1));
  ASSERT_NE(icon, 0);
  EXPECT_FALSE(DeleteObject(icon));  // icons are destroyed, not deleted
  EXPECT_TRUE(DestroyIcon(icon));
  EXPECT_EQ(CreateIcon(filled(2, 2, 0), Bitmap::Blank(3, 2, 1)), 0);  // mask of another size
  EXPECT_EQ(CreatePalette({}), 0);
}

TEST(HostObjects, DeviceContextsDrawIntoTheSelectedBitmapOrTheWindow) {
  const int32_t dc = CreateMemoryDC();
  EXPECT_EQ(GetDCSurface(dc), nullptr);
  const int32_t bmp = CreateBitmap(filled(2, 2, 0));
  EXPECT_EQ(SelectBitmap(dc, bmp), 0);
  EXPECT_EQ(GetDCSurface(dc), GetBitmap(bmp));
  EXPECT_EQ(SelectBitmap(dc, 424242), -1);
  EXPECT_EQ(SelectBitmap(dc, 0), bmp);
  EXPECT_TRUE(ReleaseDC(dc));
  DeleteObject(bmp);

  const int32_t win = CreateWindow({10, 20, 110, 70});
  ASSERT_NE(win, 0);
  WindowRect r;
  ASSERT_TRUE(GetWindowRect(win, r));
  EXPECT_EQ(r.right - r.left, 100);
  const int32_t wdc = GetWindowDC(win);
  ASSERT_NE(GetDCSurface(wdc), nullptr);
  EXPECT_EQ(std::make_pair(GetDCSurface(wdc)->width, GetDCSurface(wdc)->height),
            std::make_pair(100, 50));
  EXPECT_FALSE(DeleteObject(wdc));
  EXPECT_TRUE(ReleaseDC(wdc));
  EXPECT_FALSE(DestroyWindow(GetDesktopWindow()));
  EXPECT_TRUE(DestroyWindow(win));
  EXPECT_EQ(CreateWindow({5, 5, 5, 9}), 0);
}

TEST(HostClipboard, OwnsWhatItHoldsAndReleasesItWhenReplacedOrEmptied) {
  EmptyClipboard();
  const size_t blocks = GlobalBlockCount();
  const int32_t dib = GlobalAlloc(64);
  ASSERT_TRUE(SetClipboardData(kClipboardDib, dib));
  EXPECT_TRUE(IsClipboardFormatAvailable(kClipboardDib));
  const int32_t dib2 = GlobalAlloc(64);
  ASSERT_TRUE(SetClipboardData(kClipboardDib, dib2));
  EXPECT_EQ(GlobalSize(dib), 0u);  // the replaced block is gone
  const int32_t bmp = CreateBitmap(filled(1, 1, 0));
  ASSERT_TRUE(SetClipboardData(kClipboardBitmap, bmp));
  EXPECT_FALSE(SetClipboardData(kClipboardPalette, bmp));  // a bitmap is no palette
  EXPECT_FALSE(SetClipboardData(77, bmp));
  EXPECT_EQ(GetClipboardData(kClipboardBitmap), bmp);
  EmptyClipboard();
  EXPECT_EQ(std::make_tuple(GetBitmap(bmp), GlobalBlockCount(), GetClipboardData(kClipboardDib)),
            std::make_tuple(nullptr, blocks, 0));
}

// One thread deletes, frees and replaces what another thread is reading or
// drawing into: the reader's reference (or lock) keeps the object alive. The
// sanitizer builds turn a use after free here into a failure.
TEST(HostThreads, ObjectsClosedOnAnotherThreadStayValidForTheirHolder) {
  EmptyClipboard();
  const size_t blocks = GlobalBlockCount();
  const int32_t desktop_dc = GetWindowDC(0);
  std::atomic<int32_t> bitmap{0}, block{0};
  std::atomic<bool> done{false};
  std::atomic<uint64_t> seen{0};  // objects the reader reached
  std::thread reader([&] {
    while (!done) {
      // Whole-bitmap reads keep each reference in use long enough to meet a deletion.
      if (const BitmapPtr b = GetBitmap(bitmap))
        seen += std::accumulate(b->bits.begin(), b->bits.end(), 1u);
      if (const BitmapPtr c = GetBitmap(GetClipboardData(kClipboardBitmap))) seen += 1 + c->bits[0];
      if (const int32_t h = block; const uint8_t* p = GlobalLock(h)) {
        seen += 1 + p[63];
        GlobalUnlock(h);
      }
      if (const BitmapPtr s = GetDCSurface(desktop_dc)) s->bits.back() = 1;  // resized meanwhile
    }
  });
  for (uint32_t i = 0; i < 1000; ++i) {
    bitmap = CreateBitmap(filled(64, 64, i));
    block = GlobalAlloc(64);
    ASSERT_TRUE(SetClipboardData(kClipboardBitmap, CreateBitmap(filled(4, 4, i))));
    SetVirtualDesktopSize(32 + i % 2, 32);
    std::this_thread::yield();
    ASSERT_TRUE(DeleteObject(bitmap.exchange(0)));
    ASSERT_TRUE(GlobalFree(block.exchange(0)));
  }
  done = true;
  reader.join();
  EXPECT_GT(seen.load(), 0u);
  ReleaseDC(desktop_dc);
  EmptyClipboard();
  EXPECT_EQ(GlobalBlockCount(), blocks);

  // A block freed while locked: unknown to every other call, readable until unlocked.
  const int32_t h = GlobalAlloc(16);
  uint8_t* p = GlobalLock(h);
  EXPECT_TRUE(GlobalFree(h));
  EXPECT_EQ(std::make_tuple(GlobalSize(h), GlobalLock(h), GlobalFree(h), GlobalBlockCount(), p[15]),
            std::make_tuple(size_t{0}, nullptr, false, blocks, uint8_t{0}));
  EXPECT_TRUE(GlobalUnlock(h));  // the last unlock releases the bytes
  EXPECT_FALSE(GlobalUnlock(h));
}

TEST(HostPictures, APictureDeletesTheObjectItOwns) {
  const int32_t bmp = CreateBitmap(filled(1, 1, 0));
  const int32_t icon = CreateIcon(filled(1, 1, 0), Bitmap::Blank(1, 1, 1));
  const int32_t kept = CreateBitmap(filled(1, 1, 0));
  {
    Picture a(Picture::kBitmap, bmp);
    Picture b(Picture::kIcon, icon);
    Picture c(Picture::kBitmap, kept, 0, false);
  }
  EXPECT_EQ(std::make_tuple(GetBitmap(bmp), GetIcon(icon)), std::make_tuple(nullptr, nullptr));
  EXPECT_NE(GetBitmap(kept), nullptr);
  DeleteObject(kept);
}

TEST(HostScreen, WithoutADisplayTheVirtualDesktopIsCaptured) {
  const DisplayOverride no_display(nullptr);
  SetVirtualDesktopSize(64, 48);
  const int32_t dc = GetWindowDC(0);
  const BitmapPtr screen = GetDCSurface(dc);
  ASSERT_NE(screen, nullptr);
  ASSERT_EQ(screen->width, 64);
  screen->bits[static_cast<size_t>(10) * screen->stride() + 4 * 5 + 2] = 0xEE;  // red of (5, 10)
  ReleaseDC(dc);
  const auto shot = CaptureScreen({4, 9, 8, 13});
  ASSERT_TRUE(shot.has_value());
  EXPECT_EQ(shot->width, 4);
  EXPECT_EQ(shot->bits[static_cast<size_t>(1) * shot->stride() + 4 * 1 + 2], 0xEE);
  // Beyond the screen: black.
  const auto outside = CaptureScreen({60, 40, 70, 50});
  ASSERT_TRUE(outside.has_value());
  EXPECT_EQ(outside->bits[static_cast<size_t>(9) * outside->stride() + 4 * 9], 0);
  EXPECT_FALSE(CaptureScreen({5, 5, 5, 6}).has_value());
}

// A private X server showing a window of a known colour: that is what the
// desktop captures.
TEST(HostScreen, WithADisplayTheScreenIsCaptured) {
  const std::string display = ":" + std::to_string(70 + getpid() % 20);
  const pid_t server = fork();
  ASSERT_GE(server, 0);
  if (server == 0) {
    execlp("Xvfb", "Xvfb", display.c_str(), "-screen", "0", "320x200x24", "-nolisten", "tcp",
           static_cast<char*>(nullptr));
    _exit(127);
  }
  Display* d = nullptr;
  for (int i = 0; i < 100 && d == nullptr; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    d = XOpenDisplay(display.c_str());
  }
  ASSERT_NE(d, nullptr) << "Xvfb did not come up";
  const int screen = DefaultScreen(d);
  const Window w = XCreateSimpleWindow(d, RootWindow(d, screen), 300, 180, 20, 20, 0, 0, 0x3366CC);
  XSetWindowAttributes attrs{};
  attrs.override_redirect = True;
  XChangeWindowAttributes(d, w, CWOverrideRedirect, &attrs);
  XMapWindow(d, w);
  XSync(d, False);

  const DisplayOverride ours(display.c_str());
  WindowRect r;
  ASSERT_TRUE(GetWindowRect(GetDesktopWindow(), r));
  EXPECT_EQ(std::make_pair(r.right, r.bottom), std::make_pair(320, 200));
  const auto shot = CaptureScreen({310, 190, 330, 210});  // partly off the screen
  ASSERT_TRUE(shot.has_value());
  EXPECT_EQ(std::vector<uint8_t>(shot->bits.begin(), shot->bits.begin() + 4),
            (std::vector<uint8_t>{0xCC, 0x66, 0x33, 0xFF}));
  EXPECT_EQ(shot->bits[static_cast<size_t>(15) * shot->stride() + 4 * 15], 0);  // off: black
  XCloseDisplay(d);
  kill(server, SIGTERM);
  waitpid(server, nullptr, 0);
}

}  // namespace
}  // namespace korvex::host
