// Helpers shared by the engine tests.
#pragma once

#include <gtest/gtest.h>

#include <initializer_list>
#include <string>
#include <tuple>

#include "../codecs/codec_test_util.h"
#include "korvex/korvex.h"
#include "raster/handles.h"

namespace korvex {

using S = cKorvexStatus;

inline raster::Image* img(int32_t id) {
  return raster::find_image(id);
}
// A pixel of a registered image, 0-based.
inline uint32_t pixel(const raster::Image* image, int32_t x, int32_t y) {
  uint32_t v = 0;
  EXPECT_EQ(image->get_pixel(x, y, v), raster::Status::Ok);
  return v;
}
inline uint32_t pixel(int32_t id, int32_t x, int32_t y) {
  return pixel(img(id), x, y);
}
// A pixel of the native image, 1-based.
inline uint32_t px(cKorvex& k, int32_t x, int32_t y) {
  return static_cast<uint32_t>(k.PixelGetColor(x, y));
}
inline void expect_px(cKorvex& k,
                      std::initializer_list<std::tuple<int32_t, int32_t, uint32_t>> want) {
  for (auto [x, y, c] : want) EXPECT_EQ(px(k, x, y), c) << x << ", " << y;
}

// A test with its own scratch folder.
class ScratchTest : public ::testing::Test {
 protected:
  std::string path(const std::string& name) const { return dir_.file(name); }
  testutil::ScratchDir dir_;
};
// What a shell command writes to its standard output.
inline std::string output_of(const std::string& command) {
  std::string out;
  testutil::run(command, &out);
  return out;
}
inline std::string slurp(const std::string& path) {
  const std::vector<uint8_t> v = testutil::read_file(path);
  return std::string(v.begin(), v.end());
}

}  // namespace korvex
