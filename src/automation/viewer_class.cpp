// The kxViewer automation class: its generated members, its 17 events with
// their dispatch ids and arguments, and event delivery to automation sinks.
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

Param by_ref(const char* name, VarType t) {
  return Param{name, t, true, std::nullopt};
}
Param by_value(const char* name, VarType t) {
  return Param{name, t, false, std::nullopt};
}

// In the order hosts list them; the dispatch id is also the index the viewer raises them by.
std::vector<EventInfo> viewer_events() {
  const std::vector<Param> mouse = {by_ref("Button", VarType::Integer), by_ref("Shift", VarType::Integer),
                                    by_ref("X", VarType::Single), by_ref("Y", VarType::Single)};
  const std::vector<Param> key = {by_ref("KeyCode", VarType::Integer),
                                  by_ref("Shift", VarType::Integer)};
  return {
      {"DataReceieved", 16, {by_value("nPercentProgress", VarType::Long)}},
      {"DataReceived",
       17,
       {by_value("nPercentProgress", VarType::Long), by_value("nLeftToTransfer", VarType::Long),
        by_value("nTotalLength", VarType::Long)}},
      {"ZoomChange", 4, {}},
      {"Scroll", 12, {}},
      {"ZoomChanged", 5, {}},
      {"PageChange", 13, {}},
      {"PictureChange", 15, {}},
      {"Displayed", 11, {}},
      {"KeyPress", 1, {by_ref("KeyAscii", VarType::Integer)}},
      {"KeyUp", 2, key},
      {"KeyDown", 3, key},
      {"MouseMove", 6, mouse},
      {"Click", 7, {}},
      {"DblClick", 8, {}},
      {"MouseDown", 9, mouse},
      {"MouseUp", 10, mouse},
      {"Resize", 14, {}},
  };
}

// Viewer events as automation events: numbers become Variants of the
// declared types, and what a sink leaves in by-reference arguments goes back.
class EventBridge : public ViewerEventSink {
 public:
  EventBridge(const ClassInfo& cls, std::shared_ptr<EventSink> sink)
      : cls_(cls), sink_(std::move(sink)) {}

  void OnViewerEvent(ViewerEvent event, ViewerEventArgs& args) override {
    const auto dispid = static_cast<int32_t>(event);
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
      viewer_events(),
      []() -> std::shared_ptr<void> {
        return std::make_shared<kxViewer>(
            std::make_shared<viewer::HeadlessHost>(kDefaultWidth, kDefaultHeight));
      },
      [](void* self, std::shared_ptr<EventSink> sink) {
        static_cast<kxViewer*>(self)->Advise(
            std::make_shared<EventBridge>(ViewerClass(), std::move(sink)));
      }};
  return info;
}

}  // namespace korvex::automation
