#include "codec_test_util.h"

#include <gtest/gtest.h>
#include <sys/wait.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>

namespace korvex::testutil {

ScratchDir::ScratchDir() {
  std::string tmpl = (std::filesystem::temp_directory_path() / "korvex-test-XXXXXX").string();
  if (mkdtemp(tmpl.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
  path_ = tmpl;
}

ScratchDir::~ScratchDir() {
  std::error_code ec;
  std::filesystem::remove_all(path_, ec);
}

std::vector<uint8_t> read_file(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void write_file(const std::string& path, const std::vector<uint8_t>& bytes) {
  std::ofstream out(path, std::ios::binary);
  out.write(reinterpret_cast<const char*>(bytes.data()),
            static_cast<std::streamsize>(bytes.size()));
}

int run(const std::string& command, std::string* out) {
  FILE* p = popen(command.c_str(), "r");
  if (p == nullptr) return -1;
  std::string text;
  char buf[4096];
  size_t n;
  while ((n = fread(buf, 1, sizeof buf, p)) > 0) text.append(buf, n);
  const int status = pclose(p);
  if (out != nullptr) *out = text;
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

std::string convert_tool() {
  return "/usr/bin/convert";
}

std::unique_ptr<raster::Image> pattern_image(raster::PixelFormat f, int32_t w, int32_t h) {
  std::unique_ptr<raster::Image> img;
  EXPECT_EQ(raster::Image::create(w, h, f, img), raster::Status::Ok);
  const int bits = raster::bits_per_pixel(f);
  for (int32_t y = 0; y < h; ++y) {
    for (int32_t x = 0; x < w; ++x) {
      const uint32_t v = static_cast<uint32_t>(x * 7 + y * 3);
      if (raster::is_indexed(f)) {
        img->surface().row(y)[x * bits / 8] |=
            static_cast<uint8_t>(v % (1u << bits) << (8 - bits - x * bits % 8));
      } else {
        img->set_pixel(x, y,
                       (255 - v % 200) << 24 | x * 9u % 256 << 16 | y * 19u % 256 << 8 | v % 256);
      }
    }
  }
  return img;
}

raster::Status decode(const std::vector<uint8_t>& bytes, std::unique_ptr<raster::Image>& out) {
  return raster::decode_image(raster::own_bytes(bytes), out);
}

raster::Status status_of(const std::vector<uint8_t>& bytes) {
  std::unique_ptr<raster::Image> img;
  return decode(bytes, img);
}

std::vector<uint32_t> argb_pixels(raster::Image& img) {
  std::vector<uint32_t> px(static_cast<size_t>(img.width()) * img.height());
  const raster::Status s =
      img.read_pixels(raster::Rect{0, 0, img.width(), img.height()}, raster::pf::k32bppARGB,
                      reinterpret_cast<uint8_t*>(px.data()), img.width() * 4);
  EXPECT_EQ(s, raster::Status::Ok);
  return px;
}

std::vector<uint8_t> magick_rgba(const std::string& path, int32_t* width, int32_t* height,
                                 int frame) {
  const std::string input = "'" + path + "[" + std::to_string(frame) + "]'";
  std::string size;
  if (run(convert_tool() + " " + input + " -format '%w %h' info:", &size) != 0) return {};
  int w = 0, h = 0;
  if (std::sscanf(size.c_str(), "%d %d", &w, &h) != 2) return {};
  if (width) *width = w;
  if (height) *height = h;
  std::string raw;
  // -depth 8 RGBA:- writes the frame's pixels as they are shown, alpha included.
  if (run(convert_tool() + " " + input + " -depth 8 RGBA:-", &raw) != 0) return {};
  return std::vector<uint8_t>(raw.begin(), raw.end());
}

Pixels magick_argb(const std::string& path, int32_t* width, int32_t* height, int frame) {
  return rgba_to_argb(magick_rgba(path, width, height, frame));
}

std::vector<uint32_t> rgba_to_argb(const std::vector<uint8_t>& rgba) {
  std::vector<uint32_t> out(rgba.size() / 4);
  for (size_t i = 0; i < out.size(); ++i) {
    out[i] = static_cast<uint32_t>(rgba[4 * i + 3]) << 24 |
             static_cast<uint32_t>(rgba[4 * i]) << 16 |
             static_cast<uint32_t>(rgba[4 * i + 1]) << 8 | rgba[4 * i + 2];
  }
  return out;
}

const raster::Encoder* encoder_for(const std::string& pattern) {
  auto lower = [](std::string s) {
    std::transform(s.begin(), s.end(), s.begin(), [](unsigned char c) { return std::tolower(c); });
    return s;
  };
  for (const raster::Encoder& e : raster::encoders()) {
    if ((";" + lower(e.extensions) + ";").find(";" + lower(pattern) + ";") != std::string::npos) {
      return &e;
    }
  }
  return nullptr;
}

std::vector<uint8_t> encode(const std::string& pattern, raster::Image& img,
                            const raster::EncoderParams& params, raster::Status expect) {
  const raster::Encoder* enc = encoder_for(pattern);
  std::vector<uint8_t> out;
  EXPECT_EQ(enc == nullptr ? raster::Status::NotImplemented
                           : raster::encode_to_memory(*enc, img, params, out),
            expect);
  return out;
}

std::unique_ptr<raster::Image> decode_ok(const std::vector<uint8_t>& bytes) {
  std::unique_ptr<raster::Image> img;
  EXPECT_EQ(decode(bytes, img), raster::Status::Ok);
  if (img == nullptr) raster::Image::create(1, 1, raster::pf::k32bppARGB, img);
  return img;
}

std::vector<uint8_t> stored_rows(const raster::Image& img) {
  const raster::Surface& s = img.surface();
  const size_t n = (static_cast<size_t>(s.width) * raster::bits_per_pixel(s.format) + 7) / 8;
  std::vector<uint8_t> out;
  for (int32_t y = 0; y < s.height; ++y) out.insert(out.end(), s.row(y), s.row(y) + n);
  return out;
}

std::vector<uint8_t> property_bytes(const raster::Image& img, uint32_t id) {
  const raster::PropertyItem* p = img.property(id);
  return p == nullptr ? std::vector<uint8_t>{} : p->value;
}

Bytes Bmp::dib() const {
  Bytes d;
  for (uint32_t x : {header, uint32_t(w), uint32_t(h), 1 | bits << 16, comp,
                     uint32_t(pixels.size()), uint32_t(ppm_x), uint32_t(ppm_y), colors}) {
    put_le(d, x, 4);
  }
  d.resize(std::min(header, 40u));
  for (uint32_t m : masks) put_le(d, m, 4);
  d.resize(std::max<size_t>(d.size(), header));
  for (uint32_t c : table) put_le(d, c, 4);
  d.insert(d.end(), pixels.begin(), pixels.end());
  return d;
}

Bytes Bmp::bytes() const {
  const Bytes d = dib();
  const size_t before_pixels = 14 + d.size() - pixels.size();
  Bytes f;
  put_le(f, 'B' | 'M' << 8 | (14 + d.size()) << 16, 6);
  put_le(f, uint64_t(offset >= 0 ? size_t(offset) : before_pixels) << 32, 8);
  f.insert(f.end(), d.begin(), d.end());
  return f;
}

void put_le(std::vector<uint8_t>& v, uint64_t x, int bytes) {
  for (int k = 0; k < bytes; ++k) v.push_back(static_cast<uint8_t>(x >> (8 * k)));
}

int max_channel_diff(const std::vector<uint32_t>& a, const std::vector<uint32_t>& b,
                     bool opaque_b) {
  EXPECT_EQ(a.size(), b.size());
  int worst = a.size() == b.size() ? 0 : 256;
  for (size_t i = 0; i < std::min(a.size(), b.size()); ++i) {
    const uint32_t theirs = opaque_b ? b[i] | 0xFF000000u : b[i];
    for (int s = 0; s < 32; s += 8) {
      worst = std::max(worst, std::abs(int(a[i] >> s & 0xFF) - int(theirs >> s & 0xFF)));
    }
  }
  return worst;
}

std::vector<uint32_t> clear_transparent(std::vector<uint32_t> argb) {
  for (uint32_t& p : argb) p = (p >> 24) == 0 ? 0 : p;
  return argb;
}

}  // namespace korvex::testutil
