// Helpers shared by the tests of whole commands in bands: test pictures
// stored as JPEG or TIFF with metadata, a command's words as the band runner
// takes them, PDF bytes with the clock's creation date blanked, and the
// tests' fixture.
#pragma once

#include <gtest/gtest.h>

#include <cctype>
#include <cstdint>
#include <memory>
#include <regex>
#include <string>
#include <vector>

#include "../codecs/codec_test_util.h"
#include "engine/banded.h"
#include "raster/codec.h"
#include "raster/image.h"

namespace korvex::testutil {

using Words = std::vector<std::string>;

// What a test picture carries besides its size, format and resolution.
enum PictureItems : unsigned {
  kMake = 1,         // EXIF camera make "Kx"
  kOldSoftware = 2,  // an old EXIF Software text, "old"
  kProfile = 4,      // a 700-byte colour profile
  kGrayPalette = 8,  // an 8-bit palette flagged as gray-scale (its entries are gray either way)
  kSmooth = 16,      // a ramp of (x + 2y) / 4 rather than the noisy pattern
};

// A picture stored as `ext` ("*.jpg" or "*.tif"), `param` the JPEG quality or
// the TIFF compression; the pattern covers every stored byte of a row,
// padding included.
inline Bytes encoded(raster::PixelFormat f, int32_t w, int32_t h, float dpi, const std::string& ext,
                     int32_t param, unsigned items) {
  std::unique_ptr<raster::Image> img;
  EXPECT_EQ(raster::Image::create(w, h, f, img), raster::Status::Ok);
  raster::Surface& s = img->surface();
  if (f == raster::pf::k8bppIndexed) {
    if (items & kGrayPalette) s.palette.flags = raster::Palette::kGrayScale;
    s.palette.entries.resize(256);
    for (uint32_t i = 0; i < 256; ++i) s.palette.entries[i] = 0xFF000000u | i * 0x010101u;
  }
  const bool smooth = (items & kSmooth) != 0;
  for (int32_t y = 0; y < s.height; ++y) {
    for (int32_t x = 0; x < s.stride; ++x)
      s.row(y)[x] = static_cast<uint8_t>(smooth ? (x + 2 * y) / 4 : (x * 3 + y * 5) ^ (x * y >> 4));
  }
  img->set_resolution(dpi, dpi);
  if (items & kMake) img->set_property({0x010F, raster::ptype::kAscii, {'K', 'x', 0}});
  if (items & kOldSoftware) img->set_property({305, raster::ptype::kAscii, {'o', 'l', 'd', 0}});
  if (items & kProfile) img->set_property({0x8773, raster::ptype::kUndefined, Bytes(700, 0x33)});
  const bool jpeg = ext == "*.jpg";
  return encode(ext, *img,
                {{jpeg ? raster::encparam::kQuality : raster::encparam::kCompression, param}});
}

// The words as the band runner takes them: "-Member" then its arguments,
// numbers as Long, the rest as text.
inline std::vector<BandedCall> banded(const Words& words) {
  std::vector<BandedCall> calls;
  for (const std::string& w : words) {
    if (w.size() > 1 && w[0] == '-' && std::isalpha(static_cast<unsigned char>(w[1]))) {
      calls.push_back({w.substr(1), {}});
    } else if (w.find_first_not_of("-0123456789") == std::string::npos) {
      calls.back().args.push_back({false, std::stoi(w), {}});
    } else {
      calls.back().args.push_back({true, 0, w});
    }
  }
  return calls;
}

// A file's bytes with a PDF's creation date (the clock's time) blanked.
inline std::string without_date(const Bytes& b) {
  static const std::regex date(R"(/CreationDate \(D:[^)]*\))");
  return std::regex_replace(std::string(b.begin(), b.end()), date, "/CreationDate ()");
}

// The fixture of the band-runner tests: a scratch folder for the command's
// files, and the default band height back after every test.
class BandedTest : public testing::Test {
 protected:
  void TearDown() override { SetBandedRowsForTesting(0); }
  std::string file(const std::string& name) const { return dir_.file(name); }

  ScratchDir dir_;
};

}  // namespace korvex::testutil
