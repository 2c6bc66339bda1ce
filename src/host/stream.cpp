#include "korvex/stream.h"

#include <algorithm>
#include <cstring>
#include <limits>

namespace korvex {

int64_t MemoryStream::Read(void* buffer, int64_t n) {
  if (n < 0 || (buffer == nullptr && n > 0)) return -1;
  const int64_t size = static_cast<int64_t>(bytes_.size());
  const int64_t count = std::max<int64_t>(0, std::min(n, size - pos_));
  if (count > 0) std::memcpy(buffer, bytes_.data() + pos_, static_cast<size_t>(count));
  pos_ += count;
  return count;
}

int64_t MemoryStream::Write(const void* buffer, int64_t n) {
  if (n < 0 || (buffer == nullptr && n > 0)) return -1;
  if (n == 0) return 0;
  if (pos_ > std::numeric_limits<int64_t>::max() - n) return -1;
  const size_t end = static_cast<size_t>(pos_ + n);
  if (end > bytes_.size()) bytes_.resize(end);  // a gap after a seek past the end reads as zeros
  std::memcpy(bytes_.data() + pos_, buffer, static_cast<size_t>(n));
  pos_ += n;
  return n;
}

int64_t MemoryStream::Seek(int64_t offset, Origin origin) {
  int64_t base = 0;
  switch (origin) {
    case kBegin:
      base = 0;
      break;
    case kCurrent:
      base = pos_;
      break;
    case kEnd:
      base = static_cast<int64_t>(bytes_.size());
      break;
    default:
      return -1;
  }
  if ((offset > 0 && base > std::numeric_limits<int64_t>::max() - offset) || base + offset < 0) {
    return -1;
  }
  pos_ = base + offset;
  return pos_;
}

std::shared_ptr<FileStream> FileStream::Open(const std::string& path, const char* mode) {
  std::FILE* f = std::fopen(path.c_str(), mode);
  if (f == nullptr) return nullptr;
  return std::shared_ptr<FileStream>(new FileStream(f));
}

FileStream::~FileStream() {
  std::fclose(f_);
}

int64_t FileStream::Read(void* buffer, int64_t n) {
  if (n < 0) return -1;
  const size_t got = std::fread(buffer, 1, static_cast<size_t>(n), f_);
  if (got < static_cast<size_t>(n) && std::ferror(f_)) return -1;
  return static_cast<int64_t>(got);
}

int64_t FileStream::Write(const void* buffer, int64_t n) {
  if (n < 0) return -1;
  const size_t put = std::fwrite(buffer, 1, static_cast<size_t>(n), f_);
  return put == static_cast<size_t>(n) ? n : -1;
}

int64_t FileStream::Seek(int64_t offset, Origin origin) {
  const int whence = origin == kBegin ? SEEK_SET : origin == kCurrent ? SEEK_CUR : SEEK_END;
  if (fseeko(f_, static_cast<off_t>(offset), whence) != 0) return -1;
  return static_cast<int64_t>(ftello(f_));
}

int64_t FileStream::Size() {
  const off_t here = ftello(f_);
  if (here < 0 || fseeko(f_, 0, SEEK_END) != 0) return -1;
  const off_t end = ftello(f_);
  fseeko(f_, here, SEEK_SET);
  return static_cast<int64_t>(end);
}

}  // namespace korvex
