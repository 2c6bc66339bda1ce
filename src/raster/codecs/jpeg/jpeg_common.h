// Pieces shared by the JPEG decoder and encoder: libjpeg's error handling
// and the two entry points the codec registers.
//
// libjpeg reports fatal errors by calling error_exit, which must not return.
// Ours longjmps back to a setjmp frame; every such frame lives in a function
// that holds only plain C data (the libjpeg structs, pointers, integers), so
// the jump never skips a C++ destructor. Anything that allocates with C++
// (surfaces, vectors, property items) happens outside those functions.
#pragma once

#include <csetjmp>
#include <cstddef>
#include <cstdio>
#include <memory>
#include <vector>

#include <jerror.h>
#include <jpeglib.h>

#include "raster/bands.h"
#include "raster/codec.h"

namespace korvex::raster::jpeg {

// Property holding an embedded ICC colour profile (APP2 segments in a JPEG).
inline constexpr uint32_t kIccProfileTag = 0x8773;

struct ErrorManager {
  jpeg_error_mgr pub;
  std::jmp_buf jump;
  Status status;            // status of the failure that jumped
  bool stop_on_truncation;  // entropy data ending early is fatal
  bool saw_eof;             // the input ended before an EOI marker
};

// Installs the manager on a compress or decompress struct, before its
// jpeg_create_* call.
void install_error_manager(j_common_ptr cinfo, ErrorManager& err, bool stop_on_truncation);

// Fails the current libjpeg call with the given status (longjmps).
[[noreturn]] void fail(j_common_ptr cinfo, Status status);

bool sniff(const uint8_t* data, size_t size);
Status decode(const EncodedBytes& in, std::unique_ptr<Image>& out);
Status encode(Image& img, const EncoderParams& params, ByteSink& out);
// The same a band of rows at a time (raster/bands.h).
Status open_band_reader(const EncodedBytes& in, std::unique_ptr<BandReader>& out);
Status open_band_writer(const BandPicture& picture, const EncoderParams& params, ByteSink& sink,
                        std::unique_ptr<BandWriter>& out);

}  // namespace korvex::raster::jpeg
