// Converts one image file to another as a whole-process benchmark subject:
//   korvex_convert [--members] IN OUT [QUALITY|COMPRESSION]
// The output format follows OUT's extension (.jpg, .png, .tif, .gif, .bmp,
// .pdf: one page, as SaveAsPdf writes it).
// The conversion runs as the korvex command runs the pipeline
// "-LoadFromFile IN -SaveAsJpeg OUT QUALITY" (and so on); --members calls the
// engine's members one after another instead, the whole picture in memory.
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "korvex/korvex.h"
#include "run_words.h"

namespace {

int members(const char* in, const std::string& out, const std::string& ext, int32_t param) {
  korvex::cKorvex k;
  korvex::cKorvexStatus st = k.LoadFromFile(in);
  if (st == korvex::cKorvexStatus::Ok) {
    if (ext == "jpg" || ext == "jpeg") {
      st = k.SaveAsJpeg(out, param < 0 ? 75 : param);
    } else if (ext == "png") {
      st = k.SaveAsPng(out);
    } else if (ext == "tif" || ext == "tiff") {
      st = k.SaveAsTiff(out, param < 0 ? 2 : param);
    } else if (ext == "gif") {
      st = k.SaveAsGif(out);
    } else if (ext == "pdf") {
      k.SaveAsPdf(out);
      st = k.GetStat();
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

int pipeline(const char* in, const std::string& out, const std::string& ext, int32_t param) {
  std::vector<std::string> words = {"-LoadFromFile", in};
  if (ext == "jpg" || ext == "jpeg") {
    words.insert(words.end(), {"-SaveAsJpeg", out, std::to_string(param < 0 ? 75 : param)});
  } else if (ext == "png") {
    words.insert(words.end(), {"-SaveAsPng", out});
  } else if (ext == "tif" || ext == "tiff") {
    words.insert(words.end(), {"-SaveAsTiff", out, std::to_string(param < 0 ? 2 : param)});
  } else if (ext == "gif") {
    words.insert(words.end(), {"-SaveAsGif", out});
  } else if (ext == "pdf") {
    words.insert(words.end(), {"-SaveAsPdf", out});
  } else {
    words.insert(words.end(), {"-SaveAsBmp", out});
  }
  return run_words(words, "korvex_convert");
}

}  // namespace

int main(int argc, char** argv) {
  const bool by_members = argc > 1 && std::string(argv[1]) == "--members";
  if (by_members) {
    --argc;
    ++argv;
  }
  if (argc < 3) {
    std::fprintf(stderr, "usage: korvex_convert [--members] IN OUT [QUALITY|COMPRESSION]\n");
    return 2;
  }
  const std::string out = argv[2];
  const int32_t param = argc > 3 ? std::atoi(argv[3]) : -1;
  const std::string ext = out.substr(out.find_last_of('.') + 1);
  return by_members ? members(argv[1], out, ext, param) : pipeline(argv[1], out, ext, param);
}
