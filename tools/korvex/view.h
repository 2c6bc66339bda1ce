// `korvex view FILE...`: shows image files in a window (Qt viewer widget).
#pragma once

#include <string>
#include <vector>

// Loads the viewer module (view_loader.cpp) and runs it. Returns the process
// exit code: 0 after the window is closed, 1 when no file can be shown or the
// module cannot be loaded, 2 without files.
int run_view(const std::vector<std::string>& files);

// The viewer module's entry point (view.cpp), found by name; the same files
// and exit codes as run_view.
extern "C" int korvex_view_main(const std::vector<std::string>& files);
