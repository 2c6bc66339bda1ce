// Fonts: installed families through fontconfig, the metric-compatible
// stand-ins for the common Windows families, and sizes in pixels.
#include "raster/graphics.h"

#include <fontconfig/fontconfig.h>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "raster/strings.h"

namespace korvex::raster {

namespace {

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

std::recursive_mutex& fc_mutex() {
  static std::recursive_mutex m;
  return m;
}

}  // namespace

std::unique_lock<std::recursive_mutex> lock_fonts() {
  return std::unique_lock<std::recursive_mutex>(fc_mutex());
}

std::vector<std::string> installed_font_families() {
  const auto lock = lock_fonts();
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
  const auto lock = lock_fonts();
  if (family_installed(name)) return name;
  const std::string lower = LowerCase(name);
  for (const auto& [alias, family] : kAliases) {
    if (lower == alias && family_installed(family)) return family;
  }
  return {};
}

Status font_style_available(const std::string& name, int32_t style, bool& available) {
  available = false;
  const std::string family = resolve_font_family(name);
  if (family.empty()) return Status::FontFamilyNotFound;
  const auto lock = lock_fonts();
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

}  // namespace korvex::raster
