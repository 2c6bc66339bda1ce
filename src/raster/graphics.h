// Vector drawing on images: lines, curves, shapes, gradients, images and
// text, rendered by cairo (text laid out by Pango over fontconfig/FreeType).
//
// A Graphics object records what is drawn and renders it when it is
// flushed (or destroyed): only the rectangle of the image that the drawing
// inks is read into a 32-bit premultiplied proxy, drawn on, and written back
// in the image's own pixel format, pixel runs that the drawing did not change
// being left exactly as they were. Every stored format works this way,
// indexed ones included (changed pixels take the nearest palette entry).
//
// Coordinates are pixels of the image, with the image's top-left corner at
// (0, 0). Pixel placement:
//  - Lines, curves and shape outlines are stroked with integer coordinates
//    addressing pixel centres, so a 1-pixel pen along y = 0 covers exactly
//    the top row. A straight line also covers both its end pixels: it is
//    lengthened by half a pixel at each end.
//  - Filled shapes, images and clip regions have their edges on pixel
//    boundaries: a filled rectangle at (0, 0) of size 10 x 10 covers exactly
//    pixels 0..9 in both directions, while its 1-pixel outline covers pixels
//    0..10 (the pen is centred on the edges), as on the platform the API
//    comes from.
// The world transform maps drawing coordinates to these device coordinates.
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "raster/image.h"
#include "raster/resample.h"
#include "raster/types.h"

namespace korvex::raster {

struct PointF {
  double x = 0;
  double y = 0;
};

struct RectF {
  double x = 0;
  double y = 0;
  double width = 0;
  double height = 0;
};

enum class Smoothing : int32_t {
  Default = 0,
  HighSpeed = 1,
  HighQuality = 2,
  None = 3,
  AntiAlias = 4
};
enum class TextHint : int32_t {
  SystemDefault = 0,
  SingleBitPerPixelGridFit = 1,
  SingleBitPerPixel = 2,
  AntiAliasGridFit = 3,
  AntiAlias = 4,
  ClearTypeGridFit = 5
};
enum class Unit : int32_t {
  World = 0,
  Display = 1,
  Pixel = 2,
  Point = 3,
  Inch = 4,
  Document = 5,
  Millimeter = 6
};

// What fills a shape or a pen's stroke.
struct Brush {
  enum class Kind { Solid, LinearGradient, PathGradient, Texture };
  Kind kind = Kind::Solid;
  uint32_t color = 0xFF000000;  // solid colour; start colour of a linear gradient
  // Linear gradient from p1 (color) to p2 (end_color), repeated beyond (tile wrap).
  PointF p1, p2;
  uint32_t end_color = 0xFF000000;
  // Path gradient over the ellipse in `ellipse`: centre_color at `centre`
  // blending to end_color (the one surround colour) at the outline; inside
  // the outline scaled by `focus` about the centre the colour is centre_color.
  RectF ellipse;
  PointF centre;
  uint32_t centre_color = 0xFF000000;
  double focus_x = 0;
  double focus_y = 0;
  // Texture tiled from the world origin: a 32bppPARGB snapshot of an image.
  std::shared_ptr<Image> texture;

  static Brush solid(uint32_t argb);
  static Brush linear(PointF from, PointF to, uint32_t start, uint32_t end);
  static Brush path_ellipse(const RectF& ellipse, PointF centre, uint32_t centre_argb,
                            double focus_x, double focus_y, uint32_t surround_argb);
  // Snapshot of the active frame of `img`.
  static Status texture_of(Image& img, Brush& out);
};

struct Pen {
  Brush brush;
  double width = 1;        // pixels
  bool arrow_end = false;  // arrow-anchor cap at the end point
};

// A font resolved through fontconfig. Sizes are em heights.
class Font {
 public:
  enum Style : int32_t { Regular = 0, Bold = 1, Italic = 2, Underline = 4, Strikeout = 8 };
  // Looks the family up among the installed fonts (Arial, Times New Roman
  // and Courier New also resolve to their metric-compatible Liberation
  // families). FontFamilyNotFound when no installed family has that name;
  // InvalidParameter for a size <= 0, a non-finite size or the Display unit.
  // The size is converted to pixels with the vertical resolution `dpi`.
  static Status create(const std::string& family, float size, int32_t style, Unit unit, float dpi,
                       Font& out);
  const std::string& family() const { return family_; }  // installed family used
  double pixel_size() const { return pixel_size_; }
  int32_t style() const { return style_; }

