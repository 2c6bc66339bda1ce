// korvex --batch: runs one pipeline over many inputs, each on its own engine
// in N worker threads; shows progress on stderr (a bar redrawn in place on a
// terminal, plain lines otherwise), writes an optional JSON-lines report as
// inputs finish, and sums up the failures at the end.
#include "batch.h"

#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <mutex>
#include <thread>

#include "korvex/pipeline.h"

namespace {

namespace ax = korvex::automation;
using Clock = std::chrono::steady_clock;

// "0:07", "12:40", "3:05:00".
std::string clock_text(double seconds) {
  const long s = std::lround(std::max(0.0, seconds));
  char buf[32];
  if (s >= 3600) {
    std::snprintf(buf, sizeof buf, "%ld:%02ld:%02ld", s / 3600, s / 60 % 60, s % 60);
  } else {
    std::snprintf(buf, sizeof buf, "%ld:%02ld", s / 60, s % 60);
  }
  return buf;
}

// Progress on stderr. A terminal gets one line redrawn in place, at most ten
// times a second; anything else gets a plain line each time another whole
// percent of the inputs is done, so a log of a million inputs stays short.
class Progress {
 public:
  enum class Mode { Bar, Lines, Off };
  Progress(size_t total, Mode mode) : total_(total), mode_(mode), start_(Clock::now()) {}

  void update(size_t done, size_t failed) {
    if (mode_ == Mode::Off) return;
    const auto now = Clock::now();
    const bool last = done == total_;
    if (mode_ == Mode::Bar) {
      if (!last && drawn_ && now - last_draw_ < std::chrono::milliseconds(100)) return;
      last_draw_ = now;
      drawn_ = true;
      const int width = 30;
      const int filled = static_cast<int>(total_ ? done * width / total_ : width);
      std::fprintf(stderr, "\r%zu/%zu [%s%s] %s\033[K", done, total_,
                   std::string(static_cast<size_t>(filled), '#').c_str(),
                   std::string(static_cast<size_t>(width - filled), ' ').c_str(),
                   figures(done, failed, now).c_str());
    } else {
      const size_t percent = total_ ? done * 100 / total_ : 100;
      if (done == 0 || (percent == last_percent_ && !last)) return;
      last_percent_ = percent;
      std::fprintf(stderr, "korvex: %zu/%zu inputs, %s\n", done, total_,
                   figures(done, failed, now).c_str());
    }
    std::fflush(stderr);
  }

  // Takes the bar off its line before other text goes to the terminal.
  void clear() const {
    if (mode_ == Mode::Bar && drawn_) std::fprintf(stderr, "\r\033[K");
  }
  void finish() const {
    if (mode_ == Mode::Bar && drawn_) std::fprintf(stderr, "\n");
  }
  double seconds() const { return std::chrono::duration<double>(Clock::now() - start_).count(); }

 private:
  std::string figures(size_t done, size_t failed, Clock::time_point now) const {
    const double elapsed = std::chrono::duration<double>(now - start_).count();
    const double rate = elapsed > 0 ? static_cast<double>(done) / elapsed : 0;
    char buf[96];
    std::snprintf(buf, sizeof buf, "%.1f/s, %s left, %zu failed", rate,
                  done > 0 ? clock_text(static_cast<double>(total_ - done) / rate).c_str() : "-:--",
                  failed);
    return buf;
  }

  size_t total_;
  Mode mode_;
  Clock::time_point start_, last_draw_{};
  bool drawn_ = false;
  size_t last_percent_ = static_cast<size_t>(-1);
};

struct Options {
  unsigned jobs = ax::ProcessorCount();  // one worker per core unless -j/--jobs says otherwise
  std::string report;
  bool progress = true;
  std::vector<std::string> inputs, pipeline;
};

bool parse_options(const std::vector<std::string>& args, Options& o, std::string& error) {
  size_t i = 0;
  for (; i < args.size(); ++i) {
    const bool has_value = i + 1 < args.size();
    if ((args[i] == "-j" || args[i] == "--jobs") && has_value) {
      const std::string& n = args[++i];
      char* end = nullptr;
      const long jobs = std::strtol(n.c_str(), &end, 10);
      if (n.empty() || *end != '\0' || jobs < 1 || jobs > 4096) {
        error = "korvex: " + args[i - 1] + " takes a number of workers from 1 to 4096, not " + n;
        return false;
      }
      o.jobs = static_cast<unsigned>(jobs);
    } else if (args[i] == "--report" && has_value) {
      o.report = args[++i];
    } else if (args[i] == "--no-progress") {
      o.progress = false;
    } else {
      break;
    }
  }
  bool after = false;
  for (; i < args.size(); ++i) {
    if (!after && args[i] == "--") {
      after = true;
    } else {
      (after ? o.pipeline : o.inputs).push_back(args[i]);
    }
  }
  if (!after || o.inputs.empty() || o.pipeline.empty()) {
    error = "korvex: --batch needs inputs, --, and a pipeline";
    return false;
  }
  return true;
}

}  // namespace

