// The Qt viewer widget under the offscreen platform: what a grab of the
// window shows, real scroll bars, hand dragging, the wheel, keys, the popup
// menu (captions, keyboard), properties in an ini file, timers, the
// selection's raster operations, the clipboard bridge, message boxes, the
// PDF password dialog (answered from a timer) and child controls removed live.
#include <gtest/gtest.h>
#include <unistd.h>

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QInputDialog>
#include <QMenu>
#include <QMessageBox>
#include <QScrollBar>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QWheelEvent>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "korvex/engine.h"
#include "korvex/qt/pdf_password.h"
#include "korvex/qt/settings_bag.h"
#include "korvex/qt/viewer_widget.h"
#include "korvex/viewer.h"
#include "raster/handles.h"
#include "raster/image.h"
#include "viewer/qt/raster_op.h"
#include "viewer/viewer_host.h"

namespace korvex {
namespace {

// A 32bppARGB image of one colour, registered in the thread's table.
int32_t make_image(int32_t w, int32_t h, uint32_t argb) {
  std::unique_ptr<raster::Image> img;
  EXPECT_EQ(raster::Image::create(w, h, raster::pf::k32bppARGB, img), raster::Status::Ok);
  raster::Surface& s = img->surface();
  for (int32_t y = 0; y < h; ++y)
    for (int32_t x = 0; x < w; ++x) std::memcpy(s.row(y) + x * 4, &argb, 4);
  EXPECT_EQ(img->set_resolution(96, 96), raster::Status::Ok);
  return raster::register_image(std::move(img));
}

struct Recorder : ViewerEventSink {
  std::string seen;
  void OnViewerEvent(ViewerEvent e, ViewerEventArgs& a) override {
    // Keys with their first argument, button events and clicks by id.
    if (e == ViewerEvent::KeyDown || e == ViewerEvent::KeyUp || e == ViewerEvent::KeyPress)
      seen += std::to_string(static_cast<int>(e)) + ":" +
              std::to_string(static_cast<int>(a.values[0])) + " ";
    else if (e >= ViewerEvent::Click && e <= ViewerEvent::MouseUp)
      seen += std::to_string(static_cast<int>(e)) + " ";
  }
};

class ViewerQtTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    static int argc = 1;
    static char name[] = "test_viewer_qt";
    static char* argv[] = {name, nullptr};
    if (QApplication::instance() == nullptr) app_ = new QApplication(argc, argv);
  }
  static void TearDownTestSuite() {
    delete app_;
    app_ = nullptr;
  }
  void SetUp() override {
    w = std::make_unique<qt::ViewerWidget>();
    w->resize(400, 300);
    w->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(w.get()));
    v = &w->viewer();
  }
  // 0xRRGGBB of a pixel of the window as shown.
  QRgb pixel(int x, int y) { return w->grab().toImage().pixel(x, y) & 0xFFFFFF; }
  QAction* item(const char* name) { return w->popupMenu()->findChild<QAction*>(name); }

  static inline QApplication* app_ = nullptr;
  std::unique_ptr<qt::ViewerWidget> w;
  kxViewer* v = nullptr;
};

TEST_F(ViewerQtTest, GrabShowsTheImageWhereTheLayoutPutsIt) {
  v->put_BackColor(0x00FF00);  // green (COLORREF)
  ASSERT_EQ(v->DisplayFromImageRef(make_image(100, 100, 0xFFFF0000)), ViewerStatus::Ok);
  EXPECT_EQ(v->get_ImageLeftCoord(), 150);
  EXPECT_EQ(v->get_ImageTopCoord(), 100);
  EXPECT_FALSE(w->horizontalBar()->isVisible());
  EXPECT_FALSE(w->verticalBar()->isVisible());
  const struct {
    int x, y;
    QRgb rgb;
  } kPixels[] = {{150, 100, 0xFF0000}, {249, 199, 0xFF0000}, {149, 100, 0x00FF00},
                 {250, 199, 0x00FF00}, {150, 99, 0x00FF00},  {200, 200, 0x00FF00}};
  for (const auto& p : kPixels) EXPECT_EQ(pixel(p.x, p.y), p.rgb) << p.x << "," << p.y;
}

