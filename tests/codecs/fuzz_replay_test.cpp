// Every fuzz seed and saved crasher decodes or is refused without crashing (the sanitizer
// build also catches leaks and reads out of bounds). Files are found by folder, so new
// regressions are replayed as soon as they are committed.
#include <gtest/gtest.h>

#include <filesystem>

#include "codec_test_util.h"
#include "raster/codecs/bmp/dib.h"

namespace korvex {
namespace {

using namespace testutil;

TEST(FuzzReplay, EverySeedAndRegressionDecodesOrIsRefused) {
  namespace fs = std::filesystem;
  const PixelLimit limit(uint64_t{16} << 20);  // as in the fuzz harnesses
  size_t files = 0, dibs = 0;
  for (const char* kind : {"corpus", "regressions"}) {
    const fs::path root = fs::path(KORVEX_SOURCE_DIR) / "fuzz" / kind;
    if (!fs::exists(root)) continue;
    for (const auto& entry : fs::recursive_directory_iterator(root)) {
      if (!entry.is_regular_file() || entry.path().filename().string()[0] == '.') continue;
      SCOPED_TRACE(entry.path().string());
      const std::vector<uint8_t> bytes = read_file(entry.path().string());
      const bool dib = entry.path().parent_path().filename() == "dib";
      std::unique_ptr<raster::Image> img;
      if (decode(bytes, img) == raster::Status::Ok) {
        ASSERT_NE(img, nullptr);
        ASSERT_GT(img->width(), 0);
        argb_pixels(*img);
      }
      // Packed DIBs have no file header, so the decoders refuse them: the packed
      // reader takes them, and an accepted block's pixels are readable.
      raster::dib::Info info;
      if (dib &&
          raster::dib::read_packed(bytes.data(), bytes.size(), img, info) == raster::Status::Ok) {
        argb_pixels(*img);
      }
      ++files;
      dibs += dib;
    }
  }
  EXPECT_GT(dibs, 0u);
  RecordProperty("files", static_cast<int>(files));
}

}  // namespace
}  // namespace korvex
