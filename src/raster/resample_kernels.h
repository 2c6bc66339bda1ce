// The resampler's filter taps and its two separable passes, shared by every
// way of driving it (a whole image, or a band of rows at a time): the same
// taps and passes give the same bytes whatever rows a call covers.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace korvex::raster::resampling {

// Bytes of slack after a row of 3-byte pixels: the vector loads read up to
// four bytes past the last pixel.
constexpr size_t kSlack = 16;

enum class Kernel { Triangle, Cubic };

// Taps of one axis. For output i: `count[i]` consecutive source samples from
// `start[i]` (relative to the source rectangle) with weights from
// `offset[i]`. The padded form gives every output the same number of groups of
// four taps: `groups` groups from `pstart[i]`, weights `pw[i * 4 * groups ...]`
// with zeros in the unused places; pstart is pulled back from the far end so
// that no group reads past the source. It exists only when the source holds
// at least 4 * groups samples.
struct Taps {
  std::vector<int32_t> start, count, offset;
  std::vector<int16_t> weights;
  int32_t max_count = 0;
  int32_t groups = 0;
  std::vector<int32_t> pstart;
  std::vector<int16_t> pw;
  // pw laid out for the AVX2 horizontal pass: per group 16 values, the pair
  // (w0, w1) four times then (w2, w3) four times.
  std::vector<int16_t> pw_wide;
  // Weights of output i packed in pairs (low half the first tap), for the
  // vertical multiply-add; an odd count ends with a zero partner.
  std::vector<int32_t> pairs, pair_offset;
};

// Filter taps for `dst_len` outputs over `src_len` inputs. Output i is centred
// on source coordinate (i + 0.5) * scale; when `widen` and shrinking, the
// kernel is stretched by the scale factor (area-correct prefiltering). Taps
// past either end fold onto the border sample.
Taps make_taps(int32_t src_len, int32_t dst_len, Kernel k, bool widen);

// Horizontal pass over `channels`-byte pixels (3 or 4): `in` holds the
// source rectangle's row, `out` gets one pixel per output and nothing past
// them. For 3-byte pixels the input needs kSlack readable bytes past its end.
void horizontal_pass(const Taps& tx, int channels, bool avx2, const uint8_t* in, uint8_t* out);

// Vertical pass for output row `yi`: out[i] = sum over its taps of weight *
// rows[tap][i] for i < n, any layout. `rows` holds an even number of entries
// (the last repeated for an odd tap count; its pair weight is zero).
void vertical_pass(const Taps& ty, size_t yi, bool avx2, const uint8_t* const* rows, int32_t n,
                   uint8_t* out);

}  // namespace korvex::raster::resampling
