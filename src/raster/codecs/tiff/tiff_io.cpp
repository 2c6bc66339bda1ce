// libtiff handles over memory, file descriptors and byte sinks, with quiet diagnostics.
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdarg>
#include <cstring>
#include <limits>
#include <mutex>

#include "raster/codecs/tiff/tiff_internal.h"
#include "raster/limits.h"

namespace korvex::raster::tiffcodec {

namespace {

// ---- diagnostics -------------------------------------------------------------

thread_local int t_scope_depth = 0;

std::atomic<TIFFErrorHandler> g_prev_error{nullptr};
std::atomic<TIFFErrorHandler> g_prev_warning{nullptr};
std::atomic<TIFFErrorHandlerExt> g_prev_error_ext{nullptr};
std::atomic<TIFFErrorHandlerExt> g_prev_warning_ext{nullptr};

void forward_error(const char* module, const char* fmt, va_list ap) {
  if (t_scope_depth > 0) return;
  if (TIFFErrorHandler h = g_prev_error.load()) h(module, fmt, ap);
}
void forward_warning(const char* module, const char* fmt, va_list ap) {
  if (t_scope_depth > 0) return;
  if (TIFFErrorHandler h = g_prev_warning.load()) h(module, fmt, ap);
}
void forward_error_ext(thandle_t fd, const char* module, const char* fmt, va_list ap) {
  if (t_scope_depth > 0) return;
  if (TIFFErrorHandlerExt h = g_prev_error_ext.load()) h(fd, module, fmt, ap);
}
void forward_warning_ext(thandle_t fd, const char* module, const char* fmt, va_list ap) {
  if (t_scope_depth > 0) return;
  if (TIFFErrorHandlerExt h = g_prev_warning_ext.load()) h(fd, module, fmt, ap);
}

void install_process_handlers() {
  static std::once_flag once;
  std::call_once(once, [] {
    g_prev_error.store(TIFFSetErrorHandler(forward_error));
    g_prev_warning.store(TIFFSetWarningHandler(forward_warning));
    g_prev_error_ext.store(TIFFSetErrorHandlerExt(forward_error_ext));
    g_prev_warning_ext.store(TIFFSetWarningHandlerExt(forward_warning_ext));
  });
}

// Per-handle handlers: count, and stop libtiff from calling the global ones.
int count_error(TIFF*, void* user, const char*, const char*, va_list) {
  if (user != nullptr) ++static_cast<Diagnostics*>(user)->errors;
  return 1;
}
int count_warning(TIFF*, void* user, const char*, const char*, va_list) {
  if (user != nullptr) ++static_cast<Diagnostics*>(user)->warnings;
  return 1;
}

// Largest single allocation libtiff may make for a handle: the pixel memory
// limit, but never so small that ordinary strip buffers are refused.
tmsize_t libtiff_allocation_cap() {
  const uint64_t floor = uint64_t{16} << 20;
  const uint64_t cap = std::max(pixel_memory_limit(), floor);
  const uint64_t most = static_cast<uint64_t>(std::numeric_limits<tmsize_t>::max());
  return static_cast<tmsize_t>(std::min(cap, most));
}

TiffHandle open_with_options(const char* name, const char* mode, thandle_t handle,
                             TIFFReadWriteProc read, TIFFReadWriteProc write, TIFFSeekProc seek,
                             TIFFCloseProc close, TIFFSizeProc size, TIFFMapFileProc map,
                             TIFFUnmapFileProc unmap, Diagnostics& diag) {
  install_process_handlers();
  TIFFOpenOptions* opts = TIFFOpenOptionsAlloc();
  if (opts == nullptr) return nullptr;
  TIFFOpenOptionsSetErrorHandlerExtR(opts, count_error, &diag);
  TIFFOpenOptionsSetWarningHandlerExtR(opts, count_warning, &diag);
  TIFFOpenOptionsSetMaxSingleMemAlloc(opts, libtiff_allocation_cap());
  TIFF* tif =
      TIFFClientOpenExt(name, mode, handle, read, write, seek, close, size, map, unmap, opts);
  TIFFOpenOptionsFree(opts);
  return TiffHandle(tif);
}

// New position for a seek, or false when it would leave the 63-bit range.
bool seek_target(uint64_t pos, uint64_t end, toff_t off, int whence, uint64_t& out) {
  uint64_t base = 0;
  switch (whence) {
    case SEEK_SET:
      base = 0;
      break;
    case SEEK_CUR:
      base = pos;
      break;
    case SEEK_END:
      base = end;
      break;
    default:
      return false;
  }
  // Offsets relative to the current position or the end may be negative,
  // passed as their two's complement: modular addition gives the target.
  const uint64_t target = base + static_cast<uint64_t>(off);
  if (target > static_cast<uint64_t>(std::numeric_limits<int64_t>::max())) return false;
  out = target;
  return true;
}

// ---- memory reader -------------------------------------------------------------

tmsize_t mem_read(thandle_t h, void* buf, tmsize_t n) {
  auto* r = static_cast<MemoryReader*>(h);
  if (n <= 0 || r->pos >= r->size) return 0;
  const size_t k =
      static_cast<size_t>(std::min<uint64_t>(r->size - r->pos, static_cast<uint64_t>(n)));
  std::memcpy(buf, r->data + r->pos, k);
  r->pos += k;
  return static_cast<tmsize_t>(k);
}
tmsize_t mem_refuse_write(thandle_t, void*, tmsize_t) {
  return -1;
}
toff_t mem_seek(thandle_t h, toff_t off, int whence) {
  auto* r = static_cast<MemoryReader*>(h);
  uint64_t target = 0;
  if (!seek_target(r->pos, r->size, off, whence, target)) return static_cast<toff_t>(-1);
  r->pos = target;
  return target;
}
int no_close(thandle_t) {
  return 0;
}
toff_t mem_size(thandle_t h) {
  return static_cast<MemoryReader*>(h)->size;
}
int mem_map(thandle_t h, void** base, toff_t* size) {
  auto* r = static_cast<MemoryReader*>(h);
  // libtiff only reads through the mapping of a handle opened for reading.
  *base = const_cast<uint8_t*>(r->data);
  *size = r->size;
  return 1;
}
int no_map(thandle_t, void**, toff_t*) {
  return 0;
}
void no_unmap(thandle_t, void*, toff_t) {}

// ---- file reader ---------------------------------------------------------------

tmsize_t file_read(thandle_t h, void* buf, tmsize_t n) {
  auto* r = static_cast<FileReader*>(h);
  if (n <= 0 || r->pos >= r->size) return 0;
  const size_t want =
      static_cast<size_t>(std::min<uint64_t>(r->size - r->pos, static_cast<uint64_t>(n)));
  size_t got = 0;
  while (got < want) {
    const ssize_t k = ::pread(r->fd, static_cast<uint8_t*>(buf) + got, want - got,
                              static_cast<off_t>(r->pos + got));
    if (k < 0 && errno == EINTR) continue;
    if (k < 0) return -1;
    if (k == 0) break;  // the file shrank since it was opened
    got += static_cast<size_t>(k);
  }
  r->pos += got;
  return static_cast<tmsize_t>(got);
}
toff_t file_seek(thandle_t h, toff_t off, int whence) {
  auto* r = static_cast<FileReader*>(h);
  uint64_t target = 0;
  if (!seek_target(r->pos, r->size, off, whence, target)) return static_cast<toff_t>(-1);
  r->pos = target;
  return target;
}
toff_t file_size(thandle_t h) {
  return static_cast<FileReader*>(h)->size;
}

// ---- sink writer ---------------------------------------------------------------

tmsize_t sink_read(thandle_t h, void* buf, tmsize_t n) {
  if (n <= 0) return 0;
  return static_cast<tmsize_t>(static_cast<ByteSink*>(h)->read(buf, static_cast<size_t>(n)));
}
tmsize_t sink_write(thandle_t h, void* buf, tmsize_t n) {
  if (n < 0) return -1;
  // Sinks report failure, they never throw through libtiff's C frames.
  return static_cast<ByteSink*>(h)->write(buf, static_cast<size_t>(n)) ? n : -1;
}
toff_t sink_seek(thandle_t h, toff_t off, int whence) {
  auto* sink = static_cast<ByteSink*>(h);
  uint64_t target = 0;
  if (!seek_target(sink->tell(), sink->size(), off, whence, target) || !sink->seek(target)) {
    return static_cast<toff_t>(-1);
  }
  return target;
}
toff_t sink_size(thandle_t h) {
  return static_cast<ByteSink*>(h)->size();
}

}  // namespace

LibtiffScope::LibtiffScope() {
  ++t_scope_depth;
}
LibtiffScope::~LibtiffScope() {
  --t_scope_depth;
}

TiffHandle open_reader(MemoryReader& reader, Diagnostics& diag) {
  reader.pos = 0;
  return open_with_options("memory", "r", &reader, mem_read, mem_refuse_write, mem_seek, no_close,
                           mem_size, mem_map, no_unmap, diag);
}

TiffHandle open_file_reader(FileReader& reader, Diagnostics& diag) {
  reader.pos = 0;
  return open_with_options("file", "r", &reader, file_read, mem_refuse_write, file_seek, no_close,
                           file_size, no_map, no_unmap, diag);
}

TiffHandle open_sink_writer(ByteSink& sink, Diagnostics& diag) {
  return open_with_options("memory", "wl", &sink, sink_read, sink_write, sink_seek, no_close,
                           sink_size, no_map, no_unmap, diag);
}

bool page_inflate_allowed(TIFF* tif, uint32_t width, uint32_t height, uint64_t pixel_bits,
                          uint64_t file_size) {
  const uint64_t row = (uint64_t{width} * pixel_bits + 7) / 8;
  const uint64_t decoded =
      row > UINT64_MAX / std::max<uint64_t>(height, 1) ? UINT64_MAX : row * height;
  if (inflate_allowed(0, decoded)) return true;
  if (!inflate_allowed(file_size, decoded)) return false;  // more than the whole file can give
  constexpr uint64_t kMostCounted = uint64_t{1} << 24;
  const uint64_t striles = TIFFIsTiled(tif) ? TIFFNumberOfTiles(tif) : TIFFNumberOfStrips(tif);
  uint64_t encoded = 0;
  for (uint64_t i = 0; i < std::min(striles, kMostCounted); ++i) {
    const uint64_t off = TIFFGetStrileOffset(tif, static_cast<uint32_t>(i));
    if (off >= file_size) continue;
    encoded += std::min(TIFFGetStrileByteCount(tif, static_cast<uint32_t>(i)), file_size - off);
    if (inflate_allowed(encoded, decoded)) return true;
  }
  return striles > kMostCounted;  // too many to count: the other checks decide
}

}  // namespace korvex::raster::tiffcodec
