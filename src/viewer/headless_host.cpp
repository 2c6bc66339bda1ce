// The headless host: a memory client area and a log of what it was asked.
#include "viewer/headless_host.h"

#include <algorithm>
#include <cstring>

#include "raster/image.h"

namespace korvex::viewer {

namespace {

std::string rect_text(const PixelRect& r) {
  return std::to_string(r.x) + "," + std::to_string(r.y) + " " + std::to_string(r.width) + "x" +
         std::to_string(r.height);
}

void fill_rect(const PixelBuffer& b, const PixelRect& r, uint32_t bgr) {
  const int32_t x0 = std::max(r.x, 0), y0 = std::max(r.y, 0);
  const int32_t x1 = std::min(r.x + r.width, b.width), y1 = std::min(r.y + r.height, b.height);
  const uint8_t px[4] = {static_cast<uint8_t>(bgr & 0xFF), static_cast<uint8_t>((bgr >> 8) & 0xFF),
                         static_cast<uint8_t>((bgr >> 16) & 0xFF), 255};
  for (int32_t y = y0; y < y1; ++y)
    for (int32_t x = x0; x < x1; ++x) std::memcpy(b.row(y) + static_cast<std::ptrdiff_t>(x) * 4, px, 4);
}

}  // namespace

HeadlessHost::HeadlessHost(int32_t width, int32_t height)
    : width_(std::max(width, 0)), height_(std::max(height, 0)) {
  if (!SizeFits(width_, height_)) width_ = height_ = 0;
  size_window();
}

HeadlessHost::~HeadlessHost() {
  if (hdc_ != 0) host::ReleaseDC(hdc_);
  if (hwnd_ != 0) host::DestroyWindow(hwnd_);
}

void HeadlessHost::size_window() {
  surface_.reset();
  if (width_ == 0 || height_ == 0) return;  // no pixels: the window keeps its last size
  const host::WindowRect rect{0, 0, width_, height_};
  if (hwnd_ == 0) {
    hwnd_ = host::CreateWindow(rect);
    hdc_ = host::GetWindowDC(hwnd_);
  } else {
    host::MoveWindow(hwnd_, rect);
  }
  surface_ = host::GetDCSurface(hdc_);
}

bool HeadlessHost::SizeFits(int32_t width, int32_t height) {
  const uint64_t bytes = static_cast<uint64_t>(std::max(width, 0)) *
                         static_cast<uint64_t>(std::max(height, 0)) * 4;
  // Rows are addressed with 32-bit strides.
  // Windows are at most 65536 pixels a side.
  return bytes <= raster::pixel_memory_limit() && width <= 65536 && height <= 65536;
}

PixelBuffer HeadlessHost::view(std::vector<uint8_t>& px) const {
  return PixelBuffer{px.data(), width_, height_, width_ * 4};
}

PixelBuffer HeadlessHost::BeginPaint() {
  if (!surface_) return PixelBuffer{nullptr, 0, 0, 0};
  return PixelBuffer{surface_->bits.data(), surface_->width, surface_->height, surface_->stride()};
}

bool HeadlessHost::ResizeClient(int32_t width, int32_t height) {
  if (!SizeFits(width, height)) return false;
  width_ = std::max(width, 0);
  height_ = std::max(height, 0);
  size_window();
  line("resize " + std::to_string(width_) + "x" + std::to_string(height_));
  if (viewer_ != nullptr) viewer_->OnResize();
  return true;
}

void HeadlessHost::SetScrollBar(Bar bar, const BarState& s) {
  BarState& old = bar == Bar::Horizontal ? hbar_ : vbar_;
  const bool same = old.min == s.min && old.max == s.max && old.value == s.value &&
                    old.small_change == s.small_change && old.large_change == s.large_change &&
                    old.visible == s.visible && old.place.x == s.place.x &&
                    old.place.y == s.place.y && old.place.width == s.place.width &&
                    old.place.height == s.place.height;
  old = s;
  if (same) return;
  line(std::string(bar == Bar::Horizontal ? "hscroll" : "vscroll") +
       " min=" + std::to_string(s.min) + " max=" + std::to_string(s.max) +
       " value=" + std::to_string(s.value) + " small=" + std::to_string(s.small_change) +
       " large=" + std::to_string(s.large_change) + " visible=" + (s.visible ? "1" : "0") +
       " at " + rect_text(s.place));
}

void HeadlessHost::SetCornerBox(bool visible, const PixelRect& place) {
  if (visible == corner_ && (!visible || (place.x == corner_place_.x && place.y == corner_place_.y)))
    return;
  corner_ = visible;
  corner_place_ = place;
  line(std::string("corner visible=") + (visible ? "1" : "0") + " at " + rect_text(place));
}

void HeadlessHost::SetSelectionShape(const SelectionShape& s) {
  shape_ = s;
  line(std::string("selection visible=") + (s.visible ? "1" : "0") + " at " + rect_text(s.place) +
       " colour=" + std::to_string(s.border_color) + " width=" + std::to_string(s.border_width) +
       " style=" + std::to_string(s.border_style) + " mode=" + std::to_string(s.draw_mode));
}

void HeadlessHost::SetMenuItem(const std::string& name, bool checked, bool enabled) {
  const auto it = menu_.find(name);
  if (it != menu_.end() && it->second == std::make_pair(checked, enabled)) return;
  menu_[name] = {checked, enabled};
  line("menu " + name + " checked=" + (checked ? "1" : "0") + " enabled=" + (enabled ? "1" : "0"));
}

void HeadlessHost::ShowPopupMenu(int32_t x, int32_t y) {
  line("popup menu at " + std::to_string(x) + "," + std::to_string(y));
}

void HeadlessHost::SetMenuCaption(const std::string& name, const std::string& caption) {
  captions_[name] = caption;
  line("menu " + name + " caption=\"" + caption + "\"");
}

void HeadlessHost::ChooseMenuItem(const std::string& name) {
  line("menu " + name + " chosen");
  if (viewer_ != nullptr) viewer_->OnMenuItem(name);
}

std::pair<bool, bool> HeadlessHost::menu_item(const std::string& name) const {
  const auto it = menu_.find(name);
  return it != menu_.end() ? it->second : std::make_pair(false, true);
}

std::string HeadlessHost::menu_caption(const std::string& name) const {
  const auto it = captions_.find(name);
  return it != captions_.end() ? it->second : std::string();
}

void HeadlessHost::SetMousePointer(int32_t pointer) {
  if (pointer == pointer_) return;
  pointer_ = pointer;
  line("pointer " + std::to_string(pointer));
}

int32_t HeadlessHost::StartTimer(int32_t milliseconds, std::function<void()> fire) {
  const int32_t id = next_timer_++;
  timers_[id] = std::move(fire);
  line("timer " + std::to_string(id) + " start " + std::to_string(milliseconds) + " ms");
  return id;
}

void HeadlessHost::StopTimer(int32_t id) {
  if (timers_.erase(id) != 0) line("timer " + std::to_string(id) + " stop");
}

bool HeadlessHost::FireTimer(int32_t id) {
  const auto it = timers_.find(id);
  if (it == timers_.end()) return false;
  std::function<void()> fire = std::move(it->second);
  timers_.erase(it);  // one-shot
  line("timer " + std::to_string(id) + " fire");
  fire();
  return true;
}

void HeadlessHost::PropertyChanged(const std::string& name) {
  line("property " + name);
}

void HeadlessHost::MessageBox(const std::string& text, int32_t style) {
  boxes_.push_back(text);
  line("message box style=" + std::to_string(style) + " \"" + text + "\"");
}

void HeadlessHost::SetMaskedPicture(const PixelBuffer& picture, int32_t mask_color) {
  has_picture_ = picture.pixels != nullptr && picture.width > 0 && picture.height > 0;
  picture_.clear();
  picture_width_ = picture_height_ = 0;
  if (!has_picture_) return;
  picture_width_ = picture.width;
  picture_height_ = picture.height;
  mask_ = mask_color;
  picture_.resize(static_cast<size_t>(picture.width) * static_cast<size_t>(picture.height) * 4);
  for (int32_t y = 0; y < picture.height; ++y)
    std::memcpy(picture_.data() + static_cast<size_t>(y) * static_cast<size_t>(picture.width) * 4,
                picture.row(y), static_cast<size_t>(picture.width) * 4);
}

void HeadlessHost::RemoveChild(const std::string& name) {
  if (name == "HScroll") {
    hbar_ = BarState{};
  } else if (name == "VScroll") {
    vbar_ = BarState{};
  } else if (name == "shCorner") {
    corner_ = false;
  } else if (name == "shRect") {
    shape_ = SelectionShape{};
  } else if (name == "menu") {
    menu_.clear();
  } else {
    menu_.erase(name);
  }
  line("remove " + name);
}

void HeadlessHost::Mouse(MouseAction action, int16_t& button, int16_t& shift, float& x, float& y) {
  if (viewer_ != nullptr) viewer_->OnMouse(action, button, shift, x, y);
}

void HeadlessHost::Click(bool double_click) {
  if (viewer_ != nullptr) viewer_->OnClick(double_click);
}

void HeadlessHost::Key(KeyAction action, int16_t& key_code, int16_t& shift) {
  if (viewer_ != nullptr) viewer_->OnKey(action, key_code, shift);
}

void HeadlessHost::KeyPress(int16_t& key_ascii) {
  if (viewer_ != nullptr) viewer_->OnKeyPress(key_ascii);
}

void HeadlessHost::Wheel(int16_t delta) {
  // The wheel message's first parameter: the distance in the high word, no keys held.
  const auto wparam = static_cast<int32_t>(static_cast<uint32_t>(static_cast<uint16_t>(delta)) << 16);
  if (viewer_ != nullptr) viewer_->OnMouseWheel(wparam);
}

void HeadlessHost::BarKey(Bar bar, int16_t key_code) {
  if (viewer_ == nullptr) return;
  HostEvents* viewer = viewer_;
  viewer->OnScrollBarKeyDown(bar);
  const BarState& b = bar == Bar::Horizontal ? hbar_ : vbar_;
  int32_t step = 0;
  switch (key_code) {
    case 37: case 38: step = -b.small_change; break;  // left, up
    case 39: case 40: step = b.small_change; break;   // right, down
    case 33: step = -b.large_change; break;           // page up
    case 34: step = b.large_change; break;            // page down
    default: return;
  }
  const int32_t value = std::clamp(b.value + step, b.min, b.max);
  if (value != b.value) viewer->OnScrollBarChange(bar, value);
}

PixelBuffer HeadlessHost::Snapshot() {
  snapshot_.assign(static_cast<size_t>(width_) * static_cast<size_t>(height_) * 4, 0);
  const PixelBuffer out = view(snapshot_);
  const PixelBuffer client = BeginPaint();
  for (int32_t y = 0; y < client.height && y < out.height; ++y)
    std::memcpy(out.row(y), client.row(y), static_cast<size_t>(std::min(client.width, out.width)) * 4);
  if (has_picture_) {
    // The container shows through pixels of the mask colour and fully transparent ones.
    const uint8_t mb = static_cast<uint8_t>((mask_ >> 16) & 0xFF);
    const uint8_t mg = static_cast<uint8_t>((mask_ >> 8) & 0xFF);
    const uint8_t mr = static_cast<uint8_t>(mask_ & 0xFF);
    fill_rect(out, PixelRect{0, 0, picture_width_, picture_height_},
              ((container_ & 0xFF) << 16) | (container_ & 0xFF00) | ((container_ >> 16) & 0xFF));
    for (int32_t y = 0; y < std::min(picture_height_, height_); ++y) {
      const uint8_t* s = picture_.data() + static_cast<size_t>(y) * static_cast<size_t>(picture_width_) * 4;
      uint8_t* d = out.row(y);
      for (int32_t x = 0; x < std::min(picture_width_, width_); ++x, s += 4, d += 4) {
        if (s[3] == 0 || (s[0] == mb && s[1] == mg && s[2] == mr)) continue;
        d[0] = s[0];
        d[1] = s[1];
        d[2] = s[2];
        d[3] = 255;
      }
    }
  }
  if (hbar_.visible) fill_rect(out, hbar_.place, kBarColor);
  if (vbar_.visible) fill_rect(out, vbar_.place, kBarColor);
  if (corner_) fill_rect(out, corner_place_, kCornerColor);
  return out;
}

}  // namespace korvex::viewer
