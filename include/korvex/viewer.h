// kxViewer: the viewer control. It shows one image of the thread's image
// table inside a host window, with zoom modes, two scroll bars and events.
//
// The viewer knows no toolkit: it draws into, and asks things of, a host
// (see src/viewer/viewer_host.h; a headless host renders into memory). All
// geometry is in client-area pixels. Every member records its outcome as the
// viewer's last status and, where it returns a ViewerStatus, returns it;
// nothing is thrown. Properties are get_/put_ pairs: each setter tells the
// host the property changed, under the property's name.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <string>

#include "korvex/array.h"
#include "korvex/host.h"
#include "korvex/status.h"
#include "korvex/stream.h"

namespace korvex {

// 0..20 are the raster layer's codes passed through unchanged, as in
// cKorvexStatus (korvex/status.h); the codes above 20 are the viewer's own.
enum class ViewerStatus : int32_t {
  KORVEX_RASTER_STATUS_CODES(KORVEX_STATUS_ENUMERATOR)  // 0 Ok .. 20 PropertyNotSupported
  PdfCanNotOpenFile = 21,
  PdfCanNotDecrypt = 22,
  PdfNeedPassword = 23,
  PdfBadPassword = 24,
  InvalidTemporaryFileLength = 25,
  ErrorCreatingTemporaryFile = 26,
  PdfRenderingPageError = 30,
  PdfErrorGettingPageHandle = 31,
  PdfUnexpectedError = 35,
};

// The file type PDF pages are rendered to, and where (only files are used).
enum class ViewerPdfRenderingMode : int32_t { RenderingModeBMP = 0, RenderingModeJPEG = 1 };
enum class ViewerPdfBufferingMode : int32_t { BufferingModeFile = 0, BufferingModeMemory = 1 };

enum class ViewerZoomMode : int32_t {
  Zoom100 = 1,
  ZoomFitTopage = 2,
  ZoomWidthPage = 3,
  ZoomCustom = 4,
  ZoomHeightPage = 5,
  ZoomToViewer = 6,
};

enum class ViewerImagePosition : int32_t {
  ImagePositionMiddleLeft = 0,
  ImagePositionMiddleRight = 1,
  ImagePositionMiddleCenter = 2,
  ImagePositionTopLeft = 4,
  ImagePositionTopRight = 5,
  ImagePositionTopCenter = 6,
  ImagePositionBottomLeft = 7,
  ImagePositionBottomRight = 8,
  ImagePositionBottomCenter = 9,
};

enum class ViewerBackStyleMode : int32_t { bkTransparent = 0, bkOpaque = 1 };
enum class ViewerAppearance : int32_t { AppearanceFlat = 0, Appearance3D = 1 };
enum class ViewerBorderStyle : int32_t { BorderNone = 0, BorderFixedSingle = 1 };

// --- Mouse, keyboard and selection ---------------------------------------------------
// What the left button does.
enum class ViewerMouseMode : int32_t {
  MouseModeDefaultCursor = 0,  // events only
  MouseModeAreaSelection = 1,
  MouseModeMoveHand = 2,
  MouseModeAutoZoom = 3,  // draw a rectangle, zoom to it on release
};

enum class ViewerRectBorderStyle : int32_t {
  RectBorderStyleSolid = 1,
  RectBorderStyleDash = 2,
  RectBorderStyleDot = 3,
  RectBorderStyleDashDot = 4,
  RectBorderStyleDashDotDot = 5,
};

// The 16 binary raster operations a border is drawn with (value = R2 code).
enum class ViewerRectDrawMode : int32_t {
  RectDrawModeBlackNess = 1,
  RectDrawModeNotMergePen = 2,
  RectDrawModeMaskNotPen = 3,
  RectDrawModeNotCopyPen = 4,
  RectDrawModeMaskPenNot = 5,
  RectDrawModeInvert = 6,
  RectDrawModeXorPen = 7,
  RectDrawModeNotMaskPen = 8,
  RectDrawModeMaskPen = 9,
  RectDrawModeNotXorPen = 10,
  RectDrawModeNop = 11,
  RectDrawModeMergeNotPen = 12,
  RectDrawModeCopypen = 13,
  RectDrawModeMergePenNot = 14,
  RectDrawModeMergePen = 15,
  RectDrawModeWhiteness = 16,
};

// Events of the control; the value is the event's dispatch id.
enum class ViewerEvent : int32_t {
  KeyPress = 1,
  KeyUp = 2,
  KeyDown = 3,
  ZoomChange = 4,
  ZoomChanged = 5,
  MouseMove = 6,
  Click = 7,
  DblClick = 8,
  MouseDown = 9,
  MouseUp = 10,
  Displayed = 11,
  Scroll = 12,
  PageChange = 13,
  Resize = 14,
  PictureChange = 15,
  DataReceieved = 16,
  DataReceived = 17,
};

// The arguments of one event, in declaration order. They are all numbers
// (Integer, Long or Single), held here as doubles; a handler may change them
// (mouse and key events pass them by reference).
struct ViewerEventArgs {
  std::array<double, 4> values{};
  int count = 0;
};

class ViewerEventSink {
 public:
  virtual ~ViewerEventSink() = default;
  virtual void OnViewerEvent(ViewerEvent event, ViewerEventArgs& args) = 0;
};

// --- Second viewer control ---------------------------------------------------------------
// The two viewer controls are one implementation under two identities: the
// same members, behaviour and events, told apart by their automation identity
// and by the dispatch ids of their members and events.
enum class ViewerControl : int32_t { kxViewer = 0, KxViewerCnt = 1 };
// The dispatch id `event` is raised with by a control of that identity
// (ViewerEvent's own value for kxViewer); 0 for a value that is no event.
int32_t ViewerEventDispatchId(ViewerControl control, ViewerEvent event);

namespace viewer {
class ViewerHost;
class Core;
}  // namespace viewer
class PropertyBag;

class kxViewer {
 public:
  explicit kxViewer(std::shared_ptr<viewer::ViewerHost> host);
  virtual ~kxViewer();
  kxViewer(const kxViewer&) = delete;
  kxViewer& operator=(const kxViewer&) = delete;