int run_batch_command(const std::vector<std::string>& args) {
  Options opt;
  std::vector<ax::PipelineCall> templ;
  std::string error;
  if (!parse_options(args, opt, error) || !ax::ParsePipeline(opt.pipeline, templ, error)) {
    std::fprintf(stderr, "%s\n", error.c_str());
    return 2;
  }
  std::FILE* report = nullptr;
  if (!opt.report.empty() && (report = std::fopen(opt.report.c_str(), "w")) == nullptr) {
    std::fprintf(stderr, "korvex: cannot write the report %s\n", opt.report.c_str());
    return 2;
  }
  const std::vector<std::string>& inputs = opt.inputs;
  const bool bar = isatty(STDERR_FILENO) != 0;
  const bool shared_terminal = bar && isatty(STDOUT_FILENO) != 0;
  Progress progress(inputs.size(), !opt.progress ? Progress::Mode::Off
                                   : bar         ? Progress::Mode::Bar
                                                 : Progress::Mode::Lines);
  // Workers take the next input as they finish one, so a slow input never
  // holds up a fixed share of the others.
  std::atomic<size_t> next{0};
  size_t done = 0;
  std::mutex mutex;
  std::vector<std::pair<std::string, ax::PipelineResult>> failures;
  const size_t count = std::min(static_cast<size_t>(opt.jobs), inputs.size());
  const unsigned share = ax::PipelineThreadShare(static_cast<unsigned>(count));
  auto worker = [&]() {
    ax::SetPipelineThreads(share);
    for (size_t i; (i = next.fetch_add(1)) < inputs.size();) {
      // Each input gets a fresh engine on this thread: threads share nothing.
      ax::PipelineResult r = ax::RunPipeline(ax::PipelineForInput(templ, inputs[i]));
      const std::string line = report ? ax::PipelineReportLine(inputs[i], r, 1) : std::string();
      std::lock_guard<std::mutex> g(mutex);
      if (report) {
        std::fprintf(report, "%s\n", line.c_str());
        std::fflush(report);
      }
      if (!r.values.empty()) {
        // One block per input: its path, then its values indented below the first.
        std::string text = r.values.front();
        for (size_t v = 1; v < r.values.size(); ++v) text += "\n  " + r.values[v];
        if (shared_terminal) progress.clear();
        std::printf("%s: %s\n", inputs[i].c_str(), text.c_str());
        std::fflush(stdout);
      }
      if (r.exit_code != 0) failures.emplace_back(inputs[i], std::move(r));
      progress.update(++done, failures.size());
    }
  };
  progress.update(0, 0);
  std::vector<std::thread> threads;
  for (size_t t = 0; t < count; ++t) threads.emplace_back(worker);
  for (std::thread& t : threads) t.join();
  progress.finish();
  if (report && std::fclose(report) != 0) {
    std::fprintf(stderr, "korvex: the report %s could not be written completely\n",
                 opt.report.c_str());
  }

  const double seconds = progress.seconds();
  std::fprintf(stderr, "%zu of %zu inputs done, %zu failed (%.1f s, %.1f inputs/s)\n",
               inputs.size() - failures.size(), inputs.size(), failures.size(), seconds,
               seconds > 0 ? static_cast<double>(inputs.size()) / seconds : 0.0);
  // Each failure, then how many failed with each status, most frequent first.
  constexpr size_t kListed = 50;
  std::map<std::string, size_t> by_status;
  for (size_t f = 0; f < failures.size(); ++f) {
    const ax::PipelineResult& r = failures[f].second;
    if (f < kListed) std::fprintf(stderr, "  %s: %s\n", failures[f].first.c_str(), r.error.c_str());
    const std::string key =
        r.status ? r.error.substr(r.error.find(": status ") + 9) : "call not made";
    ++by_status[key];
  }
  if (failures.size() > kListed) {
    std::fprintf(stderr, "  ... and %zu more%s\n", failures.size() - kListed,
                 report ? " (see the report)" : "");
  }
  if (by_status.size() > 1 || failures.size() > 1) {
    std::vector<std::pair<std::string, size_t>> tally(by_status.begin(), by_status.end());
    std::stable_sort(tally.begin(), tally.end(),
                     [](const auto& a, const auto& b) { return a.second > b.second; });
    std::string text;
    for (const auto& [name, n] : tally)
      text += (text.empty() ? "" : ", ") + name + ": " + std::to_string(n);
    std::fprintf(stderr, "failures by status: %s\n", text.c_str());
  }
  return failures.empty() ? 0 : 1;
}
