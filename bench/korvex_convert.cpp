// Converts one image file to another with the engine, as a whole-process
// benchmark subject: korvex_convert IN OUT [QUALITY|COMPRESSION]
// The output format follows OUT's extension (.jpg, .png, .tif, .gif, .bmp).
#include <cstdio>
#include <cstdlib>
#include <string>

#include "korvex/korvex.h"

int main(int argc, char** argv) {
  if (argc < 3) {
    std::fprintf(stderr, "usage: korvex_convert IN OUT [QUALITY|COMPRESSION]\n");
    return 2;
  }
  const std::string out = argv[2];
  const int32_t param = argc > 3 ? std::atoi(argv[3]) : -1;
  const std::string ext = out.substr(out.find_last_of('.') + 1);
  korvex::cKorvex k;
  korvex::cKorvexStatus st = k.LoadFromFile(argv[1]);
  if (st == korvex::cKorvexStatus::Ok) {
    if (ext == "jpg" || ext == "jpeg") {
      st = k.SaveAsJpeg(out, param < 0 ? 75 : param);
    } else if (ext == "png") {
      st = k.SaveAsPng(out);
    } else if (ext == "tif" || ext == "tiff") {
      st = k.SaveAsTiff(out, param < 0 ? 2 : param);
    } else if (ext == "gif") {
      st = k.SaveAsGif(out);
    } else {
      st = k.SaveAsBmp(out);
    }
  }
  if (st != korvex::cKorvexStatus::Ok) {
    std::fprintf(stderr, "korvex_convert: status %d %s\n", static_cast<int>(st),
                 korvex::StatusName(st));
    return 1;
  }
  return 0;
}
