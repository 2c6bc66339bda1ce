// The TIFF decoder's pieces shared by its whole-page decode and its band
// reader: how a page's samples become surface rows, and the page's strips
// or tiles read in order, a band of rows at a time.
#pragma once

#include <tiffio.h>

#include <cstddef>
#include <cstdint>
#include <vector>

#include "raster/codecs/tiff/tiff_internal.h"

namespace korvex::raster::tiffcodec {

enum class Layout {
  Indexed,    // one sample of 1, 4 or 8 bits: rows copied as they are
  Widen2To4,  // one 2-bit sample widened to a 4-bit index
  Color8,     // 8-bit gray or RGB, with or without alpha
  Color16,    // the same with 16-bit samples
  Rgba,       // libtiff's RGBA reader
};

struct PagePlan {
  uint32_t width = 0;
  uint32_t height = 0;
  uint16_t bps = 1;
  uint16_t spp = 1;
  bool separate = false;  // planes stored one after the other
  Layout layout = Layout::Rgba;
  PixelFormat format = pf::k32bppARGB;
  Palette palette;
  int colors = 1;       // 1 gray, 3 RGB (colour layouts)
  int alpha = -1;       // sample index of alpha, -1 when none
  bool invert = false;  // min-is-white gray in a colour layout
};

// How the current directory's page is decoded.
Status plan_page(TIFF* tif, PagePlan& p);

// The page's rows in order, for the layouts other than Rgba: strips or
// tiles are decoded one band at a time (one strip, or one row of tiles)
// and converted row by row into the surface's format.
class DirectRows {
 public:
  Status start(TIFF* tif, const PagePlan& p);
  // Converts the next `rows` rows into `dst`, `stride` bytes apart.
  Status read(uint8_t* dst, ptrdiff_t stride, uint32_t rows);

 private:
  Status load(uint32_t y0);

  TIFF* tif_ = nullptr;
  const PagePlan* p_ = nullptr;
  bool tiled_ = false;
  uint32_t tw_ = 0, th_ = 0;
  uint64_t row_bytes_ = 0, plane_row_bytes_ = 0, tile_row_bytes_ = 0, tile_bytes_ = 0;
  uint32_t band_rows_ = 0;
  std::vector<uint8_t> band_, plane_;
  uint32_t band_y0_ = 0, band_n_ = 0;  // rows held in band_
  uint32_t next_ = 0;                  // next row to deliver
};

// The page's resolution, when it has one.
void read_resolution(TIFF* tif, float& dpi_x, float& dpi_y);

// Decodes the handle's current directory into a frame; `diag` counts the
// handle's messages.
Status decode_page(TIFF* tif, const EncodedBytes& in, const Diagnostics& diag, Frame& f);

// One page a band of rows at a time straight from a file (raster/bands.h).
Status open_band_file_reader(int fd, uint64_t size, std::unique_ptr<BandReader>& out);

}  // namespace korvex::raster::tiffcodec
