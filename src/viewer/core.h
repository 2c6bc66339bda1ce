// The viewer's state and its internal steps: layout (ApplyZoom,
// UpdateScrollRanges, UpdateMaxZoom, LayoutScrollBars), painting and the
// handlers of what the host reports. kxViewer's members forward here; the
// interaction, document and menu parts of the control build on the same
// fields.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "korvex/viewer.h"
#include "viewer/interaction.h"
#include "viewer/menu.h"
#include "viewer/render.h"
#include "viewer/viewer_host.h"

namespace korvex {
class cKorvex;
}
namespace korvex::net {
class cInet;
}
namespace korvex::print {
class cPrinter;
}

namespace korvex::viewer {

class ChildGate;

// The zoom mode of the layout that zooms to the selection rectangle; never stored.
inline constexpr int32_t kZoomToRectangle = 10;

// The rectangles of the last paint: destination x, y, width, height; source
// x, y, width, height (image pixels); view width and height.
struct PaintRect {
  int32_t dst_x = 0, dst_y = 0, dst_width = 0, dst_height = 0;
  int32_t src_x = 0, src_y = 0, src_width = 0, src_height = 0;
  int32_t view_width = 0, view_height = 0;
};

// Set while a viewer of the thread refreshes its window; shared by every
// viewer of the thread (the mouse-wheel handling waits while it is set).
bool& ViewerRefreshing();

// "code: text" for an error code of the PDF rendering calls; "" for an unknown code.
std::string PdfErrorText(int32_t code);

// An engine status as the viewer reports it: the raster codes 0..20, which
// both enumerations share, pass through; the engine's own higher codes mean
// other things in ViewerStatus and become GenericError.
ViewerStatus FromEngineStatus(cKorvexStatus s);

class Core : public HostEvents {
 public:
  explicit Core(std::shared_ptr<ViewerHost> host);
  ~Core() override;
  Core(const Core&) = delete;
  Core& operator=(const Core&) = delete;

  // --- The control's public properties ---
  int32_t zoom_mode = 1;
  double zoom = 1.0;
  int32_t zoom_step = 10;
  bool scroll_bars = true;
  int16_t small_change = 1;
  int16_t large_change = 50;
  bool scroll_optimization = true;
  int32_t image_alignment = 2;
  int32_t smoothing_mode = 0;
  int32_t interpolation_mode = 2;
  bool lock_screen = false;
  bool silent_mode = false;
  bool skip_image_resolution = false;
  int32_t picture_width = 0, picture_height = 0;
  int32_t horizontal_resolution = 0, vertical_resolution = 0;
  int32_t image_left = 0, image_top = 0;
  int32_t back_color = 0;  // COLORREF
  int32_t back_style = 1;
  int32_t border_style = 1;
  int32_t appearance = 1;
  bool clip_controls = true;
  bool enabled = true;

  // --- Internal state ---
  int32_t native_image = 0;
  bool owns_native_image = false;
  int32_t page_image = 0;
  int32_t page_image_no = 0;
  int32_t last_signalled_image = 0;
  ViewerStatus last_status = ViewerStatus::Ok;
  int32_t displayed_width = 0, displayed_height = 0;
  double max_zoom = 1.0;
  double resolution_factor = 1.0;
  bool align_horizontal_pending = true, align_vertical_pending = true;
  bool scroll_events_enabled = true;
  // Set by the document code: the next bar change restores these positions.
  bool restore_pending = false;
  int32_t restore_h = 0, restore_v = 0;
  int32_t mask_color = 0;  // COLORREF of the image's first transparent palette entry
  PaintRect paint_rect;
  BarState hbar, vbar;
  bool corner_visible = false;

  // The host as the viewer reaches it: through the gate of its child controls.
  ViewerHost& host() { return *host_; }
  ChildGate& children() { return *children_; }
  ViewerStatus status(ViewerStatus s) { return last_status = s; }

  // --- Events ---
  void Advise(std::shared_ptr<ViewerEventSink> sink);
  void Unadvise(const std::shared_ptr<ViewerEventSink>& sink);
  // Raises an event. Returns false when a handler destroyed the viewer or
  // changed its document: the caller must then return at once, touching nothing.
  [[nodiscard]] bool Raise(ViewerEvent event, ViewerEventArgs& args);
  [[nodiscard]] bool Raise(ViewerEvent event);
  // Marks a change of document, so that steps interrupted by a handler stop.
  void NewGeneration() { ++*life_; }

  // --- Layout and painting ---
  int32_t displayed_image() const { return page_image != 0 ? page_image : native_image; }
  bool image_loaded() const { return displayed_image() != 0; }
  // Horizontal and vertical displayed pixels per image pixel.
  double zoom_x() const;
  double zoom_y() const;
  // Returns false when a handler ended the viewer's document (see Raise).
  bool ApplyZoom(int32_t image);
  void UpdateScrollRanges();
  void UpdateMaxZoom();
  void LayoutScrollBars();
  bool PaintImage(int32_t image);
  // Sets a bar's value and runs its change handler; false as Raise.
  bool SetBarValue(Bar bar, int32_t value);
  void ClearClient();
  void RefreshWindow();
  void RefreshMenuChecks();
  void ShowError(const std::string& text);

  // --- Documents: sources, pages and frames, GIF animation (documents.cpp) ---
  int16_t document_kind = 0;  // 0 none, 1 raster image, 2 PDF page
  int32_t num_pages = 0, current_page = 0;
  bool is_animated = false;
  std::vector<int32_t> frame_delays;  // milliseconds, frame 1 first
  int32_t animation_frame = 1;
  int32_t animation_loops = 0;  // -1 plays for ever; 0 stops the ticks
  int32_t animation_timer_id = 0;
  bool animate_gif = false;
  bool force_temporary_mode = false;
  std::string temp_image_name;  // the viewer's private copy of a shown file
  bool temp_image_in_use = false;
  bool terminated = false;

