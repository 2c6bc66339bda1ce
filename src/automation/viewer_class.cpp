// The viewer automation classes, kxViewer and KxViewerCnt: their generated
// members, their 17 events with each class's dispatch ids and arguments, and
// event delivery to automation sinks.
#include <memory>

#include "automation/typelib.h"
#include "korvex/automation.h"
#include "korvex/viewer.h"
#include "viewer/headless_host.h"

namespace korvex::automation {

namespace {

// Size of the client area of a viewer created by name, without a window.
constexpr int32_t kDefaultWidth = 400;
constexpr int32_t kDefaultHeight = 300;

// A viewer on a headless host, held as kxViewer (the type the members are called on).
std::shared_ptr<kxViewer> NewViewer(ViewerControl control, int32_t width, int32_t height) {
  auto host = std::make_shared<viewer::HeadlessHost>(width, height);
  if (control == ViewerControl::KxViewerCnt) return std::make_shared<KxViewerCnt>(std::move(host));
  return std::make_shared<kxViewer>(std::move(host));
}

Param by_ref(const char* name, VarType t) {
  return Param{name, t, true, std::nullopt};
}
Param by_value(const char* name, VarType t) {
  return Param{name, t, false, std::nullopt};
}

// In the order hosts list them (the same for both controls); the dispatch id
// is the control's own, also the index the viewer raises them by.
std::vector<EventInfo> viewer_events(ViewerControl control) {
  const std::vector<Param> mouse = {by_ref("Button", VarType::Integer), by_ref("Shift", VarType::Integer),
                                    by_ref("X", VarType::Single), by_ref("Y", VarType::Single)};
  const std::vector<Param> key = {by_ref("KeyCode", VarType::Integer),
                                  by_ref("Shift", VarType::Integer)};
  using E = ViewerEvent;
  const struct {
    const char* name;
    ViewerEvent event;
    std::vector<Param> params;
  } events[] = {
      {"DataReceieved", E::DataReceieved, {by_value("nPercentProgress", VarType::Long)}},
      {"DataReceived",
       E::DataReceived,
       {by_value("nPercentProgress", VarType::Long), by_value("nLeftToTransfer", VarType::Long),
        by_value("nTotalLength", VarType::Long)}},
      {"ZoomChange", E::ZoomChange, {}},
      {"Scroll", E::Scroll, {}},
      {"ZoomChanged", E::ZoomChanged, {}},
      {"PageChange", E::PageChange, {}},
      {"PictureChange", E::PictureChange, {}},
      {"Displayed", E::Displayed, {}},
      {"KeyPress", E::KeyPress, {by_ref("KeyAscii", VarType::Integer)}},
      {"KeyUp", E::KeyUp, key},
      {"KeyDown", E::KeyDown, key},
      {"MouseMove", E::MouseMove, mouse},
      {"Click", E::Click, {}},
      {"DblClick", E::DblClick, {}},
      {"MouseDown", E::MouseDown, mouse},
      {"MouseUp", E::MouseUp, mouse},
      {"Resize", E::Resize, {}},
  };
  std::vector<EventInfo> out;
  for (const auto& e : events)
    out.push_back({e.name, ViewerEventDispatchId(control, e.event), e.params});
  return out;
}

// Viewer events as automation events: numbers become Variants of the
// declared types, and what a sink leaves in by-reference arguments goes back.
class EventBridge : public ViewerEventSink {
 public:
  EventBridge(const ClassInfo& cls, ViewerControl control, std::shared_ptr<EventSink> sink)
      : cls_(cls), control_(control), sink_(std::move(sink)) {}

  void OnViewerEvent(ViewerEvent event, ViewerEventArgs& args) override {
    const int32_t dispid = ViewerEventDispatchId(control_, event);
    const EventInfo* info = nullptr;
    for (const EventInfo& e : cls_.events)
      if (e.dispid == dispid) info = &e;
    if (info == nullptr) return;
    std::vector<Variant> values;
    for (size_t i = 0; i < info->params.size(); ++i) {
      const double x = i < args.values.size() ? args.values[i] : 0.0;
      switch (info->params[i].type) {
        case VarType::Integer:
          values.emplace_back(static_cast<int16_t>(x));
          break;
        case VarType::Single:
          values.emplace_back(static_cast<float>(x));
          break;
        default:
          values.emplace_back(static_cast<int32_t>(x));
          break;
      }
    }
    sink_->OnEvent(dispid, values);
    for (size_t i = 0; i < info->params.size() && i < args.values.size(); ++i) {
      if (!info->params[i].by_ref) continue;
      double x = 0;
      std::string why;
      if (values[i].to_double(x, why)) args.values[i] = x;
    }
  }

 private:
  const ClassInfo& cls_;
  ViewerControl control_;
  std::shared_ptr<EventSink> sink_;
};

}  // namespace

const ClassInfo& ViewerClass() {
  static const ClassInfo info{
      "kxViewer",
      "Korvex.kxViewer",
      "{6F1C2A50-8B3E-4D27-9A51-3C0E7D2B9F01}",
      "{6F1C2A51-8B3E-4D27-9A51-3C0E7D2B9F01}",
      "{6F1C2A52-8B3E-4D27-9A51-3C0E7D2B9F01}",
      kxViewerMembers(),
      viewer_events(ViewerControl::kxViewer),
      []() -> std::shared_ptr<void> {
        return NewViewer(ViewerControl::kxViewer, kDefaultWidth, kDefaultHeight);
      },
      [](void* self, std::shared_ptr<EventSink> sink) {
        auto* v = static_cast<kxViewer*>(self);
        v->Advise(std::make_shared<EventBridge>(ViewerClass(), v->Control(), std::move(sink)));
      }};
  return info;
}

const ClassInfo& ViewerCntClass() {
  static const ClassInfo info{
      "KxViewerCnt",
      "Korvex.KxViewerCnt",
      "{6F1C2A60-8B3E-4D27-9A51-3C0E7D2B9F01}",
      "{6F1C2A61-8B3E-4D27-9A51-3C0E7D2B9F01}",
      "{6F1C2A62-8B3E-4D27-9A51-3C0E7D2B9F01}",
      KxViewerCntMembers(),
      viewer_events(ViewerControl::KxViewerCnt),
      []() -> std::shared_ptr<void> {
        return NewViewer(ViewerControl::KxViewerCnt, kDefaultWidth, kDefaultHeight);
      },
      [](void* self, std::shared_ptr<EventSink> sink) {
        auto* v = static_cast<kxViewer*>(self);
        v->Advise(std::make_shared<EventBridge>(ViewerCntClass(), v->Control(), std::move(sink)));
      }};
  return info;
}

}  // namespace korvex::automation
