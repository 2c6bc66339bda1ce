// The encoder table: file-name patterns to encoders, first listed wins.
#include "engine/encoder_table.h"

#include <algorithm>
#include <cctype>

#include "engine/paths.h"
#include "raster/strings.h"

namespace korvex {

void EncoderTable::build(const std::vector<std::pair<raster::Guid, std::string>>& encoders) {
  clear();
  for (const auto& e : encoders) clsids.push_back(e.first);
  // From the last encoder to the first, so that the first one listed wins a
  // pattern that several encoders claim.
  for (size_t i = encoders.size(); i-- > 0;) {
    const std::string& list = encoders[i].second;
    size_t start = 0;
    while (true) {
      const size_t semi = list.find(';', start);
      if (semi == std::string::npos) {
        const std::string last = TrimSpaces(list.substr(start));
        if (!last.empty()) patterns[LowerCase(last)] = static_cast<int32_t>(i);
        break;
      }
      patterns[LowerCase(list.substr(start, semi - start))] = static_cast<int32_t>(i);
      start = semi + 1;
    }
  }
}

int32_t EncoderTable::lookup(const std::string& pattern) const {
  auto it = patterns.find(LowerCase(pattern));
  return it == patterns.end() ? -1 : it->second;
}

void EncoderTable::clear() {
  clsids.clear();
  patterns.clear();
}

}  // namespace korvex
