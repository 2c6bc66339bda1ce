// Whole commands in bands. The picture is decoded a band of rows at a time,
// each band goes through the effects' own row routines (banded_window.cpp)
// and straight into the encoder, so a few bands are in memory instead of
// the whole picture.
// Effects that need a figure of the whole picture first (the gray mean of
// Contrast) get it from an earlier pass over the decoded rows, as the
// whole-image path gathers it before its first pixel.
#include "engine/banded.h"
#include "engine/banded_resize.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <utility>

#include "engine/banded_window.h"
#include "engine/core.h"
#include "engine/effects.h"
#include "engine/module_state.h"
#include "engine/paths.h"
#include "engine/pdf_convert.h"
#include "engine/save_params.h"
#include "host/file_io.h"
#include "processing/filter_engine.h"
#include "raster/bands.h"
#include "raster/codec.h"
#include "raster/guard.h"

namespace korvex {

namespace {

using raster::Status;

thread_local int32_t g_rows_for_testing = 0;

using Effect = BandedEffect;

struct Plan {
  std::string input;
  std::vector<Effect> effects;
  std::string output;
  std::string pattern;  // the save's encoder
  raster::EncoderParams params;
  bool tag = true;    // the save stamps the software property
  bool tiff = false;  // SaveAsTiff: parameters from the picture's format
  bool pdf = false;   // SaveAsPdf: a JPEG stream in a one-page document
  int32_t tiff_compression = 0, tiff_depth = 0;
  std::unique_ptr<BandedResize> resize;  // between the effects before and after it
};

bool all_numbers(const BandedCall& c, std::vector<int32_t>& out) {
  for (const BandedArg& a : c.args) {
    if (a.is_text) return false;
    out.push_back(a.number);
  }
  return true;
}

// The saves whose bytes depend only on the picture and their arguments.
bool save_plan(const BandedCall& c, Plan& plan) {
  if (c.args.empty() || !c.args[0].is_text) return false;
  plan.output = c.args[0].text;
  if (c.member == "SaveAsJpeg" && c.args.size() == 2 && !c.args[1].is_text) {
    plan.pattern = "*.jpg";
    plan.params = JpegSaveParams(c.args[1].number);
    return true;
  }
  if (c.member == "SaveAsTiff" && c.args.size() == 3 && !c.args[1].is_text &&
      !c.args[2].is_text) {
    plan.pattern = "*.tif";
    plan.tiff = true;
    plan.tiff_compression = c.args[1].number;
    plan.tiff_depth = c.args[2].number;
    return true;
  }
  if (c.args.size() != 1) return false;
  if (c.member == "SaveAsPng") {
    plan.pattern = "*.png";
  } else if (c.member == "SaveAsGif") {
    plan.pattern = "*.gif";
  } else if (c.member == "SaveAsBmp") {
    plan.pattern = "*.bmp";
    plan.tag = false;
  } else if (c.member == "SaveAsPdf") {
    plan.pattern = "*.jpg";
    plan.pdf = true;
    plan.tag = false;
  } else {
    return false;
  }
  return true;
}

bool make_plan(const std::vector<BandedCall>& calls, Plan& plan) {
  if (calls.size() < 2) return false;
  const BandedCall& load = calls.front();
  if (load.member != "LoadFromFile" || load.args.size() != 1 || !load.args[0].is_text) return false;
  plan.input = load.args[0].text;
  for (size_t i = 1; i + 1 < calls.size(); ++i) {
    if (!plan.resize && (plan.resize = BandedResize::FromCall(calls[i]))) continue;
    std::vector<int32_t> numbers;
    Effect e;
    if (!all_numbers(calls[i], numbers) || !BandedEffectMember(calls[i].member, numbers, e))
      return false;
    if (plan.resize) {
      // After the resize only per-pixel effects: the resized rows go
      // through them straight into the encoder.
      Effect p;
      if (!PointEffectMember(calls[i].member, numbers, p.effect, p.params) ||
          !plan.resize->AddEffect(p.effect, p.params)) {
        return false;
      }
      continue;
    }
    plan.effects.push_back(e);
  }
  return save_plan(calls.back(), plan);
}

// Opens a new reader over the input, from its start.
using ReaderSource = std::function<Status(std::unique_ptr<raster::BandReader>&)>;

struct Input {
  int fd = -1;
  raster::EncodedBytes bytes;
  ~Input() {
    if (fd >= 0) ::close(fd);
  }
};

// The band reader of the decoder LoadFromFile would choose for the file
// (the first whose signature matches): straight from the file when the
// codec reads files in bands, else over the file's bytes read whole.
Status open_input(const std::string& path, Input& in, ReaderSource& source) {
  in.fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  struct stat st {};
  // Only regular files: a pipe read here could not be read again by the
  // members should the bands give up.
  if (in.fd < 0 || ::fstat(in.fd, &st) != 0 || !S_ISREG(st.st_mode)) return Status::NotImplemented;
  const auto size = static_cast<uint64_t>(st.st_size);
  uint8_t head[64];
  const size_t want = static_cast<size_t>(std::min<uint64_t>(size, sizeof head));
  size_t got = 0;
  while (got < want) {
    const ssize_t n = ::pread(in.fd, head + got, want - got, static_cast<off_t>(got));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return Status::NotImplemented;
    got += static_cast<size_t>(n);
  }
  const raster::Decoder* decoder = nullptr;
  for (const raster::Decoder& d : raster::decoders()) {
    if (got > 0 && d.sniff(head, got)) {
      decoder = &d;
      break;
    }
  }
  if (decoder == nullptr) return Status::UnknownImageFormat;
  if (const raster::BandFileReaderOpener open = raster::band_file_reader_for(*decoder)) {
    const int fd = in.fd;
    source = [open, fd, size](std::unique_ptr<raster::BandReader>& r) {
      return open(fd, size, r);
    };
    std::unique_ptr<raster::BandReader> probe;
    if (open(fd, size, probe) == Status::Ok) return Status::Ok;
  }
  const raster::BandReaderOpener open = raster::band_reader_for(*decoder);
  if (open == nullptr) return Status::NotImplemented;
  if (Status s = host::read_whole_file(path, in.bytes); s != Status::Ok) return s;
  const raster::EncodedBytes* bytes = &in.bytes;
  source = [open, bytes](std::unique_ptr<raster::BandReader>& r) { return open(*bytes, r); };
  return Status::Ok;
}

// The rows of one pass, band by band, after the effects before `upto`:
// `take` gets each band as work pixels (effects) or as decoded rows (none).
class Passes {
 public:
  Passes(const Plan& plan, ReaderSource source)
      : plan_(plan), open_(std::move(source)) {}

