// Path rules for file names given by hosts, and the temporary folder.
#include "engine/paths.h"

#include <algorithm>
#include <cstdlib>

namespace korvex {

std::string NormalizePath(const std::string& path) {
  std::string p = TrimSpaces(path);
  std::replace(p.begin(), p.end(), '\\', '/');
  if (p.size() <= 3) return p;
  // A leading "//" (a network path) is kept; extra leading slashes are dropped.
  while (p.compare(0, 3, "///") == 0) p.erase(0, 1);
  std::string out = p.substr(0, 2);
  for (size_t i = 2; i < p.size(); ++i) {
    if (p[i] == '/' && out.size() > 2 && out.back() == '/') continue;
    out.push_back(p[i]);
  }
  return out;
}

std::string TempFolder() {
  for (const char* name : {"TMPDIR", "tmp", "temp"}) {
    const char* v = std::getenv(name);
    if (v != nullptr && *v != '\0') {
      std::string s(v);
      while (s.size() > 1 && s.back() == '/') s.pop_back();
      if (s != "/") s.push_back('/');
      return s;
    }
  }
  return "/tmp/";
}

}  // namespace korvex
