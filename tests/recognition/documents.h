// Synthetic scanned documents of three families, drawn with the engine:
// forms (a solid header band and boxed fields), letters (lines of words)
// and tables (a ruled grid), each placed with jitter and sprinkled with
// specks, as scans of one kind of document differ from each other.
#pragma once

#include <cstdint>

#include "korvex/korvex.h"

namespace korvex::testdoc {

enum class Kind { Form, Letter, Table };

inline constexpr int32_t kPageWidth = 300, kPageHeight = 424;  // A4 proportions
inline constexpr int32_t kBlack = static_cast<int32_t>(0xFF000000);

// Draws a new native page of that kind (24-bit, or 1-bit when `one_bit`).
inline cKorvexStatus make_document(cKorvex& k, Kind kind, uint32_t seed, bool one_bit = false) {
  auto next = [&seed](uint32_t n) {
    seed = seed * 1103515245u + 12345u;
    return ((seed >> 16) & 0x7FFFu) % n;
  };
  cKorvexStatus st = k.CreateImage(kPageWidth, kPageHeight, 24);
  if (st == cKorvexStatus::Ok) st = k.DrawFillRectangle(1, 1, kPageWidth, kPageHeight, -1, false);
  const auto dx = static_cast<int32_t>(next(9)), dy = static_cast<int32_t>(next(9));
  switch (kind) {
    case Kind::Form:
      if (st == cKorvexStatus::Ok)
        st = k.DrawFillRectangle(10 + dx, 8 + dy, 270, 60, kBlack, false);
      for (int32_t i = 0; i < 6 && st == cKorvexStatus::Ok; ++i)
        st = k.DrawRectangle(20 + dx, 110 + dy + i * 47, 250, 30, 2, kBlack, false);
      break;
    case Kind::Letter:
      for (int32_t line = 0; line < 22 && st == cKorvexStatus::Ok; ++line) {
        for (int32_t x = 24 + dx; x < 260 && st == cKorvexStatus::Ok;) {
          const auto w = static_cast<int32_t>(12 + next(30));
          st = k.DrawFillRectangle(x, 60 + dy + line * 14, w, 3, kBlack, false);
          x += w + 6;
        }
      }
      break;
    case Kind::Table:
      if (st == cKorvexStatus::Ok) st = k.DrawGrid(16 + dx, 40 + dy, 264, 340, 44, 20, 1, kBlack);
      break;
  }
  // Specks of dust: isolated black pixels anywhere on the page.
  for (int32_t i = 0; i < 150 && st == cKorvexStatus::Ok; ++i) {
    st = k.PixelSetColor(static_cast<int32_t>(1 + next(kPageWidth)),
                         static_cast<int32_t>(1 + next(kPageHeight)), kBlack);
  }
  if (st == cKorvexStatus::Ok && one_bit) st = k.ConvertTo1Bpp();
  return st;
}

}  // namespace korvex::testdoc
