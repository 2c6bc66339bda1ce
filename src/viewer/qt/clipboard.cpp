// The clipboard bridge of ViewerWidget: the process clipboard of
// korvex/host.h (where the viewer and the engine copy and paste bitmaps)
// and the desktop's QClipboard.
#include <QClipboard>
#include <QGuiApplication>
#include <QImage>
#include <cstring>

#include "korvex/host.h"
#include "korvex/qt/viewer_widget.h"

namespace korvex::qt {

namespace {

// A 24- or 32-bit bitmap, or one with a colour table, as a 32-bit image.
QImage to_image(const host::Bitmap& b) {
  QImage out(b.width, b.height, QImage::Format_RGB32);
  if (out.isNull()) return out;
  const int32_t bpp = b.bits_per_pixel;
  for (int32_t y = 0; y < b.height; ++y) {
    const uint8_t* row = b.bits.data() + static_cast<std::ptrdiff_t>(y) * b.stride();
    auto* d = reinterpret_cast<uint32_t*>(out.scanLine(y));
    for (int32_t x = 0; x < b.width; ++x) {
      uint32_t rgb = 0;
      if (bpp == 32 || bpp == 24) {
        const uint8_t* p = row + static_cast<std::ptrdiff_t>(x) * (bpp / 8);
        rgb = (uint32_t{p[2]} << 16) | (uint32_t{p[1]} << 8) | p[0];
      } else if (bpp == 1 || bpp == 4 || bpp == 8) {
        const int32_t bit = x * bpp;
        const uint32_t index = (row[bit / 8] >> (8 - bpp - bit % 8)) & ((1u << bpp) - 1);
        rgb = index < b.colors.size() ? b.colors[index] & 0xFFFFFF : 0;
      } else {
        return QImage();  // 16-bit bitmaps are not put on the clipboard by the engine
      }
      d[x] = 0xFF000000u | rgb;
    }
  }
  return out;
}

}  // namespace

bool ViewerWidget::publishClipboard() {
  const int32_t handle = host::GetClipboardData(host::kClipboardBitmap);
  const host::BitmapPtr bitmap = handle != 0 ? host::GetBitmap(handle) : nullptr;
  if (!bitmap) return false;
  const QImage image = to_image(*bitmap);
  if (image.isNull()) return false;
  QGuiApplication::clipboard()->setImage(image);
  return true;
}

bool ViewerWidget::adoptClipboard() {
  const QImage image = QGuiApplication::clipboard()->image().convertToFormat(QImage::Format_RGB32);
  if (image.isNull()) return false;
  host::Bitmap b = host::Bitmap::Blank(image.width(), image.height(), 32);
  for (int y = 0; y < image.height(); ++y)
    std::memcpy(b.bits.data() + static_cast<std::ptrdiff_t>(y) * b.stride(), image.constScanLine(y),
                static_cast<size_t>(image.width()) * 4);
  const int32_t handle = host::CreateBitmap(b);
  if (handle == 0) return false;
  host::EmptyClipboard();
  return host::SetClipboardData(host::kClipboardBitmap, handle);
}

}  // namespace korvex::qt
