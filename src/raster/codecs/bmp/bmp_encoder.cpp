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
#include "raster/codec.h"
#include "raster/codecs/bmp/dib.h"
#include "raster/guard.h"

namespace korvex::raster {
namespace {

// {5E4F1C2A-8B39-4D6E-A1F7-3C92B04D6E15}
constexpr Guid kBmpEncoderClsid{
    0x5E4F1C2A, 0x8B39, 0x4D6E, {0xA1, 0xF7, 0x3C, 0x92, 0xB0, 0x4D, 0x6E, 0x15}};

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

Status encode_bmp(Image& img, const EncoderParams& /*params*/, ByteSink& out) {
  return guarded([&] {
    dib::WriteOptions options;
    options.rows = file_format(img.surface().format);
    options.file_header = true;
    return dib::write(img, options, out);
  });
}

}  // namespace

KORVEX_REGISTER_CODEC(bmp_encoder) {
  Encoder e;
  e.clsid = kBmpEncoderClsid;
  e.format = guids::kFormatBmp;
  e.name = "Korvex BMP codec";
  e.extensions = "*.BMP;*.DIB;*.RLE";
  e.mime_type = "image/bmp";
  e.order = 0;
  e.encode = encode_bmp;
  register_encoder(e);
}

}  // namespace korvex::raster
