// The Qt widget's PDF password dialog (answered from a timer) and child controls removed live.
#include <gtest/gtest.h>
#include <unistd.h>

#include <QAction>
#include <QApplication>
#include <QInputDialog>
#include <QMenu>
#include <QScrollBar>
#include <QTimer>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "korvex/engine.h"
#include "korvex/qt/pdf_password.h"
#include "korvex/qt/viewer_widget.h"

namespace korvex {
namespace {

namespace fs = std::filesystem;

class PdfPasswordTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    static int argc = 1;
    static char name[] = "test_viewer_qt";
    static char* argv[] = {name, nullptr};
    if (QApplication::instance() == nullptr) new QApplication(argc, argv);
  }
  void SetUp() override {
    dir = fs::path(::testing::TempDir()) / ("kx_pdfpw_" + std::to_string(::getpid()));
    fs::create_directories(dir);
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
  void TearDown() override { fs::remove_all(dir); }

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
    return qt::DisplayPdfAskingPassword(w, locked);
  }

  fs::path dir;
  std::string locked;
  qt::ViewerWidget w;
};

TEST_F(PdfPasswordTest, DialogRetriesAWrongPasswordAndCancelGivesUp) {
  std::vector<QString> prompts;
  EXPECT_EQ(open({QString("wrong"), QString("user")}, prompts), ViewerStatus::Ok);
  ASSERT_EQ(prompts.size(), 2u);
  EXPECT_TRUE(prompts[0].startsWith("locked.pdf is protected by a password."));
  EXPECT_TRUE(prompts[1].startsWith("The password supplied is incorrect."));
  EXPECT_EQ(w.viewer().get_NumPages(), 3);
  EXPECT_EQ(w.viewer().DisplayNextFrame(), ViewerStatus::Ok);
  EXPECT_EQ(w.viewer().get_Currentpage(), 2);
  EXPECT_FALSE(w.viewer().get_SilentMode());  // restored

  prompts.clear();
  EXPECT_EQ(open({QString("wrong"), std::nullopt}, prompts), ViewerStatus::PdfBadPassword);
  EXPECT_EQ(prompts.size(), 2u);
  EXPECT_EQ(w.viewer().GetNativeImage(), 0);
  EXPECT_EQ(open({std::nullopt}, prompts), ViewerStatus::PdfNeedPassword);
}

TEST_F(PdfPasswordTest, RemovedChildrenLeaveTheWidget) {
  w.resize(200, 150);
  w.show();
  kxViewer& v = w.viewer();
  ASSERT_NE(w.popupMenu()->findChild<QAction*>("mnzoom100"), nullptr);
  EXPECT_EQ(v.RemoveObject("VScroll"), ViewerStatus::Ok);
  EXPECT_EQ(v.RemoveObject("mnzoom"), ViewerStatus::Ok);
  EXPECT_EQ(v.RemoveObject("mnzoomfit"), ViewerStatus::WrongState);
  QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
  EXPECT_EQ(w.verticalBar(), nullptr);
  EXPECT_EQ(w.popupMenu()->findChild<QAction*>("mnzoom100"), nullptr);
  EXPECT_NE(w.popupMenu()->findChild<QAction*>("mnscroll"), nullptr);
  // Layout and the zoom items' checks still run, touching nothing removed.
  EXPECT_EQ(v.DisplayFromPdfFile((dir / "plain.pdf").string()), ViewerStatus::Ok);
  EXPECT_EQ(v.SetZoom(400), ViewerStatus::Ok);
  EXPECT_TRUE(w.horizontalBar()->isVisible());
  EXPECT_EQ(v.RemoveObject("menu"), ViewerStatus::Ok);
  QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
  EXPECT_EQ(w.popupMenu(), nullptr);
}

}  // namespace
}  // namespace korvex
