// cInet over libcurl's multi interface: the transfer runs only while the
// client drives it, so the body can be handed on step by step with the
// host's events running in between, and a stop takes effect at once.
#include "net/inet.h"

#include <curl/curl.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <new>
#include <thread>

#include <strings.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include "korvex/host.h"
#include "raster/limits.h"

namespace korvex::net {

namespace {

void global_init() {
  static std::once_flag once;
  std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

std::string trim(const std::string& s) {
  const auto not_space = [](unsigned char c) { return std::isspace(c) == 0; };
  const auto b = std::find_if(s.begin(), s.end(), not_space);
  const auto e = std::find_if(s.rbegin(), s.rend(), not_space).base();
  return b < e ? std::string(b, e) : std::string();
}

bool starts_with_nocase(const std::string& s, const char* prefix) {
  for (size_t i = 0; prefix[i] != '\0'; ++i) {
    if (i >= s.size() ||
        std::toupper(static_cast<unsigned char>(s[i])) != static_cast<unsigned char>(prefix[i]))
      return false;
  }
  return true;
}

}  // namespace

// One transfer: the easy handle in its own multi handle, and where the
// write callback puts the body.
struct cInet::Transfer {
  CURLM* multi = nullptr;
  CURL* easy = nullptr;
  curl_slist* headers = nullptr;
  std::string url;
  std::string action;
  int32_t service = kServiceHttp;
  // Body destination: a fixed buffer (announced length) or a growing one.
  std::vector<uint8_t>* sink = nullptr;
  size_t filled = 0;
  bool fixed = false;
  size_t limit = 0;
  bool body_started = false;  // the first body bytes arrived (and were held back)
  bool headers_done = false;  // the final answer's headers are in
  bool refused = false;       // the body passed its limit
  bool location = false;      // the current header block redirects
  bool done = false;
  CURLcode result = CURLE_OK;
  // An abstract local socket to connect to instead of the server
  // (ReadResponse); empty for a real transfer.
  std::string local_socket;

  ~Transfer() {
    if (multi != nullptr && easy != nullptr) curl_multi_remove_handle(multi, easy);
    if (easy != nullptr) curl_easy_cleanup(easy);
    if (multi != nullptr) curl_multi_cleanup(multi);
    curl_slist_free_all(headers);
  }

  static size_t on_body(char* data, size_t size, size_t count, void* self) {
    auto& t = *static_cast<Transfer*>(self);
    const size_t n = size * count;
    t.body_started = true;
    // Until ReadArray gives a destination the answer's first bytes wait
    // inside libcurl: SendRequest ends at the headers.
    if (t.sink == nullptr) return CURL_WRITEFUNC_PAUSE;
    if (n > t.limit - t.filled) {  // more than announced or allowed: abort
      t.refused = true;
      return 0;
    }
    if (!t.fixed && t.filled + n > t.sink->size()) {
      try {
        t.sink->resize(std::min(t.limit, std::max(t.filled + n, t.sink->size() * 2)));
      } catch (const std::bad_alloc&) {
        t.refused = true;
        return 0;
      }
    }
    std::memcpy(t.sink->data() + t.filled, data, n);
    t.filled += n;
    return n;
  }

  // The empty line after a header block: the final answer's, unless it is
  // an interim answer or a redirect that will be followed.
  static size_t on_header(char* data, size_t size, size_t count, void* self) {
    auto& t = *static_cast<Transfer*>(self);
    const size_t n = size * count;
    if (n > 9 && strncasecmp(data, "location:", 9) == 0) t.location = true;
    if (n <= 2 && (n == 0 || data[0] == '\r' || data[0] == '\n')) {
      long code = 0;
      curl_easy_getinfo(t.easy, CURLINFO_RESPONSE_CODE, &code);
      if (code >= 200 && !(code >= 300 && code < 400 && t.location)) t.headers_done = true;
      t.location = false;
    }
    return n;
  }