  Status start(raster::BandPicture& picture) {
    std::unique_ptr<raster::BandReader> r;
    if (Status s = open_(r); s != Status::Ok) return s;
    picture = r->picture();
    const int32_t w = picture.width, h = picture.height;
    if (Status s = raster::check_surface(w, h, picture.format); s != Status::Ok) return s;
    if (!plan_.effects.empty() && picture.format != raster::pf::k24bppRGB)
      return Status::NotImplemented;
    rows_ = BandedRows(w);
    const int32_t stride = raster::padded_stride(w, picture.format);
    if (stride < 0) return Status::OutOfMemory;
    stride_ = stride;
    // Neighbourhood effects hand on a few rows more than a band at the end.
    if (Status s = chain_.start(plan_.effects, w, h, rows_); s != Status::Ok) return s;
    const size_t out_rows = static_cast<size_t>(std::max(rows_, chain_.max_rows()));
    for (Slot& slot : slots_) slot.rows.resize(static_cast<size_t>(stride) * out_rows);
    if (!plan_.effects.empty()) work_.resize(static_cast<size_t>(w) * static_cast<size_t>(rows_));
    width_ = w;
    height_ = h;
    return Status::Ok;
  }

  // Gathers the whole-picture figures of every effect that needs them.
  Status gather() {
    for (size_t k = 0; k < plan_.effects.size(); ++k) {
      const int32_t effect = plan_.effects[k].effect;
      if (!filters::NeedsZoneStats(effect)) continue;
      const Status s = pass(k, [&](const filters::Pixels& band, uint8_t*) {
        filters::GatherZoneStats(effect, band, chain_.context(k));
        return Status::Ok;
      });
      if (s != Status::Ok) return s;
    }
    return Status::Ok;
  }

  // Every row through every effect into the writer: an analysis pass
  // first when the writer asks for one.
  Status run(raster::BandWriter& w) {
    auto analyse = [&](uint8_t* rows, int32_t n) { return w.analyse(rows, stride_, n); };
    if (w.analyses()) {
      if (Status s = rows_out(analyse); s != Status::Ok) return s;
    }
    return rows_out([&](uint8_t* rows, int32_t n) { return w.write(rows, stride_, n); });
  }

 private:
  // A band of decoded rows, handed from the decoding thread to the pass.
  struct Slot {
    std::vector<uint8_t> rows;
    int32_t n = 0;
    Status status = Status::Ok;
    bool full = false;
  };

  // One pass of rows after every effect, in the picture's format.
  template <class Take>
  Status rows_out(Take&& take) {
    return pass(plan_.effects.size(), [&](const filters::Pixels& band, uint8_t* rows) {
      if (!plan_.effects.empty()) {
        for (int32_t y = 0; y < band.h; ++y) {
          filters::WorkRowToRgb24(band.row(y), rows + static_cast<size_t>(y) * stride_,
                                  static_cast<size_t>(width_));
        }
      }
      return take(rows, band.h);
    });
  }

