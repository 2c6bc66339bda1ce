// Downloaded images, shared by the engine's and the viewer's URL sources.
#pragma once

#include <cstdint>
#include <vector>

#include "korvex/engine.h"
#include "net/inet.h"
#include "raster/types.h"

namespace korvex {

// The status a failed download gives: FileNotFound when nothing was sent or
// answered, GenericError for a missing or refused length or a failed read.
raster::Status FetchStatus(net::Fetch f);

// Decodes downloaded bytes into a new image of the engine (taking the
// buffer over); the image becomes native, owned by the caller. 0 with the
// status in the engine on failure.
int32_t CreateImageFromDownload(cKorvex& engine, std::vector<uint8_t>&& bytes);

}  // namespace korvex
