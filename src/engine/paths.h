// Path rules for file names given by hosts, and the space trimming they share
// with pattern lists.
#pragma once

#include <string>

#include "raster/strings.h"  // TrimSpaces

namespace korvex {

// Trims spaces, turns "\" into "/", and collapses repeated "/" after the
// first two characters, so that a leading "//" survives.
std::string NormalizePath(const std::string& path);
// Temporary folder: TMPDIR, else tmp, else temp, else "/tmp"; one trailing "/".
std::string TempFolder();

}  // namespace korvex
