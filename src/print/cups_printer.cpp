// CUPS destinations as printers: names from cupsGetDests2, margins from the
// destination's media database (PPD or IPP imageable areas), and jobs sent
// with cupsPrintFile2 and followed until the scheduler finishes them.
// Built into korvex_print.so (cups_module.h), the only file linked to libcups.
#include <cups/cups.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>

#include "print/backend.h"
#include "print/cups_module.h"
#include "print/paper.h"

namespace korvex::print {

namespace {

// Owns a destination list.
struct Dests {
  cups_dest_t* list = nullptr;
  int count = 0;
  Dests() { count = cupsGetDests2(CUPS_HTTP_DEFAULT, &list); }
  ~Dests() { cupsFreeDests(count, list); }
  Dests(const Dests&) = delete;
  Dests& operator=(const Dests&) = delete;
};

std::string dest_name(const cups_dest_t& d) {
  std::string n = d.name;
  if (d.instance != nullptr) n += std::string("/") + d.instance;
  return n;
}

cups_dest_t* find_dest(const Dests& ds, const std::string& name) {
  for (int i = 0; i < ds.count; ++i)
    if (dest_name(ds.list[i]) == name) return &ds.list[i];
  return nullptr;
}

// The job's "media": the PWG name of a paper code, or a custom size.
std::string media_of(const JobSettings& s) {
  if (const PaperSize* p = paper_by_code(s.paper_size)) return p->media;
  char size[64];
  std::snprintf(size, sizeof size, "%.2fx%.2fmm", twips_to_mm(s.paper_width),
                twips_to_mm(s.paper_height));
  return std::string("custom_") + size + "_" + size;
}

const char* sides_of(int32_t duplex) {
  switch (duplex) {
    case 2:
      return "two-sided-long-edge";
    case 3:
      return "two-sided-short-edge";
    default:
      return "one-sided";
  }
}

// Paper bin codes to media-source keywords; 0 for a code without one.
const char* source_of(int32_t bin) {
  switch (bin) {
    case 1:
      return "top";
    case 2:
      return "bottom";
    case 3:
      return "middle";
    case 4:
    case 6:
      return "manual";
    case 5:
      return "envelope";
    case 7:
      return "auto";
    case 11:
      return "large-capacity";
    default:
      return nullptr;
  }
}

class CupsPrinter final : public PrinterBackend {
 public:
  explicit CupsPrinter(std::string name) : name_(std::move(name)) {}

  const std::string& name() const override { return name_; }

  JobSettings defaults() override {
    JobSettings s;
    Dests ds;
    const cups_dest_t* d = find_dest(ds, name_);
    if (d == nullptr) return s;
    // The destination's default media: its "media" option when that names
    // a known paper, else the default of its media database.
    int32_t code = 0;
    if (const char* media = cupsGetOption("media", d->num_options, d->options))
      code = paper_code_for_media(media);
    if (code == 0) {
      if (cups_dinfo_t* info = cupsCopyDestInfo(CUPS_HTTP_DEFAULT, const_cast<cups_dest_t*>(d))) {
        cups_size_t size{};
        if (cupsGetDestMediaDefault(CUPS_HTTP_DEFAULT, const_cast<cups_dest_t*>(d), info,
                                    CUPS_MEDIA_FLAGS_DEFAULT, &size) != 0)
          code = paper_code_for_media(size.media);
        cupsFreeDestInfo(info);
      }
    }
    if (const PaperSize* p = paper_by_code(code)) {
      s.paper_size = code;
      s.paper_width = mm_to_twips(p->width_mm);
      s.paper_height = mm_to_twips(p->height_mm);
    }
    if (const char* sides = cupsGetOption("sides", d->num_options, d->options)) {
      const std::string v = sides;
      s.duplex = v == "two-sided-long-edge" ? 2 : v == "two-sided-short-edge" ? 3 : 1;
    }
    if (const char* copies = cupsGetOption("copies", d->num_options, d->options)) {
      const int n = std::atoi(copies);
      if (n > 0) s.copies = n;
    }
    return s;
  }

