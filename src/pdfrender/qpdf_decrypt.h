// Decryption of a PDF into a plain copy through libqpdf, behind a plain
// interface: libqpdf's headers do not build as C++20 with clang, so only
// this file includes them (compiled as C++17).
#pragma once

#include <cstdint>
#include <string>

namespace korvex::pdfrender {

// Writes `in`, decrypted with `password`, to `out`. 0 on success, else 403
// (output cannot be written), 404 (wrong password), 405 (not encrypted),
// 409 (damaged) or 401 (input cannot be read). A failed write leaves no
// partial output.
int32_t DecryptWithQpdf(const std::string& in, const std::string& out,
                        const std::string& password);

}  // namespace korvex::pdfrender
