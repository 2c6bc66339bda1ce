// Placeable WMF through libwmf's gd device. gd plays the picture into a
// true-colour image of the canvas size and writes it out as PNG (the only
// output of that device whose image it also frees); the PNG is decoded again
// and laid over the white canvas. libwmf's SVG device rendered through
// librsvg was measured too and lost fills and strokes that gd draws.
#include <libwmf/api.h>
#include <libwmf/gd.h>

#include <cstdio>
#include <cstdlib>
#include <limits>
#include <memory>
#include <mutex>
#include <vector>

#include "metafile/metafile.h"
#include "metafile/play_module.h"
#include "raster/codec.h"
#include "raster/image.h"

namespace korvex::metafile {
namespace {

using raster::Status;

// libwmf keeps font caches that are not safe to share between threads.
std::mutex& wmf_mutex() {
  static std::mutex m;
  return m;
}

// The PNG stream gd writes into; the buffer is malloc'd by the C library.
struct MemoryFile {
  char* buffer = nullptr;
  size_t size = 0;
  FILE* file = nullptr;
  MemoryFile() { file = open_memstream(&buffer, &size); }
  ~MemoryFile() {
    if (file != nullptr) std::fclose(file);
    std::free(buffer);
  }
  bool close() {
    const bool ok = file != nullptr && std::fclose(file) == 0;
    file = nullptr;
    return ok;
  }
};

// An API instance, destroyed with everything it allocated.
struct Api {
  wmfAPI* api = nullptr;
  ~Api() {
    if (api != nullptr) wmf_api_destroy(api);
  }
};

// Reads the picture, makes the canvas, and plays the picture into PNG bytes
// of the canvas size.
Status play_to_png(std::vector<unsigned char>& bytes, const CanvasMaker& make_canvas,
                   Canvas& canvas, MemoryFile& png) {
  wmfAPI_Options options{};
  options.function = wmf_gd_function;
  const unsigned long flags =
      WMF_OPT_FUNCTION | WMF_OPT_IGNORE_NONFATAL | WMF_OPT_NO_ERROR | WMF_OPT_NO_DEBUG;
  Api a;
  if (wmf_api_create(&a.api, flags, &options) != wmf_E_None) return Status::GenericError;
  wmf_gd_t* gd = WMF_GD_GetData(a.api);
  if ((gd->flags & WMF_GD_SUPPORTS_PNG) == 0 || png.file == nullptr) return Status::GenericError;
  gd->type = wmf_gd_png;
  gd->flags |= WMF_GD_OUTPUT_FILE;
  gd->file = png.file;
  if (wmf_mem_open(a.api, bytes.data(), static_cast<long>(bytes.size())) != wmf_E_None) {
    return Status::GenericError;
  }
  wmfD_Rect bbox{};
  if (wmf_scan(a.api, 0, &bbox) != wmf_E_None) return Status::GenericError;
  const Status made = make_canvas(canvas);
  if (made != Status::Ok) return made;
  gd->bbox = bbox;
  gd->width = static_cast<unsigned int>(canvas.width);
  gd->height = static_cast<unsigned int>(canvas.height);
  return wmf_play(a.api, 0, &bbox) == wmf_E_None ? Status::Ok : Status::GenericError;
}

}  // namespace

Status play_wmf(const uint8_t* data, size_t size, const Frame& /*frame*/,
                const CanvasMaker& make_canvas) {
  if (size > static_cast<size_t>(std::numeric_limits<long>::max())) return Status::GenericError;
  MemoryFile png;
  Canvas canvas;
  {
    const std::lock_guard<std::mutex> lock(wmf_mutex());
    // libwmf reads through a non-const pointer; it gets a private copy.
    std::vector<unsigned char> bytes(data, data + size);
    const Status st = play_to_png(bytes, make_canvas, canvas, png);
    if (st != Status::Ok) return st;
  }
  if (!png.close() || png.size == 0) return Status::GenericError;
  std::unique_ptr<raster::Image> img;
  const auto* p = reinterpret_cast<const uint8_t*>(png.buffer);
  if (raster::decode_image(raster::own_bytes(std::vector<uint8_t>(p, p + png.size)), img) !=
          Status::Ok ||
      img->width() != canvas.width || img->height() != canvas.height) {
    return Status::GenericError;
  }
  // Straight into the canvas as B, G, R, A, then over white.
  const raster::Rect all{0, 0, canvas.width, canvas.height};
  if (img->read_pixels(all, raster::pf::k32bppARGB, canvas.scan0, canvas.stride) != Status::Ok) {
    return Status::GenericError;
  }
  for (int32_t y = 0; y < canvas.height; ++y) {
    uint8_t* px = canvas.scan0 + static_cast<std::ptrdiff_t>(y) * canvas.stride;
    for (int32_t x = 0; x < canvas.width; ++x, px += 4) {
      const uint32_t a = px[3];
      if (a == 255) continue;
      for (int c = 0; c < 3; ++c) {
        px[c] = static_cast<uint8_t>((px[c] * a + 255u * (255u - a) + 127u) / 255u);
      }
      px[3] = 255;
    }
  }
  return Status::Ok;
}

}  // namespace korvex::metafile
