// Per-thread state shared by the engines and viewers of a thread: the raster
// session with its encoder table, and the table of images built over
// packed-DIB memory blocks.
#include "engine/module_state.h"

#include <string>
#include <utility>
#include <vector>

#include "korvex/global_memory.h"
#include "raster/codec.h"
#include "raster/handles.h"
#include "raster/version.h"

namespace korvex {

namespace {
// Set once the thread's state has been destroyed at thread exit: an engine
// destroyed after that (a static object, say) must not touch it.
thread_local bool t_state_gone = false;

struct OwnedModuleState : ModuleState {
  ~OwnedModuleState() { t_state_gone = true; }
};
}  // namespace

ModuleState& module_state() {
  thread_local OwnedModuleState state;
  return state;
}

void join_session() {
  ModuleState& m = module_state();
  ++m.session.users;
  if (m.session.started) return;
  std::vector<std::pair<raster::Guid, std::string>> list;
  for (const raster::Encoder& e : raster::encoders()) list.emplace_back(e.clsid, e.extensions);
  m.encoders.build(list);
  m.session.started = true;
  m.session.version = raster::version_text();
}

void leave_session() {
  if (t_state_gone) return;
  ModuleState& m = module_state();
  if (m.session.users > 0) --m.session.users;
  if (m.session.users > 0 || !m.session.started) return;
  // Images still open die with the session; blocks they were built over and
  // that were handed to the engine are released with them.
  for (auto& [image, writer] : m.MultiPageWriters) writer->finish();
  m.MultiPageWriters.clear();
  raster::dispose_all_images();
  for (const DibImageEntry& e : m.DibImageTable) {
    if (e.free_flag == 1) host::GlobalFree(e.handle);
  }
  m.DibImageTable.clear();
  m.KeptBytes.clear();
  m.KeptBytes.shrink_to_fit();
  m.KeptBytesOwner = 0;
  m.encoders.clear();
  m.session.started = false;
}

bool old_raster_version() {
  return raster::is_old_version();
}

void DibImageTableAdd(int32_t handle, int32_t image, int32_t free_flag) {
  module_state().DibImageTable.push_back(DibImageEntry{handle, image, free_flag});
}

}  // namespace korvex
