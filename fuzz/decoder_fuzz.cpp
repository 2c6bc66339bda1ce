// libFuzzer harness for one decoder, chosen at build time by its name
// (KORVEX_FUZZ_DECODER). Decodes the input, reads every frame's pixels as
// 32bppARGB and copies the image, so lazy frame decoding is exercised too.
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <memory>
#include <vector>

#include "korvex/limits.h"
#include "raster/codec.h"
#include "raster/image.h"

namespace {

const korvex::raster::Decoder* find_decoder() {
  for (const auto& d : korvex::raster::decoders()) {
    if (std::strcmp(d.name, KORVEX_FUZZ_DECODER) == 0) return &d;
  }
  return nullptr;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  // A few megapixels and 16 MiB of pixels per bitmap: small enough that a tiny
  // file declaring a huge picture is refused before any decoding and that no
  // input spends seconds in pixel loops, large enough for every seed.
  korvex::SetLimit(korvex::Limit::Pixels, uint64_t{4} << 20);
  korvex::SetLimit(korvex::Limit::PixelBytes, uint64_t{16} << 20);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace korvex::raster;
  static const Decoder* decoder = find_decoder();
  if (decoder == nullptr) __builtin_trap();  // the named decoder must exist
  if (!decoder->sniff(data, size)) return 0;
  std::unique_ptr<Image> img;
  if (decoder->decode(own_bytes(std::vector<uint8_t>(data, data + size)), img) != Status::Ok) {
    return 0;
  }
  const uint32_t frames = img->frame_count(img->frame_dimension());
  for (uint32_t i = 0; i < frames && i < 16; ++i) {
    if (img->select_active_frame(img->frame_dimension(), i) != Status::Ok) continue;
    // Read in bands of rows: one lock per band, not per row, keeps tall
    // narrow pictures fast.
    const int32_t w = img->width(), h = img->height();
    const int32_t band = std::max<int32_t>(1, std::min<int32_t>(h, (1 << 20) / std::max(1, w)));
    std::vector<uint8_t> argb(static_cast<size_t>(w) * 4 * static_cast<size_t>(band));
    for (int32_t y = 0; y < h; y += band) {
      img->read_pixels(Rect{0, y, w, std::min(band, h - y)}, pf::k32bppARGB, argb.data(), w * 4);
    }
  }
  std::unique_ptr<Image> copy;
  img->clone(copy);
  return 0;
}
