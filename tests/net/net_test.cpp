// HTTP image sources against a loopback server the tests start and stop by its PID.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include "korvex/engine.h"
#include "korvex/host.h"
#include "korvex/limits.h"
#include "korvex/viewer.h"
#include "net/inet.h"
#include "viewer/headless_host.h"

namespace korvex {
namespace {

namespace fs = std::filesystem;

// A 40 x 40 24-bit BMP of one colour: 54 + 40 * 120 = 4854 bytes.
std::vector<uint8_t> bmp_bytes(uint8_t b, uint8_t g, uint8_t r) {
  std::vector<uint8_t> v(4854, 0);
  const auto put32 = [&](size_t at, uint32_t x) {
    for (int i = 0; i < 4; ++i) v[at + i] = static_cast<uint8_t>(x >> (8 * i));
  };
  v[0] = 'B', v[1] = 'M';
  put32(2, 4854), put32(10, 54), put32(14, 40), put32(18, 40), put32(22, 40);
  v[26] = 1, v[28] = 24;
  put32(34, 4800);
  for (size_t i = 54; i < v.size(); i += 3) v[i] = b, v[i + 1] = g, v[i + 2] = r;
  return v;
}

void write(const fs::path& p, const std::vector<uint8_t>& bytes) {
  std::ofstream(p, std::ios::binary)
      .write(reinterpret_cast<const char*>(bytes.data()),
             static_cast<std::streamsize>(bytes.size()));
}

// The loopback server of http_server.py, stopped by its PID.
struct Server {
  explicit Server(const std::vector<std::string>& args) {
    int fd[2];
    if (pipe(fd) != 0) return;
    pid = fork();
    if (pid == 0) {
      dup2(fd[1], 1);
      close(fd[0]);
      close(fd[1]);
      std::vector<std::string> all = {"/usr/bin/python3", KORVEX_NET_TEST_DIR "/http_server.py"};
      all.insert(all.end(), args.begin(), args.end());
      std::vector<char*> argv;
      for (std::string& a : all) argv.push_back(a.data());
      argv.push_back(nullptr);
      execv(argv[0], argv.data());
      _exit(127);
    }
    close(fd[1]);
    FILE* f = fdopen(fd[0], "r");
    if (f == nullptr || std::fscanf(f, "%d", &port) != 1) port = 0;
    if (f != nullptr) std::fclose(f);
  }
  ~Server() {
    if (pid > 0) {
      kill(pid, SIGTERM);
      waitpid(pid, nullptr, 0);
    }
  }
  pid_t pid = -1;
  int port = 0;
};

// A loopback port nobody listens on.
int closed_port() {
  const int s = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t n = sizeof a;
  bind(s, reinterpret_cast<sockaddr*>(&a), n);
  getsockname(s, reinterpret_cast<sockaddr*>(&a), &n);
  close(s);
  return ntohs(a.sin_port);
}

class Net : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    dir = fs::temp_directory_path() / ("korvex-net-" + std::to_string(getpid()));
    fs::create_directories(dir);
    write(dir / "img.bmp", bmp_bytes(0xCC, 0x66, 0x33));
    for (int n : {1024, 2500, 3072})
      write(dir / (std::to_string(n) + ".bin"), std::vector<uint8_t>(static_cast<size_t>(n), 7));
    server = new Server({dir.string()});
    ASSERT_GT(server->port, 0);
  }
  static void TearDownTestSuite() {
    delete server;
    fs::remove_all(dir);
  }
  static int port() { return server->port; }

  static inline fs::path dir;
  static inline Server* server = nullptr;
};

