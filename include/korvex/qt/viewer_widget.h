// korvex::qt::ViewerWidget: the viewer control in a Qt 6 Widgets window.
//
// The widget is the viewer's host: its client area is the widget (in device
// pixels, so an image at 100 % is sharp on a high-density screen), with two
// QScrollBars, the corner box, the selection rectangle drawn with its raster
// operation, the popup menu, the pointer shapes, one-shot QTimers and
// message boxes. Mouse, wheel and keyboard input goes to the viewer's
// handlers; the menu's items run the viewer's members. Place it in any
// layout and drive it through viewer().
//
// Link Korvex::korvex_qt. The core library itself never depends on Qt.
#pragma once

#include <QWidget>
#include <memory>

#include "korvex/viewer.h"

class QMenu;
class QScrollBar;

namespace korvex::qt {

class ViewerWidget : public QWidget {
  Q_OBJECT

 public:
  explicit ViewerWidget(QWidget* parent = nullptr);
  ~ViewerWidget() override;

  kxViewer& viewer();
  // The popup menu; its actions are named after the viewer's items
  // ("mnzoom100", "mnhandcursor"...), so a host can translate their captions.
  // The menu and the bars are null once the viewer removed them (RemoveObject).
  QMenu* popupMenu() const;
  QScrollBar* horizontalBar() const;
  QScrollBar* verticalBar() const;
  // Device pixels per widget pixel used by the client area.
  double clientScale() const;
  // The process clipboard (korvex/host.h) and the desktop's (QClipboard):
  // the shown picture copied by the viewer goes to the desktop, and a
  // desktop image comes back for DisplayFromClipboardData. False when there
  // is no image to move.
  bool publishClipboard();
  bool adoptClipboard();

 signals:
  // A property of the viewer was set (its name), as the host was told.
  void propertyChanged(const QString& name);
  // The client area was painted and shown.
  void painted();

 protected:
  void paintEvent(QPaintEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;
  void mouseDoubleClickEvent(QMouseEvent* event) override;
  void wheelEvent(QWheelEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;
  void keyReleaseEvent(QKeyEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  class Host;
  void buildMenu();
  void runMenuItem(const QString& name);
  void mouse(int action, QMouseEvent* event);

  std::shared_ptr<Host> host_;
  std::unique_ptr<kxViewer> viewer_;
  int wheel_rest_ = 0;         // wheel distance short of a whole notch
  bool double_click_ = false;  // the button is down for the second time
};

}  // namespace korvex::qt
