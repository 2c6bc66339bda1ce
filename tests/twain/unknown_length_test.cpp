// Pages of unknown length (a hand scanner) read only while the backend's
// reader has ended or is parked on a full pipe: a feeder's ten pages, read
// in small pieces so that every page takes many reads, each of which must
// find the reader settled at once rather than after the settle limit.
#include <gtest/gtest.h>

#include <chrono>
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
  ASSERT_TRUE(KXTWAIN_OpenDefaultSource());
  const auto start = std::chrono::steady_clock::now();
  for (int page = 1; page <= 10; ++page) {
    SCOPED_TRACE(page);
    const int32_t dib = KXTWAIN_AcquireNative(0);
    ASSERT_NE(dib, 0);
    EXPECT_EQ(KXTWAIN_GetLastResultCode(), kXferDone);
    const uint8_t* p = host::GlobalLock(dib);
    int32_t w = 0, h = 0;
    std::memcpy(&w, p + 4, 4);
    std::memcpy(&h, p + 8, 4);
    host::GlobalUnlock(dib);
    // 80 x 100 mm at 75 dpi, as the same page of known length.
    EXPECT_EQ(w, testutil::pixels(80, 75));
    EXPECT_EQ(h, testutil::pixels(100, 75));
    EXPECT_TRUE(KXTWAIN_FreeNative(dib));
  }
  // About nine reads a page: had any waited out the settle limit, the ten
  // pages would have taken seconds.
  EXPECT_LT(std::chrono::steady_clock::now() - start, kReaderSettleLimit);
  EXPECT_EQ(KXTWAIN_AcquireNative(0), 0);  // the feeder is empty
  EXPECT_EQ(KXTWAIN_GetLastConditionCode(), kNoMedia);
}

}  // namespace
}  // namespace korvex::twain
