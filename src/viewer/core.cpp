// The viewer's life cycle and its events.
#include "viewer/core.h"

#include <algorithm>

#include "korvex/engine.h"
#include "viewer/children.h"

namespace korvex::viewer {

ViewerStatus FromEngineStatus(cKorvexStatus s) {
  const auto v = static_cast<int32_t>(s);
  return v >= 0 && v <= static_cast<int32_t>(ViewerStatus::PropertyNotSupported)
             ? static_cast<ViewerStatus>(v)
             : ViewerStatus::GenericError;
}

bool& ViewerRefreshing() {
  thread_local bool refreshing = false;
  return refreshing;
}

namespace {
std::shared_ptr<ViewerHost> gate(std::shared_ptr<ViewerHost> host, ChildGate*& out) {
  auto g = std::make_shared<ChildGate>(std::move(host));
  out = g.get();
  return g;
}
}  // namespace

Core::Core(std::shared_ptr<ViewerHost> host) : host_(gate(std::move(host), children_)) {
  host_->Attach(this);
  // Initial layout: no image, both alignments pending, menu checks and bars set.
  host_->SetMenuItem("mnplaygif", false, false);
  host_->SetMenuItem("mnstopgif", false, false);
  RefreshMenuChecks();
  LayoutScrollBars();
  ClearClient();
  ClearRect();
  RefreshMouseModeChecks();
}

Core::~Core() {
  Terminate();
  // A viewer closed between a press and its release leaves no input flag set.
  if (input.set_button_down) ThreadInput().mouse_button_down = false;
  if (input.set_key_down) ThreadInput().key_is_down = false;
  UnhookWheel();
  host_->Attach(nullptr);
}

void Core::Advise(std::shared_ptr<ViewerEventSink> sink) {
  if (sink) sinks_.push_back(std::move(sink));
}

void Core::Unadvise(const std::shared_ptr<ViewerEventSink>& sink) {
  sinks_.erase(std::remove(sinks_.begin(), sinks_.end(), sink), sinks_.end());
}

bool Core::Raise(ViewerEvent event, ViewerEventArgs& args) {
  // Handlers may close the document or destroy the viewer: hold the sinks
  // and a weak view of the viewer's life, and check both after each handler.
  const std::weak_ptr<uint64_t> life = life_;
  const uint64_t generation = *life_;
  const std::vector<std::shared_ptr<ViewerEventSink>> sinks = sinks_;
  for (const auto& sink : sinks) {
    sink->OnViewerEvent(event, args);
    const std::shared_ptr<uint64_t> now = life.lock();
    if (!now || *now != generation) return false;
  }
  return true;
}

bool Core::Raise(ViewerEvent event) {
  ViewerEventArgs none;
  return Raise(event, none);
}

}  // namespace korvex::viewer
