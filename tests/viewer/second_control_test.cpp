// The second viewer control's dispatch and event ids, and removing child controls.
#include <set>

#include "korvex/automation.h"
#include "viewer_test_util.h"

namespace korvex {
namespace {

using automation::CallResult;
using automation::ClassInfo;
using automation::DispatchError;
using automation::Member;
using automation::Object;
using testutil::make_image;
using viewer::Bar;
using viewer::HeadlessHost;

struct Ids : automation::EventSink {
  std::vector<int32_t> seen;
  void OnEvent(int32_t dispid, std::vector<Variant>&) override { seen.push_back(dispid); }
};

TEST(SecondControl, SameMembersUnderTheirOwnIdsAndEveryOneCallable) {
  const ClassInfo* kx = automation::FindClass("Korvex.kxViewer");
  const ClassInfo* cnt = automation::FindClass("KxViewerCnt");
  ASSERT_TRUE(kx && cnt && automation::FindClass(cnt->clsid) == cnt);
  const std::set<std::string> guids{kx->clsid,  kx->iid,  kx->event_iid,
                                    cnt->clsid, cnt->iid, cnt->event_iid};
  EXPECT_EQ(guids.size(), 6u);
  ASSERT_EQ(kx->members.size(), cnt->members.size());
  const Object objects[] = {automation::CreateObject("Korvex.kxViewer"),
                            automation::CreateObject("Korvex.KxViewerCnt")};
  for (size_t i = 0; i < kx->members.size(); ++i) {
    const Member& a = kx->members[i];
    const Member& b = cnt->members[i];
    ASSERT_STREQ(a.name, b.name);
    EXPECT_EQ(a.kind, b.kind) << a.name;
    EXPECT_EQ(a.params.size(), b.params.size()) << a.name;
    EXPECT_NE(a.dispid, b.dispid) << a.name;
    EXPECT_STREQ(cnt->find(b.dispid)->name, b.name);  // only a property's halves share one
    for (const Object& o : objects) {
      std::vector<Variant> args;
      for (const automation::Param& p : a.params)
        args.push_back(p.default_value                         ? Variant::Missing()
                       : p.type == automation::VarType::String ? Variant(std::string())
                                                               : Variant());
      const CallResult r = o.Invoke(a.name, a.kind, args);
      EXPECT_EQ(r.error, DispatchError::None)
          << o.cls()->name << "." << a.name << ": " << r.message;
    }
  }
}

TEST(SecondControl, EventsCarryEachControlsOwnDispatchIds) {
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

TEST(SecondControl, RemovedChildrenAreNeverTouchedAgain) {
  auto host = std::make_shared<HeadlessHost>(400, 300);
  KxViewerCnt v(host);
  const int32_t image = make_image(800, 600);
  ASSERT_EQ(v.DisplayFromImageRef(image), ViewerStatus::Ok);
  ASSERT_TRUE(host->bar(Bar::Horizontal).visible);
  ASSERT_TRUE(host->corner_visible());
  using VS = ViewerStatus;
  const std::pair<const char*, VS> removals[] = {
      {"hscroll", VS::Ok},       {"HScroll", VS::WrongState},
      {"shCorner", VS::Ok},      {"shRect", VS::Ok},
      {"mnZoom", VS::Ok},        {"mnzoom100", VS::WrongState},
      {"mnstandard", VS::Ok},    {"Picture1", VS::InvalidParameter},
      {"", VS::InvalidParameter}};
  for (const auto& [name, status] : removals) {
    EXPECT_EQ(v.RemoveObject(name), status) << name;
    EXPECT_EQ(v.LastStatus(), ViewerStatus::Ok) << name;  // a failed removal changes nothing
  }
  const std::string& log = host->Log();
  for (const char* line :
       {"remove HScroll", "remove shCorner", "remove shRect", "remove mnzoom", "remove mnstandard"})
    EXPECT_NE(log.find(line), std::string::npos) << line;
  // The bar's strip went to the image: the view reaches the bottom row.
  EXPECT_FALSE(host->bar(Bar::Horizontal).visible);
  EXPECT_FALSE(host->corner_visible());
  EXPECT_EQ(host->bar(Bar::Vertical).place.height, 300);
  host->ClearLog();
  // Layout, scrolling, selection, mouse modes and zoom: nothing about a removed child.
  v.put_MouseMode(1);
  v.SetRectValues(10, 10, 50, 50);
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
  int16_t button = 2, shift = 0;
  float x = 60, y = 60;
  host->Mouse(viewer::MouseAction::Down, button, shift, x, y);
  EXPECT_EQ(host->Log().find("popup"), std::string::npos);
  v.ClosePicture();
  raster::dispose_image(image);
}

}  // namespace
}  // namespace korvex
