// Graphics over cairo: drawing is recorded, then replayed onto a premultiplied
// proxy of the inked rectangle and written back in the target's own format.
#include "raster/graphics.h"

#include <cairo.h>
#include <fontconfig/fontconfig.h>
#include <glib.h>
#include <pango/pangocairo.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <mutex>

#include "raster/convert.h"
#include "raster/version.h"

namespace korvex::raster {

namespace {

constexpr double kPi = 3.14159265358979323846;

struct CairoDeleter {
  void operator()(cairo_t* c) const { cairo_destroy(c); }
  void operator()(cairo_surface_t* s) const { cairo_surface_destroy(s); }
  void operator()(cairo_pattern_t* p) const { cairo_pattern_destroy(p); }
  void operator()(PangoLayout* l) const { g_object_unref(l); }
  void operator()(PangoFontDescription* d) const { pango_font_description_free(d); }
  void operator()(PangoAttrList* a) const { pango_attr_list_unref(a); }
  void operator()(cairo_font_options_t* o) const { cairo_font_options_destroy(o); }
};
template <typename T>
using CairoPtr = std::unique_ptr<T, CairoDeleter>;

void set_rgba(cairo_t* cr, uint32_t argb) {
  cairo_set_source_rgba(cr, ((argb >> 16) & 0xFF) / 255.0, ((argb >> 8) & 0xFF) / 255.0,
                        (argb & 0xFF) / 255.0, (argb >> 24) / 255.0);
}

void add_stop(cairo_pattern_t* p, double offset, uint32_t argb) {
  cairo_pattern_add_color_stop_rgba(p, offset, ((argb >> 16) & 0xFF) / 255.0,
                                    ((argb >> 8) & 0xFF) / 255.0, (argb & 0xFF) / 255.0,
                                    (argb >> 24) / 255.0);
}

bool finite(double v) {
  return std::isfinite(v);
}
bool finite(PointF p) {
  return finite(p.x) && finite(p.y);
}
bool finite(const RectF& r) {
  return finite(r.x) && finite(r.y) && finite(r.width) && finite(r.height);
}

// cairo holds device coordinates in 24.8 fixed point (about +-8.4 million);
// geometry reaching further would wrap around. Rectangles and straight lines,
// which callers size generously to cover a whole picture, are cut to this
// range first: what lies beyond it is off any picture.
constexpr double kReach = 4194304.0;

// Whether every point, through the world transform, lies within the reach.
// Curves and ellipses cannot be cut like lines; beyond it they are refused
// with ValueOverflow rather than drawn wrapped around.
bool reachable(const cairo_matrix_t& world, const PointF* pts, size_t n) {
  for (size_t i = 0; i < n; ++i) {
    double x = pts[i].x, y = pts[i].y;
    cairo_matrix_transform_point(&world, &x, &y);
    if (!(std::fabs(x) <= kReach && std::fabs(y) <= kReach)) return false;
  }
  return true;
}
bool reachable(const cairo_matrix_t& world, const RectF& r) {
  const PointF c[4] = {
      {r.x, r.y}, {r.x + r.width, r.y}, {r.x, r.y + r.height}, {r.x + r.width, r.y + r.height}};
  return reachable(world, c, 4);
}

// Keeps an Image alive as long as a cairo surface made over its pixels.
const cairo_user_data_key_t kImageKey{};
void release_image(void* p) {
  delete static_cast<std::shared_ptr<Image>*>(p);
}

// A cairo surface over a 32bppPARGB image with a 4-byte-aligned stride.
CairoPtr<cairo_surface_t> surface_over(const std::shared_ptr<Image>& img) {
  Surface& s = img->surface();
  CairoPtr<cairo_surface_t> cs(cairo_image_surface_create_for_data(s.scan0, CAIRO_FORMAT_ARGB32,
                                                                   s.width, s.height, s.stride));
  if (cairo_surface_status(cs.get()) != CAIRO_STATUS_SUCCESS) return nullptr;
  cairo_surface_set_user_data(cs.get(), &kImageKey, new std::shared_ptr<Image>(img), release_image);
  return cs;
}

// Premultiplied copy of a rectangle of an image, made now (a snapshot).
Status snapshot(Image& src, const Rect& from, std::shared_ptr<Image>& out) {
  std::unique_ptr<Image> copy;
  Status st = Image::create(from.width, from.height, pf::k32bppPARGB, copy);
  if (st != Status::Ok) return st;
  Surface& s = copy->surface();
  st = src.read_pixels(from, pf::k32bppPARGB, s.scan0, s.stride);
  if (st != Status::Ok) return st;
  out = std::move(copy);
  return Status::Ok;
}

cairo_filter_t filter_for(Interpolation m) {
  switch (m) {
    case Interpolation::NearestNeighbor:
      return CAIRO_FILTER_NEAREST;
    case Interpolation::Bicubic:
    case Interpolation::HighQualityBilinear:
      return CAIRO_FILTER_GOOD;
    case Interpolation::HighQuality:
    case Interpolation::HighQualityBicubic:
      return CAIRO_FILTER_BEST;
    default:
      return CAIRO_FILTER_BILINEAR;
  }
}

// Installed families as fontconfig lists them.
std::vector<std::string> list_families(const char* family) {
  std::vector<std::string> names;
  FcPattern* pat = family ? FcPatternBuild(nullptr, FC_FAMILY, FcTypeString,
                                           reinterpret_cast<const FcChar8*>(family), nullptr)
                          : FcPatternCreate();
  FcObjectSet* os = FcObjectSetBuild(FC_FAMILY, nullptr);
  FcFontSet* fs = FcFontList(nullptr, pat, os);
  if (fs != nullptr) {
    for (int i = 0; i < fs->nfont; ++i) {
      FcChar8* name = nullptr;
      if (FcPatternGetString(fs->fonts[i], FC_FAMILY, 0, &name) == FcResultMatch && name) {
        std::string n(reinterpret_cast<const char*>(name));
        if (std::find(names.begin(), names.end(), n) == names.end()) names.push_back(n);
      }
    }
    FcFontSetDestroy(fs);
  }
  FcObjectSetDestroy(os);
  FcPatternDestroy(pat);
  return names;
}

bool family_installed(const std::string& name) {
  if (name.empty() || name.find('\0') != std::string::npos) return false;
  return !list_families(name.c_str()).empty();
}

std::mutex& fc_mutex() {
  static std::mutex m;
  return m;
}

// Text handed to Pango must be UTF-8: other byte strings are read as
// Windows-1252, the encoding of 8-bit text on the platform the API comes from.
std::string to_utf8(const std::string& s) {
  if (g_utf8_validate(s.data(), static_cast<gssize>(s.size()), nullptr)) return s;
  static const uint16_t k80[32] = {0x20AC, 0x81,   0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
                                   0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x8D,   0x017D, 0x8F,
                                   0x90,   0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
                                   0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x9D,   0x017E, 0x0178};
  std::string out;
  for (unsigned char c : s) {
    uint32_t u = c >= 0x80 && c < 0xA0 ? k80[c - 0x80] : c;
    if (u == 0) u = 0xFFFD;  // Pango stops at NUL
    char buf[6];
    const int n = g_unichar_to_utf8(u, buf);
    out.append(buf, static_cast<size_t>(n));
  }
  return out;
}

}  // namespace

// ---------------------------------------------------------------- brushes

Brush Brush::solid(uint32_t argb) {
  Brush b;
  b.color = argb;
  return b;
}

Brush Brush::linear(PointF from, PointF to, uint32_t start, uint32_t end) {
  Brush b;
  b.kind = Kind::LinearGradient;
  b.p1 = from;
  b.p2 = to;
  b.color = start;
  b.end_color = end;
  return b;
}

Brush Brush::path_ellipse(const RectF& ellipse, PointF centre, uint32_t centre_argb, double focus_x,
                          double focus_y, uint32_t surround_argb) {
  Brush b;
  b.kind = Kind::PathGradient;
  b.ellipse = ellipse;
  b.centre = centre;
  b.centre_color = centre_argb;
  b.focus_x = focus_x;
  b.focus_y = focus_y;
  b.end_color = surround_argb;
  return b;
}

Status Brush::texture_of(Image& img, Brush& out) {
  std::shared_ptr<Image> snap;
  const Status st = snapshot(img, {0, 0, img.width(), img.height()}, snap);
  if (st != Status::Ok) return st;
  out = Brush{};
  out.kind = Kind::Texture;
  out.texture = std::move(snap);
  return Status::Ok;
}

// ---------------------------------------------------------------- fonts

std::vector<std::string> installed_font_families() {
  std::lock_guard<std::mutex> lock(fc_mutex());
  return list_families(nullptr);
}

std::string resolve_font_family(const std::string& name) {
  // Metric-compatible families that stand in for the common Windows fonts.
  static const std::pair<const char*, const char*> kAliases[] = {
      {"arial", "Liberation Sans"},
      {"helvetica", "Liberation Sans"},
      {"times new roman", "Liberation Serif"},
      {"times", "Liberation Serif"},
      {"courier new", "Liberation Mono"},
      {"courier", "Liberation Mono"},
      {"arial narrow", "Liberation Sans Narrow"}};
  std::lock_guard<std::mutex> lock(fc_mutex());
  if (family_installed(name)) return name;
  std::string lower = name;
  for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  for (const auto& [alias, family] : kAliases) {
    if (lower == alias && family_installed(family)) return family;
  }
  return {};
}

Status font_style_available(const std::string& name, int32_t style, bool& available) {
  available = false;
  const std::string family = resolve_font_family(name);
  if (family.empty()) return Status::FontFamilyNotFound;
  std::lock_guard<std::mutex> lock(fc_mutex());
  FcPattern* pat = FcPatternBuild(nullptr, FC_FAMILY, FcTypeString,
                                  reinterpret_cast<const FcChar8*>(family.c_str()), nullptr);
  FcObjectSet* os = FcObjectSetBuild(FC_WEIGHT, FC_SLANT, nullptr);
  FcFontSet* fs = FcFontList(nullptr, pat, os);
  const bool want_bold = (style & Font::Bold) != 0, want_italic = (style & Font::Italic) != 0;
  if (fs != nullptr) {
    for (int i = 0; i < fs->nfont && !available; ++i) {
      int weight = FC_WEIGHT_REGULAR, slant = FC_SLANT_ROMAN;
      FcPatternGetInteger(fs->fonts[i], FC_WEIGHT, 0, &weight);
      FcPatternGetInteger(fs->fonts[i], FC_SLANT, 0, &slant);
      const bool bold = weight >= FC_WEIGHT_DEMIBOLD;
      const bool italic = slant != FC_SLANT_ROMAN;
      available = bold == want_bold && italic == want_italic;
    }
    FcFontSetDestroy(fs);
  }
  FcObjectSetDestroy(os);
  FcPatternDestroy(pat);
  return Status::Ok;
}

Status Font::create(const std::string& family, float size, int32_t style, Unit unit, float dpi,
                    Font& out) {
  if (!std::isfinite(size) || size <= 0) return Status::InvalidParameter;
  if (!std::isfinite(dpi) || dpi <= 0) dpi = 96.0f;
  double px = size;
  switch (unit) {
    case Unit::World:
    case Unit::Pixel:
      break;
    case Unit::Point:
      px = size * dpi / 72.0;
      break;
    case Unit::Inch:
      px = size * dpi;
      break;
    case Unit::Document:
      px = size * dpi / 300.0;
      break;
    case Unit::Millimeter:
      px = size * dpi / 25.4;
      break;
    default:  // a font has no size on the display unit
      return Status::InvalidParameter;
  }
  // FreeType sizes glyphs in 16-bit pixels per em.
  if (px > 32767) return Status::InvalidParameter;
  const std::string resolved = resolve_font_family(family);
  if (resolved.empty()) return Status::FontFamilyNotFound;
  out.family_ = resolved;
  out.pixel_size_ = px;
  out.style_ = style & 15;
  return Status::Ok;
}

// ---------------------------------------------------------------- graphics

struct Graphics::Impl {
  Image* image = nullptr;
  uint8_t* buffer = nullptr;
  int32_t width = 0, height = 0, stride = 0;

