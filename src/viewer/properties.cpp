// The persisted properties: the 39 entries a host keeps in its property bag,
// written in table order and read in their own order. A value equal to its
// default is not stored. Values read pass the same validity rules as the
// setters and go straight into the fields: nothing is laid out or painted.
// The shown document's size, resolutions and pages are saved but never
// restored, since they belong to a document the bag does not hold.
#include <algorithm>
#include <cmath>
#include <limits>

#include "korvex/property_bag.h"
#include "korvex/viewer.h"
#include "viewer/core.h"

namespace korvex {

namespace {

using viewer::Core;

constexpr int32_t kMaxPdfDpi = 2400;

struct Entry {
  const char* name;
  PropertyType type;
  double fallback;  // the default
  double (*get)(const Core&);
  // Takes a value read from the bag; false when the setter would refuse it.
  // Null for the properties of the document, which are never restored.
  bool (*apply)(Core&, double);
};

bool flag(double v) {
  return v != 0;
}

#define KX_FIELD(field) [](const Core& c) { return static_cast<double>(c.field); }
#define KX_SET_FLAG(field) \
  [](Core& c, double v) {  \
    c.field = flag(v);     \
    return true;           \
  }
#define KX_SET_ANY(field)                        \
  [](Core& c, double v) {                        \
    c.field = static_cast<decltype(c.field)>(v); \
    return true;                                 \
  }
#define KX_SET_RANGE(field, lo, hi)              \
  [](Core& c, double v) {                        \
    if (v < (lo) || v > (hi)) return false;      \
    c.field = static_cast<decltype(c.field)>(v); \
    return true;                                 \
  }

constexpr PropertyType kBool = PropertyType::Boolean;
constexpr PropertyType kInt = PropertyType::Integer;
constexpr PropertyType kLong = PropertyType::Long;

// Table order is the writing order.
const Entry kEntries[] = {
    {"ScrollBars", kBool, 1, KX_FIELD(scroll_bars), KX_SET_FLAG(scroll_bars)},
    {"EnableMenu", kBool, 1, KX_FIELD(input.enable_menu), KX_SET_FLAG(input.enable_menu)},
    {"Zoom", PropertyType::Double, 1, KX_FIELD(zoom),
     [](Core& c, double v) {
       if (!(v > 0)) return false;
       c.zoom = c.image_loaded() ? std::min(v, c.max_zoom) : v;
       return true;
     }},
    {"PictureWidth", kLong, 0, KX_FIELD(picture_width), nullptr},
    {"PictureHeight", kLong, 0, KX_FIELD(picture_height), nullptr},
    {"MouseMode", kLong, 2, KX_FIELD(input.mouse_mode), KX_SET_RANGE(input.mouse_mode, 0, 3)},
    {"ZoomStep", kLong, 10, KX_FIELD(zoom_step),
     KX_SET_RANGE(zoom_step, 1, std::numeric_limits<int32_t>::max())},
    {"ScrollSmallChange", kInt, 1, KX_FIELD(small_change),
     [](Core& c, double v) {
       if (v < 1) return false;
       c.small_change = c.hbar.small_change = c.vbar.small_change = static_cast<int16_t>(v);
       return true;
     }},
    {"ScrollLargeChange", kInt, 50, KX_FIELD(large_change),
     [](Core& c, double v) {
       if (v < 1) return false;
       c.large_change = c.hbar.large_change = c.vbar.large_change = static_cast<int16_t>(v);
       return true;
     }},
    {"VerticalResolution", kLong, 0, KX_FIELD(vertical_resolution), nullptr},
    {"HorizontalResolution", kLong, 0, KX_FIELD(horizontal_resolution), nullptr},
    {"NumPages", kLong, 0, KX_FIELD(num_pages), nullptr},
    {"Currentpage", kLong, 0, KX_FIELD(current_page), nullptr},
    {"SilentMode", kBool, 0, KX_FIELD(silent_mode), KX_SET_FLAG(silent_mode)},
    {"PdfDpiRendering", kLong, 100, KX_FIELD(pdf_dpi), KX_SET_RANGE(pdf_dpi, 1, kMaxPdfDpi)},
    {"pdfForceTemporaryMode", kBool, 0, KX_FIELD(pdf_force_temporary_mode),
     KX_SET_FLAG(pdf_force_temporary_mode)},
    {"pdfForceUncrypt", kBool, 0, KX_FIELD(pdf_force_uncrypt), KX_SET_FLAG(pdf_force_uncrypt)},
    {"imageForceTemporaryMode", kBool, 0, KX_FIELD(force_temporary_mode),
     KX_SET_FLAG(force_temporary_mode)},
    {"SkipImageResolution", kBool, 0, KX_FIELD(skip_image_resolution),
     KX_SET_FLAG(skip_image_resolution)},
    {"LockScreen", kBool, 0, KX_FIELD(lock_screen), KX_SET_FLAG(lock_screen)},
    {"ZoomMode", kLong, 1, KX_FIELD(zoom_mode), KX_SET_RANGE(zoom_mode, 1, 6)},
    {"SmoothingMode", kLong, 0, KX_FIELD(smoothing_mode), KX_SET_ANY(smoothing_mode)},
    {"InterpolationMode", kLong, 2, KX_FIELD(interpolation_mode), KX_SET_ANY(interpolation_mode)},
    {"PdfRenderingMode", kLong, 0, KX_FIELD(pdf_rendering_mode),
     KX_SET_RANGE(pdf_rendering_mode, 0, 1)},
    {"PdfBufferingMode", kLong, 0, KX_FIELD(pdf_buffering_mode),
     KX_SET_RANGE(pdf_buffering_mode, 0, 1)},
    {"RectBorderStyle", kLong, 1, KX_FIELD(input.shape.border_style),
     KX_SET_RANGE(input.shape.border_style, 1, 5)},
    {"RectDrawMode", kLong, 13, KX_FIELD(input.shape.draw_mode),
     KX_SET_RANGE(input.shape.draw_mode, 1, 16)},
    {"Enabled", kBool, 1, KX_FIELD(enabled), KX_SET_FLAG(enabled)},
    {"EnableMouseWheel", kBool, 1, KX_FIELD(input.enable_mouse_wheel),
     KX_SET_FLAG(input.enable_mouse_wheel)},
    {"ImageAlignment", kLong, 2, KX_FIELD(image_alignment), KX_SET_ANY(image_alignment)},
    {"AnimateGIF", kBool, 0, KX_FIELD(animate_gif), KX_SET_FLAG(animate_gif)},
    {"RectBorderSize", kInt, 1, KX_FIELD(input.shape.border_width),
     KX_SET_RANGE(input.shape.border_width, 1, std::numeric_limits<int16_t>::max())},
    {"ClipControls", kBool, 1, KX_FIELD(clip_controls), KX_SET_FLAG(clip_controls)},
    {"RectBorderColor", kLong, 0, KX_FIELD(input.shape.border_color),
     KX_SET_ANY(input.shape.border_color)},
    {"BorderStyle", kLong, 1, KX_FIELD(border_style), KX_SET_ANY(border_style)},
    {"Appearance", kLong, 1, KX_FIELD(appearance), KX_SET_ANY(appearance)},
    {"BackStyle", kLong, 1, KX_FIELD(back_style), KX_SET_ANY(back_style)},
    {"BackColor", kLong, 0, KX_FIELD(back_color), KX_SET_ANY(back_color)},
    {"ScrollOptimization", kBool, 1, KX_FIELD(scroll_optimization),
     KX_SET_FLAG(scroll_optimization)},
};
#undef KX_FIELD
#undef KX_SET_FLAG
#undef KX_SET_ANY
#undef KX_SET_RANGE

constexpr size_t kEntryCount = sizeof(kEntries) / sizeof(kEntries[0]);
static_assert(kEntryCount == 39);

// The reading order, as 1-based positions in the table: 1-7, 10-25, 29-31,
// 28, 8, 9, 27, 26, 34, 32, 33, 35-39.
constexpr int kReadOrder[kEntryCount] = {1,  2,  3,  4,  5,  6,  7,  10, 11, 12, 13, 14, 15,
                                         16, 17, 18, 19, 20, 21, 22, 23, 24, 25, 29, 30, 31,
                                         28, 8,  9,  27, 26, 34, 32, 33, 35, 36, 37, 38, 39};

void apply_defaults(Core& c) {
  for (const Entry& e : kEntries)
    if (e.apply != nullptr) (void)e.apply(c, e.fallback);
}

}  // namespace

ViewerStatus CheckPropertyValue(PropertyType type, double value) {
  if (!std::isfinite(value)) return ViewerStatus::InvalidParameter;
  switch (type) {
    case PropertyType::Double:
      return ViewerStatus::Ok;
    case PropertyType::Boolean:
      return value == 0 || value == 1 || value == -1 ? ViewerStatus::Ok
                                                     : ViewerStatus::InvalidParameter;
    case PropertyType::Integer:
    case PropertyType::Long: {
      if (value != std::trunc(value)) return ViewerStatus::InvalidParameter;
      const double lo = type == PropertyType::Integer ? std::numeric_limits<int16_t>::min()
                                                      : std::numeric_limits<int32_t>::min();
      const double hi = type == PropertyType::Integer ? std::numeric_limits<int16_t>::max()
                                                      : std::numeric_limits<int32_t>::max();
      return value < lo || value > hi ? ViewerStatus::ValueOverflow : ViewerStatus::Ok;
    }
  }
  return ViewerStatus::InvalidParameter;
}

ViewerStatus MemoryPropertyBag::ReadProperty(const std::string& name, PropertyType type,
                                             double& value) {
  const auto it = entries.find(name);
  if (it == entries.end()) return ViewerStatus::PropertyNotFound;
  const ViewerStatus st = CheckPropertyValue(type, it->second.second);
  if (st == ViewerStatus::Ok) value = it->second.second;
  return st;
}

ViewerStatus MemoryPropertyBag::WriteProperty(const std::string& name, PropertyType type,
                                              double value) {
  const ViewerStatus st = CheckPropertyValue(type, value);
  if (st == ViewerStatus::Ok) entries[name] = {type, value};
  return st;
}

ViewerStatus MemoryPropertyBag::RemoveProperty(const std::string& name) {
  entries.erase(name);
  return ViewerStatus::Ok;
}

ViewerStatus kxViewer::WriteProperties(PropertyBag& bag) {
  for (const Entry& e : kEntries) {
    const double v = e.get(*core_);
    const ViewerStatus st =
        v == e.fallback ? bag.RemoveProperty(e.name) : bag.WriteProperty(e.name, e.type, v);
    if (st != ViewerStatus::Ok) return core_->status(st);
  }
  return core_->status(ViewerStatus::Ok);
}

ViewerStatus kxViewer::ReadProperties(PropertyBag& bag) {
  Core& c = *core_;
  double values[kEntryCount];
  bool present[kEntryCount] = {};
  for (const int position : kReadOrder) {
    const auto i = static_cast<size_t>(position - 1);
    const Entry& e = kEntries[i];
    double v = e.fallback;
    const ViewerStatus st = bag.ReadProperty(e.name, e.type, v);
    if (st == ViewerStatus::PropertyNotFound) continue;
    if (st != ViewerStatus::Ok || CheckPropertyValue(e.type, v) != ViewerStatus::Ok) {
      // A damaged bag restores nothing of itself: the control starts afresh.
      apply_defaults(c);
      c.RefreshMenuChecks();
      c.RefreshMouseModeChecks();
      return c.status(st != ViewerStatus::Ok ? st : ViewerStatus::InvalidParameter);
    }
    values[i] = v;
    present[i] = true;
  }
  for (const int position : kReadOrder) {
    const auto i = static_cast<size_t>(position - 1);
    const Entry& e = kEntries[i];
    if (e.apply == nullptr) continue;
    // A missing entry is the default; a refused value leaves the field as it is.
    (void)e.apply(c, present[i] ? values[i] : e.fallback);
  }
  // The menu's check marks follow the restored modes.
  c.RefreshMenuChecks();
  c.RefreshMouseModeChecks();
  c.host().SetMenuItem("mnscroll", c.scroll_bars, true);
  return c.status(ViewerStatus::Ok);
}

}  // namespace korvex
