// libFuzzer harness of metadata tag decoding: TIFF-structured blocks read
// into property items, their values rendered and written back, and written
// value texts parsed; any violated invariant (see tags_check.h) aborts.
#include <cstdio>
#include <cstdlib>

#include "tags_check.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string problem = korvex::tags_check(data, size);
  if (!problem.empty()) {
    std::fprintf(stderr, "tags: %s\n", problem.c_str());
    std::abort();
  }
  return 0;
}
