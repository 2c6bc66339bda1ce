// The TWAIN-shaped acquisition library over SANE. The source manager is
// libsane, sources are its devices (named "vendor model (device)"),
// capabilities are mapped onto the devices' options, and a native transfer
// reads one page into a packed DIB in a global-memory block. States, item
// types, capability numbers, result and condition codes are TWAIN's own.
//
// One session per process, as with a source manager: the functions may be
// called from any thread but not from two at once (SANE backends are not
// reentrant). Text buffers are kTextSize bytes and always NUL-terminated.
#pragma once

#include <cstdint>
#include <functional>

namespace korvex::twain {

inline constexpr int32_t kVersion = 330;
inline constexpr size_t kTextSize = 256;
using TextBuffer = char[kTextSize];
// Bounds on what a backend can hand us: devices listed, values of one
// capability kept for GetCapValueFromIdx.
inline constexpr int32_t kMaxSources = 256;
inline constexpr int32_t kMaxCapValues = 4096;

// Result codes (TWRC_...) and condition codes (TWCC_...).
enum Result : int32_t { kSuccess = 0, kFailure = 1, kCheckStatus = 2, kCancel = 3, kXferDone = 6 };
enum Condition : int32_t {
  kCcSuccess = 0,
  kBummer = 1,
  kLowMemory = 2,
  kNoDataSource = 3,
  kOperationError = 5,
  kBadCap = 6,
  kBadValue = 10,
  kSeqError = 11,
  kCapUnsupported = 13,
  kDenied = 16,
  kPaperJam = 20,
  kCheckDeviceOnline = 23,
  kNoMedia = 28
};
// Item types (TWTY_...).
enum ItemType : int32_t { kInt16 = 1, kInt32 = 2, kUint16 = 4, kUint32 = 5, kBool = 6, kFix32 = 7 };
// Capabilities mapped onto device options.
enum Cap : int32_t {
  kXferCount = 1,
  kPixelType = 257,
  kUnits = 264,
  kXferMech = 259,
  kFeederEnabled = 4098,
  kFeederLoaded = 4099,
  kAutoFeed = 4103,
  kIndicators = 4107,
  kUiControllable = 4110,
  kDuplexEnabled = 4115,
  kCameraPreviewUI = 4129,
  kAutoScan = 4138,
  kBrightness = 4353,
  kContrast = 4355,
  kPhysicalWidth = 4369,
  kPhysicalHeight = 4370,
  kXResolution = 4376,
  kYResolution = 4377,
  kPixelFlavor = 4383,
  kPlanarChunky = 4384,
  kSupportedSizes = 4386,
  kThreshold = 4387,
  kBitDepth = 4395,
  kBorderDetection = 4432,
  kDeskew = 4433,
  kAutoRotate = 4434
};
// LoadCapValuesN modes: every value the source offers, the current one, the
// default one.
inline constexpr int32_t kGetValues = 1, kGetCurrent = 2, kGetDefault = 3;

int32_t KXTWAIN_GetVersion();
int32_t KXTWAIN_State();
bool KXTWAIN_IsAvailable();
bool KXTWAIN_OpenSourceManager(int32_t window);
bool KXTWAIN_CloseSourceManager(int32_t window);
bool KXTWAIN_UnloadSourceManager();
// Headless: makes the first source the default one (true when there is one).
bool KXTWAIN_SelectImageSource(int32_t window);
bool KXTWAIN_OpenDefaultSource();
// By its "vendor model (device)" name or by its device name alone.
bool KXTWAIN_OpenSource(const char* name);
bool KXTWAIN_CloseSource();
bool KXTWAIN_DisableSource();
// There is no settings dialog here: false, with kBadValue when a source is
// open and kSeqError when none is.
bool KXTWAIN_SourceSetup(int32_t window);
bool KXTWAIN_GetFirstSourceName(TextBuffer& name);
bool KXTWAIN_GetNextSourceName(TextBuffer& name);
bool KXTWAIN_GetDefaultSourceName(TextBuffer& name);
bool KXTWAIN_GetCurrentSourceName(TextBuffer& name);

// One page as a packed DIB (1-bit, 8-bit gray or 24-bit colour), or 0 with
// the result and condition codes set. With the feeder or multiple transfers
// on, the batch stays open (state 6) and the next call reads the next page;
// an empty feeder gives 0 with kNoMedia.
int32_t KXTWAIN_AcquireNative(int32_t window);
bool KXTWAIN_FreeNative(int32_t dib);
bool KXTWAIN_EndXfer();
bool KXTWAIN_AbortAllPendingXfers();
// -1 = as many as the source has, else 1..32767.
bool KXTWAIN_NegotiateXferCount(int32_t n);
void KXTWAIN_SetMultiTransfer(bool on);

int32_t KXTWAIN_LoadCapValuesN(int32_t cap, int32_t mode);
double KXTWAIN_GetCapValueFromIdx(int32_t index);
int32_t KXTWAIN_GetCapItemType(int32_t cap);
bool KXTWAIN_SetCapOneValue(int32_t cap, int32_t item_type, int32_t value);
// TW_FIX32 packed as a 32-bit integer: Whole in the low half, Frac above.
int32_t KXTWAIN_ToFix32(double value);
double KXTWAIN_FromFix32(int32_t fix);

bool KXTWAIN_SetCurrentUnits(int32_t units);
int32_t KXTWAIN_GetPixelType();
bool KXTWAIN_SetCurrentPixelType(int32_t type);
int32_t KXTWAIN_GetBitDepth();
bool KXTWAIN_SetBitDepth(int32_t depth);
double KXTWAIN_GetCurrentResolution();
bool KXTWAIN_SetCurrentResolution(double dpi);
double KXTWAIN_GetBrightness();
bool KXTWAIN_SetBrightness(double value);
double KXTWAIN_GetContrast();
bool KXTWAIN_SetContrast(double value);
bool KXTWAIN_SetAutoBright(bool on);
double KXTWAIN_GetPhysicalWidth();
double KXTWAIN_GetPhysicalHeight();
int32_t KXTWAIN_GetPaperSize();
bool KXTWAIN_SetPaperSize(int32_t size);
bool KXTWAIN_SetImageLayout(double left, double top, double right, double bottom);
bool KXTWAIN_ResetImageLayout();
bool KXTWAIN_SetAutoFeed(bool on);
bool KXTWAIN_SetAutoScan(bool on);
bool KXTWAIN_EnableDuplex(bool on);
int32_t KXTWAIN_GetDuplexMode();
bool KXTWAIN_SetIndicators(bool on);
bool KXTWAIN_GetHideUI();
void KXTWAIN_SetHideUI(bool on);
bool KXTWAIN_AutomaticBorderDetection(bool on);
bool KXTWAIN_AutomaticDeskew(bool on);
bool KXTWAIN_AutomaticRotate(bool on);
void KXTWAIN_SetShowError(bool on);
void KXTWAIN_SetDebugMode(bool on);
int32_t KXTWAIN_GetLastResultCode();
int32_t KXTWAIN_GetLastConditionCode();

// Transfer control beyond the TWAIN calls. A read that brings no bytes for
// `ms` milliseconds cancels the page (kOperationError); 30 s by default.
void SetReadTimeout(int32_t ms);
// Called after every read with the bytes read and the page's announced
// size; returning false cancels the page (kCancel), leaving the source open.
void SetProgress(std::function<bool(uint64_t done, uint64_t total)> progress);
// The version GetVersion reports, for checks of the callers' version guard
// (0 restores kVersion).
void SetReportedVersionForTest(int32_t version);

}  // namespace korvex::twain