TEST_F(Net, EngineStatusesForEveryKindOfAnswer) {
  struct Case {
    std::string host, path;
    int port;  // 0: the server's, -1: a closed port
    int32_t timeout;
    cKorvexStatus status;
    int32_t max_length = 0;  // given to URLSetMaxLength; kept by the later cases
  } cases[] = {
      {"127.0.0.1", "/img.bmp", 0, 30, cKorvexStatus::Ok},
      {"HTTP://127.0.0.1", "img.bmp", 0, 30, cKorvexStatus::Ok},
      {"  hTtP://127.0.0.1 ", "/img.bmp", 0, 30, cKorvexStatus::Ok},
      {"127.0.0.1", "/redirect/img.bmp", 0, 30, cKorvexStatus::Ok},
      {"127.0.0.1", "/loop", 0, 30, cKorvexStatus::FileNotFound},
      {"127.0.0.1", "/missing.bmp", 0, 30, cKorvexStatus::FileNotFound},
      {"127.0.0.1", "/img.bmp", -1, 30, cKorvexStatus::FileNotFound},
      {"", "/img.bmp", 0, 30, cKorvexStatus::FileNotFound},
      {"127.0.0.1", "/nolength/img.bmp", 0, 30, cKorvexStatus::GenericError},
      {"127.0.0.1", "/cut/img.bmp", 0, 30, cKorvexStatus::GenericError},
      {"127.0.0.1", "/huge", 0, 30, cKorvexStatus::GenericError},
      {"127.0.0.1", "/slow/img.bmp", 0, 1, cKorvexStatus::GenericError},
      {"127.0.0.1", "/stall/img.bmp", 0, 1, cKorvexStatus::GenericError},  // mid-body
      {"127.0.0.1", "/2500.bin", 0, 30, cKorvexStatus::GenericError, 2000},
      {"127.0.0.1", "/2500.bin", 0, 30, cKorvexStatus::UnknownImageFormat, 2500},  // decoded
  };
  cKorvex k;  // one engine: every failure leaves it usable for the next case
  for (const Case& c : cases) {
    SCOPED_TRACE(c.host + c.path);
    const int32_t before = k.CreateNewImage(2, 2);
    k.URLSetTimeout(c.timeout);
    if (c.max_length != 0) k.URLSetMaxLength(c.max_length);
    const int p = c.port == 0 ? port() : closed_port();
    const int32_t id = k.CreateImageFromURL(c.host, c.path, p);
    EXPECT_EQ(k.GetStat(), c.status);
    if (c.status == cKorvexStatus::Ok) {
      ASSERT_NE(id, 0);
      EXPECT_EQ(k.GetNativeImage(), id);
      EXPECT_EQ(k.GetWidth(), 40);
      EXPECT_EQ(static_cast<uint32_t>(k.PixelGetColor(20, 20)), 0xFF3366CCu);
      k.CloseImage(id);
    } else {
      EXPECT_EQ(id, 0);
      EXPECT_EQ(k.GetNativeImage(), before);
    }
    k.CloseImage(before);
  }
  k.URLSetMaxLength(0);  // ignored
  EXPECT_EQ(k.URLGetMaxLength(), 2500);
}

// The process's limits reach every HTTP body: the download limit caps the
// engine's and viewer's own lengths, and the pixel limits refuse the picture.
TEST_F(Net, ProcessLimitsReachDownloadedBodies) {
  const struct {
    Limit limit;
    uint64_t value;
    int32_t own_length;  // given to URLSetMaxLength, 0 for nothing
    cKorvexStatus status;  // of the engine and the viewer
  } cases[] = {
      {Limit::DownloadBytes, 4854, 0, cKorvexStatus::Ok},  // the whole 40 x 40 BMP
      {Limit::DownloadBytes, 4853, 0, cKorvexStatus::GenericError},
      {Limit::DownloadBytes, 4853, 10000, cKorvexStatus::GenericError},
      {Limit::Pixels, 1599, 0, cKorvexStatus::OutOfMemory},
      {Limit::PixelBytes, 4799, 0, cKorvexStatus::OutOfMemory},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(LimitName(c.limit)) + " " + std::to_string(c.value));
    ASSERT_TRUE(SetLimit(c.limit, c.value));
    cKorvex k;
    if (c.own_length != 0) k.URLSetMaxLength(c.own_length);
    EXPECT_EQ(k.URLGetMaxLength(), c.limit == Limit::DownloadBytes ? int32_t(c.value) : 256 << 20);
    k.CreateImageFromURL("127.0.0.1", "/img.bmp", port());
    EXPECT_EQ(k.GetStat(), c.status);
    kxViewer v(std::make_shared<viewer::HeadlessHost>(100, 100));
    v.put_SilentMode(true);
    EXPECT_EQ(int(v.DisplayFromURL("127.0.0.1", "/img.bmp", port())), int(c.status));
    ResetLimits();
  }
}

// Host events run between the steps: a nested download returns at once
// leaving the status alone; an engine destroyed by one ends the download.
TEST_F(Net, EngineDownloadUnderHostEvents) {
  struct Pump {
    std::unique_ptr<cKorvex> k = std::make_unique<cKorvex>();
    int32_t nested = -1;
    cKorvexStatus nested_status = cKorvexStatus::Ok;
  } p;
  p.k->SetNativeImage(0);
  host::SetEventPump(
      [](void* c) {
        auto& q = *static_cast<Pump*>(c);
        if (q.nested == -1) {
          q.nested = q.k->CreateImageFromURL("127.0.0.1", "/img.bmp", port());
          q.nested_status = q.k->GetStat();
        }
      },
      &p);
  EXPECT_NE(p.k->CreateImageFromURL("127.0.0.1", "/img.bmp", port()), 0);
  EXPECT_EQ(p.nested, 0);
  EXPECT_EQ(p.nested_status, cKorvexStatus::Ok);
  host::SetEventPump([](void* c) { static_cast<Pump*>(c)->k.reset(); }, &p);
  cKorvex* raw = p.k.get();
  EXPECT_EQ(raw->CreateImageFromURL("127.0.0.1", "/img.bmp", port()), 0);
  EXPECT_EQ(p.k, nullptr);
  host::SetEventPump(nullptr, nullptr);
}

