// Host objects: the bitmaps, palettes, icons, device contexts, windows,
// clipboard and picture objects that host programs exchange with the engine.
//
// Every object is named by a positive 32-bit handle (0 = none) in one
// process-wide table; handles are not reused while the process runs (until
// 2^31 have been handed out). Objects are created and deleted explicitly, as
// in a desktop graphics API; picture objects own the handle they carry.
//
// Handles may be passed between threads (a host fills the clipboard on its
// GUI thread, the engine reads it on a worker). The getters hand out shared
// ownership: deleting a handle only removes it from the table, and the object
// lives on until the last reference taken before the deletion is dropped.
// Reading and writing one object's pixels from two threads at once still
// needs the caller's own ordering, as with any shared buffer.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

namespace korvex::host {

// ---- Bitmaps ------------------------------------------------------------------

// A device-independent bitmap: rows top-down, each padded to a multiple of 4
// bytes, 1/4/8/16/24/32 bits per pixel laid out as in a packed DIB (1 bit MSB
// first, 16 bits x5-5-5, 24 bits B,G,R, 32 bits B,G,R,x). Colour tables hold
// 0x00RRGGBB entries (the fourth byte is ignored, as in a DIB).
struct Bitmap {
  int32_t width = 0;
  int32_t height = 0;
  int32_t bits_per_pixel = 32;
  std::vector<uint32_t> colors;
  std::vector<uint8_t> bits;

