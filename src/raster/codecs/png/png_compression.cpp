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

Compression flat_compression() { return {PNG_FILTER_NONE, Z_DEFAULT_STRATEGY, 6}; }

Compression choose_compression(const uint8_t* (*row)(void* context, int32_t y), void* context,
                               int32_t height, size_t row_bytes, size_t pixel_bytes) {
  const Compression flat = flat_compression();
  const Compression smooth{PNG_FILTER_AVG, Z_RLE, 6};
  if (height <= 0 || row_bytes == 0) return flat;
  // Bands spread evenly over the picture, kSampleShare of it within the bounds.
  const size_t rows = static_cast<size_t>(height);
  const size_t total = row_bytes > SIZE_MAX / rows ? SIZE_MAX : row_bytes * rows;
  const size_t budget = std::min(total, std::clamp(total / kSampleShare, kMinSample, kMaxSample));
  const size_t band_bytes = row_bytes * kBandRows;
  const size_t bands = std::clamp<size_t>(budget / band_bytes, 1, (rows + kBandRows - 1) / kBandRows);

  TrialStream plain(flat.level, flat.strategy);
  TrialStream filtered(smooth.level, smooth.strategy);
  if (!plain.ok() || !filtered.ok()) return flat;
  // Each buffer row is the filter type byte followed by the row.
  std::vector<uint8_t> prev(row_bytes + 1), cur(row_bytes + 1), avg(row_bytes + 1);
  for (size_t b = 0; b < bands; ++b) {
    const auto first = static_cast<int32_t>(b * rows / bands);
    const int32_t end = std::min(height, first + kBandRows);
    if (first > 0) {
      std::memcpy(prev.data() + 1, row(context, first - 1), row_bytes);
    } else {
      std::fill(prev.begin(), prev.end(), uint8_t{0});
    }
    for (int32_t y = first; y < end; ++y) {
      cur[0] = PNG_FILTER_VALUE_NONE;
      std::memcpy(cur.data() + 1, row(context, y), row_bytes);
      plain.feed(cur.data(), cur.size(), Z_NO_FLUSH);
      avg[0] = PNG_FILTER_VALUE_AVG;
      average_filter(cur.data() + 1, prev.data() + 1, row_bytes, pixel_bytes, avg.data() + 1);
      filtered.feed(avg.data(), avg.size(), Z_NO_FLUSH);
      std::swap(prev, cur);
    }
  }
  plain.feed(nullptr, 0, Z_FINISH);
  filtered.feed(nullptr, 0, Z_FINISH);
  if (!plain.ok() || !filtered.ok()) return flat;
  // Smooth only when it saves a tenth or more of the sample.
  return filtered.size() * 10 <= plain.size() * 9 ? smooth : flat;
}

}  // namespace korvex::raster::png
