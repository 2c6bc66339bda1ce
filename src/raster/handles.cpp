#include "raster/handles.h"

#include <atomic>
#include <limits>
#include <unordered_map>

namespace korvex::raster {

namespace {

// Process-wide so that identifiers of different threads never coincide.
std::atomic<uint64_t> g_counter{0};

// Set when the thread's table has been destroyed at thread exit, so that an
// engine outliving it (a static object, say) finds no table instead of a
// dangling one.
thread_local bool t_table_gone = false;

struct HandleTable {
  std::unordered_map<int32_t, std::unique_ptr<Image>> images;
  ~HandleTable() { t_table_gone = true; }
};

HandleTable& table() {
  thread_local HandleTable t;
  return t;
}

// 1, 2, ..., 2^31 - 1, then 1 again.
int32_t next_id() {
  const uint64_t n = g_counter.fetch_add(1, std::memory_order_relaxed);
  return static_cast<int32_t>(n % std::numeric_limits<int32_t>::max()) + 1;
}

}  // namespace

int32_t register_image(std::unique_ptr<Image> image) {
  if (t_table_gone) return 0;
  HandleTable& t = table();
  int32_t id = next_id();
  while (t.images.count(id) != 0) id = next_id();  // only after a wrap-around
  t.images.emplace(id, std::move(image));
  return id;
}

Image* find_image(int32_t id) {
  if (id <= 0 || t_table_gone) return nullptr;
  HandleTable& t = table();
  auto it = t.images.find(id);
  return it == t.images.end() ? nullptr : it->second.get();
}

Status dispose_image(int32_t id) {
  if (id <= 0 || t_table_gone) return Status::InvalidParameter;
  HandleTable& t = table();
  auto it = t.images.find(id);
  if (it == t.images.end()) return Status::InvalidParameter;
  if (it->second->locked()) return Status::ObjectBusy;
  t.images.erase(it);
  return Status::Ok;
}

size_t open_image_count() {
  return t_table_gone ? 0 : table().images.size();
}

void dispose_all_images() {
  if (!t_table_gone) table().images.clear();
}

void set_identifier_counter_for_testing(uint64_t next) {
  g_counter.store(next);
}

}  // namespace korvex::raster
