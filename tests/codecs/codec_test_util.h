// Helpers shared by the codec tests: scratch folders, files, peer tools.
#pragma once

#include <algorithm>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "raster/bands.h"
#include "raster/codec.h"
#include "raster/image.h"

namespace korvex::testutil {

using Bytes = std::vector<uint8_t>;
using Pixels = std::vector<uint32_t>;  // 32bppARGB values

// A fresh folder under the temporary directory, removed with the object.
class ScratchDir {
 public:
  ScratchDir();
  ~ScratchDir();
  const std::string& path() const { return path_; }
  std::string file(const std::string& name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

std::vector<uint8_t> read_file(const std::string& path);
void write_file(const std::string& path, const std::vector<uint8_t>& bytes);
// Runs a shell command; returns its exit status (stdout is captured into `out` when given).
int run(const std::string& command, std::string* out = nullptr);
// ImageMagick's convert (the real one, not a wrapper on PATH).
std::string convert_tool();

// A w x h picture whose rows and columns differ: index patterns in indexed formats, else
// colours with varied alpha.
std::unique_ptr<raster::Image> pattern_image(raster::PixelFormat f, int32_t w = 29, int32_t h = 13);
// Decodes bytes with whatever decoder claims them.
raster::Status decode(const std::vector<uint8_t>& bytes, std::unique_ptr<raster::Image>& out);
// The status of decoding bytes, the image dropped.
raster::Status status_of(const std::vector<uint8_t>& bytes);
// Lowers the pixel memory limit for its lifetime; the 4 GiB default comes back after.
struct PixelLimit {
  explicit PixelLimit(uint64_t bytes) { raster::set_pixel_memory_limit(bytes); }
  ~PixelLimit() { raster::set_pixel_memory_limit(uint64_t{4} << 30); }
};
// Every pixel of the active frame as 32bppARGB, row after row.
std::vector<uint32_t> argb_pixels(raster::Image& img);
// Pixels of an image file as ImageMagick reads them: RGBA bytes, row after row.
std::vector<uint8_t> magick_rgba(const std::string& path, int32_t* width = nullptr,
                                 int32_t* height = nullptr, int frame = 0);
// The same pixels in 32bppARGB order for comparison with argb_pixels().
std::vector<uint32_t> rgba_to_argb(const std::vector<uint8_t>& rgba);
// Both at once.
Pixels magick_argb(const std::string& path, int32_t* width = nullptr, int32_t* height = nullptr,
                   int frame = 0);
// Finds an encoder by one of its patterns ("*.png").
const raster::Encoder* encoder_for(const std::string& pattern);
// Encodes with the encoder for `pattern`, expecting `expect`.
std::vector<uint8_t> encode(const std::string& pattern, raster::Image& img,
                            const raster::EncoderParams& params = {},
                            raster::Status expect = raster::Status::Ok);
// Decodes bytes that must decode; a failure leaves a 1 x 1 image, so that the
// checks after it fail rather than crash.
std::unique_ptr<raster::Image> decode_ok(const std::vector<uint8_t>& bytes);
// The stored bytes of every row, padding excluded.
std::vector<uint8_t> stored_rows(const raster::Image& img);
// A property's value, empty when absent.
std::vector<uint8_t> property_bytes(const raster::Image& img, uint32_t id);
// A hand-made BMP file, or its packed DIB, with any header but OS/2 1.x's 12 bytes.
struct Bmp {
  int32_t w = 1, h = 1;
  uint32_t bits = 24, comp = 0;
  Bytes pixels{};
  Pixels table{};  // 0xRRGGBB
  uint32_t colors = 0, header = 40;
  Pixels masks{};  // in the header from 52 bytes on, after it otherwise
  int32_t ppm_x = 0, ppm_y = 0;
  int64_t offset = -1;  // pixels from the start of the file; -1: right after the table

  Bytes dib() const;    // info header, masks, table and pixels
  Bytes bytes() const;  // the file header, then dib()
};
// Appends `x` as `bytes` little-endian bytes.
void put_le(std::vector<uint8_t>& v, uint64_t x, int bytes);
// The largest difference in any channel (256 when the sizes differ), b's
// alpha taken as opaque when `opaque_b`.
int max_channel_diff(const std::vector<uint32_t>& a, const std::vector<uint32_t>& b,
                     bool opaque_b = false);
// Fully transparent pixels as 0: readers differ on the colour they keep there.
std::vector<uint32_t> clear_transparent(std::vector<uint32_t> argb);

// Encodes `img` through the band writer `open` makes, `band` rows at a time
// (after an analysis pass in bands of the same height when the writer asks).
using OpenBandWriter = raster::Status (*)(const raster::BandPicture&, const raster::EncoderParams&,
                                          raster::ByteSink&, std::unique_ptr<raster::BandWriter>&);
inline raster::Status encode_in_bands(OpenBandWriter open, const raster::Image& img,
                                      const raster::EncoderParams& params, int32_t band,
                                      std::vector<uint8_t>& out) {
  raster::MemorySink sink(out);
  std::unique_ptr<raster::BandWriter> w;
  raster::Status st = open(raster::band_picture_of(img), params, sink, w);
  const raster::Surface& s = img.surface();
  for (int32_t y = 0; st == raster::Status::Ok && w->analyses() && y < s.height; y += band)
    st = w->analyse(s.row(y), s.stride, std::min(band, s.height - y));
  for (int32_t y = 0; st == raster::Status::Ok && y < s.height; y += band)
    st = w->write(s.row(y), s.stride, std::min(band, s.height - y));
  return st == raster::Status::Ok ? w->finish() : st;
}

}  // namespace korvex::testutil
