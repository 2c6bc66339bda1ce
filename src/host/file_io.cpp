#include "host/file_io.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>

#include "raster/big_alloc.h"
#include "raster/guard.h"
#include "raster/image.h"
#include "raster/limits.h"

namespace korvex::host {

raster::Status status_from_errno(int err) {
  switch (err) {
    case ENOENT:
    case ENOTDIR:
      return raster::Status::FileNotFound;
    case EACCES:
    case EPERM:
    case EROFS:
      return raster::Status::AccessDenied;
    case ENOMEM:
      return raster::Status::OutOfMemory;
    default:
      return raster::Status::Win32Error;
  }
}

namespace {

// Status of a failed read's errno: a missing file is FileNotFound, and
// anything else that keeps existing bytes from being read (a folder, no
// permission, a device error) is Win32Error.
raster::Status read_status(int err) {
  switch (err) {
    case ENOENT:
    case ENOTDIR:
      return raster::Status::FileNotFound;
    case ENOMEM:
      return raster::Status::OutOfMemory;
    default:
      return raster::Status::Win32Error;
  }
}

// Reads up to `size` bytes; the count read, short at the end of the data;
// -1 with errno on failure.
ssize_t read_fully(int fd, uint8_t* data, size_t size) {
  size_t got = 0;
  while (got < size) {
    const ssize_t n = ::read(fd, data + got, size - got);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return -1;
    if (n == 0) break;
    got += static_cast<size_t>(n);
  }
  return static_cast<ssize_t>(got);
}

// Opens a file for reading; `st` is what fstat says of it. `stream` is set
// for anything but a regular file that reads (a pipe, a device), whose
// length is known only at its end. A folder is Win32Error.
raster::Status open_input(const std::string& path, int& fd, struct stat& st, bool& stream) {
  fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return read_status(errno);
  const int err = ::fstat(fd, &st) != 0 ? errno : S_ISDIR(st.st_mode) ? EISDIR : 0;
  if (err != 0) {
    ::close(fd);
    fd = -1;
    return read_status(err);
  }
  stream = !S_ISREG(st.st_mode);
  return raster::Status::Ok;
}

// True when nothing wrote to or truncated the open file between the two
// looks (modification times to the nanosecond where the file system keeps
// them). The change time is left out: a file renamed over ours changes it
// (one link fewer) while the contents we read stay whole.
bool same_version(const struct stat& a, const struct stat& b) {
  return a.st_size == b.st_size && a.st_mtim.tv_sec == b.st_mtim.tv_sec &&
         a.st_mtim.tv_nsec == b.st_mtim.tv_nsec;
}

// Reads made while another program rewrites the file in place.
constexpr int kReadAttempts = 3;

// Runs `read(fd, size, stream)` on the file at `path`. A stream is read
// once. A regular file is read until it stays the same from before the read
// to after it: the bytes of a file rewritten in place meanwhile may mix its
// old and new contents, or stop short. Win32Error when the file never holds
// still; `read` clears its output when it starts over.
template <class Read>
raster::Status read_input(const std::string& path, Read&& read) {
  for (int attempt = 0; attempt < kReadAttempts; ++attempt) {
    int fd = -1;
    bool stream = false;
    struct stat before {};
    if (raster::Status st = open_input(path, fd, before, stream); st != raster::Status::Ok)
      return st;
    const raster::Status st =
        read(fd, stream ? uint64_t{0} : static_cast<uint64_t>(before.st_size), stream);
    struct stat after {};
    const bool unchanged = stream || (::fstat(fd, &after) == 0 && same_version(before, after));
    ::close(fd);
    if (unchanged) return st;
  }
  return raster::Status::Win32Error;
}

// Bytes read before deciding whether a stream holds an image: enough for
// every decoder's signature.
constexpr size_t kSniffBytes = 4096;

bool recognised(const uint8_t* data, size_t size) {
  for (const raster::Decoder& d : raster::decoders()) {
    if (d.sniff != nullptr && d.sniff(data, size)) return true;
  }
  return false;
}

// Reads a stream to its end, up to the download limit (OutOfMemory past
// it). With `images_only`, a stream whose first bytes no decoder
// recognises ends the read with UnknownImageFormat, so an endless device
// is not read further.
raster::Status read_stream(int fd, bool images_only, std::vector<uint8_t>& out) {
  const size_t limit = raster::download_limit();
  return raster::guarded([&] {
    out.clear();
    bool sniffed = !images_only;
    for (;;) {
      // Growing steps, never more than one byte past the limit.
      const size_t at = out.size();
      const size_t step =
          std::min(std::max<size_t>(kSniffBytes, std::min<size_t>(at, 64u << 20)), limit - at + 1);
      out.resize(at + step);
      const ssize_t n = read_fully(fd, out.data() + at, step);
      if (n < 0) return read_status(errno);
      out.resize(at + static_cast<size_t>(n));
      if (!sniffed && (out.size() >= kSniffBytes || static_cast<size_t>(n) < step)) {
        if (!out.empty() && !recognised(out.data(), out.size()))
          return raster::Status::UnknownImageFormat;
        sniffed = true;
      }
      if (out.size() > limit) return raster::Status::OutOfMemory;
      if (static_cast<size_t>(n) < step) return raster::Status::Ok;
    }
  });
}

// Reads an open regular file whole into a buffer that decoders may keep: not
// zeroed first (large ones on huge pages), read straight into, never copied.
raster::Status read_open_file(int fd, uint64_t size, raster::EncodedBytes& out) {
  if (size > static_cast<uint64_t>(PTRDIFF_MAX)) return raster::Status::OutOfMemory;
  std::shared_ptr<uint8_t> holder;
  try {
    holder.reset(raster::allocate_buffer(static_cast<size_t>(size), false), raster::FreeDeleter{});
  } catch (const std::bad_alloc&) {
  }
  if (!holder) return raster::Status::OutOfMemory;
  const ssize_t got = read_fully(fd, holder.get(), static_cast<size_t>(size));
  if (got < 0) return read_status(errno);
  out.data = holder.get();
  out.size = static_cast<size_t>(got);
  out.keep = std::move(holder);
  return raster::Status::Ok;
}

// Reads an open stream into a buffer that decoders may keep.
raster::Status read_open_stream(int fd, bool images_only, raster::EncodedBytes& out) {
  std::vector<uint8_t> bytes;
  if (raster::Status st = read_stream(fd, images_only, bytes); st != raster::Status::Ok) return st;
  return raster::guarded([&] {
    out = raster::own_bytes(std::move(bytes));
    return raster::Status::Ok;
  });
}

}  // namespace

raster::Status read_whole_file(const std::string& path, std::vector<uint8_t>& out) {
  return read_input(path, [&](int fd, uint64_t size, bool stream) {
    out.clear();
    if (stream) return read_stream(fd, false, out);
    raster::Status st = raster::guarded([&] {
      out.resize(static_cast<size_t>(size));
      return raster::Status::Ok;
    });
    const ssize_t got = st == raster::Status::Ok ? read_fully(fd, out.data(), out.size()) : 0;
    if (got < 0) st = read_status(errno);
    if (st == raster::Status::Ok) out.resize(static_cast<size_t>(got));  // it may have shrunk
    return st;
  });
}

raster::Status read_whole_file(const std::string& path, raster::EncodedBytes& out) {
  return read_input(path, [&](int fd, uint64_t size, bool stream) {
    out = {};
    return stream ? read_open_stream(fd, false, out) : read_open_file(fd, size, out);
  });
}

raster::Status open_image_file(const std::string& path, std::unique_ptr<raster::Image>& img,
                               raster::EncodedBytes& bytes) {
  const raster::Status st = read_input(path, [&](int fd, uint64_t size, bool stream) {
    img.reset();
    bytes = {};
    if (stream) return read_open_stream(fd, true, bytes);
    raster::Status decoded = raster::decode_image_file(fd, size, img);
    if (decoded == raster::Status::NotImplemented) {
      img.reset();
      decoded = read_open_file(fd, size, bytes);
    }
    return decoded;
  });
  if (st != raster::Status::Ok) {
    img.reset();
    bytes = {};
  }
  return st;
}

namespace {

// Writes all bytes to a descriptor; 0, or the errno of the failure.
int write_all(int fd, const uint8_t* data, size_t size) {
  size_t put = 0;
  while (put < size) {
    const ssize_t n = ::write(fd, data + put, size - put);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return n < 0 ? errno : EIO;
    put += static_cast<size_t>(n);
  }
  return 0;
}

// Writes into an existing special file (a device, a pipe) in place: such a
// target cannot be replaced by renaming a regular file over it.
raster::Status write_in_place(const std::string& path, const uint8_t* data, size_t size) {
  const int fd = ::open(path.c_str(), O_WRONLY | O_TRUNC | O_CLOEXEC);
  if (fd < 0) return status_from_errno(errno);
  int err = write_all(fd, data, size);
  if (::close(fd) != 0 && err == 0) err = errno;
  return err == 0 ? raster::Status::Ok : status_from_errno(err);
}

}  // namespace

std::string save_path(const std::string& path) {
  struct stat lst {};
  if (::lstat(path.c_str(), &lst) == 0 && S_ISLNK(lst.st_mode)) {
    if (char* real = ::realpath(path.c_str(), nullptr)) {
      std::string resolved = real;
      std::free(real);
      return resolved;
    }
  }
  return path;
}

unsigned new_file_mode(const std::string& path) {
  struct stat st {};
  if (::stat(path.c_str(), &st) == 0) return st.st_mode & 07777;
  // The umask read from the process status, which, unlike umask(2), does
  // not change it for other threads while it is being read.
  unsigned mask = 022;
  if (std::FILE* f = std::fopen("/proc/self/status", "r")) {
    char line[256];
    while (std::fgets(line, sizeof line, f) != nullptr) {
      if (std::strncmp(line, "Umask:", 6) == 0) {
        mask = static_cast<unsigned>(std::strtoul(line + 6, nullptr, 8));
        break;
      }
    }
    std::fclose(f);
  }
  return 0666 & ~mask;
}

// ---- FileSink --------------------------------------------------------------------

namespace {
constexpr size_t kSinkBuffer = size_t{256} << 10;
// Written data is handed to the kernel's writeback in steps of this size, so
// the disk works while the encoder goes on and the final flush has little left.
constexpr uint64_t kWritebackStep = uint64_t{8} << 20;
}  // namespace

FileSink::FileSink(int fd) : fd_(fd), buf_(static_cast<uint8_t*>(std::malloc(kSinkBuffer))) {
  if (buf_ == nullptr) error_ = raster::Status::OutOfMemory;
}

FileSink::~FileSink() {
  std::free(buf_);
}

bool FileSink::fail(int err) {
  if (error_ == raster::Status::Ok) error_ = status_from_errno(err);
  return false;
}

bool FileSink::put(const uint8_t* data, size_t n, uint64_t at) {
  size_t done = 0;
  while (done < n) {
    const ssize_t k = ::pwrite(fd_, data + done, n - done, static_cast<off_t>(at + done));
    if (k < 0 && errno == EINTR) continue;
    if (k < 0) return fail(errno);
    if (k == 0) return fail(ENOSPC);
    done += static_cast<size_t>(k);
  }
  const uint64_t written = at + n;
  if (written >= started_ + kWritebackStep) {
    (void)::sync_file_range(fd_, static_cast<off_t>(started_),
                            static_cast<off_t>(written - started_), SYNC_FILE_RANGE_WRITE);
    started_ = written;
  }
  return true;
}

bool FileSink::flush() {
  if (error_ != raster::Status::Ok) return false;
  if (buf_len_ == 0) return true;
  const size_t n = buf_len_;
  buf_len_ = 0;
  return put(buf_, n, buf_at_);
}

bool FileSink::write(const void* data, size_t n) {
  if (error_ != raster::Status::Ok) return false;
  if (n == 0) return true;
  if (pos_ > static_cast<uint64_t>(INT64_MAX) - n) return fail(EFBIG);
  const auto* p = static_cast<const uint8_t*>(data);
  // The buffer holds one contiguous run: anything else writes it out first.
  if (buf_len_ != 0 && (pos_ != buf_at_ + buf_len_ || buf_len_ + n > kSinkBuffer)) {
    if (!flush()) return false;
  }
  if (n >= kSinkBuffer) {
    if (!put(p, n, pos_)) return false;
  } else {
    if (buf_len_ == 0) buf_at_ = pos_;
    std::memcpy(buf_ + buf_len_, p, n);
    buf_len_ += n;
  }
  pos_ += n;
  end_ = std::max(end_, pos_);
  return true;
}

bool FileSink::seek(uint64_t pos) {
  if (error_ != raster::Status::Ok) return false;
  if (pos > static_cast<uint64_t>(INT64_MAX)) return fail(EINVAL);
  pos_ = pos;
  return true;
}

size_t FileSink::read(void* data, size_t n) {
  if (!flush() || pos_ >= end_) return 0;
  n = static_cast<size_t>(std::min<uint64_t>(n, end_ - pos_));
  size_t got = 0;
  while (got < n) {
    const ssize_t k =
        ::pread(fd_, static_cast<uint8_t*>(data) + got, n - got, static_cast<off_t>(pos_ + got));
    if (k < 0 && errno == EINTR) continue;
    if (k < 0) {
      fail(errno);
      break;
    }
    if (k == 0) break;  // a hole at the end reads as nothing more
    got += static_cast<size_t>(k);
  }
  pos_ += got;
  return got;
}

// ---- atomic saves ---------------------------------------------------------------

namespace {

raster::Status run_producer(const ByteProducer& produce, raster::ByteSink& sink) {
  const raster::Status st = raster::guarded([&] { return produce(sink); });
  // A failed write is the cause of whatever the producer made of it.
  if (sink.error() != raster::Status::Ok) return sink.error();
  return st;
}

}  // namespace

FileReplacement::FileReplacement() = default;

FileReplacement::~FileReplacement() {
  abandon();
}

raster::Status FileReplacement::begin(const std::string& target, const ByteProducer& start) {
  abandon();
  path_ = save_path(target);
  struct stat existing {};
  if (::stat(path_.c_str(), &existing) == 0 && !S_ISREG(existing.st_mode)) {
    if (S_ISDIR(existing.st_mode)) return raster::Status::Win32Error;
    memory_.reset(new (std::nothrow) raster::MemorySink(bytes_));
    if (!memory_) return raster::Status::OutOfMemory;
    const raster::Status st = run_producer(start, *memory_);
    if (st != raster::Status::Ok) abandon();
    return st;
  }
  std::string tmp = path_ + ".kxtmp-XXXXXX";
  const int fd = ::mkstemp(tmp.data());
  if (fd < 0) {
    const int err = errno;
    // Bytes that cannot be made at all are reported as such before the
    // file problem, as when they were made before the file was opened.
    std::vector<uint8_t> bytes;
    raster::MemorySink scratch(bytes);
    const raster::Status st = run_producer(start, scratch);
    return st != raster::Status::Ok ? st : status_from_errno(err);
  }
  fd_ = fd;
  temp_ = std::move(tmp);
  ::fchmod(fd_, static_cast<mode_t>(new_file_mode(path_)));
  file_.reset(new (std::nothrow) FileSink(fd_));
  raster::Status st = file_ ? run_producer(start, *file_) : raster::Status::OutOfMemory;
  if (st != raster::Status::Ok) abandon();
  return st;
}

raster::ByteSink& FileReplacement::sink() {
  if (memory_) return *memory_;
  return *file_;
}

bool FileReplacement::owns(const raster::ByteSink& s) const {
  return &s == file_.get() || &s == memory_.get();
}

raster::Status FileReplacement::commit() {
  raster::Status st = raster::Status::WrongState;
  if (memory_) {
    st = memory_->error() != raster::Status::Ok
             ? memory_->error()
             : write_in_place(path_, bytes_.data(), bytes_.size());
  } else if (file_) {
    st = file_->flush() ? raster::Status::Ok : file_->error();
    file_.reset();
    int err = 0;
    if (st == raster::Status::Ok && ::fsync(fd_) != 0) err = errno;
    if (::close(fd_) != 0 && err == 0) err = errno;
    fd_ = -1;
    if (st == raster::Status::Ok && err == 0 && ::rename(temp_.c_str(), path_.c_str()) != 0) {
      err = errno;
    }
    if (st == raster::Status::Ok && err != 0) st = status_from_errno(err);
    if (st == raster::Status::Ok) temp_.clear();  // it is the target now
  }
  abandon();
  return st;
}

void FileReplacement::abandon() {
  file_.reset();
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
  if (!temp_.empty()) ::unlink(temp_.c_str());
  temp_.clear();
  memory_.reset();
  bytes_.clear();
}

raster::Status write_file_atomically(const std::string& target, const ByteProducer& produce) {
  FileReplacement file;
  const raster::Status st = file.begin(target, produce);
  return st != raster::Status::Ok ? st : file.commit();
}

raster::Status write_file_atomically(const std::string& target, const uint8_t* data, size_t size) {
  return write_file_atomically(target, [&](raster::ByteSink& out) {
    return out.write(data, size) ? raster::Status::Ok : out.error();
  });
}

// ---- multi-frame files ------------------------------------------------------------

namespace {

// An encoder's frame writer over a FileReplacement: the frames go to the
// temporary file, which finish() puts in place.
class FileFrameWriter final : public raster::FrameWriter {
 public:
  raster::Status start(const raster::Encoder& encoder, raster::Image& first,
                       const raster::EncoderParams& params, const std::string& path) {
    return file_.begin(path, [&](raster::ByteSink& sink) {
      std::unique_ptr<raster::FrameWriter> frames;
      const raster::Status st = encoder.open_frames(first, params, sink, frames);
      // A writer that failed, or runs over the scratch sink of a failed
      // begin, dies here while its sink is still alive.
      if (st == raster::Status::Ok && sink.error() == raster::Status::Ok && file_.owns(sink)) {
        frames_ = std::move(frames);
      }
      return st;
    });
  }

  raster::Status add(raster::Image& frame, const raster::EncoderParams& params) override {
    if (!frames_) return raster::Status::WrongState;
    return frames_->add(frame, params);
  }

  raster::Status finish() override {
    if (!frames_) return raster::Status::WrongState;
    const raster::Status st = frames_->finish();
    frames_.reset();  // done with the sink before the file is committed
    if (st == raster::Status::Ok) return file_.commit();
    file_.abandon();
    return st;
  }

 private:
  // Declared first, so the encoder's writer, which writes into it, goes first.
  FileReplacement file_;
  std::unique_ptr<raster::FrameWriter> frames_;
};

}  // namespace

raster::Status open_frame_file(const raster::Encoder& encoder, raster::Image& first,
                               const raster::EncoderParams& params, const std::string& path,
                               std::unique_ptr<raster::FrameWriter>& out) {
  if (path.empty()) return raster::Status::InvalidParameter;
  if (encoder.open_frames == nullptr) return raster::Status::UnknownImageFormat;
  return raster::guarded([&] {
    auto writer = std::make_unique<FileFrameWriter>();
    const raster::Status st = writer->start(encoder, first, params, path);
    if (st == raster::Status::Ok) out = std::move(writer);
    return st;
  });
}

}  // namespace korvex::host
