// The PDF rendering calls the viewer shows PDF pages through: open a
// document, count its pages, render one page at a resolution into a BMP or
// JPEG file, and decrypt a file with a password into another file.
// poppler-cpp reads and renders, libqpdf decrypts.
//
// The calls have the shape of a flat library: Long results, documents kept
// by id in a per-thread table with one selected document that the page calls
// work on, and the code of the last failure (iSEDLastErrorCode):
//   401 could not open input file         403 could not open output file
//   404 invalid password                  405 document is not encrypted
//   409 invalid file structure (damaged)  411 page out of range
//   412 output larger than the pixel limits, a stream of the page inflating
//       past the inflate ratio limit, or not encodable
// Nothing is thrown.
#pragma once

#include <cstdint>
#include <string>

#include "raster/codec.h"

namespace korvex::pdfrender {

// Writes `in` decrypted with `password` (user or owner) to `out`, replacing
// it. 1 on success, 0 on failure (the error code tells why; `out` is then
// absent).
int32_t iSEDDecryptFile(const std::string& in, const std::string& out,
                        const std::string& password);
int32_t iSEDLastErrorCode();
// Loads a document, unlocked when it needs no password; 1 = loaded, it is
// then the selected document. 0 for a missing or damaged file.
int32_t iSEDLoadFromFile(const std::string& path);
// The id of the selected document for index 1; 0 otherwise or without one.
int32_t iSEDDocumentID(int32_t index);
// Selects an open document; 1 = selected, 0 = no such id.
int32_t iSEDSelectDocument(int32_t id);
// 1 when the selected document is encrypted (even with an empty user password).
int32_t iSEDEncrypted();
// Tries a password on the selected document: 1 = it opens the document.
int32_t iSEDSetPassword(const std::string& password);
// 1 when the selected document can be read (it needs no further password).
int32_t iSEDUnencrypt();
int32_t iSEDPageCount();
// Renders pages first..last (1-based; only one page, first == last, per
// file) of the selected document at `dpi` in both directions into `file`:
// options 0 writes a 24-bit BMP, 1 a JPEG. 1 = file written. The file is a
// cache: it is replaced without a flush to disk.
int32_t iSEDRenderDocumentToFile(int32_t dpi, int32_t first, int32_t last, int32_t options,
                                 const std::string& file);
// The bytes of the page file the last successful iSEDRenderDocumentToFile
// wrote, when `file` names it: handed over once (moved into `out`, 1), so
// the caller can decode the page it just rendered without reading the file
// back. 0 (and `out` empty) otherwise.
int32_t iSEDTakeRenderedFile(const std::string& file, raster::EncodedBytes& out);
// Closes a document; 1 = it was open.
int32_t iSEDRemoveDocument(int32_t id);

}  // namespace korvex::pdfrender
