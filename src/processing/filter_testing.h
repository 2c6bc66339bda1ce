// Test-only hooks of the filter engine; not part of the public interface.
#pragma once

#include <cstdint>

namespace korvex::filters {

// Restarts this thread's random source (AddNoise, Diffuse) from a seed, so a
// test can repeat a run exactly.
void SeedRandomForTesting(uint64_t seed);

// Sets the height of the bands in which zones that are not the picture's own
// 32-bit memory are processed on this thread (0 restores the kernels' own
// choice: about 384 K pixels a band), so tests can cross many band edges on
// small pictures.
void SetBandRowsForTesting(int32_t rows);

}  // namespace korvex::filters
