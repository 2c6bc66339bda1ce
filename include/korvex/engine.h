// cKorvex: the imaging engine object.
//
// An engine works on images named by image identifiers (positive 32-bit
// integers, 0 = none). One of them is the engine's native image, which most
// members work on; members taking an nImageID work on any open image of the
// thread. Every member records its outcome as the engine's last status
// (read with GetStat) and either returns it or returns its value; nothing is
// thrown. Engines are confined to the thread that created them; engines of
// one thread share its images.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "korvex/array.h"
#include "korvex/host.h"
#include "korvex/status.h"
#include "korvex/stream.h"

namespace korvex {

class cKorvex {
 public:
  cKorvex();
  ~cKorvex();
  cKorvex(const cKorvex&) = delete;
  cKorvex& operator=(const cKorvex&) = delete;

  // --- Status and version -------------------------------------------------
  cKorvexStatus GetStat() const;
  double GetVersion() const;

  // --- Native image and image life cycle ----------------------------------
  int32_t GetNativeImage() const;
  void SetNativeImage(int32_t nImageID);
  cKorvexStatus LoadFromImage(int32_t nImageID);
  cKorvexStatus CloseImage(int32_t nImageID);
  cKorvexStatus CloseNativeImage();
  cKorvexStatus CloneImage(int32_t nImageID);
  int32_t CreateClonedImage(int32_t nImageID);
  int32_t CreateClonedImageI(int32_t nImageID);
  int32_t CreateClonedImageARGB(int32_t nImageID);

  // --- Queries on the native image ----------------------------------------
  int32_t GetWidth();
  int32_t GetHeight();
  float GetWidthMM();
  float GetHeightMM();
  int32_t GetHorizontalResolution();
  int32_t GetVerticalResolution();
  std::string GetImageFormat();

  // --- Member families, one file each under korvex/engine/ ---------------
  // Their declarations, included in the order of the automation table. A new
  // family goes into a new korvex/engine/<family>.inc with its include line
  // appended to this list. Scanning, the last family, is declared below.
  // clang-format off
#include "korvex/engine/sources.inc"
#include "korvex/engine/saving.inc"
#include "korvex/engine/frames.inc"
#include "korvex/engine/geometry.inc"
#include "korvex/engine/effects.inc"
#include "korvex/engine/cleanup.inc"
#include "korvex/engine/pixels.inc"
#include "korvex/engine/palettes.inc"
#include "korvex/engine/colors.inc"
#include "korvex/engine/color_reduction.inc"
#include "korvex/engine/drawing.inc"
#include "korvex/engine/barcodes.inc"
#include "korvex/engine/pdf.inc"
#include "korvex/engine/tags.inc"
#include "korvex/engine/recognition.inc"
#include "korvex/engine/printing.inc"
#include "korvex/engine/download.inc"
  // clang-format on

