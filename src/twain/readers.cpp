// Reader threads of a scan and their pipes, watched through /proc/self.
#include "twain/readers.h"

#include <dirent.h>
#include <execinfo.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <system_error>
#include <thread>
#include <utility>

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

// The numeric entries of a /proc folder, sorted; with skip_own, without the
// descriptor the listing itself holds (for /proc/self/fd).
std::vector<long> numbered_entries(const char* path, bool skip_own) {
  std::vector<long> out;
  DIR* dir = ::opendir(path);
  if (dir == nullptr) return out;
  const long own = skip_own ? ::dirfd(dir) : -1;
  while (const dirent* e = ::readdir(dir)) {
    char* end = nullptr;
    const long n = std::strtol(e->d_name, &end, 10);
    if (end != e->d_name && *end == '\0' && n >= 0 && n != own) out.push_back(n);
  }
  ::closedir(dir);
  std::sort(out.begin(), out.end());
  return out;
}

}  // namespace

std::vector<pid_t> process_threads() {
  std::vector<pid_t> out;
  for (const long tid : numbered_entries("/proc/self/task", false)) {
    if (tid > 0) out.push_back(static_cast<pid_t>(tid));
  }
  return out;
}

std::vector<int> open_descriptors() {
  std::vector<int> out;
  for (const long fd : numbered_entries("/proc/self/fd", true)) out.push_back(static_cast<int>(fd));
  return out;
}

void load_unwinder() {
  // backtrace() goes through the same loader of the unwinder as a thread
  // exit; one frame is enough.
  static const bool loaded = [] {
    void* frame = nullptr;
    return ::backtrace(&frame, 1) >= 0;
  }();
  (void)loaded;
}

void ReaderThreads::track(const std::vector<pid_t>& before) {
  tids_.clear();
  for (const pid_t tid : process_threads()) {
    if (!std::binary_search(before.begin(), before.end(), tid)) tids_.push_back(tid);
  }
}

void ReaderThreads::track_pipes(const std::vector<int>& before) {
  pipes_.clear();
  for (const int fd : open_descriptors()) {
    struct stat st {};
    if (std::binary_search(before.begin(), before.end(), fd) || ::fstat(fd, &st) != 0 ||
        !S_ISFIFO(st.st_mode) || (::fcntl(fd, F_GETFL) & O_ACCMODE) != O_RDONLY)
      continue;
    pipes_.push_back({fd, st.st_dev, st.st_ino});
  }
}

std::vector<int> ReaderThreads::duplicate_pipes() const {
  std::vector<int> out;
  for (const PipeEnd& p : pipes_) {
    // Still the backend's pipe (not a later descriptor of the same number).
    struct stat st {};
    if (::fstat(p.fd, &st) != 0 || st.st_dev != p.dev || st.st_ino != p.ino) continue;
    const int fd = ::fcntl(p.fd, F_DUPFD_CLOEXEC, 0);
    if (fd >= 0) out.push_back(fd);
  }
  return out;
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

HeldPipes::HeldPipes(std::vector<int> fds, std::chrono::milliseconds limit)
    : fds_(std::move(fds)) {
  if (fds_.empty()) return;
  try {
    closer_ = std::thread([this, limit] {
      std::unique_lock<std::mutex> lock(m_);
      cv_.wait_for(lock, limit, [this] { return done_; });
      for (const int fd : fds_) ::close(fd);
    });
  } catch (const std::system_error&) {
    for (const int fd : fds_) ::close(fd);  // no thread to bound the hold: none
  }
}

HeldPipes::~HeldPipes() {
  if (!closer_.joinable()) return;
  {
    std::lock_guard<std::mutex> lock(m_);
    done_ = true;
  }
  cv_.notify_all();
  closer_.join();
}

}  // namespace korvex::twain