  // --- Zoom ------------------------------------------------------------------
  // ZoomMode: 1 100 %, 2 fit to page, 3 page width, 4 custom, 5 page height,
  // 6 stretched to the viewer. Setting 1, 2, 3, 5 or 6 lays the image out again.
  int32_t get_ZoomMode() const;
  void put_ZoomMode(int32_t value);
  // Displayed pixels per image pixel, horizontally. Setting a value > 0
  // (capped at GetMaxZoom when an image is shown) selects the custom mode.
  double get_Zoom() const;
  void put_Zoom(double value);
  // Percent added or removed by ZoomIN/ZoomOUT; values <= 0 are ignored.
  int32_t get_ZoomStep() const;
  void put_ZoomStep(int32_t value);
  ViewerStatus SetZoom100();
  ViewerStatus SetZoomFit();
  ViewerStatus SetZoomWidth();
  ViewerStatus SetZoomHeight();
  ViewerStatus SetZoomViewer();
  // Custom zoom in percent: ignored unless 0 < nZoomPercent / 100 <= GetMaxZoom.
  ViewerStatus SetZoom(int32_t nZoomPercent);
  ViewerStatus ZoomIN();
  ViewerStatus ZoomOUT();
  // Largest accepted Zoom: every scroll range stays within 16 bits.
  double GetMaxZoom() const;

