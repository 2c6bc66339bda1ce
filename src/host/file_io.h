// Whole-file reads and crash-safe whole-file writes.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "raster/codec.h"
#include "raster/types.h"

namespace korvex::host {

// Reads a whole file. A pipe or a device is read as a stream to its end, up
// to the download limit of korvex/limits.h (OutOfMemory past it).
// FileNotFound when it does not exist, Win32Error when its bytes cannot be
// read (a folder, no permission, an I/O error).
raster::Status read_whole_file(const std::string& path, std::vector<uint8_t>& out);
// The same into a buffer that decoders may keep: allocated without zeroing
// (large files on huge pages), freed when the last holder lets go.
raster::Status read_whole_file(const std::string& path, raster::EncodedBytes& out);

// Opens an image file: decodes it straight from the file into `img` when its
// decoder can (see Decoder::decode_file), else reads it whole into `bytes`
// for decode_image and leaves `img` null. Errors of the file as read_whole_file;
// a decoder's failure as its status. A stream whose first bytes no decoder
// recognises is UnknownImageFormat, read no further (/dev/zero, say).
raster::Status open_image_file(const std::string& path, std::unique_ptr<raster::Image>& img,
                               raster::EncodedBytes& bytes);

// Writes bytes to a temporary file in the target's folder, flushes it to
// disk and renames it over the target, so the target is either the old file
// or the complete new one. An existing target's permissions are kept.
raster::Status write_file_atomically(const std::string& path, const uint8_t* data, size_t size);

// Produces a file's bytes straight into its temporary file, with the same
// guarantees: the target is replaced only when `produce` returns Ok and every
// write, the flush to disk and the rename succeed; otherwise the old file
// stays as it was and the temporary file is removed. An existing special
// file (a device, a pipe) cannot be seeked or renamed over: its bytes are
// produced in memory and written in place.
using ByteProducer = std::function<raster::Status(raster::ByteSink&)>;
raster::Status write_file_atomically(const std::string& path, const ByteProducer& produce);

class FileSink;

// A file replaced by bytes produced over several calls (the pages of a
// multi-page file), with the guarantees of write_file_atomically: the bytes
// go to a temporary file in the target's folder, and the target is replaced
// only by a successful commit(); abandoning (or destroying the object
// before committing) removes the temporary file and leaves the target as it
// was. An existing special file is written in place at commit, from memory.
class FileReplacement {
 public:
  FileReplacement();
  ~FileReplacement();
  FileReplacement(const FileReplacement&) = delete;
  FileReplacement& operator=(const FileReplacement&) = delete;

  // Starts replacing `path` and lets `start` write the first bytes into
  // sink(). Statuses as write_file_atomically; when the temporary file cannot
  // be created, `start` runs on a scratch sink in memory first, so that bytes
  // that cannot be made at all are reported as such before the file problem.
  raster::Status begin(const std::string& path, const ByteProducer& start);
  // Where the bytes go, from begin() until commit() or abandon().
  raster::ByteSink& sink();
  // True when `s` is sink() (not the scratch sink of a failed begin).
  bool owns(const raster::ByteSink& s) const;
  // Writes out, syncs and renames the temporary file over the target. The
  // sink's first failure is reported before anything else; on any failure
  // the temporary file is removed.
  raster::Status commit();
  // Drops the bytes: the temporary file is removed, the target untouched.
  void abandon();

 private:
  std::string path_;
  std::string temp_;
  int fd_ = -1;
  std::unique_ptr<FileSink> file_;
  std::vector<uint8_t> bytes_;  // a special file's bytes until commit
  std::unique_ptr<raster::MemorySink> memory_;
};

// Starts a multi-frame file at `path` through `encoder`'s frame writer, with
// `first` as its first frame. The frames go to a FileReplacement: the file
// appears at `path` when the writer's finish() succeeds; a writer that fails
// or is destroyed before leaves the old file (or none) as it was. After
// finish() the writer answers WrongState. InvalidParameter for an empty path,
// UnknownImageFormat when the encoder writes single frames only.
raster::Status open_frame_file(const raster::Encoder& encoder, raster::Image& first,
                               const raster::EncoderParams& params, const std::string& path,
                               std::unique_ptr<raster::FrameWriter>& out);

// A file descriptor as a byte sink, writing through a small buffer at
// explicit offsets (pwrite), and handing finished data to the kernel's
// writeback as it goes so that a final fsync has little left to wait for.
// The descriptor stays the caller's; bytes still buffered when the sink is
// destroyed are dropped, so a successful write ends with flush().
class FileSink final : public raster::ByteSink {
 public:
  explicit FileSink(int fd);
  ~FileSink() override;
  FileSink(const FileSink&) = delete;
  FileSink& operator=(const FileSink&) = delete;
  bool write(const void* data, size_t n) override;
  bool seek(uint64_t pos) override;
  uint64_t tell() const override { return pos_; }
  uint64_t size() const override { return end_; }
  size_t read(void* data, size_t n) override;
  // Writes out what is buffered; false (and error() set) on failure.
  bool flush();

 private:
  bool fail(int err);
  bool put(const uint8_t* data, size_t n, uint64_t at);

  int fd_;
  uint8_t* buf_;
  size_t buf_len_ = 0;
  uint64_t buf_at_ = 0;  // file offset of buf_[0]
  uint64_t pos_ = 0;
  uint64_t end_ = 0;
  uint64_t started_ = 0;  // bytes already handed to the kernel's writeback
};

// The file a save to `path` replaces: a symbolic link is followed, so the
// link stays and its file gets the new contents.
std::string save_path(const std::string& path);

// Permission bits for a file written over `path`: those of the file it
// replaces, or 0666 less the process umask for a new one.
unsigned new_file_mode(const std::string& path);

// Status of a failed file operation's errno.
raster::Status status_from_errno(int err);

}  // namespace korvex::host
