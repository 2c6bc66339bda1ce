// Smallest useful program against an installed Korvex: one blank image
// through the public API, plus a block of global memory.
#include <korvex/korvex.h>

#include <cstdint>
#include <cstdio>
#include <string>

static_assert(__cplusplus >= 202002L, "Korvex consumers must be compiled as C++20");

namespace {

int g_failures = 0;

void Check(bool ok, const char* what, const std::string& got) {
  if (!ok) {
    std::fprintf(stderr, "FAIL: %s (got %s)\n", what, got.c_str());
    ++g_failures;
  }
}

std::string Str(korvex::cKorvexStatus s) {
  return std::to_string(static_cast<int32_t>(s));
}

}  // namespace

int main() {
  korvex::cKorvex k;

  const korvex::cKorvexStatus created = k.CreateImage(40, 30);
  Check(created == korvex::cKorvexStatus::Ok, "CreateImage(40, 30) returns Ok", Str(created));
  Check(k.GetStat() == korvex::cKorvexStatus::Ok, "GetStat() after CreateImage is Ok",
        Str(k.GetStat()));

  const int32_t width = k.GetWidth();
  Check(width == 40, "GetWidth() == 40", std::to_string(width));
  const int32_t height = k.GetHeight();
  Check(height == 30, "GetHeight() == 30", std::to_string(height));
  const std::string format = k.GetImageFormat();
  Check(format == "Memory BMP", "GetImageFormat() == \"Memory BMP\"", "\"" + format + "\"");
  const double version = k.GetVersion();
  Check(version == 3.8, "GetVersion() == 3.8", std::to_string(version));

  const int32_t block = korvex::host::GlobalAlloc(16);
  Check(block != 0, "GlobalAlloc(16) returns a handle", std::to_string(block));
  Check(korvex::host::GlobalSize(block) == 16, "GlobalSize of a 16-byte block",
        std::to_string(korvex::host::GlobalSize(block)));
  Check(korvex::host::GlobalFree(block), "GlobalFree of a live block", "false");

  if (g_failures != 0) {
    std::fprintf(stderr, "%d check(s) failed\n", g_failures);
    return 1;
  }
  std::puts("korvex consumer: OK");
  return 0;
}
