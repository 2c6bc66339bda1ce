// render_wmf and render_emf, through korvex_metafile.so loaded on first use.
#include "metafile/metafile.h"
#include "metafile/play_module.h"
#include "raster/service_module.h"

namespace korvex::metafile {

namespace {

const PlayModule* players() {
  static const PlayModule* const table = raster::service_table<PlayModule>(
      kPlayModuleFile, "korvex_metafile_module", kPlayModuleVersion);
  return table;
}

}  // namespace

raster::Status render_wmf(const uint8_t* data, size_t size, const Frame& frame,
                          const CanvasMaker& make_canvas) {
  const PlayModule* m = players();
  return m != nullptr ? m->play_wmf(data, size, frame, make_canvas) : raster::Status::GenericError;
}

raster::Status render_emf(const uint8_t* data, size_t size, const Frame& frame,
                          const CanvasMaker& make_canvas) {
  const PlayModule* m = players();
  return m != nullptr ? m->play_emf(data, size, frame, make_canvas) : raster::Status::GenericError;
}

}  // namespace korvex::metafile
