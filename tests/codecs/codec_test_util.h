// Helpers shared by the codec tests: scratch folders, files, peer tools.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "raster/codec.h"
#include "raster/image.h"

namespace korvex::testutil {

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

// Decodes bytes with whatever decoder claims them.
raster::Status decode(const std::vector<uint8_t>& bytes, std::unique_ptr<raster::Image>& out);
// Every pixel of the active frame as 32bppARGB, row after row.
std::vector<uint32_t> argb_pixels(raster::Image& img);
// Pixels of an image file as ImageMagick reads them: RGBA bytes, row after row.
std::vector<uint8_t> magick_rgba(const std::string& path, int32_t* width = nullptr,
                                 int32_t* height = nullptr, int frame = 0);
// The same pixels in 32bppARGB order for comparison with argb_pixels().
std::vector<uint32_t> rgba_to_argb(const std::vector<uint8_t>& rgba);
// Finds an encoder by one of its patterns ("*.png").
const raster::Encoder* encoder_for(const std::string& pattern);

}  // namespace korvex::testutil