  // --- Scrolling ---------------------------------------------------------------
  bool get_ScrollBars() const;
  void put_ScrollBars(bool value);
  int16_t get_ScrollSmallChange() const;
  void put_ScrollSmallChange(int16_t value);
  int16_t get_ScrollLargeChange() const;
  void put_ScrollLargeChange(int16_t value);
  bool get_ScrollOptimization() const;
  void put_ScrollOptimization(bool value);
  // ViewerImagePosition: where the scroll bars start when the image is larger than the view.
  int32_t get_ImageAlignment() const;
  void put_ImageAlignment(int32_t value);
  int32_t GetHScrollBarPosition() const;
  int32_t GetVScrollBarPosition() const;
  int32_t GetHScrollBarMaxPosition() const;
  int32_t GetVScrollBarMaxPosition() const;
  // Positions are clamped to 0 .. the bar's maximum; the image scrolls and Scroll is raised.
  void SetHScrollBarPosition(int32_t nNewHPosition);
  void SetVScrollBarPosition(int32_t nNewVPosition);
  void SetHVScrollBarPosition(int32_t nNewHPosition, int32_t nNewVPosition);

  // --- Drawing -------------------------------------------------------------------
  // ViewerSmoothingMode and ViewerInterpolationMode (the raster values), used when Zoom is not 1.
  int32_t get_SmoothingMode() const;
  void put_SmoothingMode(int32_t value);
  int32_t get_InterpolationMode() const;
  void put_InterpolationMode(int32_t value);
  // While True, painting and clearing are suppressed.
  bool get_LockScreen() const;
  void put_LockScreen(bool value);
  // When False, failures are also shown in a message box.
  bool get_SilentMode() const;
  void put_SilentMode(bool value);
  // Ignore the image's resolution ratio (a fax is then shown square-pixelled).
  bool get_SkipImageResolution() const;
  void put_SkipImageResolution(bool value);
  // Background colour (COLORREF: red in the low byte).
  int32_t get_BackColor() const;
  void put_BackColor(int32_t value);
  // ViewerBackStyleMode: 1 opaque, 0 transparent (the host shows through).
  int32_t get_BackStyle() const;
  void put_BackStyle(int32_t value);
  int32_t get_BorderStyle() const;
  void put_BorderStyle(int32_t value);
  int32_t get_Appearance() const;
  void put_Appearance(int32_t value);
  bool get_ClipControls() const;
  void put_ClipControls(bool value);
  bool get_Enabled() const;
  void put_Enabled(bool value);
  // The control's window and its device context (handles of korvex/host.h;
  // the engine can draw into them or capture them); 0 without a window.
  int32_t get_hwnd() const;
  int32_t get_hdc() const;
  ViewerStatus Redraw();
  void Refresh();
  void Clear();

  // --- The shown image (read-only: setting them does nothing) ---------------------
  int32_t get_PictureWidth() const;
  void put_PictureWidth(int32_t value);
  int32_t get_PictureHeight() const;
  void put_PictureHeight(int32_t value);
  int32_t get_HorizontalResolution() const;
  void put_HorizontalResolution(int32_t value);
  int32_t get_VerticalResolution() const;
  void put_VerticalResolution(int32_t value);
  // Client position of the image's top-left corner (<= 0 when scrolled, > 0 when centred).
  int32_t get_ImageLeftCoord() const;
  void put_ImageLeftCoord(int32_t value);
  int32_t get_ImageTopCoord() const;
  void put_ImageTopCoord(int32_t value);

  // --- Coordinates -------------------------------------------------------------------
  int32_t GetPictureLeft() const;
  int32_t GetPictureTop() const;
  // Client pixel to 1-based image pixel, and back.
  void CoordObjectToImage(int32_t nObjectX, int32_t nObjectY, int32_t& nImageX, int32_t& nImageY);
  void CoordImageToObject(int32_t nImageX, int32_t nImageY, int32_t& nObjectX, int32_t& nObjectY);

