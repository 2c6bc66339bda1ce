// Whole commands in bands: "load one file, pixel effects, save one file"
// with a few bands of rows in memory instead of the whole picture.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace korvex {

// One member call with every parameter given (defaults filled in): Long
// arguments as numbers, String arguments as text.
struct BandedArg {
  bool is_text = false;
  int32_t number = 0;
  std::string text;
};
struct BandedCall {
  std::string member;
  std::vector<BandedArg> args;
};

// Runs the calls band by band when they are LoadFromFile, zero or more
// effects (BandedEffectMember), at most one resize among them
// (engine/banded_resize.h), then one save whose encoder takes bands (or
// SaveAsPdf of a 24-bit picture, whose JPEG stream does), and the bands
// give exactly the file the members would write one
// after another on a new engine (same pixels, metadata, resolution and
// bytes). True when it did so: every member would have returned Ok and the
// file is in place. False when the command has another shape or anything
// failed: then nothing was written (a save's target is as it was) and the
// caller runs the members one by one, which gives a failure its exact
// status and state.
bool RunBanded(const std::vector<BandedCall>& calls);

// Rows per band for a picture `width` pixels wide (tests set a count;
// 0 restores the default of about 1 MB of work pixels per band).
int32_t BandedRows(int32_t width);
void SetBandedRowsForTesting(int32_t rows);

}  // namespace korvex
