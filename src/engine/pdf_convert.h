// One-page PDF of a picture, as SaveAsPdf writes it: shared by the member
// and by whole commands run in bands, so both give the same bytes.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "pdf/pdf.h"
#include "raster/bands.h"
#include "raster/types.h"

namespace korvex {

// A fresh conversion document's settings: the toolkit's document information.
void SetUpConversion(pdf::cPDF& doc);

// Writes `path` as one page the size of a `width` x `height` pixel picture at
// its resolution (whole points), showing the image `add` puts in `doc` (its
// id; 0 when refused). Ok, or why it failed: Win32Error when the file could
// not be started or finished, InvalidParameter when the image was refused
// (the document's own status, when it has one, says more).
raster::Status WriteOnePagePdf(pdf::cPDF& doc, const std::string& path, int32_t width,
                               int32_t height, float dpi_x, float dpi_y,
                               const std::function<int32_t(pdf::cPDF&)>& add);

// SaveAsPdf's file of a 24-bit picture whose rows `rows` hands to a band
// writer in order: they go through the JPEG band writer into memory at
// quality 90, as the member encodes the picture, and that stream is the
// page's image. `rows` may first put a writer of its own in place of the
// JPEG writer (one that hands it rows of the picture and finishes it).
// NotImplemented for a picture the member stores otherwise.
raster::Status WriteBandedPdf(
    const std::string& path, const raster::BandPicture& picture,
    const std::function<raster::Status(std::unique_ptr<raster::BandWriter>&)>& rows);

}  // namespace korvex
