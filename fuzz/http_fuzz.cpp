// libFuzzer harness of HTTP answer and body handling: the input is a whole
// answer as a server would send it (status line, headers, body in any
// transfer coding), read through cInet from an abstract local socket. A body that
// is accepted never exceeds the client's limit.
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "net/inet.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  korvex::net::InetOptions options;
  options.max_length = 1 << 16;  // small, so that length checks are reached
  options.timeout_seconds = 2;
  std::vector<uint8_t> body;
  if (korvex::net::ReadResponse(data, size, options, body) &&
      body.size() > static_cast<size_t>(options.max_length)) {
    std::abort();
  }
  return 0;
}