TEST_F(ViewerQtTest, LargeImageGetsRealBarsThatScrollAndDrag) {
  ASSERT_EQ(v->DisplayFromImageRef(make_image(1000, 800, 0xFF0000FF)), ViewerStatus::Ok);
  QScrollBar* h = w->horizontalBar();
  QScrollBar* vb = w->verticalBar();
  ASSERT_TRUE(h->isVisible());
  ASSERT_TRUE(vb->isVisible());
  EXPECT_EQ(h->maximum(), v->GetHScrollBarMaxPosition());
  EXPECT_EQ(vb->maximum(), v->GetVScrollBarMaxPosition());
  // The bar sits along the bottom, as thick as the host says, beside the corner box.
  EXPECT_EQ(h->geometry().bottom(), 299);
  EXPECT_EQ(vb->geometry().right(), 399);

  // The user moves a bar: the viewer scrolls with it.
  h->setValue(10);
  EXPECT_EQ(v->GetHScrollBarPosition(), 10);
  EXPECT_EQ(v->get_ImageLeftCoord(), -10);

  // Hand mode (the default): dragging left and up scrolls right and down.
  const int h0 = h->value(), v0 = vb->value();
  QTest::mousePress(w.get(), Qt::LeftButton, Qt::NoModifier, QPoint(200, 150));
  EXPECT_EQ(w->cursor().shape(), Qt::OpenHandCursor);
  QTest::mouseMove(w.get(), QPoint(150, 120));
  QTest::mouseRelease(w.get(), Qt::LeftButton, Qt::NoModifier, QPoint(150, 120));
  EXPECT_EQ(w->cursor().shape(), Qt::ArrowCursor);
  EXPECT_EQ(v->GetHScrollBarPosition(), h0 + 50);
  EXPECT_EQ(h->value(), h0 + 50);
  EXPECT_EQ(vb->value(), v0 + 30);
}

TEST_F(ViewerQtTest, WheelZoomsByTheStepAndKeysAndClicksReachTheViewer) {
  ASSERT_EQ(v->DisplayFromImageRef(make_image(100, 100, 0xFFFF0000)), ViewerStatus::Ok);
  auto wheel = [&](int delta) {
    QWheelEvent e(QPointF(200, 150), w->mapToGlobal(QPointF(200, 150)), QPoint(), QPoint(0, delta),
                  Qt::NoButton, Qt::NoModifier, Qt::NoScrollPhase, false);
    QCoreApplication::sendEvent(w.get(), &e);
  };
  wheel(120);
  EXPECT_DOUBLE_EQ(v->get_Zoom(), 1.1);
  wheel(-120);
  wheel(-60);  // half a notch waits for the other half
  EXPECT_NEAR(v->get_Zoom(), 1.0, 1e-9);
  wheel(-60);
  EXPECT_NEAR(v->get_Zoom(), 0.9, 1e-9);

  auto rec = std::make_shared<Recorder>();
  v->Advise(rec);
  QTest::keyClick(w.get(), Qt::Key_A);
  QTest::keyClick(w.get(), Qt::Key_PageDown);
  // KeyDown (3) and KeyUp (2) with the key code, KeyPress (1) with the character.
  EXPECT_EQ(rec->seen, "3:65 1:97 2:65 3:34 2:34 ");
  // A double click: MouseDown, MouseUp, Click, DblClick, MouseUp.
  rec->seen.clear();
  const QPoint at(200, 150);
  QTest::mousePress(w.get(), Qt::LeftButton, Qt::NoModifier, at);
  QTest::mouseRelease(w.get(), Qt::LeftButton, Qt::NoModifier, at);
  QTest::mouseDClick(w.get(), Qt::LeftButton, Qt::NoModifier, at);  // the second press only
  QTest::mouseRelease(w.get(), Qt::LeftButton, Qt::NoModifier, at);
  EXPECT_EQ(rec->seen, "9 10 7 8 10 ");
}

