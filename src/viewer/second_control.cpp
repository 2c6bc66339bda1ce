// The second viewer control: kxViewer's implementation under the identity
// of KxViewerCnt, whose events carry their own dispatch ids.
#include "korvex/viewer.h"

namespace korvex {

namespace {

// KxViewerCnt's dispatch id of each event, by the event's kxViewer id (1..17).
constexpr int32_t kCntEventIds[] = {
    0,
    1,   // KeyPress
    2,   // KeyUp
    3,   // KeyDown
    4,   // ZoomChange
    6,   // ZoomChanged (kxViewer 5)
    9,   // MouseMove (6)
    10,  // Click (7)
    11,  // DblClick (8)
    12,  // MouseDown (9)
    13,  // MouseUp (10)
    8,   // Displayed (11)
    5,   // Scroll (12)
    7,   // PageChange (13)
    14,  // Resize
    15,  // PictureChange
    16,  // DataReceieved
    17,  // DataReceived
};

}  // namespace

int32_t ViewerEventDispatchId(ViewerControl control, ViewerEvent event) {
  const auto id = static_cast<int32_t>(event);
  if (id < 1 || id > 17) return 0;
  return control == ViewerControl::KxViewerCnt ? kCntEventIds[id] : id;
}

KxViewerCnt::KxViewerCnt(std::shared_ptr<viewer::ViewerHost> host)
    : kxViewer(std::move(host), ViewerControl::KxViewerCnt) {}

}  // namespace korvex
