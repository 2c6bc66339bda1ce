// The second viewer control (same members under their own dispatch ids, its
// own event numbering) and the removal of child controls.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "korvex/automation.h"
#include "korvex/viewer.h"
#include "raster/handles.h"
#include "raster/image.h"
#include "viewer/headless_host.h"

namespace korvex {
namespace {

using automation::CallResult;
using automation::ClassInfo;
using automation::DispatchError;
using automation::Member;
using automation::Object;
using viewer::Bar;
using viewer::HeadlessHost;

int32_t make_image(int32_t w, int32_t h) {
  std::unique_ptr<raster::Image> img;
  EXPECT_EQ(raster::Image::create(w, h, raster::pf::k32bppARGB, img), raster::Status::Ok);
  std::memset(img->surface().row(0), 0x80, static_cast<size_t>(img->surface().stride) * h);
  return raster::register_image(std::move(img));
}

struct Ids : automation::EventSink {
  std::vector<int32_t> seen;
  void OnEvent(int32_t dispid, std::vector<Variant>&) override { seen.push_back(dispid); }
};

// Both classes: the same members in the same order, each at an id of its own.
TEST(SecondControl, SameMembersUnderTheirOwnIdsAndEveryOneCallable) {
  const ClassInfo* kx = automation::FindClass("Korvex.kxViewer");
  const ClassInfo* cnt = automation::FindClass("KxViewerCnt");
  ASSERT_NE(kx, nullptr);
  ASSERT_NE(cnt, nullptr);
  EXPECT_STREQ(cnt->progid, "Korvex.KxViewerCnt");
  EXPECT_EQ(automation::FindClass(cnt->clsid), cnt);
  EXPECT_EQ(std::set<std::string>({kx->clsid, kx->iid, kx->event_iid, cnt->clsid, cnt->iid,
                                   cnt->event_iid}).size(), 6u);
  ASSERT_EQ(kx->members.size(), cnt->members.size());
  EXPECT_EQ(cnt->find("BorderStyle")->dispid, 0x6803001A);
  EXPECT_EQ(cnt->find("DisplayNextFrame")->dispid, 0x60030045);
  EXPECT_EQ(kx->find("RemoveObject")->dispid, 0x60030180);
  const Object objects[] = {automation::CreateObject("Korvex.kxViewer"),
                            automation::CreateObject("Korvex.KxViewerCnt")};
  for (size_t i = 0; i < kx->members.size(); ++i) {
    const Member& a = kx->members[i];
    const Member& b = cnt->members[i];
    ASSERT_STREQ(a.name, b.name);
    EXPECT_EQ(a.kind, b.kind) << a.name;
    EXPECT_EQ(a.params.size(), b.params.size()) << a.name;
    EXPECT_NE(a.dispid, b.dispid) << a.name;
    // The read and write halves of a property share the id; nothing else does.
    const Member* twin = cnt->find(b.dispid);
    EXPECT_STREQ(twin->name, b.name);
    for (const Object& o : objects) {
      std::vector<Variant> args;
      for (const automation::Param& p : a.params)
        args.push_back(p.default_value                         ? Variant::Missing()
                       : p.type == automation::VarType::String ? Variant(std::string())
                                                               : Variant());
      const CallResult r = o.Invoke(a.name, a.kind, args);
      EXPECT_EQ(r.error, DispatchError::None) << o.cls()->name << "." << a.name << ": " << r.message;
    }
  }
}

// Both controls raise the same events, each under its own class's ids, listed in one order.
TEST(SecondControl, EventsCarryEachControlsOwnDispatchIds) {
  std::string kx_order, cnt_order;
  for (const auto& e : automation::FindClass("kxViewer")->events) kx_order += std::string(e.name) + " ";
  for (const auto& e : automation::FindClass("KxViewerCnt")->events) {
    cnt_order += std::string(e.name) + " ";
    EXPECT_EQ(e.dispid, ViewerEventDispatchId(ViewerControl::KxViewerCnt,
                                              static_cast<ViewerEvent>(
                                                  automation::FindClass("kxViewer")->find_event(e.name)->dispid)));
  }
  EXPECT_EQ(cnt_order, kx_order);
  // kxViewer id -> KxViewerCnt id, as the second control numbers them.
  const int32_t expected[][2] = {{1, 1},  {2, 2},   {3, 3},   {4, 4},   {12, 5},  {5, 6},
                                 {13, 7}, {11, 8},  {6, 9},   {7, 10},  {8, 11},  {9, 12},
                                 {10, 13}, {14, 14}, {15, 15}, {16, 16}, {17, 17}};
  for (const auto& e : expected) {
    EXPECT_EQ(ViewerEventDispatchId(ViewerControl::kxViewer, static_cast<ViewerEvent>(e[0])), e[0]);
    EXPECT_EQ(ViewerEventDispatchId(ViewerControl::KxViewerCnt, static_cast<ViewerEvent>(e[0])), e[1]);
  }
  // A host handling Scroll on both gets 12 from kxViewer and 5 from KxViewerCnt
  // (after Displayed and PageChange of the repaint).
  const int32_t image = make_image(800, 600);
  const std::pair<const char*, std::vector<int32_t>> controls[] = {
      {"Korvex.kxViewer", {11, 13, 12}}, {"Korvex.KxViewerCnt", {8, 7, 5}}};
  for (const auto& [progid, ids] : controls) {
    const Object o = automation::CreateObject(progid);
    auto sink = std::make_shared<Ids>();
    o.cls()->advise(o.get(), sink);
    std::vector<Variant> args{Variant(image)};
    ASSERT_EQ(o.Invoke("DisplayFromImageRef", args).value.as_int32(), 0);
    sink->seen.clear();
    args = {Variant(int32_t{40})};
    o.Invoke("SetHScrollBarPosition", args);
    EXPECT_EQ(sink->seen, ids) << progid;
  }
  raster::dispose_image(image);
}

// RemoveObject: each child goes once, the host is told, and the viewer never touches it again.
TEST(SecondControl, RemovedChildrenAreNeverTouchedAgain) {
  auto host = std::make_shared<HeadlessHost>(400, 300);
  KxViewerCnt v(host);
  const int32_t image = make_image(800, 600);
  ASSERT_EQ(v.DisplayFromImageRef(image), ViewerStatus::Ok);
  ASSERT_TRUE(host->bar(Bar::Horizontal).visible);
  ASSERT_TRUE(host->corner_visible());
  const struct {
    const char* name;
    ViewerStatus status;
  } removals[] = {
      {"hscroll", ViewerStatus::Ok},        {"HScroll", ViewerStatus::WrongState},
      {"shCorner", ViewerStatus::Ok},       {"shRect", ViewerStatus::Ok},
      {"mnZoom", ViewerStatus::Ok},         {"mnzoom100", ViewerStatus::WrongState},
      {"mnstandard", ViewerStatus::Ok},     {"Picture1", ViewerStatus::InvalidParameter},
      {"", ViewerStatus::InvalidParameter},
  };
  for (const auto& r : removals) {
    EXPECT_EQ(v.RemoveObject(r.name), r.status) << r.name;
    EXPECT_EQ(v.LastStatus(), ViewerStatus::Ok) << r.name;  // a failed removal changes nothing
  }
  const std::string& log = host->Log();
  for (const char* line : {"remove HScroll", "remove shCorner", "remove shRect", "remove mnzoom",
                           "remove mnstandard"})
    EXPECT_NE(log.find(line), std::string::npos) << line;
  // The bar's strip went to the image: the view reaches the bottom row.
  EXPECT_FALSE(host->bar(Bar::Horizontal).visible);
  EXPECT_FALSE(host->corner_visible());
  EXPECT_EQ(host->bar(Bar::Vertical).place.height, 300);
  host->ClearLog();
  // Layout, scrolling, selection, mouse modes and zoom: nothing about a removed child.
  v.put_MouseMode(1);
  int16_t button = 1, shift = 0;
  float x = 10, y = 10;
  host->Mouse(viewer::MouseAction::Down, button, shift, x, y);
  x = y = 60;
  host->Mouse(viewer::MouseAction::Move, button, shift, x, y);
  host->Mouse(viewer::MouseAction::Up, button, shift, x, y);
  EXPECT_TRUE(v.isRectDrawed());
  v.SetHScrollBarPosition(30);
  EXPECT_EQ(v.GetHScrollBarPosition(), 30);  // the image still scrolls
  v.put_MouseMode(0);
  v.SetZoom(150);
  host->ResizeClient(300, 200);
  for (const char* word : {"hscroll", "corner", "selection visible", "mnzoom", "mnstandard"})
    EXPECT_EQ(host->Log().find(word), std::string::npos) << word << " in\n" << host->Log();
  EXPECT_NE(host->Log().find("vscroll"), std::string::npos);
  // Without its menu the right button pops nothing up.
  EXPECT_EQ(v.RemoveObject("menu"), ViewerStatus::Ok);
  EXPECT_EQ(v.RemoveObject("mnframes"), ViewerStatus::WrongState);
  button = 2;
  host->Mouse(viewer::MouseAction::Down, button, shift, x, y);
  EXPECT_EQ(host->Log().find("popup"), std::string::npos);
  v.ClosePicture();
  raster::dispose_image(image);
}

}  // namespace
}  // namespace korvex