  // --- PDF pages (pdf_pages.cpp) ---
  int32_t pdf_dpi = 100;
  int32_t pdf_rendering_mode = 0;  // 0 BMP, 1 JPEG page files
  int32_t pdf_buffering_mode = 0;  // stored only: pages always go through files
  bool pdf_force_temporary_mode = false;
  bool pdf_force_uncrypt = false;  // stored only
  int32_t pdf_document_id = 0;
  std::vector<std::string> pdf_page_files;  // rendered by this viewer, in order
  std::string pdf_stem;       // temporary-folder name stem, unique per viewer and process
  std::string temp_pdf_name;  // the viewer's private copy of the document
  bool temp_pdf_in_use = false;
  ViewerStatus DisplayFromPdfFile(const std::string& path, const std::string& password);
  ViewerStatus OpenPdf(std::string path, const std::string& password);
  // False as Raise.
  bool RenderPdfPage(int32_t page);
  void ClosePdfDocument();

  // The engine whose source routines build the viewer's images; it holds the
  // viewer's use of the raster session until Terminate.
  cKorvex* engine();
  // Sets the document's image: size, resolutions, ResolutionFactor, page
  // count, frame delays and menu items. 0 is NativeImage; another image (a
  // turned page copy) skips the format handling. False as Raise.
  bool ImageSetup(int32_t image);
  // After a source built NativeImage (or failed): set-up and layout of page 1.
  ViewerStatus ShowLoaded(int32_t id, ViewerStatus loaded);
  void ResetDocumentState(bool keep_page_count);
  void DisposeNativeImage();
  ViewerStatus MakePageCopy();
  // False as Raise.
  bool ClosePicture();
  bool DisplayFrame(int32_t frame);
  void RefreshFrameItems();
  bool RotateFlipShown(int32_t type);
  bool PlayGif();
  void StopGif();
  void Terminate();

  // --- HTTP download (download.cpp) ---
  bool url_busy = false;
  std::shared_ptr<net::cInet> url_client;  // the running download's client
  int32_t url_max_length = 0;  // 0: the process's download limit
  int32_t url_timeout = 30;
  // The viewer's life and document generation, for steps that run host code.
  std::weak_ptr<uint64_t> Life() const { return life_; }

 private:
  bool AnimationTick();
  std::unique_ptr<cKorvex> engine_;

 public:

  // --- HostEvents ---
  void OnResize() override;
  void OnScrollBarChange(Bar bar, int32_t value) override;

  // --- Mouse, keyboard and selection (interaction.cpp) ---
  InputState input;
  void ClearRect();
  bool IsRectDrawn() const;
  void GetRectValues(int32_t& top, int32_t& left, int32_t& width, int32_t& height);
  // Places the shape over an image rectangle (1-based pixels).
  void PlaceRectFromImage(int32_t top, int32_t left, int32_t width, int32_t height);
  void SaveRectInImage();
  void PushSelection();
  // ZoomRect, and ZoomIN or ZoomOUT; false as Raise.
  bool ZoomRect();
  bool ZoomBy(bool in);
  void SetMouseMode(int32_t mode);
  void RefreshMouseModeChecks();
  void HookWheel();
  void UnhookWheel();
  // Client pixel to 1-based image pixel and back (nothing while Zoom is 0).
  void ObjectToImage(int32_t ox, int32_t oy, int32_t& ix, int32_t& iy) const;
  void ImageToObject(int32_t ix, int32_t iy, int32_t& ox, int32_t& oy) const;
  void OnMouse(MouseAction action, int16_t& button, int16_t& shift, float& x, float& y) override;
  void OnClick(bool double_click) override;
  void OnKey(KeyAction action, int16_t& key_code, int16_t& shift) override;
  void OnKeyPress(int16_t& key_ascii) override;
  void OnMouseWheel(int32_t wparam) override;
  void OnScrollBarKeyDown(Bar bar) override;

  // --- Properties, context menu and printing (menu.cpp, print_members.cpp) ---
  kxViewer* owner = nullptr;  // the control whose members the menu items run
  std::array<std::string, kMenuItemCount> menu_captions = DefaultMenuCaptions();
  std::shared_ptr<print::cPrinter> printer;
  void OnMenuItem(const std::string& name) override;
  print::cPrinter& Printer();
  // Image set-up: a PDF page marks the printer for its document and the
  // rendering resolution; a raster document clears both.
  void MarkPrinter();

  const ViewCache& cache() const { return cache_; }
  void DropSource() { cache_.DropSource(); }

 private:
  bool BarChanged(Bar bar);
  void PushBar(Bar bar);
  bool DrawOpaque(const PaintRect& r);
  bool DrawTransparent(const PaintRect& r);
  void UpdateMousePosition(float x, float y);
  bool MouseDown(int16_t& button, int16_t& shift, float& x, float& y);
  bool MouseMove(int16_t& button, int16_t& shift, float& x, float& y);
  bool MouseUp(int16_t& button, int16_t& shift, float& x, float& y);
  bool KeyDown(int16_t& key_code, int16_t& shift);
  bool KeyUp(int16_t& key_code, int16_t& shift);

  ChildGate* children_ = nullptr;  // the gate host_ holds; set before host_
  std::shared_ptr<ViewerHost> host_;
  std::vector<std::shared_ptr<ViewerEventSink>> sinks_;
  // The document generation; expires with the viewer.
  std::shared_ptr<uint64_t> life_ = std::make_shared<uint64_t>(0);
  ViewCache cache_;
};

}  // namespace korvex::viewer
