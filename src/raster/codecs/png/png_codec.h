// PNG codec through libpng: shared pieces of the decoder and the encoder.
//
// libpng reports errors by longjmp. Every call into libpng that may fail is
// made from a function holding only plain C data, with its own setjmp frame,
// so a jump never crosses a C++ object with a destructor; the C++ callers
// own the png structs and release them whatever the outcome.
#pragma once

#include <png.h>

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "raster/bands.h"
#include "raster/codec.h"
#include "raster/image.h"

namespace korvex::raster::png {

// The eight bytes every PNG file starts with.
inline constexpr uint8_t kSignature[8] = {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A};

// Metadata ids of the text keywords PNG files carry, and of the gamma.
inline constexpr uint32_t kTagImageDescription = 0x010E;
inline constexpr uint32_t kTagSoftware = 0x0131;
inline constexpr uint32_t kTagDateTime = 0x0132;
inline constexpr uint32_t kTagArtist = 0x013B;
inline constexpr uint32_t kTagGamma = 0x0301;
inline constexpr uint32_t kTagImageTitle = 0x0320;
inline constexpr uint32_t kTagCopyright = 0x8298;
inline constexpr uint32_t kTagIccProfile = 0x8773;  // embedded ICC colour profile (iCCP)

// Keyword of a text chunk and the property it maps to.
struct TextKey {
  const char* keyword;
  uint32_t id;
};
inline constexpr TextKey kTextKeys[] = {
    {"Software", kTagSoftware},   {"Title", kTagImageTitle},
    {"Author", kTagArtist},       {"Description", kTagImageDescription},
    {"Copyright", kTagCopyright}, {"Creation Time", kTagDateTime},
};

// Error and warning handlers of every png struct the codec makes: errors jump
// back to the setjmp of the calling plain-C frame, warnings are dropped.
void on_png_error(png_structp png, png_const_charp message);
void on_png_warning(png_structp png, png_const_charp message);

bool sniff(const uint8_t* data, size_t size);
Status decode(const EncodedBytes& in, std::unique_ptr<Image>& out);
Status encode(Image& img, const EncoderParams& params, ByteSink& out);
Status open_band_writer(const BandPicture& picture, const EncoderParams& params, ByteSink& sink,
                        std::unique_ptr<BandWriter>& out);

}  // namespace korvex::raster::png
