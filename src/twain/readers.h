// The threads a backend starts in sane_start to fill its pipe with the page.
// Backends built on SANE's thread helper stop them with asynchronous
// cancellation when a pass ends (the sane_read that completes the page, or
// sane_cancel). A reader cancelled inside malloc or free keeps the C
// library's heap lock, and its own exit then waits on that lock for ever,
// with the caller joined to it. A pass is therefore ended only while every
// reader has finished or sits where it holds no such lock: blocked writing
// to a full pipe, which only the caller's reads can release. A page of known
// length holds back its last byte until the readers have ended; a page of
// unknown length reads only while they have ended or are parked, as a
// parked reader still holds the page's last byte.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <vector>

namespace korvex::twain {

// Thread ids of this process (empty where /proc is not mounted).
std::vector<pid_t> process_threads();

class ReaderThreads {
 public:
  // Takes as readers the threads that are not in `before`.
  void track(const std::vector<pid_t>& before);
  void clear() { tids_.clear(); }
  // Waits until every reader has ended (or, with allow_parked, is blocked
  // writing to its pipe); false when the limit passed first.
  bool await(bool allow_parked, std::chrono::milliseconds limit) const;

 private:
  std::vector<pid_t> tids_;
};

// How long a pass end waits for the readers to settle: ample for a reader
// that only has to be scheduled on a loaded machine, and a bound on the delay
// a cancel sees with a backend whose reader sits in a device read.
inline constexpr std::chrono::milliseconds kReaderSettleLimit{5000};

}  // namespace korvex::twain
