// The CUPS functions of backend.h, through korvex_print.so loaded on first use.
#include "print/cups_module.h"
#include "raster/service_module.h"

namespace korvex::print {

namespace {

const CupsModule* cups() {
  static const CupsModule* const table = raster::service_table<CupsModule>(
      kCupsModuleFile, "korvex_print_module", kCupsModuleVersion);
  return table;
}

}  // namespace

std::vector<std::string> cups_printer_names() {
  const CupsModule* m = cups();
  return m != nullptr ? m->printer_names() : std::vector<std::string>{};
}

std::string cups_default_printer() {
  const CupsModule* m = cups();
  return m != nullptr ? m->default_printer() : std::string();
}

std::unique_ptr<PrinterBackend> make_cups_printer(const std::string& name) {
  const CupsModule* m = cups();
  return m != nullptr ? m->make_printer(name) : nullptr;
}

}  // namespace korvex::print