TEST_F(ViewerQtTest, RightButtonPopsTheMenuAndItemsRunTheViewer) {
  ASSERT_EQ(v->DisplayFromImageRef(make_image(100, 100, 0xFFFF0000)), ViewerStatus::Ok);
  EXPECT_TRUE(item("mnzoom100")->isChecked());
  QTest::mousePress(w.get(), Qt::RightButton, Qt::NoModifier, QPoint(200, 150));
  QTest::mouseRelease(w.get(), Qt::RightButton, Qt::NoModifier, QPoint(200, 150));
  EXPECT_TRUE(w->popupMenu()->isVisible());
  w->popupMenu()->close();

  // What each item does is checked on the headless host; here the check marks follow.
  item("mnzoomfit")->trigger();
  EXPECT_EQ(v->get_ZoomMode(), 2);
  EXPECT_TRUE(item("mnzoomfit")->isChecked());
  EXPECT_FALSE(item("mnzoom100")->isChecked());
  // Frame items stay disabled for a single-page image.
  EXPECT_FALSE(item("mnnextframe")->isEnabled());
}

TEST_F(ViewerQtTest, MenuCaptionsComeFromTheViewerAndKeysChooseItems) {
  EXPECT_EQ(item("mn90")->text(), QString::fromUtf8("90\u00B0"));
  v->SetItemMenuCaption(21, "Taille r\u00E9elle");
  EXPECT_EQ(item("mnzoom100")->text(), QString::fromUtf8("Taille r\u00E9elle"));
  ASSERT_EQ(v->DisplayFromImageRef(make_image(80, 50, 0xFFFF0000)), ViewerStatus::Ok);
  // Top items: Frames, Rotation, ScrollBars, ...; Zoom > in, out, 100%, fit; Rotation > 90°.
  const std::vector<Qt::Key> kChoices[] = {
      {Qt::Key_Down, Qt::Key_Down, Qt::Key_Down, Qt::Key_Return},
      {Qt::Key_Up, Qt::Key_Up, Qt::Key_Right, Qt::Key_Down, Qt::Key_Down, Qt::Key_Down,
       Qt::Key_Return},
      {Qt::Key_Down, Qt::Key_Down, Qt::Key_Right, Qt::Key_Return}};
  for (const auto& keys : kChoices) {
    w->popupMenu()->popup(w->mapToGlobal(QPoint(10, 10)));
    ASSERT_TRUE(QTest::qWaitForWindowExposed(w->popupMenu()));
    for (Qt::Key k : keys) QTest::keyClick(QApplication::activePopupWidget(), k);
  }
  EXPECT_FALSE(v->get_ScrollBars());
  EXPECT_FALSE(item("mnscroll")->isChecked());
  EXPECT_EQ(v->get_ZoomMode(), 2);
  EXPECT_EQ(v->get_PictureWidth(), 50);  // turned by 90°
}

TEST_F(ViewerQtTest, PropertiesRoundTripThroughAnIniFile) {
  QTemporaryDir dir;
  QSettings settings(dir.filePath("viewer.ini"), QSettings::IniFormat);
  qt::SettingsPropertyBag bag(settings, "viewer1");
  v->put_ZoomStep(25);
  v->put_Zoom(1.5);
  ASSERT_EQ(v->WriteProperties(bag), ViewerStatus::Ok);
  settings.sync();
  QSettings reread(dir.filePath("viewer.ini"), QSettings::IniFormat);
  EXPECT_EQ(reread.allKeys(),
            QStringList({"viewer1/Zoom", "viewer1/ZoomMode", "viewer1/ZoomStep"}));
  qt::ViewerWidget other;
  qt::SettingsPropertyBag from(reread, "viewer1");
  ASSERT_EQ(other.viewer().ReadProperties(from), ViewerStatus::Ok);
  EXPECT_EQ(other.viewer().get_ZoomStep(), 25);
  EXPECT_DOUBLE_EQ(other.viewer().get_Zoom(), 1.5);
  EXPECT_EQ(other.viewer().get_ZoomMode(), 4);
  // A word for a number is damage: every default comes back.
  reread.setValue("viewer1/ZoomStep", "thirty");
  EXPECT_EQ(other.viewer().ReadProperties(from), ViewerStatus::InvalidParameter);
  EXPECT_EQ(other.viewer().get_ZoomStep(), 10);
  EXPECT_EQ(other.viewer().get_ZoomMode(), 1);
}

