// Byte streams: what hosts pass to the engine to load from and receive from
// it when saving to memory. Two kinds are provided: a growable memory stream
// and a file stream.
#pragma once

#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

namespace korvex {

class Stream {
 public:
  enum Origin { kBegin = 0, kCurrent = 1, kEnd = 2 };
  virtual ~Stream() = default;
  // Reads up to n bytes; returns the count read (0 at the end), -1 on error.
  virtual int64_t Read(void* buffer, int64_t n) = 0;
  // Writes n bytes; returns the count written, -1 on error.
  virtual int64_t Write(const void* buffer, int64_t n) = 0;
  // Moves the position; returns the new position, -1 on error.
  virtual int64_t Seek(int64_t offset, Origin origin) = 0;
  // Size in bytes, -1 on error.
  virtual int64_t Size() = 0;
  int64_t Tell() { return Seek(0, kCurrent); }
};

// A stream over a growable buffer it owns.
class MemoryStream : public Stream {
 public:
  MemoryStream() = default;
  explicit MemoryStream(std::vector<uint8_t> bytes) : bytes_(std::move(bytes)) {}
  int64_t Read(void* buffer, int64_t n) override;
  int64_t Write(const void* buffer, int64_t n) override;
  int64_t Seek(int64_t offset, Origin origin) override;
  int64_t Size() override { return static_cast<int64_t>(bytes_.size()); }
  const std::vector<uint8_t>& Bytes() const { return bytes_; }

 private:
  std::vector<uint8_t> bytes_;
  int64_t pos_ = 0;
};

// A stream over a file.
class FileStream : public Stream {
 public:
  // mode as for fopen ("rb", "wb", "r+b"...); null when the file cannot be opened.
  static std::shared_ptr<FileStream> Open(const std::string& path, const char* mode);
  ~FileStream() override;
  int64_t Read(void* buffer, int64_t n) override;
  int64_t Write(const void* buffer, int64_t n) override;
  int64_t Seek(int64_t offset, Origin origin) override;
  int64_t Size() override;

 private:
  explicit FileStream(std::FILE* f) : f_(f) {}
  std::FILE* f_;
};

}  // namespace korvex
