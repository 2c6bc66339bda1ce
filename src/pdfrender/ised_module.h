// The PDF rendering calls live in a module of their own
// (korvex_pdfrender.so, linked to poppler-cpp and libqpdf), loaded by the
// first call of ised.h: a process that never opens a PDF page never maps
// poppler, libqpdf and the NSS, cURL and TLS libraries under them. Without
// the module (or its libraries) every call fails and iSEDLastErrorCode
// gives 401 (could not open input file).
#pragma once

#include <cstdint>
#include <string>

#include "raster/codec.h"

namespace korvex::pdfrender {

// What korvex_pdfrender.so exports, through its entry korvex_pdfrender_module():
// one function per call of ised.h, with its signature.
struct IsedModule {
  uint32_t version;
  int32_t (*decrypt_file)(const std::string& in, const std::string& out,
                          const std::string& password);
  int32_t (*last_error_code)();
  int32_t (*load_from_file)(const std::string& path);
  int32_t (*document_id)(int32_t index);
  int32_t (*select_document)(int32_t id);
  int32_t (*encrypted)();
  int32_t (*set_password)(const std::string& password);
  int32_t (*unencrypt)();
  int32_t (*page_count)();
  int32_t (*render_document_to_file)(int32_t dpi, int32_t first, int32_t last, int32_t options,
                                     const std::string& file);
  int32_t (*take_rendered_file)(const std::string& file, raster::EncodedBytes& out);
  int32_t (*remove_document)(int32_t id);
};
inline constexpr uint32_t kIsedModuleVersion = 1;
inline constexpr const char* kIsedModuleFile = "korvex_pdfrender.so";

}  // namespace korvex::pdfrender

extern "C" const korvex::pdfrender::IsedModule* korvex_pdfrender_module();
