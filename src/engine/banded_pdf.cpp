// SaveAsPdf at the end of a whole command in bands. The member stores a
// colour picture as a JPEG stream of quality 90 in the page's image object;
// here that stream comes out of the JPEG band writer band by band, so only
// the compressed stream is held whole, then the page is written by the same
// code as the member's.
#include <memory>
#include <string>
#include <vector>

#include "engine/pdf_convert.h"
#include "raster/codec.h"

namespace korvex {

raster::Status WriteBandedPdf(
    const std::string& path, const raster::BandPicture& picture,
    const std::function<raster::Status(std::unique_ptr<raster::BandWriter>&)>& rows) {
  using raster::Status;
  // Indexed and deeper pictures are stored as samples, or in a JPEG the
  // member makes from another row format.
  if (picture.format != raster::pf::k24bppRGB) return Status::NotImplemented;
  // The JPEG encoder the PDF writer takes: the first that writes *.JPG.
  raster::BandWriterOpener open = nullptr;
  for (const raster::Encoder& e : raster::encoders()) {
    if (e.extensions.find("*.JPG") == std::string::npos) continue;
    open = raster::band_writer_for(e);
    break;
  }
  if (open == nullptr) return Status::NotImplemented;
  std::vector<uint8_t> jpeg;
  {
    raster::MemorySink sink(jpeg);
    std::unique_ptr<raster::BandWriter> w;
    const raster::EncoderParams params{{raster::encparam::kQuality, 90}};
    if (Status s = open(picture, params, sink, w); s != Status::Ok) return s;
    if (Status s = rows(w); s != Status::Ok) return s;
    if (Status s = w->finish(); s != Status::Ok) return s;
    if (Status s = sink.error(); s != Status::Ok) return s;
  }
  pdf::cPDF doc;
  SetUpConversion(doc);
  return WriteOnePagePdf(
      doc, path, picture.width, picture.height, picture.dpi_x, picture.dpi_y, [&](pdf::cPDF& d) {
        return d.PdfAddJpeg(jpeg, picture.width, picture.height, picture.dpi_x, picture.dpi_y);
      });
}

}  // namespace korvex
