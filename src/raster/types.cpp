#include <cctype>
#include <cstdio>
#include <cstdlib>

#include "raster/types.h"
#include "raster/version.h"

namespace korvex::raster {

bool is_supported_format(PixelFormat f) {
  for (PixelFormat k : pf::kAll) {
    if (k == f) return true;
  }
  return false;
}

const char* pixel_format_name(PixelFormat f) {
  switch (f) {
    case pf::k1bppIndexed:
      return "1bppIndexed";
    case pf::k4bppIndexed:
      return "4bppIndexed";
    case pf::k8bppIndexed:
      return "8bppIndexed";
    case pf::k16bppGrayScale:
      return "16bppGrayScale";
    case pf::k16bppRGB555:
      return "16bppRGB555";
    case pf::k16bppRGB565:
      return "16bppRGB565";
    case pf::k16bppARGB1555:
      return "16bppARGB1555";
    case pf::k24bppRGB:
      return "24bppRGB";
    case pf::k32bppRGB:
      return "32bppRGB";
    case pf::k32bppARGB:
      return "32bppARGB";
    case pf::k32bppPARGB:
      return "32bppPARGB";
    case pf::k48bppRGB:
      return "48bppRGB";
    case pf::k64bppARGB:
      return "64bppARGB";
    case pf::k64bppPARGB:
      return "64bppPARGB";
    default:
      return "Undefined";
  }
}

std::string Guid::to_string() const {
  char buf[40];
  std::snprintf(buf, sizeof buf, "{%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}", data1, data2,
                data3, data4[0], data4[1], data4[2], data4[3], data4[4], data4[5], data4[6],
                data4[7]);
  return buf;
}

bool Guid::parse(const std::string& text, Guid& out) {
  // Accepts the 38-character braced form and the 36-character bare form.
  std::string s = text;
  if (s.size() == 38 && s.front() == '{' && s.back() == '}') s = s.substr(1, 36);
  if (s.size() != 36 || s[8] != '-' || s[13] != '-' || s[18] != '-' || s[23] != '-') return false;
  std::string hex;
  for (size_t i = 0; i < s.size(); ++i) {
    if (i == 8 || i == 13 || i == 18 || i == 23) continue;
    if (!std::isxdigit(static_cast<unsigned char>(s[i]))) return false;
    hex.push_back(s[i]);
  }
  auto field = [&](size_t pos, size_t len) {
    return std::strtoul(hex.substr(pos, len).c_str(), nullptr, 16);
  };
  Guid g;
  g.data1 = static_cast<uint32_t>(field(0, 8));
  g.data2 = static_cast<uint16_t>(field(8, 4));
  g.data3 = static_cast<uint16_t>(field(12, 4));
  for (size_t i = 0; i < 8; ++i) g.data4[i] = static_cast<uint8_t>(field(16 + 2 * i, 2));
  out = g;
  return true;
}

namespace {

constexpr uint32_t argb(uint32_t r, uint32_t g, uint32_t b) {
  return 0xFF000000u | (r << 16) | (g << 8) | b;
}

// The sixteen standard colours: black, the seven dark colours, gray, silver,
// then the seven bright colours and white.
constexpr uint32_t kSixteen[16] = {
    argb(0, 0, 0),       argb(0, 0, 128),   argb(0, 128, 0),   argb(0, 128, 128),
    argb(128, 0, 0),     argb(128, 0, 128), argb(128, 128, 0), argb(128, 128, 128),
    argb(192, 192, 192), argb(0, 0, 255),   argb(0, 255, 0),   argb(0, 255, 255),
    argb(255, 0, 0),     argb(255, 0, 255), argb(255, 255, 0), argb(255, 255, 255)};

}  // namespace

Palette default_palette(PixelFormat f) {
  Palette p;
  switch (f) {
    case pf::k1bppIndexed:
      p.flags = Palette::kGrayScale;
      p.entries = {argb(0, 0, 0), argb(255, 255, 255)};
      break;
    case pf::k4bppIndexed:
      p.flags = Palette::kHalftone;
      p.entries.assign(kSixteen, kSixteen + 16);
      break;
    case pf::k8bppIndexed: {
      p.flags = Palette::kHalftone;
      p.entries.assign(kSixteen, kSixteen + 16);
      for (uint32_t r = 0; r < 6; ++r)
        for (uint32_t g = 0; g < 6; ++g)
          for (uint32_t b = 0; b < 6; ++b) p.entries.push_back(argb(r * 51, g * 51, b * 51));
      for (uint32_t k = 0; k < 24; ++k)
        p.entries.push_back(argb(8 + 10 * k, 8 + 10 * k, 8 + 10 * k));
      break;
    }
    default:
      break;
  }
  return p;
}

// ---- version ---------------------------------------------------------------

namespace {
constexpr const char* kVersionText = "6.1.0.0";
thread_local std::string g_version_override;
}  // namespace

std::string version_text() {
  return g_version_override.empty() ? std::string(kVersionText) : g_version_override;
}

void set_version_text_for_testing(const std::string& text) {
  g_version_override = text;
}

bool is_old_version() {
  const std::string v = version_text();
  return std::atof(v.c_str()) < 6.0;
}

}  // namespace korvex::raster
