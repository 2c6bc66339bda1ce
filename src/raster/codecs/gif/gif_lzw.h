// GIF pictures that giflib will not open: a minimum LZW code size of 9, 10 or
// 11 bits. The format allows codes of up to 12 bits, so such pictures are
// valid (browsers and ImageMagick show them), but giflib refuses any code size
// past 8. For those the decoder reads the image descriptor and the compressed
// sub-blocks itself and decompresses them here.
//
// The LZW reader follows what browsers do:
//  - the table holds at most 4096 codes; once it is full, codes stay 12 bits
//    wide and no entries are added until the encoder sends a clear code
//    (a "deferred" clear);
//  - a code past the next free entry, a first code after a clear that is not
//    a literal, and an end code or the end of the sub-blocks before the
//    picture is complete are faults;
//  - a literal past 255 (possible with code sizes over 8) keeps its low 8
//    bits, as pixel indices are 8 bits.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

namespace korvex::raster::gif {

// Minimum code sizes giflib refuses and the LZW reader decodes. Size 12 would
// need a 13-bit clear code and stays refused, as in browsers.
inline constexpr int kOwnLzwMinCodeSize = 9;
inline constexpr int kOwnLzwMaxCodeSize = 11;

// An image descriptor read straight from the bytes.
struct RawDescriptor {
  int32_t left = 0;
  int32_t top = 0;
  int32_t width = 0;
  int32_t height = 0;
  bool interlaced = false;
  const uint8_t* local_map = nullptr;  // RGB triplets, or null without a local map
  size_t local_colors = 0;
  int code_size = 0;  // minimum LZW code size
  size_t data = 0;    // offset of the first compressed sub-block
};

// Reads the descriptor whose separator ',' is at `offset`, its local colour
// map and the code size byte. False when the bytes end inside them.
bool read_descriptor(const uint8_t* data, size_t size, size_t offset, RawDescriptor& out);

// Offset just past the zero-length block that ends the sub-blocks starting at
// `pos`, or 0 when the bytes end before it.
size_t skip_sub_blocks(const uint8_t* data, size_t size, size_t pos);

// Decompresses the sub-blocks starting at `pos` with a minimum code size of
// 2..11, a row at a time; a string that runs past the end of a row carries on
// into the next.
class LzwReader {
 public:
  LzwReader(const uint8_t* data, size_t size, size_t pos, int min_code_size);

  // Writes the next `count` pixel indices to `out`. False at a fault.
  bool read(uint8_t* out, size_t count);

 private:
  static constexpr int kMaxBits = 12;
  static constexpr int kTableSize = 1 << kMaxBits;

  bool next_code(int& code);
  void reset();

  const uint8_t* data_;
  size_t size_;
  size_t pos_;
  size_t block_left_ = 0;  // bytes left in the current sub-block
  bool ended_ = false;     // the zero-length block was reached
  uint32_t bits_ = 0;      // pending input bits, least significant first
  int bit_count_ = 0;

  int min_code_size_;
  int clear_code_;
  int end_code_;
  int width_ = 0;      // bits per code now
  int next_ = 0;       // next free table entry
  int previous_ = -1;  // code before this one; -1 right after a clear
  uint8_t first_ = 0;  // first pixel of the previous code's string

  std::array<uint16_t, kTableSize> prefix_{};
  std::array<uint8_t, kTableSize> suffix_{};
  std::array<uint8_t, kTableSize + 1> stack_{};  // a string, last pixel first
  size_t stack_size_ = 0;
};

}  // namespace korvex::raster::gif
