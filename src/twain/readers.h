// The threads a backend starts in sane_start to fill its pipe with the page.
// Backends built on SANE's thread helper stop them with asynchronous
// cancellation when a pass ends (the sane_read that completes the page, or
// sane_cancel). A reader cancelled while it holds one of the C library's
// locks dies holding it: inside malloc or free its own exit then waits on
// the heap lock for ever, with the caller joined to it; inside the loader or
// the locale code the join returns, but the next dlopen, thread_local or
// process exit waits for ever. A pass is therefore ended only while every
// reader has finished or sits where it holds no lock: blocked writing to a
// full pipe, which only the caller's reads can release. A page of known
// length holds back its last byte until the readers have ended; a page of
// unknown length reads only while they have ended or are parked, as a
// parked reader still holds the page's last byte. A cancel holds the pipes
// open meanwhile (HeldPipes): the backend closes its end before it cancels,
// and a parked reader woken by the broken pipe would be cancelled on its
// way out, inside the error message lookup (locale lock) or, the first time,
// inside its own thread exit (loader lock).
#pragma once

#include <sys/types.h>

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>
#include <vector>

namespace korvex::twain {

// Thread ids of this process (empty where /proc is not mounted).
std::vector<pid_t> process_threads();
// Open descriptors of this process (empty where /proc is not mounted).
std::vector<int> open_descriptors();

// The C library loads its stack unwinder on the first thread exit or cancel
// of the process, through dlopen, that is holding the loader's lock; a
// reader making that first exit while its pass is cancelled can die holding
// it. Loaded here once, before any scan, there is nothing left to load.
void load_unwinder();

class ReaderThreads {
 public:
  // Takes as readers the threads that are not in `before`.
  void track(const std::vector<pid_t>& before);
  // Takes as the readers' pipes the pipe read ends not in `before`.
  void track_pipes(const std::vector<int>& before);
  void clear() {
    tids_.clear();
    pipes_.clear();
  }
  // Waits until every reader has ended (or, with allow_parked, is blocked
  // writing to its pipe); false when the limit passed first.
  bool await(bool allow_parked, std::chrono::milliseconds limit) const;
  // New descriptors of the read ends of the readers' pipes still open.
  std::vector<int> duplicate_pipes() const;

 private:
  struct PipeEnd {
    int fd;
    dev_t dev;
    ino_t ino;
  };
  std::vector<pid_t> tids_;
  std::vector<PipeEnd> pipes_;
};

// Pipe read ends held open while a pass is cancelled: the backend closing
// its own end then leaves a reader parked on the full pipe blocked in its
// write, where the cancel finds it. Once the cancel has been sent, the
// reader's next step is to act on it, so the ends are closed as soon as
// sane_cancel returns, or at the limit: a backend whose reader stops only
// when its pipe breaks is then let go.
class HeldPipes {
 public:
  HeldPipes(std::vector<int> fds, std::chrono::milliseconds limit);
  ~HeldPipes();
  HeldPipes(const HeldPipes&) = delete;
  HeldPipes& operator=(const HeldPipes&) = delete;

 private:
  std::vector<int> fds_;
  std::mutex m_;
  std::condition_variable cv_;
  bool done_ = false;
  std::thread closer_;
};

// How long a pass end waits for the readers to settle: ample for a reader
// that only has to be scheduled on a loaded machine, and a bound on the delay
// a cancel sees with a backend whose reader sits in a device read.
inline constexpr std::chrono::milliseconds kReaderSettleLimit{5000};

}  // namespace korvex::twain
