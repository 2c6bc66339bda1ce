// Native transfer: one page read with sane_read into a packed DIB held in a
// global-memory block. The read is watched: a backend that stops delivering
// is cancelled after the read timeout, one that delivers more than the page
// it announced is stopped, and either ends the transfer with a TWAIN error
// while the source stays open for the next page.
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdint>
#include <cstring>
#include <mutex>
#include <thread>
#include <vector>

#include "korvex/global_memory.h"
#include "raster/codec.h"
#include "raster/codecs/bmp/dib.h"
#include "raster/image.h"
#include "twain/session.h"

namespace korvex::twain {

namespace {

using Clock = std::chrono::steady_clock;

// Cancels the scan when no read completes within the timeout. sane_cancel
// may be called while another thread is inside sane_read: the read then
// returns SANE_STATUS_CANCELLED.
class Watchdog {
 public:
  Watchdog(SANE_Handle h, const ReaderThreads& readers, int32_t timeout_ms)
      : thread_([this, h, &readers, timeout_ms] {
          std::unique_lock<std::mutex> lock(m_);
          uint64_t seen = ticks_;
          while (!done_) {
            if (cv_.wait_for(lock, std::chrono::milliseconds(timeout_ms)) ==
                    std::cv_status::timeout &&
                !done_ && ticks_ == seen) {
              fired_ = true;
              // A stalled reader is given no longer than the read itself.
              cancel_scan(h, readers, std::chrono::milliseconds(timeout_ms));
              return;
            }
            seen = ticks_;
          }
        }) {}
  ~Watchdog() {
    {
      std::lock_guard<std::mutex> lock(m_);
      done_ = true;
    }
    cv_.notify_all();
    thread_.join();
  }
  void tick() {
    std::lock_guard<std::mutex> lock(m_);
    ++ticks_;
  }
  bool fired() {
    std::lock_guard<std::mutex> lock(m_);
    return fired_;
  }

 private:
  std::mutex m_;
  std::condition_variable cv_;
  uint64_t ticks_ = 0;
  bool done_ = false, fired_ = false;
  std::thread thread_;
};

// "Scanning: n of m bytes" on a terminal, once a page has taken a second.
class ProgressLine {
 public:
  explicit ProgressLine(bool enabled) : enabled_(enabled && isatty(STDERR_FILENO) != 0) {}
  ~ProgressLine() {
    if (shown_) std::fputc('\n', stderr);
  }
  void update(uint64_t done, uint64_t total) {
    if (!enabled_ || Clock::now() - start_ < std::chrono::seconds(1)) return;
    shown_ = true;
    std::fprintf(stderr, "\rScanning: %llu of %llu bytes", static_cast<unsigned long long>(done),
                 static_cast<unsigned long long>(total));
  }

 private:
  bool enabled_, shown_ = false;
  Clock::time_point start_ = Clock::now();
};

// Ends the page with an error: the scan is cancelled, the source stays open.
int32_t fail(int32_t result, int32_t condition) {
  end_batch();
  finish(result, condition);
  return 0;
}

// Rows of the page into an image of the DIB's format: 1-bit rows inverted
// (SANE's 1 is black; 0 is black in the DIB, as its darkest sample), 16-bit
// samples reduced to their high byte, RGB stored as B, G, R.
raster::Status page_image(const SANE_Parameters& p, int32_t lines, const std::vector<uint8_t>& data,
                          std::unique_ptr<raster::Image>& img) {
  const bool rgb = p.format == SANE_FRAME_RGB;
  const raster::PixelFormat f = rgb            ? raster::pf::k24bppRGB
                                : p.depth == 1 ? raster::pf::k1bppIndexed
                                               : raster::pf::k8bppIndexed;
  raster::Status st = raster::dib::check_pixel_limit(p.pixels_per_line, lines, f);
  if (st == raster::Status::Ok) st = raster::Image::create(p.pixels_per_line, lines, f, img);
  if (st != raster::Status::Ok) return st;
  if (f == raster::pf::k8bppIndexed) {
    raster::Palette gray;
    gray.flags = raster::Palette::kGrayScale;
    for (uint32_t v = 0; v < 256; ++v) gray.entries.push_back(0xFF000000u | v * 0x010101u);
    img->set_palette(gray);
  }
  raster::Surface& s = img->surface();
  const size_t w = static_cast<size_t>(p.pixels_per_line);
  const size_t channels = rgb ? 3 : 1;
  for (int32_t y = 0; y < lines; ++y) {
    const uint8_t* src =
        data.data() + static_cast<size_t>(y) * static_cast<size_t>(p.bytes_per_line);
    uint8_t* dst = s.row(y);
    if (p.depth == 1 && !rgb) {
      for (size_t i = 0; i < (w + 7) / 8; ++i) dst[i] = static_cast<uint8_t>(~src[i]);
      continue;
    }
    if (p.depth == 8) {
      if (!rgb) {
        std::memcpy(dst, src, w);
        continue;
      }
      for (size_t x = 0; x < w; ++x, src += 3, dst += 3) {
        dst[0] = src[2];
        dst[1] = src[1];
        dst[2] = src[0];
      }
      continue;
    }
    for (size_t x = 0; x < w; ++x) {
      for (size_t c = 0; c < channels; ++c) {
        const size_t i = x * channels + c;
        uint8_t v = 0;
        if (p.depth == 16) {
          uint16_t u = 0;
          std::memcpy(&u, src + 2 * i, 2);  // host byte order
          v = static_cast<uint8_t>(u >> 8);
        } else {
          v = (src[i >> 3] & (0x80 >> (i & 7))) ? 0xFF : 0;
        }
        dst[rgb ? x * 3 + (2 - c) : x] = v;
      }
    }
  }
  const double dpi = KXTWAIN_GetCurrentResolution();
  if (dpi > 0) img->set_resolution(static_cast<float>(dpi), static_cast<float>(dpi));
  return raster::Status::Ok;
}

// A sink over a buffer of a size fixed in advance (with `data` null, one that
// only measures): a DIB is measured first, then written straight into its
// global-memory block, with no page-sized copy in between.
class FixedSink final : public raster::ByteSink {
 public:
  FixedSink(uint8_t* data, uint64_t capacity) : data_(data), capacity_(capacity) {}
  bool write(const void* bytes, size_t n) override {
    if (error_ != raster::Status::Ok) return false;
    if (n > capacity_ || pos_ > capacity_ - n) {
      error_ = raster::Status::OutOfMemory;
      return false;
    }
    if (data_ != nullptr && n > 0) std::memcpy(data_ + pos_, bytes, n);
    pos_ += n;
    end_ = std::max(end_, pos_);
    return true;
  }
  bool seek(uint64_t pos) override {
    if (error_ != raster::Status::Ok || pos > capacity_) return false;
    if (data_ != nullptr && pos > end_) std::memset(data_ + end_, 0, pos - end_);
    pos_ = pos;
    end_ = std::max(end_, pos_);
    return true;
  }
  uint64_t tell() const override { return pos_; }
  uint64_t size() const override { return end_; }
  size_t read(void* bytes, size_t n) override {
    if (data_ == nullptr || error_ != raster::Status::Ok || pos_ >= end_) return 0;
    const size_t got = static_cast<size_t>(std::min<uint64_t>(n, end_ - pos_));
    std::memcpy(bytes, data_ + pos_, got);
    pos_ += got;
    return got;
  }

