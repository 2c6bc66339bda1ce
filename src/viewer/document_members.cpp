// kxViewer's document members: the DisplayFrom... sources (built with the
// engine's source routines), closing, pages and frames, GIF animation,
// rotation, clipboard copies, metadata tags and termination.
#include <unistd.h>

#include <atomic>
#include <cctype>
#include <filesystem>
#include <system_error>

#include "engine/paths.h"
#include "korvex/engine.h"
#include "korvex/viewer.h"
#include "viewer/core.h"

namespace korvex {

namespace {

// Runs a source routine of the viewer's engine and shows the new image as
// the viewer's own. The shown document must be closed already.
template <class Make>
ViewerStatus show_from_engine(viewer::Core& c, Make make) {
  c.owns_native_image = true;
  cKorvex* e = c.engine();
  if (e == nullptr) return c.status(ViewerStatus::GdiplusNotInitialized);  // after Terminate
  const int32_t id = make(*e);
  const ViewerStatus st = viewer::FromEngineStatus(e->GetStat());
  e->SetNativeImage(0);  // the image is the viewer's, not the engine's
  return c.ShowLoaded(id, st);
}

template <class Make>
ViewerStatus display_from(viewer::Core& c, Make make) {
  if (!c.ClosePicture()) return ViewerStatus::Ok;
  return show_from_engine(c, make);
}

// The viewer's private copy of a file: in the temporary folder, named by the
// process and the viewer, so no other viewer or process shares it. A file of
// that name left by an earlier run is replaced, never read.
bool make_temporary_copy(viewer::Core& c, const std::string& path) {
  static std::atomic<uint64_t> serial{0};
  if (c.temp_image_name.empty())
    c.temp_image_name = TempFolder() + "kxViewer-" + std::to_string(getpid()) + "-" +
                        std::to_string(++serial);
  std::error_code ec;
  std::filesystem::remove(c.temp_image_name, ec);
  if (!std::filesystem::copy_file(path, c.temp_image_name, ec) || ec) {
    std::filesystem::remove(c.temp_image_name, ec);
    return false;
  }
  return true;
}

// Runs an engine member on the document's image (or the shown one).
template <class Run>
auto with_image(viewer::Core& c, int32_t image, Run run) {
  cKorvex* e = c.engine();
  e->SetNativeImage(image);
  auto result = run(*e);
  e->SetNativeImage(0);
  return result;
}

}  // namespace

// --- Sources -------------------------------------------------------------------------

ViewerStatus kxViewer::DisplayFromFile(const std::string& sFilePath) {
  viewer::Core& c = *core_;
  if (!c.ClosePicture()) return ViewerStatus::Ok;
  const std::string path = NormalizePath(sFilePath);
  if (path.size() > 3) {
    std::string ext = path.substr(path.size() - 3);
    for (char& ch : ext) ch = static_cast<char>(std::toupper(static_cast<unsigned char>(ch)));
    if (ext == "PDF") return c.DisplayFromPdfFile(path, "");
  }
  std::string load = path;
  std::error_code ec;
  if (c.force_temporary_mode && std::filesystem::is_regular_file(path, ec)) {
    // The decoder keeps the copy open, not the host's file.
    if (!make_temporary_copy(c, path)) return c.status(ViewerStatus::ErrorCreatingTemporaryFile);
    c.temp_image_in_use = true;
    load = c.temp_image_name;
  }
  const ViewerStatus st =
      show_from_engine(c, [&](cKorvex& e) { return e.CreateImageFromFile(load); });
  if (st != ViewerStatus::Ok && c.native_image == 0 && c.temp_image_in_use) {
    std::filesystem::remove(c.temp_image_name, ec);
    c.temp_image_in_use = false;
  }
  return st;
}

ViewerStatus kxViewer::DisplayFromImageRef(int32_t nImageID) {
  viewer::Core& c = *core_;
  if (nImageID == c.native_image) {
    c.ResetDocumentState(false);
  } else if (!c.ClosePicture()) {
    return ViewerStatus::Ok;
  }
  c.owns_native_image = false;  // the engine keeps it
  if (nImageID == 0) return c.status(ViewerStatus::InvalidParameter);
  c.last_status = ViewerStatus::Ok;
  return c.ShowLoaded(nImageID, ViewerStatus::Ok);
}

ViewerStatus kxViewer::DisplayFromHBitmap(int32_t nHbitmap) {
  return display_from(*core_, [&](cKorvex& e) { return e.CreateImageFromHBitmap(nHbitmap); });
}

ViewerStatus kxViewer::DisplayFromClipboardData() {
  return display_from(*core_, [](cKorvex& e) { return e.CreateImageFromClipboard(); });
}

ViewerStatus kxViewer::DisplayFromGdiDib(int32_t nGdiDibRef) {
  return display_from(*core_, [&](cKorvex& e) { return e.CreateImageFromDIB(nGdiDibRef); });
}

ViewerStatus kxViewer::DisplayFromStdPicture(const host::PicturePtr& oStdPicture) {
  return display_from(*core_, [&](cKorvex& e) { return e.CreateImageFromPicture(oStdPicture); });
}

ViewerStatus kxViewer::DisplayFromStream(const std::shared_ptr<Stream>& oStream) {
  return display_from(*core_, [&](cKorvex& e) { return e.CreateImageFromStream(oStream); });
}

int32_t kxViewer::DisplayFromByteArray(Array<uint8_t>& arBytes) {
  return static_cast<int32_t>(
      display_from(*core_, [&](cKorvex& e) { return e.CreateImageFromByteArray(arBytes); }));
}

// --- Closing -------------------------------------------------------------------------

void kxViewer::ClosePicture() {
  (void)core_->ClosePicture();
}

void kxViewer::Close2Picture() {
  core_->DisposeNativeImage();
  core_->ClosePdfDocument();
  core_->ResetDocumentState(false);
}

void kxViewer::PictureClosed() {
  core_->ResetDocumentState(false);
}

// --- Pages and frames ------------------------------------------------------------------

ViewerStatus kxViewer::DisplayFrame(int32_t nFrame) {
  if (!core_->DisplayFrame(nFrame)) return ViewerStatus::Ok;
  return core_->last_status;
}

ViewerStatus kxViewer::DisplayNextFrame() {
  const viewer::Core& c = *core_;
  return c.current_page < c.num_pages ? DisplayFrame(c.current_page + 1) : c.last_status;
}

ViewerStatus kxViewer::DisplayPreviousFrame() {
  const viewer::Core& c = *core_;
  return c.current_page > 1 ? DisplayFrame(c.current_page - 1) : c.last_status;
}

ViewerStatus kxViewer::DisplayFirstFrame() {
  const viewer::Core& c = *core_;
  return c.current_page != 1 ? DisplayFrame(1) : c.last_status;
}

ViewerStatus kxViewer::DisplayLastFrame() {
  const viewer::Core& c = *core_;
  return c.current_page != c.num_pages ? DisplayFrame(c.num_pages) : c.last_status;
}

int32_t kxViewer::GetTotalFrame() {
  return core_->num_pages;
}

int32_t kxViewer::get_NumPages() const {
  return core_->num_pages;
}

void kxViewer::put_NumPages(int32_t) {
  core_->host().PropertyChanged("NumPages");
}

int32_t kxViewer::get_Currentpage() const {
  return core_->current_page;
}

void kxViewer::put_Currentpage(int32_t) {
  core_->host().PropertyChanged("Currentpage");
}

// --- GIF animation ----------------------------------------------------------------------

ViewerStatus kxViewer::PlayGif() {
  if (!core_->PlayGif()) return ViewerStatus::Ok;
  return core_->last_status;
}

void kxViewer::StopGif() {
  core_->StopGif();
}

bool kxViewer::get_AnimateGIF() const {
  return core_->animate_gif;
}

void kxViewer::put_AnimateGIF(bool value) {
  viewer::Core& c = *core_;
  // A change starts or stops the animation; setting the same value does nothing.
  if (value != c.animate_gif) {
    c.animate_gif = value;
    if (value) {
      if (!c.PlayGif()) return;
    } else {
      c.StopGif();
    }
  }
  c.host().PropertyChanged("AnimateGIF");
}

bool kxViewer::get_imageForceTemporaryMode() const {
  return core_->force_temporary_mode;
}

void kxViewer::put_imageForceTemporaryMode(bool value) {
  core_->force_temporary_mode = value;
  core_->host().PropertyChanged("imageForceTemporaryMode");
}

// --- Rotation and flipping (the raster rotate-flip types) -------------------------------

#define KX_ROTATE_FLIP(Name, type)                                 \
  ViewerStatus kxViewer::Name() {                                  \
    if (!core_->RotateFlipShown(type)) return ViewerStatus::Ok;    \
    return core_->last_status;                                     \
  }
KX_ROTATE_FLIP(Rotate90, 1)
KX_ROTATE_FLIP(Rotate180, 2)
KX_ROTATE_FLIP(Rotate270, 3)
KX_ROTATE_FLIP(FlipX, 4)
KX_ROTATE_FLIP(FlipX90, 5)
KX_ROTATE_FLIP(FlipX180, 6)
KX_ROTATE_FLIP(FlipX270, 7)
#undef KX_ROTATE_FLIP

// --- The image, the clipboard, tags -------------------------------------------------------

int32_t kxViewer::GetNativeImage() {
  return core_->native_image;
}

void kxViewer::Copy2Clipboard() {
  viewer::Core& c = *core_;
  if (!c.image_loaded() || c.engine() == nullptr) return;
  with_image(c, c.displayed_image(), [](cKorvex& e) { return e.CopyToClipboard(); });
}

void kxViewer::CopyRegion2Clipboard(int32_t nXsrc, int32_t nYsrc, int32_t nWidth,
                                    int32_t nHeight) {
  viewer::Core& c = *core_;
  if (!c.image_loaded() || c.engine() == nullptr) return;
  with_image(c, c.displayed_image(), [&](cKorvex& e) {
    return e.CopyRegionToClipboard(nXsrc, nYsrc, nWidth, nHeight);
  });
}

int32_t kxViewer::TagsCount() {
  viewer::Core& c = *core_;
  if (c.engine() == nullptr) return 0;
  cKorvexStatus st = cKorvexStatus::Ok;
  const int32_t n = with_image(c, c.native_image, [&](cKorvex& e) {
    const int32_t count = e.TagsCount();
    st = e.GetStat();
    return count;
  });
  c.status(viewer::FromEngineStatus(st));
  return n;
}

std::string kxViewer::TagsGetName(int32_t nTagNo) {
  viewer::Core& c = *core_;
  if (c.native_image == 0 || c.engine() == nullptr) return {};
  return with_image(c, c.native_image, [&](cKorvex& e) { return e.TagsGetName(nTagNo); });
}

std::string kxViewer::TagsGetValue(int32_t nTagNo) {
  viewer::Core& c = *core_;
  if (c.native_image == 0 || c.engine() == nullptr) return {};
  return with_image(c, c.native_image, [&](cKorvex& e) { return e.TagsGetValue(nTagNo); });
}

// --- Other members --------------------------------------------------------------------------

void kxViewer::SetBackGroundColor(int32_t nRGBColor) {
  put_BackColor(nRGBColor);
}

double kxViewer::GetVersion() {
  return 3.8;
}

void kxViewer::Terminate() {
  core_->Terminate();
}

}  // namespace korvex
