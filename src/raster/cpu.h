// Run-time choice of vector code paths. Hot loops that have an AVX2 version
// also keep a portable one computing exactly the same integers; which one
// runs depends on the processor, and tests can forbid the vector paths to
// prove that both agree.
#pragma once

#include <atomic>

namespace korvex::raster {

namespace detail {
inline std::atomic<bool> g_simd_allowed{true};

// Allows (true, the default) or forbids the vector code paths process-wide;
// returns the previous setting. For tests.
inline bool allow_simd(bool allow) {
  return g_simd_allowed.exchange(allow);
}
}  // namespace detail

// True when the AVX2 paths may run: the processor has AVX2 and they are allowed.
inline bool use_avx2() {
#if defined(__x86_64__) || defined(__i386__)
  static const bool has = __builtin_cpu_supports("avx2") != 0;
  return has && detail::g_simd_allowed.load(std::memory_order_relaxed);
#else
  return false;
#endif
}

}  // namespace korvex::raster
