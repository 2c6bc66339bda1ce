// Allocation of large buffers: pixel surfaces, whole encoded files, strip
// and row buffers of whole pictures.
//
// Freshly allocated memory is slow to touch for the first time, page by page;
// with 2 MiB transparent huge pages the kernel fills a large buffer several
// times faster. The whole 2 MiB blocks inside buffers of at least
// kLargeBuffer bytes are therefore advised for huge pages. Every buffer is
// plain malloc-family memory, released with std::free (FreeDeleter).
#pragma once

#include <cstddef>
#include <cstdint>

namespace korvex::raster {

inline constexpr size_t kLargeBuffer = size_t{4} << 20;

// `bytes` bytes (at least one), zero-filled when `zero`, else uninitialised.
// Null when out of memory.
uint8_t* allocate_buffer(size_t bytes, bool zero);

}  // namespace korvex::raster
