// Demo of the Korvex engine on the bundled samples: loads every image file
// of a folder, reports what the engine sees (format, size, resolution,
// pages and frames), saves each one as PNG, JPEG and TIFF into an output
// folder and reads the saved files back; then creates blank images of every
// depth.
//
//   korvex-demo [SAMPLES_DIR] [OUTPUT_DIR]
#include <algorithm>
#include <cstdio>
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "korvex/korvex.h"

namespace fs = std::filesystem;
using korvex::cKorvex;
using korvex::cKorvexStatus;

namespace {

int failures = 0;

bool check(const char* what, cKorvexStatus st) {
  if (st == cKorvexStatus::Ok) return true;
  std::printf("    %s: status %d %s\n", what, static_cast<int>(st), korvex::StatusName(st));
  ++failures;
  return false;
}

void describe(cKorvex& k) {
  std::printf("%-10s %5d x %-5d %4d x %-4d dpi %7.1f x %-6.1f mm", k.GetImageFormat().c_str(),
              k.GetWidth(), k.GetHeight(), k.GetHorizontalResolution(),
              k.GetVerticalResolution(), k.GetWidthMM(), k.GetHeightMM());
  if (const int32_t pages = k.TiffGetPageCount(); pages > 0) std::printf("  %d pages", pages);
  if (const int32_t frames = k.GifGetFrameCount(); frames > 0) {
    korvex::Array<int32_t> delays;
    std::printf("  %d frames", frames);
    if (k.GifGetFrameDelay(delays) == cKorvexStatus::Ok) std::printf(", %d/100 s each", delays(1));
  }
  std::printf("\n");
}

}  // namespace

int main(int argc, char** argv) {
  const fs::path samples = argc > 1 ? argv[1] : "samples";
  const fs::path out = argc > 2 ? argv[2] : fs::temp_directory_path() / "korvex-demo";
  fs::create_directories(out);
  cKorvex k;
  std::printf("Korvex engine %.1f — samples from %s, output in %s\n\n", k.GetVersion(),
              samples.c_str(), out.c_str());

  std::vector<fs::path> files;
  for (const auto& e : fs::directory_iterator(samples)) {
    if (e.is_regular_file() && e.path().extension() != ".md") files.push_back(e.path());
  }
  std::sort(files.begin(), files.end());
  for (const fs::path& f : files) {
    std::printf("%-14s ", f.filename().c_str());
    if (!check("load", k.LoadFromFile(f.string()))) continue;
    describe(k);
    const std::string stem = (out / f.stem()).string();
    check("PNG", k.SaveAsPng(stem + ".png"));
    check("JPEG", k.SaveAsJpeg(stem + ".jpg", 85));
    check("TIFF", k.SaveAsTiff(stem + ".tif", 4));  // CCITT G4 for 1-bit pages, LZW otherwise
    for (const char* ext : {".png", ".jpg", ".tif"}) {
      cKorvex reader;
      if (check("reload", reader.LoadFromFile(stem + ext)) &&
          (reader.GetWidth() != k.GetWidth() || reader.GetHeight() != k.GetHeight())) {
        std::printf("    %s%s: size changed\n", stem.c_str(), ext);
        ++failures;
      }
    }
  }

  std::printf("\nBlank images:\n");
  for (int16_t depth : {1, 4, 8, 16, 24, 32, 48, 64}) {
    if (!check("CreateImage", k.CreateImage(640, 480, depth))) continue;
    std::printf("  %2d bits: ", depth);
    describe(k);
  }
  k.CreateNewImage(10, 10, 12);
  std::printf("  12 bits: status %d %s (not an offered depth)\n", static_cast<int>(k.GetStat()),
              korvex::StatusName(k.GetStat()));
  std::printf("\n%s\n", failures == 0 ? "All samples loaded, saved and read back."
                                      : "Some steps failed (see above).");
  return failures == 0 ? 0 : 1;
}
