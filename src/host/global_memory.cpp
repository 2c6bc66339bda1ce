#include "korvex/global_memory.h"

#include <cstdlib>
#include <memory>
#include <mutex>
#include <unordered_map>

namespace korvex::host {

namespace {

struct Block {
  std::unique_ptr<uint8_t, decltype(&std::free)> bytes{nullptr, &std::free};
  size_t size = 0;
  int32_t locks = 0;
};

// Blocks are process-wide: a host may allocate on one thread and hand the
// handle to another.
struct BlockTable {
  std::mutex mutex;
  std::unordered_map<int32_t, Block> blocks;
  int32_t next = 1;
};

BlockTable& table() {
  static BlockTable t;
  return t;
}

}  // namespace

int32_t GlobalAlloc(size_t bytes) {
  if (bytes == 0) return 0;
  uint8_t* p = static_cast<uint8_t*>(std::calloc(bytes, 1));
  if (p == nullptr) return 0;
  BlockTable& t = table();
  std::lock_guard<std::mutex> guard(t.mutex);
  int32_t h = t.next;
  while (h <= 0 || t.blocks.count(h) != 0) h = (h <= 0 || h == INT32_MAX) ? 1 : h + 1;
  t.next = h == INT32_MAX ? 1 : h + 1;
  Block& b = t.blocks[h];
  b.bytes.reset(p);
  b.size = bytes;
  return h;
}

uint8_t* GlobalLock(int32_t handle) {
  BlockTable& t = table();
  std::lock_guard<std::mutex> guard(t.mutex);
  auto it = t.blocks.find(handle);
  if (it == t.blocks.end()) return nullptr;
  ++it->second.locks;
  return it->second.bytes.get();
}

bool GlobalUnlock(int32_t handle) {
  BlockTable& t = table();
  std::lock_guard<std::mutex> guard(t.mutex);
  auto it = t.blocks.find(handle);
  if (it == t.blocks.end() || it->second.locks == 0) return false;
  --it->second.locks;
  return true;
}

size_t GlobalSize(int32_t handle) {
  BlockTable& t = table();
  std::lock_guard<std::mutex> guard(t.mutex);
  auto it = t.blocks.find(handle);
  return it == t.blocks.end() ? 0 : it->second.size;
}

bool GlobalFree(int32_t handle) {
  BlockTable& t = table();
  std::lock_guard<std::mutex> guard(t.mutex);
  return t.blocks.erase(handle) != 0;
}

size_t GlobalBlockCount() {
  BlockTable& t = table();
  std::lock_guard<std::mutex> guard(t.mutex);
  return t.blocks.size();
}

}  // namespace korvex::host
