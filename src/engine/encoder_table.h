// The engine's table of encoders: CLSIDs in listing order and a
// case-insensitive map from file-name pattern ("*.jpg") to encoder index.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "raster/types.h"

namespace korvex {

struct EncoderTable {
  std::vector<raster::Guid> clsids;
  std::map<std::string, int32_t> patterns;  // keys in lower case

  // Fills the table from a list of (CLSID, ";"-separated pattern list).
  void build(const std::vector<std::pair<raster::Guid, std::string>>& encoders);
  // Index of the encoder for a pattern, -1 when absent.
  int32_t lookup(const std::string& pattern) const;
  void clear();
};

}  // namespace korvex