  // --- Documents: sources, pages and frames, GIF animation -----------------------------
  // Every DisplayFrom... first closes the shown document, then shows the new
  // image at page 1, laid out in the current zoom mode. A failing source
  // leaves no document and returns its status.
  ViewerStatus DisplayFromFile(const std::string& sFilePath);
  // Shows an open image of the thread without owning it: closing the viewer
  // leaves it open. 0 gives InvalidParameter.
  ViewerStatus DisplayFromImageRef(int32_t nImageID);
  ViewerStatus DisplayFromHBitmap(int32_t nHbitmap);
  ViewerStatus DisplayFromClipboardData();
  // A packed DIB block; the caller keeps the block.
  ViewerStatus DisplayFromGdiDib(int32_t nGdiDibRef);
  ViewerStatus DisplayFromStdPicture(const host::PicturePtr& oStdPicture);
  ViewerStatus DisplayFromStream(const std::shared_ptr<Stream>& oStream);
  // Encoded image bytes; returns the status as a number.
  int32_t DisplayFromByteArray(Array<uint8_t>& arBytes);
  // Closes the document and clears the client area (PageChange follows).
  void ClosePicture();
  // Closes the document but leaves the last picture on screen, without an event.
  void Close2Picture();
  // The host closed the shown image itself: the viewer forgets it, disposing nothing.
  void PictureClosed();
  // Pages of a TIFF, frames of a GIF (1-based); requests outside 1..NumPages are ignored.
  ViewerStatus DisplayFrame(int32_t nFrame);
  ViewerStatus DisplayNextFrame();
  ViewerStatus DisplayPreviousFrame();
  ViewerStatus DisplayFirstFrame();
  ViewerStatus DisplayLastFrame();
  int32_t GetTotalFrame();
  // Read-only: setting them does nothing.
  int32_t get_NumPages() const;
  void put_NumPages(int32_t value);
  int32_t get_Currentpage() const;
  void put_Currentpage(int32_t value);
  // Plays an animated GIF on the host's timer, each frame for its delay, for ever.
  ViewerStatus PlayGif();
  void StopGif();
  // True: an animated GIF plays as soon as it is shown.
  bool get_AnimateGIF() const;
  void put_AnimateGIF(bool value);
  // True: a file is shown from a private temporary copy, so the host's file stays free.
  bool get_imageForceTemporaryMode() const;
  void put_imageForceTemporaryMode(bool value);
  // Rotations and flips of the shown page. A page of a multi-page image is
  // turned in a private 24-bit copy; a single-page image is turned in place.
  ViewerStatus Rotate90();
  ViewerStatus Rotate180();
  ViewerStatus Rotate270();
  ViewerStatus FlipX();
  ViewerStatus FlipX90();
  ViewerStatus FlipX180();
  ViewerStatus FlipX270();
  // The document's image (0 without one).
  int32_t GetNativeImage();
  // The shown image, or a rectangle of it (1-based origin), on the clipboard.
  void Copy2Clipboard();
  void CopyRegion2Clipboard(int32_t nXsrc, int32_t nYsrc, int32_t nWidth, int32_t nHeight);
  // The metadata tags of the document's image, numbered from 1.
  int32_t TagsCount();
  std::string TagsGetName(int32_t nTagNo);
  std::string TagsGetValue(int32_t nTagNo);
  // The background colour (COLORREF), as BackColor.
  void SetBackGroundColor(int32_t nRGBColor);
  double GetVersion();
  // Releases the document and the viewer's raster session; runs once.
  void Terminate();
  // --- Mouse, keyboard and selection ------------------------------------------------
  // ViewerMouseMode; values outside 0..3 are ignored, 0 and 2 clear the rectangle.
  int32_t get_MouseMode() const;
  void put_MouseMode(int32_t value);
  // The selection rectangle's border: colour (COLORREF), width in pixels
  // (at least 1), ViewerRectBorderStyle and ViewerRectDrawMode; other values are ignored.
  int32_t get_RectBorderColor() const;
  void put_RectBorderColor(int32_t value);
  int16_t get_RectBorderSize() const;
  void put_RectBorderSize(int16_t value);
  int32_t get_RectBorderStyle() const;
  void put_RectBorderStyle(int32_t value);
  int32_t get_RectDrawMode() const;
  void put_RectDrawMode(int32_t value);
  // The wheel and the keypad's + and - keys zoom by ZoomStep.
  bool get_EnableMouseWheel() const;
  void put_EnableMouseWheel(bool value);
  // The right button pops the context menu up over a shown image.
  bool get_EnableMenu() const;
  void put_EnableMenu(bool value);
  // True when a selection rectangle wider and taller than one pixel is drawn.
  bool isRectDrawed() const;
  // The rectangle in 1-based image pixels; 1, 1, 0, 0 without one.
  void GetRectValues(int32_t& nTop, int32_t& nLeft, int32_t& nWidth, int32_t& nHeight);
  void SetRectValues(int32_t nTop, int32_t nLeft, int32_t nWidth, int32_t nHeight);
  void ClearRect();
  // Zooms and scrolls so that the rectangle fills the view.
  ViewerStatus ZoomRect();
  // Scrolls the rectangle to the middle of the view.
  void CenterOnRect();
  // The last mouse position in image pixels (0 without an image).
  int32_t GetMouseX() const;
  int32_t GetMouseY() const;

