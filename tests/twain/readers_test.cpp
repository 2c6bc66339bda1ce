// Reader threads of a scan: a pass may end only while each reader has ended
// or is blocked writing to a full pipe, never while it runs (it may be
// inside the heap).
#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

#include "twain/readers.h"

namespace korvex::twain {
namespace {

using std::chrono::milliseconds;

TEST(TwainReaders, SettleOnlyWhenEndedOrParkedOnAFullPipe) {
  // A thread sanitizer's runtime starts its helper thread with the first
  // thread of the process: let it start before the snapshots.
  std::thread([] {}).join();
  int fds[2];
  ASSERT_EQ(::pipe(fds), 0);
  // A reader that fills its pipe and blocks on the next write.
  ReaderThreads parked;
  std::vector<pid_t> before = process_threads();
  ASSERT_FALSE(before.empty());
  std::thread writer([fd = fds[1]] {
    const std::vector<char> page(1 << 20, 'k');
    size_t done = 0;
    while (done < page.size()) {
      const ssize_t n = ::write(fd, page.data() + done, page.size() - done);
      if (n <= 0) break;
      done += static_cast<size_t>(n);
    }
  });
  parked.track(before);
  EXPECT_TRUE(parked.await(true, milliseconds(5000)));  // blocked writing
  EXPECT_FALSE(parked.await(false, milliseconds(50)));  // but not ended
  char sink[65536];                                     // the page read out: the reader ends
  for (size_t left = 1 << 20; left > 0;) {
    const ssize_t n = ::read(fds[0], sink, sizeof sink);
    ASSERT_GT(n, 0);
    left -= static_cast<size_t>(n);
  }
  writer.join();
  EXPECT_TRUE(parked.await(false, milliseconds(5000)));
  ::close(fds[0]);
  ::close(fds[1]);

  // A reader busy computing settles neither way until it ends.
  std::atomic<bool> stop{false};
  ReaderThreads busy;
  before = process_threads();
  std::thread spinner([&stop] {
    while (!stop.load()) {
    }
  });
  busy.track(before);
  EXPECT_FALSE(busy.await(true, milliseconds(50)));
  stop = true;
  spinner.join();
  EXPECT_TRUE(busy.await(true, milliseconds(5000)));
  EXPECT_TRUE(ReaderThreads().await(false, milliseconds(0)));  // no readers
}

}  // namespace
}  // namespace korvex::twain
