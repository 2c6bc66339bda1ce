// cInet: requests, answers and the body handed on in steps, over an HTTP
// transfer of korvex_net.so (libcurl), loaded by the first request. The
// transfer runs only while the client drives it, so the body can be handed
// on step by step with the host's events running in between, and a stop
// takes effect at once.
#include "net/inet.h"

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <cstddef>
#include <cstring>
#include <new>
#include <thread>

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include "korvex/host.h"
#include "net/curl_module.h"
#include "raster/limits.h"
#include "raster/service_module.h"

namespace korvex::net {

namespace {

const CurlModule* curl() {
  static const CurlModule* const table = raster::service_table<CurlModule>(
      kCurlModuleFile, "korvex_net_module", kCurlModuleVersion);
  return table;
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

// One request: what Request prepared, and its transfer once made.
struct cInet::Transfer {
  TransferRequest request;
  std::unique_ptr<HttpTransfer> http;
};

cInet::cInet() : PumpEvents([] { host::WaitPumping(0); }) {}

cInet::~cInet() = default;

int32_t cInet::Request(const std::string& sAction, const std::string& sServer,
                       const std::string& sDirAndFile, int32_t ePort, int32_t eService) {
  thread_local int32_t serial = 0;
  t_.reset();
  last_send_ = false;
  if (sServer.empty() || sAction.empty() || ePort < 1 || ePort > 65535) return 0;
  if (eService != kServiceHttp && eService != kServiceHttps) return 0;
  const CurlModule* module = curl();
  if (module == nullptr) return 0;
  auto t = std::make_unique<Transfer>();
  t->http = module->open();
  if (!t->http) return 0;
  const std::string path =
      sDirAndFile.empty() || sDirAndFile[0] != '/' ? "/" + sDirAndFile : sDirAndFile;
  t->request.url = std::string(eService == kServiceHttps ? "https://" : "http://") + sServer +
                   ":" + std::to_string(ePort) + path;
  t->request.action = sAction;
  t_ = std::move(t);
  serial = serial == INT32_MAX ? 1 : serial + 1;
  return serial;
}

bool cInet::SendRequest(const std::string& sHeaders, const std::string& sData) {
  last_send_ = false;
  if (!t_) return false;
  TransferRequest& r = t_->request;
  r.timeout_seconds = options.timeout_seconds;
  r.data = sData;
  r.headers.clear();
  size_t from = 0;
  while (from < sHeaders.size()) {
    size_t to = sHeaders.find('\n', from);
    if (to == std::string::npos) to = sHeaders.size();
    std::string line = trim(sHeaders.substr(from, to - from));
    if (!line.empty()) r.headers.push_back(std::move(line));
    from = to + 1;
  }
  last_send_ = t_->http->send(r);
  return last_send_;
}

bool cInet::QueryInfo(uint32_t eQuery, std::string& sBuffer, int32_t& lBuffer) {
  if (!t_ || !last_send_) return false;
  const uint32_t level = eQuery & 0xFFFF;
  const bool number = (eQuery & kQueryFlagNumber) != 0;
  int64_t value = 0;
  HttpTransfer& http = *t_->http;
  if (level == kQueryContentLength) {
    if (!http.content_length(value)) return false;
  } else if (level == kQueryStatusCode) {
    if (!http.status_code(value)) return false;
  } else if (level == kQueryContentType && !number) {
    return http.content_type(sBuffer);
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
  HttpTransfer& t = *t_->http;
  const bool known = lLength > 0;
  const size_t cap = body_limit(options);
  if (known && static_cast<size_t>(lLength) > cap) return false;  // before any allocation
  try {
    bData.clear();
    if (known) bData.resize(static_cast<size_t>(lLength));
  } catch (const std::bad_alloc&) {
    return false;
  }
  t.receive(&bData, known, known ? static_cast<size_t>(lLength) : cap);

  int32_t left = lLength;
  size_t handed_on = 0;
  // libcurl's low-speed check averages over several seconds, so a body that
  // stops after a burst would run on past the timeout: the gap since the
  // last received byte is watched here too.
  size_t seen = t.filled();
  auto last_byte = std::chrono::steady_clock::now();
  const auto allowed = std::chrono::seconds(std::max<int32_t>(1, options.timeout_seconds));
  for (;;) {
    // Hand on what arrived in whole steps, the last one short.
    while (handed_on < t.filled() && (t.filled() - handed_on >= kChunkSize || t.done())) {
      const size_t chunk = std::min<size_t>(kChunkSize, t.filled() - handed_on);
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
    if (t.done() || t.refused()) break;
    const auto now = std::chrono::steady_clock::now();
    if (t.filled() != seen) {
      seen = t.filled();
      last_byte = now;
    } else if (now - last_byte > allowed) {
      t_.reset();  // ends the transfer and closes its connection
      return false;
    }
    t.perform();
    if (!t.done() && t.filled() - handed_on < kChunkSize) {
      t.wait(50);
      if (PumpEvents) PumpEvents();  // keeps the host alive while the server is slow
      if (bStopReadArray) {
        stopped_ = true;
        t_.reset();
        return false;
      }
    }
  }
  const bool complete = !t.failed() && !t.refused() && (!known || t.filled() == bData.size());
  if (!known) bData.resize(t.filled());
  t.receive(nullptr, false, 0);
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
      client.t_->request.local_socket = name;
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
