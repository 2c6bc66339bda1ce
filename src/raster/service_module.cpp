// Finds service modules from the folder libkorvex was loaded from.
#include "raster/service_module.h"

#include <dlfcn.h>

#include <string>

namespace korvex::raster {

namespace {

// The folder of the loaded libkorvex, with a trailing '/'; "" when unknown.
std::string library_folder() {
  Dl_info info{};
  if (::dladdr(reinterpret_cast<const void*>(&load_service_module), &info) == 0 ||
      info.dli_fname == nullptr)
    return {};
  const std::string path = info.dli_fname;
  const size_t slash = path.rfind('/');
  return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

}  // namespace

void* load_service_module(const char* file, const char* entry) {
  const std::string here = library_folder();
  // Build tree: beside the library. Installed: in the library folder's korvex/.
  for (const std::string& path : {here + file, here + "korvex/" + file}) {
    void* module = ::dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (module == nullptr) continue;  // absent, or a library it needs is missing
    if (void* sym = ::dlsym(module, entry); sym != nullptr) return sym;
    ::dlclose(module);
  }
  return nullptr;
}

}  // namespace korvex::raster
