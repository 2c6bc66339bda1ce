// Service modules: the parts of the library that need a large service
// library (libcups, libcurl, poppler and libqpdf, the metafile libraries)
// are shared objects of their own, loaded on first use, so a process that
// never prints, downloads, renders PDF pages or reads metafiles never maps
// those libraries and their dependencies (TLS, Kerberos, LDAP, NSS, GIO
// ...), which cost more start-up time than the rest of the library together.
//
// A module sits beside libkorvex (the build tree) or in its korvex/ folder
// (installed), and exports one C entry that returns its table of functions.
// Each table starts with the interface version its caller was built with.
#pragma once

#include <cstdint>

namespace korvex::raster {

// Opens `file` (a module's file name) and returns its entry `entry`, or
// null when neither place holds a loadable module with that entry (absent,
// or a service library it needs is missing). The module stays loaded.
void* load_service_module(const char* file, const char* entry);

// The table a module's entry returns, once per process, when the module
// loads and its table is of `version`; null otherwise. `Table` starts with
// a `uint32_t version` field.
template <typename Table>
const Table* service_table(const char* file, const char* entry, uint32_t version) {
  void* sym = load_service_module(file, entry);
  if (sym == nullptr) return nullptr;
  const Table* table = reinterpret_cast<const Table* (*)()>(sym)();
  return table != nullptr && table->version == version ? table : nullptr;
}

}  // namespace korvex::raster
