// Mouse, keyboard and selection on the headless host: hand dragging, the
// selection rectangle through zooming and scrolling, auto zoom, the wheel
// and the keypad, and the input events with their by-reference arguments.
#include <limits>

#include "viewer_test_util.h"

namespace korvex {
namespace {

using testutil::make_image;
using viewer::Bar;
using viewer::HeadlessHost;
using viewer::KeyAction;
using viewer::MouseAction;

class InputTest : public testutil::ViewerTest {
 protected:
  InputTest() { events->inputs_only = true; }
  void mouse(MouseAction a, int16_t button, float x, float y, int16_t shift = 0) {
    host->Mouse(a, button, shift, x, y);
  }
  void drag(int16_t button, float x0, float y0, float x1, float y1) {
    mouse(MouseAction::Down, button, x0, y0);
    mouse(MouseAction::Move, button, x1, y1);
    mouse(MouseAction::Up, button, x1, y1);
  }
  void key(KeyAction a, int16_t code) {
    int16_t shift = 0;
    host->Key(a, code, shift);
  }
  std::vector<int32_t> rect() {
    int32_t t = -9, l = -9, w = -9, h = -9;
    v->GetRectValues(t, l, w, h);
    return {t, l, w, h};
  }
  // Image position and bar values.
  std::vector<int32_t> place() {
    return {v->get_ImageLeftCoord(), v->get_ImageTopCoord(), v->GetHScrollBarPosition(),
            v->GetVScrollBarPosition()};
  }
  std::vector<int32_t> shape() {
    const viewer::PixelRect& p = host->selection().place;
    return {p.x, p.y, p.width, p.height};
  }
};

TEST_F(InputTest, HandDragScrollsByTheDragWithinTheRanges) {
  show(1000, 800);
  v->Advise(events);
  const int32_t left = v->get_ImageLeftCoord(), top = v->get_ImageTopCoord();
  mouse(MouseAction::Down, 1, 200, 150);
  EXPECT_EQ(host->pointer(), viewer::kPointerHand);
  EXPECT_EQ(v->GetMouseX(), 200 - left + 1);
  mouse(MouseAction::Move, 1, 190, 135);  // the image follows the mouse
  EXPECT_EQ(place(), (std::vector<int32_t>{left - 10, top - 15, 10 - left, 15 - top}));
  mouse(MouseAction::Move, 1, 190 - 5000, 135);  // past the range's end: refused, not clamped
  EXPECT_EQ(v->get_ImageLeftCoord(), left - 10);
  mouse(MouseAction::Move, 1, 190 - 5000 + 20, 135);  // from where the mouse now is
  mouse(MouseAction::Up, 1, 0, 0);
  EXPECT_EQ(host->pointer(), viewer::kPointerDefault);
  mouse(MouseAction::Move, 1, 300, 300);  // released: no drag
  EXPECT_EQ(place(), (std::vector<int32_t>{left + 10, top - 15, -10 - left, 15 - top}));
  EXPECT_EQ(events->text.find("Scroll"), std::string::npos);

  // A key ends the drag; an axis without a range never moves.
  show(1000, 200);
  const std::vector<int32_t> at = place();
  mouse(MouseAction::Down, 1, 200, 150);
  mouse(MouseAction::Move, 1, 210, 100);
  key(KeyAction::Down, 65);
  mouse(MouseAction::Move, 1, 260, 100);
  EXPECT_EQ(place(), (std::vector<int32_t>{at[0] + 10, at[1], at[2] - 10, 0}));
}

TEST_F(InputTest, SelectionFollowsZoomAndScrollingAndAutoZoomZoomsToIt) {
  EXPECT_EQ(rect(), (std::vector<int32_t>{1, 1, 0, 0}));
  show(100, 100);  // drawn at (150, 100)
  v->put_MouseMode(1);
  drag(1, 160, 110, 200, 150);
  EXPECT_TRUE(v->isRectDrawed() && host->selection().visible);
  EXPECT_EQ(shape(), (std::vector<int32_t>{160, 110, 40, 40}));
  EXPECT_EQ(rect(), (std::vector<int32_t>{11, 11, 40, 40}));
  ASSERT_EQ(v->ZoomIN(), ViewerStatus::Ok);  // 110 x 110 at (145, 95)
  EXPECT_EQ(shape(), (std::vector<int32_t>{156, 106, 44, 44}));
  EXPECT_EQ(rect(), (std::vector<int32_t>{11, 11, 40, 40}));
  v->put_MouseMode(1);  // keeps it
  EXPECT_TRUE(v->isRectDrawed());

  // Cut to the image on the left and above; a press beside the image draws nothing.
  drag(1, 160, 110, 100, 20);
  EXPECT_EQ(shape(), (std::vector<int32_t>{145, 95, 16, 16}));
  drag(1, 20, 110, 200, 150);
  EXPECT_FALSE(v->isRectDrawed());
  v->put_MouseMode(9);  // ignored
  v->put_MouseMode(2);  // clears
  EXPECT_EQ(shape(), (std::vector<int32_t>{-1, -1, 1, 1}));
  EXPECT_TRUE(v->get_MouseMode() == 2 && !host->selection().visible);

  show(1000, 800);
  ASSERT_EQ(v->SetZoom100(), ViewerStatus::Ok);
  const auto placed = [&] {
    return std::vector<int32_t>{500 + v->get_ImageLeftCoord(), 400 + v->get_ImageTopCoord(), 100,
                                50};
  };
  v->SetRectValues(401, 501, 100, 50);
  EXPECT_EQ(shape(), placed());
  v->SetVScrollBarPosition(v->GetVScrollBarPosition() + 30);
  v->SetHScrollBarPosition(v->GetHScrollBarPosition() - 20);
  EXPECT_EQ(shape(), placed());
  EXPECT_EQ(rect(), (std::vector<int32_t>{401, 501, 100, 50}));
  v->CenterOnRect();  // view 383 x 283: (500 - 141.5, 400 - 116.5)
  EXPECT_EQ(place(), (std::vector<int32_t>{-358, -284, 358, 284}));
  EXPECT_EQ(shape(), (std::vector<int32_t>{142, 116, 100, 50}));
  v->ClearRect();
  EXPECT_EQ(rect(), (std::vector<int32_t>{1, 1, 0, 0}));

  // Auto zoom: 40 x 40 image pixels into 400 x 300, the height decides.
  show(100, 100);
  ASSERT_EQ(v->SetZoom100(), ViewerStatus::Ok);
  v->put_MouseMode(3);
  drag(1, 160, 110, 200, 150);
  EXPECT_DOUBLE_EQ(v->get_Zoom(), 7.5);
  EXPECT_EQ(v->get_ZoomMode(), 4);
  EXPECT_EQ(place(), (std::vector<int32_t>{-82, -82, 82, 82}));  // round(-11 x 7.5)
  EXPECT_EQ(rect(), (std::vector<int32_t>{11, 11, 40, 40}));
  EXPECT_TRUE(host->Log().find("pointer 2") != std::string::npos && host->pointer() == 0);
}

TEST_F(InputTest, WheelAndKeypadZoomAndBarKeysDoNotScroll) {
  show(100, 100);
  v->Advise(events);
  host->Wheel(120);
  EXPECT_NEAR(v->get_Zoom(), 1.1, 1e-9);
  host->Wheel(-120);
  EXPECT_NEAR(v->get_Zoom(), 1.0, 1e-9);
  key(KeyAction::Down, 107);
  key(KeyAction::Up, 107);
  EXPECT_NEAR(v->get_Zoom(), 1.1, 1e-9);
  EXPECT_EQ(events->text,
            "KeyDown(107,0) KeyUp(107,0) KeyDown(109,0) KeyUp(109,0) "
            "KeyDown(107,0) KeyUp(107,0)");

  // Held button: the notch is dropped. Another viewer of the thread gets no wheel.
  mouse(MouseAction::Down, 2, 10, 10);
  host->Wheel(120);
  mouse(MouseAction::Up, 2, 10, 10);
  EXPECT_NEAR(v->get_Zoom(), 1.1, 1e-9);
  auto other_host = std::make_shared<HeadlessHost>(200, 200);
  kxViewer other(other_host);
  ASSERT_EQ(other.DisplayFromImageRef(make_image(50, 50)), ViewerStatus::Ok);
  other_host->Wheel(120);
  EXPECT_EQ(other.get_Zoom(), 1.0);

  // Switched off: neither the wheel nor the keypad zooms; key events still arrive.
  v->put_EnableMouseWheel(false);
  events->text.clear();
  host->Wheel(120);
  key(KeyAction::Up, 107);
  EXPECT_NEAR(v->get_Zoom(), 1.1, 1e-9);
  EXPECT_EQ(events->text, "KeyUp(107,0)");
  v->put_EnableMouseWheel(true);
  host->Wheel(-120);
  EXPECT_NEAR(v->get_Zoom(), 1.0, 1e-9);

  // A key on a focused bar: the bar's move is undone, nothing scrolls.
  show(1000, 800);
  const std::vector<int32_t> at = place();
  host->BarKey(Bar::Vertical, 34);
  EXPECT_EQ(place(), at);
  EXPECT_EQ(host->bar(Bar::Vertical).value, at[3]);
}

TEST_F(InputTest, EventsCarryTheirArgumentsAndHandlersMayChangeThem) {
  v->Advise(events);
  int16_t button = 1, shift = 1, code = 65, ascii = 97;
  float x = 10.5F, y = 20;
  for (MouseAction a : {MouseAction::Down, MouseAction::Move, MouseAction::Up})
    host->Mouse(a, button, shift, x, y);
  host->Click(false);
  host->Click(true);
  host->Key(KeyAction::Down, code, shift);
  host->Key(KeyAction::Up, code, shift);
  host->KeyPress(ascii);
  EXPECT_EQ(events->text,
            "MouseDown(1,1,10.5,20) MouseMove(1,1,10.5,20) MouseUp(1,1,10.5,20) Click DblClick "
            "KeyDown(65,1) KeyUp(65,1) KeyPress(97)");

  // Down and move are raised before the viewer acts, up after it.
  show(1000, 800);
  std::vector<int32_t> pointers;
  events->action = [&](ViewerEvent e, ViewerEventArgs& a) {
    pointers.push_back(host->pointer());
    if (e == ViewerEvent::MouseDown) a.values[0] = 4;   // a middle press: zoom in
    if (e == ViewerEvent::MouseMove) a.values[2] -= 7;  // the drag goes 7 further
    if (e == ViewerEvent::KeyUp) a.values[0] = 109;     // keypad minus: zoom out
    if (e == ViewerEvent::KeyPress) a.values[0] = 98;
  };
  button = 1;
  shift = 0;
  x = 200;
  host->Mouse(MouseAction::Down, button, shift, x, y);
  EXPECT_EQ(button, 4);
  EXPECT_NEAR(v->get_Zoom(), 1.1, 1e-9);
  code = 65;
  host->Key(KeyAction::Up, code, shift);
  EXPECT_EQ(code, 109);
  EXPECT_NEAR(v->get_Zoom(), 1.0, 1e-9);
  host->KeyPress(ascii);
  EXPECT_EQ(ascii, 98);
  const int32_t before = v->get_ImageLeftCoord();
  events->action = [&](ViewerEvent e, ViewerEventArgs& a) {
    pointers.push_back(host->pointer());
    if (e == ViewerEvent::MouseMove) a.values[2] -= 7;
  };
  drag(1, 200, 150, 200, 150);  // the hand
  EXPECT_EQ(v->get_ImageLeftCoord(), before - 7);
  ASSERT_GE(pointers.size(), 3U);  // the pointer each of down, move and up saw
  EXPECT_EQ(std::vector<int32_t>(pointers.end() - 3, pointers.end()),
            std::vector<int32_t>(
                {viewer::kPointerDefault, viewer::kPointerHand, viewer::kPointerDefault}));
}

TEST_F(InputTest, TrappedMouseErrorsAndHandlersThatCloseTheViewer) {
  // A drag the handler makes too long for a Long, and a rectangle to no number.
  for (const auto& [mode, to_x] :
       {std::pair{2, 1e30}, std::pair{1, std::numeric_limits<double>::quiet_NaN()}}) {
    v.reset();
    host = std::make_shared<HeadlessHost>(400, 300);
    v = std::make_unique<kxViewer>(host);
    show(1000, 800);
    v->put_MouseMode(mode);
    events->action = [&, x = to_x](ViewerEvent e, ViewerEventArgs& a) {
      if (e == ViewerEvent::MouseMove) a.values[2] = x;
    };
    v->Advise(events);
    drag(1, 200, 150, 200, 150);
    EXPECT_EQ(v->LastStatus(), ViewerStatus::GenericError) << mode;
    EXPECT_EQ(host->message_boxes(), std::vector<std::string>{"Mouse Move Error: Overflow"});
  }

  // Closed inside MouseDown, KeyDown (of a wheel notch) and MouseMove: the
  // viewer stops at once and leaves no input flag set for the next one.
  for (ViewerEvent closing :
       {ViewerEvent::MouseDown, ViewerEvent::KeyDown, ViewerEvent::MouseMove}) {
    show(100, 100);
    auto sink = std::make_shared<testutil::EventLog>();
    sink->action = [&](ViewerEvent e, ViewerEventArgs&) {
      if (e == closing) v.reset();
    };
    v->Advise(sink);
    host->Wheel(120);
    mouse(MouseAction::Down, 1, 160, 110);
    if (v) mouse(MouseAction::Move, 1, 170, 120);
    ASSERT_EQ(v, nullptr);
    v = std::make_unique<kxViewer>(host);
    show(100, 100);
    host->Wheel(120);
    EXPECT_NEAR(v->get_Zoom(), 1.1, 1e-9);
  }
}

TEST_F(InputTest, RectanglePropertiesRefuseBadValuesAndTheMenuPopsUpOnlyOnAnImage) {
  v->put_RectBorderColor(0x0000FF);
  v->put_RectBorderSize(3);
  v->put_RectBorderStyle(2);
  v->put_RectDrawMode(7);
  v->put_RectBorderSize(0);   // ignored
  v->put_RectBorderStyle(6);  // ignored
  v->put_RectDrawMode(17);    // ignored
  EXPECT_EQ((std::vector<int32_t>{v->get_RectBorderColor(), v->get_RectBorderSize(),
                                  v->get_RectBorderStyle(), v->get_RectDrawMode()}),
            (std::vector<int32_t>{0xFF, 3, 2, 7}));
  v->put_MouseMode(1);
  EXPECT_NE(host->Log().find("menu mnareaselection checked=1"), std::string::npos);

  mouse(MouseAction::Down, 2, 30, 40);  // no image: no menu
  show(100, 100);
  mouse(MouseAction::Down, 2, 30, 40);
  v->put_EnableMenu(false);
  mouse(MouseAction::Down, 2, 50, 60);
  const std::string log = host->Log();
  EXPECT_EQ(log.find("popup menu at"), log.rfind("popup menu at"));
  EXPECT_NE(log.find("popup menu at 30,40"), std::string::npos);
}

}  // namespace
}  // namespace korvex
