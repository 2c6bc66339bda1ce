// The WMF and EMF decoders: header checked, pixel size checked against the
// pixel memory limit, then the picture played onto an opaque white bitmap.
#include <cstring>
#include <memory>

#include "metafile/metafile.h"
#include "raster/codec.h"
#include "raster/image.h"

namespace korvex::metafile {
namespace {

using raster::Status;

using Parse = Status (*)(const uint8_t*, size_t, Frame&);
using Render = Status (*)(const uint8_t*, size_t, const Frame&, const Canvas&);

Status decode(const raster::EncodedBytes& in, Parse parse, Render render, const raster::Guid& fmt,
              std::unique_ptr<raster::Image>& out) {
  Frame frame;
  Status st = parse(in.data, in.size, frame);
  if (st != Status::Ok) return st;
  // The bitmap is allocated (and so checked against the limit) before any
  // library sees the picture.
  std::unique_ptr<raster::Image> img;
  st = raster::Image::create(frame.width, frame.height, raster::pf::k32bppRGB, img);
  if (st != Status::Ok) return st;
  raster::Surface& s = img->surface();
  for (int32_t y = 0; y < s.height; ++y) {
    std::memset(s.row(y), 0xFF, static_cast<size_t>(s.width) * 4);
  }
  st = render(in.data, in.size, frame, Canvas{s.scan0, s.stride, s.width, s.height});
  if (st != Status::Ok) return st;
  st = img->set_resolution(frame.dpi_x, frame.dpi_y);
  if (st != Status::Ok) return st;
  img->set_raw_format(fmt);
  out = std::move(img);
  return Status::Ok;
}

Status decode_wmf(const raster::EncodedBytes& in, std::unique_ptr<raster::Image>& out) {
  return decode(in, parse_wmf, render_wmf, raster::guids::kFormatWmf, out);
}

Status decode_emf(const raster::EncodedBytes& in, std::unique_ptr<raster::Image>& out) {
  return decode(in, parse_emf, render_emf, raster::guids::kFormatEmf, out);
}

}  // namespace
}  // namespace korvex::metafile

namespace korvex::raster {

KORVEX_REGISTER_CODEC(metafile) {
  register_decoder(decoder_record("WMF", guids::kFormatWmf, metafile::sniff_wmf,
                                  metafile::decode_wmf));
  register_decoder(decoder_record("EMF", guids::kFormatEmf, metafile::sniff_emf,
                                  metafile::decode_emf));
}

}  // namespace korvex::raster
