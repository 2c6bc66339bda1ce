#include "host/file_io.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>

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

raster::Status read_whole_file(const std::string& path, std::vector<uint8_t>& out) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return status_from_errno(errno);
  struct stat st {};
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    const int err = S_ISDIR(st.st_mode) ? EISDIR : errno;
    ::close(fd);
    return status_from_errno(err);
  }
  try {
    out.resize(static_cast<size_t>(st.st_size));
  } catch (const std::bad_alloc&) {
    ::close(fd);
    return raster::Status::OutOfMemory;
  }
  size_t got = 0;
  int err = 0;
  while (got < out.size()) {
    const ssize_t n = ::read(fd, out.data() + got, out.size() - got);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) err = errno;
    if (n <= 0) break;  // an error, or the file shrank while being read
    got += static_cast<size_t>(n);
  }
  ::close(fd);
  if (err != 0) return status_from_errno(err);
  out.resize(got);
  return raster::Status::Ok;
}

namespace {

// Writes into an existing special file (a device, a pipe) in place: such a
// target cannot be replaced by renaming a regular file over it.
raster::Status write_in_place(const std::string& path, const uint8_t* data, size_t size) {
  const int fd = ::open(path.c_str(), O_WRONLY | O_TRUNC | O_CLOEXEC);
  if (fd < 0) return status_from_errno(errno);
  size_t put = 0;
  int err = 0;
  while (put < size) {
    const ssize_t n = ::write(fd, data + put, size - put);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      err = n < 0 ? errno : EIO;
      break;
    }
    put += static_cast<size_t>(n);
  }
  if (::close(fd) != 0 && err == 0) err = errno;
  return err == 0 ? raster::Status::Ok : status_from_errno(err);
}

}  // namespace

raster::Status write_file_atomically(const std::string& target, const uint8_t* data, size_t size) {
  // A symbolic link is followed, so the link stays and its file is replaced.
  std::string path = target;
  struct stat lst {};
  if (::lstat(target.c_str(), &lst) == 0 && S_ISLNK(lst.st_mode)) {
    if (char* real = ::realpath(target.c_str(), nullptr)) {
      path = real;
      std::free(real);
    }
  }
  struct stat existing {};
  if (::stat(path.c_str(), &existing) == 0 && !S_ISREG(existing.st_mode)) {
    if (S_ISDIR(existing.st_mode)) return raster::Status::Win32Error;
    return write_in_place(path, data, size);
  }
  std::string tmp = path + ".kxtmp-XXXXXX";
  const int fd = ::mkstemp(tmp.data());
  if (fd < 0) return status_from_errno(errno);
  // A new file gets the usual mode for created files; an existing one keeps its own.
  struct stat st {};
  mode_t mode;
  if (::stat(path.c_str(), &st) == 0) {
    mode = st.st_mode & 07777;
  } else {
    const mode_t mask = ::umask(0);
    ::umask(mask);
    mode = 0666 & ~mask;
  }
  ::fchmod(fd, mode);
  size_t put = 0;
  int err = 0;
  while (put < size) {
    const ssize_t n = ::write(fd, data + put, size - put);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      err = n < 0 ? errno : EIO;
      break;
    }
    put += static_cast<size_t>(n);
  }
  if (err == 0 && ::fsync(fd) != 0) err = errno;
  if (::close(fd) != 0 && err == 0) err = errno;
  if (err == 0 && ::rename(tmp.c_str(), path.c_str()) != 0) err = errno;
  if (err != 0) {
    ::unlink(tmp.c_str());
    return status_from_errno(err);
  }
  return raster::Status::Ok;
}

}  // namespace korvex::host
