// cPDF page content: colours, line state, paths, rectangles, circles, arcs,
// text and image placement. Every call writes whole operator lines into the
// open page's content stream; a call made while no page is open writes
// nothing (the bytes would land outside any stream).
#include <cmath>

#include "pdf/pdf.h"
#include "raster/cp1252.h"

namespace korvex::pdf {

namespace {

constexpr double kPi = 3.141592;  // the writer's value of pi for angles
constexpr int32_t kMaxArcPoints = 100000;

std::string N(double v) {
  return cPDF::FormatNum(v, 3);
}

std::string color_line(int32_t color, const char* grey_op, const char* rgb_op) {
  if (color >= -255 && color <= 0) return N(-static_cast<double>(color) / 255.0) + " " + grey_op;
  const int32_t r = color & 255, g = (color / 256) & 255, b = (color / 65536) & 255;
  return N(r / 255.0) + " " + N(g / 255.0) + " " + N(b / 255.0) + " " + rgb_op;
}

}  // namespace

void cPDF::SetWordSpacing(float v) {
  if (!in_page_) return;
  word_spacing_ = v;
  WriteLine(N(v) + " Tw");
}

void cPDF::SetCharSpacing(float v) {
  if (!in_page_) return;
  char_spacing_ = v;
  WriteLine(N(v) + " Tc");
}

void cPDF::SetTextHorizontalScaling(float percent) {
  if (!in_page_) return;
  h_scaling_ = percent;
  WriteLine(N(percent) + " Tz");
}

void cPDF::SetTextRenderingMode(float mode) {
  if (!in_page_ || !(mode >= 0 && mode <= 2)) return;
  WriteLine(N(mode) + " Tr");
}

void cPDF::SetColorStroke(int32_t color) {
  if (in_page_) WriteLine(color_line(color, "G", "RG"));
}

void cPDF::SetColorFill(int32_t color) {
  if (in_page_) WriteLine(color_line(color, "g", "rg"));
}

void cPDF::SetDash(float on, float off) {
  if (!in_page_) return;
  if (on == 0 && off == 0)
    WriteLine("[ ] 0 d");
  else
    WriteLine(std::string("[") + N(on) + " " + N(off) + "] 0 d");
}

void cPDF::SetLineWidth(float w) {
  if (in_page_) WriteLine(N(w) + " w");
}

void cPDF::SetLineCap(int16_t cap) {
  if (in_page_ && cap >= 0 && cap <= 2) WriteLine(std::to_string(cap) + " J");
}

void cPDF::SetLineJoin(int16_t join) {
  if (in_page_ && join >= 0 && join <= 2) WriteLine(std::to_string(join) + " j");
}

void cPDF::MoveTo(float x, float y) {
  if (in_page_) WriteLine(N(x) + " " + N(y) + " m");
}

void cPDF::PaintPath(int32_t style) {
  const bool stroke = (style & kStroke) != 0, close = (style & kClose) != 0,
             fill = (style & kFill) != 0;
  if (fill && stroke) {
    WriteLine(close ? "b" : "B");
  } else if (fill) {
    WriteLine("f");
  } else {
    if (close) WriteLine("h");
    if (stroke) WriteLine("S");
  }
}

void cPDF::LineTo(float x, float y, int32_t style) {
  if (!in_page_) return;
  WriteLine(N(x) + " " + N(y) + " l");
  PaintPath(style);
}

void cPDF::Curve(float x1, float y1, float x2, float y2, float x3, float y3, int32_t style) {
  if (!in_page_) return;
  WriteLine(N(x1) + " " + N(y1) + " " + N(x2) + " " + N(y2) + " " + N(x3) + " " + N(y3) + " c");
  PaintPath(style);
}

void cPDF::Rectangle(float x, float y, float w, float h, int32_t style, float radius) {
  if (!in_page_) return;
  WriteLine("n");
  if (radius == 0) {
    WriteLine(N(x) + " " + N(y) + " " + N(w) + " " + N(h) + " re");
    PaintPath(style);
    return;
  }
  float r = radius;
  if (w / 2 < r) r = w / 2;
  if (h / 2 < r) r = h / 2;
  const float k = r * 0.55f;
  MoveTo(x + r, y);
  LineTo(x + w - r, y, 0);
  Curve(x + w - r + k, y, x + w, y + r - k, x + w, y + r, 0);
  LineTo(x + w, y + h - r, 0);
  Curve(x + w, y + h - r + k, x + w - r + k, y + h, x + w - r, y + h, 0);
  LineTo(x + r, y + h, 0);
  Curve(x + r - k, y + h, x, y + h - r + k, x, y + h - r, 0);
  LineTo(x, y + r, 0);
  Curve(x, y + r - k, x + r - k, y, x + r, y, 0);
  PaintPath(style);
}

void cPDF::DrawCircle(float x, float y, float r, int32_t style) {
  if (!in_page_) return;
  const float k = 0.55f * r;
  MoveTo(x, y - r);
  Curve(x + k, y - r, x + r, y - k, x + r, y, 0);
  Curve(x + r, y + k, x + k, y + r, x, y + r, 0);
  Curve(x - k, y + r, x - r, y + k, x - r, y, 0);
  Curve(x - r, y - k, x - k, y - r, x, y - r, 0);
  PaintPath(style);
}

void cPDF::Arc(float x, float y, float r, float start, float end, float ratio, bool pie,
               float rotation, int16_t step, int32_t style) {
  if (!in_page_) return;
  WriteLine("n");
  MoveTo(x, y);
  if (style & kFill) pie = true;
  const double theta = -static_cast<double>(rotation) * kPi / 180.0;
  const double c = std::cos(theta), s = std::sin(theta);
  // The angle is kept in single precision; the polyline ends when it passes
  // the end, stops advancing (a zero or negative step, or a step lost in the
  // angle's precision) or reaches the point limit.
  float a = start;
  for (int32_t n = 0; a <= end && n < kMaxArcPoints; ++n) {
    const double rad = static_cast<double>(a) * kPi / 180.0;
    const double px = r * std::cos(rad), py = ratio * r * std::sin(rad);
    const float X = static_cast<float>(c * px + s * py), Y = static_cast<float>(-s * px + c * py);
    if (n == 0 && !pie) MoveTo(x + X, y + Y);
    LineTo(x + X, y + Y, 0);
    const float next = a + static_cast<float>(step);
    if (!(next > a)) break;
    a = next;
  }
  if (pie) LineTo(x, y, 0);
  PaintPath(style);
}

float cPDF::TextWidth(const std::string& text, int32_t font, float size) const {
  if (font <= 0 || font > font_count()) return 0;
  const FontRecord& f = fonts_[static_cast<size_t>(font) - 1];
  const std::vector<uint8_t> bytes = raster::utf8_to_cp1252(text);
  double sum = 0;
  int64_t spaces = 0;
  for (uint8_t c : bytes) {
    sum += (c >= f.FirstChar && c <= f.LastChar) ? f.Widths[c] : f.MissingWidth;
    if (c == ' ') ++spaces;
  }
  const double w = (sum * size / 1000.0 + static_cast<double>(spaces) * word_spacing_ +
                    static_cast<double>(bytes.size()) * char_spacing_) *
                   h_scaling_ / 100.0;
  return static_cast<float>(w);
}

void cPDF::DrawText(float x, float y, const std::string& text, int32_t font, float size,
                    int32_t alignment, float rotation) {
  if (!in_page_ || font <= 0 || font > font_count()) return;
  if (alignment == 1) x -= TextWidth(text, font, size);
  if (alignment == 2) x -= TextWidth(text, font, size) / 2;
  WriteLine("BT");
  WriteLine("/Font" + std::to_string(font) + " " + N(size) + " Tf");
  if (rotation != 0) {
    const double a = static_cast<double>(rotation) * kPi / 180.0;
    const double ca = std::cos(a), sa = std::sin(a);
    WriteLine(N(ca) + " " + N(sa) + " " + N(-sa) + " " + N(ca) + " " + N(x) + " " + N(y) + " Tm");
  } else {
    WriteLine(N(x) + " " + N(y) + " Td");
  }
  WriteLine(std::string("(") + EscapeText(text) + ") Tj");
  WriteLine("ET");
}

void cPDF::DrawImg(int32_t id, float x, float y, float w, float h) {
  if (!in_page_ || id <= 0 || id > image_count()) return;
  WriteLine("q\r" + FormatFixed(w, 2) + " 0 0 " + FormatFixed(h, 2) + " " + FormatFixed(x, 2) +
            " " + FormatFixed(y, 2) + " cm /Img" + std::to_string(id) + " Do Q");
}

}  // namespace korvex::pdf
