// Demo of the Korvex engine: creates blank images of every offered depth and
// prints what the engine reports about them.
//
//   korvex-demo [SAMPLES_DIR]
#include <cstdint>
#include <cstdio>

#include "korvex/korvex.h"

int main(int argc, char** argv) {
  using korvex::cKorvex;
  using korvex::cKorvexStatus;
  (void)argc;
  (void)argv;

  cKorvex k;
  std::printf("Korvex engine %.1f\n", k.GetVersion());
  std::printf("%-6s %-6s %-7s %-10s %-5s %-9s %-9s %s\n", "depth", "width", "height", "format",
              "dpi", "width mm", "height mm", "status");
  const int16_t depths[] = {1, 4, 8, 16, 24, 32, 48, 64};
  int failures = 0;
  for (int16_t depth : depths) {
    const cKorvexStatus st = k.CreateImage(640, 480, depth);
    std::printf("%-6d %-6d %-7d %-10s %-5d %-9.2f %-9.2f %s\n", depth, k.GetWidth(), k.GetHeight(),
                k.GetImageFormat().c_str(), k.GetHorizontalResolution(), k.GetWidthMM(),
                k.GetHeightMM(), korvex::StatusName(st));
    if (st != cKorvexStatus::Ok) ++failures;
  }

  // A caller-owned blank image and a 32-bit copy of it.
  const int32_t id = k.CreateNewImage(320, 200, 24, static_cast<int32_t>(0xFF3366CC));
  const int32_t copy = k.CreateClonedImageARGB(id);
  std::printf("blank 24-bit image id %d, 32-bit copy id %d: %s\n", id, copy,
              korvex::StatusName(k.GetStat()));
  k.CloseImage(copy);
  k.CloseImage(id);

  // Asking for a depth that is not offered is reported, not thrown.
  k.CreateNewImage(10, 10, 12);
  std::printf("depth 12: status %d %s\n", static_cast<int>(k.GetStat()),
              korvex::StatusName(k.GetStat()));
  return failures == 0 ? 0 : 1;
}
