// The WMF and EMF decoders: header checked, pixel size checked against the
// pixel memory limit, the file read by its library, then the picture played
// onto an opaque white bitmap.
#include <cstring>
#include <memory>

#include "metafile/metafile.h"
#include "raster/codec.h"
#include "raster/image.h"

namespace korvex::metafile {
namespace {

using raster::Status;

using Parse = Status (*)(const uint8_t*, size_t, Frame&);
using Render = Status (*)(const uint8_t*, size_t, const Frame&, const CanvasMaker&);

Status decode(const raster::EncodedBytes& in, Parse parse, Render render, const raster::Guid& fmt,
              std::unique_ptr<raster::Image>& out) {
  Frame frame;
  Status st = parse(in.data, in.size, frame);
  if (st != Status::Ok) return st;
  // The pixel size against the limit before any library work (overflow-safe:
  // a 31-bit stride times a 31-bit height fits in 64 bits).
  const int32_t stride = raster::padded_stride(frame.width, raster::pf::k32bppRGB);
  if (stride < 0 || static_cast<uint64_t>(stride) * static_cast<uint64_t>(frame.height) >
                        raster::pixel_memory_limit()) {
    return Status::OutOfMemory;
  }
  std::unique_ptr<raster::Image> img;
  const CanvasMaker make = [&](Canvas& canvas) {
    const Status made =
        raster::Image::create(frame.width, frame.height, raster::pf::k32bppRGB, img);
    if (made != Status::Ok) return made;
    raster::Surface& s = img->surface();
    for (int32_t y = 0; y < s.height; ++y) {
      std::memset(s.row(y), 0xFF, static_cast<size_t>(s.width) * 4);
    }
    canvas = Canvas{s.scan0, s.stride, s.width, s.height};
    return Status::Ok;
  };
  st = render(in.data, in.size, frame, make);
  if (st != Status::Ok) return st;
  if (img == nullptr) return Status::GenericError;
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
  register_decoder(
      decoder_record("WMF", guids::kFormatWmf, metafile::sniff_wmf, metafile::decode_wmf));
  register_decoder(
      decoder_record("EMF", guids::kFormatEmf, metafile::sniff_emf, metafile::decode_emf));
}

}  // namespace korvex::raster
