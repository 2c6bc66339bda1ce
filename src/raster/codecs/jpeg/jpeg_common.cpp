#include "raster/codecs/jpeg/jpeg_common.h"

namespace korvex::raster::jpeg {

namespace {

Status status_for(int code) {
  switch (code) {
    case JERR_OUT_OF_MEMORY:
    case JERR_NO_BACKING_STORE:  // the coefficient buffers exceed the memory cap
      return Status::OutOfMemory;
    case JERR_BAD_PRECISION:    // 12-bit samples
    case JERR_SOF_UNSUPPORTED:  // lossless and hierarchical processes
    case JERR_NOT_COMPILED:
    case JERR_ARITH_NOTIMPL:
    case JERR_IMAGE_TOO_BIG:  // wider or taller than the library handles
      return Status::NotImplemented;
    default:
      return Status::GenericError;
  }
}

void error_exit(j_common_ptr cinfo) {
  ErrorManager* err = reinterpret_cast<ErrorManager*>(cinfo->err);
  if (err->status == Status::Ok) err->status = status_for(cinfo->err->msg_code);
  std::longjmp(err->jump, 1);
}

// Warnings (level -1) are counted and otherwise ignored, except that for
// the decoder entropy data that stops before the picture is complete is a
// failure: libjpeg would pad the picture with gray and carry on. The end of
// the input alone is only noted: it also happens when just the final EOI
// marker is missing; the decoder tells the cases apart (see read_rows).
void emit_message(j_common_ptr cinfo, int level) {
  ErrorManager* err = reinterpret_cast<ErrorManager*>(cinfo->err);
  if (level >= 0) return;
  cinfo->err->num_warnings++;
  const int code = cinfo->err->msg_code;
  if (code == JWRN_JPEG_EOF) err->saw_eof = true;
  if (err->stop_on_truncation && code == JWRN_HIT_MARKER) fail(cinfo, Status::GenericError);
}

void output_message(j_common_ptr) {}

}  // namespace

void install_error_manager(j_common_ptr cinfo, ErrorManager& err, bool stop_on_truncation) {
  cinfo->err = jpeg_std_error(&err.pub);
  err.pub.error_exit = error_exit;
  err.pub.emit_message = emit_message;
  err.pub.output_message = output_message;
  err.status = Status::Ok;
  err.stop_on_truncation = stop_on_truncation;
  err.saw_eof = false;
}

void fail(j_common_ptr cinfo, Status status) {
  ErrorManager* err = reinterpret_cast<ErrorManager*>(cinfo->err);
  err->status = status;
  std::longjmp(err->jump, 1);
}

}  // namespace korvex::raster::jpeg
