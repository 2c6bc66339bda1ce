// Choice between the Flat and Smooth compression settings by trial on a
// sample of the rows; see png_compression.h.
#include "png_compression.h"

#include <png.h>
#include <zlib.h>

#include <algorithm>
#include <cstring>
#include <vector>

namespace korvex::raster::png {

namespace {

constexpr int32_t kBandRows = 16;          // rows per sampled band
constexpr size_t kMinSample = 256u << 10;  // bytes sampled at least (or the whole picture)
constexpr size_t kMaxSample = 2u << 20;    // and at most
constexpr size_t kSampleShare = 16;        // else one sixteenth of the picture
// Smooth: the Average row filter, zlib's run-length strategy.
constexpr Compression kSmooth{PNG_FILTER_AVG, Z_RLE, 6};

// Counts the compressed bytes of what is fed to it; the output is discarded.
class TrialStream {
 public:
  TrialStream(int level, int strategy) : out_(64u << 10) {
    ok_ = deflateInit2(&z_, level, Z_DEFLATED, 15, 8, strategy) == Z_OK;
  }
  ~TrialStream() {
    if (ok_) deflateEnd(&z_);
  }
  TrialStream(const TrialStream&) = delete;
  TrialStream& operator=(const TrialStream&) = delete;

  bool ok() const { return ok_; }

  void feed(const uint8_t* data, size_t n, int flush) {
    if (!ok_) return;
    z_.next_in = const_cast<Bytef*>(data);
    z_.avail_in = static_cast<uInt>(n);
    do {
      z_.next_out = out_.data();
      z_.avail_out = static_cast<uInt>(out_.size());
      const int rc = deflate(&z_, flush);
      if (rc == Z_STREAM_ERROR) {
        ok_ = false;
        return;
      }
      size_ += out_.size() - z_.avail_out;
    } while (z_.avail_out == 0 || (flush == Z_FINISH && z_.avail_in != 0));
  }

  size_t size() const { return size_; }

 private:
  z_stream z_{};
  std::vector<Bytef> out_;
  size_t size_ = 0;
  bool ok_ = false;
};

// Average filter of one row: x - floor((left + above) / 2), bytewise.
void average_filter(const uint8_t* cur, const uint8_t* prev, size_t n, size_t bpp, uint8_t* out) {
  const size_t lead = std::min(bpp, n);
  for (size_t i = 0; i < lead; ++i) out[i] = static_cast<uint8_t>(cur[i] - (prev[i] >> 1));
  for (size_t i = lead; i < n; ++i) {
    out[i] = static_cast<uint8_t>(cur[i] - ((cur[i - bpp] + prev[i]) >> 1));
  }
}

}  // namespace

Compression flat_compression() {
  return {PNG_FILTER_NONE, Z_DEFAULT_STRATEGY, 6};
}

// The two trial streams and the rows they filter. Each buffer row is the
// filter type byte followed by the row.
struct CompressionTrial::Streams {
  explicit Streams(size_t row_bytes)
      : plain(flat_compression().level, flat_compression().strategy),
        filtered(kSmooth.level, kSmooth.strategy),
        prev(row_bytes + 1),
        cur(row_bytes + 1),
        avg(row_bytes + 1) {}
  TrialStream plain;
  TrialStream filtered;
  std::vector<uint8_t> prev, cur, avg;
};

CompressionTrial::CompressionTrial(int32_t height, size_t row_bytes, size_t pixel_bytes)
    : height_(std::max(height, 0)), row_bytes_(row_bytes), pixel_bytes_(pixel_bytes) {
  if (height_ == 0 || row_bytes == 0) return;
  // Bands spread evenly over the picture, kSampleShare of it within the
  // bounds. The bands never overlap: when the budget is the whole picture
  // they are height / kBandRows, else fewer rows than the picture holds.
  const size_t rows = static_cast<size_t>(height_);
  const size_t total = row_bytes > SIZE_MAX / rows ? SIZE_MAX : row_bytes * rows;
  const size_t budget = std::min(total, std::clamp(total / kSampleShare, kMinSample, kMaxSample));
  const size_t band_bytes = row_bytes * kBandRows;
  bands_ = std::clamp<size_t>(budget / band_bytes, 1, (rows + kBandRows - 1) / kBandRows);
  streams_ = std::make_unique<Streams>(row_bytes);
}

CompressionTrial::~CompressionTrial() = default;

int32_t CompressionTrial::first(size_t band) const {
  return static_cast<int32_t>(band * static_cast<size_t>(height_) / bands_);
}

int32_t CompressionTrial::next() const {
  if (band_ >= bands_) return height_;
  const int32_t start = first(band_);
  // The row above a band first, unless it was the last row of the band before.
  if (last_ + 1 < start) return start - 1;
  return last_ + 1;
}

void CompressionTrial::row(const uint8_t* data) {
  const int32_t y = next();
  if (y >= height_) return;
  Streams& z = *streams_;
  last_ = y;
  if (y < first(band_)) {
    std::memcpy(z.prev.data() + 1, data, row_bytes_);
    return;
  }
  // The first band starts at row 0, above which prev holds zeros.
  z.cur[0] = PNG_FILTER_VALUE_NONE;
  std::memcpy(z.cur.data() + 1, data, row_bytes_);
  z.plain.feed(z.cur.data(), z.cur.size(), Z_NO_FLUSH);
  z.avg[0] = PNG_FILTER_VALUE_AVG;
  average_filter(z.cur.data() + 1, z.prev.data() + 1, row_bytes_, pixel_bytes_, z.avg.data() + 1);
  z.filtered.feed(z.avg.data(), z.avg.size(), Z_NO_FLUSH);
  std::swap(z.prev, z.cur);
  if (y + 1 >= std::min(height_, first(band_) + kBandRows)) ++band_;
}

Compression CompressionTrial::result() {
  const Compression flat = flat_compression();
  if (!streams_) return flat;
  Streams& z = *streams_;
  if (!z.plain.ok() || !z.filtered.ok()) return flat;
  z.plain.feed(nullptr, 0, Z_FINISH);
  z.filtered.feed(nullptr, 0, Z_FINISH);
  if (!z.plain.ok() || !z.filtered.ok()) return flat;
  // Smooth only when it saves a tenth or more of the sample.
  return z.filtered.size() * 10 <= z.plain.size() * 9 ? kSmooth : flat;
}

}  // namespace korvex::raster::png
