// A print server killed holding the job, a scanner stopping or stalling
// mid-page: a status, the image kept, the engine usable. A web server
// stalling mid-body is a case of tests/net.
#include <cups/cups.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>

#include "../codecs/codec_test_util.h"
#include "korvex/global_memory.h"
#include "korvex/korvex.h"
#include "private_sane.h"
#include "twain/kxtwain.h"

namespace korvex {
namespace {

using S = cKorvexStatus;
using testutil::ScratchDir;
namespace fs = std::filesystem;

const std::string kSamples = KORVEX_SOURCE_DIR "/samples/";

void expect_usable(cKorvex& k) {
  ScratchDir dir;
  ASSERT_EQ(k.LoadFromFile(kSamples + "photo.jpg"), S::Ok);
  EXPECT_EQ(k.SetGrayscaleEffect(), S::Ok);
  EXPECT_EQ(k.SaveAsPng(dir.file("after.png")), S::Ok);
  cKorvex check;
  EXPECT_EQ(check.LoadFromFile(dir.file("after.png")), S::Ok);
}

// A cupsd of this test alone with one queue whose jobs are held, so that a
// job stays with the server until the server is killed.
class HoldingCups {
 public:
  HoldingCups() {
    const std::string& r = dir_.path();
    for (const char* d : {"etc", "run", "spool", "tmp", "state", "cache", "log"})
      fs::create_directories(r + "/" + d);
    std::ofstream(r + "/etc/cups-files.conf")
        << "ServerRoot " << r << "/etc\nRequestRoot " << r << "/spool\nTempDir " << r
        << "/tmp\nStateDir " << r << "/state\nCacheDir " << r << "/cache\nAccessLog " << r
        << "/log/access_log\nErrorLog " << r << "/log/error_log\nPageLog " << r
        << "/log/page_log\nPrintcap " << r << "/state/printcap\nSystemGroup root\nFileDevice Yes\n";
    std::ofstream(r + "/etc/cupsd.conf")
        << "Listen " << socket() << "\nBrowsing No\nWebInterface No\n<Policy default>\n"
        << "  <Limit All>\n    Order deny,allow\n  </Limit>\n</Policy>\n";
    pid_ = ::fork();
    if (pid_ == 0) {
      ::prctl(PR_SET_PDEATHSIG, SIGTERM);
      const std::string c = r + "/etc/cupsd.conf", f = r + "/etc/cups-files.conf";
      ::execl("/usr/sbin/cupsd", "cupsd", "-f", "-c", c.c_str(), "-s", f.c_str(),
              static_cast<char*>(nullptr));
      ::_exit(127);
    }
    ::setenv("CUPS_SERVER", socket().c_str(), 1);
    cupsSetServer(socket().c_str());  // libcups keeps the server per thread
    for (int i = 0; i < 500 && !running(); ++i)
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    ready_ = running() && tool("lpadmin -p kx-held -E -v file:///dev/null -m raw "
                               "-o job-hold-until-default=indefinite") == 0;
  }
  ~HoldingCups() { kill(); }
  bool ready() const { return ready_; }
  std::string socket() const { return dir_.path() + "/run/cups.sock"; }
  // True once the server holds a job's document.
  bool holds_a_job() const {
    for (const auto& e : fs::directory_iterator(dir_.path() + "/spool"))
      if (e.path().filename().string().rfind("d", 0) == 0) return true;
    return false;
  }
  void kill() {
    if (pid_ <= 0) return;
    ::kill(pid_, SIGKILL);
    int st = 0;
    ::waitpid(pid_, &st, 0);
    pid_ = 0;
  }

