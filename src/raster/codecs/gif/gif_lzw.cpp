// Image descriptors, sub-blocks and LZW decompression for the GIF pictures
// giflib refuses (see gif_lzw.h).
#include "raster/codecs/gif/gif_lzw.h"

#include <algorithm>

namespace korvex::raster::gif {

namespace {

int32_t le16(const uint8_t* p) {
  return p[0] | p[1] << 8;
}

}  // namespace

bool read_descriptor(const uint8_t* data, size_t size, size_t offset, RawDescriptor& out) {
  // Separator, left, top, width, height, flags; then the local map and the
  // code size byte. Every step compares against the bytes left, so no sum
  // can overflow.
  if (offset >= size || size - offset < 10 || data[offset] != ',') return false;
  const uint8_t* d = data + offset;
  out.left = le16(d + 1);
  out.top = le16(d + 3);
  out.width = le16(d + 5);
  out.height = le16(d + 7);
  const uint8_t flags = d[9];
  out.interlaced = (flags & 0x40) != 0;
  size_t pos = offset + 10;
  out.local_map = nullptr;
  out.local_colors = 0;
  if ((flags & 0x80) != 0) {
    const size_t colors = size_t{2} << (flags & 0x07);  // 2..256
    if (size - pos < colors * 3) return false;
    out.local_map = data + pos;
    out.local_colors = colors;
    pos += colors * 3;
  }
  if (pos >= size) return false;
  out.code_size = data[pos];
  out.data = pos + 1;
  return true;
}

size_t skip_sub_blocks(const uint8_t* data, size_t size, size_t pos) {
  while (pos < size) {
    const size_t n = data[pos];
    if (n == 0) return pos + 1;
    if (size - pos - 1 < n) return 0;
    pos += 1 + n;
  }
  return 0;
}

LzwReader::LzwReader(const uint8_t* data, size_t size, size_t pos, int min_code_size)
    : data_(data), size_(size), pos_(pos), min_code_size_(min_code_size) {
  // Other code sizes are refused by read(); the clamp keeps the table sane.
  clear_code_ = 1 << std::clamp(min_code_size, 2, kMaxBits - 1);
  end_code_ = clear_code_ + 1;
  for (int i = 0; i < clear_code_; ++i) suffix_[i] = static_cast<uint8_t>(i);
  reset();
}

void LzwReader::reset() {
  width_ = min_code_size_ + 1;
  next_ = end_code_ + 1;
  previous_ = -1;
}

// The next code, least significant bit first, from as many sub-blocks as it
// spans. False once the zero-length block or the end of the bytes is reached.
bool LzwReader::next_code(int& code) {
  while (bit_count_ < width_) {
    if (block_left_ == 0) {
      if (ended_ || pos_ >= size_ || data_[pos_] == 0) {
        ended_ = true;
        return false;
      }
      block_left_ = data_[pos_++];
    }
    if (pos_ >= size_) {
      ended_ = true;
      return false;
    }
    bits_ |= static_cast<uint32_t>(data_[pos_++]) << bit_count_;
    bit_count_ += 8;
    --block_left_;
  }
  code = static_cast<int>(bits_ & ((1u << width_) - 1));
  bits_ >>= width_;
  bit_count_ -= width_;
  return true;
}

bool LzwReader::read(uint8_t* out, size_t count) {
  if (min_code_size_ < 2 || min_code_size_ > kMaxBits - 1) return false;
  size_t i = 0;
  for (;;) {
    while (stack_size_ > 0 && i < count) out[i++] = stack_[--stack_size_];
    if (i == count) return true;

    int code = 0;
    if (!next_code(code) || code == end_code_) return false;
    if (code == clear_code_) {
      reset();
      continue;
    }
    if (previous_ < 0) {
      if (code > clear_code_) return false;  // nothing to refer to yet
      first_ = suffix_[code];
      stack_[stack_size_++] = first_;
      previous_ = code;
      continue;
    }
    // A code up to the next free entry; the next free entry itself is the
    // previous string plus its own first pixel.
    if (code > next_) return false;
    int walk = code;
    if (code == next_) {
      stack_[stack_size_++] = first_;
      walk = previous_;
    }
    // Each entry's prefix is an older code, so the walk ends at a literal
    // within the table size.
    while (walk > clear_code_) {
      stack_[stack_size_++] = suffix_[walk];
      walk = prefix_[walk];
    }
    first_ = suffix_[walk];
    stack_[stack_size_++] = first_;
    // A full table takes no entries until the next clear code; the codes
    // stay 12 bits wide.
    if (next_ < kTableSize) {
      prefix_[next_] = static_cast<uint16_t>(previous_);
      suffix_[next_] = first_;
      ++next_;
      if (next_ == 1 << width_ && width_ < kMaxBits) ++width_;
    }
    previous_ = code;
  }
}

}  // namespace korvex::raster::gif