  // Runs libcurl; notes the end of the transfer.
  void perform() {
    int running = 0;
    curl_multi_perform(multi, &running);
    int left = 0;
    while (CURLMsg* m = curl_multi_info_read(multi, &left)) {
      if (m->msg == CURLMSG_DONE) {
        done = true;
        result = m->data.result;
      }
    }
  }
  // Waits up to wait_ms for the transfer's sockets.
  void wait(int wait_ms) { curl_multi_poll(multi, nullptr, 0, wait_ms, nullptr); }
};

cInet::cInet() : PumpEvents([] { host::WaitPumping(0); }) {
  global_init();
}

cInet::~cInet() = default;

int32_t cInet::Request(const std::string& sAction, const std::string& sServer,
                       const std::string& sDirAndFile, int32_t ePort, int32_t eService) {
  thread_local int32_t serial = 0;
  t_.reset();
  last_send_ = false;
  if (sServer.empty() || sAction.empty() || ePort < 1 || ePort > 65535) return 0;
  if (eService != kServiceHttp && eService != kServiceHttps) return 0;
  auto t = std::make_unique<Transfer>();
  t->multi = curl_multi_init();
  t->easy = curl_easy_init();
  if (t->multi == nullptr || t->easy == nullptr) return 0;
  const std::string path =
      sDirAndFile.empty() || sDirAndFile[0] != '/' ? "/" + sDirAndFile : sDirAndFile;
  t->url = std::string(eService == kServiceHttps ? "https://" : "http://") + sServer + ":" +
           std::to_string(ePort) + path;
  t->action = sAction;
  t->service = eService;
  t_ = std::move(t);
  serial = serial == INT32_MAX ? 1 : serial + 1;
  return serial;
}

bool cInet::SendRequest(const std::string& sHeaders, const std::string& sData) {
  last_send_ = false;
  if (!t_) return false;
  Transfer& t = *t_;
  CURL* e = t.easy;
  curl_easy_setopt(e, CURLOPT_URL, t.url.c_str());
  curl_easy_setopt(e, CURLOPT_PROTOCOLS_STR, "http,https");
  curl_easy_setopt(e, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
  curl_easy_setopt(e, CURLOPT_FOLLOWLOCATION, 1L);
  curl_easy_setopt(e, CURLOPT_MAXREDIRS, kMaxRedirects);
  curl_easy_setopt(e, CURLOPT_FAILONERROR, 1L);  // 4xx and 5xx answers are failures
  curl_easy_setopt(e, CURLOPT_NOSIGNAL, 1L);
  curl_easy_setopt(e, CURLOPT_USERAGENT, "korvex");
  const long timeout = std::max<int32_t>(1, options.timeout_seconds);
  curl_easy_setopt(e, CURLOPT_CONNECTTIMEOUT, timeout);
  // A server that sends nothing for the timeout ends the transfer.
  curl_easy_setopt(e, CURLOPT_LOW_SPEED_LIMIT, 1L);
  curl_easy_setopt(e, CURLOPT_LOW_SPEED_TIME, timeout);
  curl_easy_setopt(e, CURLOPT_BUFFERSIZE, 128L * 1024);
  curl_easy_setopt(e, CURLOPT_WRITEFUNCTION, &Transfer::on_body);
  curl_easy_setopt(e, CURLOPT_WRITEDATA, &t);
  curl_easy_setopt(e, CURLOPT_HEADERFUNCTION, &Transfer::on_header);
  curl_easy_setopt(e, CURLOPT_HEADERDATA, &t);
  if (const char* file = std::getenv("SSL_CERT_FILE"); file != nullptr && *file != '\0')
    curl_easy_setopt(e, CURLOPT_CAINFO, file);
  if (const char* dir = std::getenv("SSL_CERT_DIR"); dir != nullptr && *dir != '\0')
    curl_easy_setopt(e, CURLOPT_CAPATH, dir);
  if (t.action == "HEAD") {
    curl_easy_setopt(e, CURLOPT_NOBODY, 1L);
  } else if (t.action != "GET") {
    curl_easy_setopt(e, CURLOPT_CUSTOMREQUEST, t.action.c_str());
  }
  if (!sData.empty()) {
    curl_easy_setopt(e, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(sData.size()));
    curl_easy_setopt(e, CURLOPT_COPYPOSTFIELDS, sData.c_str());
  }
  size_t from = 0;
  while (from < sHeaders.size()) {
    size_t to = sHeaders.find('\n', from);
    if (to == std::string::npos) to = sHeaders.size();
    const std::string line = trim(sHeaders.substr(from, to - from));
    if (!line.empty()) t.headers = curl_slist_append(t.headers, line.c_str());
    from = to + 1;
  }
  if (t.headers != nullptr) curl_easy_setopt(e, CURLOPT_HTTPHEADER, t.headers);
  if (!t.local_socket.empty()) {
    curl_easy_setopt(e, CURLOPT_ABSTRACT_UNIX_SOCKET, t.local_socket.c_str());
    curl_easy_setopt(e, CURLOPT_FOLLOWLOCATION, 0L);
    curl_easy_setopt(e, CURLOPT_NOPROXY, "*");
  }
  if (curl_multi_add_handle(t.multi, e) != CURLM_OK) return false;
  // Until the final answer's headers, its first body byte (held back) or the end.
  for (;;) {
    t.perform();
    if (t.done || t.body_started || t.headers_done) break;
    t.wait(100);
  }
  if (t.done && t.result != CURLE_OK) return false;
  last_send_ = t.body_started || t.result == CURLE_OK;
  return last_send_;
}

bool cInet::QueryInfo(uint32_t eQuery, std::string& sBuffer, int32_t& lBuffer) {
  if (!t_ || !last_send_) return false;
  const uint32_t level = eQuery & 0xFFFF;
  const bool number = (eQuery & kQueryFlagNumber) != 0;
  int64_t value = 0;
  if (level == kQueryContentLength) {
    curl_off_t n = -1;
    if (curl_easy_getinfo(t_->easy, CURLINFO_CONTENT_LENGTH_DOWNLOAD_T, &n) != CURLE_OK || n < 0)
      return false;
    value = n;
  } else if (level == kQueryStatusCode) {
    long code = 0;
    if (curl_easy_getinfo(t_->easy, CURLINFO_RESPONSE_CODE, &code) != CURLE_OK || code == 0)
      return false;
    value = code;
  } else if (level == kQueryContentType && !number) {
    char* type = nullptr;
    if (curl_easy_getinfo(t_->easy, CURLINFO_CONTENT_TYPE, &type) != CURLE_OK || type == nullptr)
      return false;
    sBuffer = type;
    return true;
  } else {
    return false;
  }
  if (!number) {
    sBuffer = std::to_string(value);
    return true;
  }
  if (value > INT32_MAX) return false;  // does not fit the Long
  lBuffer = static_cast<int32_t>(value);
  return true;
}

size_t body_limit(const InetOptions& options) {
  return std::min(static_cast<size_t>(std::max<int32_t>(0, options.max_length)),
                  raster::download_limit());
}

int32_t MemberMaxLength(int32_t own) {
  InetOptions o;
  if (own > 0) o.max_length = own;
  return static_cast<int32_t>(body_limit(o));
}

bool cInet::ReadArray(std::vector<uint8_t>& bData, int32_t lLength) {
  bStopReadArray = false;
  stopped_ = false;
  if (!t_ || !last_send_) return false;
  Transfer& t = *t_;
  const bool known = lLength > 0;
  const size_t cap = body_limit(options);
  if (known && static_cast<size_t>(lLength) > cap) return false;  // before any allocation
  try {
    bData.clear();
    if (known) bData.resize(static_cast<size_t>(lLength));
  } catch (const std::bad_alloc&) {
    return false;
  }
  t.sink = &bData;
  t.fixed = known;
  t.limit = known ? static_cast<size_t>(lLength) : cap;
  t.filled = 0;
  if (t.body_started && curl_easy_pause(t.easy, CURLPAUSE_CONT) != CURLE_OK) t.refused = true;

  int32_t left = lLength;
  size_t handed_on = 0;
  // libcurl's low-speed check averages over several seconds, so a body that
  // stops after a burst would run on past the timeout: the gap since the
  // last received byte is watched here too.
  size_t seen = t.filled;
  auto last_byte = std::chrono::steady_clock::now();
  const auto allowed = std::chrono::seconds(std::max<int32_t>(1, options.timeout_seconds));
  for (;;) {
    // Hand on what arrived in whole steps, the last one short.
    while (handed_on < t.filled && (t.filled - handed_on >= kChunkSize || t.done)) {
      const size_t chunk = std::min<size_t>(kChunkSize, t.filled - handed_on);
      handed_on += chunk;
      if (known) {
        left -= static_cast<int32_t>(chunk);
        int32_t pct = static_cast<int32_t>(int64_t{left} * 100 / lLength);
        int32_t remaining = left, total = lLength;
        if (ReadArrayProgress && !ReadArrayProgress(pct, remaining, total)) bStopReadArray = true;
      }
      if (!bStopReadArray && PumpEvents) PumpEvents();
      if (bStopReadArray) {
        stopped_ = true;
        t_.reset();  // ends the transfer and closes its connection
        return false;
      }
    }
    if (t.done || t.refused) break;
    const auto now = std::chrono::steady_clock::now();
    if (t.filled != seen) {
      seen = t.filled;
      last_byte = now;
    } else if (now - last_byte > allowed) {
      t_.reset();  // ends the transfer and closes its connection
      return false;
    }
    t.perform();
    if (!t.done && t.filled - handed_on < kChunkSize) {
      t.wait(50);
      if (PumpEvents) PumpEvents();  // keeps the host alive while the server is slow
      if (bStopReadArray) {
        stopped_ = true;
        t_.reset();
        return false;
      }
    }
  }
  const bool complete = t.result == CURLE_OK && !t.refused && (!known || t.filled == bData.size());
  if (!known) bData.resize(t.filled);
  t.sink = nullptr;
  return complete;
}

Endpoint ParseHost(const std::string& host, int32_t port) {
  Endpoint ep;
  ep.server = trim(host);
  ep.port = port;
  if (starts_with_nocase(ep.server, "HTTP://")) {
    ep.server = ep.server.substr(7);
  } else if (starts_with_nocase(ep.server, "HTTPS://")) {
    ep.server = ep.server.substr(8);
    ep.service = kServiceHttps;
    if (port == 80) ep.port = 443;
  }
  return ep;
}

Fetch Download(cInet& client, const std::string& host, const std::string& path, int32_t port,
               std::vector<uint8_t>& bytes) {
  const Endpoint ep = ParseHost(host, port);
  if (client.Request("GET", ep.server, path, ep.port, ep.service) == 0) return Fetch::NotSent;
  if (!client.SendRequest("", "")) return Fetch::NotSent;
  std::string text;
  int32_t length = 0;
  if (!client.QueryInfo(kQueryFlagNumber | kQueryContentLength, text, length) || length < 1)
    return Fetch::NoLength;
  if (static_cast<size_t>(length) > body_limit(client.options)) return Fetch::TooLong;
  return client.ReadArray(bytes, length) ? Fetch::Ok : Fetch::ReadFailed;
}

bool ReadResponse(const uint8_t* data, size_t size, const InetOptions& options,
                  std::vector<uint8_t>& body) {
  static std::atomic<uint32_t> serial{0};
  // An abstract local socket (no file, no network address), unique to this call.
  const std::string name = "korvex-answer-" + std::to_string(getpid()) + "-" +
                           std::to_string(serial.fetch_add(1));
  sockaddr_un addr{};
  addr.sun_family = AF_UNIX;
  std::memcpy(addr.sun_path + 1, name.data(), name.size());  // sun_path[0] == 0: abstract
  const auto addr_len = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + 1 + name.size());
  const int listener = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (listener < 0) return false;
  if (bind(listener, reinterpret_cast<const sockaddr*>(&addr), addr_len) != 0 ||
      listen(listener, 1) != 0) {
    close(listener);
    return false;
  }
  // The server's side: the whole answer to the one client, then the end of
  // the stream. A client that stops reading closes its end, which ends the
  // sending; one that never connects is released by shutting the listener.
  std::thread server([listener, data, size] {
    const int fd = accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
    if (fd < 0) return;
    size_t sent = 0;
    while (sent < size) {
      const ssize_t k = send(fd, data + sent, size - sent, MSG_NOSIGNAL);
      if (k < 0 && errno == EINTR) continue;
      if (k <= 0) break;
      sent += static_cast<size_t>(k);
    }
    shutdown(fd, SHUT_WR);
    // Waits for the client to close, so the answer is never cut by a reset.
    char sink[256];
    while (recv(fd, sink, sizeof sink, 0) > 0) {
    }
    close(fd);
  });
  bool ok = false;
  {
    cInet client;
    client.options = options;
    client.PumpEvents = nullptr;
    // A documentation address: never contacted, the local socket is used.
    if (client.Request("GET", "192.0.2.1", "/", 80, kServiceHttp) != 0) {
      client.t_->local_socket = name;
      if (client.SendRequest("", "")) {
        std::string text;
        int32_t length = 0;
        if (!client.QueryInfo(kQueryFlagNumber | kQueryContentLength, text, length)) length = 0;
        ok = client.ReadArray(body, length);
      }
    }
  }  // the transfer and its connection are closed here
  shutdown(listener, SHUT_RDWR);
  server.join();
  close(listener);
  return ok;
}

}  // namespace korvex::net
