// Playing metafiles needs libwmf, libemf2svg and librsvg (with the GIO,
// GdkPixbuf and libxml2 libraries under it): they live in a module of their
// own (korvex_metafile.so), loaded by the first WMF or EMF decode, so a
// process that never reads a metafile never maps them. The header checks
// and the decoders stay in the library; without the module (or its
// libraries) a checked metafile fails with GenericError, as one its
// library refuses.
#pragma once

#include <cstddef>
#include <cstdint>

#include "metafile/metafile.h"

namespace korvex::metafile {

// The module's players behind render_wmf and render_emf (metafile.h), with
// their contracts.
raster::Status play_wmf(const uint8_t* data, size_t size, const Frame& frame,
                        const CanvasMaker& make_canvas);
raster::Status play_emf(const uint8_t* data, size_t size, const Frame& frame,
                        const CanvasMaker& make_canvas);

// What korvex_metafile.so exports, through its entry korvex_metafile_module().
struct PlayModule {
  uint32_t version;
  raster::Status (*play_wmf)(const uint8_t* data, size_t size, const Frame& frame,
                             const CanvasMaker& make_canvas);
  raster::Status (*play_emf)(const uint8_t* data, size_t size, const Frame& frame,
                             const CanvasMaker& make_canvas);
};
inline constexpr uint32_t kPlayModuleVersion = 1;
inline constexpr const char* kPlayModuleFile = "korvex_metafile.so";

}  // namespace korvex::metafile

extern "C" const korvex::metafile::PlayModule* korvex_metafile_module();