  CairoPtr<cairo_surface_t> rec;
  CairoPtr<cairo_t> cr;
  bool dirty = false;
  cairo_matrix_t world;
  std::vector<std::vector<PointF>> clips;  // device-space polygons

  Status begin();
  void apply_clips();
  Status read_argb(const Rect& r, std::vector<uint32_t>& out);
  Status write_span(int32_t x, int32_t y, int32_t n, const uint32_t* argb);
};

Status Graphics::Impl::begin() {
  cairo_rectangle_t extents{0, 0, static_cast<double>(width), static_cast<double>(height)};
  rec.reset(cairo_recording_surface_create(CAIRO_CONTENT_COLOR_ALPHA, &extents));
  cr.reset(cairo_create(rec.get()));
  if (cairo_status(cr.get()) != CAIRO_STATUS_SUCCESS) return Status::OutOfMemory;
  dirty = false;
  apply_clips();
  return Status::Ok;
}

void Graphics::Impl::apply_clips() {
  cairo_t* c = cr.get();
  cairo_identity_matrix(c);
  cairo_set_antialias(c, CAIRO_ANTIALIAS_NONE);
  cairo_set_fill_rule(c, CAIRO_FILL_RULE_EVEN_ODD);
  for (const auto& poly : clips) {
    cairo_new_path(c);
    for (const PointF& p : poly) cairo_line_to(c, p.x, p.y);
    cairo_close_path(c);
    cairo_clip(c);
  }
  cairo_set_fill_rule(c, CAIRO_FILL_RULE_WINDING);
}

Status Graphics::Impl::read_argb(const Rect& r, std::vector<uint32_t>& out) {
  out.resize(static_cast<size_t>(r.width) * static_cast<size_t>(r.height));
  if (image != nullptr) {
    return image->read_pixels(r, pf::k32bppARGB, reinterpret_cast<uint8_t*>(out.data()),
                              r.width * 4);
  }
  for (int32_t y = 0; y < r.height; ++y) {
    std::memcpy(&out[static_cast<size_t>(y) * r.width],
                buffer + static_cast<ptrdiff_t>(r.y + y) * stride + 4 * r.x,
                static_cast<size_t>(r.width) * 4);
  }
  return Status::Ok;
}

Status Graphics::Impl::write_span(int32_t x, int32_t y, int32_t n, const uint32_t* argb) {
  if (image != nullptr) {
    return image->write_pixels({x, y, n, 1}, pf::k32bppARGB, reinterpret_cast<const uint8_t*>(argb),
                               n * 4);
  }
  std::memcpy(buffer + static_cast<ptrdiff_t>(y) * stride + 4 * x, argb,
              static_cast<size_t>(n) * 4);
  return Status::Ok;
}

Status Graphics::open(Image& img, std::unique_ptr<Graphics>& out) {
  if (img.locked()) return Status::WrongState;
  if (img.width() <= 0 || img.height() <= 0) return Status::InvalidParameter;
  // Older raster versions have no drawing surface on indexed images.
  if (is_indexed(img.format()) && is_old_version()) return Status::PixelFormatMustBeConverted;
  std::unique_ptr<Graphics> g(new Graphics());
  g->impl_ = std::make_unique<Impl>();
  g->impl_->image = &img;
  g->impl_->width = img.width();
  g->impl_->height = img.height();
  cairo_matrix_init_identity(&g->impl_->world);
  const Status st = g->impl_->begin();
  if (st != Status::Ok) return st;
  out = std::move(g);
  return Status::Ok;
}

Status Graphics::open_buffer(uint8_t* bgra, int32_t width, int32_t height, int32_t stride,
                             std::unique_ptr<Graphics>& out) {
  if (bgra == nullptr || width <= 0 || height <= 0 || stride < int64_t{width} * 4)
    return Status::InvalidParameter;
  std::unique_ptr<Graphics> g(new Graphics());
  g->impl_ = std::make_unique<Impl>();
  g->impl_->buffer = bgra;
  g->impl_->width = width;
  g->impl_->height = height;
  g->impl_->stride = stride;
  cairo_matrix_init_identity(&g->impl_->world);
  const Status st = g->impl_->begin();
  if (st != Status::Ok) return st;
  out = std::move(g);
  return Status::Ok;
}

Graphics::~Graphics() {
  if (impl_) flush();
}

Status Graphics::flush() {
  Impl& m = *impl_;
  if (!m.dirty) return Status::Ok;
  cairo_surface_flush(m.rec.get());
  double ex = 0, ey = 0, ew = 0, eh = 0;
  cairo_recording_surface_ink_extents(m.rec.get(), &ex, &ey, &ew, &eh);
  const int64_t x0 = std::max<int64_t>(0, static_cast<int64_t>(std::floor(ex)));
  const int64_t y0 = std::max<int64_t>(0, static_cast<int64_t>(std::floor(ey)));
  const int64_t x1 = std::min<int64_t>(m.width, static_cast<int64_t>(std::ceil(ex + ew)));
  const int64_t y1 = std::min<int64_t>(m.height, static_cast<int64_t>(std::ceil(ey + eh)));
  Status st = Status::Ok;
  if (x1 > x0 && y1 > y0) {
    const Rect r{static_cast<int32_t>(x0), static_cast<int32_t>(y0), static_cast<int32_t>(x1 - x0),
                 static_cast<int32_t>(y1 - y0)};
    std::vector<uint32_t> orig;
    st = m.read_argb(r, orig);
    if (st == Status::Ok) {
      std::vector<uint32_t> proxy(orig.size());
      for (size_t i = 0; i < orig.size(); ++i) proxy[i] = premultiply(orig[i]);
      CairoPtr<cairo_surface_t> target(
          cairo_image_surface_create_for_data(reinterpret_cast<unsigned char*>(proxy.data()),
                                              CAIRO_FORMAT_ARGB32, r.width, r.height, r.width * 4));
      cairo_surface_set_device_offset(target.get(), -r.x, -r.y);
      {
        CairoPtr<cairo_t> c(cairo_create(target.get()));
        cairo_set_source_surface(c.get(), m.rec.get(), 0, 0);
        cairo_paint(c.get());
        if (cairo_status(c.get()) != CAIRO_STATUS_SUCCESS) st = Status::OutOfMemory;
      }
      cairo_surface_flush(target.get());
      target.reset();
      // Write back only the runs of pixels the drawing changed, so untouched
      // pixels keep their exact stored values (deep colours, palette indices).
      for (int32_t y = 0; y < r.height && st == Status::Ok; ++y) {
        const size_t row = static_cast<size_t>(y) * r.width;
        int32_t x = 0;
        while (x < r.width && st == Status::Ok) {
          if (proxy[row + x] == premultiply(orig[row + x])) {
            ++x;
            continue;
          }
          const int32_t start = x;
          while (x < r.width && proxy[row + x] != premultiply(orig[row + x])) {
            orig[row + x] = unpremultiply(proxy[row + x]);
            ++x;
          }
          st = m.write_span(r.x + start, r.y + y, x - start, &orig[row + start]);
        }
      }
    }
  }
  const Status st2 = m.begin();
  return st != Status::Ok ? st : st2;
}

void Graphics::rotate_transform(double degrees, bool append) {
  cairo_matrix_t r;
  cairo_matrix_init_rotate(&r, degrees * kPi / 180.0);
  if (append)
    cairo_matrix_multiply(&impl_->world, &impl_->world, &r);
  else
    cairo_matrix_multiply(&impl_->world, &r, &impl_->world);
}

void Graphics::translate_transform(double dx, double dy, bool append) {
  cairo_matrix_t t;
  cairo_matrix_init_translate(&t, dx, dy);
  if (append)
    cairo_matrix_multiply(&impl_->world, &impl_->world, &t);
  else
    cairo_matrix_multiply(&impl_->world, &t, &impl_->world);
}

void Graphics::reset_transform() {
  cairo_matrix_init_identity(&impl_->world);
}

Status Graphics::device_to_world(PointF* pts, size_t n) const {
  cairo_matrix_t inv = impl_->world;
  if (cairo_matrix_invert(&inv) != CAIRO_STATUS_SUCCESS) return Status::InvalidParameter;
  for (size_t i = 0; i < n; ++i) cairo_matrix_transform_point(&inv, &pts[i].x, &pts[i].y);
  return Status::Ok;
}

Status Graphics::clip_polygon(const std::vector<PointF>& pts) {
  std::vector<PointF> dev;
  dev.reserve(pts.size());
  for (PointF p : pts) {
    if (!finite(p)) return Status::InvalidParameter;
    cairo_matrix_transform_point(&impl_->world, &p.x, &p.y);
    dev.push_back(p);
  }
  // Fewer than three points enclose nothing: later drawing is clipped away.
  if (dev.size() < 3) dev.assign(3, PointF{-1, -1});
  impl_->clips.push_back(std::move(dev));
  // Drawing recorded so far is rendered under the clip it was made with;
  // the fresh recording starts with every clip applied.
  return impl_->dirty ? flush() : impl_->begin();
}

namespace {

// Device space of strokes: integer coordinates at pixel centres.
void stroke_space(cairo_t* cr, const cairo_matrix_t& world) {
  cairo_matrix_t t, m;
  cairo_matrix_init_translate(&t, 0.5, 0.5);
  cairo_matrix_multiply(&m, &world, &t);
  cairo_set_matrix(cr, &m);
}

// Path-gradient colours at device pixel centres over the ellipse's device
// bounding box, as an image source placed in device space.
Status path_gradient_source(cairo_t* cr, const Brush& b, const cairo_matrix_t& world, int32_t tw,
                            int32_t th) {
  const double a = b.ellipse.width / 2, bb = b.ellipse.height / 2;
  const double ecx = b.ellipse.x + a, ecy = b.ellipse.y + bb;
  // Device bounding box of the ellipse (through its transformed box corners).
  double xs[4] = {b.ellipse.x, b.ellipse.x + b.ellipse.width, b.ellipse.x,
                  b.ellipse.x + b.ellipse.width};
  double ys[4] = {b.ellipse.y, b.ellipse.y, b.ellipse.y + b.ellipse.height,
                  b.ellipse.y + b.ellipse.height};
  double lx = 1e300, ly = 1e300, hx = -1e300, hy = -1e300;
  for (int i = 0; i < 4; ++i) {
    cairo_matrix_transform_point(&world, &xs[i], &ys[i]);
    lx = std::min(lx, xs[i]), hx = std::max(hx, xs[i]);
    ly = std::min(ly, ys[i]), hy = std::max(hy, ys[i]);
  }
  const int32_t x0 = static_cast<int32_t>(std::max(0.0, std::floor(lx)));
  const int32_t y0 = static_cast<int32_t>(std::max(0.0, std::floor(ly)));
  const int32_t x1 = static_cast<int32_t>(std::min<double>(tw, std::ceil(hx)));
  const int32_t y1 = static_cast<int32_t>(std::min<double>(th, std::ceil(hy)));
  if (x1 <= x0 || y1 <= y0 || a <= 0 || bb <= 0) {
    set_rgba(cr, 0);
    return Status::Ok;
  }
  std::shared_ptr<Image> img;
  std::unique_ptr<Image> made;
  Status st = Image::create(x1 - x0, y1 - y0, pf::k32bppPARGB, made);
  if (st != Status::Ok) return st;
  img = std::move(made);
  cairo_matrix_t inv = world;
  if (cairo_matrix_invert(&inv) != CAIRO_STATUS_SUCCESS) return Status::InvalidParameter;
  // Multiplier k with C + k * (vx, vy) on the outline (in units of the
  // radii), the larger root; -1 when the ray misses it.
  const double ux = (b.centre.x - ecx) / a, uy = (b.centre.y - ecy) / bb;
  auto reach = [&](double vx, double vy) {
    const double qa = vx * vx + vy * vy, qb = 2 * (ux * vx + uy * vy), qc = ux * ux + uy * uy - 1;
    if (qa <= 0) return -1.0;
    const double disc = qb * qb - 4 * qa * qc;
    return disc < 0 ? -1.0 : (-qb + std::sqrt(disc)) / (2 * qa);
  };
  const double fx = std::max(0.0, b.focus_x), fy = std::max(0.0, b.focus_y);
  auto chan = [](uint32_t c, int sh) { return static_cast<double>((c >> sh) & 0xFF); };
  Surface& s = img->surface();
  for (int32_t y = y0; y < y1; ++y) {
    uint32_t* row = reinterpret_cast<uint32_t*>(s.row(y - y0));
    for (int32_t x = x0; x < x1; ++x) {
      double px = x + 0.5, py = y + 0.5;
      cairo_matrix_transform_point(&inv, &px, &py);
      // Along the ray from the centre point C through P (P = C + d): the
      // outline at C + k d, the focus outline (the outline scaled by the
      // focus scales about C) at C + kf d. Centre colour up to the focus
      // outline, then a linear blend to the surround colour at the outline.
      const double dx = (px - b.centre.x) / a, dy = (py - b.centre.y) / bb;
      double u = 0;
      if (dx != 0 || dy != 0) {
        const double k = reach(dx, dy);
        const double kf = fx > 0 && fy > 0 ? reach(dx / fx, dy / fy) : 0.0;
        if (k <= 0)
          u = 1;
        else if (kf < 1)
          u = k > kf ? (1 - std::max(0.0, kf)) / (k - std::max(0.0, kf)) : 1;
      }
      u = std::clamp(u, 0.0, 1.0);
      uint32_t argb = 0;
      for (int c = 0; c < 4; ++c) {
        const double v = chan(b.centre_color, 8 * c) * (1 - u) + chan(b.end_color, 8 * c) * u;
        argb |= static_cast<uint32_t>(std::lround(std::clamp(v, 0.0, 255.0))) << (8 * c);
      }
      row[x - x0] = premultiply(argb);
    }
  }
  CairoPtr<cairo_surface_t> cs = surface_over(img);
  if (!cs) return Status::OutOfMemory;
  cairo_matrix_t saved;
  cairo_get_matrix(cr, &saved);
  cairo_identity_matrix(cr);
  cairo_set_source_surface(cr, cs.get(), x0, y0);
  cairo_pattern_set_filter(cairo_get_source(cr), CAIRO_FILTER_NEAREST);
  cairo_set_matrix(cr, &saved);
  return Status::Ok;
}

}  // namespace

namespace {

// Sets the brush as the source. Colours and gradients are placed in the
// current user space; textures and path gradients in the world space.
Status set_brush(cairo_t* cr, const Brush& b, const cairo_matrix_t& world, int32_t tw, int32_t th) {
  switch (b.kind) {
    case Brush::Kind::Solid:
      set_rgba(cr, b.color);
      return Status::Ok;
    case Brush::Kind::LinearGradient: {
      if (!finite(b.p1) || !finite(b.p2)) return Status::InvalidParameter;
      if (b.p1.x == b.p2.x && b.p1.y == b.p2.y) return Status::OutOfMemory;  // no direction
      CairoPtr<cairo_pattern_t> p(cairo_pattern_create_linear(b.p1.x, b.p1.y, b.p2.x, b.p2.y));
      add_stop(p.get(), 0, b.color);
      add_stop(p.get(), 1, b.end_color);
      cairo_pattern_set_extend(p.get(), CAIRO_EXTEND_REPEAT);
      cairo_set_source(cr, p.get());
      return Status::Ok;
    }
    case Brush::Kind::PathGradient:
      return path_gradient_source(cr, b, world, tw, th);
    case Brush::Kind::Texture: {
      if (!b.texture) return Status::InvalidParameter;
      CairoPtr<cairo_surface_t> cs = surface_over(b.texture);
      if (!cs) return Status::OutOfMemory;
      cairo_matrix_t saved;
      cairo_get_matrix(cr, &saved);
      cairo_set_matrix(cr, &world);
      cairo_set_source_surface(cr, cs.get(), 0, 0);
      cairo_pattern_set_extend(cairo_get_source(cr), CAIRO_EXTEND_REPEAT);
      const bool integral = world.xx == 1 && world.yy == 1 && world.xy == 0 && world.yx == 0 &&
                            world.x0 == std::floor(world.x0) && world.y0 == std::floor(world.y0);
      cairo_pattern_set_filter(cairo_get_source(cr),
                               integral ? CAIRO_FILTER_NEAREST : CAIRO_FILTER_BILINEAR);
      cairo_set_matrix(cr, &saved);
      return Status::Ok;
    }
  }
  return Status::InvalidParameter;
}

cairo_antialias_t antialias_for(Smoothing m) {
  return m == Smoothing::AntiAlias || m == Smoothing::HighQuality ? CAIRO_ANTIALIAS_GRAY
                                                                  : CAIRO_ANTIALIAS_NONE;
}

}  // namespace

// Shared set-up of a stroke: stroke space, pen source, width, caps.
#define KORVEX_STROKE_BEGIN(pen)                                                          \
  if (!finite((pen).width) || (pen).width < 0) return Status::InvalidParameter;           \
  cairo_t* cr = impl_->cr.get();                                                          \
  cairo_new_path(cr);                                                                     \
  stroke_space(cr, impl_->world);                                                         \
  if (Status bst = set_brush(cr, (pen).brush, impl_->world, impl_->width, impl_->height); \
      bst != Status::Ok)                                                                  \
    return bst;                                                                           \
  cairo_set_antialias(cr, antialias_for(smoothing_));                                     \
  cairo_set_line_width(cr, std::max(1.0, (pen).width));                                   \
  cairo_set_line_cap(cr, CAIRO_LINE_CAP_BUTT);                                            \
  cairo_set_line_join(cr, CAIRO_LINE_JOIN_MITER);                                         \
  cairo_set_miter_limit(cr, 10.0)

namespace {

// A rectangle path with its edges limited to the reach (an edge beyond it
// would be off the picture and is drawn, if at all, where it cannot be seen).
void rectangle_path(cairo_t* cr, double x, double y, double w, double h) {
  double x0 = std::min(x, x + w), x1 = std::max(x, x + w);
  double y0 = std::min(y, y + h), y1 = std::max(y, y + h);
  x0 = std::clamp(x0, -kReach, kReach), x1 = std::clamp(x1, -kReach, kReach);
  y0 = std::clamp(y0, -kReach, kReach), y1 = std::clamp(y1, -kReach, kReach);
  cairo_rectangle(cr, x0, y0, x1 - x0, y1 - y0);
}

// Cuts the segment a-b to the square of the reach (Liang-Barsky); false when
// nothing of it is inside.
bool clip_segment(PointF& a, PointF& b) {
  double t0 = 0, t1 = 1;
  const double dx = b.x - a.x, dy = b.y - a.y;
  const double p[4] = {-dx, dx, -dy, dy};
  const double q[4] = {a.x + kReach, kReach - a.x, a.y + kReach, kReach - a.y};
  for (int i = 0; i < 4; ++i) {
    if (p[i] == 0) {
      if (q[i] < 0) return false;
    } else {
      const double t = q[i] / p[i];
      if (p[i] < 0)
        t0 = std::max(t0, t);
      else
        t1 = std::min(t1, t);
    }
  }
  if (t0 > t1) return false;
  const PointF s = a;
  a = {s.x + t0 * dx, s.y + t0 * dy};
  b = {s.x + t1 * dx, s.y + t1 * dy};
  return true;
}

// The ellipse inscribed in a rectangle, as a closed path.
void ellipse_path(cairo_t* cr, const RectF& r) {
  cairo_save(cr);
  cairo_translate(cr, r.x + r.width / 2, r.y + r.height / 2);
  cairo_scale(cr, r.width / 2, r.height / 2);
  cairo_arc(cr, 0, 0, 1, 0, 2 * kPi);
  cairo_close_path(cr);
  cairo_restore(cr);
}

Status finish(cairo_t* cr, bool stroke, bool& dirty) {
  if (stroke)
    cairo_stroke(cr);
  else
    cairo_fill(cr);
  dirty = true;
  return cairo_status(cr) == CAIRO_STATUS_SUCCESS ? Status::Ok : Status::OutOfMemory;
}

// Arrow-anchor cap: a filled triangle whose tip is the end point, as wide
// and as long as twice the pen width (at least 4 pixels).
void arrow_head(cairo_t* cr, PointF from, PointF tip, double width, PointF& base) {
  const double len = std::hypot(tip.x - from.x, tip.y - from.y);
  base = from;
  if (len == 0) return;
  const double ux = (tip.x - from.x) / len, uy = (tip.y - from.y) / len;
  const double s = 2 * std::max(width, 2.0);
  base = {tip.x - ux * s, tip.y - uy * s};
  cairo_move_to(cr, tip.x, tip.y);
  cairo_line_to(cr, base.x - uy * s / 2, base.y + ux * s / 2);
  cairo_line_to(cr, base.x + uy * s / 2, base.y - ux * s / 2);
  cairo_close_path(cr);
  cairo_fill(cr);
}

}  // namespace

Status Graphics::draw_line(const Pen& pen, PointF a, PointF b) {
  if (!finite(a) || !finite(b)) return Status::InvalidParameter;
  KORVEX_STROKE_BEGIN(pen);
  // Lengthened by half a pixel at each end so the line covers its end pixels.
  const double len = std::hypot(b.x - a.x, b.y - a.y);
  PointF s = a, e = b;
  if (len > 0) {
    const double ux = (b.x - a.x) / len * 0.5, uy = (b.y - a.y) / len * 0.5;
    s = {a.x - ux, a.y - uy};
    e = {b.x + ux, b.y + uy};
  } else {
    s = {a.x - 0.5, a.y};
    e = {a.x + 0.5, a.y};
  }
  if (pen.arrow_end) {
    PointF base;
    arrow_head(cr, a, b, pen.width, base);
    if (len > 0) e = base;
  }
  if (!clip_segment(s, e)) return Status::Ok;
  cairo_move_to(cr, s.x, s.y);
  cairo_line_to(cr, e.x, e.y);
  return finish(cr, true, impl_->dirty);
}

Status Graphics::draw_lines(const Pen& pen, const std::vector<PointF>& pts) {
  if (!pts.empty() && !reachable(impl_->world, pts.data(), pts.size()))
    return Status::ValueOverflow;
  if (pts.size() < 2) return Status::InvalidParameter;
  for (PointF p : pts)
    if (!finite(p)) return Status::InvalidParameter;
  KORVEX_STROKE_BEGIN(pen);
  for (PointF p : pts) cairo_line_to(cr, p.x, p.y);
  return finish(cr, true, impl_->dirty);
}

Status Graphics::draw_arc(const Pen& pen, const RectF& box, double start, double sweep) {
  if (finite(box) && !reachable(impl_->world, box)) return Status::ValueOverflow;
  if (!finite(box) || !finite(start) || !finite(sweep)) return Status::InvalidParameter;
  if (box.width <= 0 || box.height <= 0) return Status::InvalidParameter;
  KORVEX_STROKE_BEGIN(pen);
  const double a = box.width / 2, b = box.height / 2;
  // Angles are geometric angles on the ellipse; cairo's arc of a scaled
  // circle takes parametric ones.
  auto param = [&](double deg) {
    const double th = deg * kPi / 180.0;
    const double p = std::atan2(a * std::sin(th), b * std::cos(th));
    return p + 2 * kPi * std::round((th - p) / (2 * kPi));
  };
  const double clamped = std::clamp(sweep, -360.0, 360.0);
  const double p0 = param(start), p1 = param(start + clamped);
  cairo_save(cr);
  cairo_translate(cr, box.x + a, box.y + b);
  cairo_scale(cr, a, b);
  if (clamped >= 0)
    cairo_arc(cr, 0, 0, 1, p0, p1);
  else
    cairo_arc_negative(cr, 0, 0, 1, p0, p1);
  cairo_restore(cr);
  return finish(cr, true, impl_->dirty);
}

Status Graphics::draw_bezier(const Pen& pen, PointF p1, PointF p2, PointF p3, PointF p4) {
  const PointF bez[4] = {p1, p2, p3, p4};
  if (finite(p1) && finite(p2) && finite(p3) && finite(p4) && !reachable(impl_->world, bez, 4))
    return Status::ValueOverflow;
  if (!finite(p1) || !finite(p2) || !finite(p3) || !finite(p4)) return Status::InvalidParameter;
  KORVEX_STROKE_BEGIN(pen);
  cairo_move_to(cr, p1.x, p1.y);
  cairo_curve_to(cr, p2.x, p2.y, p3.x, p3.y, p4.x, p4.y);
  return finish(cr, true, impl_->dirty);
}

Status Graphics::draw_curve(const Pen& pen, const std::vector<PointF>& pts, double tension) {
  if (!pts.empty() && !reachable(impl_->world, pts.data(), pts.size()))
    return Status::ValueOverflow;
  if (pts.size() < 2 || !finite(tension)) return Status::InvalidParameter;
  for (PointF p : pts)
    if (!finite(p)) return Status::InvalidParameter;
  KORVEX_STROKE_BEGIN(pen);
  // Cardinal spline as Bézier segments: the tangent at point i is
  // tension * (P[i+1] - P[i-1]), the end points using themselves as the
  // missing neighbour; control points lie a third of the tangent away.
  const size_t n = pts.size();
  const double k = tension / 3.0;
  cairo_move_to(cr, pts[0].x, pts[0].y);
  for (size_t i = 0; i + 1 < n; ++i) {
    const PointF& prev = pts[i == 0 ? 0 : i - 1];
    const PointF& p = pts[i];
    const PointF& q = pts[i + 1];
    const PointF& next = pts[std::min(n - 1, i + 2)];
    cairo_curve_to(cr, p.x + k * (q.x - prev.x), p.y + k * (q.y - prev.y), q.x - k * (next.x - p.x),
                   q.y - k * (next.y - p.y), q.x, q.y);
  }
  return finish(cr, true, impl_->dirty);
}

Status Graphics::draw_rectangle(const Pen& pen, const RectF& r) {
  if (!finite(r)) return Status::InvalidParameter;
  KORVEX_STROKE_BEGIN(pen);
  rectangle_path(cr, r.x, r.y, r.width, r.height);
  return finish(cr, true, impl_->dirty);
}

Status Graphics::draw_ellipse(const Pen& pen, const RectF& r) {
  if (finite(r) && !reachable(impl_->world, r)) return Status::ValueOverflow;
  if (!finite(r)) return Status::InvalidParameter;
  KORVEX_STROKE_BEGIN(pen);
  if (r.width == 0 || r.height == 0)
    cairo_rectangle(cr, r.x, r.y, r.width, r.height);
  else
    ellipse_path(cr, r);
  return finish(cr, true, impl_->dirty);
}

namespace {
// Fill set-up: world space, brush source, antialiasing.
Status fill_begin(cairo_t* cr, const Brush& b, const cairo_matrix_t& world, Smoothing sm,
                  int32_t tw, int32_t th) {
  cairo_new_path(cr);
  cairo_set_matrix(cr, &world);
  if (Status st = set_brush(cr, b, world, tw, th); st != Status::Ok) return st;
  cairo_set_matrix(cr, &world);
  cairo_set_antialias(cr, antialias_for(sm));
  cairo_set_fill_rule(cr, CAIRO_FILL_RULE_WINDING);
  return Status::Ok;
}
}  // namespace

Status Graphics::fill_rectangle(const Brush& brush, const RectF& r) {
  if (!finite(r)) return Status::InvalidParameter;
  cairo_t* cr = impl_->cr.get();
  if (Status st = fill_begin(cr, brush, impl_->world, smoothing_, impl_->width, impl_->height);
      st != Status::Ok)
    return st;
  rectangle_path(cr, r.x, r.y, r.width, r.height);
  return finish(cr, false, impl_->dirty);
}

Status Graphics::fill_ellipse(const Brush& brush, const RectF& r) {
  if (finite(r) && !reachable(impl_->world, r)) return Status::ValueOverflow;
  if (!finite(r)) return Status::InvalidParameter;
  cairo_t* cr = impl_->cr.get();
  if (Status st = fill_begin(cr, brush, impl_->world, smoothing_, impl_->width, impl_->height);
      st != Status::Ok)
    return st;
  if (r.width == 0 || r.height == 0) return Status::Ok;
  ellipse_path(cr, r);
  return finish(cr, false, impl_->dirty);
}

Status Graphics::fill_polygon(const Brush& brush, const std::vector<PointF>& pts) {
  if (!pts.empty() && !reachable(impl_->world, pts.data(), pts.size()))
    return Status::ValueOverflow;
  if (pts.size() < 3) return Status::InvalidParameter;
  for (PointF p : pts)
    if (!finite(p)) return Status::InvalidParameter;
  cairo_t* cr = impl_->cr.get();
  if (Status st = fill_begin(cr, brush, impl_->world, smoothing_, impl_->width, impl_->height);
      st != Status::Ok)
    return st;
  cairo_set_fill_rule(cr, CAIRO_FILL_RULE_EVEN_ODD);
  for (PointF p : pts) cairo_line_to(cr, p.x, p.y);
  cairo_close_path(cr);
  return finish(cr, false, impl_->dirty);
}

Status Graphics::draw_image(Image& src, const RectF& dst, const Rect& from) {
  if (!finite(dst)) return Status::InvalidParameter;
  if (from.width <= 0 || from.height <= 0 || from.x < 0 || from.y < 0 ||
      int64_t{from.x} + from.width > src.width() || int64_t{from.y} + from.height > src.height())
    return Status::InvalidParameter;
  if (dst.width == 0 || dst.height == 0) return Status::Ok;
  cairo_t* cr = impl_->cr.get();
  const cairo_matrix_t& w = impl_->world;
  const bool axis_aligned = w.xx == 1 && w.yy == 1 && w.xy == 0 && w.yx == 0;
  const double dx = dst.x + w.x0, dy = dst.y + w.y0;
  const bool integral = axis_aligned && dx == std::floor(dx) && dy == std::floor(dy) &&
                        dst.width == std::floor(dst.width) &&
                        dst.height == std::floor(dst.height) && dst.width > 0 && dst.height > 0;
  // Scaled by our own separable kernels when the destination is a whole-pixel
  // rectangle not much larger than the target; cairo's filters otherwise.
  const double area = dst.width * dst.height;
  const double target_area = double(impl_->width) * impl_->height;
  std::shared_ptr<Image> pixels;
  if (integral && area <= 4 * target_area + 1e6) {
    std::unique_ptr<Image> scaled;
    Status st = Image::create(static_cast<int32_t>(dst.width), static_cast<int32_t>(dst.height),
                              pf::k32bppPARGB, scaled);
    if (st != Status::Ok) return st;
    if (from.width == dst.width && from.height == dst.height) {
      Surface& s = scaled->surface();
      st = src.read_pixels(from, pf::k32bppPARGB, s.scan0, s.stride);
    } else {
      st = resample(src, from, *scaled, interpolation_);
    }
    if (st != Status::Ok) return st;
    pixels = std::move(scaled);
    CairoPtr<cairo_surface_t> cs = surface_over(pixels);
    if (!cs) return Status::OutOfMemory;
    cairo_new_path(cr);
    cairo_identity_matrix(cr);
    cairo_set_source_surface(cr, cs.get(), dx, dy);
    cairo_pattern_set_filter(cairo_get_source(cr), CAIRO_FILTER_NEAREST);
    cairo_set_antialias(cr, CAIRO_ANTIALIAS_NONE);
    rectangle_path(cr, dx, dy, dst.width, dst.height);
    return finish(cr, false, impl_->dirty);
  }
  Status st = snapshot(src, from, pixels);
  if (st != Status::Ok) return st;
  CairoPtr<cairo_surface_t> cs = surface_over(pixels);
  if (!cs) return Status::OutOfMemory;
  cairo_new_path(cr);
  cairo_set_matrix(cr, &w);
  CairoPtr<cairo_pattern_t> p(cairo_pattern_create_for_surface(cs.get()));
  cairo_matrix_t pm;  // user space -> source pixels
  cairo_matrix_init_scale(&pm, from.width / dst.width, from.height / dst.height);
  cairo_matrix_translate(&pm, -dst.x, -dst.y);
  cairo_pattern_set_matrix(p.get(), &pm);
  cairo_pattern_set_filter(p.get(), filter_for(interpolation_));
  cairo_pattern_set_extend(p.get(), CAIRO_EXTEND_PAD);
  cairo_set_source(cr, p.get());
  cairo_set_antialias(cr, CAIRO_ANTIALIAS_GRAY);
  rectangle_path(cr, dst.x, dst.y, dst.width, dst.height);
  return finish(cr, false, impl_->dirty);
}

Status Graphics::draw_image_points(Image& src, PointF tl, PointF tr, PointF bl) {
  const PointF corners[4] = {tl, tr, bl, {tr.x + bl.x - tl.x, tr.y + bl.y - tl.y}};
  if (finite(tl) && finite(tr) && finite(bl) && !reachable(impl_->world, corners, 4))
    return Status::ValueOverflow;
  if (!finite(tl) || !finite(tr) || !finite(bl)) return Status::InvalidParameter;
  const double w = src.width(), h = src.height();
  // Source (u, v) -> user: tl + u/w * (tr - tl) + v/h * (bl - tl).
  cairo_matrix_t map;
  cairo_matrix_init(&map, (tr.x - tl.x) / w, (tr.y - tl.y) / w, (bl.x - tl.x) / h,
                    (bl.y - tl.y) / h, tl.x, tl.y);
  cairo_matrix_t inv = map;
  if (cairo_matrix_invert(&inv) != CAIRO_STATUS_SUCCESS) return Status::Ok;  // degenerate: nothing
  std::shared_ptr<Image> pixels;
  Status st = snapshot(src, {0, 0, src.width(), src.height()}, pixels);
  if (st != Status::Ok) return st;
  CairoPtr<cairo_surface_t> cs = surface_over(pixels);
  if (!cs) return Status::OutOfMemory;
  cairo_t* cr = impl_->cr.get();
  cairo_new_path(cr);
  cairo_set_matrix(cr, &impl_->world);
  CairoPtr<cairo_pattern_t> p(cairo_pattern_create_for_surface(cs.get()));
  cairo_pattern_set_matrix(p.get(), &inv);
  cairo_pattern_set_filter(p.get(), filter_for(interpolation_));
  cairo_pattern_set_extend(p.get(), CAIRO_EXTEND_PAD);
  cairo_set_source(cr, p.get());
  cairo_set_antialias(cr, CAIRO_ANTIALIAS_GRAY);
  const PointF br{tr.x + bl.x - tl.x, tr.y + bl.y - tl.y};
  cairo_move_to(cr, tl.x, tl.y);
  cairo_line_to(cr, tr.x, tr.y);
  cairo_line_to(cr, br.x, br.y);
  cairo_line_to(cr, bl.x, bl.y);
  cairo_close_path(cr);
  return finish(cr, false, impl_->dirty);
}

namespace {

CairoPtr<PangoLayout> make_layout(cairo_t* cr, const std::string& text, const Font& font,
                                  TextHint hint) {
  CairoPtr<PangoLayout> layout(pango_cairo_create_layout(cr));
  CairoPtr<cairo_font_options_t> fo(cairo_font_options_create());
  const bool mono =
      hint == TextHint::SingleBitPerPixel || hint == TextHint::SingleBitPerPixelGridFit;
  cairo_font_options_set_antialias(fo.get(), mono ? CAIRO_ANTIALIAS_NONE : CAIRO_ANTIALIAS_GRAY);
  const bool grid = hint == TextHint::SingleBitPerPixelGridFit ||
                    hint == TextHint::AntiAliasGridFit || hint == TextHint::ClearTypeGridFit;
  cairo_font_options_set_hint_style(fo.get(), grid ? CAIRO_HINT_STYLE_FULL : CAIRO_HINT_STYLE_NONE);
  cairo_font_options_set_hint_metrics(fo.get(), CAIRO_HINT_METRICS_OFF);
  PangoContext* ctx = pango_layout_get_context(layout.get());
  pango_cairo_context_set_font_options(ctx, fo.get());
  pango_layout_context_changed(layout.get());
  CairoPtr<PangoFontDescription> d(pango_font_description_new());
  pango_font_description_set_family(d.get(), font.family().c_str());
  pango_font_description_set_absolute_size(d.get(), font.pixel_size() * PANGO_SCALE);
  pango_font_description_set_weight(
      d.get(), (font.style() & Font::Bold) ? PANGO_WEIGHT_BOLD : PANGO_WEIGHT_NORMAL);
  pango_font_description_set_style(
      d.get(), (font.style() & Font::Italic) ? PANGO_STYLE_ITALIC : PANGO_STYLE_NORMAL);
  pango_layout_set_font_description(layout.get(), d.get());
  if (font.style() & (Font::Underline | Font::Strikeout)) {
    CairoPtr<PangoAttrList> attrs(pango_attr_list_new());
    if (font.style() & Font::Underline)
      pango_attr_list_insert(attrs.get(), pango_attr_underline_new(PANGO_UNDERLINE_SINGLE));
    if (font.style() & Font::Strikeout)
      pango_attr_list_insert(attrs.get(), pango_attr_strikethrough_new(TRUE));
    pango_layout_set_attributes(layout.get(), attrs.get());
  }
  const std::string utf8 = to_utf8(text);
  pango_layout_set_text(layout.get(), utf8.data(), static_cast<int>(utf8.size()));
  return layout;
}

}  // namespace

Status Graphics::draw_string(const std::string& utf8, const Font& font, const Brush& brush,
                             PointF origin) {
  if (!finite(origin)) return Status::InvalidParameter;
  cairo_t* cr = impl_->cr.get();
  if (Status st = fill_begin(cr, brush, impl_->world, smoothing_, impl_->width, impl_->height);
      st != Status::Ok)
    return st;
  CairoPtr<PangoLayout> layout = make_layout(cr, utf8, font, text_hint_);
  cairo_move_to(cr, origin.x, origin.y);
  pango_cairo_update_layout(cr, layout.get());
  pango_cairo_show_layout(cr, layout.get());
  impl_->dirty = true;
  return cairo_status(cr) == CAIRO_STATUS_SUCCESS ? Status::Ok : Status::OutOfMemory;
}

Status Graphics::measure_string(const std::string& utf8, const Font& font, PointF origin,
                                RectF& box) {
  if (!finite(origin)) return Status::InvalidParameter;
  cairo_t* cr = impl_->cr.get();
  cairo_set_matrix(cr, &impl_->world);
  CairoPtr<PangoLayout> layout = make_layout(cr, utf8, font, text_hint_);
  PangoRectangle logical;
  pango_layout_get_extents(layout.get(), nullptr, &logical);
  box = {origin.x + double(logical.x) / PANGO_SCALE, origin.y + double(logical.y) / PANGO_SCALE,
         double(logical.width) / PANGO_SCALE, double(logical.height) / PANGO_SCALE};
  return Status::Ok;
}

Status Graphics::draw_string_in(const std::string& utf8, const Font& font, const Brush& brush,
                                const RectF& layout_rect, const TextFormat& format) {
  if (!finite(layout_rect)) return Status::InvalidParameter;
  cairo_t* cr = impl_->cr.get();
  if (Status st = fill_begin(cr, brush, impl_->world, smoothing_, impl_->width, impl_->height);
      st != Status::Ok)
    return st;
  CairoPtr<PangoLayout> layout = make_layout(cr, utf8, font, text_hint_);
  const bool sized = layout_rect.width > 0;
  if (sized) {
    pango_layout_set_width(layout.get(),
                           static_cast<int>(std::min(layout_rect.width, 1e6) * PANGO_SCALE));
    pango_layout_set_wrap(layout.get(), format.wrap ? PANGO_WRAP_WORD_CHAR : PANGO_WRAP_CHAR);
    pango_layout_set_alignment(layout.get(), format.align == 1   ? PANGO_ALIGN_CENTER
                                             : format.align == 2 ? PANGO_ALIGN_RIGHT
                                                                 : PANGO_ALIGN_LEFT);
  }
  PangoRectangle logical;
  pango_layout_get_extents(layout.get(), nullptr, &logical);
  const double text_h = double(logical.height) / PANGO_SCALE;
  double y = layout_rect.y;
  if (layout_rect.height > 0) {
    if (format.line_align == 1) y += (layout_rect.height - text_h) / 2;
    if (format.line_align == 2) y += layout_rect.height - text_h;
  }
  cairo_save(cr);
  if (format.clip && sized && layout_rect.height > 0) {
    rectangle_path(cr, layout_rect.x, layout_rect.y, layout_rect.width, layout_rect.height);
    cairo_clip(cr);
  }
  cairo_move_to(cr, layout_rect.x, y);
  pango_cairo_update_layout(cr, layout.get());
  pango_cairo_show_layout(cr, layout.get());
  cairo_restore(cr);
  impl_->dirty = true;
  return cairo_status(cr) == CAIRO_STATUS_SUCCESS ? Status::Ok : Status::OutOfMemory;
}

}  // namespace korvex::raster