 private:
  uint8_t* data_;
  uint64_t capacity_, pos_ = 0, end_ = 0;
};

int32_t to_block(raster::Image& img) {
  raster::dib::WriteOptions options;
  options.rows = img.format();
  FixedSink measure(nullptr, UINT64_MAX);
  if (raster::dib::write(img, options, measure) != raster::Status::Ok ||
      measure.size() > SIZE_MAX)
    return 0;
  const size_t bytes = static_cast<size_t>(measure.size());
  const int32_t h = host::GlobalAlloc(bytes);
  uint8_t* p = h != 0 ? host::GlobalLock(h) : nullptr;
  if (p == nullptr) {
    if (h != 0) host::GlobalFree(h);
    return 0;
  }
  FixedSink sink(p, bytes);
  const bool ok = raster::dib::write(img, options, sink) == raster::Status::Ok &&
                  sink.size() == bytes;
  host::GlobalUnlock(h);
  if (!ok) {
    host::GlobalFree(h);
    return 0;
  }
  return h;
}

bool batch_continues(const Session& s) {
  std::string src;
  const bool feeder = get_text("source", src) && (src.find("eeder") != std::string::npos ||
                                                  src.find("ADF") != std::string::npos);
  if (s.xfer_count > 0 && s.xfers_done >= s.xfer_count) return false;
  return feeder || s.multi_transfer;
}

}  // namespace

int32_t KXTWAIN_AcquireNative(int32_t) {
  Session& s = session();
  if (s.state < 4 || s.handle == nullptr) return finish(kFailure, kSeqError), 0;
  if (s.state == 4) s.xfers_done = 0;
  s.state = 5;
  load_unwinder();
  const std::vector<pid_t> threads = process_threads();
  const std::vector<int> fds = open_descriptors();
  SANE_Status st = sane_start(s.handle);
  s.readers.track(threads);
  s.readers.track_pipes(fds);
  if (st != SANE_STATUS_GOOD) {
    if (st == SANE_STATUS_NO_DOCS) s.feeder_empty = true;
    return fail(st == SANE_STATUS_CANCELLED ? kCancel : kFailure, condition_of(st));
  }
  s.state = 6;
  SANE_Parameters p{};
  st = sane_get_parameters(s.handle, &p);
  if (st != SANE_STATUS_GOOD) return fail(kFailure, condition_of(st));
  const bool supported = (p.format == SANE_FRAME_GRAY || p.format == SANE_FRAME_RGB) &&
                         p.last_frame && (p.depth == 1 || p.depth == 8 || p.depth == 16) &&
                         p.pixels_per_line > 0 && p.lines != 0 && p.lines >= -1;
  const int64_t need =
      (static_cast<int64_t>(p.pixels_per_line) * (p.format == SANE_FRAME_RGB ? 3 : 1) * p.depth +
       7) /
      8;
  if (!supported || p.bytes_per_line < need) return fail(kFailure, kBadValue);
  // The announced page (or, for a page of unknown length, what the pixel
  // memory limit lets a page grow to).
  const int32_t max_lines = p.lines > 0 ? p.lines : 65535;
  const raster::PixelFormat f =
      p.format == SANE_FRAME_RGB ? raster::pf::k24bppRGB : raster::pf::k8bppIndexed;
  if (raster::dib::check_pixel_limit(p.pixels_per_line, max_lines, f) != raster::Status::Ok &&
      p.lines > 0)
    return fail(kFailure, kLowMemory);
  const uint64_t total = static_cast<uint64_t>(p.bytes_per_line) * static_cast<uint64_t>(max_lines);
  std::vector<uint8_t> data;
  try {
    data.resize(p.lines > 0 ? total : 0);
  } catch (const std::bad_alloc&) {
    return fail(kFailure, kLowMemory);
  }
  s.state = 7;
  uint64_t done = 0;
  bool overrun = false;
  {
    Watchdog watchdog(s.handle, s.readers, s.read_timeout_ms);
    ProgressLine line(s.indicators);
    uint8_t probe[64];
    for (;;) {
      uint8_t* dst = probe;
      SANE_Int room = sizeof probe;
      if (p.lines > 0 && done < total) {
        dst = data.data() + done;
        // The read that completes the page ends the pass: the last byte is
        // asked for alone, once the readers have ended (see readers.h).
        if (total - done == 1) (void)s.readers.await(false, kReaderSettleLimit);
        room = static_cast<SANE_Int>(
            std::min<uint64_t>(std::max<uint64_t>(total - done - 1, 1), 1u << 20));
      } else if (p.lines < 0) {
        if (data.size() < done + 65536 && done + 65536 <= total) data.resize(done + 65536);
        if (done + 65536 > total) {
          overrun = true;
          break;
        }
        dst = data.data() + done;
        room = 65536;
        // Without a length, any read may be the one that completes the page
        // and ends the pass. Each waits until every reader has ended or is
        // parked on a full pipe: a parked reader has not handed over its
        // last byte, so the read cannot end the pass while it is parked,
        // and one that has ended cannot be cut off inside the heap.
        (void)s.readers.await(true, kReaderSettleLimit);
      }
      SANE_Int len = 0;
      st = sane_read(s.handle, dst, room, &len);
      watchdog.tick();
      if (st != SANE_STATUS_GOOD) break;
      if (len < 0 || len > room || (dst == probe && len > 0)) {
        overrun = true;  // more than the page it announced
        break;
      }
      done += static_cast<uint64_t>(len);
      line.update(done, p.lines > 0 ? total : done);
      if (s.progress && !s.progress(done, p.lines > 0 ? total : 0)) {
        cancel_scan(s.handle, s.readers);
        st = SANE_STATUS_CANCELLED;
        break;
      }
    }
    if (watchdog.fired()) return fail(kFailure, kOperationError);
  }
  if (overrun) return fail(kFailure, kOperationError);
  if (st == SANE_STATUS_CANCELLED) return fail(kCancel, kCcSuccess);
  if (st != SANE_STATUS_EOF) return fail(kFailure, condition_of(st));
  const int32_t lines =
      p.lines > 0 ? p.lines : static_cast<int32_t>(done / static_cast<uint64_t>(p.bytes_per_line));
  if ((p.lines > 0 && done < total) || lines == 0) return fail(kFailure, kOperationError);
  data.resize(static_cast<size_t>(lines) * static_cast<size_t>(p.bytes_per_line));
  std::unique_ptr<raster::Image> img;
  if (page_image(p, lines, data, img) != raster::Status::Ok) return fail(kFailure, kLowMemory);
  const int32_t dib = to_block(*img);
  if (dib == 0) return fail(kFailure, kLowMemory);
  ++s.xfers_done;
  s.state = 6;
  if (!batch_continues(s)) end_batch();
  finish(kXferDone, kCcSuccess);
  return dib;
}

bool KXTWAIN_FreeNative(int32_t dib) {
  return host::GlobalFree(dib);
}

bool KXTWAIN_EndXfer() {
  Session& s = session();
  if (s.state < 6) return finish(kFailure, kSeqError);
  if (!batch_continues(s)) end_batch();
  return finish(kSuccess, kCcSuccess);
}

bool KXTWAIN_AbortAllPendingXfers() {
  Session& s = session();
  if (s.state < 5) return finish(kFailure, kSeqError);
  end_batch();
  return finish(kSuccess, kCcSuccess);
}

bool KXTWAIN_NegotiateXferCount(int32_t n) {
  Session& s = session();
  if (s.state != 4) return finish(kFailure, kSeqError);
  if (n == 0 || n < -1 || n > 32767) return finish(kFailure, kBadValue);
  s.xfer_count = n;
  return finish(kSuccess, kCcSuccess);
}

void KXTWAIN_SetMultiTransfer(bool on) {
  session().multi_transfer = on;
}

}  // namespace korvex::twain