 private:
  std::string family_;
  double pixel_size_ = 0;
  int32_t style_ = 0;
};

// Installed font families (the first family name of each installed face,
// without repeats, in fontconfig's order).
std::vector<std::string> installed_font_families();
// The installed family a name resolves to ("" when none), aliases included.
std::string resolve_font_family(const std::string& name);
// Held around every use of fontconfig, Pango and HarfBuzz in the library:
// their caches are shared by every thread (one Pango font map serves them
// all), so one thread at a time works with them. Recursive: text layout may
// resolve a family while it holds the lock.
std::unique_lock<std::recursive_mutex> lock_fonts();
// Whether an installed family offers a style; regular, bold and italic
// faces must exist (bold-italic needs one face that is both), underline and
// strikeout are always available. FontFamilyNotFound for an unknown family.
Status font_style_available(const std::string& name, int32_t style, bool& available);

// Text layout in a rectangle: 0 near, 1 centre, 2 far.
struct TextFormat {
  int32_t align = 0;       // horizontal
  int32_t line_align = 0;  // vertical
  bool wrap = true;
  bool clip = true;  // ink outside the layout rectangle is cut off
};

class Graphics {
 public:
  // A graphics on the active frame of an image; the image must not be locked.
  static Status open(Image& img, std::unique_ptr<Graphics>& out);
  // A graphics on a 32-bit BGRA buffer (non-premultiplied alpha), such as a
  // host window surface; the buffer must outlive the graphics.
  static Status open_buffer(uint8_t* bgra, int32_t width, int32_t height, int32_t stride,
                            std::unique_ptr<Graphics>& out);
  ~Graphics();
  Graphics(const Graphics&) = delete;
  Graphics& operator=(const Graphics&) = delete;

  // Renders what was drawn since the last flush onto the target.
  Status flush();

  void set_smoothing(Smoothing m) { smoothing_ = m; }
  void set_text_hint(TextHint h) { text_hint_ = h; }
  void set_interpolation(Interpolation m) { interpolation_ = m; }
  Interpolation interpolation() const { return interpolation_; }

  // World transform: rotation in degrees (clockwise on screen, y down) and
  // translation, appended (applied after the current transform) or prepended.
  void rotate_transform(double degrees, bool append);
  void translate_transform(double dx, double dy, bool append);
  void reset_transform();
  // Device to world coordinates through the inverse world transform.
  Status device_to_world(PointF* pts, size_t n) const;
  // Clips later drawing to a polygon (even-odd), intersected with the current clip.
  Status clip_polygon(const std::vector<PointF>& pts);

  Status draw_line(const Pen& pen, PointF a, PointF b);
  Status draw_lines(const Pen& pen, const std::vector<PointF>& pts);
  // Arc of the ellipse in `box`; angles in degrees, clockwise from the x axis.
  Status draw_arc(const Pen& pen, const RectF& box, double start, double sweep);
  Status draw_bezier(const Pen& pen, PointF p1, PointF p2, PointF p3, PointF p4);
  // Cardinal spline through the points (tension 0.5 unless given).
  Status draw_curve(const Pen& pen, const std::vector<PointF>& pts, double tension = 0.5);
  Status draw_rectangle(const Pen& pen, const RectF& r);
  Status fill_rectangle(const Brush& brush, const RectF& r);
  Status draw_ellipse(const Pen& pen, const RectF& r);
  Status fill_ellipse(const Brush& brush, const RectF& r);
  Status fill_polygon(const Brush& brush, const std::vector<PointF>& pts);

  // The source rectangle of `src` scaled into `dst` with the interpolation
  // mode; `src` is read when the call is made (drawing an image onto itself
  // uses the pixels as they were).
  Status draw_image(Image& src, const RectF& dst, const Rect& from);
  // The whole of `src` into the parallelogram of its top-left, top-right and
  // bottom-left corners.
  Status draw_image_points(Image& src, PointF top_left, PointF top_right, PointF bottom_left);

  // Text whose layout box's top-left corner is `origin`, on one line.
  Status draw_string(const std::string& utf8, const Font& font, const Brush& brush, PointF origin);
  // The layout box of that text (logical extents).
  Status measure_string(const std::string& utf8, const Font& font, PointF origin, RectF& box);
  // Text inside a layout rectangle, aligned and wrapped.
  Status draw_string_in(const std::string& utf8, const Font& font, const Brush& brush,
                        const RectF& layout, const TextFormat& format);

  struct Impl;

 private:
  Graphics() = default;
  std::unique_ptr<Impl> impl_;
  Smoothing smoothing_ = Smoothing::Default;
  TextHint text_hint_ = TextHint::SystemDefault;
  Interpolation interpolation_ = Interpolation::Default;
};

}  // namespace korvex::raster
