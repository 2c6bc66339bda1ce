// The process-wide table of host objects: bitmaps, palettes, icons,
// metafiles, device contexts, windows; the clipboard; picture objects.
#include <algorithm>
#include <cstring>
#include <limits>
#include <memory>
#include <mutex>
#include <unordered_map>
#include <variant>

#include "host/screen.h"
#include "korvex/global_memory.h"
#include "korvex/host.h"

namespace korvex::host {

namespace {

struct MemoryDC {
  int32_t bitmap = 0;
};
struct WindowDC {
  int32_t window = 0;
};
struct Window {
  WindowRect rect;
  BitmapPtr surface;
  bool desktop = false;
};
// Bitmaps, palettes, icons and window surfaces are held through shared
// pointers: the table keeps one reference, each getter's caller another, so
// deleting a handle on one thread never pulls an object from under a thread
// that is still reading or drawing into it.
using Object =
    std::variant<BitmapPtr, PalettePtr, IconPtr, MetafilePtr, MemoryDC, WindowDC, Window>;

// One lock guards the handle map, the desktop and the clipboard; the helpers
// below that take a Table& expect it held. Global-memory blocks have their
// own lock, taken after this one and never before it.
struct Table {
  std::mutex mutex;
  std::unordered_map<int32_t, Object> objects;
  int32_t next = 0x1000;  // well apart from small integers hosts might pass by mistake
  int32_t desktop = 0;
  int32_t desktop_width = 1024;
  int32_t desktop_height = 768;
  std::unordered_map<uint32_t, int32_t> clipboard;
};

Table& table() {
  static Table t;
  return t;
}

using Guard = std::lock_guard<std::mutex>;

int32_t add(Table& t, Object o) {
  int32_t h = t.next;
  while (t.objects.count(h) != 0) h = h == std::numeric_limits<int32_t>::max() ? 0x1000 : h + 1;
  t.next = h == std::numeric_limits<int32_t>::max() ? 0x1000 : h + 1;
  t.objects.emplace(h, std::move(o));
  return h;
}

template <typename T>
T* find(Table& t, int32_t h) {
  auto it = t.objects.find(h);
  if (it == t.objects.end()) return nullptr;
  return std::get_if<T>(&it->second);
}

// The shared object behind a handle of that kind, or null.
template <typename P>
P share(Table& t, int32_t h) {
  const P* p = find<P>(t, h);
  return p != nullptr ? *p : nullptr;
}

bool valid_bitmap(const Bitmap& b) {
  switch (b.bits_per_pixel) {
    case 1:
    case 4:
    case 8:
    case 16:
    case 24:
    case 32:
      break;
    default:
      return false;
  }
  if (b.width <= 0 || b.height <= 0 || b.width > (1 << 24) || b.height > (1 << 24)) return false;
  if (b.bits_per_pixel <= 8 && b.colors.size() > (size_t{1} << b.bits_per_pixel)) return false;
  if (b.colors.size() > 256) return false;
  return b.bits.size() >= static_cast<size_t>(b.stride()) * static_cast<size_t>(b.height);
}

int32_t ensure_desktop(Table& t) {
  if (t.desktop != 0 && t.objects.count(t.desktop) != 0) return t.desktop;
  Window w;
  w.desktop = true;
  w.rect = {0, 0, t.desktop_width, t.desktop_height};
  w.surface = std::make_shared<Bitmap>(Bitmap::Blank(t.desktop_width, t.desktop_height, 32));
  t.desktop = add(t, std::move(w));
  return t.desktop;
}

// DeleteObject's rule: bitmaps, palettes and memory DCs go; icons, windows
// and window DCs have their own release calls.
bool delete_object(Table& t, int32_t h) {
  auto it = t.objects.find(h);
  if (it == t.objects.end()) return false;
  if (std::holds_alternative<IconPtr>(it->second) || std::holds_alternative<Window>(it->second) ||
      std::holds_alternative<WindowDC>(it->second)) {
    return false;
  }
  t.objects.erase(it);
  return true;
}

// Releases what a clipboard format holds.
void drop_clipboard_handle(Table& t, uint32_t format, int32_t h) {
  if (format == kClipboardDib) {
    GlobalFree(h);
  } else if (format == kClipboardBitmap || format == kClipboardPalette ||
             format == kClipboardMetafile) {
    delete_object(t, h);
  }
}

}  // namespace

Bitmap Bitmap::Blank(int32_t width, int32_t height, int32_t bits_per_pixel) {
  Bitmap b;
  b.width = width;
  b.height = height;
  b.bits_per_pixel = bits_per_pixel;
  b.bits.assign(static_cast<size_t>(b.stride()) * static_cast<size_t>(std::max(0, height)), 0);
  return b;
}

int32_t CreateBitmap(const Bitmap& bitmap) {
  if (!valid_bitmap(bitmap)) return 0;
  auto copy = std::make_shared<Bitmap>(bitmap);
  Table& t = table();
  const Guard g(t.mutex);
  return add(t, std::move(copy));
}

BitmapPtr GetBitmap(int32_t handle) {
  Table& t = table();
  const Guard g(t.mutex);
  return share<BitmapPtr>(t, handle);
}

int32_t CreatePalette(const std::vector<uint32_t>& entries) {
  if (entries.empty() || entries.size() > 256) return 0;
  PalettePtr copy = std::make_shared<const std::vector<uint32_t>>(entries);
  Table& t = table();
  const Guard g(t.mutex);
  return add(t, std::move(copy));
}

PalettePtr GetPalette(int32_t handle) {
  Table& t = table();
  const Guard g(t.mutex);
  return share<PalettePtr>(t, handle);
}

int32_t CreateIcon(const Bitmap& color, const Bitmap& mask) {
  if (!valid_bitmap(color) || !valid_bitmap(mask) || mask.bits_per_pixel != 1 ||
      mask.width != color.width || mask.height != color.height) {
    return 0;
  }
  IconPtr copy = std::make_shared<const Icon>(Icon{color, mask});
  Table& t = table();
  const Guard g(t.mutex);
  return add(t, std::move(copy));
}

IconPtr GetIcon(int32_t handle) {
  Table& t = table();
  const Guard g(t.mutex);
  return share<IconPtr>(t, handle);
}

bool DestroyIcon(int32_t handle) {
  Table& t = table();
  const Guard g(t.mutex);
  if (find<IconPtr>(t, handle) == nullptr) return false;
  t.objects.erase(handle);
  return true;
}

namespace {

// Placeable WMF key, or an EMF header record (type 1, " EMF" at offset 40).
bool metafile_signature(const uint8_t* d, size_t n, bool enhanced) {
  if (d == nullptr) return false;
  if (!enhanced) return n >= 22 && std::memcmp(d, "\xD7\xCD\xC6\x9A", 4) == 0;
  return n >= 44 && std::memcmp(d, "\x01\0\0\0", 4) == 0 && std::memcmp(d + 40, " EMF", 4) == 0;
}

int32_t add_metafile(const uint8_t* data, size_t size, bool enhanced) {
  if (!metafile_signature(data, size, enhanced)) return 0;
  MetafilePtr copy =
      std::make_shared<const Metafile>(Metafile{enhanced, std::vector<uint8_t>(data, data + size)});
  Table& t = table();
  const Guard g(t.mutex);
  return add(t, std::move(copy));
}

}  // namespace

int32_t SetMetaFileBits(const uint8_t* data, size_t size) {
  return add_metafile(data, size, false);
}

int32_t SetEnhMetaFileBits(const uint8_t* data, size_t size) {
  return add_metafile(data, size, true);
}

MetafilePtr GetMetafile(int32_t handle) {
  Table& t = table();
  const Guard g(t.mutex);
  return share<MetafilePtr>(t, handle);
}

bool DeleteObject(int32_t handle) {
  Table& t = table();
  const Guard g(t.mutex);
  return delete_object(t, handle);
}

int32_t CreateMemoryDC() {
  Table& t = table();
  const Guard g(t.mutex);
  return add(t, MemoryDC{});
}

int32_t SelectBitmap(int32_t hdc, int32_t hbitmap) {
  Table& t = table();
  const Guard g(t.mutex);
  MemoryDC* dc = find<MemoryDC>(t, hdc);
  if (dc == nullptr || (hbitmap != 0 && find<BitmapPtr>(t, hbitmap) == nullptr)) return -1;
  const int32_t previous = dc->bitmap;
  dc->bitmap = hbitmap;
  return previous;
}

int32_t GetWindowDC(int32_t hwnd) {
  Table& t = table();
  const Guard g(t.mutex);
  if (hwnd == 0) hwnd = ensure_desktop(t);
  if (find<Window>(t, hwnd) == nullptr) return 0;
  return add(t, WindowDC{hwnd});
}

bool ReleaseDC(int32_t hdc) {
  Table& t = table();
  const Guard g(t.mutex);
  auto it = t.objects.find(hdc);
  if (it == t.objects.end()) return false;
  if (!std::holds_alternative<WindowDC>(it->second) &&
      !std::holds_alternative<MemoryDC>(it->second)) {
    return false;
  }
  t.objects.erase(it);
  return true;
}

BitmapPtr GetDCSurface(int32_t hdc) {
  Table& t = table();
  const Guard g(t.mutex);
  if (const MemoryDC* dc = find<MemoryDC>(t, hdc)) return share<BitmapPtr>(t, dc->bitmap);
  if (const WindowDC* dc = find<WindowDC>(t, hdc)) {
    if (const Window* w = find<Window>(t, dc->window)) return w->surface;
  }
  return nullptr;
}

int32_t CreateWindow(const WindowRect& rect) {
  const int64_t w = static_cast<int64_t>(rect.right) - rect.left;
  const int64_t h = static_cast<int64_t>(rect.bottom) - rect.top;
  if (w <= 0 || h <= 0 || w > 65536 || h > 65536) return 0;
  Window win;
  win.rect = rect;
  win.surface =
      std::make_shared<Bitmap>(Bitmap::Blank(static_cast<int32_t>(w), static_cast<int32_t>(h), 32));
  Table& t = table();
  const Guard g(t.mutex);
  return add(t, std::move(win));
}

bool MoveWindow(int32_t hwnd, const WindowRect& rect) {
  const int64_t w = static_cast<int64_t>(rect.right) - rect.left;
  const int64_t h = static_cast<int64_t>(rect.bottom) - rect.top;
  if (w <= 0 || h <= 0 || w > 65536 || h > 65536) return false;
  Table& t = table();
  const Guard g(t.mutex);
  Window* win = find<Window>(t, hwnd);
  if (win == nullptr || win->desktop) return false;
  const int64_t old_w = static_cast<int64_t>(win->rect.right) - win->rect.left;
  const int64_t old_h = static_cast<int64_t>(win->rect.bottom) - win->rect.top;
  win->rect = rect;
  if (w != old_w || h != old_h) {
    // A new surface: threads still drawing into the old one keep it until done.
    win->surface =
        std::make_shared<Bitmap>(Bitmap::Blank(static_cast<int32_t>(w), static_cast<int32_t>(h), 32));
  }
  return true;
}

bool DestroyWindow(int32_t hwnd) {
  Table& t = table();
  const Guard g(t.mutex);
  Window* w = find<Window>(t, hwnd);
  if (w == nullptr || w->desktop) return false;
  t.objects.erase(hwnd);
  return true;
}

bool GetWindowRect(int32_t hwnd, WindowRect& rect) {
  Table& t = table();
  const Guard g(t.mutex);
  if (hwnd == 0) hwnd = ensure_desktop(t);
  Window* w = find<Window>(t, hwnd);
  if (w == nullptr) return false;
  if (w->desktop) {
    int32_t sw = 0, sh = 0;
    if (x11_screen_size(sw, sh)) w->rect = {0, 0, sw, sh};
  }
  rect = w->rect;
  return true;
}

int32_t GetDesktopWindow() {
  Table& t = table();
  const Guard g(t.mutex);
  return ensure_desktop(t);
}

void SetVirtualDesktopSize(int32_t width, int32_t height) {
  if (width <= 0 || height <= 0 || width > 65536 || height > 65536) return;
  Table& t = table();
  const Guard g(t.mutex);
  t.desktop_width = width;
  t.desktop_height = height;
  if (Window* w = find<Window>(t, t.desktop)) {
    // A new surface: threads still drawing into the old one keep it until done.
    w->rect = {0, 0, width, height};
    w->surface = std::make_shared<Bitmap>(Bitmap::Blank(width, height, 32));
  }
}

std::optional<Bitmap> CaptureScreen(const WindowRect& rect) {
  const int64_t w = static_cast<int64_t>(rect.right) - rect.left;
  const int64_t h = static_cast<int64_t>(rect.bottom) - rect.top;
  if (w <= 0 || h <= 0 || w > 65536 || h > 65536) return std::nullopt;
  Bitmap out = Bitmap::Blank(static_cast<int32_t>(w), static_cast<int32_t>(h), 32);
  if (x11_capture(rect.left, rect.top, out)) return out;
  BitmapPtr surface;
  {
    Table& t = table();
    const Guard g(t.mutex);
    surface = find<Window>(t, ensure_desktop(t))->surface;
  }
  const Bitmap& s = *surface;
  for (int32_t y = 0; y < out.height; ++y) {
    const int64_t sy = rect.top + static_cast<int64_t>(y);
    if (sy < 0 || sy >= s.height) continue;
    for (int32_t x = 0; x < out.width; ++x) {
      const int64_t sx = rect.left + static_cast<int64_t>(x);
      if (sx < 0 || sx >= s.width) continue;
      std::memcpy(&out.bits[static_cast<size_t>(y) * out.stride() + 4 * static_cast<size_t>(x)],
                  &s.bits[static_cast<size_t>(sy) * s.stride() + 4 * static_cast<size_t>(sx)], 4);
    }
  }
  return out;
}

bool EmptyClipboard() {
  Table& t = table();
  const Guard g(t.mutex);
  for (const auto& [format, h] : t.clipboard) drop_clipboard_handle(t, format, h);
  t.clipboard.clear();
  return true;
}

bool SetClipboardData(uint32_t format, int32_t handle) {
  if (handle == 0) return false;
  Table& t = table();
  const Guard g(t.mutex);
  switch (format) {
    case kClipboardBitmap:
      if (find<BitmapPtr>(t, handle) == nullptr) return false;
      break;
    case kClipboardPalette:
      if (find<PalettePtr>(t, handle) == nullptr) return false;
      break;
    case kClipboardDib:
      if (GlobalSize(handle) == 0) return false;
      break;
    case kClipboardMetafile: {
      const MetafilePtr* m = find<MetafilePtr>(t, handle);
      if (m == nullptr || (*m)->enhanced) return false;
      break;
    }
    default:
      return false;
  }
  if (auto it = t.clipboard.find(format); it != t.clipboard.end() && it->second != handle) {
    drop_clipboard_handle(t, format, it->second);
  }
  t.clipboard[format] = handle;
  return true;
}

int32_t GetClipboardData(uint32_t format) {
  Table& t = table();
  const Guard g(t.mutex);
  auto it = t.clipboard.find(format);
  return it == t.clipboard.end() ? 0 : it->second;
}

bool IsClipboardFormatAvailable(uint32_t format) {
  return GetClipboardData(format) != 0;
}

Picture::~Picture() {
  if (!owns_ || handle_ == 0) return;
  if (type_ == kIcon) {
    DestroyIcon(handle_);
  } else {
    DeleteObject(handle_);
  }
}

}  // namespace korvex::host
