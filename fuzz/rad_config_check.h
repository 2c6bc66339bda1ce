// Invariants of the recognition configuration reader, shared by the fuzz
// harness and the test that replays its corpus: a refused file leaves the
// families as they were; an accepted one, written back, gives the bytes it
// was read from (up to the bytes after its last family), and a count below 1
// gives no families.
#pragma once

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "recognition/rad.h"

namespace korvex {

inline std::string rad_config_check(const uint8_t* data, size_t size) {
  using recognition::Family;
  std::vector<Family> families(1);
  families[0].name = "untouched";
  const std::vector<Family> before = families;
  if (recognition::ParseConfig(data, size, families) != raster::Status::Ok) {
    return families == before ? "" : "a refused file changed the families";
  }
  std::vector<uint8_t> written;
  if (recognition::WriteConfig(families, written) != raster::Status::Ok)
    return "accepted families cannot be written back";
  if (families.empty()) {
    return written == std::vector<uint8_t>(4, 0) ? "" : "no families are not written as count 0";
  }
  if (written.size() > size || std::memcmp(written.data(), data, written.size()) != 0)
    return "written back, the families differ from the bytes they were read from";
  return "";
}

}  // namespace korvex
