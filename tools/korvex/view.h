// `korvex view FILE...`: shows image files in a window (Qt viewer widget).
#pragma once

#include <string>
#include <vector>

// Returns the process exit code: 0 after the window is closed, 1 when no file
// can be shown, 2 without files.
int run_view(const std::vector<std::string>& files);
