// Metafile picture objects: the metafile is decoded from the bytes its handle
// holds; the result is a plain bitmap, as the picture was drawn onto one.
#include "engine/metafile_pictures.h"

#include "korvex/host.h"
#include "raster/codec.h"

namespace korvex {

raster::Status ImageFromMetafileHandle(int32_t handle, bool enhanced,
                                       std::unique_ptr<raster::Image>& out) {
  const host::MetafilePtr m = host::GetMetafile(handle);
  if (m == nullptr || m->enhanced != enhanced) return raster::Status::UnknownImageFormat;
  // The decoder reads the host's copy in place: the handle's bytes never
  // change, and the shared reference keeps them alive while it runs.
  raster::EncodedBytes in{m->bytes.data(), m->bytes.size(), m};
  std::unique_ptr<raster::Image> img;
  const raster::Status st = raster::decode_image(in, img);
  if (st != raster::Status::Ok) return st;
  const raster::Guid& expected = enhanced ? raster::guids::kFormatEmf : raster::guids::kFormatWmf;
  if (img->raw_format() != expected) return raster::Status::UnknownImageFormat;
  img->set_raw_format(raster::guids::kFormatMemoryBmp);
  out = std::move(img);
  return raster::Status::Ok;
}

}  // namespace korvex
