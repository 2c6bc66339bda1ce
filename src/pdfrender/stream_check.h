// The inflate check of a PDF page before it is rendered: every stream the
// page draws (its contents, and the images and forms it uses, nested forms
// included) is decoded through a counter, without keeping the bytes, and
// the page is refused as soon as one stream decodes past what its encoded
// size allows. Images are also refused when their declared samples exceed
// it, whatever their filter (a Group 4 or JPEG image is not decoded here).
// libqpdf reads the file; only stream_check.cpp includes its headers.
#pragma once

#include <cstdint>
#include <string>

namespace korvex::pdfrender {

// True when `allowed(encoded, decoded)` holds for every stream of page
// `index` (0-based) of the file `path`, opened with `password`; also true
// when libqpdf cannot read the file or the page (the renderer then reports
// its own failure).
bool PageStreamsAllowed(const std::string& path, const std::string& password, int32_t index,
                        bool (*allowed)(uint64_t encoded, uint64_t decoded));

// Closes the document the check keeps open between pages (it holds the
// file open); the next check opens it again.
void ClosePageStreams();

}  // namespace korvex::pdfrender
