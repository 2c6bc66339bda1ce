// BMP encoder: file header + 40-byte info header, bottom-up rows padded to
// four bytes, in the image's own depth where BMP holds it:
//   1/4/8bppIndexed       same depth, the image's palette as colour table
//   16bppRGB555           16-bit BI_RGB
//   16bppRGB565           16-bit BI_BITFIELDS, the three masks after the header
//   24bppRGB              24-bit
//   32bppRGB / ARGB       32-bit BI_RGB; ARGB keeps its alpha bytes, RGB
//                         writes 0xFF there (readers that take the fourth
//                         byte as alpha see it opaque)
//   32bppPARGB            32-bit BI_RGB, unpremultiplied
//   16bppARGB1555, 64bpp  32-bit BI_RGB with alpha
//   16bppGrayScale, 48bpp 24-bit
// The bytes themselves come from dib::write, shared with packed DIBs.
#include "raster/codecs/bmp/bmp_codec.h"
#include "raster/codecs/bmp/dib.h"
#include "raster/guard.h"

namespace korvex::raster {
namespace {

// Format the rows are written in.
PixelFormat file_format(PixelFormat f) {
  switch (f) {
    case pf::k1bppIndexed:
    case pf::k4bppIndexed:
    case pf::k8bppIndexed:
    case pf::k16bppRGB555:
    case pf::k16bppRGB565:
    case pf::k24bppRGB:
    case pf::k32bppRGB:
    case pf::k32bppARGB:
      return f;
    case pf::k16bppGrayScale:
    case pf::k48bppRGB:
      return pf::k24bppRGB;
    default:  // 32bppPARGB, 16bppARGB1555, 64bppARGB, 64bppPARGB
      return pf::k32bppARGB;
  }
}

}  // namespace

namespace bmp {

Status encode(Image& img, const EncoderParams& /*params*/, ByteSink& out) {
  return guarded([&] {
    dib::WriteOptions options;
    options.rows = file_format(img.surface().format);
    options.file_header = true;
    return dib::write(img, options, out);
  });
}

}  // namespace bmp
}  // namespace korvex::raster
