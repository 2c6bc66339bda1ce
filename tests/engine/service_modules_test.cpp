// Service libraries are loaded on first use: a load/convert/save process maps
// none of libcups, libcurl, poppler, libqpdf or the metafile libraries, and
// the first printer list, request, PDF call or metafile loads its module. Each case runs in a fresh process
// (a "threadsafe" death test re-runs the binary), so what other tests of the
// binary loaded cannot be seen.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iostream>
#include <string>

#include "korvex/engine.h"
#include "net/inet.h"
#include "pdfrender/ised.h"

namespace korvex {
namespace {

// The mapped files whose names contain one of `names`, one per line.
std::string mapped(std::initializer_list<const char*> names) {
  std::ifstream maps("/proc/self/maps");
  std::string line, found;
  while (std::getline(maps, line)) {
    const size_t slash = line.find('/');
    if (slash == std::string::npos) continue;
    const std::string file = line.substr(slash);
    for (const char* n : names)
      if (file.find(n) != std::string::npos && found.find(file) == std::string::npos)
        found += file + "\n";
  }
  return found;
}

// Runs `body` in a fresh process; it passes when the process exits with 0.
void in_fresh_process(const std::function<int()>& body) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(std::exit(body()), testing::ExitedWithCode(0), "");
}

TEST(ServiceModules, LoadConvertSaveMapsNoServiceLibrary) {
  const std::string out =
      (std::filesystem::temp_directory_path() / "korvex_service_modules_test.png").string();
  in_fresh_process([&] {
    cKorvex k;
    if (k.LoadFromFile(std::string(KORVEX_SOURCE_DIR) + "/samples/photo.jpg") !=
            cKorvexStatus::Ok ||
        k.SaveAsPng(out) != cKorvexStatus::Ok) {
      std::cerr << "the conversion failed\n";
      return 1;
    }
    std::filesystem::remove(out);
    const std::string libs =
        mapped({"libcups", "libcurl", "libpoppler", "libqpdf", "libgnutls", "libnss3", "librsvg",
                "libwmf", "libemf2svg", "korvex_"});
    std::cerr << libs;
    return libs.empty() ? 0 : 1;
  });
}

// The first call of each service loads its module and service library.
TEST(ServiceModules, FirstUseLoadsTheModule) {
  struct Case {
    const char* module;
    const char* library;
    std::function<bool()> first_use;  // true when the call worked
  };
  const Case cases[] = {
      {"korvex_print.so", "libcups", [] { return cKorvex().PrintGetPrintersCount() >= 1; }},
      {"korvex_net.so", "libcurl",
       [] { return net::cInet().Request("GET", "127.0.0.1", "/", 80, net::kServiceHttp) != 0; }},
      {"korvex_pdfrender.so", "libpoppler",
       [] {
         // A missing file: the module reports it as any other input it cannot open.
         return pdfrender::iSEDLoadFromFile("/nonexistent/korvex.pdf") == 0 &&
                pdfrender::iSEDLastErrorCode() == 401;
       }},
      {"korvex_metafile.so", "librsvg",
       [] {
         cKorvex k;
         return k.LoadFromFile(std::string(KORVEX_SOURCE_DIR) +
                               "/tests/data/metafile/pillow_drawing.emf") == cKorvexStatus::Ok;
       }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.module);
    in_fresh_process([&] {
      if (!mapped({c.module, c.library}).empty()) return 2;  // loaded before any use
      if (!c.first_use()) return 3;
      const std::string libs = mapped({c.module, c.library});
      std::cerr << libs;
      return libs.find(c.module) != std::string::npos &&
                     libs.find(c.library) != std::string::npos
                 ? 0
                 : 4;
    });
  }
}

}  // namespace
}  // namespace korvex
