// Per-thread state shared by the engines and viewers of a thread: the raster
// session, the encoder table, the kept byte buffer and the table of images
// built over packed-DIB memory blocks; plus path helpers.
#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdlib>

#include "engine/state.h"
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

// ---- encoder table ---------------------------------------------------------

namespace {
std::string lower(std::string s) {
  std::transform(s.begin(), s.end(), s.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return s;
}

std::string trim_spaces(const std::string& s) {
  const size_t b = s.find_first_not_of(' ');
  if (b == std::string::npos) return {};
  const size_t e = s.find_last_not_of(' ');
  return s.substr(b, e - b + 1);
}
}  // namespace

void EncoderTable::build(const std::vector<std::pair<raster::Guid, std::string>>& encoders) {
  clear();
  for (const auto& e : encoders) clsids.push_back(e.first);
  // From the last encoder to the first, so that the first one listed wins a
  // pattern that several encoders claim.
  for (size_t i = encoders.size(); i-- > 0;) {
    const std::string& list = encoders[i].second;
    size_t start = 0;
    while (true) {
      const size_t semi = list.find(';', start);
      if (semi == std::string::npos) {
        const std::string last = trim_spaces(list.substr(start));
        if (!last.empty()) patterns[lower(last)] = static_cast<int32_t>(i);
        break;
      }
      patterns[lower(list.substr(start, semi - start))] = static_cast<int32_t>(i);
      start = semi + 1;
    }
  }
}

int32_t EncoderTable::lookup(const std::string& pattern) const {
  auto it = patterns.find(lower(pattern));
  return it == patterns.end() ? -1 : it->second;
}

void EncoderTable::clear() {
  clsids.clear();
  patterns.clear();
}

// ---- session ---------------------------------------------------------------

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

// ---- paths -----------------------------------------------------------------

std::string NormalizePath(const std::string& path) {
  std::string p = trim_spaces(path);
  std::replace(p.begin(), p.end(), '\\', '/');
  if (p.size() <= 3) return p;
  // A leading "//" (a network path) is kept; extra leading slashes are dropped.
  while (p.compare(0, 3, "///") == 0) p.erase(0, 1);
  std::string out = p.substr(0, 2);
  for (size_t i = 2; i < p.size(); ++i) {
    if (p[i] == '/' && out.size() > 2 && out.back() == '/') continue;
    out.push_back(p[i]);
  }
  return out;
}

std::string TempFolder() {
  for (const char* name : {"TMPDIR", "tmp", "temp"}) {
    const char* v = std::getenv(name);
    if (v != nullptr && *v != '\0') {
      std::string s(v);
      while (s.size() > 1 && s.back() == '/') s.pop_back();
      if (s != "/") s.push_back('/');
      return s;
    }
  }
  return "/tmp/";
}

}  // namespace korvex
