// The CUPS destinations live in a module of their own (korvex_print.so,
// linked to libcups), loaded by the first call below: a process that never
// lists or uses a printer never maps libcups and the TLS, Kerberos and
// Avahi libraries under it. Without the module (or libcups) there are no
// CUPS destinations, only the built-in printer.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "print/backend.h"

namespace korvex::print {

// What korvex_print.so exports, through its entry korvex_print_module().
struct CupsModule {
  uint32_t version;
  std::vector<std::string> (*printer_names)();
  std::string (*default_printer)();
  std::unique_ptr<PrinterBackend> (*make_printer)(const std::string& name);
};
inline constexpr uint32_t kCupsModuleVersion = 1;
inline constexpr const char* kCupsModuleFile = "korvex_print.so";

}  // namespace korvex::print

extern "C" const korvex::print::CupsModule* korvex_print_module();
