// Pictures decoded and encoded a band of rows at a time, top to bottom.
//
// A codec that can work through a picture row by row offers a band reader
// (its decoder) and a band writer (its encoder); its whole-image decode and
// encode are a loop over them, so both ways give the same pixels and bytes.
// Whole commands that never need the whole picture at once (load, per-pixel
// effects, save) run through them with a few bands in memory.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "raster/codec.h"
#include "raster/image.h"
#include "raster/types.h"

namespace korvex::raster {

// What a decoder knows before the first row, and what an encoder needs
// besides the rows: the size, the stored pixel format and palette, the
// resolution and the metadata items.
struct BandPicture {
  int32_t width = 0;
  int32_t height = 0;
  PixelFormat format = pf::kUndefined;
  Palette palette;
  float dpi_x = 96.0f;
  float dpi_y = 96.0f;
  std::vector<PropertyItem> properties;
};

// The description of an image's active frame.
BandPicture band_picture_of(const Image& img);

// Rows of one picture, in order. Statuses as the codec's decoder (codec.h);
// after a failure every later call fails the same way.
class BandReader {
 public:
  virtual ~BandReader() = default;
  const BandPicture& picture() const { return picture_; }
  // Decodes the next `rows` rows into `dst` (`stride` bytes apart, rows in
  // the picture's format). The call that reaches the last row also checks
  // that the data ended as a complete picture.
  virtual Status read(uint8_t* dst, ptrdiff_t stride, int32_t rows) = 0;

 protected:
  BandPicture picture_;
};

// Rows of one picture going into a byte sink, in order; finish() completes
// the bytes once every row has been written. A writer that chooses its
// settings from rows all over the picture (a PNG encoder's row filter, the
// highest index of a short palette) asks for an analysis pass: every row,
// in order, through analyse() before the first write().
class BandWriter {
 public:
  virtual ~BandWriter() = default;
  virtual bool analyses() const { return false; }
  virtual Status analyse(const uint8_t* /*src*/, ptrdiff_t /*stride*/, int32_t /*rows*/) {
    return Status::Ok;
  }
  virtual Status write(const uint8_t* src, ptrdiff_t stride, int32_t rows) = 0;
  virtual Status finish() = 0;
};

using BandReaderOpener = Status (*)(const EncodedBytes& in, std::unique_ptr<BandReader>& out);
// A reader straight from an open regular file of `size` bytes (read with
// pread, the whole file never in memory); NotImplemented when the file is
// better read whole and given to the codec's memory reader or decoder.
using BandFileReaderOpener = Status (*)(int fd, uint64_t size, std::unique_ptr<BandReader>& out);
using BandWriterOpener = Status (*)(const BandPicture& picture, const EncoderParams& params,
                                    ByteSink& sink, std::unique_ptr<BandWriter>& out);

// Registered beside the codec's decoder and encoder, and found by them, so
// a codec standing in for another under the same name or CLSID never gets
// the other's bands.
void register_band_reader(const Decoder& decoder, BandReaderOpener open);
void register_band_file_reader(const Decoder& decoder, BandFileReaderOpener open);
void register_band_writer(const Encoder& encoder, BandWriterOpener open);
// Null when the codec has none.
BandReaderOpener band_reader_for(const Decoder& decoder);
BandFileReaderOpener band_file_reader_for(const Decoder& decoder);
BandWriterOpener band_writer_for(const Encoder& encoder);

// The whole picture through a reader: one surface, checked against the
// pixel limits before it is allocated, filled in one read; the result is a
// single-frame image of raw format `raw_format`.
Status decode_through_bands(BandReader& reader, const Guid& raw_format,
                            std::unique_ptr<Image>& out);

}  // namespace korvex::raster
