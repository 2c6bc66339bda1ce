// Resource limits of the process: one atomic value per limit, set from the
// built-in defaults and the environment when first used.
#include "raster/limits.h"

#include <array>
#include <atomic>
#include <cstdlib>
#include <limits>
#include <string>

namespace korvex {

namespace {

constexpr std::array<uint64_t, kLimitCount> kDefaults = {
    uint64_t{1} << 30,    // Pixels
    uint64_t{4} << 30,    // PixelBytes
    uint64_t{256} << 20,  // DownloadBytes
    250,                  // InflateRatio
};
constexpr std::array<const char*, kLimitCount> kNames = {"pixels", "pixel_bytes", "download_bytes",
                                                         "inflate_ratio"};

bool valid(Limit which) {
  const auto i = static_cast<int32_t>(which);
  return i >= 0 && i < kLimitCount;
}

// A whole decimal number from 1 up, digits only; 0 for anything else.
uint64_t parse_strictly(const char* text) {
  if (text == nullptr || *text == '\0') return 0;
  uint64_t v = 0;
  for (const char* p = text; *p != '\0'; ++p) {
    if (*p < '0' || *p > '9') return 0;
    const auto digit = static_cast<uint64_t>(*p - '0');
    if (v > (std::numeric_limits<uint64_t>::max() - digit) / 10) return 0;
    v = v * 10 + digit;
  }
  return v;
}

// The default of a limit, replaced by a well-formed environment value.
uint64_t initial(int32_t i) {
  std::string var = "KORVEX_MAX_";
  for (const char* p = kNames[static_cast<size_t>(i)]; *p != '\0'; ++p)
    var += static_cast<char>(*p >= 'a' && *p <= 'z' ? *p - 'a' + 'A' : *p);
  const uint64_t v = parse_strictly(std::getenv(var.c_str()));
  return v != 0 ? v : kDefaults[static_cast<size_t>(i)];
}

struct Store {
  std::array<std::atomic<uint64_t>, kLimitCount> value;
  Store() { load(); }
  void load() {
    for (int32_t i = 0; i < kLimitCount; ++i) value[static_cast<size_t>(i)].store(initial(i));
  }
};

Store& store() {
  static Store s;
  return s;
}

uint64_t get(Limit which) {
  return store().value[static_cast<size_t>(which)].load(std::memory_order_relaxed);
}

}  // namespace

uint64_t GetLimit(Limit which) {
  return valid(which) ? get(which) : 0;
}

bool SetLimit(Limit which, uint64_t value) {
  if (!valid(which) || value < 1) return false;
  store().value[static_cast<size_t>(which)].store(value, std::memory_order_relaxed);
  return true;
}

uint64_t DefaultLimit(Limit which) {
  return valid(which) ? kDefaults[static_cast<size_t>(which)] : 0;
}

void ResetLimits() {
  store().load();
}

const char* LimitName(Limit which) {
  return valid(which) ? kNames[static_cast<size_t>(which)] : "";
}

namespace raster {

Status check_bitmap(uint64_t width, uint64_t height, uint64_t bytes) {
  if (width > (uint64_t{1} << 32) || height > (uint64_t{1} << 32)) return Status::OutOfMemory;
  if (width * height > get(Limit::Pixels) || bytes > get(Limit::PixelBytes))
    return Status::OutOfMemory;
  return Status::Ok;
}

bool inflate_allowed(uint64_t encoded, uint64_t decoded) {
  if (decoded <= kInflateRatioFreeBytes) return true;
  const uint64_t ratio = get(Limit::InflateRatio);
  // decoded / ratio rounded up, compared without multiplying.
  return decoded / ratio + (decoded % ratio != 0 ? 1 : 0) <= encoded;
}

size_t download_limit() {
  // Capped well below SIZE_MAX, so callers may add to it.
  constexpr size_t kMost = std::numeric_limits<size_t>::max() / 2;
  const uint64_t v = get(Limit::DownloadBytes);
  return v > kMost ? kMost : static_cast<size_t>(v);
}

}  // namespace raster

}  // namespace korvex