  Margins margins(const JobSettings& s) override {
    Margins m;
    Dests ds;
    cups_dest_t* d = find_dest(ds, name_);
    if (d == nullptr) return m;
    cups_dinfo_t* info = cupsCopyDestInfo(CUPS_HTTP_DEFAULT, d);
    if (info == nullptr) return m;
    cups_size_t size{};
    int found = 0;
    if (const PaperSize* p = paper_by_code(s.paper_size))
      found = cupsGetDestMediaByName(CUPS_HTTP_DEFAULT, d, info, p->media, CUPS_MEDIA_FLAGS_DEFAULT,
                                     &size);
    if (found == 0)
      found = cupsGetDestMediaBySize(CUPS_HTTP_DEFAULT, d, info,
                                     static_cast<int>(twips_to_mm(s.paper_width) * 100 + 0.5),
                                     static_cast<int>(twips_to_mm(s.paper_height) * 100 + 0.5),
                                     CUPS_MEDIA_FLAGS_DEFAULT, &size);
    if (found == 0)
      found = cupsGetDestMediaDefault(CUPS_HTTP_DEFAULT, d, info, CUPS_MEDIA_FLAGS_DEFAULT, &size);
    cupsFreeDestInfo(info);
    if (found == 0) return m;
    // cups_size_t margins are in hundredths of a millimetre; a landscape
    // sheet turns the portrait top band to the left.
    const double left = size.left / 100.0;
    const double top = size.top / 100.0;
    m.left = s.orientation == 2 ? top : left;
    m.top = s.orientation == 2 ? left : top;
    return m;
  }

  raster::Status spool_file(std::string& path) override {
    const char* tmp = std::getenv("TMPDIR");
    std::string tmpl =
        std::string(tmp != nullptr && *tmp != '\0' ? tmp : "/tmp") + "/korvex-print-XXXXXX";
    const int fd = ::mkstemp(tmpl.data());
    if (fd < 0) return raster::Status::Win32Error;
    ::close(fd);
    path = tmpl;
    return raster::Status::Ok;
  }

  raster::Status submit(const std::string& path, const std::string& title,
                        const JobSettings& s) override {
    const raster::Status st = send(path, title, s);
    ::unlink(path.c_str());
    return st;
  }

  std::string last_job() const override { return job_ == 0 ? "" : std::to_string(job_); }

 private:
  raster::Status send(const std::string& path, const std::string& title, const JobSettings& s) {
    job_ = 0;
    {
      // A stopped queue or one that refuses jobs would hold the job forever.
      Dests ds;
      const cups_dest_t* d = find_dest(ds, name_);
      if (d == nullptr) return raster::Status::Win32Error;
      const char* state = cupsGetOption("printer-state", d->num_options, d->options);
      const char* accepting =
          cupsGetOption("printer-is-accepting-jobs", d->num_options, d->options);
      if ((state != nullptr && std::atoi(state) == IPP_PSTATE_STOPPED) ||
          (accepting != nullptr && std::string(accepting) == "false"))
        return raster::Status::Win32Error;
    }
    cups_option_t* options = nullptr;
    int n = 0;
    n = cupsAddOption("copies", std::to_string(s.copies < 1 ? 1 : s.copies).c_str(), n, &options);
    n = cupsAddOption("media", media_of(s).c_str(), n, &options);
    n = cupsAddOption("sides", sides_of(s.duplex), n, &options);
    n = cupsAddOption("print-color-mode", s.color_mode == 1 ? "monochrome" : "color", n, &options);
    if (const char* src = source_of(s.paper_bin))
      n = cupsAddOption("media-source", src, n, &options);
    if (s.quality > 0) {
      n = cupsAddOption("printer-resolution", (std::to_string(s.quality) + "dpi").c_str(), n,
                        &options);
    } else if (s.quality < 0) {
      // draft and low: 3, medium: 4, high: 5
      const char* q = s.quality >= -2 ? "3" : s.quality == -3 ? "4" : "5";
      n = cupsAddOption("print-quality", q, n, &options);
    }
    const std::string printer = name_.substr(0, name_.find('/'));
    job_ =
        cupsPrintFile2(CUPS_HTTP_DEFAULT, printer.c_str(), path.c_str(), title.c_str(), n, options);
    cupsFreeOptions(n, options);
    if (job_ == 0) return raster::Status::Win32Error;
    return wait_for_job(printer);
  }

