// Renders print pages into a PDF file with cairo: one page per sheet, each
// holding one image drawn into a rectangle given in millimetres.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "print/layout.h"
#include "raster/image.h"

namespace korvex::print {

class PageWriter {
 public:
  // Opens the file; sizes are the sheet in millimetres.
  PageWriter(const std::string& path, double sheet_width_mm, double sheet_height_mm);
  ~PageWriter();
  PageWriter(const PageWriter&) = delete;
  PageWriter& operator=(const PageWriter&) = delete;

  raster::Status status() const { return status_; }
  // Draws the active frame of an image as one page (a rectangle in
  // millimetres from the sheet's top-left), resampled with a high-quality
  // filter and no edge smoothing.
  raster::Status add_page(raster::Image& img, const RectMM& rect);
  // Completes the file.
  raster::Status finish();

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
  raster::Status status_ = raster::Status::Ok;
};

}  // namespace korvex::print
