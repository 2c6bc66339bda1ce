// Drawing members: lines, curves, shapes, gradients, images and text on the
// native image, and the font queries.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <functional>
#include <memory>

#include "engine/core.h"
#include "engine/paths.h"
#include "engine/state.h"
#include "host/file_io.h"
#include "korvex/engine.h"
#include "raster/codec.h"
#include "raster/graphics.h"
#include "raster/guard.h"
#include "raster/handles.h"

namespace korvex {

namespace {

using raster::Brush;
using raster::Font;
using raster::Graphics;
using raster::Pen;
using raster::PointF;
using raster::RectF;
using RStatus = raster::Status;

uint32_t argb(int32_t c) {
  return static_cast<uint32_t>(c);
}

// 1-based caller coordinates to 0-based drawing coordinates.
PointF pt(int32_t x, int32_t y) {
  return {x - 1.0, y - 1.0};
}

Pen solid_pen(int32_t width, int32_t color) {
  Pen p;
  p.brush = Brush::solid(argb(color));
  p.width = width;
  return p;
}

raster::Smoothing smoothing(bool aa) {
  return aa ? raster::Smoothing::AntiAlias : raster::Smoothing::None;
}
raster::TextHint text_hint(bool aa) {
  return aa ? raster::TextHint::AntiAlias : raster::TextHint::SingleBitPerPixel;
}

// Opens a graphics on the native image, runs the drawing and renders it.
// Without a native image nothing happens and LastStatus is returned; the
// first failure is recorded and returned (what was drawn before it stays).
cKorvexStatus draw(cKorvex::State& s, const std::function<RStatus(Graphics&, raster::Image&)>& fn) {
  if (s.NativeImage == 0) return s.LastStatus;
  raster::Image* img = raster::find_image(s.NativeImage);
  if (img == nullptr) return SetStatus(s, RStatus::InvalidParameter);
  std::unique_ptr<Graphics> g;
  RStatus st = Graphics::open(*img, g);
  if (st != RStatus::Ok) return SetStatus(s, st);
  st = fn(*g, *img);
  const RStatus flushed = g->flush();
  return SetStatus(s, st != RStatus::Ok ? st : flushed);
}

// Points of a two-dimensional Long array: first dimension over the points,
// x at index 1 and y at index 2 of the second; at least `min` of them.
RStatus points_of(const Array<int32_t>& a, size_t min, std::vector<PointF>& out) {
  out.clear();
  if (a.Dims() != 2 || a.LBound(2) > 1 || a.UBound(2) < 2) return RStatus::InvalidParameter;
  for (int32_t i = a.LBound(1); i <= a.UBound(1); ++i) out.push_back(pt(a(i, 1), a(i, 2)));
  return out.size() < min ? RStatus::InvalidParameter : RStatus::Ok;
}

RStatus make_font(const cKorvex::State& s, const raster::Image& img, const std::string& name,
                  int32_t height, int32_t style, Font& font) {
  return Font::create(name, static_cast<float>(height), style,
                      static_cast<raster::Unit>(s.FontUnit), img.dpi_y(), font);
}

// An image loaded from a file for a texture brush, released afterwards.
RStatus texture_from_file(const std::string& path, Brush& out) {
  std::vector<uint8_t> bytes;
  RStatus st = host::read_whole_file(NormalizePath(path), bytes);
  if (st != RStatus::Ok) return st;
  std::unique_ptr<raster::Image> img;
  st = raster::guarded(
      [&] { return raster::decode_image(raster::own_bytes(std::move(bytes)), img); });
  if (st != RStatus::Ok) return st;
  return Brush::texture_of(*img, out);
}

RStatus texture_from_id(int32_t id, Brush& out) {
  raster::Image* img = raster::find_image(id);
  if (img == nullptr) return RStatus::InvalidParameter;
  return Brush::texture_of(*img, out);
}

using TextBrush = std::function<RStatus(Brush&, const RectF&)>;

TextBrush solid_text(int32_t color) {
  return [color](Brush& b, const RectF&) {
    b = Brush::solid(argb(color));
    return RStatus::Ok;
  };
}

// Text at a point with an optional rotation about it and an optional box
// of the back colour behind it.
cKorvexStatus text(cKorvex::State& s, const std::string& str, int32_t x, int32_t y, int32_t height,
                   int32_t style, const std::string& name, bool aa, const TextBrush& brush,
                   const double* angle, const int32_t* back) {
  return draw(s, [&](Graphics& g, raster::Image& img) {
    Font font;
    RStatus st = make_font(s, img, name, height, style, font);
    if (st != RStatus::Ok) return st;
    g.set_text_hint(text_hint(aa));
    PointF at = pt(x, y);
    if (angle != nullptr) {
      // Rotate the world about its origin, then find the world point that
      // lands on the requested device point: the text turns about it.
      g.rotate_transform(*angle, true);
      st = g.device_to_world(&at, 1);
      if (st != RStatus::Ok) return st;
    }
    RectF box;
    st = g.measure_string(str, font, at, box);
    if (st != RStatus::Ok) return st;
    if (back != nullptr) {
      g.set_smoothing(smoothing(aa));
      st = g.fill_rectangle(Brush::solid(argb(*back)), box);
      if (st != RStatus::Ok) return st;
    }
    Brush b;
    st = brush(b, box);
    if (st != RStatus::Ok) return st;
    return g.draw_string(str, font, b, at);
  });
}

}  // namespace

cKorvexStatus cKorvex::DrawLine(int32_t nSrcX, int32_t nSrcY, int32_t nDstX, int32_t nDstY,
                                int32_t nPenWidth, int32_t nColor, bool bAntiAlias) {
  return draw(*s_, [&](Graphics& g, raster::Image&) {
    g.set_smoothing(smoothing(bAntiAlias));
    return g.draw_line(solid_pen(nPenWidth, nColor), pt(nSrcX, nSrcY), pt(nDstX, nDstY));
  });
}

cKorvexStatus cKorvex::DrawLineArrow(int32_t nSrcX, int32_t nSrcY, int32_t nDstX, int32_t nDstY,
                                     int32_t nPenWidth, int32_t nColor, bool bAntiAlias) {
  return draw(*s_, [&](Graphics& g, raster::Image&) {
    g.set_smoothing(smoothing(bAntiAlias));
    Pen pen = solid_pen(nPenWidth, nColor);
    pen.arrow_end = true;
    return g.draw_line(pen, pt(nSrcX, nSrcY), pt(nDstX, nDstY));
  });
}

cKorvexStatus cKorvex::DrawGradientLine(int32_t nSrcX, int32_t nSrcY, int32_t nDstX, int32_t nDstY,
                                        int32_t nPenWidth, int32_t nStartColor, int32_t nEndColor,
                                        bool bAntiAlias) {
  return draw(*s_, [&](Graphics& g, raster::Image&) {
    g.set_smoothing(smoothing(bAntiAlias));
    Pen pen;
    pen.width = nPenWidth;
    pen.brush =
        Brush::linear(pt(nSrcX, nSrcY), pt(nDstX, nDstY), argb(nStartColor), argb(nEndColor));
    return g.draw_line(pen, pt(nSrcX, nSrcY), pt(nDstX, nDstY));
  });
}

cKorvexStatus cKorvex::DrawTexturedLine(int32_t nSrcX, int32_t nSrcY, int32_t nDstX, int32_t nDstY,
                                        int32_t nPenWidth, const std::string& sTextureFilePath,
                                        bool bAntiAlias) {
  return draw(*s_, [&](Graphics& g, raster::Image&) {
    Pen pen;
    pen.width = nPenWidth;
    RStatus st = texture_from_file(sTextureFilePath, pen.brush);
    if (st != RStatus::Ok) return st;
    g.set_smoothing(smoothing(bAntiAlias));
    return g.draw_line(pen, pt(nSrcX, nSrcY), pt(nDstX, nDstY));
  });
}

cKorvexStatus cKorvex::DrawArc(int32_t nDstX, int32_t nDstY, int32_t nWidth, int32_t nHeight,
                               int32_t nStartAngle, int32_t nSweepAngle, int32_t nPenWidth,
                               int32_t nColor, bool bAntiAlias) {
  return draw(*s_, [&](Graphics& g, raster::Image&) {
    g.set_smoothing(smoothing(bAntiAlias));
    const PointF p = pt(nDstX, nDstY);
    return g.draw_arc(solid_pen(nPenWidth, nColor), {p.x, p.y, double(nWidth), double(nHeight)},
                      nStartAngle, nSweepAngle);
  });
}

cKorvexStatus cKorvex::DrawBezier(int32_t nX1, int32_t nY1, int32_t nX2, int32_t nY2, int32_t nX3,
                                  int32_t nY3, int32_t nX4, int32_t nY4, int32_t nPenWidth,
                                  int32_t nColor, bool bAntiAlias) {
  return draw(*s_, [&](Graphics& g, raster::Image&) {
    g.set_smoothing(smoothing(bAntiAlias));
    return g.draw_bezier(solid_pen(nPenWidth, nColor), pt(nX1, nY1), pt(nX2, nY2), pt(nX3, nY3),
                         pt(nX4, nY4));
  });
}

cKorvexStatus cKorvex::DrawCurves(Array<int32_t>& arPoints, int32_t nPenWidth, int32_t nColor,
                                  bool bAntiAlias) {
  return draw(*s_, [&](Graphics& g, raster::Image&) {
    std::vector<PointF> pts;
    RStatus st = points_of(arPoints, 2, pts);
    if (st != RStatus::Ok) return st;
    g.set_smoothing(smoothing(bAntiAlias));
    return g.draw_curve(solid_pen(nPenWidth, nColor), pts);
  });
}

cKorvexStatus cKorvex::DrawGradientCurves(Array<int32_t>& arPoints, int32_t nPenWidth,
                                          int32_t nStartColor, int32_t nEndColor, bool bAntiAlias) {
  return draw(*s_, [&](Graphics& g, raster::Image&) {
    std::vector<PointF> pts;
    RStatus st = points_of(arPoints, 2, pts);
    if (st != RStatus::Ok) return st;
    g.set_smoothing(smoothing(bAntiAlias));
    Pen pen;
    pen.width = nPenWidth;
    pen.brush = Brush::linear(pts.front(), pts.back(), argb(nStartColor), argb(nEndColor));
    return g.draw_curve(pen, pts);
  });
}

cKorvexStatus cKorvex::DrawRectangle(int32_t nDstX, int32_t nDstY, int32_t nWidth, int32_t nHeight,
                                     int32_t nPenWidth, int32_t nColor, bool bAntiAlias) {
  return draw(*s_, [&](Graphics& g, raster::Image&) {
    g.set_smoothing(smoothing(bAntiAlias));
    const PointF p = pt(nDstX, nDstY);
    return g.draw_rectangle(solid_pen(nPenWidth, nColor),
                            {p.x, p.y, double(nWidth), double(nHeight)});
  });
}

cKorvexStatus cKorvex::DrawFillRectangle(int32_t nDstX, int32_t nDstY, int32_t nWidth,
                                         int32_t nHeight, int32_t nColor, bool bAntiAlias) {
  return draw(*s_, [&](Graphics& g, raster::Image&) {
    g.set_smoothing(smoothing(bAntiAlias));
    const PointF p = pt(nDstX, nDstY);
    return g.fill_rectangle(Brush::solid(argb(nColor)),
                            {p.x, p.y, double(nWidth), double(nHeight)});
  });
}

namespace {
// Rotates the world by `angle` and returns the world point that lands on the
// device point (x, y) (1-based), so a shape drawn there turns about it.
RStatus rotated_origin(Graphics& g, int32_t angle, int32_t x, int32_t y, PointF& at) {
  g.rotate_transform(angle, true);
  at = pt(x, y);
  return g.device_to_world(&at, 1);
}
}  // namespace

cKorvexStatus cKorvex::DrawRotatedRectangle(int32_t nAngle, int32_t nDstX, int32_t nDstY,
                                            int32_t nWidth, int32_t nHeight, int32_t nPenWidth,
                                            int32_t nColor, bool bAntiAlias) {
  return draw(*s_, [&](Graphics& g, raster::Image&) {
    PointF at;
    RStatus st = rotated_origin(g, nAngle, nDstX, nDstY, at);
    if (st != RStatus::Ok) return st;
    g.set_smoothing(smoothing(bAntiAlias));
    return g.draw_rectangle(solid_pen(nPenWidth, nColor),
                            {at.x, at.y, double(nWidth), double(nHeight)});
  });
}

cKorvexStatus cKorvex::DrawRotatedFillRectangle(int32_t nAngle, int32_t nDstX, int32_t nDstY,
                                                int32_t nWidth, int32_t nHeight, int32_t nColor,
                                                bool bAntiAlias) {
  return draw(*s_, [&](Graphics& g, raster::Image&) {
    PointF at;
    RStatus st = rotated_origin(g, nAngle, nDstX, nDstY, at);
    if (st != RStatus::Ok) return st;
    g.set_smoothing(smoothing(bAntiAlias));
    return g.fill_rectangle(Brush::solid(argb(nColor)),
                            {at.x, at.y, double(nWidth), double(nHeight)});
  });
}

namespace {
// Box of a shape centred on a 1-based point: it starts floor(size / 2) before it.
RectF centred_box(int32_t x, int32_t y, int32_t w, int32_t h) {
  const auto half = [](int32_t v) { return std::floor(v / 2.0); };
  return {x - 1 - half(w), y - 1 - half(h), double(w), double(h)};
}
}  // namespace

cKorvexStatus cKorvex::DrawCircle(int32_t nDstX, int32_t nDstY, int32_t nDiameter, int32_t nColor,
                                  int32_t nPenWidth, bool bAntiAlias) {
  return DrawEllipse(nDstX, nDstY, nDiameter, nDiameter, nColor, nPenWidth, bAntiAlias);
}

cKorvexStatus cKorvex::DrawFillCircle(int32_t nDstX, int32_t nDstY, int32_t nDiameter,
                                      int32_t nColor, bool bAntiAlias) {
  return DrawFillEllipse(nDstX, nDstY, nDiameter, nDiameter, nColor, bAntiAlias);
}

cKorvexStatus cKorvex::DrawEllipse(int32_t nDstX, int32_t nDstY, int32_t nWidth, int32_t nHeight,
                                   int32_t nColor, int32_t nPenWidth, bool bAntiAlias) {
  return draw(*s_, [&](Graphics& g, raster::Image&) {
    g.set_smoothing(smoothing(bAntiAlias));
    return g.draw_ellipse(solid_pen(nPenWidth, nColor), centred_box(nDstX, nDstY, nWidth, nHeight));
  });
}

cKorvexStatus cKorvex::DrawFillEllipse(int32_t nDstX, int32_t nDstY, int32_t nWidth,
                                       int32_t nHeight, int32_t nColor, bool bAntiAlias) {
  return draw(*s_, [&](Graphics& g, raster::Image&) {
    g.set_smoothing(smoothing(bAntiAlias));
    return g.fill_ellipse(Brush::solid(argb(nColor)), centred_box(nDstX, nDstY, nWidth, nHeight));
  });
}

cKorvexStatus cKorvex::DrawGrid(int32_t nSrcX, int32_t nSrcY, int32_t nWidth, int32_t nHeight,
                                int32_t nXStep, int32_t nYStep, int32_t nPenWidth, int32_t nColor) {
  if (s_->NativeImage == 0) return s_->LastStatus;
  // A step of 0 or less would never reach the far edge.
  if (nXStep <= 0 || nYStep <= 0) return SetStatus(*s_, RStatus::InvalidParameter);
  return draw(*s_, [&](Graphics& g, raster::Image& img) {
    g.set_smoothing(raster::Smoothing::Default);
    const Pen pen = solid_pen(nPenWidth, nColor);
    const int64_t x0 = int64_t{nSrcX} - 1, y0 = int64_t{nSrcY} - 1;
    // Lines wholly off the image are skipped: they would draw nothing.
    const int64_t margin = int64_t{nPenWidth < 0 ? 0 : nPenWidth} + 1;
    for (int64_t x = x0; x <= x0 + nWidth; x += nXStep) {
      if (x < -margin) continue;
      if (x > img.width() + margin) break;
      RStatus st = g.draw_line(pen, {double(x), double(y0)}, {double(x), double(y0 + nHeight)});
      if (st != RStatus::Ok) return st;
    }
    for (int64_t y = y0; y <= y0 + nHeight; y += nYStep) {
      if (y < -margin) continue;
      if (y > img.height() + margin) break;
      RStatus st = g.draw_line(pen, {double(x0), double(y)}, {double(x0 + nWidth), double(y)});
      if (st != RStatus::Ok) return st;
    }
    return RStatus::Ok;
  });
}

cKorvexStatus cKorvex::DrawSpotLight(int32_t nDstX, int32_t nDstY, int32_t nRadiusX,
                                     int32_t nRadiusY, int32_t nHotX, int32_t nHotY,
                                     float nFocusScale, int32_t nStartColor, int32_t nEndColor) {
  // The status of this drawing is recorded like every other drawing's.
  return draw(*s_, [&](Graphics& g, raster::Image&) {
    g.set_smoothing(raster::Smoothing::AntiAlias);
    const RectF box{double(nDstX) - nRadiusX - 1, double(nDstY) - nRadiusY - 1, 2.0 * nRadiusX,
                    2.0 * nRadiusY};
    const Brush b = Brush::path_ellipse(box, pt(nHotX, nHotY), argb(nStartColor), nFocusScale,
                                        nFocusScale, argb(nEndColor));
    return g.fill_ellipse(b, box);
  });
}

cKorvexStatus cKorvex::DrawImage(int32_t nImageID, int32_t nDstX, int32_t nDstY, int32_t nDstWidth,
                                 int32_t nDstHeight) {
  return DrawImage2(nImageID, nDstX, nDstY, nDstWidth, nDstHeight, 0);
}

cKorvexStatus cKorvex::DrawImage2(int32_t nImageID, int32_t nDstX, int32_t nDstY, int32_t nDstWidth,
                                  int32_t nDstHeight, int32_t nInterpolationMode) {
  if (s_->NativeImage == 0) return s_->LastStatus;
  raster::Image* src = raster::find_image(nImageID);
  if (src == nullptr) return SetStatus(*s_, RStatus::InvalidParameter);
  return DrawImageRect(nImageID, nDstX, nDstY, nDstWidth, nDstHeight, 1, 1, src->width(),
                       src->height(), nInterpolationMode);
}

cKorvexStatus cKorvex::DrawImageRect(int32_t nImageID, int32_t nDstX, int32_t nDstY,
                                     int32_t nDstWidth, int32_t nDstHeight, int32_t nSrcX,
                                     int32_t nSrcY, int32_t nSrcWidth, int32_t nSrcHeight,
                                     int32_t nInterpolationMode) {
  return draw(*s_, [&](Graphics& g, raster::Image&) {
    raster::Image* src = raster::find_image(nImageID);
    if (src == nullptr) return RStatus::InvalidParameter;
    if (nInterpolationMode < 0 || nInterpolationMode > 7) return RStatus::InvalidParameter;
    g.set_interpolation(static_cast<raster::Interpolation>(nInterpolationMode));
    const PointF p = pt(nDstX, nDstY);
    return g.draw_image(*src, {p.x, p.y, double(nDstWidth), double(nDstHeight)},
                        {nSrcX - 1, nSrcY - 1, nSrcWidth, nSrcHeight});
  });
}

cKorvexStatus cKorvex::DrawImageTransparency(int32_t nImageID, int32_t nTransparency, int32_t nDstX,
                                             int32_t nDstY, int32_t nDstWidth, int32_t nDstHeight,
                                             int32_t nInterpolationMode) {
  State& s = *s_;
  if (s.NativeImage == 0) return s.LastStatus;
  raster::Image* src = raster::find_image(nImageID);
  if (src == nullptr) return SetStatus(s, RStatus::InvalidParameter);
  // The clone has an alpha channel whatever the source's format, so the
  // transparency also applies to opaque (24-bit, indexed) images.
  const int32_t clone_id = CloneToPixelFormat(s, nImageID, raster::pf::k32bppARGB);
  if (clone_id == 0) return s.LastStatus;
  const int32_t w = src->width(), h = src->height();
  // The clone is the native image while the effect runs; the native image
  // and ownership come back and the clone is released on every path.
  struct Restore {
    State& s;
    int32_t native, clone;
    bool owned;
    ~Restore() {
      s.NativeImage = native;
      s.NativeOwned = owned;
      raster::dispose_image(clone);
    }
  } restore{s, s.NativeImage, clone_id, s.NativeOwned};
  s.NativeImage = clone_id;
  s.NativeOwned = false;
  const int64_t offset = -int64_t{nTransparency};
  const cKorvexStatus fx = SetTransparencyEffect(
      static_cast<int32_t>(std::clamp<int64_t>(offset, INT32_MIN, INT32_MAX)));
  s.NativeImage = restore.native;
  s.NativeOwned = restore.owned;
  if (fx != cKorvexStatus::Ok) return fx;
  return DrawImageRect(clone_id, nDstX, nDstY, nDstWidth, nDstHeight, 1, 1, w, h,
                       nInterpolationMode);
}

cKorvexStatus cKorvex::DrawImageSkewing(int32_t nImageID, int32_t nXLeftTop, int32_t nYLeftTop,
                                        int32_t nXRightTop, int32_t nYRightTop,
                                        int32_t nXLeftBottom, int32_t nYLeftBottom) {
  return draw(*s_, [&](Graphics& g, raster::Image&) {
    raster::Image* src = raster::find_image(nImageID);
    if (src == nullptr) return RStatus::InvalidParameter;
    return g.draw_image_points(*src, pt(nXLeftTop, nYLeftTop), pt(nXRightTop, nYRightTop),
                               pt(nXLeftBottom, nYLeftBottom));
  });
}

cKorvexStatus cKorvex::DrawImageClipped(int32_t nImageID, Array<int32_t>& arPoints) {
  return draw(*s_, [&](Graphics& g, raster::Image&) {
    raster::Image* src = raster::find_image(nImageID);
    if (src == nullptr) return RStatus::InvalidParameter;
    std::vector<PointF> pts;
    RStatus st = points_of(arPoints, 3, pts);
    if (st != RStatus::Ok) return st;
    st = g.clip_polygon(pts);
    if (st != RStatus::Ok) return st;
    return g.draw_image(*src, {0, 0, double(src->width()), double(src->height())},
                        {0, 0, src->width(), src->height()});
  });
}

cKorvexStatus cKorvex::DrawText(const std::string& sText, int32_t nDstX, int32_t nDstY,
                                int32_t nFontHeight, int32_t nFontStyle, int32_t nColor,
                                const std::string& sFontName, bool bAntiAlias) {
  return text(*s_, sText, nDstX, nDstY, nFontHeight, nFontStyle, sFontName, bAntiAlias,
              solid_text(nColor), nullptr, nullptr);
}

cKorvexStatus cKorvex::DrawTextBackColor(const std::string& sText, int32_t nDstX, int32_t nDstY,
                                         int32_t nFontHeight, int32_t nFontStyle, int32_t nColor,
                                         const std::string& sFontName, int32_t nBackColor,
                                         bool bAntiAlias) {
  return text(*s_, sText, nDstX, nDstY, nFontHeight, nFontStyle, sFontName, bAntiAlias,
              solid_text(nColor), nullptr, &nBackColor);
}

cKorvexStatus cKorvex::DrawRotatedText(int32_t nAngle, const std::string& sText, int32_t nDstX,
                                       int32_t nDstY, int32_t nFontHeight, int32_t nFontStyle,
                                       int32_t nColor, const std::string& sFontName,
                                       bool bAntiAlias) {
  const double angle = nAngle;
  return text(*s_, sText, nDstX, nDstY, nFontHeight, nFontStyle, sFontName, bAntiAlias,
              solid_text(nColor), &angle, nullptr);
}

cKorvexStatus cKorvex::DrawRotatedTextBackColor(int32_t nAngle, const std::string& sText,
                                                int32_t nDstX, int32_t nDstY, int32_t nFontHeight,
                                                int32_t nFontStyle, int32_t nColor,
                                                const std::string& sFontName, int32_t nBackColor,
                                                bool bAntiAlias) {
  const double angle = nAngle;
  return text(*s_, sText, nDstX, nDstY, nFontHeight, nFontStyle, sFontName, bAntiAlias,
              solid_text(nColor), &angle, &nBackColor);
}

cKorvexStatus cKorvex::DrawTextGradient(const std::string& sText, int32_t nDstX, int32_t nDstY,
                                        int32_t nStartColor, int32_t nEndColor, int32_t nFontHeight,
                                        int32_t nFontStyle, const std::string& sFontName,
                                        bool bAntiAlias) {
  return text(
      *s_, sText, nDstX, nDstY, nFontHeight, nFontStyle, sFontName, bAntiAlias,
      [&](Brush& b, const RectF& box) {
        // Empty text has an empty box: a gradient needs some length.
        const double w = box.width > 0 ? box.width : 1;
        b = Brush::linear({box.x, box.y}, {box.x + w, box.y}, argb(nStartColor), argb(nEndColor));
        return RStatus::Ok;
      },
      nullptr, nullptr);
}

cKorvexStatus cKorvex::DrawTextTexture(const std::string& sText, int32_t nDstX, int32_t nDstY,
                                       const std::string& sTextureFilePath, int32_t nFontHeight,
                                       int32_t nFontStyle, const std::string& sFontName,
                                       bool bAntiAlias) {
  return text(
      *s_, sText, nDstX, nDstY, nFontHeight, nFontStyle, sFontName, bAntiAlias,
      [&](Brush& b, const RectF&) { return texture_from_file(sTextureFilePath, b); }, nullptr,
      nullptr);
}

cKorvexStatus cKorvex::DrawTextTextureFromImage(const std::string& sText, int32_t nDstX,
                                                int32_t nDstY, int32_t nImageID,
                                                int32_t nFontHeight, int32_t nFontStyle,
                                                const std::string& sFontName, bool bAntiAlias) {
  return text(
      *s_, sText, nDstX, nDstY, nFontHeight, nFontStyle, sFontName, bAntiAlias,
      [&](Brush& b, const RectF&) { return texture_from_id(nImageID, b); }, nullptr, nullptr);
}

cKorvexStatus cKorvex::DrawTextBox(const std::string& sText, int32_t nLeft, int32_t nTop,
                                   int32_t nWidth, int32_t nHeight, int32_t nFontHeight,
                                   int32_t nAlignment, int32_t nFontStyle, int32_t nColor,
                                   const std::string& sFontName, bool bDrawTextBox,
                                   bool bAntiAlias) {
  return draw(*s_, [&](Graphics& g, raster::Image& img) {
    Font font;
    RStatus st = make_font(*s_, img, sFontName, nFontHeight, nFontStyle, font);
    if (st != RStatus::Ok) return st;
    if (nAlignment < 0 || nAlignment > 2) return RStatus::InvalidParameter;
    // The box is taken as given (0-based), unlike the other drawing members.
    g.set_text_hint(text_hint(bAntiAlias));
    raster::TextFormat format;
    format.align = format.line_align = nAlignment;
    const RectF box{double(nLeft), double(nTop), double(nWidth), double(nHeight)};
    st = g.draw_string_in(sText, font, Brush::solid(argb(nColor)), box, format);
    if (st != RStatus::Ok || !bDrawTextBox) return st;
    g.set_smoothing(raster::Smoothing::Default);
    return g.draw_rectangle(solid_pen(1, static_cast<int32_t>(0xFF000000)), box);
  });
}

void cKorvex::FontSetUnit(int32_t nUnitMode) {
  s_->FontUnit = nUnitMode;
}

int32_t cKorvex::FontGetUnit() {
  return s_->FontUnit;
}

int32_t cKorvex::FontGetCount() {
  return static_cast<int32_t>(raster::installed_font_families().size());
}

std::string cKorvex::FontGetName(int32_t nFontNo) {
  const std::vector<std::string> names = raster::installed_font_families();
  if (nFontNo < 1 || static_cast<size_t>(nFontNo) > names.size()) return {};
  return names[static_cast<size_t>(nFontNo) - 1];
}

bool cKorvex::FontIsStyleAvailable(const std::string& sFontName, int32_t nFontStyle) {
  bool available = false;
  SetStatus(*s_, raster::font_style_available(sFontName, nFontStyle, available));
  return available;
}

}  // namespace korvex
