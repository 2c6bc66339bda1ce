// ViewerWidget: a QWidget hosting a kxViewer. Window-system input becomes
// the viewer's mouse, key and wheel input in device pixels; the popup
// menu's items run the viewer's members; the clipboard is bridged between
// the process and the desktop.
#include "korvex/qt/viewer_widget.h"

#include <QClipboard>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QMenu>
#include <QMouseEvent>
#include <QPainter>
#include <QWheelEvent>
#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "viewer/menu.h"
#include "viewer/qt/qt_host.h"

namespace korvex::qt {

namespace {

int16_t buttons_of(Qt::MouseButtons b) {
  int16_t out = 0;
  if (b & Qt::LeftButton) out |= 1;
  if (b & Qt::RightButton) out |= 2;
  if (b & Qt::MiddleButton) out |= 4;
  return out;
}

int16_t shift_of(Qt::KeyboardModifiers m) {
  int16_t out = 0;
  if (m & Qt::ShiftModifier) out |= 1;
  if (m & Qt::ControlModifier) out |= 2;
  if (m & Qt::AltModifier) out |= 4;
  return out;
}

// The virtual key code of a Qt key (0 for keys without one).
int16_t key_code_of(const QKeyEvent* e) {
  const int k = e->key();
  if (e->modifiers() & Qt::KeypadModifier) {
    if (k == Qt::Key_Plus) return 107;
    if (k == Qt::Key_Minus) return 109;
    if (k == Qt::Key_Asterisk) return 106;
    if (k == Qt::Key_Slash) return 111;
    if (k >= Qt::Key_0 && k <= Qt::Key_9) return static_cast<int16_t>(96 + (k - Qt::Key_0));
  }
  if ((k >= Qt::Key_A && k <= Qt::Key_Z) || (k >= Qt::Key_0 && k <= Qt::Key_9))
    return static_cast<int16_t>(k);  // the same codes as ASCII
  if (k >= Qt::Key_F1 && k <= Qt::Key_F24) return static_cast<int16_t>(112 + (k - Qt::Key_F1));
  static const struct {
    int qt;
    int16_t vk;
  } kKeys[] = {{Qt::Key_Backspace, 8}, {Qt::Key_Tab, 9},       {Qt::Key_Return, 13},
               {Qt::Key_Enter, 13},    {Qt::Key_Shift, 16},    {Qt::Key_Control, 17},
               {Qt::Key_Alt, 18},      {Qt::Key_Escape, 27},   {Qt::Key_Space, 32},
               {Qt::Key_PageUp, 33},   {Qt::Key_PageDown, 34}, {Qt::Key_End, 35},
               {Qt::Key_Home, 36},     {Qt::Key_Left, 37},     {Qt::Key_Up, 38},
               {Qt::Key_Right, 39},    {Qt::Key_Down, 40},     {Qt::Key_Insert, 45},
               {Qt::Key_Delete, 46},   {Qt::Key_Plus, 187},    {Qt::Key_Minus, 189}};
  for (const auto& m : kKeys)
    if (m.qt == k) return m.vk;
  return 0;
}

}  // namespace

ViewerWidget::ViewerWidget(QWidget* parent) : QWidget(parent) {
  setFocusPolicy(Qt::StrongFocus);
  setMouseTracking(true);
  setMinimumSize(32, 32);
  host_ = std::make_shared<Host>(this);
  buildMenu();
  for (viewer::Bar b : {viewer::Bar::Horizontal, viewer::Bar::Vertical}) {
    QScrollBar* bar = host_->bar(b);
    bar->installEventFilter(this);
    // Only the user moves a bar here: the host sets values with signals blocked.
    connect(bar, &QScrollBar::valueChanged, this, [this, b](int value) {
      if (host_->events() != nullptr) host_->events()->OnScrollBarChange(b, value);
    });
  }
  viewer_ = std::make_unique<kxViewer>(host_);
}

ViewerWidget::~ViewerWidget() {
  host_->StopAll();
  viewer_.reset();
  host_->Attach(nullptr);
}

kxViewer& ViewerWidget::viewer() {
  return *viewer_;
}
QMenu* ViewerWidget::popupMenu() const {
  return host_->menu();
}
QScrollBar* ViewerWidget::horizontalBar() const {
  return host_->bar(viewer::Bar::Horizontal);
}
QScrollBar* ViewerWidget::verticalBar() const {
  return host_->bar(viewer::Bar::Vertical);
}
double ViewerWidget::clientScale() const {
  return host_->scale();
}

void ViewerWidget::buildMenu() {
  QMenu* top = host_->menu();
  std::map<std::string, QMenu*> submenus;
  for (const viewer::MenuItem& m : viewer::MenuItems()) {
    QMenu* parent = *m.under ? submenus[m.under] : top;
    const QString caption = QString::fromUtf8(m.caption);
    const QString name = QString::fromUtf8(m.name);
    if (viewer::IsSubmenu(m.name)) {
      QMenu* sub = parent->addMenu(caption);
      sub->menuAction()->setObjectName(name);
      submenus[m.name] = sub;
      continue;
    }
    QAction* a = parent->addAction(caption);
    a->setObjectName(name);
    // Check marks are the viewer's: the toggle Qt made on the way is undone
    // and the item shows what the viewer sets.
    connect(a, &QAction::triggered, this, [this, a, name]() {
      if (a->isCheckable()) a->setChecked(!a->isChecked());
      runMenuItem(name);
    });
  }
}

void ViewerWidget::runMenuItem(const QString& name) {
  if (host_->events() == nullptr) return;
  QPointer<ViewerWidget> alive(this);
  host_->events()->OnMenuItem(name.toStdString());
  // The viewer's copy goes on to the desktop's clipboard.
  if (alive && name == QLatin1String("mnclipboard")) publishClipboard();
}

void ViewerWidget::paintEvent(QPaintEvent*) {
  if (host_->SyncSize() && host_->events() != nullptr) {
    // The screen's pixel ratio changed under the same widget size.
    QMetaObject::invokeMethod(
        this,
        [this]() {
          if (host_->events()) host_->events()->OnResize();
        },
        Qt::QueuedConnection);
  }
  QPainter p(this);
  const QImage frame = host_->Frame();
  const QImage& picture = host_->picture();
  if (!picture.isNull()) {
    // Transparent back style: the parent shows through the masked pixels.
    const QRect area(QPoint(0, 0), picture.deviceIndependentSize().toSize());
    p.setClipRegion(QRegion(rect()).subtracted(area));
    if (!frame.isNull()) p.drawImage(QPointF(0, 0), frame);
    p.setClipping(false);
    p.drawImage(QPointF(0, 0), picture);
  } else if (!frame.isNull()) {
    p.drawImage(QPointF(0, 0), frame);
  }
  p.end();
  emit painted();
}

void ViewerWidget::resizeEvent(QResizeEvent*) {
  if (host_->SyncSize() && host_->events() != nullptr) host_->events()->OnResize();
}

void ViewerWidget::mouse(int action, QMouseEvent* e) {
  viewer::HostEvents* events = host_->events();
  if (events == nullptr) return;
  // The button that changed on a press or release, every held one on a move.
  int16_t button = buttons_of(action == 1 ? e->buttons() : Qt::MouseButtons(e->button()));
  int16_t shift = shift_of(e->modifiers());
  const double s = host_->scale();
  auto x = static_cast<float>(e->position().x() * s);
  auto y = static_cast<float>(e->position().y() * s);
  events->OnMouse(static_cast<viewer::MouseAction>(action), button, shift, x, y);
}

void ViewerWidget::mousePressEvent(QMouseEvent* e) {
  setFocus(Qt::MouseFocusReason);
  mouse(0, e);
}

void ViewerWidget::mouseMoveEvent(QMouseEvent* e) {
  mouse(1, e);
}

void ViewerWidget::mouseReleaseEvent(QMouseEvent* e) {
  QPointer<ViewerWidget> alive(this);
  // The release that ends a double click is not a click of its own.
  const bool clicked = !double_click_ && rect().contains(e->position().toPoint());
  double_click_ = false;
  mouse(2, e);
  if (alive && clicked && host_->events() != nullptr) host_->events()->OnClick(false);
}

void ViewerWidget::mouseDoubleClickEvent(QMouseEvent*) {
  // The second press of a double click: DblClick in place of MouseDown.
  double_click_ = true;
  if (host_->events() != nullptr) host_->events()->OnClick(true);
}

void ViewerWidget::wheelEvent(QWheelEvent* e) {
  e->accept();
  // Fine-grained wheels and touch pads send parts of a notch: the viewer
  // hears of each whole notch (120) once it has gathered.
  wheel_rest_ += e->angleDelta().y();
  while (std::abs(wheel_rest_) >= 120) {
    const int16_t delta = wheel_rest_ > 0 ? 120 : -120;
    wheel_rest_ -= delta;
    if (host_->events() == nullptr) return;
    QPointer<ViewerWidget> alive(this);
    // The wheel message's first parameter: the distance in the high word.
    const auto wparam =
        static_cast<int32_t>(static_cast<uint32_t>(static_cast<uint16_t>(delta)) << 16);
    host_->events()->OnMouseWheel(wparam);
    if (!alive) return;
  }
}

void ViewerWidget::keyPressEvent(QKeyEvent* e) {
  viewer::HostEvents* events = host_->events();
  if (events == nullptr) return;
  QPointer<ViewerWidget> alive(this);
  int16_t code = key_code_of(e);
  int16_t shift = shift_of(e->modifiers());
  if (code != 0) events->OnKey(viewer::KeyAction::Down, code, shift);
  const QString text = e->text();
  if (alive && host_->events() != nullptr && text.size() == 1 && text[0].unicode() < 256) {
    auto ascii = static_cast<int16_t>(text[0].unicode());
    host_->events()->OnKeyPress(ascii);
  }
}

void ViewerWidget::keyReleaseEvent(QKeyEvent* e) {
  if (e->isAutoRepeat() || host_->events() == nullptr) return;
  int16_t code = key_code_of(e);
  int16_t shift = shift_of(e->modifiers());
  if (code != 0) host_->events()->OnKey(viewer::KeyAction::Up, code, shift);
}

bool ViewerWidget::eventFilter(QObject* watched, QEvent* event) {
  // A key on a focused bar: the viewer hears of it before the bar moves.
  if (event->type() == QEvent::KeyPress && host_->events() != nullptr) {
    if (watched == host_->bar(viewer::Bar::Horizontal))
      host_->events()->OnScrollBarKeyDown(viewer::Bar::Horizontal);
    else if (watched == host_->bar(viewer::Bar::Vertical))
      host_->events()->OnScrollBarKeyDown(viewer::Bar::Vertical);
  }
  return QWidget::eventFilter(watched, event);
}

}  // namespace korvex::qt
