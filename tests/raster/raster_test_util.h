// Helpers shared by the raster tests.
#pragma once

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "raster/image.h"

namespace korvex::raster {

inline std::unique_ptr<Image> make(int32_t w, int32_t h, PixelFormat f) {
  std::unique_ptr<Image> img;
  EXPECT_EQ(Image::create(w, h, f, img), Status::Ok);
  return img;
}

inline Rect all(const Image& img) {
  return Rect{0, 0, img.width(), img.height()};
}

inline uint32_t px(const Image& img, int32_t x, int32_t y) {
  uint32_t v = 0;
  EXPECT_EQ(img.get_pixel(x, y, v), Status::Ok);
  return v;
}

inline int ch(uint32_t p, int shift) {
  return static_cast<int>((p >> shift) & 0xFF);
}

// The pixels of `r` read back as 32-bit words of format `f` (not through get_pixel).
inline std::vector<uint32_t> read_px(Image& img, const Rect& r, PixelFormat f = pf::k32bppARGB) {
  std::vector<uint32_t> out(static_cast<size_t>(r.width) * static_cast<size_t>(r.height));
  EXPECT_EQ(img.read_pixels(r, f, reinterpret_cast<uint8_t*>(out.data()), r.width * 4), Status::Ok);
  return out;
}

inline std::vector<uint32_t> read_all(Image& img, PixelFormat f = pf::k32bppARGB) {
  return read_px(img, all(img), f);
}

inline bool have_magick() {
  return access("/usr/bin/convert", X_OK) == 0;  // the real ImageMagick, not any `convert`
}

// ImageMagick's 8-bit RGB output for the opaque w x h picture `argb` under `args`;
// empty, after a failure, if it did not print exactly `out_pixels` pixels.
inline std::vector<uint8_t> magick_rgb(const std::vector<uint32_t>& argb, int w, int h,
                                       const std::string& args, size_t out_pixels) {
  std::string ppm = "P6\n" + std::to_string(w) + " " + std::to_string(h) + "\n255\n";
  for (uint32_t p : argb) ppm += {char(p >> 16), char(p >> 8), char(p)};
  const std::string path =
      ::testing::TempDir() + "korvex-raster-" + std::to_string(getpid()) + ".ppm";
  { std::ofstream(path, std::ios::binary) << ppm; }
  const std::string cmd = "/usr/bin/convert " + path + " " + args + " -depth 8 rgb:-";
  std::vector<uint8_t> ref(out_pixels * 3);
  FILE* pipe = popen(cmd.c_str(), "r");
  size_t got = 0;
  bool clean = false;  // exactly w x h pixels, and convert succeeded
  if (pipe) {
    got = fread(ref.data(), 1, ref.size(), pipe);
    clean = fgetc(pipe) == EOF;
    clean = pclose(pipe) == 0 && clean;
  }
  EXPECT_TRUE(clean) << cmd;
  std::remove(path.c_str());
  EXPECT_EQ(got, ref.size()) << cmd;
  if (got != ref.size()) ref.clear();
  return ref;
}

}  // namespace korvex::raster
