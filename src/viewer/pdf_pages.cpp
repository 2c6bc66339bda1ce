// PDF documents in the viewer: each page is rendered at PdfDpiRendering into
// a page file in the temporary folder, which is then shown like any raster
// file. Page files live as long as the open document and serve as its cache;
// a user password works by decrypting the document into a private copy.
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <exception>
#include <filesystem>
#include <memory>
#include <system_error>

#include "engine/paths.h"
#include "korvex/engine.h"
#include "korvex/viewer.h"
#include "pdfrender/ised.h"
#include "raster/codec.h"
#include "raster/guard.h"
#include "raster/handles.h"
#include "viewer/core.h"

namespace korvex {

namespace viewer {

namespace {

using namespace pdfrender;

constexpr int32_t kMaxPdfDpi = 2400;

void remove_file(const std::string& path) {
  std::error_code ec;
  std::filesystem::remove(path, ec);
}

bool file_exists(const std::string& path) {
  std::error_code ec;
  return std::filesystem::is_regular_file(path, ec);
}

// The stem of every temporary file of one viewer: the process id and a serial
// number, so no other viewer or process shares a name.
const std::string& stem(Core& c) {
  static std::atomic<uint64_t> serial{0};
  if (c.pdf_stem.empty())
    c.pdf_stem = TempFolder() + "kxViewer-pdf-" + std::to_string(getpid()) + "-" +
                 std::to_string(++serial);
  return c.pdf_stem;
}

// One name per resolution, page and file type; the separators keep 100 dpi
// page 11 apart from 1001 dpi page 1.
std::string page_file_name(Core& c, int32_t page) {
  return stem(c) + "-" + std::to_string(c.pdf_dpi) + "dpi-p" + std::to_string(page) +
         (c.pdf_rendering_mode == 1 ? ".jpg" : ".bmp");
}

// Decryption failures after which the caller's own file is opened instead:
// no output file, a wrong password (the open then reports it), no encryption.
bool open_original_after(int32_t code) {
  return code == 403 || code == 404 || code == 405;
}

// Decodes a page file's bytes into a new registered image, with the
// statuses of the engine's file routine (a decoder that fails abnormally
// gives a status above the platform's); 0 on failure.
int32_t load_rendered_page(const raster::EncodedBytes& bytes, int32_t& status) {
  constexpr auto kDecoderFailed = static_cast<raster::Status>(23);
  std::unique_ptr<raster::Image> img;
  const raster::Status st =
      bytes.size == 0
          ? raster::Status::GenericError
          : raster::guarded([&] { return raster::decode_image(bytes, img); }, kDecoderFailed);
  status = static_cast<int32_t>(st);
  return st == raster::Status::Ok ? raster::register_image(std::move(img)) : 0;
}

}  // namespace

std::string PdfErrorText(int32_t code) {
  const char* text = nullptr;
  switch (code) {
    case 101: text = "The Strength parameter passed to the Encrypt function was invalid."; break;
    case 102: text = "The Permissions parameter passed to the Encrypt function was invalid."; break;
    case 103: text = "The Encrypt function was used on a document that was already encrypted."; break;
    case 104: text = "The Encrypt function failed for an unknown reason."; break;
    case 201: text = "The SetInformation function failed because the document is encrypted."; break;
    case 202: text = "The Key parameter passed to the SetInformation function was out of range."; break;
    case 301: text = "An invalid combination of barcode and option was sent to the DrawBarcode function."; break;
    case 302: text = "Non-numeric characters were sent to DrawBarcode using EAN-13."; break;
    case 303: text = "The EAN-13 barcode has an invalid checksum character."; break;
    case 401: text = "Could not open input file."; break;
    case 402: text = "Output file already exists and could not be deleted."; break;
    case 403: text = "Could not open output file."; break;
    case 404: text = "Invalid password."; break;
    case 405: text = "Document is not encrypted."; break;
    case 406: text = "Document is already encrypted."; break;
    case 407: text = "Invalid encryption strength."; break;
    case 408: text = "Invalid permissions."; break;
    case 409: text = "Invalid file structure, file is damaged."; break;
    case 410: text = "One of the input files is encrypted."; break;
    case 501: text = "The specified FileHandle was invalid."; break;
    default: return {};
  }
  return std::to_string(code) + ": " + text;
}

ViewerStatus Core::DisplayFromPdfFile(const std::string& file, const std::string& password) {
  const std::string path = NormalizePath(file);
  if (!ClosePicture()) return ViewerStatus::Ok;
  if (!file_exists(path)) {
    status(ViewerStatus::FileNotFound);
    ShowError("Can't foud " + path + " file.");
    return last_status;
  }
  if (OpenPdf(path, password) != ViewerStatus::Ok) {
    ClosePdfDocument();  // the private copy goes with the failed open
    ShowError("Can not open this file: " + path);
    return last_status;
  }
  (void)iSEDSelectDocument(pdf_document_id);
  num_pages = iSEDPageCount();
  if (num_pages == 0) ShowError("This PDF file have no page");
  current_page = 1;
  if (!RenderPdfPage(1)) return ViewerStatus::Ok;
  return last_status;
}

ViewerStatus Core::OpenPdf(std::string path, const std::string& password) {
  last_status = ViewerStatus::Ok;
  if (!password.empty() || pdf_force_temporary_mode) {
    temp_pdf_name = stem(*this) + ".pdf";
    remove_file(temp_pdf_name);  // a file of that name is never read
    if (!pdf_force_temporary_mode) {
      if (iSEDDecryptFile(path, temp_pdf_name, password) == 0) {
        remove_file(temp_pdf_name);
        const int32_t code = iSEDLastErrorCode();
        if (!open_original_after(code)) {
          status(ViewerStatus::PdfCanNotDecrypt);
          ShowError("Can not decrypt this file. (" + PdfErrorText(code) + ")");
          return last_status;
        }
      }
    } else {
      std::error_code ec;
      if (!std::filesystem::copy_file(path, temp_pdf_name, ec)) remove_file(temp_pdf_name);
    }
    if (file_exists(temp_pdf_name)) {
      temp_pdf_in_use = true;
      path = temp_pdf_name;
    }
  }
  if (iSEDLoadFromFile(path) != 1 || (pdf_document_id = iSEDDocumentID(1)) == 0) {
    status(ViewerStatus::PdfCanNotOpenFile);
    ShowError("Can not open this file.");
    return last_status;
  }
  if (iSEDEncrypted() <= 0) return last_status;
  if (iSEDSetPassword("") > 0) {
    if (iSEDUnencrypt() == 1) return last_status;
    ClosePdfDocument();
    status(ViewerStatus::PdfCanNotDecrypt);
    ShowError("Can not decrypt this file.");
  } else {
    ClosePdfDocument();
    if (!password.empty()) {
      status(ViewerStatus::PdfBadPassword);
      ShowError("The password supplied is incorrect.");
    } else {
      status(ViewerStatus::PdfNeedPassword);
      ShowError("A password was required.");
    }
  }
  return last_status;
}

bool Core::RenderPdfPage(int32_t page) {
  try {
    DisposeNativeImage();
    ResetDocumentState(true);
    const std::string name = page_file_name(*this, page);
    // Only a file this viewer rendered is shown again; anything else of that name is replaced.
    const bool cached = std::find(pdf_page_files.begin(), pdf_page_files.end(), name) !=
                            pdf_page_files.end() &&
                        file_exists(name);
    if (!cached) {
      remove_file(name);
      if (iSEDSelectDocument(pdf_document_id) == 1 &&
          iSEDRenderDocumentToFile(pdf_dpi, page, page, pdf_rendering_mode, name) == 1) {
        if (std::find(pdf_page_files.begin(), pdf_page_files.end(), name) == pdf_page_files.end())
          pdf_page_files.push_back(name);
      } else {
        status(ViewerStatus::PdfRenderingPageError);
      }
    }
    if (last_status != ViewerStatus::Ok) {
      ShowError("Error rendering page from IsedQuickPDF library.");
      return true;
    }
    owns_native_image = true;
    cKorvex* e = engine();
    if (e == nullptr) {
      status(ViewerStatus::GdiplusNotInitialized);  // after Terminate
      return true;
    }
    int32_t id = 0, loaded = 0;
    raster::EncodedBytes just_rendered;
    if (iSEDTakeRenderedFile(name, just_rendered) == 1) {
      // The page just rendered is decoded from the bytes written to its
      // file, as the file routine would decode the file itself.
      id = load_rendered_page(just_rendered, loaded);
    } else {
      id = e->CreateImageFromFile(name);
      loaded = static_cast<int32_t>(e->GetStat());
      e->SetNativeImage(0);  // the image is the viewer's, not the engine's
    }
    if (id == 0) {
      status(loaded >= 1 && loaded <= 20 ? static_cast<ViewerStatus>(loaded)
                                         : ViewerStatus::GenericError);
      return true;
    }
    native_image = id;
    current_page = page;
    document_kind = 2;
    horizontal_resolution = vertical_resolution = pdf_dpi;
    if (!ImageSetup(0)) return false;
    RefreshFrameItems();
    return ApplyZoom(0);
  } catch (const std::exception& ex) {
    status(ViewerStatus::PdfUnexpectedError);
    ShowError(std::string("Unexpected error was raised: ") + ex.what());
    return true;
  }
}

void Core::ClosePdfDocument() {
  for (const std::string& f : pdf_page_files) remove_file(f);
  pdf_page_files.clear();
  if (pdf_document_id != 0) (void)iSEDRemoveDocument(pdf_document_id);
  pdf_document_id = 0;
  if (temp_pdf_in_use) {
    remove_file(temp_pdf_name);
    temp_pdf_in_use = false;
  }
}

}  // namespace viewer

// --- Members ---------------------------------------------------------------------------

ViewerStatus kxViewer::DisplayFromPdfFile(const std::string& sPdfFilePath,
                                          const std::string& sPassword) {
  return core_->DisplayFromPdfFile(sPdfFilePath, sPassword);
}

int32_t kxViewer::get_PdfDpiRendering() const {
  return core_->pdf_dpi;
}

void kxViewer::put_PdfDpiRendering(int32_t value) {
  if (value >= 1 && value <= viewer::kMaxPdfDpi) core_->pdf_dpi = value;
  core_->host().PropertyChanged("PdfDpiRendering");
}

int32_t kxViewer::get_PdfRenderingMode() const {
  return core_->pdf_rendering_mode;
}

void kxViewer::put_PdfRenderingMode(int32_t value) {
  if (value == 0 || value == 1) core_->pdf_rendering_mode = value;
  core_->host().PropertyChanged("PdfRenderingMode");
}

int32_t kxViewer::get_PdfBufferingMode() const {
  return core_->pdf_buffering_mode;
}

void kxViewer::put_PdfBufferingMode(int32_t value) {
  if (value == 0 || value == 1) core_->pdf_buffering_mode = value;
  core_->host().PropertyChanged("PdfBufferingMode");
}

bool kxViewer::get_pdfForceTemporaryMode() const {
  return core_->pdf_force_temporary_mode;
}

void kxViewer::put_pdfForceTemporaryMode(bool value) {
  core_->pdf_force_temporary_mode = value;
  core_->host().PropertyChanged("pdfForceTemporaryMode");
}

bool kxViewer::get_pdfForceUncrypt() const {
  return core_->pdf_force_uncrypt;
}

void kxViewer::put_pdfForceUncrypt(bool value) {
  core_->pdf_force_uncrypt = value;
  core_->host().PropertyChanged("pdfForceUncrypt");
}

}  // namespace korvex
