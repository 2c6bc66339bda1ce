// The acquisition library's transfers (limits, cancels mid-page, pages of unknown length), text
// buffers and fixed point; a stalled backend is in tests/faults.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "korvex/global_memory.h"
#include "korvex/limits.h"
#include "private_sane.h"
#include "twain/kxtwain.h"

namespace korvex::twain {
namespace {

using testutil::PrivateSane;

TEST(TwainTransfer, PagesPastThePixelLimitsAreRefusedAndTheSourceStaysUsable) {
  PrivateSane sane;
  ASSERT_TRUE(KXTWAIN_OpenDefaultSource());
  // The default page: 236 x 295 gray pixels, in rows of 236 bytes.
  constexpr uint64_t kPage = 236 * 295;
  for (const auto& [limit, value] : {std::pair{Limit::Pixels, kPage - 1},
                                     {Limit::PixelBytes, kPage - 1},
                                     {Limit::Pixels, kPage}}) {
    SetLimit(limit, value);
    const int32_t dib = KXTWAIN_AcquireNative(0);
    ResetLimits();
    EXPECT_EQ(dib != 0, value == kPage) << LimitName(limit) << " " << value;
    EXPECT_TRUE(dib == 0 ? KXTWAIN_GetLastConditionCode() == kLowMemory : KXTWAIN_FreeNative(dib));
  }
}

TEST(TwainTransfer, CancelMidPageLeavesTheSourceUsable) {
  PrivateSane sane;
  ASSERT_TRUE(KXTWAIN_OpenDefaultSource());
  const size_t blocks = host::GlobalBlockCount();
  uint64_t seen = 0, announced = 0;
  SetProgress([&](uint64_t done, uint64_t total) {
    seen = done;
    announced = total;
    return done * 2 < total;
  });
  EXPECT_EQ(KXTWAIN_AcquireNative(0), 0);
  EXPECT_EQ(KXTWAIN_GetLastResultCode(), kCancel);
  EXPECT_GT(seen, 0u);
  EXPECT_LT(seen, announced);
  EXPECT_EQ(announced, 236u * 295u);  // 80 x 100 mm at 75 dpi, 8-bit gray
  SetProgress(nullptr);
  const int32_t dib = KXTWAIN_AcquireNative(0);
  ASSERT_NE(dib, 0);
  // 40-byte header, 256 gray entries, rows of 236 bytes (a multiple of 4).
  EXPECT_EQ(host::GlobalSize(dib), 40u + 1024u + 236u * 295u);
  EXPECT_TRUE(KXTWAIN_FreeNative(dib));
  EXPECT_EQ(host::GlobalBlockCount(), blocks);
}

// A hand scanner announces no page length: the page ends where the data
// does, as scanimage (the same backend, its own reader) sees it.
TEST(TwainTransfer, PageOfUnknownLengthMatchesScanimage) {
  PrivateSane sane("hand-scanner true\n");
  FILE* pnm = ::popen("scanimage -d test:0 --format=pnm 2>/dev/null", "r");
  ASSERT_NE(pnm, nullptr);
  int w = 0, h = 0;
  char line[128];
  while (std::fgets(line, sizeof line, pnm) != nullptr) {
    if (line[0] != 'P' && line[0] != '#' && std::sscanf(line, "%d %d", &w, &h) == 2) break;
  }
  ::pclose(pnm);
  ASSERT_GT(w * h, 0);
  ASSERT_TRUE(KXTWAIN_OpenDefaultSource());
  const int32_t dib = KXTWAIN_AcquireNative(0);
  ASSERT_NE(dib, 0);
  int32_t size[2] = {};  // bottom-up rows: a positive height
  std::memcpy(size, host::GlobalLock(dib) + 4, 8);
  host::GlobalUnlock(dib);
  EXPECT_EQ(size[0], w);
  EXPECT_EQ(size[1], h);
  EXPECT_TRUE(KXTWAIN_FreeNative(dib));
}

TEST(TwainTransfer, TextBuffersAreTerminatedAndStateChecked) {
  PrivateSane sane;
  TextBuffer name;
  std::memset(name, 'x', sizeof name);
  EXPECT_FALSE(KXTWAIN_GetFirstSourceName(name));  // source manager not open
  EXPECT_EQ(name[0], '\0');
  EXPECT_EQ(KXTWAIN_GetLastConditionCode(), kSeqError);
  ASSERT_TRUE(KXTWAIN_OpenSourceManager(0));
  ASSERT_TRUE(KXTWAIN_GetFirstSourceName(name));
  EXPECT_STREQ(name, "Noname frontend-tester (test:0)");
  EXPECT_FALSE(KXTWAIN_GetNextSourceName(name));
  EXPECT_EQ(name[0], '\0');
  EXPECT_FALSE(KXTWAIN_GetCurrentSourceName(name));
  EXPECT_FALSE(KXTWAIN_NegotiateXferCount(2));  // needs an open source
  EXPECT_EQ(KXTWAIN_LoadCapValuesN(kXResolution, kGetCurrent), 0);
}

TEST(TwainTransfer, Fix32) {
  const struct {
    double v;
    uint32_t fix;
  } kCases[] = {{1.5, 0x80000001u}, {300, 0x0000012Cu}, {-1.5, 0x8000FFFEu}, {0.25, 0x40000000u}};
  for (const auto& c : kCases) {
    EXPECT_EQ(static_cast<uint32_t>(KXTWAIN_ToFix32(c.v)), c.fix) << c.v;
    EXPECT_DOUBLE_EQ(KXTWAIN_FromFix32(static_cast<int32_t>(c.fix)), c.v);
  }
}

}  // namespace
}  // namespace korvex::twain