 private:
  bool running() const {
    return fs::exists(socket()) && tool("lpstat -r | grep -q 'is running'") == 0;
  }
  int tool(const std::string& cmd) const {
    const int st = std::system(("CUPS_SERVER=" + socket() + " " + cmd + " >/dev/null 2>&1").c_str());
    return WIFEXITED(st) ? WEXITSTATUS(st) : -1;
  }
  ScratchDir dir_;
  pid_t pid_ = 0;
  bool ready_ = false;
};

TEST(PrintServerFault, ServerKilledWhileHoldingTheJob) {
  if (::access("/usr/sbin/cupsd", X_OK) != 0) GTEST_SKIP() << "cupsd is not installed (package cups)";
  HoldingCups cups;
  ASSERT_TRUE(cups.ready());
  // Where the job's document is spooled before it is sent.
  ScratchDir spool;
  ::setenv("TMPDIR", spool.path().c_str(), 1);
  ::setenv("KORVEX_PRINT_TIMEOUT", "60", 1);
  cKorvex k;
  ASSERT_EQ(k.LoadFromFile(kSamples + "photo.jpg"), S::Ok);
  const int32_t image = k.GetNativeImage();
  ASSERT_TRUE(k.PrintSetActivePrinter("kx-held"));
  std::thread killer([&] {
    // Polls for the job's document (for a minute at most, should the job never come).
    for (int i = 0; i < 12000 && !cups.holds_a_job(); ++i)
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    cups.kill();
  });
  k.PrintImage();
  killer.join();
  EXPECT_EQ(k.PrintGetStat(), S::Win32Error);
  for (const auto& e : fs::directory_iterator(spool.path())) ADD_FAILURE() << "left behind: " << e.path();
  EXPECT_EQ(k.GetNativeImage(), image);
  // The built-in printer still prints.
  ScratchDir out;
  ASSERT_TRUE(k.PrintSetActivePrinter("Korvex PDF"));
  k.PrintSetOutputFolder(out.path());
  k.PrintSetDocumentName("after");
  k.PrintImage();
  EXPECT_EQ(k.PrintGetStat(), S::Ok);
  EXPECT_TRUE(fs::exists(out.file("after.pdf")));
  ::unsetenv("TMPDIR");
  expect_usable(k);
}

TEST(ScannerFault, PageStoppedOrStalledMidwayGivesTwainError) {
  const struct {
    const char* name;
    const char* config;  // test backend settings
    bool cancel;         // the host cancels at half the page
  } kCases[] = {{"cancelled at half", "", true},
                {"stalled", "read-delay true\nread-delay-duration 200000\n", false}};
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.name);
    testutil::PrivateSane sane(c.config);
    cKorvex k;
    ASSERT_EQ(k.LoadFromFile(kSamples + "logo.png"), S::Ok);
    const int32_t image = k.GetNativeImage(), width = k.GetWidth();
    ASSERT_TRUE(k.TwainOpenDefaultSource());
    const size_t blocks = host::GlobalBlockCount();
    if (c.cancel) twain::SetProgress([](uint64_t done, uint64_t total) { return done * 2 < total; });
    else twain::SetReadTimeout(50);
    EXPECT_EQ(k.CreateImageFromTwain(), 0);
    EXPECT_EQ(k.GetStat(), S::TwainError);
    EXPECT_EQ(k.TwainGetLastResultCode(), c.cancel ? twain::kCancel : twain::kFailure);
    EXPECT_EQ(k.TwainGetLastConditionCode(), c.cancel ? 0 : twain::kOperationError);
    EXPECT_EQ(k.TwainGetState(), 4);
    EXPECT_EQ(host::GlobalBlockCount(), blocks);
    EXPECT_EQ(k.GetNativeImage(), image);
    EXPECT_EQ(k.GetWidth(), width);
    twain::SetProgress(nullptr);
    twain::SetReadTimeout(0);
    // The next page comes whole (half an inch square, to keep the stalled one short).
    ASSERT_TRUE(k.TwainSetImageLayout(0, 0, 0.5, 0.5));
    EXPECT_EQ(k.TwainAcquire(), S::Ok);
    EXPECT_NEAR(k.GetWidth(), 0.5 * 75, 1);
    EXPECT_TRUE(k.TwainCloseSource());
    expect_usable(k);
  }
}

}  // namespace
}  // namespace korvex
