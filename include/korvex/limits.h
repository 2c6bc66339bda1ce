// Resource limits: how large an image, an input and an inflated stream may
// grow before Korvex refuses it with a status, kept in one place for the
// whole process. Every decoder, image source, download, PDF page render and
// scanner transfer reads its limits here, before it allocates.
//
//   Limit          default              refused with                  environment
//   Pixels         1 << 30 (1 Gpixel)   OutOfMemory                   KORVEX_MAX_PIXELS
//     pixels of one bitmap (width x height), whatever its pixel format
//   PixelBytes     4 GiB                OutOfMemory                   KORVEX_MAX_PIXEL_BYTES
//     pixel memory of one bitmap (padded rows x height)
//   DownloadBytes  256 MiB              GenericError (HTTP),          KORVEX_MAX_DOWNLOAD_BYTES
//                                       OutOfMemory (pipe, stream)
//     encoded bytes read from an input whose length is not known in
//     advance or is announced by the sender: an HTTP body, a pipe, a
//     device, a Stream; the engines' and viewers' URL length members can
//     only lower it for their own transfers
//   InflateRatio   250                  OutOfMemory (PNG, TIFF),      KORVEX_MAX_INFLATE_RATIO
//                                       412 (PDF page render)
//     how many times its encoded size a PNG image, a TIFF page or a stream
//     of a PDF page may grow when decoded; streams that decode to at most
//     kInflateRatioFreeBytes are never refused on their ratio, so ordinary
//     blank pages and small flat images always load
//
// The environment is read once, when the limits are first used: a variable
// holding a whole decimal number from 1 up (digits only, no sign, spaces or
// suffix, no overflow) replaces the default; any other value is ignored and
// the default kept. SetLimit changes a limit for the whole process from then
// on. All functions may be called from any thread at any time: each limit is
// one atomic value, and an operation reads the limits it needs when it checks
// its sizes, so a change affects the operations that start after it.
#pragma once

#include <cstdint>

namespace korvex {

enum class Limit : int32_t {
  Pixels = 0,
  PixelBytes = 1,
  DownloadBytes = 2,
  InflateRatio = 3,
};
inline constexpr int32_t kLimitCount = 4;

// Decoded bytes a stream may always reach, whatever its ratio.
inline constexpr uint64_t kInflateRatioFreeBytes = uint64_t{64} << 20;

// The current value of a limit; 0 for a value outside the enumeration.
uint64_t GetLimit(Limit which);
// Sets a limit for the whole process. False (and nothing changed) for a
// value below 1 or a limit outside the enumeration.
bool SetLimit(Limit which, uint64_t value);
// The built-in default of a limit, before the environment; 0 outside the enumeration.
uint64_t DefaultLimit(Limit which);
// Puts every limit back to its default, with the environment read again.
void ResetLimits();
// The limit's name as the environment and the Python module spell it after
// their prefixes ("pixels", "pixel_bytes", "download_bytes", "inflate_ratio");
// empty outside the enumeration.
const char* LimitName(Limit which);

}  // namespace korvex
