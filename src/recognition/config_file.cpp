// The binary configuration file of the families: reading with every count
// and length checked against the bytes that remain, and writing.
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "raster/cp1252.h"
#include "raster/guard.h"
#include "recognition/rad.h"

namespace korvex::recognition {

namespace {

// Little-endian reads from a bounded buffer; the first short read sticks.
class Reader {
 public:
  Reader(const uint8_t* data, size_t size) : p_(data), left_(size) {}
  size_t left() const { return left_; }
  bool ok() const { return ok_; }

  uint32_t u32() {
    uint8_t b[4] = {};
    take(b, 4);
    return static_cast<uint32_t>(b[0]) | static_cast<uint32_t>(b[1]) << 8 |
           static_cast<uint32_t>(b[2]) << 16 | static_cast<uint32_t>(b[3]) << 24;
  }
  int32_t i32() { return static_cast<int32_t>(u32()); }
  uint16_t u16() {
    uint8_t b[2] = {};
    take(b, 2);
    return static_cast<uint16_t>(b[0] | b[1] << 8);
  }
  // A 16-bit length and that many code page 1252 bytes, as UTF-8.
  std::string text() {
    const uint16_t n = u16();
    if (!ok_ || n > left_) {
      ok_ = false;
      return {};
    }
    std::string s = raster::cp1252_to_utf8(p_, n);
    p_ += n;
    left_ -= n;
    return s;
  }

 private:
  void take(uint8_t* out, size_t n) {
    if (!ok_ || n > left_) {
      ok_ = false;
      return;
    }
    std::memcpy(out, p_, n);
    p_ += n;
    left_ -= n;
  }

  const uint8_t* p_;
  size_t left_;
  bool ok_ = true;
};

void put_u32(std::vector<uint8_t>& out, uint32_t v) {
  const uint8_t b[4] = {static_cast<uint8_t>(v), static_cast<uint8_t>(v >> 8),
                        static_cast<uint8_t>(v >> 16), static_cast<uint8_t>(v >> 24)};
  out.insert(out.end(), b, b + 4);
}

bool put_text(std::vector<uint8_t>& out, const std::string& utf8) {
  const std::vector<uint8_t> bytes = raster::utf8_to_cp1252(utf8);
  if (bytes.size() > 0xFFFF) return false;
  out.push_back(static_cast<uint8_t>(bytes.size()));
  out.push_back(static_cast<uint8_t>(bytes.size() >> 8));
  out.insert(out.end(), bytes.begin(), bytes.end());
  return true;
}

raster::Status parse(const uint8_t* data, size_t size, std::vector<Family>& out) {
  Reader in(data, size);
  const int32_t count = in.i32();
  if (!in.ok()) return raster::Status::GenericError;
  std::vector<Family> families;
  if (count < 1) {
    out.swap(families);
    return raster::Status::Ok;
  }
  // Each family takes at least kMinFamilyBytes: a count the file cannot
  // hold is refused before anything is allocated for it.
  if (static_cast<uint64_t>(count) > in.left() / kMinFamilyBytes)
    return raster::Status::GenericError;
  families.reserve(static_cast<size_t>(count));
  for (int32_t i = 0; i < count; ++i) {
    Family f;
    f.name = in.text();
    bool negative = false;
    for (int32_t& bin : f.histogram) {
      bin = in.i32();
      negative |= bin < 0;
    }
    f.area = in.i32();
    f.top_black = in.i32();
    f.images = in.i32();
    f.tag = in.text();
    if (!in.ok()) return raster::Status::GenericError;
    // The means are counts and areas: a negative one was never written by
    // a learning engine.
    if (negative || f.area < 0 || f.top_black < 0 || f.images < 0)
      return raster::Status::GenericError;
    families.push_back(std::move(f));
  }
  out.swap(families);
  return raster::Status::Ok;
}

}  // namespace

raster::Status ParseConfig(const uint8_t* data, size_t size, std::vector<Family>& out) {
  return raster::guarded([&] { return parse(data, size, out); });
}

raster::Status WriteConfig(const std::vector<Family>& families, std::vector<uint8_t>& out) {
  return raster::guarded([&] {
    std::vector<uint8_t> bytes;
    bytes.reserve(4 + families.size() * (kMinFamilyBytes + 64));
    put_u32(bytes, static_cast<uint32_t>(families.size()));
    for (const Family& f : families) {
      if (!put_text(bytes, f.name)) return raster::Status::ValueOverflow;
      for (int32_t bin : f.histogram) put_u32(bytes, static_cast<uint32_t>(bin));
      put_u32(bytes, static_cast<uint32_t>(f.area));
      put_u32(bytes, static_cast<uint32_t>(f.top_black));
      put_u32(bytes, static_cast<uint32_t>(f.images));
      if (!put_text(bytes, f.tag)) return raster::Status::ValueOverflow;
    }
    out.swap(bytes);
    return raster::Status::Ok;
  });
}

}  // namespace korvex::recognition
