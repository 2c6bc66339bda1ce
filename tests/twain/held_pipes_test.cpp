// A cancel holds the readers' pipes open: the backend closing its read end
// leaves a reader parked on the full pipe blocked in its write, where the
// cancel finds it, instead of waking it with a broken pipe. The pipe breaks
// when the hold ends, or at its limit.
#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <chrono>
#include <thread>
#include <vector>

#include "twain/readers.h"

namespace korvex::twain {
namespace {

using std::chrono::milliseconds;

TEST(TwainHeldPipes, ParkedReaderOutlivesTheBackendsCloseUntilReleased) {
  std::thread([] {}).join();  // a thread sanitizer's helper thread starts first
  struct sigaction ignore {}, old {};
  ignore.sa_handler = SIG_IGN;  // as SANE's thread helper sets it for a pass
  ASSERT_EQ(::sigaction(SIGPIPE, &ignore, &old), 0);
  for (const int limit : {5000, 50}) {
    SCOPED_TRACE(limit);
    const std::vector<pid_t> threads = process_threads();
    const std::vector<int> fds = open_descriptors();
    int pipe_fds[2];
    ASSERT_EQ(::pipe(pipe_fds), 0);
    std::thread writer([fd = pipe_fds[1]] {  // writes until its pipe breaks
      const std::vector<char> rows(1 << 16, 'k');
      while (::write(fd, rows.data(), rows.size()) > 0) {
      }
    });
    ReaderThreads readers;
    readers.track(threads);
    readers.track_pipes(fds);
    ASSERT_TRUE(readers.await(true, milliseconds(5000)));  // parked on the full pipe
    {
      std::vector<int> held_fds = readers.duplicate_pipes();
      EXPECT_EQ(held_fds.size(), 1u);  // the read end only
      const HeldPipes held(std::move(held_fds), milliseconds(limit));
      ::close(pipe_fds[0]);  // the backend's end
      // Held: still parked. At a short limit: let go while still held.
      EXPECT_EQ(readers.await(false, milliseconds(limit == 50 ? 5000 : 100)), limit == 50);
    }
    EXPECT_TRUE(readers.await(false, milliseconds(5000)));  // the pipe broke: ended
    writer.join();
    ::close(pipe_fds[1]);
  }
  ::sigaction(SIGPIPE, &old, nullptr);
}

}  // namespace
}  // namespace korvex::twain
