// Resource limits: the one place holding them (defaults, setting, the
// environment), every image source refusing a picture past the pixel
// limits or an inflating bomb before allocating it, and the statuses of
// files that are no regular file: devices, pipes, folders, sockets.
#include <fcntl.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <functional>
#include <memory>
#include <thread>

#include "bombs.h"
#include "engine_test_util.h"
#include "korvex/limits.h"
#include "korvex/stream.h"

namespace korvex {
namespace {

using testutil::ScratchDir;

// Puts the process's limits back to their defaults after each test.
class Limits : public ScratchTest {
 protected:
  void SetUp() override { ::signal(SIGPIPE, SIG_IGN); }  // a reader may stop a pipe early
  void TearDown() override { ResetLimits(); }
};

TEST_F(Limits, DefaultsSettingAndStrictEnvironmentValues) {
  const uint64_t defaults[] = {uint64_t{1} << 30, uint64_t{4} << 30, uint64_t{256} << 20, 250};
  for (int32_t i = 0; i < kLimitCount; ++i) {
    const auto which = static_cast<Limit>(i);
    EXPECT_EQ(GetLimit(which), defaults[i]) << LimitName(which);
    EXPECT_FALSE(SetLimit(which, 0));
    EXPECT_TRUE(SetLimit(which, 12345));
    EXPECT_EQ(GetLimit(which), 12345u);
  }
  EXPECT_FALSE(SetLimit(static_cast<Limit>(kLimitCount), 5));
  EXPECT_EQ(GetLimit(static_cast<Limit>(-1)), 0u);

  // Only whole decimal numbers from 1 up replace the default.
  const struct {
    const char* text;
    uint64_t want;
  } values[] = {{"5000", 5000},
                {"18446744073709551615", UINT64_MAX},
                {"0", 250},
                {"-5", 250},
                {"+5", 250},
                {" 5", 250},
                {"5 ", 250},
                {"5k", 250},
                {"0x10", 250},
                {"", 250},
                {"18446744073709551616", 250}};
  for (const auto& v : values) {
    ::setenv("KORVEX_MAX_INFLATE_RATIO", v.text, 1);
    ResetLimits();
    EXPECT_EQ(GetLimit(Limit::InflateRatio), v.want) << '"' << v.text << '"';
  }
  ::unsetenv("KORVEX_MAX_INFLATE_RATIO");
  ::setenv("KORVEX_MAX_PIXELS", "77", 1);
  ResetLimits();
  ::unsetenv("KORVEX_MAX_PIXELS");
  EXPECT_EQ(GetLimit(Limit::Pixels), 77u);
  EXPECT_EQ(GetLimit(Limit::PixelBytes), uint64_t{4} << 30);
}

// A named pipe at `path` delivering `bytes` from a thread once it is opened.
struct Fifo {
  Fifo(const std::string& path, std::vector<uint8_t> bytes) {
    EXPECT_EQ(::mkfifo(path.c_str(), 0600), 0);
    writer = std::thread([path, b = std::move(bytes)] {
      const int fd = ::open(path.c_str(), O_WRONLY);
      for (size_t at = 0; fd >= 0 && at < b.size();) {
        const ssize_t n = ::write(fd, b.data() + at, b.size() - at);
        if (n <= 0) break;  // the reader stopped early
        at += static_cast<size_t>(n);
      }
      if (fd >= 0) ::close(fd);
    });
  }
  ~Fifo() { writer.join(); }
  std::thread writer;
};

// The status of loading `bytes` through each image source.
using Source = std::function<S(cKorvex&, const std::string&, const std::vector<uint8_t>&)>;
const std::pair<const char*, Source> kSources[] = {
    {"file",
     [](cKorvex& k, const std::string& p, const std::vector<uint8_t>& b) {
       testutil::write_file(p, b);
       k.CreateImageFromFile(p);
       return k.GetStat();
     }},
    {"pipe",
     [](cKorvex& k, const std::string& p, const std::vector<uint8_t>& b) {
       Fifo fifo(p, b);
       k.CreateImageFromFile(p);
       return k.GetStat();
     }},
    {"memory",
     [](cKorvex& k, const std::string&, const std::vector<uint8_t>& b) {
       Array<uint8_t> a(b);
       k.CreateImageFromByteArray(a);
       return k.GetStat();
     }},
    {"stream",
     [](cKorvex& k, const std::string&, const std::vector<uint8_t>& b) {
       k.CreateImageFromStream(std::make_shared<MemoryStream>(b));
       return k.GetStat();
     }},
};

TEST_F(Limits, EverySourceRefusesPicturesPastTheLimitsBeforeAllocating) {
  std::unique_ptr<raster::Image> small;
  ASSERT_EQ(raster::Image::create(20, 20, raster::pf::k8bppIndexed, small), raster::Status::Ok);
  const std::vector<uint8_t> png = testutil::encode("*.png", *small);
  // 128 MiB of black pixels in about 130 KiB: a thousand to one.
  const std::vector<uint8_t> png_bomb = testutil::png_bomb(16384, 8192);
  const std::vector<uint8_t> tiff_bomb = testutil::tiff_bomb(16384, 8192);
  ASSERT_LT(png_bomb.size() + tiff_bomb.size(), 1u << 20);
  const struct {
    const char* name;
    const std::vector<uint8_t>& bytes;
    Limit limit;
    uint64_t value;  // 0: the default
    S want;
  } cases[] = {
      {"png", png, Limit::Pixels, 0, S::Ok},
      {"png, 399 pixels", png, Limit::Pixels, 399, S::OutOfMemory},
      {"png, 400 pixels", png, Limit::Pixels, 400, S::Ok},
      {"png, 399 bytes", png, Limit::PixelBytes, 399, S::OutOfMemory},
      {"png bomb", png_bomb, Limit::InflateRatio, 0, S::OutOfMemory},
      {"tiff bomb", tiff_bomb, Limit::InflateRatio, 0, S::OutOfMemory},
      {"tiff bomb, ratio 2000", tiff_bomb, Limit::InflateRatio, 2000, S::Ok},
      {"png bomb, 1 KiB input", png_bomb, Limit::DownloadBytes, 1024, S::OutOfMemory},
  };
  for (const auto& [source, load] : kSources) {
    for (const auto& c : cases) {
      SCOPED_TRACE(std::string(source) + ": " + c.name);
      const bool unbounded_source =
          std::string(source) == "pipe" || std::string(source) == "stream";
      if (c.limit == Limit::DownloadBytes && !unbounded_source) continue;
      ResetLimits();
      if (c.value != 0) SetLimit(c.limit, c.value);
      cKorvex k;
      EXPECT_EQ(load(k, path(std::string(source) + "-" + c.name), c.bytes), c.want);
    }
  }
}

TEST_F(Limits, FilesThatAreNoRegularFileReportWhatHappened) {
  std::unique_ptr<raster::Image> small;
  ASSERT_EQ(raster::Image::create(3, 2, raster::pf::k24bppRGB, small), raster::Status::Ok);
  const std::vector<uint8_t> png = testutil::encode("*.png", *small);
  const std::string socket_path = path("socket");
  const int sock = ::socket(AF_UNIX, SOCK_STREAM, 0);
  sockaddr_un addr{};
  addr.sun_family = AF_UNIX;
  socket_path.copy(addr.sun_path, sizeof addr.sun_path - 1);
  ASSERT_EQ(::bind(sock, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
  const std::vector<uint8_t> text(100000, 'x');
  const struct {
    std::string path;
    std::vector<uint8_t> fifo_bytes;  // a pipe delivering these when not empty
    S want;
  } cases[] = {
      {"/dev/zero", {}, S::UnknownImageFormat},
      {"/dev/null", {}, S::GenericError},  // no bytes, as an empty file
      {socket_path, {}, S::Win32Error},
      {path("png-pipe"), png, S::Ok},
      {path("text-pipe"), text, S::UnknownImageFormat},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.path);
    std::unique_ptr<Fifo> fifo;
    if (!c.fifo_bytes.empty()) fifo = std::make_unique<Fifo>(c.path, c.fifo_bytes);
    cKorvex k;
    const int32_t id = k.CreateImageFromFile(c.path);
    EXPECT_EQ(k.GetStat(), c.want);
    if (c.want == S::Ok) {
      ASSERT_NE(img(id), nullptr);
      EXPECT_EQ(std::pair(img(id)->width(), img(id)->height()), std::pair(3, 2));
    }
  }
  ::close(sock);

  // A file that may not be read: as a user other than root when running as root.
  const std::string locked = path("locked.png");
  testutil::write_file(locked, png);
  ASSERT_EQ(::chmod(locked.c_str(), 0), 0);
  const pid_t child = ::fork();
  if (child == 0) {
    if (::geteuid() == 0 && (::setgid(65534) != 0 || ::setuid(65534) != 0)) ::_exit(100);
    cKorvex k;
    k.CreateImageFromFile(locked);
    ::_exit(static_cast<int>(k.GetStat()));
  }
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  EXPECT_EQ(WIFEXITED(status) ? WEXITSTATUS(status) : -1, static_cast<int>(S::Win32Error));
}

}  // namespace
}  // namespace korvex