// Records the viewer's progress events as "R16:41 R17:41/1476/2500 ...".
struct Progress : ViewerEventSink {
  std::string seen;
  std::function<void()> action;
  void OnViewerEvent(ViewerEvent e, ViewerEventArgs& a) override {
    if (e != ViewerEvent::DataReceieved && e != ViewerEvent::DataReceived) return;
    seen += (seen.empty() ? "" : " ") + std::to_string(static_cast<int>(e)) + ":" +
            std::to_string(static_cast<int>(a.values[0]));
    if (e == ViewerEvent::DataReceived)
      seen += "/" + std::to_string(static_cast<int>(a.values[1])) + "/" +
              std::to_string(static_cast<int>(a.values[2]));
    if (action) action();
  }
};

struct ViewerFixture : Net {
  void SetUp() override { v->Advise(events); }
  std::shared_ptr<viewer::HeadlessHost> host = std::make_shared<viewer::HeadlessHost>(100, 100);
  std::unique_ptr<kxViewer> v = std::make_unique<kxViewer>(host);
  std::shared_ptr<Progress> events = std::make_shared<Progress>();
};

TEST_F(ViewerFixture, ProgressEventsPerKilobyte) {
  const struct {
    const char* path;
    const char* events;
  } cases[] = {
      {"/2500.bin", "16:41 17:41/1476/2500 16:82 17:82/452/2500 16:100 17:100/0/2500"},
      {"/1024.bin", "16:100 17:100/0/1024"},
      {"/3072.bin", "16:34 17:34/2048/3072 16:67 17:67/1024/3072 16:100 17:100/0/3072"},
  };
  for (const auto& c : cases) {
    events->seen.clear();
    v->DisplayFromURL("127.0.0.1", c.path, port());
    EXPECT_EQ(events->seen, c.events) << c.path;
  }
  events->seen.clear();
  ASSERT_EQ(v->DisplayFromURL("Http://127.0.0.1", "/img.bmp", port()), ViewerStatus::Ok);
  EXPECT_EQ(v->get_PictureWidth(), 40);
  EXPECT_EQ(events->seen.substr(events->seen.size() - 13), "17:100/0/4854");
}

TEST_F(ViewerFixture, StopsAndReentrantCallsFromHandlers) {
  // Stop from the first DataReceived: one step, GenericError, no image.
  events->action = [&] {
    if (events->seen.find("17:") != std::string::npos) v->DisplayFromURLStop();
  };
  EXPECT_EQ(v->DisplayFromURL("127.0.0.1", "/img.bmp", port()), ViewerStatus::GenericError);
  EXPECT_EQ(events->seen, "16:22 17:22/3830/4854");
  EXPECT_EQ(v->GetNativeImage(), 0);
  // A second download from a handler returns at once; the first completes.
  events->seen.clear();
  ViewerStatus inner = ViewerStatus::Ok;  // what the nested call returned
  int calls = 0;
  events->action = [&] {
    if (calls++ == 0) inner = v->DisplayFromURL("127.0.0.1", "/1024.bin", port());
  };
  EXPECT_EQ(v->DisplayFromURL("127.0.0.1", "/img.bmp", port()), ViewerStatus::Ok);
  EXPECT_EQ(events->seen.find("/1024"), std::string::npos);
  EXPECT_EQ(v->get_PictureWidth(), 40);
  events->action = nullptr;
  EXPECT_EQ(v->DisplayFromURL("127.0.0.1", "/img.bmp", closed_port()), ViewerStatus::FileNotFound);
}

TEST_F(ViewerFixture, SurvivesHandlersThatCloseTerminateOrDestroyIt) {
  events->action = [&] { v->ClosePicture(); };
  EXPECT_EQ(v->DisplayFromURL("127.0.0.1", "/img.bmp", port()), ViewerStatus::GenericError);
  EXPECT_EQ(v->GetNativeImage(), 0);
  events->action = [&] { v->Terminate(); };
  EXPECT_NE(v->DisplayFromURL("127.0.0.1", "/img.bmp", port()), ViewerStatus::Ok);
  EXPECT_EQ(v->GetNativeImage(), 0);
  v = std::make_unique<kxViewer>(host);
  v->Advise(events);
  events->action = [&] { v.reset(); };
  kxViewer* raw = v.get();
  raw->DisplayFromURL("127.0.0.1", "/img.bmp", port());
  EXPECT_EQ(v, nullptr);
}

