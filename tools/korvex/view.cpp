// `korvex view FILE...`: a small image viewer around the Qt viewer widget.
// PDF documents are paged like multi-page images; an encrypted one asks for
// its password (again after a wrong one; Cancel gives the file up, and with
// nothing left to show the viewer closes).
// PageUp/PageDown step through the pages of a document and on to the next
// or previous file; 1, F, W, H and V pick the zoom mode (100 %, fit, width,
// height, stretched), + and - zoom, M and R switch between the hand and the
// rectangle mouse modes, Z zooms to the rectangle; the right button opens
// the viewer's menu with the same choices. Escape or Q quits.
#include "view.h"

#include <QApplication>
#include <QKeyEvent>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "korvex/qt/pdf_password.h"
#include "korvex/qt/viewer_widget.h"

namespace {

class ViewWindow : public korvex::qt::ViewerWidget {
 public:
  explicit ViewWindow(std::vector<std::string> files) : files_(std::move(files)) {}

  // Shows file `index` at `page` (-1: its last page); false when it cannot be read.
  bool Show(size_t index, int32_t page) {
    korvex::kxViewer& v = viewer();
    const std::string& path = files_[index];
    const bool pdf = path.size() > 4 && (path.compare(path.size() - 4, 4, ".pdf") == 0 ||
                                         path.compare(path.size() - 4, 4, ".PDF") == 0);
    const korvex::ViewerStatus s = pdf ? korvex::qt::DisplayPdfAskingPassword(*this, path)
                                       : v.DisplayFromFile(path);
    if (s != korvex::ViewerStatus::Ok) {
      std::fprintf(stderr, "korvex view: %s: status %d\n", files_[index].c_str(),
                   static_cast<int>(s));
      return false;
    }
    current_ = index;
    if (page < 0)
      v.DisplayLastFrame();
    else if (page > 1)
      v.DisplayFrame(page);
    UpdateTitle();
    return true;
  }

  size_t file() const { return current_; }

  // The first file that can be shown, from `from` on in direction `step`.
  bool ShowFrom(size_t from, int step, bool last_page) {
    for (size_t i = from; i < files_.size(); i += static_cast<size_t>(step))
      if (Show(i, last_page ? -1 : 1)) return true;
    return false;
  }

 protected:
  void keyPressEvent(QKeyEvent* e) override {
    korvex::kxViewer& v = viewer();
    switch (e->key()) {
      case Qt::Key_Escape:
      case Qt::Key_Q:
        close();
        return;
      case Qt::Key_PageDown:
        if (v.get_Currentpage() < v.get_NumPages())
          v.DisplayNextFrame();
        else if (current_ + 1 < files_.size())
          ShowFrom(current_ + 1, 1, false);
        UpdateTitle();
        return;
      case Qt::Key_PageUp:
        if (v.get_Currentpage() > 1)
          v.DisplayPreviousFrame();
        else if (current_ > 0)
          ShowFrom(current_ - 1, -1, true);
        UpdateTitle();
        return;
      case Qt::Key_1:
        v.SetZoom100();
        return;
      case Qt::Key_F:
        v.SetZoomFit();
        return;
      case Qt::Key_W:
        v.SetZoomWidth();
        return;
      case Qt::Key_H:
        v.SetZoomHeight();
        return;
      case Qt::Key_V:
        v.SetZoomViewer();
        return;
      case Qt::Key_Plus:
      case Qt::Key_Equal:
        v.ZoomIN();
        return;
      case Qt::Key_Minus:
        v.ZoomOUT();
        return;
      case Qt::Key_M:
        v.put_MouseMode(2);
        return;  // hand
      case Qt::Key_R:
        v.put_MouseMode(1);
        return;  // rectangle
      case Qt::Key_Z:
        v.ZoomRect();
        return;
      default:
        ViewerWidget::keyPressEvent(e);
    }
  }

 private:
  void UpdateTitle() {
    korvex::kxViewer& v = viewer();
    QString title = QString::fromStdString(files_[current_]);
    if (v.get_NumPages() > 1)
      title += QStringLiteral(" (%1/%2)").arg(v.get_Currentpage()).arg(v.get_NumPages());
    setWindowTitle(title + QStringLiteral(" - korvex view"));
  }

  std::vector<std::string> files_;
  size_t current_ = 0;
};

}  // namespace

extern "C" __attribute__((visibility("default"))) int korvex_view_main(
    const std::vector<std::string>& files) {
  if (files.empty()) {
    std::fprintf(stderr, "korvex view: give one or more image files\n");
    return 2;
  }
  int argc = 1;
  char name[] = "korvex";
  char* argv[] = {name, nullptr};
  QApplication app(argc, argv);
  ViewWindow window(files);
  window.resize(800, 600);
  window.viewer().put_ZoomMode(2);  // fit to the window
  if (!window.ShowFrom(0, 1, false)) return 1;
  // KORVEX_VIEW_QUIT_AFTER_PAINT=1 (tests): report the first shown picture,
  // then press PageDown and Escape as a user would; the file shown at the
  // end is reported when the window has closed.
  const char* q = std::getenv("KORVEX_VIEW_QUIT_AFTER_PAINT");
  const bool scripted = q != nullptr && *q == '1';
  if (scripted) {
    QObject::connect(
        &window, &korvex::qt::ViewerWidget::painted, &app,
        [&window, done = false]() mutable {
          if (done) return;
          done = true;
          korvex::kxViewer& v = window.viewer();
          korvex::host::WindowRect client;
          korvex::host::GetWindowRect(v.get_hwnd(), client);
          std::printf("shown %dx%d page %d/%d client %dx%d\n", v.get_PictureWidth(),
                      v.get_PictureHeight(), v.get_Currentpage(), v.get_NumPages(),
                      client.right - client.left, client.bottom - client.top);
          std::fflush(stdout);
          for (Qt::Key key : {Qt::Key_PageDown, Qt::Key_Escape})
            QCoreApplication::postEvent(&window,
                                        new QKeyEvent(QEvent::KeyPress, key, Qt::NoModifier));
        },
        Qt::QueuedConnection);
  }
  window.show();
  const int rc = QApplication::exec();
  if (scripted) std::printf("closed at file %zu of %zu\n", window.file() + 1, files.size());
  return rc;
}
