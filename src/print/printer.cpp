// cPrinter: settings, printer selection and the print job.
#include "print/printer.h"

#include <unistd.h>

#include <algorithm>

#include "print/paper.h"
#include "print/render.h"
#include "raster/guard.h"
#include "raster/handles.h"
#include "raster/image.h"

namespace korvex::print {

namespace {

std::unique_ptr<PrinterBackend> make_backend(const std::string& name, const std::string& folder) {
  if (name == kPdfPrinterName) return make_pdf_printer(folder);
  return make_cups_printer(name);
}

}  // namespace

cPrinter::cPrinter() {
  const std::string def = cups_default_printer();
  if (!def.empty()) backend_ = make_cups_printer(def);
  if (!backend_) backend_ = make_pdf_printer(folder_);
  settings_ = backend_->defaults();
}

cPrinter::~cPrinter() = default;

std::vector<std::string> cPrinter::printer_names() const {
  std::vector<std::string> names{kPdfPrinterName};
  for (std::string& n : cups_printer_names())
    if (n != kPdfPrinterName) names.push_back(std::move(n));
  return names;
}

bool cPrinter::set_active_printer(const std::string& name) {
  std::unique_ptr<PrinterBackend> b = make_backend(name, folder_);
  if (!b) return false;
  backend_ = std::move(b);
  settings_ = backend_->defaults();
  return true;
}

void cPrinter::set_std_paper_size(int32_t code) {
  const PaperSize* p = paper_by_code(code);
  if (p == nullptr) return;
  settings_.paper_size = code;
  settings_.paper_width = mm_to_twips(p->width_mm);
  settings_.paper_height = mm_to_twips(p->height_mm);
}

void cPrinter::set_user_paper_size(double width_mm, double height_mm) {
  const int32_t w = mm_to_twips(width_mm);
  const int32_t h = mm_to_twips(height_mm);
  if (w <= 0 || h <= 0) return;
  settings_.paper_size = kUserPaperCode;
  // Kept as the portrait sheet; a landscape orientation turns it.
  settings_.paper_width = settings_.orientation == 2 ? h : w;
  settings_.paper_height = settings_.orientation == 2 ? w : h;
}

double cPrinter::paper_width_mm() const {
  return twips_to_mm(settings_.orientation == 2 ? settings_.paper_height : settings_.paper_width);
}

double cPrinter::paper_height_mm() const {
  return twips_to_mm(settings_.orientation == 2 ? settings_.paper_width : settings_.paper_height);
}

void cPrinter::set_orientation(int32_t v) {
  if (v == 1 || v == 2) settings_.orientation = v;
}

void cPrinter::set_duplex(int32_t v) {
  if (v >= 1 && v <= 3) settings_.duplex = v;
}

void cPrinter::set_copies(int32_t v) {
  if (v >= 1 && v <= 9999) settings_.copies = v;
}

void cPrinter::set_quality(int32_t v) {
  if ((v >= -4 && v <= -1) || (v > 0 && v <= 9600)) settings_.quality = v;
}

void cPrinter::set_color_mode(int32_t v) {
  if (v == 1 || v == 2) settings_.color_mode = v;
}

void cPrinter::set_paper_bin(int32_t v) {
  if (v >= 1 && v <= 0x7FFF) settings_.paper_bin = v;
}

Margins cPrinter::margins() {
  return backend_->margins(settings_);
}

void cPrinter::set_page_range(int32_t first, int32_t last) {
  if (first == 0 && last == 0) {
    // Range off: a multi-page source prints its first page.
    range_set_ = false;
    first_page_ = 1;
    last_page_ = 1;
    return;
  }
  range_set_ = true;
  first_page_ = std::max(first, 1);
  last_page_ = std::max(last, 1);
}

void cPrinter::set_alignment(int32_t v) {
  if (v >= 0 && v <= 9) alignment_ = v;
}

void cPrinter::set_resolution_override(bool on, int32_t dpi_x, int32_t dpi_y) {
  resolution_override_ = on;
  override_dpi_x_ = dpi_x;
  override_dpi_y_ = dpi_y;
}

void cPrinter::set_output_folder(const std::string& folder) {
  folder_ = folder;
  if (backend_->name() == kPdfPrinterName) backend_ = make_pdf_printer(folder_);
}

raster::Status cPrinter::print(int32_t image, Placement placement, const RectMM& rect) {
  status_ = raster::guarded([&] {
    return pdf_source_ ? run_pdf_job(image, placement, rect) : run_job(image, placement, rect);
  });
  return status_;
}

void cPrinter::page_range(int32_t pages, int32_t& first, int32_t& last) const {
  first = std::min(first_page_, std::max(pages, 1));
  last = first;
  if (pages > 1 && range_set_ && last_page_ >= first_page_) last = std::min(last_page_, pages);
}

raster::Status cPrinter::run_job(int32_t image, Placement placement, const RectMM& rect) {
  raster::Image* img = raster::find_image(image);
  if (img == nullptr) return raster::Status::InvalidParameter;

  // Pages: a TIFF prints its range (lowered to its page count), anything
  // else its one image.
  const bool tiff = img->raw_format() == raster::guids::kFormatTiff;
  const auto pages =
      static_cast<int32_t>(tiff ? img->frame_count(raster::guids::kFrameDimensionPage) : 1);
  int32_t first = 1, last = 1;
  page_range(pages, first, last);

  const uint32_t saved_frame = img->active_frame();
  const raster::Status st = run_pages(
      first, last,
      [&](int32_t page, raster::Image*& out) {
        out = img;
        if (!tiff || pages <= 1) return raster::Status::Ok;
        return img->select_active_frame(raster::guids::kFrameDimensionPage,
                                        static_cast<uint32_t>(page - 1));
      },
      placement, rect);
  if (tiff && pages > 1 && img->active_frame() != saved_frame)
    img->select_active_frame(raster::guids::kFrameDimensionPage, saved_frame);
  return st;
}

raster::Status cPrinter::run_pages(int32_t first, int32_t last, const PageSource& page_at,
                                   Placement placement, const RectMM& rect) {
  const Margins m = backend_->margins(settings_);
  const double sheet_w = paper_width_mm();
  const double sheet_h = paper_height_mm();
  const double area_w = sheet_w - 2 * m.left;
  const double area_h = sheet_h - 2 * m.top;
  if (!(area_w > 0) || !(area_h > 0)) return raster::Status::InvalidParameter;

  std::string spool;
  raster::Status st = backend_->spool_file(spool);
  if (st != raster::Status::Ok) return st;
  {
    PageWriter writer(spool, sheet_w, sheet_h);
    st = writer.status();
    for (int32_t page = first; st == raster::Status::Ok && page <= last; ++page) {
      raster::Image* img = nullptr;
      st = page_at(page, img);
      if (st != raster::Status::Ok) break;
      LayoutRequest req;
      req.placement = placement;
      req.requested = rect;
      req.pixel_width = img->width();
      req.pixel_height = img->height();
      req.dpi_x = resolution_override_ ? override_dpi_x_ : img->dpi_x();
      req.dpi_y = resolution_override_ ? override_dpi_y_ : img->dpi_y();
      req.alignment = alignment_;
      req.area_width = area_w;
      req.area_height = area_h;
      RectMM r = round_to_mm(layout_image(req));
      r.x += m.left;
      r.y += m.top;
      st = writer.add_page(*img, r);
    }
    const raster::Status fin = writer.finish();
    if (st == raster::Status::Ok) st = fin;
  }
  if (st != raster::Status::Ok) {
    ::unlink(spool.c_str());
    return st;
  }
  return backend_->submit(spool, document_name, settings_);
}

}  // namespace korvex::print
