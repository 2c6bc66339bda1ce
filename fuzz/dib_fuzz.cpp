// libFuzzer harness of packed DIBs (info header, masks, colour table and rows
// in one block, as the clipboard and scanners hand them over): the engine's
// reader over the raster layer's, every pixel read as 32bppARGB, and an
// accepted block written back and read again, which must succeed with the
// same size.
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <vector>

#include "engine/dib.h"
#include "korvex/limits.h"
#include "raster/image.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  // A few megapixels: a small block declaring a huge picture is refused at
  // once, and no accepted one takes long to convert.
  korvex::SetLimit(korvex::Limit::Pixels, uint64_t{4} << 20);
  korvex::SetLimit(korvex::Limit::PixelBytes, uint64_t{16} << 20);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace korvex;
  std::unique_ptr<raster::Image> img;
  if (ImageFromPackedDib(data, size, img) != raster::Status::Ok) return 0;
  const int32_t w = img->width(), h = img->height();
  std::vector<uint8_t> argb(static_cast<size_t>(w) * 4 * static_cast<size_t>(h));
  if (img->read_pixels(raster::Rect{0, 0, w, h}, raster::pf::k32bppARGB, argb.data(), w * 4) !=
      raster::Status::Ok) {
    std::abort();  // an accepted block's pixels are readable
  }
  std::vector<uint8_t> block;
  if (PackedDibFromImage(*img, 0xFFFFFFFFu, block) != raster::Status::Ok) std::abort();
  std::unique_ptr<raster::Image> again;
  if (ImageFromPackedDib(block.data(), block.size(), again) != raster::Status::Ok ||
      again->width() != w || again->height() != h) {
    std::abort();  // what the writer stores, the reader takes back
  }
  return 0;
}
