// Splitting a row-by-row pixel job into bands run on separate threads.
// Callers compute every row from its inputs alone, so the split (and the
// number of processors) never changes the result.
#pragma once

#include <algorithm>
#include <cstdint>
#include <exception>
#include <thread>
#include <vector>

namespace korvex::raster {

// Threads one row job on the calling thread may use; 0 = up to the number of
// processors. A batch that already runs one pipeline per core sets 1 on each
// of its workers, so N workers never start N x cores band threads (which
// only adds thread starts and time slicing: the cores are busy already).
inline thread_local unsigned band_thread_limit = 0;

// Runs fn(y0, y1) over consecutive bands covering [0, rows), on up to
// min(hardware threads, 8, band_thread_limit) threads; the calling thread takes the first band.
// `work` estimates the job's cost in simple pixel operations: below about
// half a million per thread the job stays on fewer threads, so small images
// pay nothing for the split. Bands hold at least `min_rows` rows. An
// exception thrown in any band is rethrown here after every band finished;
// when no thread can be started the bands run one after another.
template <class Fn>
void parallel_rows(int32_t rows, double work, Fn&& fn, int32_t min_rows = 8) {
  constexpr double kWorkPerThread = 5.0e5;
  unsigned hw = std::max(1u, std::thread::hardware_concurrency());
  if (band_thread_limit != 0) hw = std::min(hw, band_thread_limit);
  const double limit = std::min({static_cast<double>(std::min(hw, 8u)), work / kWorkPerThread,
                                 static_cast<double>(rows) / std::max(min_rows, 1)});
  const int32_t bands = std::max(static_cast<int32_t>(limit), 1);
  if (bands == 1) {
    fn(0, rows);
    return;
  }
  std::vector<std::exception_ptr> failures(static_cast<size_t>(bands));
  auto band = [&](int32_t b) {
    const auto y0 = static_cast<int32_t>(static_cast<int64_t>(rows) * b / bands);
    const auto y1 = static_cast<int32_t>(static_cast<int64_t>(rows) * (b + 1) / bands);
    try {
      fn(y0, y1);
    } catch (...) {
      failures[static_cast<size_t>(b)] = std::current_exception();
    }
  };
  std::vector<std::thread> helpers;
  int32_t started = 1;
  try {
    helpers.reserve(static_cast<size_t>(bands - 1));
    for (; started < bands; ++started) helpers.emplace_back(band, started);
  } catch (...) {
    // No more threads to be had: the remaining bands run here.
  }
  for (int32_t b = started; b < bands; ++b) band(b);
  band(0);
  for (std::thread& t : helpers) t.join();
  for (const std::exception_ptr& e : failures)
    if (e) std::rethrow_exception(e);
}

}  // namespace korvex::raster
