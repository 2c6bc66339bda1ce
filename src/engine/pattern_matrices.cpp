// The 3 x 3 pattern matrices: matrices the caller creates, the
// match-and-replace filter between two of them, and the two fixed 1-bit
// clean-ups built on it.
#include <cstddef>
#include <cstdint>

#include "engine/effects.h"
#include "engine/state.h"
#include "korvex/engine.h"
#include "processing/filter_engine.h"

namespace korvex {

namespace {

constexpr uint32_t kOpaqueWhite = 0xFFFFFFFFu, kOpaqueBlack = 0xFF000000u;

cKorvexStatus RunPatterns(cKorvex& k, const filters::Pattern3x3& in,
                          const filters::Pattern3x3& out) {
  filters::FilterParams p;
  p.patterns.in = in;
  p.patterns.out = out;
  return RunEffect(k, filters::kMatrix3x3, p);
}

// One pixel of `centre` with all eight neighbours `around`.
filters::Pattern3x3 Isolated(uint32_t centre, uint32_t around) {
  filters::Pattern3x3 m;
  m.fill(around);
  m[4] = centre;
  return m;
}

}  // namespace

int32_t cKorvex::MatrixCreate3x3x(int32_t n1PixelValue, int32_t n2PixelValue, int32_t n3PixelValue,
                                  int32_t n4PixelValue, int32_t n5PixelValue, int32_t n6PixelValue,
                                  int32_t n7PixelValue, int32_t n8PixelValue,
                                  int32_t n9PixelValue) {
  for (int32_t v : {n1PixelValue, n2PixelValue, n3PixelValue, n4PixelValue, n5PixelValue,
                    n6PixelValue, n7PixelValue, n8PixelValue, n9PixelValue}) {
    s_->Matrices3x3.push_back(static_cast<uint32_t>(v));
  }
  s_->LastStatus = cKorvexStatus::Ok;
  return static_cast<int32_t>(s_->Matrices3x3.size() / 9);
}

cKorvexStatus cKorvex::MatrixFilter3x3x(int32_t nMatrix3x3xIN, int32_t nMatrix3x3xOUT) {
  const int32_t count = static_cast<int32_t>(s_->Matrices3x3.size() / 9);
  if (s_->NativeImage == 0 || nMatrix3x3xIN < 1 || nMatrix3x3xIN > count || nMatrix3x3xOUT < 1 ||
      nMatrix3x3xOUT > count) {
    return s_->LastStatus;
  }
  filters::Pattern3x3 in, out;
  for (size_t i = 0; i < 9; ++i) {
    in[i] = s_->Matrices3x3[static_cast<size_t>(nMatrix3x3xIN - 1) * 9 + i];
    out[i] = s_->Matrices3x3[static_cast<size_t>(nMatrix3x3xOUT - 1) * 9 + i];
  }
  return RunPatterns(*this, in, out);
}

cKorvexStatus cKorvex::MatrixFilter1bpp3x3x(int32_t nMatrix3x3xIN, int32_t nMatrix3x3xOUT) {
  return MatrixFilter3x3x(nMatrix3x3xIN, nMatrix3x3xOUT);
}

cKorvexStatus cKorvex::Filter1bppParasite() {
  filters::Pattern3x3 out;
  out.fill(kOpaqueWhite);
  return RunPatterns(*this, Isolated(kOpaqueBlack, kOpaqueWhite), out);
}

cKorvexStatus cKorvex::Filter1bppDilate8() {
  filters::Pattern3x3 out;
  out.fill(kOpaqueBlack);
  return RunPatterns(*this, Isolated(kOpaqueBlack, kOpaqueWhite), out);
}

}  // namespace korvex
