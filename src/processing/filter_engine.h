// The pixel-filter engine: one dispatcher runs every numbered effect over the
// filter zone of an image and writes the result back in the image's own
// pixel format.
//
// Effects work on a zone of W x H 32-bit pixels laid out as 32bppARGB
// (in memory B, G, R, A), rows packed with no gap. Where the image itself is
// 32bppARGB and the zone spans whole rows, that is the image's own memory.
// Otherwise the zone passes through a small 32-bit buffer in bands of rows
// (read a band, run the effect, write the band back), with the rows a
// neighbourhood effect needs above and below a band carried along, so the
// result is the one a whole-zone buffer would give.
#pragma once

#include <array>
#include <cstdint>
#include <vector>

#include "raster/image.h"
#include "raster/types.h"

namespace korvex::filters {

// Effect numbers of the dispatcher.
enum FilterEffect : int32_t {
  kSharpen = 1,
  kNegative = 2,
  kBlur = 3,
  kDiffuse = 4,
  kSmooth = 5,
  kEdgeEnhance = 6,
  kContour = 7,
  kEmboss = 8,
  kEmbossMore = 9,
  kEngrave = 10,
  kEngraveMore = 11,
  kGrayscale = 12,
  kRelief = 13,
  kBrightness = 14,
  kPixelize = 15,
  kSwapChannels = 16,
  kContrast = 17,
  kThresholdBW = 18,
  kOrderedDitherBW = 19,
  kDiffusionDitherBW = 20,
  kAqua = 24,
  kDilate = 25,
  kErode = 26,
  kConnectedContour = 27,
  kStretch = 28,
  kAddNoise = 29,
  kSaturation = 30,
  kGamma = 31,
  kScanLine = 32,
  kSoften = 33,
  kColorize = 34,
  kTransparency = 35,
  kIsGrayscaleTest = 36,
  kHWaves = 37,
  kVWaves = 38,
  kAdjustRGB = 39,
  kRedEyes = 40,
  kKeepRed = 41,
  kKeepGreen = 42,
  kKeepBlue = 43,
  kRemoveRed = 44,
  kRemoveGreen = 45,
  kRemoveBlue = 46,
  kScaleRed = 47,
  kScaleGreen = 48,
  kScaleBlue = 49,
  kTransparentColor = 50,
  kSwapColor = 51,
  kMatrix3x3 = 52,
  kIsBlankTest = 53,
};

// A 3 x 3 colour pattern, element 0 top-left, row by row.
using Pattern3x3 = std::array<uint32_t, 9>;

// Colorize: hue in sextants (as HslToRgb takes it), saturation and
// luminosity as factors (1 = 100 %).
struct ColorizeParams {
  float hue = 0.0f;
  float saturation = 0.0f;
  float luminosity = 0.0f;
};

// AdjustRGB: signed offsets added to each channel.
struct RgbOffsets {
  int32_t red = 0;
  int32_t green = 0;
  int32_t blue = 0;
};

// TransparentColor makes `from` transparent; SwapColor turns `from` into
// `to`. Both ARGB.
struct ColorSwap {
  uint32_t from = 0;
  uint32_t to = 0;
};

// Horizontal and vertical waves: the shift's amplitude and its period, in
// pixels.
struct WaveParams {
  int32_t amplitude = 0;
  int32_t period = 0;
};

// The 3 x 3 match-and-replace: the pattern to find (IN) and the pattern
// written in its place (OUT).
struct PatternPair {
  Pattern3x3 in{};
  Pattern3x3 out{};
};

// Parameters of one effect call, one member per effect family. `param` is
// the single scalar of the effects that take one: a percentage, factor,
// exponent, radius, mode number or COLORREF, integers and singles alike.
struct FilterParams {
  double param = 0.0;
  ColorizeParams colorize;
  RgbOffsets offsets;
  ColorSwap colors;
  WaveParams waves;
  PatternPair patterns;
  int32_t blank_confidence = 0;  // IsBlankTest: the percentage of paper required
};

// Outcome of a dispatcher call: the raster status, and for the two analysis
// effects (grayscale and blank tests) their answer, 1 or 0.
struct FilterResult {
  raster::Status status = raster::Status::Ok;
  int32_t answer = 0;
};

// Runs one effect over the zone of `image` (zone x and y 0-based). An empty
// zone does nothing; a zone not inside the image gives InvalidParameter and
// leaves the image untouched.
FilterResult ApplyPixelFilter(int32_t effect, raster::Image& image, const FilterParams& p,
                              const raster::Rect& zone);

// The zone's pixels, W x H, rows packed.
struct Pixels {
  uint32_t* px;
  int32_t w;
  int32_t h;
  uint32_t* row(int32_t y) const { return px + static_cast<size_t>(y) * static_cast<size_t>(w); }
};

// Whole commands that stream a 24bppRGB picture through in bands of rows,
// each seen once and in order (after one pass per NeedsZoneStats effect to
// gather its figures; neighbourhood effects through RunNeighbourhoodRows on
// windows holding their reach): true when `effect` with `p` gives there
// exactly the pixels ApplyPixelFilter gives on the whole picture. The rows
// go to and from work pixels as that path converts them.
bool RunsOnStreamedRows(int32_t effect, const FilterParams& p);
void Rgb24RowToWork(const uint8_t* src, uint32_t* dst, size_t n);
void WorkRowToRgb24(const uint32_t* src, uint8_t* dst, size_t n);

// HSL to RGB with the hue in sextants (-1 <= h < 5; red 0, yellow 1, green 2,
// cyan 3, blue 4, magenta 5 or -1), saturation and lightness in 0..1; the
// channels are rounded half to even after scaling by 255, not clamped.
void HslToRgb(double h, double s, double l, int32_t& r, int32_t& g, int32_t& b);

// ---- effect routines (run by the dispatcher) ---------------------------------

// Where a band of rows lies in the zone, and what the effects that run band
// by band carry from one band to the next: the whole-zone figures gathered
// in a first pass (the gray mean of Contrast and DiffusionDitherBW, the
// channel ranges of Stretch) and the error rows of DiffusionDitherBW.
struct BandContext {
  int32_t top = 0;        // zone row of the band's first row
  int32_t zone_h = 0;     // rows in the whole zone
  uint64_t gray_sum = 0;  // sum of floor((R + G + B) / 3), 64-bit for huge zones
  uint64_t pixels = 0;
  uint32_t lo[3] = {255, 255, 255};  // per channel B, G, R
  uint32_t hi[3] = {0, 0, 0};
  std::vector<int32_t> err_cur, err_next;
};

// True for the effects that need a whole-zone figure before their first
// pixel; GatherZoneStats adds one band's pixels to it.
bool NeedsZoneStats(int32_t effect);
void GatherZoneStats(int32_t effect, const Pixels& band, BandContext& ctx);

// Point effects. Returns false when the routine has no meaningful result for
// the parameters given (the image is then left unchanged). Without a band
// context the pixels are the whole zone; with one they are the band it
// describes, and the figures of NeedsZoneStats effects are already gathered.
bool RunPointEffect(int32_t effect, const Pixels& z, const FilterParams& p,
                    BandContext* band = nullptr);
// The two analysis effects: grayscale (1 when every pixel has R = G = B) and
// blank (1 when the zone holds few enough ink pixels for the confidence).
int32_t IsGrayscaleZone(const Pixels& z);
int32_t IsBlankZone(const Pixels& z, int32_t confidence);
// The blank test in two steps for a zone seen band by band: ink pixels of
// one band, then the answer for the whole zone's count.
uint64_t CountInkPixels(const Pixels& z, int32_t confidence);
int32_t IsBlankAnswer(int32_t w, int32_t h, int32_t confidence, uint64_t ink);
// Neighbourhood effects; same convention as RunPointEffect.
bool RunNeighbourhoodEffect(int32_t effect, const Pixels& z, const FilterParams& p);

// How far a neighbourhood effect reaches across rows: a row's result
// depends on the `above` rows over it and the `below` rows under it. Copy
// effects (`reads_source`) see the rows above as they were; in-place
// effects see them already computed, so their rows above must be the
// results. Pixelize works in blocks of `align` rows from the zone's top.
// Effects whose reach has no bound (Diffuse, waves) are not `bounded`.
struct RowReach {
  bool bounded = false;
  int32_t above = 0, below = 0;
  bool reads_source = false;
  int32_t align = 1;
};
RowReach NeighbourhoodReach(int32_t effect, const FilterParams& p);

// Rows [top, top + px.h) of a zone zone_h rows high.
struct RowWindow {
  Pixels px;
  int32_t top = 0;
  int32_t zone_h = 0;
};

// The one routine of the bounded neighbourhood effects, for a whole zone
// or a window of it: computes window rows [first, last), as the whole zone
// gives them, where first is 0 at the zone's top and `above` elsewhere,
// and last is px.h at the zone's bottom and px.h - `below` elsewhere. Rows
// before `first` hold what the effect sees there (see RowReach); rows from
// `last` on hold source rows and are left as they are. False for an
// unbounded effect, parameters without a result, or a window that does not
// start and end on Pixelize's blocks.
bool RunNeighbourhoodRows(int32_t effect, const RowWindow& w, const FilterParams& p);
// The 3 x 3 match-and-replace filter with the given IN and OUT patterns.
void RunPatternMatch(const Pixels& z, const PatternPair& patterns);

bool IsPointEffect(int32_t effect);
bool IsNeighbourhoodEffect(int32_t effect);

// Uniform random numbers in [0, 1) for AddNoise and Diffuse: one fast
// generator per thread, seeded from the clock at first use.
double NextUniform();

}  // namespace korvex::filters
