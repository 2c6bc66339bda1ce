// The printer back-end interface: a destination that takes finished print
// jobs (PDF files, one sheet per page) with the job settings of cPrinter.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "raster/types.h"

namespace korvex::print {

// Job settings, with the numeric values of the printer settings they stand
// for (paper codes, bin codes, quality codes or dpi).
struct JobSettings {
  int32_t paper_size = 9;       // paper code 1..41, or kUserPaperCode
  int32_t paper_width = 11906;  // portrait paper size in twips
  int32_t paper_height = 16838;
  int32_t orientation = 1;  // 1 portrait, 2 landscape
  int32_t duplex = 1;       // 1 simplex, 2 long-edge binding, 3 short-edge binding
  int32_t copies = 1;
  int32_t quality = -4;    // -1 draft, -2 low, -3 medium, -4 high, or dpi
  int32_t color_mode = 2;  // 1 monochrome, 2 colour
  int32_t paper_bin = 7;   // 7 automatic selection
};

// Unprintable bands of a destination for a paper, in millimetres.
struct Margins {
  double left = 0;
  double top = 0;
};

class PrinterBackend {
 public:
  virtual ~PrinterBackend() = default;
  virtual const std::string& name() const = 0;
  // The destination's own defaults (paper, copies, duplex ...).
  virtual JobSettings defaults() = 0;
  // Unprintable left and top bands for the settings' paper and orientation.
  virtual Margins margins(const JobSettings& settings) = 0;
  // A new empty file to render a job into (created, so its name is taken).
  virtual raster::Status spool_file(std::string& path) = 0;
  // Hands a rendered job over; the spool file is consumed (moved or deleted)
  // whatever the outcome. Ok only once the job is done.
  virtual raster::Status submit(const std::string& path, const std::string& title,
                                const JobSettings& settings) = 0;
  // What the last submitted job became: the file the built-in printer wrote,
  // or the CUPS job id in decimal; "" before any.
  virtual std::string last_job() const = 0;
};

// The built-in printer: every job becomes a PDF file in a folder.
inline constexpr const char* kPdfPrinterName = "Korvex PDF";

std::unique_ptr<PrinterBackend> make_pdf_printer(const std::string& folder);
// The folder of the built-in printer by default: the user's documents
// folder when it exists, else the current folder.
std::string default_output_folder();

// The CUPS destinations, by name (instances as "name/instance").
std::vector<std::string> cups_printer_names();
// The CUPS default destination, "" when there is none.
std::string cups_default_printer();
// A CUPS destination by name, or null when the server does not list it.
std::unique_ptr<PrinterBackend> make_cups_printer(const std::string& name);

}  // namespace korvex::print
