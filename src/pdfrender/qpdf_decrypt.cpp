// libqpdf decryption (see qpdf_decrypt.h).
#define POINTERHOLDER_TRANSITION 4
#include "pdfrender/qpdf_decrypt.h"

#include <qpdf/QPDF.hh>
#include <qpdf/QPDFExc.hh>
#include <qpdf/QPDFWriter.hh>

#include <exception>
#include <filesystem>
#include <system_error>

namespace korvex::pdfrender {

int32_t DecryptWithQpdf(const std::string& in, const std::string& out,
                        const std::string& password) {
  std::error_code ec;
  bool wrote = false;
  try {
    QPDF pdf;
    pdf.setSuppressWarnings(true);
    pdf.processFile(in.c_str(), password.c_str());
    if (!pdf.isEncrypted()) return 405;
    wrote = true;  // from here a failure may leave part of the output behind
    QPDFWriter writer(pdf, out.c_str());
    writer.setPreserveEncryption(false);
    writer.write();
    return 0;
  } catch (const QPDFExc& e) {
    if (wrote) std::filesystem::remove(out, ec);
    switch (e.getErrorCode()) {
      case qpdf_e_password:
        return 404;
      case qpdf_e_system:
        return wrote ? 403 : 401;
      default:
        return 409;
    }
  } catch (const std::exception&) {
    // QPDFWriter reports an output it cannot create as a system error.
    if (wrote) std::filesystem::remove(out, ec);
    return wrote ? 403 : 409;
  }
}

}  // namespace korvex::pdfrender
