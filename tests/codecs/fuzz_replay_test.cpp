// Every fuzz seed and saved crasher decodes or is refused without crashing (the sanitizer
// build also catches leaks and reads out of bounds).
#include <gtest/gtest.h>

#include <filesystem>

#include "codec_test_util.h"
#include "raster/codecs/bmp/dib.h"

namespace korvex {
namespace {

TEST(FuzzReplay, EverySeedAndRegressionDecodesOrIsRefused) {
  namespace fs = std::filesystem;
  raster::set_pixel_memory_limit(uint64_t{16} << 20);  // as in the fuzz harness
  size_t files = 0;
  for (const char* kind : {"corpus", "regressions"}) {
    const fs::path root = fs::path(KORVEX_SOURCE_DIR) / "fuzz" / kind;
    if (!fs::exists(root)) continue;
    for (const auto& entry : fs::recursive_directory_iterator(root)) {
      if (!entry.is_regular_file() || entry.path().filename().string()[0] == '.') continue;
      SCOPED_TRACE(entry.path().string());
      std::unique_ptr<raster::Image> img;
      if (testutil::decode(testutil::read_file(entry.path().string()), img) == raster::Status::Ok) {
        ASSERT_NE(img, nullptr);
        ASSERT_GT(img->width(), 0);
        testutil::argb_pixels(*img);
      }
      ++files;
    }
  }
  raster::set_pixel_memory_limit(uint64_t{4} << 30);
  RecordProperty("files", static_cast<int>(files));
}

// Packed DIB seeds and crashers (no file header, so the decoders above refuse
// them) go through the packed reader; an accepted block's pixels are readable.
TEST(FuzzReplay, EveryPackedDibIsReadOrRefused) {
  namespace fs = std::filesystem;
  raster::set_pixel_memory_limit(uint64_t{16} << 20);
  size_t files = 0;
  for (const char* kind : {"corpus", "regressions"}) {
    const fs::path root = fs::path(KORVEX_SOURCE_DIR) / "fuzz" / kind / "dib";
    if (!fs::exists(root)) continue;
    for (const auto& entry : fs::directory_iterator(root)) {
      if (!entry.is_regular_file()) continue;
      SCOPED_TRACE(entry.path().string());
      const std::vector<uint8_t> bytes = testutil::read_file(entry.path().string());
      std::unique_ptr<raster::Image> img;
      raster::dib::Info info;
      if (raster::dib::read_packed(bytes.data(), bytes.size(), img, info) == raster::Status::Ok) {
        testutil::argb_pixels(*img);
      }
      ++files;
    }
  }
  raster::set_pixel_memory_limit(uint64_t{4} << 30);
  EXPECT_GT(files, 0u);
}

}  // namespace
}  // namespace korvex
