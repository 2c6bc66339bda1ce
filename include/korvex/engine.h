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

  // --- Pixel effects ------------------------------------------------------------
  // Effects apply to the filter zone of the native image: the whole picture by
  // default, or the rectangle of FiltersToZone (1-based top and left). On
  // indexed images the result is written back in the image's own format;
  // Negative and Brightness change only the palette there. Parameters outside
  // their meaningful range (Gamma <= 0, a wave period of 0, Soften above 100)
  // give InvalidParameter and change nothing.
  void FiltersToPicture();
  void FiltersToZone(int32_t nTop, int32_t nLeft, int32_t nWidth, int32_t nHeight);
  cKorvexStatus SetNegativeEffect();
  cKorvexStatus SetBrightnessEffect(int32_t nBrightnessPct);
  cKorvexStatus SetBrigtnessEffect(int32_t nBrightnessPct);
  cKorvexStatus SetContrastEffect(int32_t nContrastPct);
  // nGammaFactor: gamma x 100.
  cKorvexStatus SetGammaCorrectionEffect(int32_t nGammaFactor);
  cKorvexStatus SetSaturationEffect(int32_t nSaturationPct);
  // Adds nTransparencyValue to every alpha byte (limited to 0..255).
  cKorvexStatus SetTransparencyEffect(int32_t nTransparencyValue);
  // Pixels of that colour (alpha not compared) become fully transparent.
  cKorvexStatus SetTransparencyColorEffect(int32_t nARGBColorValue);
  cKorvexStatus SetSwapColorEffect(int32_t nARGBColorSrc, int32_t nARGBColorDst);
  cKorvexStatus SetAdjustRGBEffect(int32_t nRedAdjust, int32_t& nGreenAdjust,
                                   int32_t& nBlueAdjust);
  cKorvexStatus SetRedComponentsEffect();
  cKorvexStatus SetGreenComponentsEffect();
  cKorvexStatus SetBlueComponentsEffect();
  cKorvexStatus SetRemoveRedComponentsEffect();
  cKorvexStatus SetRemoveGreenComponentsEffect();
  cKorvexStatus SetRemoveBlueComponentsEffect();
  cKorvexStatus SetScaleRedEffect(float nFactor);
  cKorvexStatus SetScaleGreenEffect(float nFactor);
  cKorvexStatus SetScaleBlueEffect(float nFactor);
  cKorvexStatus SetSwapColorsRGBtoBRG();
  cKorvexStatus SetSwapColorsRGBtoGBR();
  cKorvexStatus SetSwapColorsRGBtoRBG();
  cKorvexStatus SetSwapColorsRGBtoBGR();
  cKorvexStatus SetSwapColorsRGBtoGRB();
  cKorvexStatus SetGrayscaleEffect();
  cKorvexStatus SetSepiaEffect();
  // nHue in degrees (0..360), nSaturation and nLuminosity in percent.
  cKorvexStatus SetColorizeEffect(float nHue = 0, float nSaturation = 50,
                                  float nLuminosity = 100);
  // nMode: 1 threshold at RGB(180, 180, 180), 2 ordered dither, 3 error diffusion.
  cKorvexStatus SetBlackNWhiteEffect(int16_t nMode = 1);
  cKorvexStatus SetStretchEffect();
  cKorvexStatus SetStretchContrastEffect();
  cKorvexStatus SetAddNoiseEffect();
  cKorvexStatus SetScanLineEffect();
  cKorvexStatus SetRedEyesCorrectionEffect();
  cKorvexStatus SetSharpenEffect();
  cKorvexStatus SetSharpenMoreEffect();
  cKorvexStatus SetBlurEffect();
  cKorvexStatus SetSmoothEffect();
  cKorvexStatus SetDiffuseEffect();
  cKorvexStatus SetDiffuseMoreEffect();
  cKorvexStatus SetEdgeEnhanceEffect();
  cKorvexStatus SetContourEffect();
  // Colours of the emboss and engrave family are RGB (red in the low byte).
  cKorvexStatus SetEmbossEffect();
  cKorvexStatus SetEmbossColorEffect(int32_t nRGBColor);
  cKorvexStatus SetEmbossMoreEffect();
  cKorvexStatus SetEmbossMoreColorEffect(int32_t nRGBColor);
  cKorvexStatus SetEngraveEffect();
  cKorvexStatus SetEngraveColorEffect(int32_t nRGBColor);
  cKorvexStatus SetEngraveMoreEffect();
  cKorvexStatus SetEngraveMoreColorEffect(int32_t nRGBColor);
  cKorvexStatus SetReliefEffect();
  cKorvexStatus SetAQUAEffect();
  cKorvexStatus SetDilateEffect();
  cKorvexStatus SetErodeEffect();
  cKorvexStatus SetConnectedContourEffect();
  cKorvexStatus SetPixelizeEffect();
  // nSoftenValue 0..100: from nearly neutral to the plain five-point mean.
  cKorvexStatus SetSoftenEffect(int32_t nSoftenValue);
  cKorvexStatus SethWavesEffect(int32_t nWidthWave, int32_t nHeightWave);
  cKorvexStatus SetvWavesEffect(int32_t nWidthWave, int32_t nHeightWave);
  // Tests of the zone; False without a native image. They leave GetStat as it was.
  bool IsGrayscale();
  bool IsBlank(int32_t nConfidence = 98);
  // 3 x 3 pattern matrices (ARGB values, element 1 top-left, row by row),
  // numbered from 1 in order of creation. The filters replace every exact
  // match (alpha not compared) of the IN pattern by the OUT pattern.
  int32_t MatrixCreate3x3x(int32_t n1PixelValue, int32_t n2PixelValue, int32_t n3PixelValue,
                           int32_t n4PixelValue, int32_t n5PixelValue, int32_t n6PixelValue,
                           int32_t n7PixelValue, int32_t n8PixelValue, int32_t n9PixelValue);
  cKorvexStatus MatrixFilter3x3x(int32_t nMatrix3x3xIN, int32_t nMatrix3x3xOUT);
  cKorvexStatus MatrixFilter1bpp3x3x(int32_t nMatrix3x3xIN, int32_t nMatrix3x3xOUT);
  // Isolated black pixels (eight white neighbours) whitened, or grown into 3 x 3 blocks.
  cKorvexStatus Filter1bppParasite();
  cKorvexStatus Filter1bppDilate8();

  // --- Document clean-up ---------------------------------------------------
  // Crops the bands of whole rows and columns filled with one colour (red,
  // green and blue compared, alpha not), measured from each edge inward
  // independently over the full image: a line belongs to a band when at
  // least nConfidence percent of its pixels match. nSkipLinesCount lines at
  // each edge are passed over first and go with the band that follows them.
  // Images narrower or lower than 10 pixels are left alone (LastStatus is
  // returned, as when no band is found); bands from opposite edges that meet
  // (a uniform page) give InvalidParameter and change nothing.
  cKorvexStatus CropWhiteBands(int32_t nConfidence = 100, int32_t nSkipLinesCount = 0);
  cKorvexStatus CropBlackBands(int32_t nConfidence = 100, int32_t nSkipLinesCount = 0);
  // Bands of the colour of a corner pixel: nColorReference 1 top-left, 2
  // top-right, 3 bottom-right, 4 bottom-left (other values mean 1); a pixel
  // matches within a sum of absolute red, green and blue differences of
  // floor((100 - nConfidence) x 7.65); nConfidence outside 0..100 means 98.
  cKorvexStatus CropBorders2(int32_t nConfidence, int32_t nColorReference = 1);
  cKorvexStatus CropBorders();  // CropBorders2(97, 1)

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

  // --- Colour values and colour models -----------------------------------------
  // ARGB values: alpha in bits 24-31, red 16-23, green 8-15, blue 0-7 (opaque
  // colours are negative). RGB values: red in bits 0-7, green 8-15, blue 16-23.
  // Members whose names end in a lower-case l take and give Long channels
  // instead of Byte ones. Inks and channels are 0..255; CMYK black is the
  // least of the three complements, each colour ink the rest stretched over
  // what black leaves, rounded half to even. Hue is in sextants (-1 <= H <= 5:
  // red 0, yellow 1, green 2, cyan 3, blue 4, magenta 5 or -1), saturation and
  // lightness in 0..1. These conversions keep no state and never change
  // GetStat. A channel outside 0..255, an RGB value outside 0..0xFFFFFF, or an
  // HSL value that is not a number or out of range is refused: the members
  // returning a status give InvalidParameter and leave their outputs as they
  // were; the value builders give -1 (RGB, which no RGB value is) or 0 (ARGB,
  // transparent: it paints nothing).
  int32_t ColorGetARGBValueFromARGB(uint8_t nAlpha, uint8_t nRed, uint8_t nGreen, uint8_t nBlue);
  int32_t ColorGetARGBValueFromARGBl(int32_t nAlpha, int32_t nRed, int32_t nGreen, int32_t nBlue);
  int32_t ARGB(uint8_t nAlpha, uint8_t nRed, uint8_t nGreen, uint8_t nBlue);
  cKorvexStatus ColorGetARGBFromARGBValue(int32_t nARGBValue, uint8_t& nAlpha, uint8_t& nRed,
                                          uint8_t& nGreen, uint8_t& nBlue);
  cKorvexStatus ColorGetARGBFromARGBValuel(int32_t nARGBValue, int32_t& nAlpha, int32_t& nRed,
                                           int32_t& nGreen, int32_t& nBlue);
  int32_t ColorGetRGBValueFromRGB(uint8_t nRed, uint8_t nGreen, uint8_t nBlue);
  int32_t ColorGetRGBValueFromRGBl(int32_t nRed, int32_t nGreen, int32_t nBlue);
  int32_t GetRGB(uint8_t nRed, uint8_t nGreen, uint8_t nBlue);
  cKorvexStatus ColorGetRGBFromRGBValue(int32_t nRGBValue, uint8_t& nRed, uint8_t& nGreen,
                                        uint8_t& nBlue);
  cKorvexStatus ColorGetRGBFromRGBValuel(int32_t nRGBValue, int32_t& nRed, int32_t& nGreen,
                                         int32_t& nBlue);
  cKorvexStatus ColorRGBtoCMY(int32_t nRedValue, int32_t nGreenValue, int32_t nBlueValue,
                              int32_t& nCyan, int32_t& nMagenta, int32_t& nYellow);
  cKorvexStatus ColorCMYtoRGB(int32_t nCyan, int32_t nMagenta, int32_t nYellow, int32_t& nRed,
                              int32_t& nGreen, int32_t& nBlue);
  cKorvexStatus ColorRGBtoCMYK(int32_t nRedValue, int32_t nGreenValue, int32_t nBlueValue,
                               int32_t& nCyan, int32_t& nMagenta, int32_t& nYellow,
                               int32_t& nBlack);
  cKorvexStatus ColorCMYKtoRGB(int32_t nCyan, int32_t nMagenta, int32_t nYellow, int32_t nBlack,
                               int32_t& nRed, int32_t& nGreen, int32_t& nBlue);
  cKorvexStatus ColorRGBtoHSL(uint8_t nRedValue, uint8_t nGreenValue, uint8_t nBlueValue,
                              float& nHueReturn, float& nSaturationReturn, float& nLightnessReturn);
  cKorvexStatus ColorRGBtoHSLl(int32_t nRedValue, int32_t nGreenValue, int32_t nBlueValue,
                               float& nHueReturn, float& nSaturationReturn,
                               float& nLightnessReturn);
  cKorvexStatus ColorHSLtoRGB(float nHueValue, float nSaturationValue, float nLightnessValue,
                              uint8_t& nRed, uint8_t& nGreen, uint8_t& nBlue);
  cKorvexStatus ColorHSLtoRGBl(float nHueValue, float nSaturationValue, float nLightnessValue,
                               int32_t& nRed, int32_t& nGreen, int32_t& nBlue);
  // One ink of the native image as a new image for the caller (not made
  // native), 0 on failure: same size, pixel format and resolution, each pixel
  // gray at 255 minus its amount of that ink under ColorRGBtoCMYK, alpha kept.
  // Indexed images keep their indices and get a palette of those grays.
  int32_t GetColorChannelFlagsC();
  int32_t GetColorChannelFlagsM();
  int32_t GetColorChannelFlagsY();
  int32_t GetColorChannelFlagsK();
  // --- Colour reduction -------------------------------------------------------
  // Each replaces the native image by an indexed copy of the same size,
  // resolution and tags. Octree palette of at most nColors colours (8..256):
  cKorvexStatus Quantize8Bpp(int32_t nColors);
  cKorvexStatus ConvertTo8BppQ();  // Quantize8Bpp(256)
  // 256 grays: round((R + G + B) / 3), and round(round(0.3 R) + 0.59 G + 0.11 B).
  cKorvexStatus ConvertTo8Bpp();
  cKorvexStatus ConvertTo8Bpp2();
  // The 6 x 6 x 6 colour cube (levels 0, 51, ..., 255), index 36 r + 6 g + b.
  cKorvexStatus ConvertTo8Bpp210();
  // Nearest colour of the sixteen standard colours, or of up to 16 ARGB
  // colours of the caller (more are cut to the first 16; none is refused).
  cKorvexStatus ConvertTo4Bpp16();
  cKorvexStatus ConvertTo4BppPal(Array<int32_t>& nARGBColorsArray);
  // Black and white: white where R, G and B are all at least 126; the Fast
  // form is the raster layer's own conversion to its black and white palette
  // (under raster versions before 6, only opaque white stays white).
  cKorvexStatus ConvertTo1Bpp();
  cKorvexStatus ConvertTo1BppFast();

  // --- Drawing ------------------------------------------------------------------
  // Drawing on the native image. Coordinates are 1-based (DrawTextBox takes
  // its box as given); colours are ARGB (alpha in the high byte); pen widths
  // are pixels. Lines and outlines are centred on pixel centres, so a 1-pixel
  // line along y = 1 covers exactly the top row; fills, images and text boxes
  // have their edges on pixel boundaries. bAntiAlias smooths shape edges and
  // text. Font heights are in the unit of FontSetUnit (points by default, at
  // the image's vertical resolution); font names are looked up among the
  // installed families (Arial, Times New Roman and Courier New resolve to
  // their metric-compatible Liberation families); an unknown name gives
  // FontFamilyNotFound. Point arrays are two-dimensional Long arrays: point i
  // is (arPoints(i, 1), arPoints(i, 2)). Rectangles and straight lines may
  // reach any distance; curves, ellipses and skewed images reaching beyond
  // 4194304 pixels give ValueOverflow.
  cKorvexStatus DrawLine(int32_t nSrcX, int32_t nSrcY, int32_t nDstX, int32_t nDstY,
                         int32_t nPenWidth = 1, int32_t nColor = static_cast<int32_t>(0xFF000000),
                         bool bAntiAlias = true);
  // The same line ended by an arrow head at the destination point.
  cKorvexStatus DrawLineArrow(int32_t nSrcX, int32_t nSrcY, int32_t nDstX, int32_t nDstY,
                              int32_t nPenWidth = 1,
                              int32_t nColor = static_cast<int32_t>(0xFF000000),
                              bool bAntiAlias = true);
  // A line painted with a gradient from the start point (nStartColor) to the
  // end point (nEndColor), repeated beyond them.
  cKorvexStatus DrawGradientLine(int32_t nSrcX, int32_t nSrcY, int32_t nDstX, int32_t nDstY,
                                 int32_t nPenWidth, int32_t nStartColor, int32_t nEndColor,
                                 bool bAntiAlias = true);
  // A line painted with the image of a file, tiled from the image's origin.
  cKorvexStatus DrawTexturedLine(int32_t nSrcX, int32_t nSrcY, int32_t nDstX, int32_t nDstY,
                                 int32_t nPenWidth, const std::string& sTextureFilePath,
                                 bool bAntiAlias = true);
  // Arc of the ellipse in the rectangle; degrees, clockwise from the x axis.
  cKorvexStatus DrawArc(int32_t nDstX, int32_t nDstY, int32_t nWidth, int32_t nHeight,
                        int32_t nStartAngle, int32_t nSweepAngle, int32_t nPenWidth = 1,
                        int32_t nColor = static_cast<int32_t>(0xFF000000), bool bAntiAlias = true);
  cKorvexStatus DrawBezier(int32_t nX1, int32_t nY1, int32_t nX2, int32_t nY2, int32_t nX3,
                           int32_t nY3, int32_t nX4, int32_t nY4, int32_t nPenWidth = 1,
                           int32_t nColor = static_cast<int32_t>(0xFF000000),
                           bool bAntiAlias = true);
  // A smooth curve through the points (cardinal spline, tension 0.5); at
  // least two points.
  cKorvexStatus DrawCurves(Array<int32_t>& arPoints, int32_t nPenWidth = 1,
                           int32_t nColor = static_cast<int32_t>(0xFF000000),
                           bool bAntiAlias = true);
  cKorvexStatus DrawGradientCurves(Array<int32_t>& arPoints, int32_t nPenWidth,
                                   int32_t nStartColor, int32_t nEndColor, bool bAntiAlias = true);
  cKorvexStatus DrawRectangle(int32_t nDstX, int32_t nDstY, int32_t nWidth, int32_t nHeight,
                              int32_t nPenWidth = 1,
                              int32_t nColor = static_cast<int32_t>(0xFF000000),
                              bool bAntiAlias = true);
  cKorvexStatus DrawFillRectangle(int32_t nDstX, int32_t nDstY, int32_t nWidth, int32_t nHeight,
                                  int32_t nColor = static_cast<int32_t>(0xFF000000),
                                  bool bAntiAlias = true);
  // Rectangles turned by nAngle degrees (clockwise) about their top-left corner.
  cKorvexStatus DrawRotatedRectangle(int32_t nAngle, int32_t nDstX, int32_t nDstY, int32_t nWidth,
                                     int32_t nHeight, int32_t nPenWidth = 1,
                                     int32_t nColor = static_cast<int32_t>(0xFF000000),
                                     bool bAntiAlias = true);
  cKorvexStatus DrawRotatedFillRectangle(int32_t nAngle, int32_t nDstX, int32_t nDstY,
                                         int32_t nWidth, int32_t nHeight,
                                         int32_t nColor = static_cast<int32_t>(0xFF000000),
                                         bool bAntiAlias = true);
  // Circles and ellipses centred on the point: the bounding box starts
  // floor(size / 2) before it.
  cKorvexStatus DrawCircle(int32_t nDstX, int32_t nDstY, int32_t nDiameter,
                           int32_t nColor = static_cast<int32_t>(0xFF000000), int32_t nPenWidth = 1,
                           bool bAntiAlias = true);
  cKorvexStatus DrawFillCircle(int32_t nDstX, int32_t nDstY, int32_t nDiameter,
                               int32_t nColor = static_cast<int32_t>(0xFF000000),
                               bool bAntiAlias = true);
  cKorvexStatus DrawEllipse(int32_t nDstX, int32_t nDstY, int32_t nWidth, int32_t nHeight,
                            int32_t nColor = static_cast<int32_t>(0xFF000000),
                            int32_t nPenWidth = 1, bool bAntiAlias = true);
  cKorvexStatus DrawFillEllipse(int32_t nDstX, int32_t nDstY, int32_t nWidth, int32_t nHeight,
                                int32_t nColor = static_cast<int32_t>(0xFF000000),
                                bool bAntiAlias = true);
  // Grid lines every nXStep / nYStep pixels over the rectangle, edges
  // included; steps must be positive. Not antialiased.
  cKorvexStatus DrawGrid(int32_t nSrcX, int32_t nSrcY, int32_t nWidth, int32_t nHeight,
                         int32_t nXStep, int32_t nYStep, int32_t nPenWidth = 1,
                         int32_t nColor = static_cast<int32_t>(0xFF000000));
  // An ellipse of the given radii around the point, filled from nStartColor
  // at the hot point to nEndColor at its outline; the hot point's colour
  // fills the inner part scaled by nFocusScale (0..1). Returns LastStatus.
  cKorvexStatus DrawSpotLight(int32_t nDstX, int32_t nDstY, int32_t nRadiusX, int32_t nRadiusY,
                              int32_t nHotX, int32_t nHotY, float nFocusScale,
                              int32_t nStartColor, int32_t nEndColor);
  // Another image (its identifier) drawn scaled into a rectangle, composited
  // over the native image; nInterpolationMode as for Resize.
  cKorvexStatus DrawImage(int32_t nImageID, int32_t nDstX, int32_t nDstY, int32_t nDstWidth,
                          int32_t nDstHeight);
  cKorvexStatus DrawImage2(int32_t nImageID, int32_t nDstX, int32_t nDstY, int32_t nDstWidth,
                           int32_t nDstHeight, int32_t nInterpolationMode = 0);
  cKorvexStatus DrawImageRect(int32_t nImageID, int32_t nDstX, int32_t nDstY, int32_t nDstWidth,
                              int32_t nDstHeight, int32_t nSrcX, int32_t nSrcY,
                              int32_t nSrcWidth, int32_t nSrcHeight,
                              int32_t nInterpolationMode = 0);
  // As DrawImage2, each pixel's alpha first lowered by nTransparency (to at
  // least 0) inside the filter zone; the image itself is not changed.
  cKorvexStatus DrawImageTransparency(int32_t nImageID, int32_t nTransparency, int32_t nDstX,
                                      int32_t nDstY, int32_t nDstWidth, int32_t nDstHeight,
                                      int32_t nInterpolationMode = 0);
  // The whole image drawn into the parallelogram of three of its corners.
  cKorvexStatus DrawImageSkewing(int32_t nImageID, int32_t nXLeftTop, int32_t nYLeftTop,
                                 int32_t nXRightTop, int32_t nYRightTop, int32_t nXLeftBottom,
                                 int32_t nYLeftBottom);
  // The image at its own size at the top-left corner, only inside the
  // polygon through the points (at least three).
  cKorvexStatus DrawImageClipped(int32_t nImageID, Array<int32_t>& arPoints);
  // Text whose top-left corner is the point, on one line.
  cKorvexStatus DrawText(const std::string& sText, int32_t nDstX, int32_t nDstY,
                         int32_t nFontHeight = 12, int32_t nFontStyle = 0,
                         int32_t nColor = static_cast<int32_t>(0xFF000000),
                         const std::string& sFontName = "Arial", bool bAntiAlias = true);
  // The same on a filled box of nBackColor the size of the text's layout.
  cKorvexStatus DrawTextBackColor(const std::string& sText, int32_t nDstX, int32_t nDstY,
                                  int32_t nFontHeight = 12, int32_t nFontStyle = 0,
                                  int32_t nColor = static_cast<int32_t>(0xFF000000),
                                  const std::string& sFontName = "Arial", int32_t nBackColor = -1,
                                  bool bAntiAlias = true);
  // Text turned by nAngle degrees (clockwise) about the point.
  cKorvexStatus DrawRotatedText(int32_t nAngle, const std::string& sText, int32_t nDstX,
                                int32_t nDstY, int32_t nFontHeight = 12, int32_t nFontStyle = 0,
                                int32_t nColor = static_cast<int32_t>(0xFF000000),
                                const std::string& sFontName = "Arial", bool bAntiAlias = true);
  cKorvexStatus DrawRotatedTextBackColor(int32_t nAngle, const std::string& sText, int32_t nDstX,
                                         int32_t nDstY, int32_t nFontHeight = 12,
                                         int32_t nFontStyle = 0,
                                         int32_t nColor = static_cast<int32_t>(0xFF000000),
                                         const std::string& sFontName = "Arial",
                                         int32_t nBackColor = -1, bool bAntiAlias = true);
  // Text painted with a horizontal gradient across its layout box.
  cKorvexStatus DrawTextGradient(const std::string& sText, int32_t nDstX, int32_t nDstY,
                                 int32_t nStartColor, int32_t nEndColor, int32_t nFontHeight = 12,
                                 int32_t nFontStyle = 0, const std::string& sFontName = "Arial",
                                 bool bAntiAlias = true);
  // Text painted with a tiled image: from a file, or an image identifier.
  cKorvexStatus DrawTextTexture(const std::string& sText, int32_t nDstX, int32_t nDstY,
                                const std::string& sTextureFilePath, int32_t nFontHeight = 12,
                                int32_t nFontStyle = 0, const std::string& sFontName = "Arial",
                                bool bAntiAlias = true);
  cKorvexStatus DrawTextTextureFromImage(const std::string& sText, int32_t nDstX, int32_t nDstY,
                                         int32_t nImageID, int32_t nFontHeight = 12,
                                         int32_t nFontStyle = 0,
                                         const std::string& sFontName = "Arial",
                                         bool bAntiAlias = true);
  // Text wrapped inside the box (nLeft, nTop: 0-based), aligned near (0),
  // centre (1) or far (2) both across and down, and cut off at the box;
  // bDrawTextBox also outlines the box in black.
  cKorvexStatus DrawTextBox(const std::string& sText, int32_t nLeft, int32_t nTop, int32_t nWidth,
                            int32_t nHeight, int32_t nFontHeight = 12, int32_t nAlignment = 1,
                            int32_t nFontStyle = 0,
                            int32_t nColor = static_cast<int32_t>(0xFF000000),
                            const std::string& sFontName = "Arial", bool bDrawTextBox = false,
                            bool bAntiAlias = true);
  // nUnitMode: World 0, Display 1, Pixel 2, Point 3, Inch 4, Document 5, Millimeter 6.
  void FontSetUnit(int32_t nUnitMode);
  int32_t FontGetUnit();
  // Installed font families, numbered from 1; "" past the end.
  int32_t FontGetCount();
  std::string FontGetName(int32_t nFontNo);
  bool FontIsStyleAvailable(const std::string& sFontName, int32_t nFontStyle = 0);

  // --- Barcodes ---------------------------------------------------------------
  // Linear barcodes drawn on the native image in nColor (ARGB): (nDstX, nDstY)
  // is the 1-based top-left corner of the first bar, nHeight the bar height
  // in pixels (at least 1, else InvalidParameter). The narrow module is
  // round(nHeight / 35) pixels wide (at least 1), wide elements two modules;
  // leave a quiet zone of about ten modules on both sides for scanners.
  // The draw members ignore leading and trailing spaces of sCode. A text the
  // symbology cannot encode gives InvalidBarCode and draws nothing; without
  // a native image nothing is drawn and LastStatus is returned.
  // EAN-13: 12 digits (the check digit is appended) or 13 with a correct
  // check digit. With nFontHeight > 0 the digits are printed under the bars
  // in Arial of that height (FontSetUnit's unit), and the guard bars reach
  // round(nHeight / 10) pixels below the others.
  cKorvexStatus BarCodeDrawEAN13(const std::string& sCode, int32_t nDstX, int32_t nDstY,
                                 int32_t nHeight, int32_t nFontHeight = 0,
                                 int32_t nColor = static_cast<int32_t>(0xFF000000));
  // Code 39: 1 to 39 characters of 0-9, A-Z, "-", ".", space, "$", "/", "+",
  // "%"; any other character is drawn as a space. bAddCheckSum appends the
  // modulo-43 check character.
  cKorvexStatus BarCodeDraw39(const std::string& sCode, int32_t nDstX, int32_t nDstY,
                              int32_t nHeight, bool bAddCheckSum = false,
                              int32_t nColor = static_cast<int32_t>(0xFF000000));
  // Interleaved 2 of 5: digits only; bAddCheckSum appends the check digit,
  // then a "0" is appended when the count of digits is odd.
  cKorvexStatus BarCodeDraw25i(const std::string& sCode, int32_t nDstX, int32_t nDstY,
                               int32_t nHeight, bool bAddCheckSum = false,
                               int32_t nColor = static_cast<int32_t>(0xFF000000));
  // Check characters; they keep no state and leave GetStat as it was. A text
  // that is not what the symbology takes gives "" (False for IsValid).
  // EAN-13 (spaces around sCode ignored): for 12 digits, the last data digit
  // followed by the check digit; for 13 digits, their last two as given.
  std::string BarCodeGetChecksumEAN13(const std::string& sCode);
  // True when sCode is 13 digits ending with their correct check digit.
  bool BarCodeIsValidEAN13(const std::string& sCode);
  // The modulo-43 check character of the text as given ("0" for "").
  std::string BarCodeGetChecksum39(const std::string& sCode);
  // The check digit of a digit text.
  std::string BarCodeGetChecksum25i(const std::string& sCode);

  // --- PDF documents ----------------------------------------------------------
  // One document at a time, built page by page and written as it grows (to a
  // temporary file that replaces sFilePath only when PdfSavePdf completes).
  // Coordinates and sizes are in the unit of PdfSetMeasurementUnits (0 points,
  // 1 millimetres, 2 centimetres, 3 inches), origin at the bottom-left corner
  // of the page; line widths are points. Colours are RGB (red in the low
  // byte); 0 is black. Without an open document the members do nothing and
  // record WrongState, and so do drawing and text members outside a page and
  // font and image additions inside one.
  bool PdfNewPdf(const std::string& sFilePath, const std::string& sTitle = "",
                 const std::string& sCreator = "Korvex ToolKit",
                 const std::string& sAuthor = "Korvex ToolKit", const std::string& sProducer = "");
  // Completes the file; a write error is left in GetStat.
  void PdfSavePdf();
  int32_t PdfNewPage();
  void PdfEndPage();
  int32_t PdfGetCurrentPage();
  void PdfSetMeasurementUnits(int32_t nUnitValue);
  // Size of the pages begun afterwards.
  void PdfSetPageDimensions(float nWidth, float nHeight);
  // 0 portrait, 1 landscape (pages turned by 90 degrees).
  void PdfSetPageOrientation(int32_t nOrientation);
  int32_t PdfGetPageOrientation();
  void PdfSetPageMargin(float nMargin);
  float PdfGetPageMargin();
  // Flate level 0..9 of image samples (9 by default; 0 stores them raw).
  void PdfSetCompressionLevel(int32_t nLevel);
  int32_t PdfGetCompressionLevel();
  void PdfSetTextColor(int32_t nRGBColor);
  void PdfSetCharSpacing(float nValue);
  void PdfSetWordSpacing(float nValue);
  void PdfSetTextHorizontalScaling(float nValue);
  // Fonts and images are added while no page is open; the result is the id
  // to draw with, 0 when the font is not installed or the image unreadable.
  int32_t PdfAddFont(const std::string& sFontName, bool bBold = false, bool bItalic = false);
  int32_t PdfAddT1Font(const std::string& sFontName, bool bBold = false, bool bItalic = false);
  int32_t PdfAddImageFromFile(const std::string& sImagePath);
  int32_t PdfAddImageFromImageID(int32_t nImageID);
  // Size of an added image from its pixels and resolution (below 1 dpi: 72).
  float PdfGetImageWidth(int32_t nPdfImageID);
  float PdfGetImageHeight(int32_t nPdfImageID);
  void PdfDrawImage(int32_t nPdfImageID, float nDstX, float nDstY, float nWidth, float nHeight);
  // nTextAlign: 0 left, 1 right, 2 centre of the point; nRotation in degrees.
  void PdfDrawText(float nDstX, float nDstY, const std::string& sText, int32_t nFontID,
                   float nFontSize, float nRotation = 0);
  void PdfDrawTextAlign(float nDstX, float nDstY, const std::string& sText, int32_t nFontID,
                        float nFontSize, int32_t nTextAlign);
  float PdfGetTextWidth(const std::string& sText, int32_t nFontID, float nFontSize);
  void PdfDrawLine(float nSrcX, float nSrcY, float nDstX, float nDstY, float nBorderWidth,
                   int32_t nColor = 0);
  // nRay: radius of rounded corners.
  void PdfDrawRectangle(float nDstX, float nDstY, float nWidth, float nHeight, float nBorderWidth,
                        int32_t nColor = 0, float nRay = 0);
  void PdfDrawFillRectangle(float nDstX, float nDstY, float nWidth, float nHeight,
                            float nBorderWidth, int32_t nColor = 0, float nRay = 0);
  void PdfDrawCircle(float nDstX, float nDstY, float nRay, float nBorderWidth, int32_t nColor = 0);
  void PdfDrawFillCircle(float nDstX, float nDstY, float nRay, float nBorderWidth,
                         int32_t nColor = 0);
  // A Bezier curve from point 1 to point 3, pulled towards point 2.
  void PdfDrawCurve(float nDstX1, float nDstY1, float nDstX2, float nDstY2, float nDstX3,
                    float nDstY3, float nBorderWidth, int32_t nColor = 0);
  // An elliptic arc (nRatio: height / width) from nStartAngle to nEndAngle
  // degrees, closed to the centre when bPie is set.
  void PdfDrawArc(float nDstX, float nDstY, float nRay, float nBorderWidth, float nStartAngle = 0,
                  float nEndAngle = 360, float nRatio = 1.0f, bool bPie = false,
                  int32_t nColor = 0);
  // The native image as a one-page PDF the size of the image at its
  // resolution (below 1 dpi: 72), or a multi-page TIFF page by page; false
  // when no page could be written. Never disturbs an open PDF document.
  bool SaveAsPdf(const std::string& sFilePath);
  // Every page of the native multi-page TIFF as one PDF page each; 0 on
  // success, -1 no native image, -2 a page could not be selected, -3 the file
  // could not be created or written, -4 a page image could not be added. A
  // failed conversion leaves no file. The last page stays selected.
  int32_t PdfSaveNativeMultiTIFFtoPDF(const std::string& sPdfFileNameDst, bool bCompress = true);

  // --- Metadata tags ------------------------------------------------------------
  // The property items (EXIF, GPS and TIFF tags) of the native image, numbered
  // from 1 in the order of its property list. Numbers outside 1..TagsCount
  // give id 0, type 7, empty text, or PropertyNotFound for TagsDelete. Names
  // are those of the property tag enumeration ("EquipMake", "ExifDTOrig"),
  // or the id in hexadecimal ("9C9B") for ids outside it. Values read as
  // text: BYTE, SHORT and LONG elements as decimals, rationals as "n/d",
  // UNDEFINED bytes as hexadecimal pairs, joined by ", "; ASCII as the text.
  int32_t TagsCount();
  int32_t TagsGetID(int32_t nTagNo);
  int32_t TagsGetType(int32_t nTagNo);
  std::string TagsGetName(int32_t nTagNo);
  std::string TagsGetValue(int32_t nTagNo);
  cKorvexStatus TagsDelete(int32_t nTagNo);
  int32_t ExifTagsCount();
  std::string ExifTagsGetName(int32_t nTagNo);
  std::string ExifTagsGetValue(int32_t nTagNo);
  // Adds or replaces the item nTagId (negative ids are read as id + 65536)
  // with a value parsed from text: comma-separated decimals for Byte (0..255),
  // Short (0..65535) and Long (0..4294967295), "n/d" or plain numbers for
  // Rational, any text for ASCII (written with a terminating NUL). A value
  // that does not parse or fit gives InvalidParameter and writes nothing;
  // without a native image the last status is returned.
  cKorvexStatus TagsWriteTypeByte(int32_t nTagId, const std::string& sTagValue);
  cKorvexStatus TagsWriteTypeShort(int32_t nTagId, const std::string& sTagValue);
  cKorvexStatus TagsWriteTypeLong(int32_t nTagId, const std::string& sTagValue);
  cKorvexStatus TagsWriteTypeRational(int32_t nTagId, const std::string& sTagValue);
  cKorvexStatus TagsWriteTypeASCII(int32_t nTagId, const std::string& sTagValue);
  // Whether images rebuilt by conversions, geometry and clones keep the
  // property items of the image they replace (on by default).
  void TagsSetPreserve(bool bPreserve);
  // --- Document recognition -----------------------------------------------
  // Families of scanned documents (a form, the letters of one sender) are
  // learned from sample images and new images are told apart by the family
  // they resemble most. An image is reduced to a histogram of the 3 x 3
  // patterns of opaque black pixels on a grid of every third pixel, its area
  // and the black of its top third; a family keeps the running means of
  // what it has learned. Families are numbered from 1 in order of creation.
  // Members taking a family id record InvalidParameter for an invalid one
  // and change nothing (getters then give 0 or "").
  void RADNewConfig();
  // Appends a family (name trimmed of spaces); returns its id.
  int32_t RADNewFamily(const std::string& sFamilyName);
  // Later families move down one id.
  void RADDeleteFamily(int32_t nFamilyID);
  // Forgets what the family learned and its tag; the name stays.
  void RADReinitFamily(int32_t nFamilyID);
  // Learns the native image into a family; returns the status of the pixel
  // access (0 = learned).
  int32_t RADLearnImage(int32_t nFamilyID);
  // The family the native image resembles most (0 when there is none), and
  // its relevance, 0..100 rounded half to even. A family that has learned
  // nothing scores 0.
  int32_t RADGetFamilyDocID();
  int32_t RADGetLastRelevance();
  int32_t RADGetFamilyCount();
  int32_t RADGetImageCountInFamily(int32_t nFamilyID);
  std::string RADGetFamilyNameFromID(int32_t nID);
  std::string RADGetFamilyTagFromID(int32_t nID);
  void RADSetFamilyTagFromID(int32_t nID, const std::string& sTag);
  // The families as a binary configuration file, written to a temporary
  // file renamed into place (names and tags in code page 1252, each at
  // most 65535 bytes, else ValueOverflow); loading replaces every family,
  // and only when the whole file is valid (else GenericError).
  void RADSaveConfig(const std::string& sPathConfigFile);
  void RADLoadConfig(const std::string& sPathConfigFile);
  // Releases the analysis buffers and spare storage; families stay.
  void RADFreeMemory();
  // Learns every image file of a folder (name order, hidden files and
  // subfolders passed over, first page of multi-page files; files that are
  // not images skipped) into the family named after the folder, created
  // when no family has that name; then, when sCompilationFilePath is given,
  // writes all families there as RADSaveConfig does. Families change only
  // when the whole run succeeds. Returns the number of images learned.
  int32_t RADLearnDocuments(const std::string& sDirectory,
                            const std::string& sCompilationFilePath = "");
  // Adds the families of a configuration file to the current ones: a family
  // of the same name takes in the file's images (counts add, means weighted
  // by them), the others are appended. Validity as RADLoadConfig.
  void RADLoadCompilationFile(const std::string& sCompilationFilePath);
  // --- Printing -------------------------------------------------------------
  // Printers are the built-in "Korvex PDF" printer, listed first, which
  // writes each job as "<document name>.pdf" into its output folder, and the
  // CUPS destinations. Geometry is in millimetres from the top-left of the
  // printable area (the paper less the printer's unprintable bands). The
  // print members print the native image, a multi-page TIFF its page range
  // one sheet per page; the outcome of the last print is read with
  // PrintGetStat (a job the printer refuses or does not complete is never
  // Ok; a printable area of zero or less prints nothing: InvalidParameter).
  // Own size (resolutions below 1 dpi count as 72), reduced to the printable
  // area when larger, placed by the image alignment.
  void PrintImage();
  // Scaled to fit the printable area, keeping the aspect ratio.
  void PrintImageFit();
  // At that position and size (a size of 0 measures the image).
  void PrintImageBySize(float nDstX, float nDstY, float nWidth, float nHeight);
  // PrintSetActivePrinter, then the print when the printer was found.
  bool PrintImage2Printer(const std::string& sPrinterName);
  bool PrintImageBySize2Printer(const std::string& sPrinterName, float nDstX, float nDstY,
                                float nWidth, float nHeight);
  // False, the active printer unchanged, when no printer has that name; a
  // new active printer starts from its own default settings.
  bool PrintSetActivePrinter(const std::string& sPrinterName);
  // Name of the active printer.
  std::string PrintGetDefaultPrinter();
  int32_t PrintGetPrintersCount();
  // Printers numbered from 1; "" out of range.
  std::string PrintGetPrinterName(int32_t nPrinterNo);
  // Paper codes 1..41 (1 Letter, 5 Legal, 8 A3, 9 A4, 11 A5 ...); other
  // values are ignored. A user size reads back as 256.
  void PrintSetStdPaperSize(int32_t nPaperSize);
  int32_t PrintGetPaperSize();
  void PrintSetUserPaperSize(float nPaperWidth, float nPaperHeight);
  // The sheet as it lies (landscape turns it), in mm.
  float PrintGetPaperWidth();
  float PrintGetPaperHeight();
  // 1 portrait, 2 landscape.
  void PrintSetOrientation(int32_t nOrientation);
  // 1 one-sided, 2 two-sided long-edge binding, 3 two-sided short-edge binding.
  void PrintSetDuplexMode(int32_t nDuplexMode);
  int32_t PrintGetDuplexMode();
  void PrintSetCopies(int32_t nCopies);
  int32_t PrintGetCopies();
  // -1 draft, -2 low, -3 medium, -4 high, or a resolution in dpi.
  void PrintSetQuality(int32_t nQuality);
  int32_t PrintGetQuality();
  // 1 monochrome, 2 colour.
  void PrintSetColorMode(int32_t nColorMode);
  int32_t PrintGetColorMode();
  // 1 upper, 2 lower, 3 middle, 4 manual, 5 envelope, 7 automatic ...
  void PrintSetPaperBin(int32_t nPaperBin);
  int32_t PrintGetPaperBin();
  // Pages of a multi-page TIFF, numbered from 1 (lowered to its page
  // count); 0, 0 prints the first page only.
  void PrintSetFromToPage(int32_t nFrom, int32_t nTo);
  // nImageAlignment: MiddleLeft 0, MiddleRight 1, MiddleCenter 2, TopLeft 4,
  // TopRight 5, TopCenter 6, BottomLeft 7, BottomRight 8, BottomCenter 9
  // (3 places like 4, and 6 at the top-left corner as well).
  void PrintSetImageAlignment(int32_t nImageAlignment);
  int32_t PrintGetImageAlignment();
  // Job name, and the file name the built-in printer writes.
  void PrintSetDocumentName(const std::string& sDocumentName);
  std::string PrintGetDocumentName();
  // The unprintable left and top bands of the active printer's paper, in mm.
  void PrintGetMargins(float& nLeftMargin, float& nTopMargin);
  cKorvexStatus PrintGetStat();
  // Folder the built-in printer writes into; "" = the user's documents
  // folder when it exists, else the current folder.
  void PrintSetOutputFolder(const std::string& sFolder);
  std::string PrintGetOutputFolder();
  // What the last job became: the file the built-in printer wrote, or the
  // CUPS job id; "" before any.
  std::string PrintGetLastJob();

  // --- HTTP download -----------------------------------------------------------
  // GET sPath from sHost:nHTTPPort and decode it (the engine keeps a copy of
  // the bytes). The host may carry "HTTP://" (any case); "HTTPS://" uses TLS
  // checked against the system's certificate authorities, port 80 then
  // meaning 443. Redirects are followed (at most 5). Returns the new image, 0
  // on failure: FileNotFound when the server cannot be reached or answers
  // with an error status; GenericError when the answer has no length, a
  // length above URLGetMaxLength, or the body is cut short or stalls past the
  // timeout; the decoder's status otherwise. A call while a download of this
  // engine runs returns 0 and leaves the status alone.
  int32_t CreateImageFromURL(const std::string& sHost, const std::string& sPath,
                             int32_t nHTTPPort = 80);
  // Largest announced length accepted, in bytes; values below 1 are
  // ignored. The process's download limit (korvex/limits.h, 256 MiB by
  // default) is the default and caps what this reads back and allows.
  void URLSetMaxLength(int32_t nBytes);
  int32_t URLGetMaxLength();
  // Seconds allowed to connect and between two received bytes (default 30);
  // values below 1 are ignored.
  void URLSetTimeout(int32_t nSeconds);
  int32_t URLGetTimeout();
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
