// cInet: one HTTP(S) GET over libcurl, in the shape the image sources use:
// Request opens it, SendRequest sends it and waits for the answer's headers,
// QueryInfo reads them, ReadArray reads the body into a buffer allocated once
// at the announced length and hands it on in 1024-byte steps, raising a
// progress event and letting the host run its events after each step.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace korvex::net {

// Services of Request: plain HTTP, and HTTP over TLS checked against the
// system's certificate authorities (or SSL_CERT_FILE / SSL_CERT_DIR when set).
inline constexpr int32_t kServiceHttp = 3;
inline constexpr int32_t kServiceHttps = 4;

// QueryInfo levels (low 16 bits) and flags.
inline constexpr uint32_t kQueryContentType = 1;
inline constexpr uint32_t kQueryContentLength = 5;
inline constexpr uint32_t kQueryStatusCode = 19;
inline constexpr uint32_t kQueryFlagNumber = 0x20000000;

inline constexpr int32_t kChunkSize = 1024;
inline constexpr int32_t kDefaultTimeoutSeconds = 30;
inline constexpr long kMaxRedirects = 5;

struct InetOptions {
  // Largest body accepted, bytes; the process's download limit
  // (korvex/limits.h) caps it in any case.
  int32_t max_length = INT32_MAX;
  // Connection set-up, and the longest time without any byte arriving.
  int32_t timeout_seconds = kDefaultTimeoutSeconds;
};

class cInet {
 public:
  cInet();
  ~cInet();
  cInet(const cInet&) = delete;
  cInet& operator=(const cInet&) = delete;

  InetOptions options;
  // Set by anyone to end ReadArray after the current step; cleared by ReadArray.
  bool bStopReadArray = false;
  // After each step: percentage still to come (rounded down), bytes still to
  // come, announced length. Returning false ends the read at once, as a stop.
  std::function<bool(int32_t& nPercentLeft, int32_t& nLeftToTransfer, int32_t& nTotalLength)>
      ReadArrayProgress;
  // Runs the host's pending events; by default the thread's event pump.
  std::function<void()> PumpEvents;

  // Prepares sAction on sDirAndFile at sServer:ePort. Returns the request's
  // handle, 0 when the server or service is unusable.
  int32_t Request(const std::string& sAction, const std::string& sServer,
                  const std::string& sDirAndFile, int32_t ePort, int32_t eService);
  // Sends the request (sHeaders: extra "Name: value" lines separated by CR LF;
  // sData: a body) and waits until the final answer's headers arrived,
  // following redirects. False when the server cannot be reached, answers
  // with an error status, or times out.
  bool SendRequest(const std::string& sHeaders, const std::string& sData);
  bool LastSendResult() const { return last_send_; }
  // A header of the answer: with kQueryFlagNumber as a number in lBuffer,
  // otherwise as text in sBuffer. False when the answer does not carry it.
  bool QueryInfo(uint32_t eQuery, std::string& sBuffer, int32_t& lBuffer);
  // Reads the body. With lLength > 0: exactly lLength bytes into bData
  // (sized once; a length above body_limit(options) is refused before any
  // allocation), one progress event per 1024 bytes. With lLength < 1 (length
  // unknown): the body up to its end, refused when it grows past
  // body_limit(options). False when stopped, cut short, over the limit or
  // failed.
  bool ReadArray(std::vector<uint8_t>& bData, int32_t lLength);
  // Why the last ReadArray failed, for callers that tell the cases apart.
  bool stopped() const { return stopped_; }

 private:
  friend bool ReadResponse(const uint8_t* data, size_t size, const InetOptions& options,
                           std::vector<uint8_t>& body);
  struct Transfer;
  std::unique_ptr<Transfer> t_;
  bool last_send_ = false;
  bool stopped_ = false;
};

// Server and service of a host as callers write it: trimmed; a leading
// "HTTP://" (any case) is dropped; "HTTPS://" selects TLS, where the default
// port 80 becomes 443.
struct Endpoint {
  std::string server;
  int32_t port = 80;
  int32_t service = kServiceHttp;
};
Endpoint ParseHost(const std::string& host, int32_t port);

// The largest body a client with these options accepts: its own limit or
// the process's download limit, whichever is lower.
size_t body_limit(const InetOptions& options);
// What an engine's or viewer's URL length member reads: the length it was
// given (0 when none), capped by the process's download limit.
int32_t MemberMaxLength(int32_t own);

// The whole GET of an image source, and how it ended.
enum class Fetch {
  Ok,
  NotSent,     // the request could not be opened or sent
  NoLength,    // the answer announces no length, or one below 1
  TooLong,     // the announced length is above the limit
  ReadFailed,  // stopped, cut short, timed out
};
Fetch Download(cInet& client, const std::string& host, const std::string& path, int32_t port,
               std::vector<uint8_t>& bytes);

// Reads a whole HTTP answer held in memory (status line, headers, body in
// any transfer coding) the way a GET reads it from a server: libcurl connects
// to an abstract local socket that sends it, and the body goes through ReadArray
// with the announced length (up to the end when none), under the same limits.
// No address is resolved or connected and redirects are not followed. False
// when the answer is refused, failed or cut short. For checking the answer
// and body handling without a network.
bool ReadResponse(const uint8_t* data, size_t size, const InetOptions& options,
                  std::vector<uint8_t>& body);

}  // namespace korvex::net
