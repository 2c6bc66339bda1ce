// The built-in "Korvex PDF" printer: a job is rendered into a hidden file
// in the output folder and renamed to "<document name>.pdf" (or
// "<document name> (N).pdf" when that exists) once it is complete.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "print/backend.h"

namespace korvex::print {

namespace {

bool is_dir(const std::string& p) {
  struct stat st {};
  return !p.empty() && ::stat(p.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

// A file name from a document name: path separators and control characters
// become "_", an empty name "Print".
std::string file_stem(const std::string& title) {
  std::string out;
  for (char c : title) {
    const auto u = static_cast<unsigned char>(c);
    out += (c == '/' || u < 0x20 || u == 0x7F) ? '_' : c;
  }
  if (out.empty() || out == "." || out == "..") out = "Print";
  if (out.size() > 200) out.resize(200);
  return out;
}

class PdfPrinter final : public PrinterBackend {
 public:
  explicit PdfPrinter(std::string folder) : folder_(std::move(folder)) {}

  const std::string& name() const override { return name_; }

  JobSettings defaults() override { return JobSettings{}; }

  Margins margins(const JobSettings&) override { return {}; }

  raster::Status spool_file(std::string& path) override {
    std::string tmpl = folder_ + "/.korvex-print-XXXXXX";
    const int fd = ::mkstemp(tmpl.data());
    // A read-only file system refuses as a protected folder does.
    if (fd < 0)
      return errno == EACCES || errno == EPERM || errno == EROFS ? raster::Status::AccessDenied
                                                                 : raster::Status::Win32Error;
    ::close(fd);
    path = tmpl;
    return raster::Status::Ok;
  }

  raster::Status submit(const std::string& path, const std::string& title,
                        const JobSettings&) override {
    const std::string stem = folder_ + "/" + file_stem(title);
    for (int n = 1; n < 10000; ++n) {
      const std::string target = n == 1 ? stem + ".pdf" : stem + " (" + std::to_string(n) + ").pdf";
      // Renamed only to a free name, so a file already there is never replaced.
      if (::renameat2(AT_FDCWD, path.c_str(), AT_FDCWD, target.c_str(), RENAME_NOREPLACE) == 0) {
        last_ = target;
        return raster::Status::Ok;
      }
      if (errno == EEXIST) continue;
      // File systems without an exclusive rename: a hard link fails on an existing name too.
      if (::link(path.c_str(), target.c_str()) == 0) {
        ::unlink(path.c_str());
        last_ = target;
        return raster::Status::Ok;
      }
      if (errno != EEXIST) break;
    }
    ::unlink(path.c_str());
    return raster::Status::Win32Error;
  }

  std::string last_job() const override { return last_; }

 private:
  std::string name_ = kPdfPrinterName;
  std::string folder_;
  std::string last_;
};

}  // namespace

std::unique_ptr<PrinterBackend> make_pdf_printer(const std::string& folder) {
  return std::make_unique<PdfPrinter>(folder.empty() ? default_output_folder() : folder);
}

std::string default_output_folder() {
  if (const char* docs = std::getenv("XDG_DOCUMENTS_DIR"); docs != nullptr && is_dir(docs))
    return docs;
  if (const char* home = std::getenv("HOME"); home != nullptr && *home != '\0') {
    const std::string d = std::string(home) + "/Documents";
    if (is_dir(d)) return d;
  }
  return ".";
}

}  // namespace korvex::print
