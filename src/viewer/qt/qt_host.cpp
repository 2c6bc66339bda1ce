// The Qt host: client area, bars, corner box, selection, menu items,
// pointer, timers and message boxes of a ViewerWidget.
#include "viewer/qt/qt_host.h"

#include <QMenu>
#include <QMessageBox>
#include <QSignalBlocker>
#include <QStyle>
#include <algorithm>
#include <cmath>
#include <cstring>

#include "viewer/qt/raster_op.h"

namespace korvex::qt {

namespace {

// COLORREF (red in the low byte) to the 0xRRGGBB of a 32-bit pixel.
uint32_t colorref_to_rgb(int32_t c) {
  const auto u = static_cast<uint32_t>(c);
  return ((u & 0xFF) << 16) | (u & 0xFF00) | ((u >> 16) & 0xFF);
}

// Draws the border of `s` over `img` with its raster operation: the pixels
// of a `w`-thick frame inside the rectangle, dashed by the border style.
void draw_selection(QImage& img, const viewer::SelectionShape& s) {
  const int32_t w = std::max(s.border_width, 1);
  const uint32_t pen = colorref_to_rgb(s.border_color);
  const int32_t x0 = s.place.x, y0 = s.place.y;
  const int32_t x1 = s.place.x + s.place.width, y1 = s.place.y + s.place.height;
  auto plot = [&](int32_t x, int32_t y, int32_t i) {
    if (x < 0 || y < 0 || x >= img.width() || y >= img.height()) return;
    if (!BorderPixelOn(s.border_style, w, i)) return;
    auto* px = reinterpret_cast<uint32_t*>(img.scanLine(y)) + x;
    *px = 0xFF000000u | ApplyRasterOp(s.draw_mode, pen, *px & 0xFFFFFF);
  };
  // Each border pixel once, even where the edges meet: top and bottom rows
  // span the width, the side columns fill the rows between them.
  for (int32_t t = 0; t < w; ++t) {
    const int32_t top = y0 + t, bottom = y1 - 1 - t;
    for (int32_t x = x0; x < x1; ++x) {
      plot(x, top, x - x0);
      if (bottom > top) plot(x, bottom, x - x0);
    }
  }
  for (int32_t t = 0; t < w; ++t) {
    const int32_t left = x0 + t, right = x1 - 1 - t;
    for (int32_t y = y0 + w; y < y1 - w; ++y) {
      plot(left, y, y - y0);
      if (right > left) plot(right, y, y - y0);
    }
  }
}

Qt::CursorShape cursor_of(int32_t pointer) {
  switch (pointer) {
    case viewer::kPointerCrossHair:
      return Qt::CrossCursor;
    case viewer::kPointerHand:
      return Qt::OpenHandCursor;
    default:
      return Qt::ArrowCursor;
  }
}

}  // namespace

ViewerWidget::Host::Host(ViewerWidget* widget)
    : widget_(widget),
      hbar_(new QScrollBar(Qt::Horizontal, widget)),
      vbar_(new QScrollBar(Qt::Vertical, widget)),
      corner_(new QWidget(widget)),
      menu_(new QMenu(widget)) {
  for (QScrollBar* b : {hbar_, vbar_}) {
    b->hide();
    b->setFocusPolicy(Qt::StrongFocus);
  }
  corner_->setAutoFillBackground(true);
  corner_->setBackgroundRole(QPalette::Button);
  corner_->hide();
  SyncSize();
}

ViewerWidget::Host::~Host() {
  StopAll();
  if (hdc_ != 0) host::ReleaseDC(hdc_);
  if (hwnd_ != 0) host::DestroyWindow(hwnd_);
}

void ViewerWidget::Host::StopAll() {
  for (auto& [id, timer] : timers_)
    if (timer) timer->deleteLater();
  timers_.clear();
}

bool ViewerWidget::Host::SyncSize() {
  scale_ = widget_->devicePixelRatioF();
  if (!(scale_ > 0)) scale_ = 1.0;
  const auto w = static_cast<int32_t>(std::lround(widget_->width() * scale_));
  const auto h = static_cast<int32_t>(std::lround(widget_->height() * scale_));
  if (w == width_ && h == height_ && (surface_ || w == 0 || h == 0)) return false;
  width_ = std::max(w, 0);
  height_ = std::max(h, 0);
  surface_.reset();
  if (width_ > 0 && height_ > 0) {
    const host::WindowRect rect{0, 0, width_, height_};
    if (hwnd_ == 0) {
      hwnd_ = host::CreateWindow(rect);
      hdc_ = hwnd_ != 0 ? host::GetWindowDC(hwnd_) : 0;
    } else {
      host::MoveWindow(hwnd_, rect);
    }
    if (hdc_ != 0) surface_ = host::GetDCSurface(hdc_);
  }
  return true;
}

int32_t ViewerWidget::Host::VScrollWidth() const {
  if (vbar_ == nullptr) return 0;
  const int extent = widget_->style()->pixelMetric(QStyle::PM_ScrollBarExtent, nullptr, vbar_);
  return static_cast<int32_t>(std::lround(extent * scale_));
}

int32_t ViewerWidget::Host::HScrollHeight() const {
  if (hbar_ == nullptr) return 0;
  const int extent = widget_->style()->pixelMetric(QStyle::PM_ScrollBarExtent, nullptr, hbar_);
  return static_cast<int32_t>(std::lround(extent * scale_));
}

QRect ViewerWidget::Host::to_widget(const viewer::PixelRect& r) const {
  const auto x0 = static_cast<int>(std::floor(r.x / scale_));
  const auto y0 = static_cast<int>(std::floor(r.y / scale_));
  const auto x1 = static_cast<int>(std::ceil((r.x + r.width) / scale_));
  const auto y1 = static_cast<int>(std::ceil((r.y + r.height) / scale_));
  return QRect(x0, y0, x1 - x0, y1 - y0);
}

void ViewerWidget::Host::SetScrollBar(viewer::Bar bar, const viewer::BarState& s) {
  QScrollBar* b = this->bar(bar);
  if (b == nullptr) return;
  // The viewer runs its own change handler: setting a bar reports nothing.
  const QSignalBlocker quiet(b);
  b->setRange(s.min, s.max);
  b->setValue(s.value);
  b->setSingleStep(s.small_change);
  b->setPageStep(s.large_change);
  b->setGeometry(to_widget(s.place));
  b->setVisible(s.visible);
}

void ViewerWidget::Host::SetCornerBox(bool visible, const viewer::PixelRect& place) {
  if (corner_ == nullptr) return;
  corner_->setGeometry(to_widget(place));
  corner_->setVisible(visible);
}

void ViewerWidget::Host::SetSelectionShape(const viewer::SelectionShape& shape) {
  shape_ = shape;
  widget_->update();
}

void ViewerWidget::Host::SetMenuItem(const std::string& name, bool checked, bool enabled) {
  if (menu_ == nullptr) return;
  auto* action = menu_->findChild<QAction*>(QString::fromStdString(name));
  if (action == nullptr) return;
  if (checked) action->setCheckable(true);
  action->setChecked(checked);
  action->setEnabled(enabled);
}

void ViewerWidget::Host::SetMenuCaption(const std::string& name, const std::string& caption) {
  auto* action = menu_->findChild<QAction*>(QString::fromStdString(name));
  if (action != nullptr) action->setText(QString::fromStdString(caption));
}

void ViewerWidget::Host::ShowPopupMenu(int32_t x, int32_t y) {
  if (menu_ == nullptr) return;
  const QPoint at(static_cast<int>(x / scale_), static_cast<int>(y / scale_));
  // Not modal: the viewer's mouse handler returns before an item runs.
  menu_->popup(widget_->mapToGlobal(at));
}

void ViewerWidget::Host::SetMousePointer(int32_t pointer) {
  widget_->setCursor(cursor_of(pointer));
}

int32_t ViewerWidget::Host::StartTimer(int32_t milliseconds, std::function<void()> fire) {
  const int32_t id = next_timer_++;
  auto* timer = new QTimer(widget_);
  timer->setSingleShot(true);
  timers_[id] = timer;
  QObject::connect(timer, &QTimer::timeout, widget_, [this, id, fire = std::move(fire)]() {
    const auto it = timers_.find(id);
    if (it == timers_.end()) return;
    if (it->second) it->second->deleteLater();
    timers_.erase(it);
    // Nothing of the host is touched after the viewer ran: it may have closed.
    const std::function<void()> run = fire;
    run();
  });
  timer->start(std::max(milliseconds, 0));
  return id;
}

void ViewerWidget::Host::StopTimer(int32_t id) {
  const auto it = timers_.find(id);
  if (it == timers_.end()) return;
  if (it->second) {
    it->second->stop();
    it->second->deleteLater();
  }
  timers_.erase(it);
}

void ViewerWidget::Host::PropertyChanged(const std::string& name) {
  emit widget_->propertyChanged(QString::fromStdString(name));
}

void ViewerWidget::Host::MessageBox(const std::string& text, int32_t style) {
  // Window-modal and not waited for: the viewer carries on, the user closes it.
  auto* box = new QMessageBox(
      style == viewer::kMessageCritical ? QMessageBox::Critical : QMessageBox::Information,
      QStringLiteral("Korvex"), QString::fromStdString(text), QMessageBox::Ok, widget_);
  box->setAttribute(Qt::WA_DeleteOnClose);
  box->open();
}

viewer::PixelBuffer ViewerWidget::Host::BeginPaint() {
  if (!surface_) return viewer::PixelBuffer{nullptr, 0, 0, 0};
  return viewer::PixelBuffer{surface_->bits.data(), surface_->width, surface_->height,
                             surface_->stride()};
}

void ViewerWidget::Host::EndPaint() {
  widget_->update();
}

void ViewerWidget::Host::Refresh() {
  widget_->update();
}

void ViewerWidget::Host::SetMaskedPicture(const viewer::PixelBuffer& p, int32_t mask_color) {
  if (p.pixels == nullptr || p.width <= 0 || p.height <= 0) {
    picture_ = QImage();
    widget_->update();
    return;
  }
  picture_ = QImage(p.width, p.height, QImage::Format_ARGB32);
  if (picture_.isNull()) return;
  const uint32_t mask = colorref_to_rgb(mask_color);
  for (int32_t y = 0; y < p.height; ++y) {
    const auto* s = reinterpret_cast<const uint32_t*>(p.row(y));
    auto* d = reinterpret_cast<uint32_t*>(picture_.scanLine(y));
    for (int32_t x = 0; x < p.width; ++x) {
      const bool clear = (s[x] >> 24) == 0 || (s[x] & 0xFFFFFF) == mask;
      d[x] = clear ? 0u : (s[x] | 0xFF000000u);
    }
  }
  picture_.setDevicePixelRatio(scale_);
  widget_->update();
}

void ViewerWidget::Host::RemoveChild(const std::string& name) {
  // Deleted later: the removal may come from a handler the widget is running.
  auto drop = [](auto*& w) {
    if (w == nullptr) return;
    w->hide();
    w->deleteLater();
    w = nullptr;
  };
  if (name == "HScroll") {
    drop(hbar_);
  } else if (name == "VScroll") {
    drop(vbar_);
  } else if (name == "shCorner") {
    drop(corner_);
  } else if (name == "shRect") {
    shape_ = viewer::SelectionShape{};
  } else if (name == "menu") {
    drop(menu_);
  } else if (menu_ != nullptr) {
    if (auto* a = menu_->findChild<QAction*>(QString::fromStdString(name))) {
      a->setVisible(false);
      // A submenu owns its own action: deleting the menu takes both.
      if (QMenu* sub = a->menu()) {
        sub->deleteLater();
      } else {
        a->deleteLater();
      }
    }
  }
  widget_->update();
}

QImage ViewerWidget::Host::Frame() const {
  if (!surface_ || surface_->width <= 0 || surface_->height <= 0) return QImage();
  // A copy: the surface belongs to the viewer between paints.
  QImage out(surface_->width, surface_->height, QImage::Format_RGB32);
  if (out.isNull()) return out;
  for (int32_t y = 0; y < surface_->height; ++y) {
    const auto* s = reinterpret_cast<const uint32_t*>(
        surface_->bits.data() + static_cast<std::ptrdiff_t>(y) * surface_->stride());
    auto* d = reinterpret_cast<uint32_t*>(out.scanLine(y));
    for (int32_t x = 0; x < surface_->width; ++x) d[x] = s[x] | 0xFF000000u;  // opaque
  }
  if (shape_.visible && shape_.place.width > 0 && shape_.place.height > 0)
    draw_selection(out, shape_);
  out.setDevicePixelRatio(scale_);
  return out;
}

}  // namespace korvex::qt
