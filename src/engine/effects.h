// The common frame of the pixel-effect members: the engine's filter zone,
// turned into a raster rectangle, and one effect run over it.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "engine/state.h"
#include "korvex/engine.h"
#include "processing/filter_engine.h"
#include "raster/types.h"

namespace korvex {

// Whole picture in mode 1; a zone set by the caller is kept in mode 2.
void RefreshFilterZone(cKorvex& k);

// The zone's rectangle on the image, 0-based.
raster::Rect FilterZoneRect(const FilterZoneFields& zone);

// Nothing without a native image; otherwise refreshes the zone, runs the
// effect over it and records its status.
cKorvexStatus RunEffect(cKorvex& k, int32_t effect, const filters::FilterParams& p);
// The same for the effects that take one scalar.
cKorvexStatus RunEffect(cKorvex& k, int32_t effect, double param = 0.0);

// The grayscale and blank tests: False on any failure, and LastStatus as it
// was, the zone refresh included.
bool TestImage(cKorvex& k, int32_t effect, const filters::FilterParams& p);

// Members that are per-pixel effects over the whole picture, by name, with
// their Long arguments: the effect number and parameters the member runs.
// False for every other member, or for a count of arguments it does not take.
bool PointEffectMember(const std::string& member, const std::vector<int32_t>& args,
                       int32_t& effect, filters::FilterParams& p);
// The same for the neighbourhood effects (sharpen, blur, emboss, Aqua ...).
bool NeighbourhoodEffectMember(const std::string& member, const std::vector<int32_t>& args,
                               int32_t& effect, filters::FilterParams& p);

}  // namespace korvex
