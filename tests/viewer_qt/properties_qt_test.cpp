// The Qt widget's persisted properties in a QSettings ini file, and its popup
// menu: the viewer's captions, a renamed item, and items chosen with keys.
#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QFile>
#include <QMenu>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>
#include <memory>

#include "korvex/qt/settings_bag.h"
#include "korvex/qt/viewer_widget.h"
#include "raster/handles.h"
#include "raster/image.h"
#include "viewer/menu.h"

namespace korvex {
namespace {

class PropertiesQtTest : public ::testing::Test {
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
  std::unique_ptr<qt::ViewerWidget> shown_widget() {
    auto w = std::make_unique<qt::ViewerWidget>();
    w->resize(300, 200);
    w->show();
    EXPECT_TRUE(QTest::qWaitForWindowExposed(w.get()));
    return w;
  }
  QString ini() const { return dir.filePath("viewer.ini"); }

  static inline QApplication* app_ = nullptr;
  QTemporaryDir dir;
};

TEST_F(PropertiesQtTest, PropertiesRoundTripThroughAnIniFile) {
  ASSERT_TRUE(dir.isValid());
  auto w = shown_widget();
  kxViewer& v = w->viewer();
  {
    QSettings settings(ini(), QSettings::IniFormat);
    qt::SettingsPropertyBag bag(settings, "viewer1");
    v.put_ZoomStep(25);
    v.put_EnableMenu(false);
    v.put_Zoom(1.5);
    ASSERT_EQ(v.WriteProperties(bag), ViewerStatus::Ok);
    settings.sync();
    settings.beginGroup("viewer1");
    EXPECT_EQ(settings.childKeys(),
              QStringList({"EnableMenu", "Zoom", "ZoomMode", "ZoomStep"}));
  }
  auto other = shown_widget();
  {
    QSettings settings(ini(), QSettings::IniFormat);
    qt::SettingsPropertyBag bag(settings, "viewer1");
    ASSERT_EQ(other->viewer().ReadProperties(bag), ViewerStatus::Ok);
  }
  EXPECT_EQ(other->viewer().get_ZoomStep(), 25);
  EXPECT_FALSE(other->viewer().get_EnableMenu());
  EXPECT_DOUBLE_EQ(other->viewer().get_Zoom(), 1.5);
  EXPECT_EQ(other->viewer().get_ZoomMode(), 4);

  // Back to the defaults: the group is emptied.
  v.put_ZoomStep(10);
  v.put_EnableMenu(true);
  v.put_Zoom(1.0);  // custom mode
  v.put_ZoomMode(1);
  {
    QSettings settings(ini(), QSettings::IniFormat);
    qt::SettingsPropertyBag bag(settings, "viewer1");
    ASSERT_EQ(v.WriteProperties(bag), ViewerStatus::Ok);
    settings.beginGroup("viewer1");
    EXPECT_TRUE(settings.childKeys().isEmpty()) << settings.childKeys().join(",").toStdString();
  }

  // A hand-edited file: "true" is a Boolean, a word in a number is damage.
  QFile f(ini());
  ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
  f.write("[viewer1]\nScrollBars=false\nZoomStep=30\n");
  f.close();
  {
    QSettings settings(ini(), QSettings::IniFormat);
    qt::SettingsPropertyBag bag(settings, "viewer1");
    ASSERT_EQ(other->viewer().ReadProperties(bag), ViewerStatus::Ok);
    EXPECT_FALSE(other->viewer().get_ScrollBars());
    EXPECT_EQ(other->viewer().get_ZoomStep(), 30);
  }
  ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
  f.write("[viewer1]\nScrollBars=0\nZoomStep=thirty\n");
  f.close();
  {
    QSettings settings(ini(), QSettings::IniFormat);
    qt::SettingsPropertyBag bag(settings, "viewer1");
    EXPECT_EQ(other->viewer().ReadProperties(bag), ViewerStatus::InvalidParameter);
    EXPECT_TRUE(other->viewer().get_ScrollBars());
    EXPECT_EQ(other->viewer().get_ZoomStep(), 10);
  }
}

TEST_F(PropertiesQtTest, MenuShowsTheViewersCaptionsAndKeysChooseItems) {
  auto w = shown_widget();
  kxViewer& v = w->viewer();
  QMenu* menu = w->popupMenu();
  for (const viewer::MenuItem& m : viewer::MenuItems()) {
    const QAction* a = menu->findChild<QAction*>(m.name);
    ASSERT_NE(a, nullptr) << m.name;
    EXPECT_EQ(a->text().toStdString(), m.caption);
  }
  EXPECT_EQ(menu->findChild<QAction*>("mn90")->text(), QString::fromUtf8("90\u00B0"));
  v.SetItemMenuCaption(21, "Taille r\u00E9elle");
  v.SetItemMenuCaption(32, "nothing");
  EXPECT_EQ(menu->findChild<QAction*>("mnzoom100")->text(), QString::fromUtf8("Taille r\u00E9elle"));
  EXPECT_EQ(menu->findChild<QAction*>("mnautozoom")->text(), QString("Auto Zoom"));

  std::unique_ptr<raster::Image> img;
  ASSERT_EQ(raster::Image::create(80, 50, raster::pf::k32bppARGB, img), raster::Status::Ok);
  ASSERT_EQ(v.DisplayFromImageRef(raster::register_image(std::move(img))), ViewerStatus::Ok);
  // Top items: Frames, Rotation, ScrollBars, Copy to Clipboard, Zoom, Mouse Mode.
  const struct {
    std::vector<Qt::Key> keys;
    bool scroll_bars;
    int32_t zoom_mode;
    int32_t picture_width;
  } kChoices[] = {
      {{Qt::Key_Down, Qt::Key_Down, Qt::Key_Down, Qt::Key_Return}, false, 1, 80},
      {{Qt::Key_Down, Qt::Key_Down, Qt::Key_Down, Qt::Key_Return}, true, 1, 80},
      // Zoom > Zoom in, Zoom out, Zoom 100%, Zoom fit.
      {{Qt::Key_Up, Qt::Key_Up, Qt::Key_Right, Qt::Key_Down, Qt::Key_Down, Qt::Key_Down,
        Qt::Key_Return},
       true, 2, 80},
      // Rotation > 90°.
      {{Qt::Key_Down, Qt::Key_Down, Qt::Key_Right, Qt::Key_Return}, true, 2, 50},
  };
  for (const auto& c : kChoices) {
    menu->popup(w->mapToGlobal(QPoint(10, 10)));
    ASSERT_TRUE(QTest::qWaitForWindowExposed(menu));
    for (Qt::Key k : c.keys) {
      QWidget* target = QApplication::activePopupWidget();
      ASSERT_NE(target, nullptr);
      QTest::keyClick(target, k);
    }
    QTest::qWait(10);
    EXPECT_EQ(v.get_ScrollBars(), c.scroll_bars);
    EXPECT_EQ(menu->findChild<QAction*>("mnscroll")->isChecked(), c.scroll_bars);
    EXPECT_EQ(v.get_ZoomMode(), c.zoom_mode);
    EXPECT_EQ(v.get_PictureWidth(), c.picture_width);
    if (QApplication::activePopupWidget() != nullptr) menu->close();
  }
}

}  // namespace
}  // namespace korvex
