// The library's session: the source manager state, the open device and the
// last result and condition codes, shared by the source, capability and
// transfer files.
#pragma once

#include <sane/sane.h>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "twain/kxtwain.h"
#include "twain/readers.h"

namespace korvex::twain {

struct Session {
  int32_t state = 1;
  int32_t result = kSuccess;
  int32_t condition = kCcSuccess;
  int32_t reported_version = kVersion;
  std::vector<std::string> names;    // "vendor model (device)", bounded walk
  std::vector<std::string> devices;  // the matching device names
  size_t next_name = 0;
  int32_t default_source = 0;
  SANE_Handle handle = nullptr;
  int32_t current = -1;  // index into names
  // Settings kept by the library itself.
  int32_t units = 0;  // 0 inches, 1 cm, 2 picas, 3 points, 4 twips, 5 pixels
  bool auto_feed = false, auto_scan = false, auto_bright = false;
  bool indicators = true, hide_ui = false, show_error = false, debug = false;
  bool multi_transfer = false;
  int32_t xfer_count = -1;
  int32_t xfers_done = 0;
  bool feeder_empty = false;
  double layout_default[4] = {0, 0, 0, 0};  // tl-x, tl-y, br-x, br-y in option units
  bool has_layout_default = false;
  std::vector<double> values;  // of the last LoadCapValuesN
  int32_t read_timeout_ms = 30000;
  std::function<bool(uint64_t, uint64_t)> progress;
  ReaderThreads readers;  // of the scan in progress
};

Session& session();

// Records the codes of a call and returns whether it succeeded.
bool finish(int32_t result, int32_t condition);
// The TWAIN condition code of a SANE status.
int32_t condition_of(SANE_Status st);

// The open device's option of this name: its number and descriptor, or -1.
int32_t find_option(const char* name, const SANE_Option_Descriptor** desc);
// Reads or writes a numeric option (FIXED, INT or BOOL) as a double.
bool get_number(const char* name, double& out);
bool set_number(const char* name, double v);
bool get_text(const char* name, std::string& out);
bool set_text(const char* name, const std::string& v);
// Every value of a numeric option's constraint (ranges expanded by their
// step when that stays within kMaxCapValues, else their two ends).
bool number_values(const char* name, std::vector<double>& out);
std::vector<std::string> text_values(const char* name);

// Cancels the scan in progress once its readers have settled (see readers.h),
// or as they are when they have not within the limit.
void cancel_scan(SANE_Handle h, const ReaderThreads& readers,
                 std::chrono::milliseconds limit = kReaderSettleLimit);
// Ends any scan in progress and goes back to state 4.
void end_batch();

}  // namespace korvex::twain
