// TIFF pages decoded straight from a file: the whole first page of a large
// single-page file, or its rows a band at a time. Only the metadata and the
// strips or tiles in use are read, with pread, never mapped.
#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <limits>
#include <memory>
#include <utility>
#include <vector>

#include "raster/codecs/ifd/ifd.h"
#include "raster/codecs/tiff/tiff_pages.h"
#include "raster/guard.h"

namespace korvex::raster::tiffcodec {

namespace {

// Files smaller than this are read whole: the copy costs little there.
constexpr uint64_t kFileDecodeFrom = uint64_t{4} << 20;
// More strips or tiles than this: read whole, where the usual checks apply.
constexpr uint64_t kMostStriles = uint64_t{1} << 24;

// Reads [from, to) of the file into the same range of `dst`; false on a read
// error or a file cut short.
bool read_range(int fd, uint8_t* dst, uint64_t from, uint64_t to) {
  while (from < to) {
    const size_t want = static_cast<size_t>(std::min<uint64_t>(to - from, size_t{1} << 30));
    const ssize_t n = ::pread(fd, dst + from, want, static_cast<off_t>(from));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    from += static_cast<uint64_t>(n);
  }
  return true;
}

// The file's bytes at their offsets, except the strip or tile data, which
// stays zero: all the metadata reader needs, without reading the pixel data
// twice. The zeros come from a fresh anonymous mapping, so the pages of the
// skipped ranges are never touched and cost nothing.
Status metadata_image(TIFF* tif, int fd, uint64_t size, EncodedBytes& out) {
  const uint64_t striles = TIFFIsTiled(tif) ? TIFFNumberOfTiles(tif) : TIFFNumberOfStrips(tif);
  if (striles > kMostStriles) return Status::NotImplemented;
  std::vector<std::pair<uint64_t, uint64_t>> data;  // [begin, end) of each strip or tile
  data.reserve(static_cast<size_t>(striles));
  for (uint64_t i = 0; i < striles; ++i) {
    const uint64_t off = TIFFGetStrileOffset(tif, static_cast<uint32_t>(i));
    const uint64_t count = TIFFGetStrileByteCount(tif, static_cast<uint32_t>(i));
    if (off >= size) continue;
    data.emplace_back(off, off + std::min(count, size - off));
  }
  std::sort(data.begin(), data.end());
  if (size > static_cast<uint64_t>(std::numeric_limits<size_t>::max())) return Status::OutOfMemory;
  void* map = ::mmap(nullptr, static_cast<size_t>(size), PROT_READ | PROT_WRITE,
                     MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (map == MAP_FAILED) return Status::NotImplemented;
  const auto length = static_cast<size_t>(size);
  std::shared_ptr<const void> keep(
      map, [length](const void* p) { ::munmap(const_cast<void*>(p), length); });
  auto* bytes = static_cast<uint8_t*>(map);
  uint64_t at = 0;
  for (const auto& [begin, end] : data) {
    if (begin > at && !read_range(fd, bytes, at, begin)) return Status::GenericError;
    at = std::max(at, end);
  }
  if (at < size && !read_range(fd, bytes, at, size)) return Status::GenericError;
  out.data = bytes;
  out.size = length;
  out.keep = std::move(keep);
  return Status::Ok;
}

// A page's rows through DirectRows. Pages libtiff's RGBA reader decodes,
// and 1-bit pages (whose Group 4 strip the whole-page decode may keep for a
// writer to hand on), are left to the whole-page decode.
class FileBands final : public BandReader {
 public:
  Status open(int fd, uint64_t size) {
    reader_.fd = fd;
    reader_.size = size;
    tif_ = open_file_reader(reader_, diag_);
    if (!tif_ || TIFFNumberOfDirectories(tif_.get()) != 1) return Status::NotImplemented;
    if (Status st = metadata_image(tif_.get(), fd, size, meta_); st != Status::Ok) return st;
    if (Status st = plan_page(tif_.get(), plan_); st != Status::Ok) return st;
    if (plan_.layout == Layout::Rgba || plan_.format == pf::k1bppIndexed)
      return Status::NotImplemented;
    if (!page_inflate_allowed(tif_.get(), plan_.width, plan_.height,
                              uint64_t{plan_.spp} * plan_.bps, size)) {
      return Status::OutOfMemory;
    }
    picture_.width = static_cast<int32_t>(plan_.width);
    picture_.height = static_cast<int32_t>(plan_.height);
    picture_.format = plan_.format;
    if (is_indexed(plan_.format)) picture_.palette = plan_.palette;
    read_resolution(tif_.get(), picture_.dpi_x, picture_.dpi_y);
    std::vector<PropertyItem> items;
    if (ifd::read_properties(meta_.data, meta_.size, TIFFCurrentDirOffset(tif_.get()), items) ==
        Status::Ok) {
      picture_.properties = std::move(items);
    }
    return rows_.start(tif_.get(), plan_);
  }

  Status read(uint8_t* dst, ptrdiff_t stride, int32_t rows) override {
    LibtiffScope scope;
    if (failed_ != Status::Ok) return failed_;
    if (rows < 0) return Status::InvalidParameter;
    const Status st = guarded([&] { return rows_.read(dst, stride, static_cast<uint32_t>(rows)); });
    if (st != Status::Ok) failed_ = st;
    return st;
  }

  ~FileBands() override {
    LibtiffScope scope;
    tif_.reset();
  }

 private:
  FileReader reader_;
  Diagnostics diag_;
  TiffHandle tif_;
  EncodedBytes meta_;
  PagePlan plan_;
  DirectRows rows_;
  Status failed_ = Status::Ok;
};

}  // namespace

Status decode_file(int fd, uint64_t size, std::unique_ptr<Image>& out) {
  // Small files, and files of several pages (decoded later from the bytes
  // the image keeps), are read whole.
  if (size < kFileDecodeFrom) return Status::NotImplemented;
  LibtiffScope scope;
  return guarded([&] {
    FileReader reader;
    reader.fd = fd;
    reader.size = size;
    Diagnostics diag;
    TiffHandle tif = open_file_reader(reader, diag);
    if (!tif) return Status::NotImplemented;
    if (TIFFNumberOfDirectories(tif.get()) != 1) return Status::NotImplemented;
    EncodedBytes meta;
    if (metadata_image(tif.get(), fd, size, meta) != Status::Ok) return Status::NotImplemented;
    std::vector<Frame> frames(1);
    if (Status st = decode_page(tif.get(), meta, diag, frames[0]); st != Status::Ok) {
      // A damaged file gets the same verdict as through memory.
      return st == Status::OutOfMemory ? st : Status::NotImplemented;
    }
    out = Image::from_frames(std::move(frames), guids::kFrameDimensionPage, guids::kFormatTiff,
                             nullptr);
    return Status::Ok;
  });
}


Status open_band_file_reader(int fd, uint64_t size, std::unique_ptr<BandReader>& out) {
  // Small files are decoded whole from memory by LoadFromFile: so are they here.
  if (size < kFileDecodeFrom) return Status::NotImplemented;
  LibtiffScope scope;
  return guarded([&] {
    auto r = std::make_unique<FileBands>();
    if (Status st = r->open(fd, size); st != Status::Ok) return st;
    out = std::move(r);
    return Status::Ok;
  });
}

}  // namespace korvex::raster::tiffcodec
