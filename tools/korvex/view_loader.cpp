// `korvex view`: loads the viewer module (Qt and the viewer widget) and runs
// it. The module sits beside the command in the build tree, and in the
// library folder's korvex/ when installed.
#include <dlfcn.h>
#include <unistd.h>

#include <cstdio>
#include <string>
#include <vector>

#include "view.h"

namespace {

// The folder of the running program, with a trailing '/'; "" when unknown.
std::string program_folder() {
  std::vector<char> buf(4096);
  const ssize_t n = ::readlink("/proc/self/exe", buf.data(), buf.size() - 1);
  if (n <= 0) return {};
  std::string path(buf.data(), static_cast<size_t>(n));
  const size_t slash = path.rfind('/');
  return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

}  // namespace

int run_view(const std::vector<std::string>& files) {
  const std::string here = program_folder();
  void* module = nullptr;
  std::string why;
  for (const std::string& path : {here + "korvex_view.so",
                                  here + KORVEX_VIEW_MODULE_STEP "/korvex_view.so"}) {
    module = ::dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (module != nullptr) break;
    const char* e = ::dlerror();
    if (why.empty() && e != nullptr) why = e;
  }
  auto entry = module != nullptr ? reinterpret_cast<decltype(&korvex_view_main)>(
                                       ::dlsym(module, "korvex_view_main"))
                                 : nullptr;
  if (entry == nullptr) {
    std::fprintf(stderr, "korvex view: the viewer module cannot be loaded (%s)\n",
                 why.empty() ? "no entry point" : why.c_str());
    return 1;
  }
  // The module stays loaded: Qt's libraries run exit handlers of their own.
  return entry(files);
}