  // Decodes every band on a second thread, one band ahead of the effects
  // and the encoder (as a pipe between a decoder and an encoder does), into
  // two slots used in turn.
  template <class Take>
  Status pass(size_t upto, Take&& take) {
    std::unique_ptr<raster::BandReader> r;
    if (Status s = open_(r); s != Status::Ok) return s;
    std::mutex m;
    std::condition_variable cv;
    bool stop = false;
    for (Slot& slot : slots_) slot.full = false;
    chain_.restart();
    std::thread decoder([&] {
      int k = 0;
      for (int32_t y0 = 0; y0 < height_; y0 += rows_, k ^= 1) {
        Slot& slot = slots_[k];
        {
          std::unique_lock<std::mutex> lock(m);
          cv.wait(lock, [&] { return !slot.full || stop; });
          if (stop) return;
        }
        const int32_t n = std::min(rows_, height_ - y0);
        const Status st = raster::guarded([&] { return r->read(slot.rows.data(), stride_, n); });
        {
          const std::lock_guard<std::mutex> lock(m);
          slot.n = n;
          slot.status = st;
          slot.full = true;
        }
        cv.notify_all();
        if (st != Status::Ok) return;
      }
    });
    Status result = Status::Ok;
    int k = 0;
    for (int32_t y0 = 0; y0 < height_ && result == Status::Ok; y0 += rows_, k ^= 1) {
      Slot& slot = slots_[k];
      {
        std::unique_lock<std::mutex> lock(m);
        cv.wait(lock, [&] { return slot.full; });
      }
      result = slot.status;
      if (result == Status::Ok) result = band(upto, y0, slot, take);
      {
        const std::lock_guard<std::mutex> lock(m);
        slot.full = false;
      }
      cv.notify_all();
    }
    {
      const std::lock_guard<std::mutex> lock(m);
      stop = true;
    }
    cv.notify_all();
    decoder.join();
    return result;
  }

  // One decoded band through the effects before `upto`, then to `take`.
  template <class Take>
  Status band(size_t upto, int32_t y0, Slot& slot, Take& take) {
    const int32_t n = slot.n;
    filters::Pixels px{work_.data(), width_, n};
    if (!plan_.effects.empty()) {
      for (int32_t y = 0; y < n; ++y) {
        filters::Rgb24RowToWork(slot.rows.data() + static_cast<size_t>(y) * stride_, px.row(y),
                                static_cast<size_t>(width_));
      }
    }
    return chain_.push(upto, y0, px, [&](const filters::Pixels& rows) {
      return raster::guarded([&] { return take(rows, slot.rows.data()); });
    });
  }

  const Plan& plan_;
  ReaderSource open_;
  EffectChain chain_;
  Slot slots_[2];
  std::vector<uint32_t> work_;
  int32_t width_ = 0, height_ = 0, rows_ = 0;
  ptrdiff_t stride_ = 0;
};

Status run(Plan& plan) {
  Input input;
  ReaderSource source;
  if (Status s = open_input(NormalizePath(plan.input), input, source); s != Status::Ok) return s;
  const raster::Encoder* e = EncoderForPattern(plan.pattern);
  const raster::BandWriterOpener writer = e != nullptr ? raster::band_writer_for(*e) : nullptr;
  if (writer == nullptr) return Status::NotImplemented;

  Passes passes(plan, source);
  raster::BandPicture picture;
  if (Status s = passes.start(picture); s != Status::Ok) return s;
  if (plan.resize) {
    if (Status s = plan.resize->Start(picture); s != Status::Ok) return s;
  }
  if (plan.tiff) plan.params = TiffSaveParams(picture.format, plan.tiff_compression, plan.tiff_depth);
  if (Status s = passes.gather(); s != Status::Ok) return s;
  // The software property, as the save stamps it on the image: in place of
  // an item with its id, else last.
  raster::PropertyItem software;
  if (plan.tag && SoftwareProperty(software)) {
    auto it = std::find_if(picture.properties.begin(), picture.properties.end(),
                           [&](const raster::PropertyItem& p) { return p.id == software.id; });
    if (it != picture.properties.end()) {
      *it = software;
    } else {
      picture.properties.push_back(software);
    }
  }
  // The save's writer takes the resized rows (the resizing writer in front
  // of it forwards an analysis pass), or the decoded ones.
  auto rows = [&](std::unique_ptr<raster::BandWriter>& w) {
    if (plan.resize) {
      if (Status s = plan.resize->Over(w); s != Status::Ok) return s;
    }
    return passes.run(*w);
  };
  if (plan.pdf) return WriteBandedPdf(plan.output, picture, rows);
  return host::write_file_atomically(plan.output, [&](raster::ByteSink& sink) {
    std::unique_ptr<raster::BandWriter> w;
    if (Status s = writer(picture, plan.params, sink, w); s != Status::Ok) return s;
    if (Status s = rows(w); s != Status::Ok) return s;
    return w->finish();
  });
}

}  // namespace

bool RunBanded(const std::vector<BandedCall>& calls) {
  Plan plan;
  if (!make_plan(calls, plan)) return false;
  // The raster session an engine would join for the command's lifetime.
  join_session();
  const Status st = raster::guarded([&] { return run(plan); });
  leave_session();
  return st == Status::Ok;
}

int32_t BandedRows(int32_t width) {
  if (g_rows_for_testing > 0) return g_rows_for_testing;
  // About 256 K work pixels (1 MB, which stays in the second-level cache).
  return std::clamp<int32_t>((262144 + width - 1) / std::max(width, 1), 16, 256);
}

void SetBandedRowsForTesting(int32_t rows) {
  g_rows_for_testing = rows;
}

}  // namespace korvex
