// Helpers of the PDF writer tests: a scratch folder, whole-file reads, poppler and qpdf.
#pragma once

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <initializer_list>
#include <sstream>
#include <string>

#include "pdf/pdf.h"

namespace korvex::testutil {

struct ScratchDir {
  std::filesystem::path dir;
  ScratchDir() {
    static int n = 0;
    dir = std::filesystem::temp_directory_path() /
          ("kx-pdf-" + std::to_string(getpid()) + "-" + std::to_string(++n));
    std::filesystem::create_directories(dir);
  }
  ~ScratchDir() { std::filesystem::remove_all(dir); }
  std::string operator/(const std::string& name) const { return (dir / name).string(); }
};

inline std::string slurp(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

// Standard output of a shell command; `rc` its exit status.
inline std::string run(const std::string& cmd, int* rc = nullptr) {
  std::string out;
  FILE* p = popen((cmd + " 2>&1").c_str(), "r");
  if (p == nullptr) return out;
  char buf[4096];
  size_t n;
  while ((n = fread(buf, 1, sizeof buf, p)) > 0) out.append(buf, n);
  const int st = pclose(p);
  if (rc) *rc = WEXITSTATUS(st);
  return out;
}

inline void expect_qpdf_clean(const std::string& path) {
  int rc = -1;
  const std::string out = run("qpdf --check '" + path + "'", &rc);
  EXPECT_EQ(rc, 0) << out;
  EXPECT_NE(out.find("No syntax or stream encoding errors"), std::string::npos) << out;
}

// Every needle occurs somewhere in `hay`.
inline void expect_contains(const std::string& hay, std::initializer_list<std::string> needles) {
  for (const std::string& n : needles) EXPECT_NE(hay.find(n), std::string::npos) << n;
}

inline size_t count_of(const std::string& hay, const std::string& needle) {
  size_t n = 0;
  for (size_t at = hay.find(needle); at != std::string::npos; at = hay.find(needle, at + 1)) ++n;
  return n;
}

}  // namespace korvex::testutil
