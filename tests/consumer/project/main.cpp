// Smallest useful program against an installed Korvex: one blank image
// through the public API, plus a block of global memory.
#include <korvex/korvex.h>

#include <cstdio>

static_assert(__cplusplus >= 202002L, "Korvex consumers must be compiled as C++20");

int main() {
  korvex::cKorvex k;
  const bool image = k.CreateImage(40, 30) == korvex::cKorvexStatus::Ok && k.GetWidth() == 40 &&
                     k.GetHeight() == 30 && k.GetImageFormat() == "Memory BMP";
  const int32_t block = korvex::host::GlobalAlloc(16);
  const bool memory = korvex::host::GlobalSize(block) == 16 && korvex::host::GlobalFree(block);
  if (!image || !memory) {
    std::fprintf(stderr, "FAIL: image %d, global memory %d\n", image, memory);
    return 1;
  }
  std::puts("korvex consumer: OK");
  return 0;
}
