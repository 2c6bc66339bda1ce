// cPrinter: printer choice, job settings and print jobs of one engine (or
// viewer). Printers are the built-in "Korvex PDF" printer, listed first, and
// the CUPS destinations. Geometry is in millimetres; the paper is kept in
// twips (1440 per inch) as printer settings are.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "print/backend.h"
#include "print/layout.h"
#include "raster/types.h"

namespace korvex::raster {
class Image;
}

namespace korvex::print {

class cPrinter {
 public:
  cPrinter();
  ~cPrinter();
  cPrinter(const cPrinter&) = delete;
  cPrinter& operator=(const cPrinter&) = delete;

  // Printers: the built-in one first, then the CUPS destinations.
  std::vector<std::string> printer_names() const;
  // Makes the printer of that name active, with its own default settings;
  // false (the active printer unchanged) when no printer has that name.
  bool set_active_printer(const std::string& name);
  const std::string& active_printer() const { return backend_->name(); }

  // Settings of the active printer (see JobSettings for the values). The
  // setters ignore values out of range.
  void set_std_paper_size(int32_t code);
  void set_user_paper_size(double width_mm, double height_mm);
  int32_t paper_size() const { return settings_.paper_size; }
  // Paper width and height in millimetres, as the sheet lies (landscape turns it).
  double paper_width_mm() const;
  double paper_height_mm() const;
  void set_orientation(int32_t v);
  int32_t orientation() const { return settings_.orientation; }
  void set_duplex(int32_t v);
  int32_t duplex() const { return settings_.duplex; }
  void set_copies(int32_t v);
  int32_t copies() const { return settings_.copies; }
  void set_quality(int32_t v);
  int32_t quality() const { return settings_.quality; }
  void set_color_mode(int32_t v);
  int32_t color_mode() const { return settings_.color_mode; }
  void set_paper_bin(int32_t v);
  int32_t paper_bin() const { return settings_.paper_bin; }
  Margins margins();

  // Job fields.
  void set_page_range(int32_t first, int32_t last);
  void set_alignment(int32_t v);
  int32_t alignment() const { return alignment_; }
  std::string document_name = "Print Process";
  // Measures images at these resolutions instead of their own.
  void set_resolution_override(bool on, int32_t dpi_x, int32_t dpi_y);

  // Folder the built-in printer writes into ("" = the default folder).
  void set_output_folder(const std::string& folder);
  std::string output_folder() const { return folder_.empty() ? default_output_folder() : folder_; }
  // What the last job became on its printer: the built-in printer's file,
  // or the CUPS job id; "" before any.
  std::string last_job() const { return backend_->last_job(); }

  // Prints an image (identifier of this thread): a TIFF prints its page
  // range, one sheet per page; others one sheet. `rect` is the position and
  // size for Placement::BySize. Returns and keeps the job's status.
  raster::Status print(int32_t image, Placement placement, const RectMM& rect = {});
  raster::Status status() const { return status_; }

  // Viewer printing: while marked, print() takes the id of a document of the
  // PDF rendering calls instead of an image, and prints its page range, each
  // page rendered at the override resolution (150 dpi without one).
  void set_pdf_source(bool on) { pdf_source_ = on; }
  bool pdf_source() const { return pdf_source_; }

 private:
  // Gives page n's image (valid until the next call) or a failure status.
  using PageSource = std::function<raster::Status(int32_t page, raster::Image*& image)>;
  raster::Status run_job(int32_t image, Placement placement, const RectMM& rect);
  raster::Status run_pdf_job(int32_t document, Placement placement, const RectMM& rect);
  // Pages `pages` long (1 for a single image): the range to print, as the job rules say.
  void page_range(int32_t pages, int32_t& first, int32_t& last) const;
  // One job of pages first..last, one sheet each, then the spool file goes to the printer.
  raster::Status run_pages(int32_t first, int32_t last, const PageSource& page_at,
                           Placement placement, const RectMM& rect);

  std::unique_ptr<PrinterBackend> backend_;
  JobSettings settings_;
  std::string folder_;
  int32_t alignment_ = 0;
  int32_t first_page_ = 1;
  int32_t last_page_ = 1;
  bool range_set_ = false;
  bool resolution_override_ = false;
  int32_t override_dpi_x_ = 0;
  int32_t override_dpi_y_ = 0;
  raster::Status status_ = raster::Status::Ok;
  bool pdf_source_ = false;
};

}  // namespace korvex::print
