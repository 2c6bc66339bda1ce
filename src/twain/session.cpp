// Source manager and sources: SANE's library and its devices, with TWAIN's
// state numbers and codes.
#include <sane/saneopts.h>

#include <algorithm>
#include <cstring>
#include <string>

#include "twain/session.h"

namespace korvex::twain {

namespace {

void copy_text(const std::string& s, TextBuffer& out) {
  const size_t n = std::min(s.size(), kTextSize - 1);
  std::memcpy(out, s.data(), n);
  out[n] = '\0';
}

std::string trimmed(const char* name) {
  std::string s = name == nullptr ? "" : name;
  const size_t b = s.find_first_not_of(" \t");
  if (b == std::string::npos) return "";
  return s.substr(b, s.find_last_not_of(" \t") - b + 1);
}

// Lists the devices once the source manager is open; at most kMaxSources.
void list_sources(Session& s) {
  s.names.clear();
  s.devices.clear();
  const SANE_Device** list = nullptr;
  if (sane_get_devices(&list, SANE_TRUE) != SANE_STATUS_GOOD || list == nullptr) return;
  for (int32_t i = 0; list[i] != nullptr && i < kMaxSources; ++i) {
    const SANE_Device* d = list[i];
    if (d->name == nullptr) continue;
    s.devices.emplace_back(d->name);
    s.names.push_back(std::string(d->vendor ? d->vendor : "") + " " + (d->model ? d->model : "") +
                      " (" + d->name + ")");
  }
  if (s.default_source >= static_cast<int32_t>(s.names.size())) s.default_source = 0;
}

// Remembers the layout the device opened with, for ResetImageLayout.
void remember_layout(Session& s) {
  static const char* const kNames[4] = {SANE_NAME_SCAN_TL_X, SANE_NAME_SCAN_TL_Y,
                                        SANE_NAME_SCAN_BR_X, SANE_NAME_SCAN_BR_Y};
  s.has_layout_default = true;
  for (int i = 0; i < 4; ++i) s.has_layout_default &= get_number(kNames[i], s.layout_default[i]);
}

bool open_index(Session& s, int32_t index) {
  if (s.state < 3 && !KXTWAIN_OpenSourceManager(0)) return false;
  if (s.state >= 4) return finish(kFailure, kSeqError);
  if (index < 0 || index >= static_cast<int32_t>(s.devices.size()))
    return finish(kFailure, kNoDataSource);
  const SANE_Status st = sane_open(s.devices[static_cast<size_t>(index)].c_str(), &s.handle);
  if (st != SANE_STATUS_GOOD) {
    s.handle = nullptr;
    return finish(kFailure, condition_of(st));
  }
  s.current = index;
  s.state = 4;
  s.xfer_count = -1;
  s.xfers_done = 0;
  s.feeder_empty = false;
  remember_layout(s);
  return finish(kSuccess, kCcSuccess);
}

}  // namespace

Session& session() {
  static Session s;
  return s;
}

bool finish(int32_t result, int32_t condition) {
  Session& s = session();
  s.result = result;
  s.condition = condition;
  return result == kSuccess || result == kCheckStatus || result == kXferDone;
}

int32_t condition_of(SANE_Status st) {
  switch (st) {
    case SANE_STATUS_GOOD:
      return kCcSuccess;
    case SANE_STATUS_UNSUPPORTED:
      return kCapUnsupported;
    case SANE_STATUS_INVAL:
      return kBadValue;
    case SANE_STATUS_JAMMED:
      return kPaperJam;
    case SANE_STATUS_NO_DOCS:
      return kNoMedia;
    case SANE_STATUS_COVER_OPEN:
      return kCheckDeviceOnline;
    case SANE_STATUS_IO_ERROR:
      return kOperationError;
    case SANE_STATUS_NO_MEM:
      return kLowMemory;
    case SANE_STATUS_ACCESS_DENIED:
      return kDenied;
    default:
      return kBummer;
  }
}

void cancel_scan(SANE_Handle h, const ReaderThreads& readers, std::chrono::milliseconds limit) {
  (void)readers.await(true, limit);
  const HeldPipes held(readers.duplicate_pipes(), limit);
  sane_cancel(h);
}

void end_batch() {
  Session& s = session();
  if (s.state >= 5 && s.handle != nullptr) cancel_scan(s.handle, s.readers);
  s.readers.clear();
  if (s.state >= 5) s.state = 4;
  s.xfers_done = 0;
}

int32_t KXTWAIN_GetVersion() {
  return session().reported_version;
}
void SetReportedVersionForTest(int32_t version) {
  session().reported_version = version == 0 ? kVersion : version;
}
int32_t KXTWAIN_State() {
  return session().state;
}

bool KXTWAIN_IsAvailable() {
  // The source manager can be loaded: SANE's library is linked in.
  return true;
}

bool KXTWAIN_OpenSourceManager(int32_t) {
  Session& s = session();
  if (s.state >= 3) return finish(kSuccess, kCcSuccess);
  SANE_Int version = 0;
  const SANE_Status st = sane_init(&version, nullptr);
  if (st != SANE_STATUS_GOOD) return finish(kFailure, condition_of(st));
  s.state = 3;
  list_sources(s);
  return finish(kSuccess, kCcSuccess);
}

bool KXTWAIN_CloseSourceManager(int32_t) {
  Session& s = session();
  if (s.state >= 4) return finish(kFailure, kSeqError);
  if (s.state == 3) {
    sane_exit();
    s.state = 2;
  }
  return finish(kSuccess, kCcSuccess);
}

bool KXTWAIN_UnloadSourceManager() {
  Session& s = session();
  if (s.state >= 4) KXTWAIN_CloseSource();
  if (s.state == 3) KXTWAIN_CloseSourceManager(0);
  s.state = 1;
  return finish(kSuccess, kCcSuccess);
}

bool KXTWAIN_SelectImageSource(int32_t) {
  Session& s = session();
  if (s.state < 3 && !KXTWAIN_OpenSourceManager(0)) return false;
  list_sources(s);
  if (s.names.empty()) return finish(kFailure, kNoDataSource);
  s.default_source = 0;
  return finish(kSuccess, kCcSuccess);
}

bool KXTWAIN_OpenDefaultSource() {
  Session& s = session();
  if (s.state < 3 && !KXTWAIN_OpenSourceManager(0)) return false;
  return open_index(s, s.default_source);
}

bool KXTWAIN_OpenSource(const char* name) {
  Session& s = session();
  if (s.state < 3 && !KXTWAIN_OpenSourceManager(0)) return false;
  const std::string want = trimmed(name);
  for (size_t i = 0; i < s.names.size(); ++i) {
    if (s.names[i] == want || s.devices[i] == want) return open_index(s, static_cast<int32_t>(i));
  }
  return finish(kFailure, kNoDataSource);
}

bool KXTWAIN_CloseSource() {
  Session& s = session();
  if (s.state < 4) return finish(kFailure, kSeqError);
  end_batch();
  sane_close(s.handle);
  s.handle = nullptr;
  s.current = -1;
  s.state = 3;
  return finish(kSuccess, kCcSuccess);
}

bool KXTWAIN_DisableSource() {
  Session& s = session();
  if (s.state < 5) return finish(kFailure, kSeqError);
  end_batch();
  return finish(kSuccess, kCcSuccess);
}

bool KXTWAIN_SourceSetup(int32_t) {
  return finish(kFailure, session().state >= 4 ? kBadValue : kSeqError);
}

bool KXTWAIN_GetFirstSourceName(TextBuffer& name) {
  Session& s = session();
  s.next_name = 0;
  return KXTWAIN_GetNextSourceName(name);
}

bool KXTWAIN_GetNextSourceName(TextBuffer& name) {
  Session& s = session();
  name[0] = '\0';
  if (s.state < 3) return finish(kFailure, kSeqError);
  if (s.next_name >= s.names.size()) return finish(kFailure, kNoDataSource);
  copy_text(s.names[s.next_name++], name);
  return finish(kSuccess, kCcSuccess);
}

bool KXTWAIN_GetDefaultSourceName(TextBuffer& name) {
  Session& s = session();
  name[0] = '\0';
  if (s.state < 3) return finish(kFailure, kSeqError);
  if (s.names.empty()) return finish(kFailure, kNoDataSource);
  copy_text(s.names[static_cast<size_t>(s.default_source)], name);
  return finish(kSuccess, kCcSuccess);
}

bool KXTWAIN_GetCurrentSourceName(TextBuffer& name) {
  Session& s = session();
  name[0] = '\0';
  if (s.state < 4) return finish(kFailure, kSeqError);
  copy_text(s.names[static_cast<size_t>(s.current)], name);
  return finish(kSuccess, kCcSuccess);
}

int32_t KXTWAIN_GetLastResultCode() {
  return session().result;
}
int32_t KXTWAIN_GetLastConditionCode() {
  return session().condition;
}
void KXTWAIN_SetShowError(bool on) {
  session().show_error = on;
}
void KXTWAIN_SetDebugMode(bool on) {
  session().debug = on;
}
bool KXTWAIN_GetHideUI() {
  return session().hide_ui;
}
void KXTWAIN_SetHideUI(bool on) {
  session().hide_ui = on;
}
void SetReadTimeout(int32_t ms) {
  session().read_timeout_ms = ms > 0 ? ms : 30000;
}
void SetProgress(std::function<bool(uint64_t, uint64_t)> progress) {
  session().progress = std::move(progress);
}

}  // namespace korvex::twain