TEST_F(ViewerQtTest, TimersFireOnceUnlessStopped) {
  int fired = 0, stopped = 0;
  viewer::ViewerHost& host = v->host();
  host.StartTimer(5, [&] { ++fired; });
  const int32_t id = host.StartTimer(5, [&] { ++stopped; });
  EXPECT_GT(id, 0);
  host.StopTimer(id);
  QTest::qWait(60);
  EXPECT_EQ(fired, 1);
  EXPECT_EQ(stopped, 0);
}

TEST(RasterOp, TruthTablesOfTheSixteenCodes) {
  // Pen 1100, screen 1010 in every nibble: each code gives its own table back.
  const struct {
    int32_t code;
    uint32_t out;
  } kOps[] = {{1, 0x000000}, {2, 0x111111},  {4, 0x333333},  {6, 0x555555},  {7, 0x666666},
              {9, 0x888888}, {10, 0x999999}, {11, 0xAAAAAA}, {13, 0xCCCCCC}, {16, 0xFFFFFF}};
  for (const auto& op : kOps)
    EXPECT_EQ(qt::ApplyRasterOp(op.code, 0xCCCCCC, 0xAAAAAA), op.out) << op.code;
  EXPECT_TRUE(qt::BorderPixelOn(3, 1, 2));
  EXPECT_FALSE(qt::BorderPixelOn(3, 1, 3));
  EXPECT_TRUE(qt::BorderPixelOn(3, 2, 3));  // wide borders are solid
}

TEST_F(ViewerQtTest, SelectionBorderIsDrawnWithItsRasterOperation) {
  ASSERT_EQ(v->DisplayFromImageRef(make_image(100, 100, 0xFFFF0000)), ViewerStatus::Ok);
  v->put_MouseMode(1);
  v->put_RectDrawMode(6);  // invert the screen under the border
  QTest::mousePress(w.get(), Qt::LeftButton, Qt::NoModifier, QPoint(160, 110));
  EXPECT_EQ(w->cursor().shape(), Qt::CrossCursor);
  QTest::mouseMove(w.get(), QPoint(200, 150));
  QTest::mouseRelease(w.get(), Qt::LeftButton, Qt::NoModifier, QPoint(200, 150));
  ASSERT_TRUE(v->isRectDrawed());
  EXPECT_EQ(pixel(160, 110), 0x00FFFFu);  // red inverted
  EXPECT_EQ(pixel(180, 130), 0xFF0000u);  // inside untouched
  v->put_RectDrawMode(13);
  v->put_RectBorderColor(0xFF0000);  // blue (COLORREF)
  EXPECT_EQ(pixel(160, 110), 0x0000FFu);
}

TEST_F(ViewerQtTest, ClipboardIsBridgedToTheDesktop) {
  ASSERT_EQ(v->DisplayFromImageRef(make_image(40, 30, 0xFF00FF00)), ViewerStatus::Ok);
  item("mnclipboard")->trigger();
  const QImage copied = QGuiApplication::clipboard()->image();
  ASSERT_EQ(copied.size(), QSize(40, 30));
  EXPECT_EQ(copied.pixel(5, 5) & 0xFFFFFF, 0x00FF00u);

  QImage blue(24, 12, QImage::Format_RGB32);
  blue.fill(QColor(0, 0, 255));
  QGuiApplication::clipboard()->setImage(blue);
  ASSERT_TRUE(w->adoptClipboard());
  ASSERT_EQ(v->DisplayFromClipboardData(), ViewerStatus::Ok);
  EXPECT_EQ(v->get_PictureWidth(), 24);
  EXPECT_EQ(v->get_PictureHeight(), 12);
}

TEST_F(ViewerQtTest, MessageBoxesAreShownWithoutBlocking) {
  v->host().MessageBox("Can not display image error no: 1", viewer::kMessageCritical);
  auto* box = w->findChild<QMessageBox*>();
  ASSERT_NE(box, nullptr);
  EXPECT_EQ(box->icon(), QMessageBox::Critical);
  EXPECT_EQ(box->text(), QStringLiteral("Can not display image error no: 1"));
  EXPECT_TRUE(box->isVisible());
}

