// One line of the summary table of `make bench` (bench/table.py): appended,
// tab-separated, to the file named by BENCH_TABLE when it is set. Times in
// seconds; a peak of -1 KB is written "-", a timing inside this process.
#pragma once

#include <cstdio>
#include <cstdlib>

inline void table_row(const char* workload, double korvex_s, long korvex_kb, const char* peer,
                      double peer_s, long peer_kb) {
  const char* path = std::getenv("BENCH_TABLE");
  if (path == nullptr || *path == '\0') return;
  std::FILE* f = std::fopen(path, "a");
  if (f == nullptr) return;
  char km[24] = "-", pm[24] = "-";
  if (korvex_kb >= 0) std::snprintf(km, sizeof km, "%ld", korvex_kb);
  if (peer_kb >= 0) std::snprintf(pm, sizeof pm, "%ld", peer_kb);
  std::fprintf(f, "%s\t%.6f\t%s\t%s\t%.6f\t%s\n", workload, korvex_s, km, peer, peer_s, pm);
  std::fclose(f);
}