// A server certificate for 127.0.0.1 signed by a certificate authority of the test.
bool make_certificates(const fs::path& d) {
  const std::string ec = " -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes ";
  const std::string cmds =
      "cd '" + d.string() + "' && openssl req -x509" + ec +
      "-days 2 -subj /CN=KorvexTestCA -addext basicConstraints=critical,CA:TRUE "
      "-addext keyUsage=keyCertSign -keyout ca.key -out ca.pem && openssl req" + ec +
      "-subj /CN=127.0.0.1 -keyout srv.key -out srv.csr && "
      "printf 'subjectAltName=IP:127.0.0.1\\n' > ext && openssl x509 -req -days 2 -in srv.csr "
      "-CA ca.pem -CAkey ca.key -CAcreateserial -extfile ext -out srv.pem";
  return std::system(("(" + cmds + ") >/dev/null 2>&1").c_str()) == 0;
}

TEST_F(Net, HttpsWithATrustedAndAnUntrustedAuthority) {
  const fs::path d = dir / "tls";
  fs::create_directories(d);
  ASSERT_TRUE(make_certificates(d));
  Server tls({dir.string(), (d / "srv.pem").string(), (d / "srv.key").string()});
  ASSERT_GT(tls.port, 0);
  const char* saved = std::getenv("SSL_CERT_FILE");
  const std::string keep = saved != nullptr ? saved : "";
  setenv("SSL_CERT_FILE", (d / "ca.pem").c_str(), 1);
  cKorvex k;
  const int32_t id = k.CreateImageFromURL("https://127.0.0.1", "/img.bmp", tls.port);
  EXPECT_EQ(k.GetStat(), cKorvexStatus::Ok);
  EXPECT_NE(id, 0);
  k.CloseImage(id);
  // Plain HTTP to the TLS port is no answer either.
  EXPECT_EQ(k.CreateImageFromURL("127.0.0.1", "/img.bmp", tls.port), 0);
  EXPECT_EQ(k.GetStat(), cKorvexStatus::FileNotFound);
  unsetenv("SSL_CERT_FILE");
  EXPECT_EQ(k.CreateImageFromURL("HTTPS://127.0.0.1", "/img.bmp", tls.port), 0);
  EXPECT_EQ(k.GetStat(), cKorvexStatus::FileNotFound);
  if (saved != nullptr) setenv("SSL_CERT_FILE", keep.c_str(), 1);
}

// Whole answers read from memory through the same transfer and body handling:
// the lengths, codings and refusals a server can send, then every fuzz seed
// and saved crasher, which must end with a body or a refusal.
TEST(NetResponse, AnswersFromMemoryAndFuzzInputs) {
  struct Case {
    const char* answer;
    bool ok;
    const char* body;
  };
  const Case cases[] = {
      {"HTTP/1.1 200 OK\r\nContent-Length: 5\r\n\r\nhello", true, "hello"},
      {"HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n5\r\nhello\r\n0\r\n\r\n", true,
       "hello"},
      {"HTTP/1.0 200 OK\r\n\r\nto the end", true, "to the end"},
      {"HTTP/1.1 100 Continue\r\n\r\nHTTP/1.1 200 OK\r\nContent-Length: 2\r\n\r\nab", true, "ab"},
      {"HTTP/1.1 200 OK\r\nContent-Length: 10\r\n\r\nshort", false, ""},
      {"HTTP/1.1 404 Not Found\r\nContent-Length: 2\r\n\r\nno", false, ""},
      {"HTTP/1.1 200 OK\r\nContent-Length: 20\r\n\r\n01234567890123456789", false, ""},
      {"HTTP/1.0 200 OK\r\n\r\n01234567890123456789", false, ""},
      {"not an answer", false, ""},
  };
  net::InetOptions options;
  options.max_length = 16;
  options.timeout_seconds = 5;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.answer);
    const std::string answer = c.answer;
    std::vector<uint8_t> body;
    ASSERT_EQ(net::ReadResponse(reinterpret_cast<const uint8_t*>(answer.data()), answer.size(),
                                options, body),
              c.ok);
    if (c.ok) {
      EXPECT_EQ(std::string(body.begin(), body.end()), c.body);
    }
  }
  size_t files = 0;
  for (const char* kind : {"corpus", "regressions"}) {
    const fs::path root = fs::path(KORVEX_NET_TEST_DIR) / ".." / ".." / "fuzz" / kind / "http";
    if (!fs::exists(root)) continue;
    for (const auto& entry : fs::directory_iterator(root)) {
      SCOPED_TRACE(entry.path().string());
      std::ifstream in(entry.path(), std::ios::binary);
      const std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)),
                                       std::istreambuf_iterator<char>());
      std::vector<uint8_t> body;
      if (net::ReadResponse(bytes.data(), bytes.size(), options, body)) {
        EXPECT_LE(body.size(), 16u);
      }
      ++files;
    }
  }
  EXPECT_GT(files, 0u);
}

}  // namespace
}  // namespace korvex