  // --- HTTP download -----------------------------------------------------------
  // Closes the document, then shows an image fetched as the engine's
  // CreateImageFromURL fetches it (same statuses). After every 1024 bytes
  // DataReceieved(percent received) and DataReceived(percent, bytes still to
  // come, length) are raised and the host's events run. A call while a
  // download of this viewer runs returns the last status at once.
  ViewerStatus DisplayFromURL(const std::string& sHost, const std::string& sPath,
                              int32_t nHTTPPort = 80);
  // Ends the running download after its current step (GenericError, no image).
  void DisplayFromURLStop();
  // Largest announced length accepted, in bytes (default and ceiling: the
  // process's download limit of korvex/limits.h, 256 MiB by default); seconds
  // allowed to connect and between two received bytes (default 30). Values
  // below 1 are refused.
  int32_t get_URLMaxLength() const;
  void put_URLMaxLength(int32_t value);
  int32_t get_URLTimeout() const;
  void put_URLTimeout(int32_t value);
  // --- PDF pages ------------------------------------------------------------------------
  // Opens a PDF document (a user password decrypts it into a private copy)
  // and shows page 1; DisplayFrame and its neighbours page through it. Each
  // page is rendered once per PdfDpiRendering into a temporary page file,
  // deleted when the document closes.
  ViewerStatus DisplayFromPdfFile(const std::string& sPdfFilePath,
                                  const std::string& sPassword = "");
  // Rendering resolution in dots per inch, also the page's resolutions; 1..2400, others ignored.
  int32_t get_PdfDpiRendering() const;
  void put_PdfDpiRendering(int32_t value);
  // ViewerPdfRenderingMode: page files in BMP (0) or JPEG (1); other values are ignored.
  int32_t get_PdfRenderingMode() const;
  void put_PdfRenderingMode(int32_t value);
  // ViewerPdfBufferingMode: stored only, pages always go through files.
  int32_t get_PdfBufferingMode() const;
  void put_PdfBufferingMode(int32_t value);
  // True: the document is always read from a private copy, so the host's file stays free.
  bool get_pdfForceTemporaryMode() const;
  void put_pdfForceTemporaryMode(bool value);
  // Stored only.
  bool get_pdfForceUncrypt() const;
  void put_pdfForceUncrypt(bool value);

  // --- Second viewer control: child controls ---------------------------------------------
  // Removes a child control by name (case-insensitive): "HScroll", "VScroll",
  // "shCorner", "shRect", "menu" or an item of the menu ("mnzoom", "mnzoom100"...;
  // an item with a submenu goes with its items). The host stops showing it and
  // the viewer never uses it again: a removed bar takes no room and is no longer
  // set, though the image still scrolls by hand, keys and members. An unknown
  // name gives InvalidParameter, a control already removed WrongState; both
  // are only returned, leaving LastStatus as it was.
  ViewerStatus RemoveObject(const std::string& sControlName);

