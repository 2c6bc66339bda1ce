// The Boolean checks on the native image's filter zone: grayscale and blank.
#include <cstdint>

#include "engine/effects.h"
#include "korvex/engine.h"
#include "processing/filter_engine.h"

namespace korvex {

bool cKorvex::IsGrayscale() {
  return TestImage(*this, filters::kIsGrayscaleTest, filters::FilterParams{});
}

bool cKorvex::IsBlank(int32_t nConfidence) {
  filters::FilterParams p;
  p.blank_confidence = nConfidence;
  return TestImage(*this, filters::kIsBlankTest, p);
}

}  // namespace korvex
