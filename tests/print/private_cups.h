// A private cupsd for the printing tests: its own root under the temporary
// folder, a Unix socket, and two queues writing to files: "kx-pass" (the
// submitted PDF byte for byte) and "kx-generic" (Debian's Generic PDF PPD
// and its real filter chain). Started once per test process, before any
// libcups call reads CUPS_SERVER, and stopped by its PID at exit.
#pragma once

#include <string>

namespace korvex::testutil {

struct PrivateCups {
  bool running = false;
  std::string why_not;  // reason when not running
  std::string root;
  int pid = 0;
  // Output files of the two queues.
  std::string pass_output() const { return root + "/out/kx-pass.pdf"; }
  std::string generic_output() const { return root + "/out/kx-generic.pdf"; }
  // Runs a CUPS command-line tool against this server; its exit status.
  int tool(const std::string& args) const;
};

// The process's private server (started on first use).
const PrivateCups& private_cups();

}  // namespace korvex::testutil