  // --- Properties, context menu and printing ------------------------------------------
  // Captions of the context menu's items, indices 1..31 in menu order (how
  // hosts translate the menu); other indices change nothing.
  void SetItemMenuCaption(int32_t nIdxMenu, const std::string& sNewMenuCaption);
  // Printing on the viewer's own printer object, as the engine's Print...
  // members (millimetres; printers, paper codes and values as there). The
  // print members print the document: the whole PDF document behind a shown
  // PDF page, rendered and measured at PdfDpiRendering, else the raster
  // document (a multi-page TIFF its page range); nothing without a document.
  void PrintImage();
  void PrintImageFit();
  void PrintImageBySize(float nDstX, float nDstY, float nWidth, float nHeight);
  bool PrintImage2Printer(const std::string& sPrinterName);
  bool PrintImageBySize2Printer(const std::string& sPrinterName, float nDstX, float nDstY,
                                float nWidth, float nHeight);
  bool PrintSetActivePrinter(const std::string& sPrinterName);
  std::string PrintGetDefaultPrinter();
  int32_t PrintGetPrintersCount();
  std::string PrintGetPrinterName(int32_t nPrinterNo);
  void PrintSetStdPaperSize(int32_t nPaperSize);
  int32_t PrintGetPaperSize();
  void PrintSetUserPaperSize(float nPaperWidth, float nPaperHeight);
  float PrintGetPaperWidth();
  float PrintGetPaperHeight();
  void PrintSetOrientation(int32_t nOrientation);
  void PrintSetDuplexMode(int32_t nDuplexMode);
  int32_t PrintGetDuplexMode();
  void PrintSetCopies(int32_t nCopies);
  int32_t PrintGetCopies();
  void PrintSetQuality(int32_t nQuality);
  int32_t PrintGetQuality();
  void PrintSetColorMode(int32_t nColorMode);
  int32_t PrintGetColorMode();
  void PrintSetPaperBin(int32_t nPaperBin);
  int32_t PrintGetPaperBin();
  void PrintSetFromToPage(int32_t nFrom, int32_t nTo);
  void PrintSetImageAlignment(int32_t nImageAlignment);
  int32_t PrintGetImageAlignment();
  void PrintSetDocumentName(const std::string& sDocumentName);
  std::string PrintGetDocumentName();
  void PrintGetMargins(float& nLeftMargin, float& nTopMargin);
  // Status of the last print.
  ViewerStatus PrintGetStat();

  // --- Host side: C++ only, not automation members ----------------------------------
  // The identity the control was created under.
  ViewerControl Control() const { return control_; }
  // The 39 persisted properties (korvex/property_bag.h). Writing stores each
  // value that differs from its default and removes the others; reading
  // takes missing entries as defaults, ignores values a setter would refuse
  // and never restores the document's size, resolutions or pages. Neither
  // lays out nor paints. A damaged bag (an entry that cannot be read) gives
  // its status and leaves every property at its default.
  ViewerStatus WriteProperties(PropertyBag& bag);
  ViewerStatus ReadProperties(PropertyBag& bag);
  // What choosing a context menu item ("mnzoom100"...) does; unknown names do nothing.
  void RunMenuItem(const std::string& name);
  // The caption an item shows now; "" for an unknown name.
  std::string MenuItemCaption(const std::string& name) const;
  viewer::ViewerHost& host();
  // Result of the last operation.
  ViewerStatus LastStatus() const;
  void Advise(std::shared_ptr<ViewerEventSink> sink);
  void Unadvise(const std::shared_ptr<ViewerEventSink>& sink);
  viewer::Core& core();

 protected:
  kxViewer(std::shared_ptr<viewer::ViewerHost> host, ViewerControl control);

 private:
  std::unique_ptr<viewer::Core> core_;
  ViewerControl control_ = ViewerControl::kxViewer;
};

// The second viewer control: kxViewer's members and behaviour under its own
// identity (Korvex.KxViewerCnt), its events raised with its own dispatch ids.
class KxViewerCnt final : public kxViewer {
 public:
  explicit KxViewerCnt(std::shared_ptr<viewer::ViewerHost> host);
};

}  // namespace korvex
