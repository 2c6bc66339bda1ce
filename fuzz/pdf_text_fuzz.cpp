// libFuzzer harness of the PDF writer's text escaping and number
// formatting: any violated invariant (see pdf_text_check.h) aborts.
#include <cstdio>
#include <cstdlib>

#include "pdf_text_check.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string problem = korvex::pdf_text_check(data, size);
  if (!problem.empty()) {
    std::fprintf(stderr, "pdf_text: %s\n", problem.c_str());
    std::abort();
  }
  return 0;
}
