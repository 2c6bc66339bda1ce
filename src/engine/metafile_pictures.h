// Metafile picture objects (type 2 WMF, type 4 EMF) as raster images.
#pragma once

#include <cstdint>
#include <memory>

#include "raster/image.h"

namespace korvex {

// Rasterises the metafile behind a host handle at its own pixel size on
// opaque white, as a memory bitmap (the picture's handle stays the host's).
// UnknownImageFormat when the handle holds no metafile of that kind; the
// decoder's status when the metafile cannot be rendered.
raster::Status ImageFromMetafileHandle(int32_t handle, bool enhanced,
                                       std::unique_ptr<raster::Image>& out);

}  // namespace korvex
