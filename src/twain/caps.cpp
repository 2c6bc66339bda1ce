// Capabilities over device options: resolution, pixel type and depth,
// brightness, contrast, threshold, the image layout (inches or the current
// units against the scan area in mm), feeder and duplex through `source`.
#include <sane/saneopts.h>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include "raster/strings.h"
#include "twain/session.h"

namespace korvex::twain {

namespace {

constexpr double kMmPerInch = 25.4;

bool contains(const std::string& s, const char* word) {
  return LowerCase(s).find(word) != std::string::npos;
}
bool is_feeder(const std::string& src) {
  return contains(src, "feeder") || contains(src, "adf");
}

double to_double(const SANE_Option_Descriptor* d, SANE_Word w) {
  return d->type == SANE_TYPE_FIXED ? SANE_UNFIX(w) : static_cast<double>(w);
}
SANE_Word to_word(const SANE_Option_Descriptor* d, double v) {
  if (d->type == SANE_TYPE_FIXED) return SANE_FIX(v);
  if (d->type == SANE_TYPE_BOOL) return v != 0 ? SANE_TRUE : SANE_FALSE;
  return static_cast<SANE_Word>(std::lround(v));
}

// Inches per current unit (pixels through the resolution).
double inches_per_unit() {
  switch (session().units) {
    case 1:
      return 1 / 2.54;
    case 2:
      return 1.0 / 6;
    case 3:
      return 1.0 / 72;
    case 4:
      return 1.0 / 1440;
    case 5: {
      const double dpi = KXTWAIN_GetCurrentResolution();
      return dpi > 0 ? 1 / dpi : 1;
    }
    default:
      return 1;
  }
}

// A layout option's value in inches and back (mm, or pixels on backends that
// count in pixels).
double option_to_inches(const char* name, double v) {
  const SANE_Option_Descriptor* d = nullptr;
  if (find_option(name, &d) < 0) return 0;
  if (d->unit == SANE_UNIT_PIXEL) {
    const double dpi = KXTWAIN_GetCurrentResolution();
    return dpi > 0 ? v / dpi : 0;
  }
  return v / kMmPerInch;
}
double inches_to_option(const char* name, double in) {
  const SANE_Option_Descriptor* d = nullptr;
  if (find_option(name, &d) < 0) return 0;
  if (d->unit == SANE_UNIT_PIXEL) return in * KXTWAIN_GetCurrentResolution();
  return in * kMmPerInch;
}

double range_max(const char* name) {
  std::vector<double> v;
  return number_values(name, v) && !v.empty() ? *std::max_element(v.begin(), v.end()) : 0;
}

// Paper sizes (TWSS_...) in inches.
struct Paper {
  int32_t code;
  double w, h;
};
constexpr Paper kPapers[] = {{1, 8.2677, 11.6929}, {2, 7.1654, 10.1181}, {3, 8.5, 11},
                             {4, 8.5, 14},         {5, 5.8268, 8.2677},  {7, 4.9213, 6.9291}};

std::string current_source() {
  std::string v;
  get_text(SANE_NAME_SCAN_SOURCE, v);
  return v;
}

bool has_option(const char* name) {
  const SANE_Option_Descriptor* d = nullptr;
  return find_option(name, &d) >= 0;
}

// Pixel type from mode and depth: 0 black and white, 1 gray, 2 RGB.
int32_t pixel_type() {
  std::string mode;
  if (!get_text(SANE_NAME_SCAN_MODE, mode)) return -1;
  double depth = 8;
  get_number(SANE_NAME_BIT_DEPTH, depth);
  if (contains(mode, "color")) return 2;
  if (contains(mode, "lineart") || contains(mode, "binary") || depth == 1) return 0;
  return 1;
}

std::string mode_entry(const char* word) {
  for (const std::string& m : text_values(SANE_NAME_SCAN_MODE))
    if (contains(m, word)) return m;
  return "";
}

// Values of a capability for LoadCapValuesN; false when unsupported.
bool cap_values(int32_t cap, int32_t mode, std::vector<double>& out) {
  Session& s = session();
  const bool all = mode == kGetValues;
  const auto one = [&](double v) {
    out.assign(1, v);
    return true;
  };
  const auto numeric = [&](const char* name) {
    if (!has_option(name)) return false;
    if (all) return number_values(name, out);
    double v = 0;
    return get_number(name, v) && one(v);
  };
  switch (cap) {
    case kXResolution:
      return numeric(has_option(SANE_NAME_SCAN_X_RESOLUTION) ? SANE_NAME_SCAN_X_RESOLUTION
                                                             : SANE_NAME_SCAN_RESOLUTION);
    case kYResolution:
      return numeric(has_option(SANE_NAME_SCAN_Y_RESOLUTION) ? SANE_NAME_SCAN_Y_RESOLUTION
                                                             : SANE_NAME_SCAN_RESOLUTION);
    case kBrightness:
      return numeric(SANE_NAME_BRIGHTNESS);
    case kContrast:
      return numeric(SANE_NAME_CONTRAST);
    case kThreshold:
      return numeric(SANE_NAME_THRESHOLD);
    case kPixelType: {
      if (!all) return pixel_type() >= 0 && one(pixel_type());
      out.clear();
      std::vector<double> depths;
      number_values(SANE_NAME_BIT_DEPTH, depths);
      const bool one_bit = std::find(depths.begin(), depths.end(), 1.0) != depths.end();
      if (!mode_entry("lineart").empty() || (!mode_entry("gray").empty() && one_bit))
        out.push_back(0);
      if (!mode_entry("gray").empty()) out.push_back(1);
      if (!mode_entry("color").empty()) out.push_back(2);
      return !out.empty();
    }
    case kBitDepth: {
      const double channels = pixel_type() == 2 ? 3 : 1;
      if (!has_option(SANE_NAME_BIT_DEPTH)) return pixel_type() == 0 && one(1);
      if (!numeric(SANE_NAME_BIT_DEPTH)) return false;
      for (double& v : out) v = std::min(v, 8.0) * channels;  // 16-bit samples are reduced
      std::sort(out.begin(), out.end());
      out.erase(std::unique(out.begin(), out.end()), out.end());
      return true;
    }
    case kPhysicalWidth:
      return has_option(SANE_NAME_SCAN_BR_X) &&
             one(option_to_inches(SANE_NAME_SCAN_BR_X, range_max(SANE_NAME_SCAN_BR_X)));
    case kPhysicalHeight:
      return has_option(SANE_NAME_SCAN_BR_Y) &&
             one(option_to_inches(SANE_NAME_SCAN_BR_Y, range_max(SANE_NAME_SCAN_BR_Y)));
    case kFeederEnabled:
    case kFeederLoaded:
    case kAutoFeed:
    case kDuplexEnabled: {
      const std::vector<std::string> sources = text_values(SANE_NAME_SCAN_SOURCE);
      const char* word = cap == kDuplexEnabled ? "duplex" : nullptr;
      const bool offered = std::any_of(sources.begin(), sources.end(), [&](const std::string& v) {
        return word != nullptr ? contains(v, word) : is_feeder(v);
      });
      if (!offered) return false;
      if (all) {
        out = {0, 1};
        return true;
      }
      const std::string src = current_source();
      if (cap == kDuplexEnabled) return one(contains(src, "duplex"));
      if (cap == kAutoFeed) return one(s.auto_feed);
      return one(is_feeder(src) && (cap == kFeederEnabled || !s.feeder_empty));
    }
    case kSupportedSizes: {
      const double w = KXTWAIN_GetPhysicalWidth(), h = KXTWAIN_GetPhysicalHeight();
      if (w <= 0 || h <= 0) return false;
      if (!all) return one(KXTWAIN_GetPaperSize());
      out = {0};
      for (const Paper& p : kPapers)
        if (p.w <= w + 1e-3 && p.h <= h + 1e-3) out.push_back(p.code);
      return true;
    }
    case kBorderDetection:
      return numeric("swcrop");
    case kDeskew:
      return numeric("swdeskew");
    case kAutoRotate:
      return numeric("swderotate");
    case kXferCount:
      return one(s.xfer_count);
    case kUnits:
      return all ? (out = {0, 1, 2, 3, 4, 5}, true) : one(s.units);
    case kIndicators:
      return all ? (out = {0, 1}, true) : one(s.indicators);
    case kAutoScan:
      return all ? (out = {0, 1}, true) : one(s.auto_scan);
    case kUiControllable:
      return one(1);
    case kPixelFlavor:   // 0: chocolate, the darkest sample is 0
    case kPlanarChunky:  // 0: chunky
    case kXferMech:      // 0: native
      return one(0);
    default:
      return false;
  }
}

}  // namespace

int32_t find_option(const char* name, const SANE_Option_Descriptor** desc) {
  Session& s = session();
  if (s.handle == nullptr) return -1;
  SANE_Int count = 0;
  if (sane_control_option(s.handle, 0, SANE_ACTION_GET_VALUE, &count, nullptr) != SANE_STATUS_GOOD)
    return -1;
  count = std::min<SANE_Int>(count, 4096);  // a bounded walk over the descriptors
  for (SANE_Int i = 1; i < count; ++i) {
    const SANE_Option_Descriptor* d = sane_get_option_descriptor(s.handle, i);
    if (d == nullptr || d->name == nullptr || std::strcmp(d->name, name) != 0) continue;
    if (!SANE_OPTION_IS_ACTIVE(d->cap)) return -1;
    *desc = d;
    return i;
  }
  return -1;
}

bool get_number(const char* name, double& out) {
  const SANE_Option_Descriptor* d = nullptr;
  const int32_t i = find_option(name, &d);
  if (i < 0 || d->size < static_cast<SANE_Int>(sizeof(SANE_Word)) ||
      (d->type != SANE_TYPE_FIXED && d->type != SANE_TYPE_INT && d->type != SANE_TYPE_BOOL))
    return false;
  std::vector<SANE_Word> w(static_cast<size_t>(d->size) / sizeof(SANE_Word));
  if (sane_control_option(session().handle, i, SANE_ACTION_GET_VALUE, w.data(), nullptr) !=
      SANE_STATUS_GOOD)
    return false;
  out = to_double(d, w[0]);
  return true;
}

bool set_number(const char* name, double v) {
  const SANE_Option_Descriptor* d = nullptr;
  const int32_t i = find_option(name, &d);
  if (i < 0 || !SANE_OPTION_IS_SETTABLE(d->cap)) return finish(kFailure, kCapUnsupported);
  if (d->type != SANE_TYPE_FIXED && d->type != SANE_TYPE_INT && d->type != SANE_TYPE_BOOL)
    return finish(kFailure, kBadCap);
  std::vector<SANE_Word> w(std::max<size_t>(1, static_cast<size_t>(d->size) / sizeof(SANE_Word)),
                           to_word(d, v));
  SANE_Int info = 0;
  const SANE_Status st =
      sane_control_option(session().handle, i, SANE_ACTION_SET_VALUE, w.data(), &info);
  if (st != SANE_STATUS_GOOD) return finish(kFailure, condition_of(st));
  return finish((info & SANE_INFO_INEXACT) ? kCheckStatus : kSuccess, kCcSuccess);
}

bool get_text(const char* name, std::string& out) {
  const SANE_Option_Descriptor* d = nullptr;
  const int32_t i = find_option(name, &d);
  if (i < 0 || d->type != SANE_TYPE_STRING || d->size <= 0) return false;
  std::vector<char> buf(static_cast<size_t>(d->size) + 1, '\0');
  if (sane_control_option(session().handle, i, SANE_ACTION_GET_VALUE, buf.data(), nullptr) !=
      SANE_STATUS_GOOD)
    return false;
  out.assign(buf.data(), strnlen(buf.data(), static_cast<size_t>(d->size)));
  return true;
}

bool set_text(const char* name, const std::string& v) {
  const SANE_Option_Descriptor* d = nullptr;
  const int32_t i = find_option(name, &d);
  if (i < 0 || d->type != SANE_TYPE_STRING || v.size() + 1 > static_cast<size_t>(d->size))
    return finish(kFailure, kCapUnsupported);
  std::vector<char> buf(static_cast<size_t>(d->size), '\0');
  std::memcpy(buf.data(), v.data(), v.size());
  const SANE_Status st =
      sane_control_option(session().handle, i, SANE_ACTION_SET_VALUE, buf.data(), nullptr);
  return st == SANE_STATUS_GOOD ? finish(kSuccess, kCcSuccess) : finish(kFailure, condition_of(st));
}

bool number_values(const char* name, std::vector<double>& out) {
  const SANE_Option_Descriptor* d = nullptr;
  out.clear();
  if (find_option(name, &d) < 0) return false;
  if (d->constraint_type == SANE_CONSTRAINT_WORD_LIST && d->constraint.word_list != nullptr) {
    const SANE_Int n = std::min<SANE_Int>(d->constraint.word_list[0], kMaxCapValues);
    for (SANE_Int k = 1; k <= n; ++k) out.push_back(to_double(d, d->constraint.word_list[k]));
    return true;
  }
  if (d->constraint_type == SANE_CONSTRAINT_RANGE && d->constraint.range != nullptr) {
    const double lo = to_double(d, d->constraint.range->min);
    const double hi = to_double(d, d->constraint.range->max);
    double step = to_double(d, d->constraint.range->quant);
    if (d->type == SANE_TYPE_INT && step <= 0) step = 1;
    if (step > 0 && (hi - lo) / step < kMaxCapValues) {
      for (int32_t k = 0; lo + k * step <= hi + 1e-9; ++k) out.push_back(lo + k * step);
    } else {
      out = {lo, hi};
    }
    return true;
  }
  if (d->type == SANE_TYPE_BOOL) {
    out = {0, 1};
    return true;
  }
  double v = 0;
  if (!get_number(name, v)) return false;
  out = {v};
  return true;
}

std::vector<std::string> text_values(const char* name) {
  const SANE_Option_Descriptor* d = nullptr;
  std::vector<std::string> out;
  if (find_option(name, &d) < 0 || d->constraint_type != SANE_CONSTRAINT_STRING_LIST) return out;
  for (int32_t k = 0; d->constraint.string_list[k] != nullptr && k < kMaxCapValues; ++k)
    out.emplace_back(d->constraint.string_list[k]);
  return out;
}

int32_t KXTWAIN_LoadCapValuesN(int32_t cap, int32_t mode) {
  Session& s = session();
  s.values.clear();
  if (s.state < 4) return finish(kFailure, kSeqError), 0;
  if (mode < kGetValues || mode > kGetDefault) return finish(kFailure, kBadValue), 0;
  std::vector<double> v;
  if (!cap_values(cap, mode == kGetDefault ? kGetCurrent : mode, v))
    return finish(kFailure, kCapUnsupported), 0;
  if (v.size() > static_cast<size_t>(kMaxCapValues)) v.resize(kMaxCapValues);
  s.values = std::move(v);
  finish(kSuccess, kCcSuccess);
  return static_cast<int32_t>(s.values.size());
}

double KXTWAIN_GetCapValueFromIdx(int32_t index) {
  const Session& s = session();
  if (index < 0 || static_cast<size_t>(index) >= s.values.size())
    return finish(kFailure, kBadValue), 0;
  return s.values[static_cast<size_t>(index)];
}

int32_t KXTWAIN_GetCapItemType(int32_t cap) {
  switch (cap) {
    case kXResolution:
    case kYResolution:
    case kBrightness:
    case kContrast:
    case kThreshold:
    case kPhysicalWidth:
    case kPhysicalHeight:
      return kFix32;
    case kFeederEnabled:
    case kFeederLoaded:
    case kAutoFeed:
    case kDuplexEnabled:
    case kIndicators:
    case kAutoScan:
    case kUiControllable:
    case kBorderDetection:
    case kDeskew:
    case kAutoRotate:
      return kBool;
    case kXferCount:
      return kInt16;
    default:
      return kUint16;
  }
}

int32_t KXTWAIN_ToFix32(double value) {
  const int32_t v = static_cast<int32_t>(value * 65536.0 + (value < 0 ? -0.5 : 0.5));
  const uint32_t whole = static_cast<uint32_t>(v >> 16) & 0xFFFFu,
                 frac = static_cast<uint32_t>(v) & 0xFFFFu;
  return static_cast<int32_t>(whole | (frac << 16));
}

double KXTWAIN_FromFix32(int32_t fix) {
  const auto u = static_cast<uint32_t>(fix);
  return static_cast<int16_t>(u & 0xFFFFu) + static_cast<double>(u >> 16) / 65536.0;
}

bool KXTWAIN_SetCapOneValue(int32_t cap, int32_t item_type, int32_t value) {
  Session& s = session();
  if (s.state != 4) return finish(kFailure, kSeqError);
  const double v = item_type == kFix32 ? KXTWAIN_FromFix32(value) : value;
  switch (cap) {
    case kXResolution:
    case kYResolution: {
      const char* own =
          cap == kXResolution ? SANE_NAME_SCAN_X_RESOLUTION : SANE_NAME_SCAN_Y_RESOLUTION;
      return set_number(has_option(own) ? own : SANE_NAME_SCAN_RESOLUTION, v);
    }
    case kBrightness:
      return set_number(SANE_NAME_BRIGHTNESS, v);
    case kContrast:
      return set_number(SANE_NAME_CONTRAST, v);
    case kThreshold:
      return set_number(SANE_NAME_THRESHOLD, v);
    case kBorderDetection:
      return set_number("swcrop", v);
    case kDeskew:
      return set_number("swdeskew", v);
    case kAutoRotate:
      return set_number("swderotate", v);
    case kPixelType:
      return KXTWAIN_SetCurrentPixelType(static_cast<int32_t>(v));
    case kBitDepth:
      return KXTWAIN_SetBitDepth(static_cast<int32_t>(v));
    case kSupportedSizes:
      return KXTWAIN_SetPaperSize(static_cast<int32_t>(v));
    case kUnits:
      return KXTWAIN_SetCurrentUnits(static_cast<int32_t>(v));
    case kXferCount:
      return KXTWAIN_NegotiateXferCount(static_cast<int32_t>(v));
    case kIndicators:
      return KXTWAIN_SetIndicators(v != 0);
    case kAutoFeed:
      return KXTWAIN_SetAutoFeed(v != 0);
    case kAutoScan:
      return KXTWAIN_SetAutoScan(v != 0);
    case kDuplexEnabled:
      return KXTWAIN_EnableDuplex(v != 0);
    case kFeederEnabled: {
      for (const std::string& src : text_values(SANE_NAME_SCAN_SOURCE)) {
        if (is_feeder(src) == (v != 0) && !contains(src, "duplex")) {
          s.feeder_empty = false;
          return set_text(SANE_NAME_SCAN_SOURCE, src);
        }
      }
      return finish(kFailure, kBadValue);
    }
    case kPixelFlavor:
    case kPlanarChunky:
    case kXferMech:
      return v == 0 ? finish(kSuccess, kCcSuccess) : finish(kFailure, kBadValue);
    default:
      return finish(kFailure, kCapUnsupported);
  }
}

bool KXTWAIN_SetCurrentUnits(int32_t units) {
  if (units < 0 || units > 5) return finish(kFailure, kBadValue);
  session().units = units;
  return finish(kSuccess, kCcSuccess);
}

int32_t KXTWAIN_GetPixelType() {
  return session().state >= 4 ? pixel_type() : -1;
}

bool KXTWAIN_SetCurrentPixelType(int32_t type) {
  if (session().state != 4) return finish(kFailure, kSeqError);
  const std::string lineart = mode_entry("lineart");
  const std::string entry = type == 0   ? (lineart.empty() ? mode_entry("gray") : lineart)
                            : type == 1 ? mode_entry("gray")
                            : type == 2 ? mode_entry("color")
                                        : "";
  if (entry.empty()) return finish(kFailure, kBadValue);
  if (!set_text(SANE_NAME_SCAN_MODE, entry)) return false;
  double depth = 8;
  if (!has_option(SANE_NAME_BIT_DEPTH) || !get_number(SANE_NAME_BIT_DEPTH, depth))
    return finish(kSuccess, kCcSuccess);
  if (type == 0 && lineart.empty()) return set_number(SANE_NAME_BIT_DEPTH, 1);
  if (type != 0 && depth == 1) return set_number(SANE_NAME_BIT_DEPTH, 8);
  return finish(kSuccess, kCcSuccess);
}

int32_t KXTWAIN_GetBitDepth() {
  if (session().state < 4) return -1;
  std::vector<double>& v = session().values;
  return cap_values(kBitDepth, kGetCurrent, v) && !v.empty() ? static_cast<int32_t>(v[0]) : -1;
}

bool KXTWAIN_SetBitDepth(int32_t depth) {
  if (session().state != 4) return finish(kFailure, kSeqError);
  const int32_t per_sample = pixel_type() == 2 ? depth / 3 : depth;
  if (per_sample <= 0 || (pixel_type() == 2 && depth % 3 != 0)) return finish(kFailure, kBadValue);
  return set_number(SANE_NAME_BIT_DEPTH, per_sample);
}

namespace {
double current(int32_t cap) {
  if (session().state < 4) return -1;
  std::vector<double> v;
  return cap_values(cap, kGetCurrent, v) && !v.empty() ? v[0] : -1;
}
}  // namespace

double KXTWAIN_GetCurrentResolution() {
  return current(kXResolution);
}
double KXTWAIN_GetBrightness() {
  return current(kBrightness);
}
double KXTWAIN_GetContrast() {
  return current(kContrast);
}
double KXTWAIN_GetPhysicalWidth() {
  return current(kPhysicalWidth);
}
double KXTWAIN_GetPhysicalHeight() {
  return current(kPhysicalHeight);
}

bool KXTWAIN_SetCurrentResolution(double dpi) {
  if (!KXTWAIN_SetCapOneValue(kXResolution, kFix32, KXTWAIN_ToFix32(dpi))) return false;
  if (!has_option(SANE_NAME_SCAN_Y_RESOLUTION)) return true;
  return KXTWAIN_SetCapOneValue(kYResolution, kFix32, KXTWAIN_ToFix32(dpi));
}
bool KXTWAIN_SetBrightness(double v) {
  return KXTWAIN_SetCapOneValue(kBrightness, kFix32, KXTWAIN_ToFix32(v));
}
bool KXTWAIN_SetContrast(double v) {
  return KXTWAIN_SetCapOneValue(kContrast, kFix32, KXTWAIN_ToFix32(v));
}
bool KXTWAIN_SetAutoBright(bool on) {
  session().auto_bright = on;
  return finish(kSuccess, kCcSuccess);
}

bool KXTWAIN_SetImageLayout(double left, double top, double right, double bottom) {
  if (session().state != 4) return finish(kFailure, kSeqError);
  if (!(right > left && bottom > top && left >= 0 && top >= 0)) return finish(kFailure, kBadValue);
  const double k = inches_per_unit();
  const char* const names[4] = {SANE_NAME_SCAN_TL_X, SANE_NAME_SCAN_TL_Y, SANE_NAME_SCAN_BR_X,
                                SANE_NAME_SCAN_BR_Y};
  const double in[4] = {left * k, top * k, right * k, bottom * k};
  // The far corner first when the area moves out, the near one first when
  // it moves in, so that no step makes an empty area.
  double old_br = 0;
  get_number(SANE_NAME_SCAN_BR_X, old_br);
  const bool far_first = inches_to_option(names[0], in[0]) >= old_br;
  bool ok = true, inexact = false;
  for (int step = 0; step < 4 && ok; ++step) {
    const int i = far_first ? (step + 2) % 4 : step;
    ok = set_number(names[i], inches_to_option(names[i], in[i]));
    inexact |= session().result == kCheckStatus;
  }
  return ok && finish(inexact ? kCheckStatus : kSuccess, kCcSuccess);
}

bool KXTWAIN_ResetImageLayout() {
  Session& s = session();
  if (s.state != 4) return finish(kFailure, kSeqError);
  if (!s.has_layout_default) return finish(kFailure, kCapUnsupported);
  return set_number(SANE_NAME_SCAN_TL_X, s.layout_default[0]) &&
         set_number(SANE_NAME_SCAN_TL_Y, s.layout_default[1]) &&
         set_number(SANE_NAME_SCAN_BR_X, s.layout_default[2]) &&
         set_number(SANE_NAME_SCAN_BR_Y, s.layout_default[3]);
}

int32_t KXTWAIN_GetPaperSize() {
  if (session().state < 4) return -1;
  double v[4] = {0, 0, 0, 0};
  const char* const names[4] = {SANE_NAME_SCAN_TL_X, SANE_NAME_SCAN_TL_Y, SANE_NAME_SCAN_BR_X,
                                SANE_NAME_SCAN_BR_Y};
  for (int i = 0; i < 4; ++i)
    if (!get_number(names[i], v[i])) return 0;
  const double w = option_to_inches(names[2], v[2] - v[0]),
               h = option_to_inches(names[3], v[3] - v[1]);
  for (const Paper& p : kPapers)
    if (std::fabs(p.w - w) < 0.02 && std::fabs(p.h - h) < 0.02) return p.code;
  return 0;
}

bool KXTWAIN_SetPaperSize(int32_t size) {
  for (const Paper& p : kPapers) {
    if (p.code != size) continue;
    const int32_t units = session().units;
    session().units = 0;
    const bool ok = KXTWAIN_SetImageLayout(0, 0, p.w, p.h);
    session().units = units;
    return ok;
  }
  return size == 0 ? KXTWAIN_ResetImageLayout() : finish(kFailure, kBadValue);
}

bool KXTWAIN_SetAutoFeed(bool on) {
  session().auto_feed = on;
  return finish(kSuccess, kCcSuccess);
}
bool KXTWAIN_SetAutoScan(bool on) {
  session().auto_scan = on;
  return finish(kSuccess, kCcSuccess);
}
bool KXTWAIN_SetIndicators(bool on) {
  session().indicators = on;
  return finish(kSuccess, kCcSuccess);
}

bool KXTWAIN_EnableDuplex(bool on) {
  if (session().state != 4) return finish(kFailure, kSeqError);
  for (const std::string& src : text_values(SANE_NAME_SCAN_SOURCE)) {
    if (contains(src, "duplex") == on && (on || is_feeder(src) == is_feeder(current_source())))
      return set_text(SANE_NAME_SCAN_SOURCE, src);
  }
  return finish(kFailure, kCapUnsupported);
}

int32_t KXTWAIN_GetDuplexMode() {
  std::vector<double> v;
  return session().state >= 4 && cap_values(kDuplexEnabled, kGetValues, v) ? 1 : 0;
}

bool KXTWAIN_AutomaticBorderDetection(bool on) {
  return KXTWAIN_SetCapOneValue(kBorderDetection, kBool, on);
}
bool KXTWAIN_AutomaticDeskew(bool on) {
  return KXTWAIN_SetCapOneValue(kDeskew, kBool, on);
}
bool KXTWAIN_AutomaticRotate(bool on) {
  return KXTWAIN_SetCapOneValue(kAutoRotate, kBool, on);
}

}  // namespace korvex::twain
