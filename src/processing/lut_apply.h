// Whole-buffer kernels shared by the point effects: per-channel 256-entry
// lookup tables, the negative and the (R + G + B) / 3 gray. They run with
// AVX-512 byte permutes where the processor has them and as plain loops
// elsewhere; both give the same bytes.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

namespace korvex::filters {

using Lut = std::array<uint8_t, 256>;

// Maps the red, green and blue bytes of n 32bppARGB pixels through their
// tables; alpha is kept.
void ApplyLut3(uint32_t* px, size_t n, const Lut& red, const Lut& green, const Lut& blue);
// As ApplyLut3 with one table for the three channels, except that pixels
// with a channel whose `outside` flag is set are replaced by fix(original).
void ApplyLutWithExceptions(uint32_t* px, size_t n, const Lut& table, const Lut& outside,
                            uint32_t (*fix)(uint32_t, const void*), const void* ctx);
// R, G, B <- 255 - R, G, B.
void ApplyNegative(uint32_t* px, size_t n);
// R = G = B = round((R + G + B) / 3).
void ApplyGrayscale(uint32_t* px, size_t n);

// Sum over n pixels of floor((R + G + B) / 3), 64-bit.
uint64_t SumGray(const uint32_t* px, size_t n);
// R = G = B = 255 where R + G + B >= limit[x mod 4], else 0; alpha is kept.
void ThresholdRow4(uint32_t* row, size_t n, const uint32_t limit[4]);
// Contrast's table step: b, g, r = table[B], table[G], table[R] (signed, not
// clamped); a pixel with a value outside 0..255 hands half of each excess to
// its two other channels until all three fit. Returns false, changing
// nothing, when no vector path can take the table (the caller then runs its
// own loop).
bool ApplyContrastTable(uint32_t* px, size_t n, const int32_t table[256]);

// True when the AVX2 versions of the row kernels may run.
bool UseAvx2Kernels();

// Turns the vector paths off (true) to test the plain loops against them, on
// the calling thread; helper threads running bands of the same effect take
// the caller's setting over.
void ForceScalarKernelsForTesting(bool scalar);
bool ScalarKernelsForced();

}  // namespace korvex::filters
