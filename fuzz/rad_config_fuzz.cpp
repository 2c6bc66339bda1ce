// libFuzzer harness of the recognition configuration reader: any violated
// invariant (see rad_config_check.h) aborts; sanitizers catch the rest.
#include <cstdio>
#include <cstdlib>

#include "rad_config_check.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string problem = korvex::rad_config_check(data, size);
  if (!problem.empty()) {
    std::fprintf(stderr, "rad_config: %s\n", problem.c_str());
    std::abort();
  }
  return 0;
}