  // --- Scanning ---------------------------------------------------------------
  // Scanners through the TWAIN-shaped library over SANE: sources are SANE
  // devices, named "vendor model (device)". Members that check the library
  // version first do nothing (false, 0 or "") when it is below 325, with
  // the last status 31. Getters of current values give -1 while no source
  // is open (state below 4). Sizes are in inches.
  bool TwainIsAvailable();
  // 1 pre-session .. 7 transferring, -1 on a version failure.
  int32_t TwainGetState();
  bool TwainSelectSource(int32_t hwnd = 0);
  // Opening a source switches automatic feeding and scanning off and sets
  // the units to inches.
  bool TwainOpenDefaultSource();
  // By its full name or its device name; spaces around it are ignored.
  bool TwainOpenSource(const std::string& sSourceName);
  bool TwainCloseSource();
  bool TwainDisableSource();
  bool TwainCloseSourceManager(int32_t hwnd = 0);
  bool TwainUnloadSourceManager();
  // There is no settings dialog for SANE devices: false, last status 32.
  bool TwainShowSetupDialogSource(int32_t hwnd = 0);
  int32_t TwainGetSourceCount();
  // Sources numbered from 1; "" out of range.
  std::string TwainGetSourceName(int32_t nSourceNo);
  std::string TwainGetDefaultSourceName();
  std::string TwainGetCurrentSourceName();
  // One page as the native image: 32 (BadTwainState) with no source open,
  // 30 (TwainError) when the source gives no page (the library's result and
  // condition codes tell why; an empty feeder gives condition 28). With the
  // feeder selected, each call takes the next page.
  cKorvexStatus TwainAcquire(int32_t hwnd = 0);
  // As TwainAcquire, returning a new image (0 on failure) instead.
  int32_t CreateImageFromTwain(int32_t hwnd = 0);
  bool TwainEndXfer();
  bool TwainEndAllXfers();
  // -1 = every page the source has.
  bool TwainSetXferCount(int32_t nXfers);
  void TwainSetMultiTransfer(bool bMultiTransfer);
  // 0 black and white, 1 gray, 2 RGB.
  int32_t TwainGetCurrentPixelType();
  // Bits per pixel (24 for RGB).
  int32_t TwainGetCurrentBitDepth();
  double TwainGetCurrentResolution();
  double TwainGetCurrentBrightness();
  double TwainGetCurrentContrast();
  double TwainGetPhysicalWidth();
  double TwainGetPhysicalHeight();
  bool TwainSetCurrentPixelType(int32_t nPixelType);
  bool TwainSetCurrentBitDepth(int32_t nBitDepth);
  bool TwainSetCurrentResolution(double nResolution);
  bool TwainSetCurrentBrightness(double nBrightness);
  bool TwainSetCurrentContrast(double nContrast);
  // TWAIN paper sizes: 0 none (the whole area), 1 A4, 2 JIS B5, 3 US Letter,
  // 4 US Legal, 5 A5, 7 ISO B6.
  bool TwainSetPaperSize(int32_t nPaperSize);
  int32_t TwainGetPaperSize();
  bool TwainSetImageLayout(double nLeft, double nTop, double nRight, double nBottom);
  bool TwainResetImageLayout();
  bool TwainSetAutoBrightness(bool bAutoBrightness);
  bool TwainSetAutoFeed(bool bAutoFeed);
  bool TwainSetAutoScan(bool bAutoScan);
  bool TwainEnableDuplex(bool bDuplex);
  // A progress line on a terminal for pages that take over a second.
  bool TwainSetIndicators(bool bIndicators);
  bool TwainSetAutomaticBorderDetection(bool bBorderDetection);
  bool TwainSetAutomaticDeskew(bool bDeskew);
  bool TwainSetAutomaticRotation(bool bRotation);
  void TwainSetHideUI(bool bHideUI);
  bool TwainGetHideUI();
  void TwainSetErrorMessage(bool bShowError);
  void TwainSetDebugMode(bool bDebugMode);
  // 0 none, 1 one-pass duplex.
  int32_t TwainGetDuplexMode();
  int32_t TwainGetLastResultCode();
  int32_t TwainGetLastConditionCode();
  // Values a capability offers (ranges listed by their step): their number,
  // all of them (in the array rounded to whole numbers, from index 0), or
  // one numbered from 1.
  int32_t TwainGetAvailableCapValuesCount(int32_t nCap);
  int32_t TwainGetAvailableCapValuesNumeric(int32_t nCap, Array<int32_t>& arValues);
  double TwainGetAvailableCapValueNoNumeric(int32_t nCap, int32_t nNumber);
  bool TwainIsPixelTypeAvailable(int32_t nPixelType);
  bool TwainGetCapCurrentNumeric(int32_t nCap, double& nCurrentValue);
  // TWAIN item types: 1 INT16, 4 UINT16, 6 BOOL, 7 FIX32 ...
  int32_t TwainGetCapItemType(int32_t nCap);
  bool TwainSetCapCurrentNumeric(int32_t nCap, int32_t nItemType, double nNewValue);
  bool TwainHasFeeder();
  bool TwainIsFeederSelected();
  bool TwainIsFeederLoaded();
  bool TwainIsAutoFeedOn();
  bool TwainIsDuplexEnabled();
  bool TwainSelectFeeder(bool bSelectFeeder);
  // The generic three forms for one capability each: every value offered
  // (the array rounded to whole numbers), their number, one numbered from 1
  // (0 out of range).
  int32_t TwainGetAvailableBrightness(Array<int32_t>& arValues);
  int32_t TwainGetAvailableContrast(Array<int32_t>& arValues);
  int32_t TwainGetAvailableBitDepths(Array<int32_t>& arValues);
  int32_t TwainGetAvailablePixelTypes(Array<int32_t>& arValues);
  int32_t TwainGetAvailableXResolutions(Array<int32_t>& arValues);
  int32_t TwainGetAvailableYResolutions(Array<int32_t>& arValues);
  int32_t TwainGetAvailablePaperSize(Array<int32_t>& arValues);
  int32_t TwainGetAvailableBrightnessCount();
  int32_t TwainGetAvailableContrastCount();
  int32_t TwainGetAvailableBitDepthsCount();
  int32_t TwainGetAvailablePixelTypesCount();
  int32_t TwainGetAvailableXResolutionsCount();
  int32_t TwainGetAvailableYResolutionsCount();
  int32_t TwainGetAvailablePaperSizeCount();
  double TwainGetAvailableBrightnessNo(int32_t nNumber);
  double TwainGetAvailableContrastNo(int32_t nNumber);
  int32_t TwainGetAvailableBitDepthNo(int32_t nNumber);
  int32_t TwainGetAvailablePixelTypeNo(int32_t nNumber);
  double TwainGetAvailableXResolutionNo(int32_t nNumber);
  double TwainGetAvailableYResolutionNo(int32_t nNumber);
  int32_t TwainGetAvailablePaperSizeNo(int32_t nNumber);
  // Whether the source offers a camera preview interface (never, for SANE).
  bool TwainHasCameraPreviewUI();
  // Whether the source offers the processing at all, switched on or not.
  bool TwainIsAutomaticBorderDetectionAvailable();
  bool TwainIsAutomaticDeskewAvailable();
  bool TwainIsAutomaticRotationAvailable();
  // Current values, -1 when the source does not report them. Flavor 0: the
  // darkest sample is 0; planar-chunky 0: samples interleaved.
  int32_t TwainGetCurrentThreshold();
  bool TwainSetCurrentThreshold(double nThreshold);
  int32_t TwainGetCurrentPlanarChunky();
  bool TwainSetCurrentPlanarChunky(int32_t nPlanarChunky);
  int32_t TwainGetCurrentPixelFlavor();
  bool TwainSetCurrentPixelFlavor(int32_t nPixelFlavor);

  struct State;  // engine fields, private to the implementation

 private:
  std::unique_ptr<State> s_;
  friend struct EngineAccess;
};

}  // namespace korvex
