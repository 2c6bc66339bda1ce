// Scanning members: thin wrappers over the TWAIN-shaped library of
// src/twain (version check, state guard of the getters, booleans passed as
// 1 or 0), and the acquired packed DIB turned into an engine image.
#include <cmath>
#include <string>

#include "engine/core.h"
#include "engine/source_pair.h"
#include "engine/state.h"
#include "korvex/engine.h"
#include "twain/kxtwain.h"

namespace korvex {

namespace {

namespace tw = twain;

constexpr int32_t kMinimumVersion = 325;

// The library must be at least version 325; otherwise the member fails
// with WrongKxTwainVersion.
bool version_ok(cKorvex::State& s) {
  if (tw::KXTWAIN_GetVersion() >= kMinimumVersion) return true;
  s.LastStatus = cKorvexStatus::WrongKxTwainVersion;
  return false;
}

// Getters of current values answer only with a source open.
bool source_open() {
  return tw::KXTWAIN_State() >= 4;
}

std::string text(bool (*get)(tw::TextBuffer&)) {
  tw::TextBuffer buf{};
  get(buf);
  return std::string(buf);  // up to the NUL the library always writes
}

// Every source name, walked once: the walk stops at the first empty name
// and after the library's bound on sources.
int32_t walk_sources(int32_t wanted, std::string* name) {
  if (!tw::KXTWAIN_OpenSourceManager(0)) return 0;
  tw::TextBuffer buf{};
  int32_t n = 0;
  for (bool ok = tw::KXTWAIN_GetFirstSourceName(buf); ok && buf[0] != '\0' && n < tw::kMaxSources;
       ok = tw::KXTWAIN_GetNextSourceName(buf)) {
    if (++n == wanted && name != nullptr) *name = buf;
  }
  return n;
}

// The library's DIB as a new image; the block goes with the image and is
// released when the image is closed. 0 with the status set on failure.
int32_t acquire(cKorvex::State& s, int32_t hwnd) {
  const int32_t dib = tw::KXTWAIN_AcquireNative(hwnd);
  if (dib == 0) {
    s.LastStatus =
        tw::KXTWAIN_State() < 4 ? cKorvexStatus::BadTwainState : cKorvexStatus::TwainError;
    return 0;
  }
  const int32_t id = ImageFromPackedDibBlock(s, dib, 1);
  if (id == 0) tw::KXTWAIN_FreeNative(dib);
  return id;
}

// The source's settings every opening starts from.
bool opened(bool ok) {
  if (ok) {
    tw::KXTWAIN_SetAutoFeed(false);
    tw::KXTWAIN_SetAutoScan(false);
    tw::KXTWAIN_SetCurrentUnits(0);
  }
  return ok;
}

}  // namespace

bool cKorvex::TwainIsAvailable() {
  return version_ok(*s_) && tw::KXTWAIN_IsAvailable();
}
int32_t cKorvex::TwainGetState() {
  return version_ok(*s_) ? tw::KXTWAIN_State() : -1;
}
bool cKorvex::TwainSelectSource(int32_t hwnd) {
  return tw::KXTWAIN_SelectImageSource(hwnd);
}
bool cKorvex::TwainOpenDefaultSource() {
  return opened(tw::KXTWAIN_OpenDefaultSource());
}
bool cKorvex::TwainOpenSource(const std::string& sSourceName) {
  return opened(tw::KXTWAIN_OpenSource(sSourceName.c_str()));
}
bool cKorvex::TwainCloseSource() {
  return version_ok(*s_) && tw::KXTWAIN_CloseSource();
}
bool cKorvex::TwainDisableSource() {
  return version_ok(*s_) && tw::KXTWAIN_DisableSource();
}
bool cKorvex::TwainCloseSourceManager(int32_t hwnd) {
  return version_ok(*s_) && tw::KXTWAIN_CloseSourceManager(hwnd);
}
bool cKorvex::TwainUnloadSourceManager() {
  return version_ok(*s_) && tw::KXTWAIN_UnloadSourceManager();
}
bool cKorvex::TwainShowSetupDialogSource(int32_t hwnd) {
  if (!version_ok(*s_)) return false;
  if (tw::KXTWAIN_SourceSetup(hwnd)) return true;
  s_->LastStatus = cKorvexStatus::BadTwainState;
  return false;
}

int32_t cKorvex::TwainGetSourceCount() {
  return walk_sources(0, nullptr);
}
std::string cKorvex::TwainGetSourceName(int32_t nSourceNo) {
  std::string name;
  if (nSourceNo >= 1) walk_sources(nSourceNo, &name);
  return name;
}
std::string cKorvex::TwainGetDefaultSourceName() {
  tw::KXTWAIN_OpenSourceManager(0);
  return text(tw::KXTWAIN_GetDefaultSourceName);
}
std::string cKorvex::TwainGetCurrentSourceName() {
  return text(tw::KXTWAIN_GetCurrentSourceName);
}

cKorvexStatus cKorvex::TwainAcquire(int32_t hwnd) {
  CloseNativeImage();
  if (!version_ok(*s_)) return s_->LastStatus;
  return KeepAsEnginesImage(*s_, acquire(*s_, hwnd));
}

int32_t cKorvex::CreateImageFromTwain(int32_t hwnd) {
  if (!version_ok(*s_)) return 0;
  const int32_t id = acquire(*s_, hwnd);
  if (id != 0) s_->LastStatus = cKorvexStatus::Ok;
  return id;
}

bool cKorvex::TwainEndXfer() {
  return tw::KXTWAIN_EndXfer();
}
bool cKorvex::TwainEndAllXfers() {
  return tw::KXTWAIN_AbortAllPendingXfers();
}
bool cKorvex::TwainSetXferCount(int32_t nXfers) {
  return tw::KXTWAIN_NegotiateXferCount(nXfers);
}
void cKorvex::TwainSetMultiTransfer(bool bMultiTransfer) {
  tw::KXTWAIN_SetMultiTransfer(bMultiTransfer);
}

int32_t cKorvex::TwainGetCurrentPixelType() {
  return source_open() ? tw::KXTWAIN_GetPixelType() : -1;
}
int32_t cKorvex::TwainGetCurrentBitDepth() {
  return source_open() ? tw::KXTWAIN_GetBitDepth() : -1;
}
double cKorvex::TwainGetCurrentResolution() {
  return source_open() ? tw::KXTWAIN_GetCurrentResolution() : -1;
}
double cKorvex::TwainGetCurrentBrightness() {
  return source_open() ? tw::KXTWAIN_GetBrightness() : -1;
}
double cKorvex::TwainGetCurrentContrast() {
  return source_open() ? tw::KXTWAIN_GetContrast() : -1;
}
double cKorvex::TwainGetPhysicalWidth() {
  return source_open() ? tw::KXTWAIN_GetPhysicalWidth() : -1;
}
double cKorvex::TwainGetPhysicalHeight() {
  return source_open() ? tw::KXTWAIN_GetPhysicalHeight() : -1;
}

bool cKorvex::TwainSetCurrentPixelType(int32_t nPixelType) {
  return tw::KXTWAIN_SetCurrentPixelType(nPixelType);
}
bool cKorvex::TwainSetCurrentBitDepth(int32_t nBitDepth) {
  return tw::KXTWAIN_SetBitDepth(nBitDepth);
}
bool cKorvex::TwainSetCurrentResolution(double nResolution) {
  return tw::KXTWAIN_SetCurrentResolution(nResolution);
}
bool cKorvex::TwainSetCurrentBrightness(double nBrightness) {
  return tw::KXTWAIN_SetBrightness(nBrightness);
}
bool cKorvex::TwainSetCurrentContrast(double nContrast) {
  return tw::KXTWAIN_SetContrast(nContrast);
}
bool cKorvex::TwainSetPaperSize(int32_t nPaperSize) {
  return tw::KXTWAIN_SetPaperSize(nPaperSize);
}
int32_t cKorvex::TwainGetPaperSize() {
  return tw::KXTWAIN_GetPaperSize();
}
bool cKorvex::TwainSetImageLayout(double nLeft, double nTop, double nRight, double nBottom) {
  return tw::KXTWAIN_SetImageLayout(nLeft, nTop, nRight, nBottom);
}
bool cKorvex::TwainResetImageLayout() {
  return tw::KXTWAIN_ResetImageLayout();
}
bool cKorvex::TwainSetAutoBrightness(bool b) {
  return tw::KXTWAIN_SetAutoBright(b);
}
bool cKorvex::TwainSetAutoFeed(bool b) {
  return tw::KXTWAIN_SetAutoFeed(b);
}
bool cKorvex::TwainSetAutoScan(bool b) {
  return tw::KXTWAIN_SetAutoScan(b);
}
bool cKorvex::TwainEnableDuplex(bool b) {
  return tw::KXTWAIN_EnableDuplex(b);
}
bool cKorvex::TwainSetIndicators(bool b) {
  return tw::KXTWAIN_SetIndicators(b);
}
bool cKorvex::TwainSetAutomaticBorderDetection(bool b) {
  return tw::KXTWAIN_AutomaticBorderDetection(b);
}
bool cKorvex::TwainSetAutomaticDeskew(bool b) {
  return tw::KXTWAIN_AutomaticDeskew(b);
}
bool cKorvex::TwainSetAutomaticRotation(bool b) {
  return tw::KXTWAIN_AutomaticRotate(b);
}
void cKorvex::TwainSetHideUI(bool bHideUI) {
  tw::KXTWAIN_SetHideUI(bHideUI);
}
bool cKorvex::TwainGetHideUI() {
  return tw::KXTWAIN_GetHideUI();
}
void cKorvex::TwainSetErrorMessage(bool bShowError) {
  tw::KXTWAIN_SetShowError(bShowError);
}
void cKorvex::TwainSetDebugMode(bool bDebugMode) {
  tw::KXTWAIN_SetDebugMode(bDebugMode);
}
int32_t cKorvex::TwainGetDuplexMode() {
  return version_ok(*s_) ? tw::KXTWAIN_GetDuplexMode() : 0;
}
int32_t cKorvex::TwainGetLastResultCode() {
  return version_ok(*s_) ? tw::KXTWAIN_GetLastResultCode() : 0;
}
int32_t cKorvex::TwainGetLastConditionCode() {
  return version_ok(*s_) ? tw::KXTWAIN_GetLastConditionCode() : 0;
}

int32_t cKorvex::TwainGetAvailableCapValuesCount(int32_t nCap) {
  return version_ok(*s_) ? tw::KXTWAIN_LoadCapValuesN(nCap, tw::kGetValues) : 0;
}

int32_t cKorvex::TwainGetAvailableCapValuesNumeric(int32_t nCap, Array<int32_t>& arValues) {
  if (!version_ok(*s_)) return 0;
  const int32_t n = tw::KXTWAIN_LoadCapValuesN(nCap, tw::kGetValues);
  if (n <= 0) {
    arValues.Erase();
    return 0;
  }
  arValues.Redim({{0, n - 1}});
  for (int32_t i = 0; i < n; ++i)
    arValues(i) = static_cast<int32_t>(std::lround(tw::KXTWAIN_GetCapValueFromIdx(i)));
  return n;
}

double cKorvex::TwainGetAvailableCapValueNoNumeric(int32_t nCap, int32_t nNumber) {
  if (!version_ok(*s_)) return 0;
  const int32_t n = tw::KXTWAIN_LoadCapValuesN(nCap, tw::kGetValues);
  return nNumber >= 1 && nNumber <= n ? tw::KXTWAIN_GetCapValueFromIdx(nNumber - 1) : 0;
}

bool cKorvex::TwainIsPixelTypeAvailable(int32_t nPixelType) {
  const int32_t n = tw::KXTWAIN_LoadCapValuesN(tw::kPixelType, tw::kGetValues);
  for (int32_t i = 0; i < n; ++i)
    if (tw::KXTWAIN_GetCapValueFromIdx(i) == nPixelType) return true;
  return false;
}

bool cKorvex::TwainGetCapCurrentNumeric(int32_t nCap, double& nCurrentValue) {
  if (tw::KXTWAIN_LoadCapValuesN(nCap, tw::kGetCurrent) < 1) return false;
  nCurrentValue = tw::KXTWAIN_GetCapValueFromIdx(0);
  return true;
}

int32_t cKorvex::TwainGetCapItemType(int32_t nCap) {
  return tw::KXTWAIN_GetCapItemType(nCap);
}

bool cKorvex::TwainSetCapCurrentNumeric(int32_t nCap, int32_t nItemType, double nNewValue) {
  const int32_t v =
      nItemType == tw::kFix32 ? tw::KXTWAIN_ToFix32(nNewValue) : static_cast<int32_t>(nNewValue);
  return tw::KXTWAIN_SetCapOneValue(nCap, nItemType, v);
}

namespace {
// A capability's current value as true or false; a reading failure is false.
bool cap_on(cKorvex& k, int32_t cap) {
  double v = 0;
  return k.TwainGetCapCurrentNumeric(cap, v) && v != 0;
}
}  // namespace

bool cKorvex::TwainHasFeeder() {
  double v = 0;
  if (!TwainGetCapCurrentNumeric(tw::kFeederEnabled, v)) return false;
  if (v != 0) return true;
  // Offered but off: selecting it proves it, and the flatbed comes back.
  const int32_t type = TwainGetCapItemType(tw::kFeederEnabled);
  const bool has = TwainSetCapCurrentNumeric(tw::kFeederEnabled, type, 1);
  if (has) TwainSetCapCurrentNumeric(tw::kFeederEnabled, type, 0);
  return has;
}
bool cKorvex::TwainIsFeederSelected() {
  return cap_on(*this, tw::kFeederEnabled);
}
bool cKorvex::TwainIsFeederLoaded() {
  return cap_on(*this, tw::kFeederLoaded);
}
bool cKorvex::TwainIsAutoFeedOn() {
  return cap_on(*this, tw::kAutoFeed);
}
bool cKorvex::TwainIsDuplexEnabled() {
  return cap_on(*this, tw::kDuplexEnabled);
}
bool cKorvex::TwainSelectFeeder(bool bSelectFeeder) {
  return TwainSetCapCurrentNumeric(tw::kFeederEnabled, TwainGetCapItemType(tw::kFeederEnabled),
                                   bSelectFeeder ? 1 : 0);
}

// One capability's values through the generic forms above.
int32_t cKorvex::TwainGetAvailableBrightness(Array<int32_t>& arValues) {
  return TwainGetAvailableCapValuesNumeric(tw::kBrightness, arValues);
}
int32_t cKorvex::TwainGetAvailableContrast(Array<int32_t>& arValues) {
  return TwainGetAvailableCapValuesNumeric(tw::kContrast, arValues);
}
int32_t cKorvex::TwainGetAvailableBitDepths(Array<int32_t>& arValues) {
  return TwainGetAvailableCapValuesNumeric(tw::kBitDepth, arValues);
}
int32_t cKorvex::TwainGetAvailablePixelTypes(Array<int32_t>& arValues) {
  return TwainGetAvailableCapValuesNumeric(tw::kPixelType, arValues);
}
int32_t cKorvex::TwainGetAvailableXResolutions(Array<int32_t>& arValues) {
  return TwainGetAvailableCapValuesNumeric(tw::kXResolution, arValues);
}
int32_t cKorvex::TwainGetAvailableYResolutions(Array<int32_t>& arValues) {
  return TwainGetAvailableCapValuesNumeric(tw::kYResolution, arValues);
}
int32_t cKorvex::TwainGetAvailablePaperSize(Array<int32_t>& arValues) {
  return TwainGetAvailableCapValuesNumeric(tw::kSupportedSizes, arValues);
}

int32_t cKorvex::TwainGetAvailableBrightnessCount() {
  return TwainGetAvailableCapValuesCount(tw::kBrightness);
}
int32_t cKorvex::TwainGetAvailableContrastCount() {
  return TwainGetAvailableCapValuesCount(tw::kContrast);
}
int32_t cKorvex::TwainGetAvailableBitDepthsCount() {
  return TwainGetAvailableCapValuesCount(tw::kBitDepth);
}
int32_t cKorvex::TwainGetAvailablePixelTypesCount() {
  return TwainGetAvailableCapValuesCount(tw::kPixelType);
}
int32_t cKorvex::TwainGetAvailableXResolutionsCount() {
  return TwainGetAvailableCapValuesCount(tw::kXResolution);
}
int32_t cKorvex::TwainGetAvailableYResolutionsCount() {
  return TwainGetAvailableCapValuesCount(tw::kYResolution);
}
int32_t cKorvex::TwainGetAvailablePaperSizeCount() {
  return TwainGetAvailableCapValuesCount(tw::kSupportedSizes);
}

namespace {
// Codes (pixel types, depths, paper sizes) are whole numbers.
int32_t whole(double v) {
  return static_cast<int32_t>(std::lround(v));
}
}  // namespace

double cKorvex::TwainGetAvailableBrightnessNo(int32_t nNumber) {
  return TwainGetAvailableCapValueNoNumeric(tw::kBrightness, nNumber);
}
double cKorvex::TwainGetAvailableContrastNo(int32_t nNumber) {
  return TwainGetAvailableCapValueNoNumeric(tw::kContrast, nNumber);
}
int32_t cKorvex::TwainGetAvailableBitDepthNo(int32_t nNumber) {
  return whole(TwainGetAvailableCapValueNoNumeric(tw::kBitDepth, nNumber));
}
int32_t cKorvex::TwainGetAvailablePixelTypeNo(int32_t nNumber) {
  return whole(TwainGetAvailableCapValueNoNumeric(tw::kPixelType, nNumber));
}
double cKorvex::TwainGetAvailableXResolutionNo(int32_t nNumber) {
  return TwainGetAvailableCapValueNoNumeric(tw::kXResolution, nNumber);
}
double cKorvex::TwainGetAvailableYResolutionNo(int32_t nNumber) {
  return TwainGetAvailableCapValueNoNumeric(tw::kYResolution, nNumber);
}
int32_t cKorvex::TwainGetAvailablePaperSizeNo(int32_t nNumber) {
  return whole(TwainGetAvailableCapValueNoNumeric(tw::kSupportedSizes, nNumber));
}

namespace {
// Offered at all: the source reports a current value, on or off.
bool cap_offered(cKorvex& k, int32_t cap) {
  double v = 0;
  return k.TwainGetCapCurrentNumeric(cap, v);
}
// A current value as a whole number, -1 when the source reports none.
int32_t cap_current(cKorvex& k, int32_t cap) {
  double v = 0;
  return k.TwainGetCapCurrentNumeric(cap, v) ? whole(v) : -1;
}
bool cap_set(cKorvex& k, int32_t cap, double value) {
  return k.TwainSetCapCurrentNumeric(cap, k.TwainGetCapItemType(cap), value);
}
}  // namespace

bool cKorvex::TwainHasCameraPreviewUI() {
  return cap_on(*this, tw::kCameraPreviewUI);
}
bool cKorvex::TwainIsAutomaticBorderDetectionAvailable() {
  return cap_offered(*this, tw::kBorderDetection);
}
bool cKorvex::TwainIsAutomaticDeskewAvailable() {
  return cap_offered(*this, tw::kDeskew);
}
bool cKorvex::TwainIsAutomaticRotationAvailable() {
  return cap_offered(*this, tw::kAutoRotate);
}

int32_t cKorvex::TwainGetCurrentThreshold() {
  return cap_current(*this, tw::kThreshold);
}
bool cKorvex::TwainSetCurrentThreshold(double nThreshold) {
  return cap_set(*this, tw::kThreshold, nThreshold);
}
int32_t cKorvex::TwainGetCurrentPlanarChunky() {
  return cap_current(*this, tw::kPlanarChunky);
}
bool cKorvex::TwainSetCurrentPlanarChunky(int32_t nPlanarChunky) {
  return cap_set(*this, tw::kPlanarChunky, nPlanarChunky);
}
int32_t cKorvex::TwainGetCurrentPixelFlavor() {
  return cap_current(*this, tw::kPixelFlavor);
}
bool cKorvex::TwainSetCurrentPixelFlavor(int32_t nPixelFlavor) {
  return cap_set(*this, tw::kPixelFlavor, nPixelFlavor);
}

}  // namespace korvex
