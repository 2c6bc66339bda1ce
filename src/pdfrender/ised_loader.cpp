// The calls of ised.h, through korvex_pdfrender.so loaded on first use.
#include "pdfrender/ised.h"
#include "pdfrender/ised_module.h"
#include "raster/service_module.h"

namespace korvex::pdfrender {

namespace {

constexpr int32_t kCannotOpenInput = 401;

const IsedModule* ised() {
  static const IsedModule* const table = raster::service_table<IsedModule>(
      kIsedModuleFile, "korvex_pdfrender_module", kIsedModuleVersion);
  return table;
}

}  // namespace

int32_t iSEDDecryptFile(const std::string& in, const std::string& out,
                        const std::string& password) {
  const IsedModule* m = ised();
  return m != nullptr ? m->decrypt_file(in, out, password) : 0;
}

int32_t iSEDLastErrorCode() {
  const IsedModule* m = ised();
  return m != nullptr ? m->last_error_code() : kCannotOpenInput;
}

int32_t iSEDLoadFromFile(const std::string& path) {
  const IsedModule* m = ised();
  return m != nullptr ? m->load_from_file(path) : 0;
}

int32_t iSEDDocumentID(int32_t index) {
  const IsedModule* m = ised();
  return m != nullptr ? m->document_id(index) : 0;
}

int32_t iSEDSelectDocument(int32_t id) {
  const IsedModule* m = ised();
  return m != nullptr ? m->select_document(id) : 0;
}

int32_t iSEDEncrypted() {
  const IsedModule* m = ised();
  return m != nullptr ? m->encrypted() : 0;
}

int32_t iSEDSetPassword(const std::string& password) {
  const IsedModule* m = ised();
  return m != nullptr ? m->set_password(password) : 0;
}

int32_t iSEDUnencrypt() {
  const IsedModule* m = ised();
  return m != nullptr ? m->unencrypt() : 0;
}

int32_t iSEDPageCount() {
  const IsedModule* m = ised();
  return m != nullptr ? m->page_count() : 0;
}

int32_t iSEDRenderDocumentToFile(int32_t dpi, int32_t first, int32_t last, int32_t options,
                                 const std::string& file) {
  const IsedModule* m = ised();
  return m != nullptr ? m->render_document_to_file(dpi, first, last, options, file) : 0;
}

int32_t iSEDTakeRenderedFile(const std::string& file, raster::EncodedBytes& out) {
  const IsedModule* m = ised();
  if (m != nullptr) return m->take_rendered_file(file, out);
  out = raster::EncodedBytes{};
  return 0;
}

int32_t iSEDRemoveDocument(int32_t id) {
  const IsedModule* m = ised();
  return m != nullptr ? m->remove_document(id) : 0;
}

}  // namespace korvex::pdfrender
