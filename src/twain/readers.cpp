// Reader threads of a scan, watched through /proc/self/task.
#include "twain/readers.h"

#include <dirent.h>
#include <sys/syscall.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>

namespace korvex::twain {

namespace {

enum class ReaderState { Gone, Parked, Busy };

// A reader is parked while blocked writing to its pipe: only the caller's
// reads can wake it, so it stays there until the pass ends. Anywhere else
// (running, or blocked on a lock or timer that can release it at any time)
// it may be inside the heap.
ReaderState state_of(pid_t tid) {
  const std::string path = "/proc/self/task/" + std::to_string(tid) + "/syscall";
  std::FILE* f = std::fopen(path.c_str(), "r");
  if (f == nullptr) return ReaderState::Gone;
  char text[32] = {};
  const size_t n = std::fread(text, 1, sizeof text - 1, f);
  std::fclose(f);
  if (n == 0) return ReaderState::Gone;
  // "running", or the number of the system call the thread is blocked in.
  char* end = nullptr;
  const long call = std::strtol(text, &end, 10);
  if (end == text) return ReaderState::Busy;
  return call == SYS_write || call == SYS_writev ? ReaderState::Parked : ReaderState::Busy;
}

}  // namespace

std::vector<pid_t> process_threads() {
  std::vector<pid_t> out;
  DIR* dir = ::opendir("/proc/self/task");
  if (dir == nullptr) return out;
  while (const dirent* e = ::readdir(dir)) {
    char* end = nullptr;
    const long tid = std::strtol(e->d_name, &end, 10);
    if (end != e->d_name && *end == '\0' && tid > 0) out.push_back(static_cast<pid_t>(tid));
  }
  ::closedir(dir);
  std::sort(out.begin(), out.end());
  return out;
}

void ReaderThreads::track(const std::vector<pid_t>& before) {
  tids_.clear();
  for (const pid_t tid : process_threads()) {
    if (!std::binary_search(before.begin(), before.end(), tid)) tids_.push_back(tid);
  }
}

bool ReaderThreads::await(bool allow_parked, std::chrono::milliseconds limit) const {
  const auto until = std::chrono::steady_clock::now() + limit;
  for (;;) {
    const bool settled = std::all_of(tids_.begin(), tids_.end(), [allow_parked](pid_t tid) {
      const ReaderState st = state_of(tid);
      return st == ReaderState::Gone || (allow_parked && st == ReaderState::Parked);
    });
    if (settled) return true;
    if (std::chrono::steady_clock::now() >= until) return false;
    std::this_thread::sleep_for(std::chrono::microseconds(200));
  }
}

}  // namespace korvex::twain