class PdfPasswordTest : public ViewerQtTest {
 protected:
  void SetUp() override {
    ViewerQtTest::SetUp();
    dir = std::filesystem::path(::testing::TempDir()) / ("kx_pdfpw_" + std::to_string(::getpid()));
    std::filesystem::create_directories(dir);
    // Three pages, encrypted with the user password "user" (AES-256).
    const std::string plain = (dir / "plain.pdf").string();
    cKorvex k;
    ASSERT_TRUE(k.PdfNewPdf(plain));
    for (int i = 1; i <= 3; ++i) k.PdfNewPage(), k.PdfEndPage();
    k.PdfSavePdf();
    locked = (dir / "locked.pdf").string();
    const std::string qpdf = "qpdf --encrypt user owner 256 -- '" + plain + "' '" + locked + "'";
    ASSERT_EQ(std::system(qpdf.c_str()), 0);
  }
  void TearDown() override { std::filesystem::remove_all(dir); }

  // Opens the locked document, answering each password dialog with the next
  // answer (nullopt: Cancel); returns the status and the dialogs' texts.
  ViewerStatus open(std::vector<std::optional<QString>> answers, std::vector<QString>& prompts) {
    QTimer typist;
    QObject::connect(&typist, &QTimer::timeout, [&]() {
      auto* d = qobject_cast<QInputDialog*>(QApplication::activeModalWidget());
      if (d == nullptr || d->objectName() != "korvexPdfPassword" || answers.empty()) return;
      prompts.push_back(d->labelText());
      EXPECT_EQ(d->textEchoMode(), QLineEdit::Password);
      const std::optional<QString> a = answers.front();
      answers.erase(answers.begin());
      if (a) d->setTextValue(*a);
      a ? d->accept() : d->reject();
    });
    typist.start(10);
    return qt::DisplayPdfAskingPassword(*w, locked);
  }

  std::filesystem::path dir;
  std::string locked;
};

TEST_F(PdfPasswordTest, DialogRetriesAWrongPasswordAndCancelGivesUp) {
  std::vector<QString> prompts;
  EXPECT_EQ(open({QString("wrong"), QString("user")}, prompts), ViewerStatus::Ok);
  ASSERT_EQ(prompts.size(), 2u);
  EXPECT_TRUE(prompts[0].startsWith("locked.pdf is protected by a password."));
  EXPECT_TRUE(prompts[1].startsWith("The password supplied is incorrect."));
  EXPECT_EQ(v->get_NumPages(), 3);
  EXPECT_EQ(v->DisplayNextFrame(), ViewerStatus::Ok);
  EXPECT_EQ(v->get_Currentpage(), 2);
  EXPECT_FALSE(v->get_SilentMode());  // restored

  prompts.clear();
  EXPECT_EQ(open({QString("wrong"), std::nullopt}, prompts), ViewerStatus::PdfBadPassword);
  EXPECT_EQ(prompts.size(), 2u);
  EXPECT_EQ(v->GetNativeImage(), 0);
  EXPECT_EQ(open({std::nullopt}, prompts), ViewerStatus::PdfNeedPassword);
}

TEST_F(PdfPasswordTest, RemovedChildrenLeaveTheWidget) {
  w->resize(200, 150);
  ASSERT_NE(w->popupMenu()->findChild<QAction*>("mnzoom100"), nullptr);
  EXPECT_EQ(v->RemoveObject("VScroll"), ViewerStatus::Ok);
  EXPECT_EQ(v->RemoveObject("mnzoom"), ViewerStatus::Ok);
  EXPECT_EQ(v->RemoveObject("mnzoomfit"), ViewerStatus::WrongState);
  QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
  EXPECT_EQ(w->verticalBar(), nullptr);
  EXPECT_EQ(w->popupMenu()->findChild<QAction*>("mnzoom100"), nullptr);
  EXPECT_NE(w->popupMenu()->findChild<QAction*>("mnscroll"), nullptr);
  // Layout and the zoom items' checks still run, touching nothing removed.
  EXPECT_EQ(v->DisplayFromPdfFile((dir / "plain.pdf").string()), ViewerStatus::Ok);
  EXPECT_EQ(v->SetZoom(400), ViewerStatus::Ok);
  EXPECT_TRUE(w->horizontalBar()->isVisible());
  EXPECT_EQ(v->RemoveObject("menu"), ViewerStatus::Ok);
  QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
  EXPECT_EQ(w->popupMenu(), nullptr);
}

}  // namespace
}  // namespace korvex
