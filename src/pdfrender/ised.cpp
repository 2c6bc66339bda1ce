// The PDF rendering calls over poppler-cpp (documents, pages, rendering) and
// libqpdf (decryption to a file, qpdf_decrypt.cpp). See ised.h for the calls
// and their codes. Built into korvex_pdfrender.so: the calls here are
// internal to the module and back the library's functions of ised.h through
// the module's table (ised_module.h), so no call of the module binds to the
// library's function of the same name.
#include "pdfrender/ised_module.h"
#include "pdfrender/qpdf_decrypt.h"
#include "pdfrender/stream_check.h"


#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <map>
#include <memory>
#include <new>
#include <poppler-document.h>
#include <poppler-global.h>
#include <poppler-page-renderer.h>
#include <poppler-page.h>
#include <system_error>
#include <vector>

#include "raster/codec.h"
#include "raster/image.h"
#include "raster/limits.h"

namespace korvex::pdfrender {

namespace {

constexpr int32_t kCannotOpenInput = 401;
constexpr int32_t kCannotOpenOutput = 403;
constexpr int32_t kInvalidPassword = 404;
constexpr int32_t kDamaged = 409;
constexpr int32_t kPageOutOfRange = 411;
constexpr int32_t kCannotRender = 412;

// Where a document was read from, and the password that opened it, for the
// inflate check of its pages.
struct Source {
  std::string path;
  std::string password;
};

struct Library {
  std::map<int32_t, std::unique_ptr<poppler::document>> documents;
  std::map<int32_t, Source> sources;
  int32_t selected = 0;
  int32_t next_id = 1;
  int32_t last_error = 0;
  // The last page file written, until its user takes it.
  std::string rendered_name;
  std::vector<uint8_t> rendered_bytes;
};

// Documents belong to the thread that opened them, as the viewers that use them.
Library& library() {
  thread_local Library lib;
  return lib;
}

int32_t fail(int32_t code) {
  library().last_error = code;
  return 0;
}

poppler::document* selected() {
  Library& lib = library();
  auto it = lib.documents.find(lib.selected);
  return it == lib.documents.end() ? nullptr : it->second.get();
}

// poppler reports syntax problems of damaged files on stderr; the calls report them as codes.
void quiet_poppler() {
  static const bool once = [] {
    poppler::set_debug_error_function([](const std::string&, void*) {}, nullptr);
    return true;
  }();
  (void)once;
}

// Renders one page as 32-bit BGRA rows and converts it into a 24-bit raster
// image at the page's resolution, over `pixels` (not zeroed first: the
// conversion writes every pixel), which must outlive the image. The pixel
// count and memory are checked against their limits before poppler
// allocates anything.
int32_t render_page(poppler::document& doc, int32_t index, int32_t dpi,
                    std::unique_ptr<uint8_t[]>& pixels, std::unique_ptr<raster::Image>& out) {
  std::unique_ptr<poppler::page> page(doc.create_page(index));
  if (!page) return fail(kPageOutOfRange);
  const poppler::rectf box = page->page_rect();
  // Whole pixels covering the page, as pdftoppm sizes its pages.
  const double w = std::ceil(box.width() * (dpi / 72.0));
  const double h = std::ceil(box.height() * (dpi / 72.0));
  if (!(w >= 1 && h >= 1) || w > INT32_MAX || h > INT32_MAX ||
      raster::check_bitmap(static_cast<uint64_t>(w), static_cast<uint64_t>(h),
                           static_cast<uint64_t>(w) * static_cast<uint64_t>(h) * 4) !=
          raster::Status::Ok)
    return fail(kCannotRender);
  poppler::page_renderer renderer;
  renderer.set_render_hints(poppler::page_renderer::antialiasing |
                            poppler::page_renderer::text_antialiasing);
  renderer.set_image_format(poppler::image::format_argb32);
  const poppler::image img = renderer.render_page(page.get(), dpi, dpi, 0, 0, static_cast<int>(w),
                                                   static_cast<int>(h));
  if (!img.is_valid() || img.format() != poppler::image::format_argb32) return fail(kCannotRender);
  const int32_t stride = raster::padded_stride(img.width(), raster::pf::k24bppRGB);
  if (stride <= 0) return fail(kCannotRender);
  pixels.reset(new (std::nothrow) uint8_t[static_cast<size_t>(stride) *
                                          static_cast<size_t>(img.height())]);
  if (!pixels) return fail(kCannotRender);
  // Only the row padding is zeroed: the conversion writes the rest.
  const auto row = static_cast<size_t>(stride), used = static_cast<size_t>(img.width()) * 3;
  for (int32_t y = 0; y < img.height() && used < row; ++y)
    std::memset(pixels.get() + static_cast<size_t>(y) * row + used, 0, row - used);
  if (raster::Image::create_from_scan0(img.width(), img.height(), stride, raster::pf::k24bppRGB,
                                       pixels.get(), out) != raster::Status::Ok ||
      out->write_pixels(raster::Rect{0, 0, img.width(), img.height()}, raster::pf::k32bppARGB,
                        reinterpret_cast<const uint8_t*>(img.const_data()),
                        img.bytes_per_row()) != raster::Status::Ok ||
      out->set_resolution(static_cast<float>(dpi), static_cast<float>(dpi)) != raster::Status::Ok)
    return fail(kCannotRender);
  return 1;
}

// Writes a rendered page file. Page files are caches their users delete
// again, so they are written straight to their name without a flush to disk:
// a crash loses nothing that cannot be rendered anew. A file (or link) of
// that name is replaced, never written through; on failure the file is
// removed.
bool write_page_file(const std::string& path, const std::vector<uint8_t>& bytes) {
  if (::unlink(path.c_str()) != 0 && errno != ENOENT) return false;
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
  if (fd < 0) return false;
  size_t put = 0;
  while (put < bytes.size()) {
    const ssize_t n = ::write(fd, bytes.data() + put, bytes.size() - put);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    put += static_cast<size_t>(n);
  }
  const bool ok = ::close(fd) == 0 && put == bytes.size();
  if (!ok) ::unlink(path.c_str());
  return ok;
}

const raster::Encoder* encoder_for(const raster::Guid& format) {
  for (const raster::Encoder& e : raster::encoders())
    if (e.format == format) return &e;
  return nullptr;
}

int32_t iSEDDecryptFile(const std::string& in, const std::string& out,
                        const std::string& password) {
  std::error_code ec;
  if (!std::filesystem::is_regular_file(in, ec)) return fail(kCannotOpenInput);
  const int32_t code = DecryptWithQpdf(in, out, password);
  return code == 0 ? 1 : fail(code);
}

int32_t iSEDLastErrorCode() {
  return library().last_error;
}

int32_t iSEDLoadFromFile(const std::string& path) {
  quiet_poppler();
  std::error_code ec;
  if (!std::filesystem::is_regular_file(path, ec)) return fail(kCannotOpenInput);
  std::unique_ptr<poppler::document> doc(poppler::document::load_from_file(path));
  if (!doc) return fail(kDamaged);
  Library& lib = library();
  const int32_t id = lib.next_id++;
  lib.documents.emplace(id, std::move(doc));
  lib.sources[id] = Source{path, ""};
  lib.selected = id;
  return 1;
}

int32_t iSEDDocumentID(int32_t index) {
  return index == 1 && selected() != nullptr ? library().selected : 0;
}

int32_t iSEDSelectDocument(int32_t id) {
  Library& lib = library();
  if (lib.documents.count(id) == 0) return 0;
  lib.selected = id;
  return 1;
}

int32_t iSEDEncrypted() {
  poppler::document* doc = selected();
  // A document still locked has not read its encryption dictionary yet.
  return doc != nullptr && (doc->is_locked() || doc->is_encrypted()) ? 1 : 0;
}

int32_t iSEDSetPassword(const std::string& password) {
  poppler::document* doc = selected();
  if (doc == nullptr) return 0;
  if (!doc->is_locked()) return 1;
  // unlock() answers whether the document is still locked.
  if (doc->unlock(password, password)) return fail(kInvalidPassword);
  library().sources[library().selected].password = password;
  return 1;
}

int32_t iSEDUnencrypt() {
  poppler::document* doc = selected();
  return doc != nullptr && !doc->is_locked() ? 1 : 0;
}

int32_t iSEDPageCount() {
  poppler::document* doc = selected();
  return doc != nullptr && !doc->is_locked() ? doc->pages() : 0;
}

int32_t iSEDRenderDocumentToFile(int32_t dpi, int32_t first, int32_t last, int32_t options,
                                 const std::string& file) {
  poppler::document* doc = selected();
  if (doc == nullptr || doc->is_locked()) return fail(kInvalidPassword);
  if (first != last || first < 1 || first > doc->pages()) return fail(kPageOutOfRange);
  if (dpi < 1 || (options != 0 && options != 1)) return fail(kCannotRender);
  // A page whose streams inflate past the limit is refused before poppler
  // decodes them for drawing.
  const Source& src = library().sources[library().selected];
  if (!PageStreamsAllowed(src.path, src.password, first - 1, raster::inflate_allowed))
    return fail(kCannotRender);
  Library& lib = library();
  lib.rendered_name.clear();
  lib.rendered_bytes = std::vector<uint8_t>{};
  std::unique_ptr<uint8_t[]> pixels;
  std::unique_ptr<raster::Image> img;
  if (render_page(*doc, first - 1, dpi, pixels, img) == 0) return 0;
  const raster::Encoder* enc =
      encoder_for(options == 1 ? raster::guids::kFormatJpeg : raster::guids::kFormatBmp);
  std::vector<uint8_t> bytes;
  if (enc == nullptr || raster::encode_to_memory(*enc, *img, {}, bytes) != raster::Status::Ok)
    return fail(kCannotRender);
  if (!write_page_file(file, bytes))
    return fail(kCannotOpenOutput);
  lib.rendered_name = file;
  lib.rendered_bytes = std::move(bytes);
  return 1;
}

int32_t iSEDTakeRenderedFile(const std::string& file, raster::EncodedBytes& out) {
  Library& lib = library();
  out = raster::EncodedBytes{};
  const bool match = !lib.rendered_name.empty() && lib.rendered_name == file;
  if (match) out = raster::own_bytes(std::move(lib.rendered_bytes));
  lib.rendered_name.clear();
  lib.rendered_bytes = std::vector<uint8_t>{};
  return match ? 1 : 0;
}

int32_t iSEDRemoveDocument(int32_t id) {
  Library& lib = library();
  if (lib.documents.erase(id) == 0) return 0;
  lib.sources.erase(id);
  ClosePageStreams();
  lib.rendered_name.clear();
  lib.rendered_bytes = std::vector<uint8_t>{};
  if (lib.selected == id) lib.selected = 0;
  return 1;
}

}  // namespace

}  // namespace korvex::pdfrender

const korvex::pdfrender::IsedModule* korvex_pdfrender_module() {
  using namespace korvex::pdfrender;
  static const IsedModule table{kIsedModuleVersion,
                                &iSEDDecryptFile,
                                &iSEDLastErrorCode,
                                &iSEDLoadFromFile,
                                &iSEDDocumentID,
                                &iSEDSelectDocument,
                                &iSEDEncrypted,
                                &iSEDSetPassword,
                                &iSEDUnencrypt,
                                &iSEDPageCount,
                                &iSEDRenderDocumentToFile,
                                &iSEDTakeRenderedFile,
                                &iSEDRemoveDocument};
  return &table;
}
