// A resize inside a whole command run in bands. The decoded rows collect in
// a window that holds just the source rows the next band of resized rows
// reads; the resampler's row job (the routine the Resize member runs over
// whole images) turns them into resized rows, which go through the later
// point effects into the encoder. Rows the window no longer needs are
// dropped, so memory follows the band heights and the filter's reach, not
// the picture sizes. The encoder works on a thread of its own, one band
// behind the resampler, as the decoder works one band ahead of it.
// An encoder that chooses its settings from the whole picture (PNG's row
// filter) sees the resized rows twice: the source is decoded again for the
// writing pass, and the resampler and the later effects start over from
// the top, so both passes give the same rows.
#include "engine/banded_resize.h"

#include <algorithm>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <thread>
#include <utility>

#include "engine/effects.h"
#include "engine/module_state.h"
#include "raster/guard.h"
#include "raster/image.h"
#include "raster/rounding.h"

namespace korvex {

namespace {

using raster::Status;

}  // namespace

class BandedResize::Writer : public raster::BandWriter {
 public:
  Writer(BandedResize& r, std::unique_ptr<raster::BandWriter> out)
      : r_(r), owned_(std::move(out)), out_(*owned_) {}
  ~Writer() override { stop(); }

  Status prepare() {
    const raster::BandPicture& s = r_.source_;
    const raster::BandPicture& d = r_.target_;
    src_stride_ = raster::padded_stride(s.width, s.format);
    dst_stride_ = raster::padded_stride(d.width, d.format);
    if (src_stride_ < 0 || dst_stride_ < 0) return Status::OutOfMemory;
    rows_ = BandedRows(d.width);
    // The most source rows one band of resized rows needs at once, plus a
    // band of arriving rows so that the window moves once per band.
    int32_t need = 1;
    for (int32_t y = 0; y < d.height; y += rows_) {
      int32_t first = 0, end = 0;
      r_.resampler_->source_rows(y, std::min(y + rows_, d.height), first, end);
      need = std::max(need, end - first);
    }
    cap_ = need + BandedRows(s.width);
    window_.resize(static_cast<size_t>(src_stride_) * static_cast<size_t>(cap_));
    for (Slot& slot : slots_)
      slot.rows.resize(static_cast<size_t>(dst_stride_) * static_cast<size_t>(rows_));
    if (!r_.effects_.empty())
      work_.resize(static_cast<size_t>(d.width) * static_cast<size_t>(rows_));
    begin(out_.analyses() ? Pass::Analyse : Pass::Write);
    return Status::Ok;
  }

  // The writer asks for the analysis pass; its rows are the resized ones.
  bool analyses() const override { return out_.analyses(); }

  Status analyse(const uint8_t* src, ptrdiff_t stride, int32_t rows) override {
    if (pass_ != Pass::Analyse) return Status::GenericError;
    return take(src, stride, rows);
  }

  Status write(const uint8_t* src, ptrdiff_t stride, int32_t rows) override {
    if (pass_ == Pass::Analyse) {
      // The first row of the writing pass: the analysis is complete.
      if (Status st = end_pass(); st != Status::Ok) return st;
      if (Status st = r_.Restart(); st != Status::Ok) return st;
      begin(Pass::Write);
    }
    return take(src, stride, rows);
  }

  Status finish() override {
    if (pass_ != Pass::Write) return Status::GenericError;
    if (Status st = end_pass(); st != Status::Ok) return st;
    return out_.finish();
  }

 private:
  enum class Pass { Analyse, Write };

  // A pass from the top: an empty window, no resized rows out yet, fresh
  // effect state, and the encoder's thread waiting for the first band.
  void begin(Pass p) {
    pass_ = p;
    low_ = high_ = next_ = 0;
    k_ = 0;
    for (Slot& slot : slots_) slot.full = false;
    done_ = false;
    failed_ = Status::Ok;
    ctx_.assign(r_.effects_.size(), filters::BandContext{});
    for (filters::BandContext& c : ctx_) c.zone_h = r_.target_.height;
    plan_next();
    encoder_ = std::thread([this] { encode(); });
  }

  // Every source row has been read, so the last bands read no further:
  // the encoder's thread writes what it has and ends.
  Status end_pass() {
    if (next_ < r_.target_.height) return Status::GenericError;
    return stop();
  }

  // Source rows in order into the window; every band of resized rows whose
  // source rows are all in goes to the encoder.
  Status take(const uint8_t* src, ptrdiff_t stride, int32_t rows) {
    const auto bytes = static_cast<size_t>(src_stride_);
    for (int32_t i = 0; i < rows; ++i) {
      if (next_ >= r_.target_.height) return Status::Ok;  // every resized row is out
      if (high_ - low_ == cap_) compact();
      std::memcpy(window_.data() + static_cast<size_t>(high_ - low_) * bytes,
                  src + static_cast<ptrdiff_t>(i) * stride, bytes);
      ++high_;
      while (next_ < r_.target_.height && high_ >= need_end_) {
        if (Status st = emit_band(); st != Status::Ok) return st;
      }
    }
    return Status::Ok;
  }

