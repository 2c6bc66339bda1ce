// A PDF document in a ViewerWidget, with a password dialog for encrypted ones.
#include "korvex/qt/pdf_password.h"

#include <QFileInfo>
#include <QInputDialog>
#include <QLineEdit>

namespace korvex::qt {

ViewerStatus DisplayPdfAskingPassword(ViewerWidget& widget, const std::string& path) {
  kxViewer& v = widget.viewer();
  const bool silent = v.get_SilentMode();
  v.put_SilentMode(true);
  // The empty password first: a document locked only for its owner opens with it.
  ViewerStatus s = v.DisplayFromPdfFile(path, "");
  const QString name = QFileInfo(QString::fromStdString(path)).fileName();
  while (s == ViewerStatus::PdfNeedPassword || s == ViewerStatus::PdfBadPassword) {
    QInputDialog dialog(&widget);
    dialog.setObjectName(QStringLiteral("korvexPdfPassword"));
    dialog.setWindowTitle(name);
    dialog.setInputMode(QInputDialog::TextInput);
    dialog.setTextEchoMode(QLineEdit::Password);
    dialog.setLabelText(s == ViewerStatus::PdfBadPassword
                            ? QStringLiteral("The password supplied is incorrect. Password:")
                            : QStringLiteral("%1 is protected by a password. Password:").arg(name));
    if (dialog.exec() != QDialog::Accepted) break;
    s = v.DisplayFromPdfFile(path, dialog.textValue().toStdString());
  }
  v.put_SilentMode(silent);
  return s;
}

}  // namespace korvex::qt
