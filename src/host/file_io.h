// Whole-file reads and crash-safe whole-file writes.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "raster/types.h"

namespace korvex::host {

// Reads a whole file. FileNotFound when it does not exist, AccessDenied when
// it may not be read, Win32Error for other I/O failures (a folder, say).
raster::Status read_whole_file(const std::string& path, std::vector<uint8_t>& out);

// Writes bytes to a temporary file in the target's folder, flushes it to
// disk and renames it over the target, so the target is either the old file
// or the complete new one. An existing target's permissions are kept.
raster::Status write_file_atomically(const std::string& path, const uint8_t* data, size_t size);

// The file a save to `path` replaces: a symbolic link is followed, so the
// link stays and its file gets the new contents.
std::string save_path(const std::string& path);

// Permission bits for a file written over `path`: those of the file it
// replaces, or 0666 less the process umask for a new one.
unsigned new_file_mode(const std::string& path);

// Status of a failed file operation's errno.
raster::Status status_from_errno(int err);

}  // namespace korvex::host
