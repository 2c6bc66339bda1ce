// The HTTP transfers of cInet live in a module of their own (korvex_net.so,
// linked to libcurl), loaded by the first request: a process that never
// downloads never maps libcurl and the TLS, SSH, LDAP and Kerberos
// libraries under it. Without the module (or libcurl) Request gives 0, as
// for a server or service it cannot use.
//
// A transfer runs only while its client drives it (perform and wait), so
// cInet can hand the body on step by step with the host's events running in
// between, and a stop takes effect at once.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace korvex::net {

// What a transfer is asked for.
struct TransferRequest {
  std::string url;
  std::string action;   // GET, HEAD, POST ...
  std::vector<std::string> headers;  // "Name: value" lines
  std::string data;     // a body, sent when not empty
  int32_t timeout_seconds = 30;
  // An abstract local socket to connect to instead of the server (no
  // redirects, no proxy); empty for a real transfer.
  std::string local_socket;
};

class HttpTransfer {
 public:
  virtual ~HttpTransfer() = default;
  // Sends the request and drives it until the final answer's headers, its
  // first body byte (held back until receive) or its end. False when the
  // transfer could not start or ended in failure.
  virtual bool send(const TransferRequest& request) = 0;
  // Values of the answer; false when it does not carry them.
  virtual bool content_length(int64_t& length) = 0;
  virtual bool status_code(int64_t& code) = 0;
  virtual bool content_type(std::string& type) = 0;
  // Where the body goes from now on: `sink` sized to `limit` bytes when
  // `fixed`, else grown up to `limit`; more is refused. Releases a body
  // held back by send; one that cannot be resumed counts as refused. A null
  // sink detaches the last one (later bytes are held back again).
  virtual void receive(std::vector<uint8_t>* sink, bool fixed, size_t limit) = 0;
  // Runs the transfer as far as it goes without waiting.
  virtual void perform() = 0;
  // Waits up to `ms` for the transfer's sockets.
  virtual void wait(int ms) = 0;
  virtual bool body_started() const = 0;
  virtual size_t filled() const = 0;  // body bytes in the sink
  virtual bool done() const = 0;      // the transfer ended
  virtual bool refused() const = 0;   // the body passed its limit
  virtual bool failed() const = 0;    // it ended with an error
};

// What korvex_net.so exports, through its entry korvex_net_module().
struct CurlModule {
  uint32_t version;
  // A new transfer, null when one cannot be made.
  std::unique_ptr<HttpTransfer> (*open)();
};
inline constexpr uint32_t kCurlModuleVersion = 1;
inline constexpr const char* kCurlModuleFile = "korvex_net.so";

}  // namespace korvex::net

extern "C" const korvex::net::CurlModule* korvex_net_module();
