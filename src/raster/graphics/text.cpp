// Text: Pango layouts of a font, drawn at a point or inside an aligned,
// wrapped layout rectangle, and measured.
#include "raster/graphics/graphics_p.h"

#include <algorithm>
#include <string>

#include "raster/cp1252.h"

namespace korvex::raster {

using namespace gfx;

namespace {

// Text handed to Pango must be UTF-8: other byte strings are read as
// Windows-1252, the encoding of 8-bit text on the platform the API comes from.
// A NUL makes text not UTF-8; as Pango stops at one, it becomes U+FFFD.
std::string pango_text(const std::string& s) {
  const std::string read = utf8_or_cp1252(s);
  if (read.find('\0') == std::string::npos) return read;
  std::string out;
  out.reserve(read.size() + 8);
  for (char c : read) {
    if (c == '\0')
      out += "\xEF\xBF\xBD";
    else
      out.push_back(c);
  }
  return out;
}

// The font map of every thread, used under lock_fonts(). Pango's default
// map is one per thread, each with its own font cache, and all of them
// share fontconfig's and HarfBuzz's caches behind Pango's back.
PangoFontMap* font_map() {
  static PangoFontMap* const map = pango_cairo_font_map_new();
  return map;
}

// A layout of the text in the font; the caller holds lock_fonts() until the
// layout is gone.
CairoPtr<PangoLayout> make_layout(cairo_t* cr, const std::string& text, const Font& font,
                                  TextHint hint) {
  CairoPtr<PangoContext> context(pango_font_map_create_context(font_map()));
  pango_cairo_update_context(cr, context.get());
  CairoPtr<PangoLayout> layout(pango_layout_new(context.get()));
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
  const std::string utf8 = pango_text(text);
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
  const auto fonts = lock_fonts();  // held until the layout is gone
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
  const auto fonts = lock_fonts();  // held until the layout is gone
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
  const auto fonts = lock_fonts();  // held until the layout is gone
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