  // The source rows the next band of resized rows reads.
  void plan_next() {
    if (next_ >= r_.target_.height) return;
    r_.resampler_->source_rows(next_, std::min(next_ + rows_, r_.target_.height), need_first_,
                               need_end_);
  }

  // Drops the rows no later resized row reads.
  void compact() {
    const int32_t keep_from = std::clamp(need_first_, low_, high_);
    const auto bytes = static_cast<size_t>(src_stride_);
    std::memmove(window_.data(), window_.data() + static_cast<size_t>(keep_from - low_) * bytes,
                 static_cast<size_t>(high_ - keep_from) * bytes);
    low_ = keep_from;
  }

  // A band of resized rows, handed from the resampler to the encoder.
  struct Slot {
    std::vector<uint8_t> rows;
    int32_t n = 0;
    bool full = false;
  };

  // The encoder's thread: every full slot in turn into the writer, as the
  // analysis pass or as rows to write.
  void encode() {
    const bool analysing = pass_ == Pass::Analyse;
    for (int k = 0;; k ^= 1) {
      Slot& slot = slots_[k];
      {
        std::unique_lock<std::mutex> lock(m_);
        cv_.wait(lock, [&] { return slot.full || done_; });
        if (!slot.full) return;
      }
      const Status st = raster::guarded([&] {
        return analysing ? out_.analyse(slot.rows.data(), dst_stride_, slot.n)
                         : out_.write(slot.rows.data(), dst_stride_, slot.n);
      });
      {
        const std::lock_guard<std::mutex> lock(m_);
        slot.full = false;
        if (st != Status::Ok) {
          failed_ = st;
          done_ = true;
        }
      }
      cv_.notify_all();
      if (st != Status::Ok) return;
    }
  }

  // Lets the encoder write what it has and ends its thread: the first
  // failure of a write, else Ok.
  Status stop() {
    {
      const std::lock_guard<std::mutex> lock(m_);
      done_ = true;
    }
    cv_.notify_all();
    if (encoder_.joinable()) encoder_.join();
    return failed_;
  }

  Status emit_band() {
    const raster::BandPicture& d = r_.target_;
    const int32_t y0 = next_, n = std::min(rows_, d.height - next_);
    Slot& slot = slots_[k_];
    {
      std::unique_lock<std::mutex> lock(m_);
      cv_.wait(lock, [&] { return !slot.full || failed_ != Status::Ok; });
      if (failed_ != Status::Ok) return failed_;
    }
    uint8_t* const rows = slot.rows.data();
    r_.resampler_->run(y0, y0 + n, {window_.data(), src_stride_, low_}, {rows, dst_stride_, y0});
    if (!r_.effects_.empty()) {
      filters::Pixels px{work_.data(), d.width, n};
      const auto w = static_cast<size_t>(d.width);
      for (int32_t y = 0; y < n; ++y)
        filters::Rgb24RowToWork(rows + static_cast<size_t>(y) * dst_stride_, px.row(y), w);
      for (size_t k = 0; k < r_.effects_.size(); ++k) {
        ctx_[k].top = y0;
        if (!filters::RunPointEffect(r_.effects_[k].effect, px, r_.effects_[k].params, &ctx_[k]))
          return Status::InvalidParameter;
      }
      for (int32_t y = 0; y < n; ++y)
        filters::WorkRowToRgb24(px.row(y), rows + static_cast<size_t>(y) * dst_stride_, w);
    }
    {
      const std::lock_guard<std::mutex> lock(m_);
      slot.n = n;
      slot.full = true;
    }
    cv_.notify_all();
    k_ ^= 1;
    next_ += n;
    plan_next();
    return Status::Ok;
  }

