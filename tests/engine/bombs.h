// Small inputs inflating hugely (PNG, Deflate TIFF strip, PDF content stream),
// built without holding the inflated bytes.
#pragma once

#include <zlib.h>

#include <cstdint>
#include <string>
#include <vector>

namespace korvex::testutil {

// A zlib stream of `n` bytes of `value`.
inline std::vector<uint8_t> deflate_run(uint64_t n, uint8_t value) {
  z_stream z{};
  deflateInit(&z, Z_BEST_COMPRESSION);
  std::vector<uint8_t> in(1 << 20, value), out, buf(1 << 16);
  for (int flush = Z_NO_FLUSH; flush != Z_FINISH;) {
    z.next_in = in.data();
    z.avail_in = static_cast<uInt>(n < in.size() ? n : in.size());
    n -= z.avail_in;
    flush = n == 0 ? Z_FINISH : Z_NO_FLUSH;
    do {
      z.next_out = buf.data();
      z.avail_out = static_cast<uInt>(buf.size());
      deflate(&z, flush);
      out.insert(out.end(), buf.data(), buf.data() + (buf.size() - z.avail_out));
    } while (z.avail_out == 0);
  }
  deflateEnd(&z);
  return out;
}

// Appends `x` in `n` bytes, big-endian when `big`.
inline void put(std::vector<uint8_t>& v, uint64_t x, int n, bool big) {
  for (int i = 0; i < n; ++i) v.push_back(static_cast<uint8_t>(x >> (8 * (big ? n - 1 - i : i))));
}

// An 8-bit gray PNG of width x height black pixels.
inline std::vector<uint8_t> png_bomb(uint32_t width, uint32_t height) {
  std::vector<uint8_t> v = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'}, ihdr;
  const auto chunk = [&v](const char* type, const std::vector<uint8_t>& data) {
    put(v, data.size(), 4, true);
    const size_t at = v.size();
    v.insert(v.end(), type, type + 4);
    v.insert(v.end(), data.begin(), data.end());
    put(v, crc32(0, v.data() + at, static_cast<uInt>(data.size() + 4)), 4, true);
  };
  put(ihdr, uint64_t{width} << 32 | height, 8, true);
  ihdr.insert(ihdr.end(), {8, 0, 0, 0, 0});
  chunk("IHDR", ihdr);
  chunk("IDAT", deflate_run(uint64_t{height} * (width + 1), 0));
  chunk("IEND", {});
  return v;
}

// A little-endian 8-bit gray TIFF of width x height black pixels in one Deflate strip.
inline std::vector<uint8_t> tiff_bomb(uint32_t width, uint32_t height) {
  const std::vector<uint8_t> strip = deflate_run(uint64_t{width} * height, 0);
  std::vector<uint8_t> v = {'I', 'I', 42, 0, 8, 0, 0, 0, 9, 0};
  const uint32_t tags[9][3] = {{256, 4, width}, {257, 4, height}, {258, 3, 8},
                               {259, 3, 8},     {262, 3, 1},      {273, 4, 8 + 2 + 9 * 12 + 4},
                               {277, 3, 1},     {278, 4, height}, {279, 4, uint32_t(strip.size())}};
  for (const auto& t : tags)
    put(v, t[0] | t[1] << 16 | uint64_t{1} << 32, 8, false), put(v, t[2], 4, false);
  put(v, 0, 4, false);
  v.insert(v.end(), strip.begin(), strip.end());
  return v;
}

// A one-page PDF of 200 x 100 points whose content stream inflates to `n` spaces.
inline std::string pdf_bomb(uint64_t n) {
  const std::vector<uint8_t> content = deflate_run(n, ' ');
  const std::string objects[] = {
      "<< /Type /Catalog /Pages 2 0 R >>", "<< /Type /Pages /Kids [3 0 R] /Count 1 >>",
      "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 200 100] /Contents 4 0 R >>",
      "<< /Length " + std::to_string(content.size()) + " /Filter /FlateDecode >>\nstream\n" +
          std::string(content.begin(), content.end()) + "\nendstream"};
  std::string pdf = "%PDF-1.4\n", xref = "xref\n0 5\n0000000000 65535 f \n";
  for (int i = 0; i < 4; ++i) {
    const std::string at = std::to_string(pdf.size());
    xref += std::string(10 - at.size(), '0') + at + " 00000 n \n";
    pdf += std::to_string(i + 1) + " 0 obj\n" + objects[i] + "\nendobj\n";
  }
  return pdf + xref + "trailer\n<< /Size 5 /Root 1 0 R >>\nstartxref\n" +
         std::to_string(pdf.size()) + "\n%%EOF\n";
}

}  // namespace korvex::testutil
