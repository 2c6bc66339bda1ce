#include "korvex/status.h"

namespace korvex {

const char* StatusName(cKorvexStatus s) {
  switch (s) {
#define KORVEX_STATUS_NAME(name, value) \
  case cKorvexStatus::name:             \
    return #name;
    KORVEX_RASTER_STATUS_CODES(KORVEX_STATUS_NAME)
#undef KORVEX_STATUS_NAME
    case cKorvexStatus::ProfileNotFound:
      return "ProfileNotFound";
    case cKorvexStatus::TwainError:
      return "TwainError";
    case cKorvexStatus::WrongKxTwainVersion:
      return "WrongKxTwainVersion";
    case cKorvexStatus::BadTwainState:
      return "BadTwainState";
    case cKorvexStatus::WrongGdiplusVersion:
      return "WrongGdiplusVersion";
    case cKorvexStatus::InvalidBarCode:
      return "InvalidBarCode";
    case cKorvexStatus::PixelFormatMustBeConverted:
      return "PixelFormatMustBeConverted";
  }
  return "";
}

}  // namespace korvex
