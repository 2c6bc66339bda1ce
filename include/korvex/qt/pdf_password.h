// Opening a PDF document in a ViewerWidget, asking the user for its password.
//
// Link Korvex::korvex_qt.
#pragma once

#include <string>

#include "korvex/qt/viewer_widget.h"
#include "korvex/viewer.h"

namespace korvex::qt {

// Shows page 1 of the PDF document at `path` in the widget's viewer. A
// document that needs a password asks for it in a modal dialog (object name
// "korvexPdfPassword", text hidden as typed), and again after a wrong one,
// until the document opens or the user cancels. Returns the viewer's status:
// Ok, PdfNeedPassword or PdfBadPassword after a cancel, or the failure of the
// open. The viewer's message boxes are left out while it runs: the dialog and
// the status say what went wrong.
ViewerStatus DisplayPdfAskingPassword(ViewerWidget& widget, const std::string& path);

}  // namespace korvex::qt