  // The job's state from the scheduler; 0 when it keeps no record of the
  // job (a server without job history forgets finished jobs); -1 when the
  // scheduler cannot be asked.
  int job_state(const std::string& printer) const {
    ipp_t* req = ippNewRequest(IPP_OP_GET_JOB_ATTRIBUTES);
    char uri[HTTP_MAX_URI];
    httpAssembleURIf(HTTP_URI_CODING_ALL, uri, sizeof uri, "ipp", nullptr, "localhost", 0,
                     "/printers/%s", printer.c_str());
    ippAddString(req, IPP_TAG_OPERATION, IPP_TAG_URI, "printer-uri", nullptr, uri);
    ippAddInteger(req, IPP_TAG_OPERATION, IPP_TAG_INTEGER, "job-id", job_);
    ippAddString(req, IPP_TAG_OPERATION, IPP_TAG_NAME, "requesting-user-name", nullptr, cupsUser());
    static const char* const kWanted[] = {"job-state"};
    ippAddStrings(req, IPP_TAG_OPERATION, IPP_TAG_KEYWORD, "requested-attributes", 1, nullptr,
                  kWanted);
    ipp_t* resp = cupsDoRequest(CUPS_HTTP_DEFAULT, req, "/");
    int state = -1;
    if (cupsLastError() == IPP_STATUS_ERROR_NOT_FOUND) {
      state = 0;
    } else if (resp != nullptr && cupsLastError() <= IPP_STATUS_OK_CONFLICTING) {
      ipp_attribute_t* a = ippFindAttribute(resp, "job-state", IPP_TAG_ENUM);
      if (a != nullptr) state = ippGetInteger(a, 0);
    }
    ippDelete(resp);
    return state;
  }

  // Follows the job until the scheduler has finished it: completed is Ok
  // (and so is a job the scheduler no longer knows); stopped, cancelled or
  // aborted is Aborted; a job still waiting when the time runs out is
  // cancelled, so it cannot print after its failure was reported.
  raster::Status wait_for_job(const std::string& printer) {
    const auto deadline = std::chrono::steady_clock::now() + wait_limit();
    for (auto pause = std::chrono::milliseconds(5);;
         pause = std::min(pause * 2, std::chrono::milliseconds(200))) {
      const int state = job_state(printer);
      if (state < 0) return raster::Status::Win32Error;
      if (state == 0 || state == IPP_JSTATE_COMPLETED) return raster::Status::Ok;
      if (state == IPP_JSTATE_STOPPED || state == IPP_JSTATE_CANCELED ||
          state == IPP_JSTATE_ABORTED)
        return raster::Status::Aborted;
      if (std::chrono::steady_clock::now() >= deadline) {
        cupsCancelJob2(CUPS_HTTP_DEFAULT, printer.c_str(), job_, 0);
        return raster::Status::Aborted;
      }
      std::this_thread::sleep_for(pause);
    }
  }

  // How long a job may take to leave the queue: KORVEX_PRINT_TIMEOUT
  // seconds, 120 by default.
  static std::chrono::milliseconds wait_limit() {
    if (const char* v = std::getenv("KORVEX_PRINT_TIMEOUT")) {
      const double sec = std::atof(v);
      if (sec > 0) return std::chrono::milliseconds(static_cast<int64_t>(sec * 1000));
    }
    return std::chrono::seconds(120);
  }

  std::string name_;
  int job_ = 0;
};

// The library's functions of backend.h load this module and call these
// (other names, so the module's calls never bind to the library's).
std::vector<std::string> destination_names() {
  std::vector<std::string> names;
  Dests ds;
  for (int i = 0; i < ds.count; ++i) names.push_back(dest_name(ds.list[i]));
  return names;
}

std::string default_destination() {
  Dests ds;
  for (int i = 0; i < ds.count; ++i)
    if (ds.list[i].is_default) return dest_name(ds.list[i]);
  return "";
}

std::unique_ptr<PrinterBackend> open_destination(const std::string& name) {
  Dests ds;
  if (find_dest(ds, name) == nullptr) return nullptr;
  return std::make_unique<CupsPrinter>(name);
}

}  // namespace

}  // namespace korvex::print

const korvex::print::CupsModule* korvex_print_module() {
  using namespace korvex::print;
  static const CupsModule table{kCupsModuleVersion, &destination_names, &default_destination,
                                &open_destination};
  return &table;
}
