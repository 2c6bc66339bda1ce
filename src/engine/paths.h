// Path rules for file names given by hosts, and the space trimming they share
// with pattern lists.
#pragma once

#include <string>

namespace korvex {

// The text without its leading and trailing spaces.
std::string TrimSpaces(const std::string& s);
// Trims spaces, turns "\" into "/", and collapses repeated "/" after the
// first two characters, so that a leading "//" survives.
std::string NormalizePath(const std::string& path);
// Temporary folder: TMPDIR, else tmp, else temp, else "/tmp"; one trailing "/".
std::string TempFolder();

}  // namespace korvex
