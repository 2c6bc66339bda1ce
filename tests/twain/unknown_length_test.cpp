// Pages of unknown length (a hand scanner) read only while the backend's
// reader has ended or is parked on a full pipe: ten feeder pages in small
// pieces, each read finding the reader settled at once, not at the limit.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <cstring>

#include "korvex/global_memory.h"
#include "private_sane.h"
#include "twain/kxtwain.h"
#include "twain/readers.h"

namespace korvex::twain {
namespace {

using testutil::PrivateSane;

TEST(TwainUnknownLength, FeederPagesEndOnlyWithTheReaderSettled) {
  PrivateSane sane(
      "hand-scanner true\nscan-source \"Automatic Document Feeder\"\n"
      "read-limit true\nread-limit-size 8192\n");
  // The feeder's page as scanimage reads it from the same backend.
  FILE* pnm = ::popen("scanimage -d test:0 --format=pnm 2>/dev/null", "r");
  ASSERT_NE(pnm, nullptr);
  int32_t want_w = 0, want_h = 0;
  char line[128];
  while (std::fgets(line, sizeof line, pnm) != nullptr) {
    if (line[0] != 'P' && line[0] != '#' && std::sscanf(line, "%d %d", &want_w, &want_h) == 2)
      break;
  }
  ::pclose(pnm);
  ASSERT_GT(want_w * want_h, 0);
  ASSERT_TRUE(KXTWAIN_OpenDefaultSource());
  const auto start = std::chrono::steady_clock::now();
  for (int page = 1; page <= 10; ++page) {
    SCOPED_TRACE(page);
    const int32_t dib = KXTWAIN_AcquireNative(0);
    ASSERT_NE(dib, 0);
    EXPECT_EQ(KXTWAIN_GetLastResultCode(), kXferDone);
    int32_t wh[2] = {};
    std::memcpy(wh, host::GlobalLock(dib) + 4, 8);
    host::GlobalUnlock(dib);
    EXPECT_EQ(wh[0], want_w);
    EXPECT_EQ(wh[1], want_h);  // bottom-up rows: a positive height
    EXPECT_TRUE(KXTWAIN_FreeNative(dib));
  }
  // About twenty reads a page: had any waited out the settle limit, the ten
  // pages would have taken seconds.
  EXPECT_LT(std::chrono::steady_clock::now() - start, kReaderSettleLimit);
  EXPECT_EQ(KXTWAIN_AcquireNative(0), 0);  // the feeder is empty
  EXPECT_EQ(KXTWAIN_GetLastConditionCode(), kNoMedia);
}

}  // namespace
}  // namespace korvex::twain
