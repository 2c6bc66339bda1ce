// The pixel format a bit depth stands for, where a depth is given instead of
// a format: by DIBs and device bitmaps, and by callers asking for a blank
// image of some depth.
#pragma once

#include <cstdint>

#include "raster/types.h"

namespace korvex::raster {

// DIBs and device bitmaps hold at most 32 bits, and the fourth byte of their
// 32-bit pixels is padding, not alpha; a blank image of 32 bits is ARGB, and
// 48 and 64 bits are offered too.
enum class DepthUse { kDib, kBlankImage };

namespace detail {
struct DepthFormats {
  int32_t bits;
  PixelFormat dib;
  PixelFormat blank;
};
inline constexpr DepthFormats kDepthFormats[] = {
    {1, pf::k1bppIndexed, pf::k1bppIndexed}, {4, pf::k4bppIndexed, pf::k4bppIndexed},
    {8, pf::k8bppIndexed, pf::k8bppIndexed}, {16, pf::k16bppRGB555, pf::k16bppRGB555},
    {24, pf::k24bppRGB, pf::k24bppRGB},      {32, pf::k32bppRGB, pf::k32bppARGB},
    {48, pf::kUndefined, pf::k48bppRGB},     {64, pf::kUndefined, pf::k64bppPARGB},
};
}  // namespace detail

// kUndefined for a depth that `use` does not offer.
constexpr PixelFormat format_for_depth(int32_t bits, DepthUse use) {
  for (const detail::DepthFormats& d : detail::kDepthFormats) {
    if (d.bits == bits) return use == DepthUse::kDib ? d.dib : d.blank;
  }
  return pf::kUndefined;
}

}  // namespace korvex::raster
