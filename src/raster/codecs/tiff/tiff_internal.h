// Shared plumbing of the TIFF decoder and encoder: libtiff handles over
// memory, file descriptors and byte sinks, and quiet diagnostics.
//
// libtiff reports problems through handlers that print to stderr by default.
// Every handle we open gets per-handle handlers that only count the messages,
// and the few messages libtiff still routes through its process-wide handlers
// are swallowed while one of our calls is running on the thread (a
// LibtiffScope is alive); outside our calls they go on to the handlers that
// were installed before ours.
#pragma once

#include <tiffio.h>

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "raster/bands.h"
#include "raster/codec.h"
#include "raster/image.h"

namespace korvex::raster::tiffcodec {

// Marks the thread as running libtiff on our behalf (nestable).
class LibtiffScope {
 public:
  LibtiffScope();
  ~LibtiffScope();
  LibtiffScope(const LibtiffScope&) = delete;
  LibtiffScope& operator=(const LibtiffScope&) = delete;
};

// Messages counted for one handle.
struct Diagnostics {
  int errors = 0;
  int warnings = 0;
};

struct TiffCloser {
  void operator()(TIFF* tif) const {
    if (tif != nullptr) TIFFClose(tif);
  }
};
using TiffHandle = std::unique_ptr<TIFF, TiffCloser>;

// Bytes being read; must outlive the handle opened over them.
struct MemoryReader {
  const uint8_t* data = nullptr;
  size_t size = 0;
  uint64_t pos = 0;
};

// Opens a TIFF for reading over memory (mapped, so strips are decoded
// straight from the caller's bytes). Null when libtiff refuses the header or
// the first directory.
TiffHandle open_reader(MemoryReader& reader, Diagnostics& diag);

// An open file read with pread: no mapping, so a file cut short by another
// process meanwhile gives short reads (an error), never a fault.
struct FileReader {
  int fd = -1;
  uint64_t size = 0;
  uint64_t pos = 0;
};
TiffHandle open_file_reader(FileReader& reader, Diagnostics& diag);

// A byte sink (memory, or the temporary file of a save) as a seekable output.
TiffHandle open_sink_writer(ByteSink& sink, Diagnostics& diag);

// The codec entry points, registered together by tiff_register.cpp.
// True when a page of width x height pixels of `pixel_bits` bits, whose
// strips or tiles are stored in `file_size` bytes, may decode under the
// inflate ratio limit: a small file whose compressed strips declare a huge
// page (a run of zeros in Deflate, blank rows in Group 4) is refused before
// anything is allocated or inflated.
bool page_inflate_allowed(TIFF* tif, uint32_t width, uint32_t height, uint64_t pixel_bits,
                          uint64_t file_size);

bool sniff(const uint8_t* data, size_t size);
Status decode(const EncodedBytes& in, std::unique_ptr<Image>& out);
Status decode_file(int fd, uint64_t size, std::unique_ptr<Image>& out);
Status encode(Image& img, const EncoderParams& params, ByteSink& out);
Status open_frames(Image& first, const EncoderParams& params, ByteSink& sink,
                   std::unique_ptr<FrameWriter>& out);
// One page a band of rows at a time (raster/bands.h).
Status open_band_writer(const BandPicture& picture, const EncoderParams& params, ByteSink& sink,
                        std::unique_ptr<BandWriter>& out);

}  // namespace korvex::raster::tiffcodec
