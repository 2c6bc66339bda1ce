// Small images with known pixels for the filter tests.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <vector>

#include "korvex/korvex.h"
#include "processing/filter_testing.h"
#include "raster/handles.h"

namespace korvex::test {

inline raster::Image& native(cKorvex& k) {
  return *raster::find_image(k.GetNativeImage());
}

// Makes a new native image of w x h in the given depth and stores the ARGB pixels.
inline void put(cKorvex& k, int32_t w, int32_t h, const std::vector<uint32_t>& px,
                int16_t depth = 32) {
  ASSERT_EQ(k.CreateImage(w, h, depth), cKorvexStatus::Ok);
  ASSERT_EQ(native(k).write_pixels({0, 0, w, h}, raster::pf::k32bppARGB,
                                   reinterpret_cast<const uint8_t*>(px.data()), w * 4),
            raster::Status::Ok);
}

inline std::vector<uint32_t> get(cKorvex& k) {
  raster::Image& img = native(k);
  std::vector<uint32_t> px(static_cast<size_t>(img.width()) * static_cast<size_t>(img.height()));
  EXPECT_EQ(img.read_pixels({0, 0, img.width(), img.height()}, raster::pf::k32bppARGB,
                            reinterpret_cast<uint8_t*>(px.data()), img.width() * 4),
            raster::Status::Ok);
  return px;
}

// Stores px as a w x h image, runs the effect and returns the pixels.
inline std::vector<uint32_t> apply(cKorvex& k, int32_t w, int32_t h,
                                   const std::vector<uint32_t>& px,
                                   const std::function<cKorvexStatus(cKorvex&)>& effect,
                                   int16_t depth = 32) {
  put(k, w, h, px, depth);
  EXPECT_EQ(effect(k), cKorvexStatus::Ok);
  return get(k);
}

// The same with the random source restarted from a seed just before the effect.
inline std::vector<uint32_t> seeded(cKorvex& k, int32_t w, int32_t h,
                                    const std::vector<uint32_t>& px, uint32_t seed,
                                    cKorvexStatus (cKorvex::*effect)()) {
  return apply(k, w, h, px, [&](cKorvex& e) {
    filters::SeedRandomForTesting(seed);
    return (e.*effect)();
  });
}

inline uint32_t rgb(uint32_t r, uint32_t g, uint32_t b, uint32_t a = 0xFF) {
  return a << 24 | r << 16 | g << 8 | b;
}
inline uint32_t gray(uint32_t v, uint32_t a = 0xFF) {
  return rgb(v, v, v, a);
}

inline std::vector<uint32_t> grays(const std::vector<uint32_t>& values) {
  std::vector<uint32_t> out;
  for (uint32_t v : values) out.push_back(gray(v));
  return out;
}

}  // namespace korvex::test
