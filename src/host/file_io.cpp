#include "host/file_io.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

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

raster::Status write_file_atomically(const std::string& target, const uint8_t* data, size_t size) {
  const std::string path = save_path(target);
  struct stat existing {};
  if (::stat(path.c_str(), &existing) == 0 && !S_ISREG(existing.st_mode)) {
    if (S_ISDIR(existing.st_mode)) return raster::Status::Win32Error;
    return write_in_place(path, data, size);
  }
  std::string tmp = path + ".kxtmp-XXXXXX";
  const int fd = ::mkstemp(tmp.data());
  if (fd < 0) return status_from_errno(errno);
  ::fchmod(fd, static_cast<mode_t>(new_file_mode(path)));
  int err = write_all(fd, data, size);
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
