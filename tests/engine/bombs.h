// Small inputs that inflate hugely, built with zlib without holding the
// inflated bytes: a gray PNG, a Deflate TIFF strip and a PDF content stream.
#pragma once

#include <zlib.h>

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace korvex::testutil {

// A zlib stream of `n` bytes of `value`, fed from a 1 MiB buffer.
inline std::vector<uint8_t> deflate_run(uint64_t n, uint8_t value) {
  z_stream z{};
  deflateInit(&z, Z_BEST_COMPRESSION);
  std::vector<uint8_t> in(1 << 20, value), out, buf(1 << 16);
  for (bool last = false; !last;) {
    const uint64_t take = n < in.size() ? n : in.size();
    n -= take;
    last = n == 0;
    z.next_in = in.data();
    z.avail_in = static_cast<uInt>(take);
    do {
      z.next_out = buf.data();
      z.avail_out = static_cast<uInt>(buf.size());
      deflate(&z, last ? Z_FINISH : Z_NO_FLUSH);
      out.insert(out.end(), buf.data(), buf.data() + (buf.size() - z.avail_out));
    } while (z.avail_out == 0);
  }
  deflateEnd(&z);
  return out;
}

inline void put_be(std::vector<uint8_t>& v, uint32_t x) {
  for (int s = 24; s >= 0; s -= 8) v.push_back(static_cast<uint8_t>(x >> s));
}

// An 8-bit gray PNG of width x height black pixels.
inline std::vector<uint8_t> png_bomb(uint32_t width, uint32_t height) {
  std::vector<uint8_t> v = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
  const auto chunk = [&v](const char* type, const std::vector<uint8_t>& data) {
    put_be(v, static_cast<uint32_t>(data.size()));
    const size_t at = v.size();
    v.insert(v.end(), type, type + 4);
    v.insert(v.end(), data.begin(), data.end());
    put_be(v, static_cast<uint32_t>(crc32(0, v.data() + at, static_cast<uInt>(data.size() + 4))));
  };
  std::vector<uint8_t> ihdr;
  put_be(ihdr, width);
  put_be(ihdr, height);
  ihdr.insert(ihdr.end(), {8, 0, 0, 0, 0});
  chunk("IHDR", ihdr);
  chunk("IDAT", deflate_run(uint64_t{height} * (width + 1), 0));
  chunk("IEND", {});
  return v;
}

// A little-endian 8-bit gray TIFF of width x height pixels in one Deflate strip.
inline std::vector<uint8_t> tiff_bomb(uint32_t width, uint32_t height) {
  const std::vector<uint8_t> strip = deflate_run(uint64_t{width} * height, 0);
  std::vector<uint8_t> v = {'I', 'I', 42, 0, 8, 0, 0, 0};
  const auto le = [&v](uint64_t x, int n) {
    for (int i = 0; i < n; ++i) v.push_back(static_cast<uint8_t>(x >> (8 * i)));
  };
  const uint32_t data_at = 8 + 2 + 9 * 12 + 4;
  const uint32_t entries[9][3] = {
      {256, 4, width}, {257, 4, height}, {258, 3, 8},
      {259, 3, 8},     {262, 3, 1},      {273, 4, data_at},
      {277, 3, 1},     {278, 4, height}, {279, 4, static_cast<uint32_t>(strip.size())}};
  le(9, 2);
  for (const auto& e : entries) le(e[0], 2), le(e[1], 2), le(1, 4), le(e[2], 4);
  le(0, 4);
  v.insert(v.end(), strip.begin(), strip.end());
  return v;
}

// A one-page PDF of 200 x 100 points whose content stream inflates to `n` spaces.
inline std::string pdf_bomb(uint64_t n) {
  const std::vector<uint8_t> content = deflate_run(n, ' ');
  std::string pdf = "%PDF-1.4\n";
  std::vector<size_t> at;
  const auto obj = [&](const std::string& body) {
    at.push_back(pdf.size());
    pdf += std::to_string(at.size()) + " 0 obj\n" + body + "\nendobj\n";
  };
  obj("<< /Type /Catalog /Pages 2 0 R >>");
  obj("<< /Type /Pages /Kids [3 0 R] /Count 1 >>");
  obj("<< /Type /Page /Parent 2 0 R /MediaBox [0 0 200 100] /Contents 4 0 R >>");
  obj("<< /Length " + std::to_string(content.size()) + " /Filter /FlateDecode >>\nstream\n" +
      std::string(content.begin(), content.end()) + "\nendstream");
  const size_t xref = pdf.size();
  pdf += "xref\n0 5\n0000000000 65535 f \n";
  for (size_t a : at) {
    char line[21];
    std::snprintf(line, sizeof line, "%010zu 00000 n \n", a);
    pdf += line;
  }
  pdf += "trailer\n<< /Size 5 /Root 1 0 R >>\nstartxref\n" + std::to_string(xref) + "\n%%EOF\n";
  return pdf;
}

}  // namespace korvex::testutil