  BandedResize& r_;
  std::unique_ptr<raster::BandWriter> owned_;  // goes after the encoder's thread
  raster::BandWriter& out_;
  Pass pass_ = Pass::Write;
  ptrdiff_t src_stride_ = 0, dst_stride_ = 0;
  int32_t rows_ = 0, cap_ = 0;
  // Source rows [low_, high_) are in the window, row low_ first.
  std::vector<uint8_t> window_;
  int32_t low_ = 0, high_ = 0;
  int32_t next_ = 0;  // the first resized row not yet written
  int32_t need_first_ = 0, need_end_ = 0;
  Slot slots_[2];
  int k_ = 0;  // the slot the next band goes into
  std::mutex m_;
  std::condition_variable cv_;
  bool done_ = false;  // no more bands are coming (or the encoder failed)
  Status failed_ = Status::Ok;
  std::thread encoder_;
  std::vector<uint32_t> work_;
  std::vector<filters::BandContext> ctx_;
};

BandedResize::~BandedResize() = default;

std::unique_ptr<BandedResize> BandedResize::FromCall(const BandedCall& c) {
  Kind kind;
  size_t count;
  if (c.member == "Resize") {
    kind = Kind::Both;
    count = 3;
  } else if (c.member == "ResizeHeightRatio") {
    kind = Kind::HeightRatio;
    count = 2;
  } else if (c.member == "ResizeWidthRatio") {
    kind = Kind::WidthRatio;
    count = 2;
  } else {
    return nullptr;
  }
  if (c.args.size() != count ||
      std::any_of(c.args.begin(), c.args.end(), [](const BandedArg& a) { return a.is_text; }))
    return nullptr;
  auto r = std::unique_ptr<BandedResize>(new BandedResize());
  r->kind_ = kind;
  r->width_ = kind == Kind::HeightRatio ? 0 : c.args[0].number;
  r->height_ = kind == Kind::WidthRatio ? 0 : c.args[kind == Kind::Both ? 1 : 0].number;
  r->mode_ = c.args[count - 1].number;
  return r;
}

bool BandedResize::AddEffect(int32_t effect, const filters::FilterParams& params) {
  if (filters::NeedsZoneStats(effect) || !filters::RunsOnStreamedRows(effect, params)) return false;
  effects_.push_back(Effect{effect, params});
  return true;
}

Status BandedResize::Start(raster::BandPicture& picture) {
  source_ = picture;
  const int32_t sw = picture.width, sh = picture.height;
  // The other side of the ratio forms, as those members work it out.
  int32_t w = width_, h = height_;
  if (kind_ == Kind::HeightRatio) w = RoundHalfEven(static_cast<double>(h) * sw / sh);
  if (kind_ == Kind::WidthRatio) h = RoundHalfEven(static_cast<double>(w) * sh / sw);
  if (w <= 0 || h <= 0 || mode_ < 0 || mode_ > 7) return Status::InvalidParameter;
  const raster::PixelFormat f = picture.format;
  // Older raster versions resize palette pictures another way.
  if (raster::is_indexed(f) && old_raster_version()) return Status::NotImplemented;
  if (!effects_.empty() && f != raster::pf::k24bppRGB) return Status::NotImplemented;
  // The member draws onto a new bitmap of the picture's size limits.
  if (Status s = raster::check_surface(w, h, f); s != Status::Ok) return s;

  // The loaded picture's palette (a reader describes one only where the
  // format has its own), and the new bitmap's: its own format's default
  // unless the picture has entries.
  raster::RowResampler::Picture src{sw, sh, f, raster::default_palette(f)};
  if (picture.palette.flags != 0 || !picture.palette.entries.empty()) src.palette = picture.palette;
  // The new bitmap as the member leaves it, on a single pixel: its palette,
  // then the picture's resolution rounded and its metadata items put back
  // (as the member restores them onto its result).
  std::unique_ptr<raster::Image> stand_in;
  if (Status s = raster::Image::create(1, 1, f, stand_in); s != Status::Ok) return s;
  if (!src.palette.entries.empty()) stand_in->set_palette(src.palette);
  const int32_t rx = RoundHalfEven(picture.dpi_x), ry = RoundHalfEven(picture.dpi_y);
  if ((RoundHalfEven(stand_in->dpi_x()) != rx || RoundHalfEven(stand_in->dpi_y()) != ry) &&
      rx > 0 && ry > 0) {
    stand_in->set_resolution(static_cast<float>(rx), static_cast<float>(ry));
  }
  for (const raster::PropertyItem& p : picture.properties) stand_in->set_property(p);
  target_ = raster::band_picture_of(*stand_in);
  target_.width = w;
  target_.height = h;

  rows_from_ = src;
  rows_to_ = raster::RowResampler::Picture{w, h, f, target_.palette};
  if (Status s = Restart(); s != Status::Ok) return s;
  picture = target_;
  return Status::Ok;
}

Status BandedResize::Restart() {
  resampler_.reset();
  return raster::RowResampler::create(rows_from_, rows_to_,
                                      static_cast<raster::Interpolation>(mode_), resampler_);
}

Status BandedResize::Over(std::unique_ptr<raster::BandWriter>& w) {
  auto resizing = std::make_unique<Writer>(*this, std::move(w));
  const Status s = resizing->prepare();
  w = std::move(resizing);
  return s;
}

}  // namespace korvex
