// Resource limits: defaults and environment, every source refusing oversized
// pictures and bombs, and files that are no regular file.
#include <fcntl.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <memory>
#include <thread>

#include "bombs.h"
#include "engine_test_util.h"
#include "korvex/limits.h"
#include "korvex/stream.h"

namespace korvex {
namespace {

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
  // Only whole decimal numbers from 1 up replace the default.
  for (const char* text :
       {"5000", "18446744073709551615", "18446744073709551616", "0", "-5", " 5", "5k", ""}) {
    ::setenv("KORVEX_MAX_INFLATE_RATIO", text, 1);
    ResetLimits();
    const std::string t = text;
    const uint64_t want = t == "5000" ? 5000 : t == "18446744073709551615" ? UINT64_MAX : 250;
    EXPECT_EQ(GetLimit(Limit::InflateRatio), want) << '"' << text << '"';
    EXPECT_EQ(GetLimit(Limit::Pixels), defaults[0]);
  }
  ::unsetenv("KORVEX_MAX_INFLATE_RATIO");
}

// A named pipe delivering `bytes` from a thread once it is opened.
struct Fifo {
  Fifo(const std::string& path, std::vector<uint8_t> bytes) {
    EXPECT_EQ(::mkfifo(path.c_str(), 0600), 0);
    writer = std::thread([path, b = std::move(bytes)] {
      // One blocking write: all of it, or EPIPE when the reader stops early.
      const int fd = ::open(path.c_str(), O_WRONLY);
      if (fd < 0) return;
      (void)!::write(fd, b.data(), b.size());
      ::close(fd);
    });
  }
  ~Fifo() { writer.join(); }
  std::thread writer;
};

enum class Via { File, Pipe, Memory, Stream };

S load(Via via, const std::string& path, const std::vector<uint8_t>& bytes) {
  cKorvex k;
  Array<uint8_t> array(bytes);
  std::unique_ptr<Fifo> fifo;
  if (via == Via::File) testutil::write_file(path, bytes);
  if (via == Via::Pipe) fifo = std::make_unique<Fifo>(path, bytes);
  const int32_t id = via == Via::Memory ? k.CreateImageFromByteArray(array)
                     : via == Via::Stream
                         ? k.CreateImageFromStream(std::make_shared<MemoryStream>(bytes))
                         : k.CreateImageFromFile(path);
  return id != 0 ? S::Ok : k.GetStat();
}

TEST_F(Limits, EverySourceRefusesPicturesPastTheLimitsBeforeAllocating) {
  std::unique_ptr<raster::Image> small;
  ASSERT_EQ(raster::Image::create(20, 20, raster::pf::k8bppIndexed, small), raster::Status::Ok);
  const std::vector<uint8_t> png = testutil::encode("*.png", *small);
  // 128 MiB of black pixels in about 130 KiB: a thousand to one.
  const std::vector<uint8_t> png_bomb = testutil::png_bomb(16384, 8192);
  const std::vector<uint8_t> tiff_bomb = testutil::tiff_bomb(16384, 8192);
  ASSERT_LT(png_bomb.size() + tiff_bomb.size(), 1u << 20);
  const struct {
    const std::vector<uint8_t>& bytes;
    Limit limit;
    uint64_t value;  // 0: the default
    S want;
  } cases[] = {
      {png, Limit::Pixels, 400, S::Ok},
      {png, Limit::Pixels, 399, S::OutOfMemory},
      {png, Limit::PixelBytes, 399, S::OutOfMemory},  // 20 rows of 20 bytes
      {png_bomb, Limit::InflateRatio, 0, S::OutOfMemory},
      {tiff_bomb, Limit::InflateRatio, 0, S::OutOfMemory},
      {tiff_bomb, Limit::InflateRatio, 2000, S::Ok},
      {png_bomb, Limit::DownloadBytes, 1024, S::OutOfMemory},  // unknown lengths only
  };
  for (Via via : {Via::File, Via::Pipe, Via::Memory, Via::Stream}) {
    for (const auto& c : cases) {
      if (c.limit == Limit::DownloadBytes && (via == Via::File || via == Via::Memory)) continue;
      SCOPED_TRACE(testing::Message() << "source " << int(via) << ", " << LimitName(c.limit) << " "
                                      << c.value << ", " << c.bytes.size() << " bytes");
      ResetLimits();
      if (c.value != 0) SetLimit(c.limit, c.value);
      EXPECT_EQ(load(via, path("in"), c.bytes), c.want);
      ::unlink(path("in").c_str());
    }
  }
}

TEST_F(Limits, FilesThatAreNoRegularFileReportWhatHappened) {
  std::unique_ptr<raster::Image> small;
  ASSERT_EQ(raster::Image::create(3, 2, raster::pf::k24bppRGB, small), raster::Status::Ok);
  const std::vector<uint8_t> png = testutil::encode("*.png", *small);
  const int sock = ::socket(AF_UNIX, SOCK_STREAM, 0);
  sockaddr_un addr{};
  addr.sun_family = AF_UNIX;
  path("socket").copy(addr.sun_path, sizeof addr.sun_path - 1);
  ASSERT_EQ(::bind(sock, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
  const struct {
    std::string path;
    std::vector<uint8_t> fifo_bytes;  // a pipe delivering these when not empty
    S want;
  } cases[] = {
      {"/dev/zero", {}, S::UnknownImageFormat},
      {"/dev/null", {}, S::GenericError},  // no bytes, as an empty file
      {path("socket"), {}, S::Win32Error},
      {path("png-pipe"), png, S::Ok},
      {path("text-pipe"), std::vector<uint8_t>(100000, 'x'), S::UnknownImageFormat},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.path);
    const auto fifo = c.fifo_bytes.empty() ? nullptr : std::make_unique<Fifo>(c.path, c.fifo_bytes);
    cKorvex k;
    const int32_t id = k.CreateImageFromFile(c.path);
    EXPECT_EQ(k.GetStat(), c.want);
    EXPECT_EQ(img(id) != nullptr && img(id)->width() == 3 && img(id)->height() == 2,
              c.want == S::Ok);
  }
  ::close(sock);

  // A file that may not be read (as a user other than root when running as root).
  testutil::write_file(path("locked.png"), png);
  ASSERT_EQ(::chmod(path("locked.png").c_str(), 0), 0);
  const pid_t child = ::fork();
  if (child == 0) {
    if (::geteuid() == 0 && (::setgid(65534) != 0 || ::setuid(65534) != 0)) ::_exit(100);
    cKorvex k;
    k.CreateImageFromFile(path("locked.png"));
    ::_exit(static_cast<int>(k.GetStat()));
  }
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  EXPECT_EQ(WIFEXITED(status) ? WEXITSTATUS(status) : -1, static_cast<int>(S::Win32Error));
}

}  // namespace
}  // namespace korvex
