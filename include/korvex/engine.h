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

  // --- Image sources --------------------------------------------------------
  // CreateImageFrom... members return the new identifier (0 on failure) and
  // make it the native image; the caller owns it and closes it. LoadFrom...
  // members close the engine's own native image first and keep the new one
  // as the engine's own.
  int32_t CreateImageFromFile(const std::string& sFilePath);
  cKorvexStatus LoadFromFile(const std::string& sFilePath);
  // As CreateImageFromFile, with pixels described by an embedded ICC profile
  // converted to sRGB.
  int32_t CreateImageFromFileICM(const std::string& sFilePath);
  int32_t CreateImageFromByteArray(Array<uint8_t>& arBytes);
  cKorvexStatus LoadFromByteArray(Array<uint8_t>& arBytes);
  // A binary image string: one character per byte, through code page 1252.
  int32_t CreateImageFromString(const std::string& sImageString);
  cKorvexStatus LoadFromString(const std::string& sImageString);
  // Decodes from the stream's current position to its end.
  int32_t CreateImageFromStream(const std::shared_ptr<Stream>& oStream);
  cKorvexStatus LoadFromStream(const std::shared_ptr<Stream>& oStream);

  // A host bitmap (see korvex/host.h); the caller keeps it.
  int32_t CreateImageFromHBitmap(int32_t hBitmap);
  cKorvexStatus LoadFromHBitmap(int32_t hBitmap);
  // A packed DIB in a movable memory block (GlobalAlloc); its pixels are copied.
  int32_t CreateImageFromDIB(int32_t hDib);
  cKorvexStatus LoadFromGdiDib(int32_t nGdiDib);
  // A picture object holding a bitmap (with its palette) or an icon.
  int32_t CreateImageFromPicture(const host::PicturePtr& oPicture);
  cKorvexStatus LoadFromPicture(const host::PicturePtr& oPicture);
  // The clipboard's packed DIB, else its bitmap.
  int32_t CreateImageFromClipboard();
  cKorvexStatus LoadFromClipboard();
  // A window's pixels, frame included; 0 = the whole screen.
  int32_t CreateImageFromHwnd(int32_t hwnd = 0);
  cKorvexStatus LoadFromCapture(int32_t nHandle = 0);

  // nPixelFormat: 1, 4, 8, 16 (RGB555), 24, 32 (ARGB), 48, 64 (PARGB).
  int32_t CreateNewImage(int32_t nWidth, int32_t nHeight, int16_t nPixelFormat = 32,
                         int32_t nBackColor = static_cast<int32_t>(0xFF000000));
  cKorvexStatus CreateImage(int32_t nWidth, int32_t nHeight, int16_t nPixelFormat = 32);

  // --- Saving ---------------------------------------------------------------
  // Files are written to a temporary file in the target folder and renamed
  // into place, so a failed save never destroys an existing file.
  cKorvexStatus SaveAsBmp(const std::string& sFilename);
  cKorvexStatus SaveAsGif(const std::string& sFilename);
  cKorvexStatus SaveAsPng(const std::string& sFilename);
  cKorvexStatus SaveAsJpeg(const std::string& sFilename, int32_t nQuality = 75);
  // nModeCompression: 2 LZW, 3 CCITT group 3, 4 CCITT group 4, 5 CCITT RLE, 6 none.
  cKorvexStatus SaveAsTiff(const std::string& sFilename, int32_t nModeCompression = 2,
                           int32_t nColorDepth = 0);
  // A 32 x 32 icon file of the native image (resampled unless it is 32 wide
  // or high); nTransparentColor (RGB, red in the low byte) becomes transparent
  // when bTransparentColor is set.
  cKorvexStatus SaveAsIco(const std::string& sFilename, bool bTransparentColor = false,
                          int32_t nTransparentColor = -1);
  // A new 32 x 32 icon (host handle, the caller destroys it) from the top-left
  // of a picture; saved as an icon file too when sFileDest is given.
  int32_t GetIcon(const host::PicturePtr& oInputPicture, const std::string& sFileDest = "",
                  int32_t nRGBTransparentColor = -1);
  // Encodes into a new memory stream (sImageFormat "bmp", "png", "jpg", "gif", "tif").
  cKorvexStatus SaveAsStream(std::shared_ptr<Stream>& oStream, const std::string& sImageFormat,
                             int32_t nEncoderParameter = 0);
  cKorvexStatus SaveAsByteArray(Array<uint8_t>& arBytes, int32_t& nBitsRead,
                                const std::string& sImageFormat, int32_t nEncoderParameter = 0);
  std::string SaveAsString(const std::string& sImageFormat, int32_t nEncoderParameter = 0);
  // Switches the software property of saved files off (true) or on (false)
  // for every engine of the thread.
  void TagsBypassKorvexTag(bool& bBypass);

  // --- Multi-frame images ---------------------------------------------------
  // Page and frame numbers are 1-based.
  int32_t TiffGetPageCount();
  cKorvexStatus TiffSelectPage(int32_t nPage);
  int32_t GifGetFrameCount();
  cKorvexStatus GifSelectFrame(int32_t nFrame);
  // Frame delays in hundredths of a second, as a 1-based array.
  cKorvexStatus GifGetFrameDelay(Array<int32_t>& arFrameDelay);
  int32_t GifGetLoopCount();
  cKorvexStatus GifGetColorPalette(Array<int32_t>& nColorsArray, int32_t& nEntriesCount);
  cKorvexStatus GifSetColorPalette(Array<int32_t>& nColorsArray, int32_t nEntriesCount);
  // Makes every palette entry equal to nColor (ARGB; -1 = opaque white) transparent white.
  cKorvexStatus GifSetTransparency(int32_t nColor = -1);
  // Plays the native GIF once onto a host device context, each frame for its
  // delay, letting the host's event loop run while it waits; returns the
  // status of the last frame. The native image is left on the last frame.
  int32_t GifDisplayAnimatedGif(int32_t nHDC, int32_t nDstX, int32_t nDstY, int32_t nWidth,
                                int32_t nHeight);
  // Multi-page TIFF writing: the native image becomes page 1; pages are
  // appended; closing completes the file (and closes the page-1 image).
  cKorvexStatus TiffSaveAsNativeMultiPage(const std::string& sFilename,
                                          int32_t nModeCompression = 2);
  cKorvexStatus TiffAddToNativeMultipage(int32_t nImageID);
  cKorvexStatus TiffCloseNativeMultiPage();

  // --- Geometry ---------------------------------------------------------------
  // nRotation: RotateNoneFlipNone 0, Rotate90FlipNone 1, Rotate180FlipNone 2,
  // Rotate270FlipNone 3, RotateNoneFlipX 4, Rotate90FlipX 5, Rotate180FlipX 6,
  // Rotate270FlipX 7 (clockwise turns, then a horizontal flip).
  cKorvexStatus Rotate(int32_t nRotation);
  // Rotation by any angle in degrees, clockwise: on a canvas enlarged to fit
  // (RotateAngle), or on the same canvas about the top-left corner
  // (PreserveDimentions) or the centre (PreserveDimentionsCenter); the
  // BackColor forms fill the canvas with an ARGB colour first, the others
  // leave the uncovered area as a new bitmap is.
  cKorvexStatus RotateAngle(int32_t nAngle);
  cKorvexStatus RotateAngleBackColor(int32_t nAngle, int32_t nBackColor);
  cKorvexStatus RotateAnglePreserveDimentions(int32_t nAngle);
  cKorvexStatus RotateAnglePreserveDimentionsBackColor(int32_t nAngle, int32_t nBackColor);
  cKorvexStatus RotateAnglePreserveDimentionsCenter(int32_t nAngle);
  cKorvexStatus RotateAnglePreserveDimentionsCenterBackColor(int32_t nAngle, int32_t nBackColor);
  // nInterpolationMode: Default 0, LowQuality 1, HighQuality 2, Bilinear 3,
  // Bicubic 4, NearestNeighbor 5, HighQualityBilinear 6, HighQualityBicubic 7.
  cKorvexStatus Resize(int32_t nNewPictureWidth, int32_t nNewPictureHeight,
                       int32_t nInterpolationMode = 0);
  // The other side follows the aspect ratio (rounded half to even).
  cKorvexStatus ResizeHeightRatio(int32_t nNewPictureHeight, int32_t nInterpolationMode = 0);
  cKorvexStatus ResizeWidthRatio(int32_t nNewPictureWidth, int32_t nInterpolationMode = 0);
  // Keeps a rectangle (1-based origin) of the native image.
  cKorvexStatus Crop(int32_t nSrcX, int32_t nSrcY, int32_t nWidth, int32_t nHeight);
  cKorvexStatus CropTop(int32_t nLines);
  cKorvexStatus CropBottom(int32_t nLines);
  cKorvexStatus CropLeft(int32_t nLines);
  cKorvexStatus CropRight(int32_t nLines);
  // Borders; the default colour (opaque black) leaves them as a new bitmap is:
  // black, or transparent black for formats with alpha.
  cKorvexStatus AddBorders(int32_t nBorderWidth,
                           int32_t nBorderColor = static_cast<int32_t>(0xFF000000));
  cKorvexStatus AddBorderTop(int32_t nBorderHeight,
                             int32_t nBorderColor = static_cast<int32_t>(0xFF000000));
  cKorvexStatus AddBorderBottom(int32_t nBorderHeight,
                                int32_t nBorderColor = static_cast<int32_t>(0xFF000000));
  cKorvexStatus AddBorderLeft(int32_t nBorderWidth,
                              int32_t nBorderColor = static_cast<int32_t>(0xFF000000));
  cKorvexStatus AddBorderRight(int32_t nBorderWidth,
                               int32_t nBorderColor = static_cast<int32_t>(0xFF000000));
  // New images for the caller: a scaled copy (32bppPARGB), and a rectangle
  // (1-based origin) in the image's own pixel format.
  int32_t CreateThumbnail(int32_t nImageID, int32_t nWidth, int32_t nHeight);
  int32_t MakeThumbnail(int32_t nWidth, int32_t nHeight);
  int32_t CreateClonedImageArea(int32_t nImageID, int32_t nSrcX, int32_t nSrcY, int32_t nWidth,
                                int32_t nHeight);

  // --- Pixels, pixel formats and host handles --------------------------------
  // Pixel values are ARGB (alpha in the high byte); coordinates are 1-based.
  int32_t PixelGetColor(int32_t nSrcX, int32_t nSrcY);
  cKorvexStatus PixelSetColor(int32_t nDstX, int32_t nDstY, int32_t nARGBColor);
  // Rectangle transfers (row before column): Long arrays (1..W, 1..H) of ARGB
  // values, byte arrays (1..4, 1..W, 1..H) of B, G, R, A. They return their
  // status without recording it.
  cKorvexStatus GetPixelArray(Array<int32_t>& arPixels, int32_t nSrcY, int32_t nSrcX,
                              int32_t nWidth, int32_t nHeight);
  cKorvexStatus SetPixelArray(Array<int32_t>& arPixels, int32_t nDstY, int32_t nDstX,
                              int32_t nWidth, int32_t nHeight);
  cKorvexStatus GetPixelArrayARGB(Array<uint8_t>& arPixels, int32_t nSrcY, int32_t nSrcX,
                                  int32_t nWidth, int32_t nHeight);
  cKorvexStatus SetPixelArrayARGB(Array<uint8_t>& arPixels, int32_t nDstY, int32_t nDstX,
                                  int32_t nWidth, int32_t nHeight);
  std::string GetPixelFormat();  // "24bppRGB"..., "Undefined"
  int32_t GetIntPixelFormat();   // bits per pixel, 0 when undefined
  bool IsPixelFormatIndexed();
  cKorvexStatus SetHorizontalResolution(float nHorizontalResolution);
  cKorvexStatus SetVerticalResolution(float nVerticalResolution);
  // The native image (or a rectangle of it) on the clipboard as a bitmap,
  // transparent parts over white.
  cKorvexStatus CopyToClipboard();
  cKorvexStatus CopyRegionToClipboard(int32_t nSrcX, int32_t nSrcY, int32_t nWidth,
                                      int32_t nHeight);
  void DeleteClipboardData();
  // A new host bitmap of the native image, alpha over black; the caller deletes it.
  int32_t GetHBitmap();
  void DeleteHBitmap(int32_t nHbitmap);
  // A bitmap picture object of the native image, alpha over white; it owns its bitmap.
  host::PicturePtr GetPicture();
  void DeletePictureObject(host::PicturePtr& oPictureObject);
  // The native image drawn stretched into a destination rectangle (1-based
  // origin) of a host device context or window, over what it shows; the Rect
  // forms draw a source rectangle. Interpolation modes as for Resize (values
  // outside 0..7 mean 0); smoothing modes 0..4 shape lines and fills only.
  cKorvexStatus DisplayImageOnHDC(int32_t nHDC, int32_t nDstX, int32_t nDstY, int32_t nDstWidth,
                                  int32_t nDstHeight, int32_t nSmoothingMode = 3,
                                  int32_t nInterpolationMode = 0);
  cKorvexStatus DisplayImageOnHwnd(int32_t nHWND, int32_t nDstX, int32_t nDstY, int32_t nDstWidth,
                                   int32_t nDstHeight, int32_t nSmoothingMode = 3,
                                   int32_t nInterpolationMode = 0);
  cKorvexStatus DisplayImageRectOnHDC(int32_t nHDC, int32_t nDstX, int32_t nDstY, int32_t nDstWidth,
                                      int32_t nDstHeight, int32_t nSrcX, int32_t nSrcY,
                                      int32_t nSrcWidth, int32_t nSrcHeight,
                                      int32_t nSmoothingMode = 3, int32_t nInterpolationMode = 0);
  cKorvexStatus DisplayImageRectOnHwnd(int32_t nHWND, int32_t nDstX, int32_t nDstY,
                                       int32_t nDstWidth, int32_t nDstHeight, int32_t nSrcX,
                                       int32_t nSrcY, int32_t nSrcWidth, int32_t nSrcHeight,
                                       int32_t nSmoothingMode = 3, int32_t nInterpolationMode = 0);
  int32_t GetDesktopHwnd();
  std::string GetGdiplusVersion();  // version text of the raster layer

  // --- Palettes and plain format conversions --------------------------------
  cKorvexStatus ColorPaletteGet(Array<int32_t>& nColorsArray, int32_t& nEntriesCount);
  int32_t ColorPaletteGetColorsCount();
  cKorvexStatus ColorPaletteSet(Array<int32_t>& nARGBColorsArray);
  cKorvexStatus ColorPaletteConvertToHalftone();
  cKorvexStatus ConvertTo4Bpp();
  cKorvexStatus ConvertTo16Bpp();
  cKorvexStatus ConvertTo24Bpp();
  cKorvexStatus ConvertTo32Bpp();
  cKorvexStatus ConvertTo48Bpp();
  cKorvexStatus ConvertTo64Bpp();
  // nPixelDepth: 1, 4, 8, 16, 24, 32, 48 or 64.
  cKorvexStatus ConvertToPixelFormatCR(int32_t nPixelDepth);

  struct State;  // engine fields, private to the implementation

 private:
  std::unique_ptr<State> s_;
  friend struct EngineAccess;
};

}  // namespace korvex
