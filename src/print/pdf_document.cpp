// Printing a PDF document of the PDF rendering calls: each page of the range
// is rendered into a private BMP file at the override resolution, decoded and
// drawn like any image, and the file is removed before the next page. The
// resolution the page was rendered at is the resolution it is measured with,
// so a page prints at its own size in millimetres.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>
#include <system_error>
#include <vector>

#include "pdfrender/ised.h"
#include "print/printer.h"
#include "raster/codec.h"
#include "raster/image.h"

namespace korvex::print {

namespace {

constexpr int32_t kDefaultPdfDpi = 150;

// A fresh, empty file of our own in the temporary folder; "" when none can be made.
std::string private_page_file() {
  std::error_code ec;
  std::filesystem::path dir = std::filesystem::temp_directory_path(ec);
  if (ec) dir = "/tmp";
  std::string name = (dir / "korvex-print-XXXXXX.bmp").string();
  std::vector<char> buf(name.begin(), name.end());
  buf.push_back('\0');
  const int fd = ::mkstemps(buf.data(), 4);
  if (fd < 0) return {};
  ::close(fd);
  return std::string(buf.data());
}

raster::Status decode_file(const std::string& path, std::unique_ptr<raster::Image>& out) {
  std::error_code ec;
  const auto size = std::filesystem::file_size(path, ec);
  if (ec || size == 0) return raster::Status::FileNotFound;
  std::vector<uint8_t> bytes;
  {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return raster::Status::FileNotFound;
    bytes.resize(static_cast<size_t>(size));
    size_t got = 0;
    while (got < bytes.size()) {
      const ssize_t n = ::read(fd, bytes.data() + got, bytes.size() - got);
      if (n <= 0) break;
      got += static_cast<size_t>(n);
    }
    ::close(fd);
    if (got != bytes.size()) return raster::Status::Win32Error;
  }
  return raster::decode_image(raster::own_bytes(std::move(bytes)), out);
}

}  // namespace

raster::Status cPrinter::run_pdf_job(int32_t document, Placement placement, const RectMM& rect) {
  using namespace pdfrender;
  if (document == 0 || iSEDSelectDocument(document) != 1) return raster::Status::InvalidParameter;
  const int32_t pages = iSEDPageCount();
  if (pages < 1) return raster::Status::InvalidParameter;
  int32_t first = 1, last = 1;
  page_range(pages, first, last);
  const int32_t dpi =
      resolution_override_ && override_dpi_x_ > 0 ? override_dpi_x_ : kDefaultPdfDpi;
  std::unique_ptr<raster::Image> shown;
  return run_pages(
      first, last,
      [&](int32_t page, raster::Image*& out) {
        shown.reset();
        const std::string file = private_page_file();
        if (file.empty()) return raster::Status::Win32Error;
        // Another viewer may have selected its own document since.
        raster::Status st = raster::Status::GenericError;
        if (iSEDSelectDocument(document) == 1 &&
            iSEDRenderDocumentToFile(dpi, page, page, 0, file) == 1)
          st = decode_file(file, shown);
        std::error_code ec;
        std::filesystem::remove(file, ec);
        if (st != raster::Status::Ok) return st;
        if (!resolution_override_) shown->set_resolution(dpi, dpi);
        out = shown.get();
        return raster::Status::Ok;
      },
      placement, rect);
}

}  // namespace korvex::print