  int32_t stride() const { return ((width * bits_per_pixel + 31) / 32) * 4; }
  // A zeroed bitmap of the given size and depth (no colour table).
  static Bitmap Blank(int32_t width, int32_t height, int32_t bits_per_pixel);
};

// Registers a copy of the bitmap; 0 when its fields are inconsistent (depth
// not 1/4/8/16/24/32, sizes not positive, bits shorter than stride x height,
// more colours than the depth can index).
int32_t CreateBitmap(const Bitmap& bitmap);
using BitmapPtr = std::shared_ptr<Bitmap>;
// The bitmap behind a handle, or null. The reference stays valid after the
// handle is deleted (by any thread); the bitmap is then no longer reachable
// through the handle.
BitmapPtr GetBitmap(int32_t handle);

// ---- Palettes -------------------------------------------------------------------

// A logical palette of 0x00RRGGBB entries (1 to 256).
int32_t CreatePalette(const std::vector<uint32_t>& entries);
using PalettePtr = std::shared_ptr<const std::vector<uint32_t>>;
PalettePtr GetPalette(int32_t handle);

// ---- Icons ----------------------------------------------------------------------

// An icon: a colour bitmap and a 1-bit AND mask of the same size (bit 1 =
// transparent). Both bitmaps are copied.
struct Icon {
  Bitmap color;
  Bitmap mask;
};
int32_t CreateIcon(const Bitmap& color, const Bitmap& mask);
using IconPtr = std::shared_ptr<const Icon>;
IconPtr GetIcon(int32_t handle);
bool DestroyIcon(int32_t handle);

// ---- Metafiles (WMF and EMF) -----------------------------------------------------

// A metafile: the bytes of a placeable WMF file (shown by type 2 pictures and
// held by clipboard format 3) or of an EMF file (type 4 pictures), copied.
struct Metafile {
  bool enhanced = false;
  std::vector<uint8_t> bytes;
};
using MetafilePtr = std::shared_ptr<const Metafile>;
// Registers a copy of the bytes; 0 when they do not start as that kind of
// file (the placeable WMF key, or an EMF header record). Deleted with
// DeleteObject.
int32_t SetMetaFileBits(const uint8_t* data, size_t size);
int32_t SetEnhMetaFileBits(const uint8_t* data, size_t size);
MetafilePtr GetMetafile(int32_t handle);

// Deletes a bitmap, palette, memory device context or metafile; false for
// an unknown handle, an icon or a window.
bool DeleteObject(int32_t handle);

// ---- Device contexts and windows -----------------------------------------------

// A memory device context draws into the bitmap selected into it (32-bit
// bitmaps only for drawing); a window's device context draws into the
// window's own 32-bit surface.
int32_t CreateMemoryDC();
// Selects a bitmap into a memory DC; returns the previously selected bitmap
// (0 when none) or -1 on failure.
int32_t SelectBitmap(int32_t hdc, int32_t hbitmap);
// The device context of a window (0 = the desktop window's).
int32_t GetWindowDC(int32_t hwnd);
bool ReleaseDC(int32_t hdc);
// The bitmap a device context draws into: the selected bitmap, or the
// window's surface. Null when there is none. A surface replaced meanwhile
// (the virtual desktop resized) stays valid for the reference's holder.
BitmapPtr GetDCSurface(int32_t hdc);

struct WindowRect {
  int32_t left = 0;
  int32_t top = 0;
  int32_t right = 0;
  int32_t bottom = 0;
};
// A window: a rectangle of the desktop with a 32-bit surface of its size.
int32_t CreateWindow(const WindowRect& rect);
// Moves and resizes a window (not the desktop); a new size gives it a new,
// cleared surface. False for an unknown window or a size CreateWindow refuses.
bool MoveWindow(int32_t hwnd, const WindowRect& rect);
bool DestroyWindow(int32_t hwnd);
bool GetWindowRect(int32_t hwnd, WindowRect& rect);
// The desktop window. Its surface is the screen: captured from the X11 root
// window when a display is reachable, else a virtual desktop of 1024 x 768
// (SetVirtualDesktopSize changes it) that host code can paint.
int32_t GetDesktopWindow();
void SetVirtualDesktopSize(int32_t width, int32_t height);
// Reads the pixels of a screen rectangle (desktop coordinates) into a new
// 32-bit bitmap: from the X11 display when one is reachable, else from the
// virtual desktop surface. Parts outside the screen read as black.
std::optional<Bitmap> CaptureScreen(const WindowRect& rect);

// ---- Clipboard --------------------------------------------------------------------

// Formats: 2 bitmap (a bitmap handle), 3 metafile picture (a WMF metafile
// handle), 8 packed DIB (a
// global-memory handle), 9 palette (a palette handle). The clipboard owns the
// handles put on it and deletes them when it is emptied or the format is
// replaced.
enum ClipboardFormat : uint32_t {
  kClipboardBitmap = 2,
  kClipboardMetafile = 3,
  kClipboardDib = 8,
  kClipboardPalette = 9
};
bool EmptyClipboard();
bool SetClipboardData(uint32_t format, int32_t handle);
// The handle held for a format (still owned by the clipboard), 0 when absent.
int32_t GetClipboardData(uint32_t format);
bool IsClipboardFormatAvailable(uint32_t format);

// ---- Event loop ------------------------------------------------------------------------

// Members that wait (an animation played onto a device context) let the
// host's event loop run while they do: the host installs a pump that
// dispatches its pending events (a GUI toolkit's processEvents). Without one,
// waiting just sleeps. The pump is per thread.
using EventPump = void (*)(void* context);
void SetEventPump(EventPump pump, void* context);
// Waits the given milliseconds, running the pump about every 10 ms.
void WaitPumping(int64_t milliseconds);

// ---- Picture objects ----------------------------------------------------------------

// A picture object: type 1 bitmap, 2 metafile, 3 icon, 4 enhanced metafile;
// the handle of the object it shows and, for bitmaps, an optional palette.
// A picture that owns its handle deletes it when it is destroyed.
class Picture {
 public:
  enum Type : int16_t { kNone = 0, kBitmap = 1, kMetafile = 2, kIcon = 3, kEnhancedMetafile = 4 };
  Picture(Type type, int32_t handle, int32_t palette = 0, bool owns = true)
      : type_(type), handle_(handle), palette_(palette), owns_(owns) {}
  ~Picture();
  Picture(const Picture&) = delete;
  Picture& operator=(const Picture&) = delete;

  Type type() const { return type_; }
  int32_t handle() const { return handle_; }
  int32_t palette() const { return palette_; }
  // Forgets the handle without deleting it (after it was deleted elsewhere).
  void release() { handle_ = 0; }

 private:
  Type type_;
  int32_t handle_;
  int32_t palette_;
  bool owns_;
};
using PicturePtr = std::shared_ptr<Picture>;

}  // namespace korvex::host
