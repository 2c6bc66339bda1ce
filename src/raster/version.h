// Version text of the raster layer ("major.minor.build.revision").
//
// The layer reports a modern 6.x version. Code paths kept for older raster
// versions (refusing indexed drawing surfaces and indexed write locks) stay
// reachable through a per-thread override meant for tests.
#pragma once

#include <string>

namespace korvex::raster {

std::string version_text();
// Overrides the version text on this thread; an empty text restores the real one.
void set_version_text_for_testing(const std::string& text);
// True when the leading number of the version text is below 6.
bool is_old_version();

}  // namespace korvex::raster
