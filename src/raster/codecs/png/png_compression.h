// Row filter and zlib settings of a PNG encode, chosen per picture.
//
// Two settings cover the pictures people save. Flat content (screenshots,
// drawings, scanned pages) compresses best unfiltered at zlib level 6, the
// settings libvips writes by default. Smooth content (photographs, gradients)
// shrinks to less than half with the Average row filter, and then zlib's
// run-length strategy finds nearly all of what its full match search would,
// several times faster. A sample of bands of rows is compressed both ways and
// the smaller wins; Flat is kept unless Smooth is clearly smaller, so a file
// is never noticeably larger than the unfiltered level-6 one.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

namespace korvex::raster::png {

struct Compression {
  int filters;   // PNG_FILTER_* mask for png_set_filter
  int strategy;  // Z_DEFAULT_STRATEGY or Z_RLE
  int level;     // zlib level
};

// Flat: no row filter, level 6, default strategy.
Compression flat_compression();

// A trial of both settings on bands of rows spread evenly over a picture of
// `height` rows, each row_bytes long with samples pixel_bytes apart. The
// rows it samples are given in order, next() telling which one it wants,
// so a writer can run it over the picture's rows in bands or pick them out
// of a whole surface.
class CompressionTrial {
 public:
  CompressionTrial(int32_t height, size_t row_bytes, size_t pixel_bytes);
  ~CompressionTrial();
  CompressionTrial(const CompressionTrial&) = delete;
  CompressionTrial& operator=(const CompressionTrial&) = delete;

  // The row it wants next; `height` once it has seen every one.
  int32_t next() const;
  // Row next(), row_bytes long.
  void row(const uint8_t* data);
  // The settings that compressed the sampled rows smaller.
  Compression result();

 private:
  struct Streams;
  int32_t first(size_t band) const;
  std::unique_ptr<Streams> streams_;
  int32_t height_;
  size_t row_bytes_, pixel_bytes_;
  size_t bands_ = 0;
  size_t band_ = 0;    // the band being sampled
  int32_t last_ = -1;  // the last row seen
};

}  // namespace korvex::raster::png
