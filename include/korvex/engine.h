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

#include "korvex/status.h"

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

  // --- Blank images -------------------------------------------------------
  // nPixelFormat: 1, 4, 8, 16 (RGB555), 24, 32 (ARGB), 48, 64 (PARGB).
  int32_t CreateNewImage(int32_t nWidth, int32_t nHeight, int16_t nPixelFormat = 32,
                         int32_t nBackColor = static_cast<int32_t>(0xFF000000));
  cKorvexStatus CreateImage(int32_t nWidth, int32_t nHeight, int16_t nPixelFormat = 32);

  struct State;  // engine fields, private to the implementation

 private:
  std::unique_ptr<State> s_;
  friend struct EngineAccess;
};

}  // namespace korvex
