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
  bool freed = false;  // freed while locked: kept for its lock holders only
};

// Blocks are process-wide: a host may allocate on one thread and hand the
// handle to another. A block freed while another thread holds it locked
// leaves the handle space at once but keeps its bytes (and its handle
// number, so the number is not handed out again) until the last unlock.
struct BlockTable {
  std::mutex mutex;
  std::unordered_map<int32_t, Block> blocks;
  size_t live = 0;  // blocks not freed
  int32_t next = 1;
};

Block* find_live(BlockTable& t, int32_t handle) {
  auto it = t.blocks.find(handle);
  return it == t.blocks.end() || it->second.freed ? nullptr : &it->second;
}

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
  ++t.live;
  return h;
}

uint8_t* GlobalLock(int32_t handle) {
  BlockTable& t = table();
  std::lock_guard<std::mutex> guard(t.mutex);
  Block* b = find_live(t, handle);
  if (b == nullptr) return nullptr;
  ++b->locks;
  return b->bytes.get();
}

bool GlobalUnlock(int32_t handle) {
  BlockTable& t = table();
  std::lock_guard<std::mutex> guard(t.mutex);
  auto it = t.blocks.find(handle);
  if (it == t.blocks.end() || it->second.locks == 0) return false;
  if (--it->second.locks == 0 && it->second.freed) t.blocks.erase(it);
  return true;
}

size_t GlobalSize(int32_t handle) {
  BlockTable& t = table();
  std::lock_guard<std::mutex> guard(t.mutex);
  const Block* b = find_live(t, handle);
  return b == nullptr ? 0 : b->size;
}

bool GlobalFree(int32_t handle) {
  BlockTable& t = table();
  std::lock_guard<std::mutex> guard(t.mutex);
  auto it = t.blocks.find(handle);
  if (it == t.blocks.end() || it->second.freed) return false;
  --t.live;
  if (it->second.locks > 0) {
    it->second.freed = true;
  } else {
    t.blocks.erase(it);
  }
  return true;
}

size_t GlobalBlockCount() {
  BlockTable& t = table();
  std::lock_guard<std::mutex> guard(t.mutex);
  return t.live;
}

}  // namespace korvex::host
