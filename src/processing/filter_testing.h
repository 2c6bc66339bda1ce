// Test-only hooks of the filter engine; not part of the public interface.
#pragma once

#include <cstdint>

namespace korvex::filters {

// Restarts this thread's random source (AddNoise, Diffuse) from a seed, so a
// test can repeat a run exactly.
void SeedRandomForTesting(uint64_t seed);

}  // namespace korvex::filters
