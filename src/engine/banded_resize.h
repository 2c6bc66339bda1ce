// A resize inside a whole command run in bands: "load, point effects,
// Resize, point effects, save" with a few bands of source and destination
// rows in memory instead of both whole pictures.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "engine/banded.h"
#include "processing/filter_engine.h"
#include "raster/bands.h"
#include "raster/resample.h"

namespace korvex {

class BandedResize {
 public:
  // Resize, ResizeHeightRatio or ResizeWidthRatio with every argument;
  // null for any other call.
  static std::unique_ptr<BandedResize> FromCall(const BandedCall& c);
  ~BandedResize();

  // A point effect on the resized picture; false when it needs a figure of
  // the whole resized picture first (those stay on the member path).
  bool AddEffect(int32_t effect, const filters::FilterParams& params);

  // Turns the decoded picture's description into the one the resize member
  // leaves (size, palette, resolution, metadata items); a failing status
  // when the member would fail or the bands cannot give its pixels.
  raster::Status Start(raster::BandPicture& picture);

  // Puts in place of `w` a writer that takes the decoded (and effected)
  // source rows in order and hands the resized rows, through the later
  // effects, to the writer it replaces, which it owns and finishes; when
  // that writer asks for an analysis pass, so does this one, and the rows of
  // both passes are resized alike. After Start; to be released before this
  // object.
  raster::Status Over(std::unique_ptr<raster::BandWriter>& w);

 private:
  class Writer;
  struct Effect {
    int32_t effect = 0;
    filters::FilterParams params;
  };
  enum class Kind { Both, HeightRatio, WidthRatio };

  // A new resampler from the top of the picture, keeping no rows of an
  // earlier pass.
  raster::Status Restart();

  Kind kind_ = Kind::Both;
  int32_t width_ = 0, height_ = 0, mode_ = 0;
  std::vector<Effect> effects_;
  raster::BandPicture source_;
  raster::BandPicture target_;
  raster::RowResampler::Picture rows_from_, rows_to_;  // the resampler's pictures
  std::unique_ptr<raster::RowResampler> resampler_;
};

}  // namespace korvex
