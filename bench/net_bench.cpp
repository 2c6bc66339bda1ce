// HTTP download of a large JPEG from a loopback server, against curl -o and
// the same decode of the file it wrote. Prints the median of the runs for
// the download alone and for download + decode, and the ratios.
//
//   net_bench PORT PATH SCRATCH_FILE [RUNS]
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>
#include <vector>

#include "korvex/engine.h"
#include "net/inet.h"
#include "table_row.h"

namespace {

double median_seconds(int runs, const std::function<bool()>& work) {
  std::vector<double> t;
  for (int i = 0; i < runs; ++i) {
    const auto start = std::chrono::steady_clock::now();
    if (!work()) {
      std::fprintf(stderr, "run failed\n");
      std::exit(1);
    }
    t.push_back(std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
  }
  std::sort(t.begin(), t.end());
  return t[t.size() / 2];
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 4) {
    std::fprintf(stderr, "usage: net_bench PORT PATH SCRATCH_FILE [RUNS]\n");
    return 2;
  }
  const int port = std::atoi(argv[1]);
  const std::string path = argv[2], scratch = argv[3];
  const int runs = argc > 4 ? std::atoi(argv[4]) : 5;
  const std::string url = "http://127.0.0.1:" + std::to_string(port) + path;
  const std::string curl = "curl -s -f -o '" + scratch + "' '" + url + "'";
  size_t length = 0;

  const double ours_download = median_seconds(runs, [&] {
    korvex::net::cInet client;
    std::vector<uint8_t> bytes;
    const bool ok =
        korvex::net::Download(client, "127.0.0.1", path, port, bytes) == korvex::net::Fetch::Ok;
    length = bytes.size();
    return ok;
  });
  const double curl_download = median_seconds(runs, [&] { return std::system(curl.c_str()) == 0; });

  korvex::cKorvex k;
  const double ours_total = median_seconds(runs, [&] {
    const int32_t id = k.CreateImageFromURL("127.0.0.1", path, port);
    k.CloseImage(id);
    return id != 0;
  });
  const double curl_total = median_seconds(runs, [&] {
    if (std::system(curl.c_str()) != 0) return false;
    const int32_t id = k.CreateImageFromFile(scratch);
    k.CloseImage(id);
    return id != 0;
  });

  std::printf("%.1f MB JPEG over loopback, median of %d runs\n", length / 1e6, runs);
  std::printf("  download          korvex %7.3f s   curl -o %7.3f s   korvex/curl %5.2f\n",
              ours_download, curl_download, ours_download / curl_download);
  std::printf("  download + decode korvex %7.3f s   curl -o + decode %7.3f s   korvex/curl %5.2f\n",
              ours_total, curl_total, ours_total / curl_total);
  table_row("HTTP download, 20 MB JPEG", ours_download, -1, "curl -o", curl_download, -1);
  table_row("HTTP download + decode", ours_total, -1, "curl -o + decode", curl_total, -1);
  return 0;
}
