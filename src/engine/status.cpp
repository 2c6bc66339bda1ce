#include "korvex/status.h"

namespace korvex {

const char* StatusName(cKorvexStatus s) {
  switch (s) {
    case cKorvexStatus::Ok:
      return "Ok";
    case cKorvexStatus::GenericError:
      return "GenericError";
    case cKorvexStatus::InvalidParameter:
      return "InvalidParameter";
    case cKorvexStatus::OutOfMemory:
      return "OutOfMemory";
    case cKorvexStatus::ObjectBusy:
      return "ObjectBusy";
    case cKorvexStatus::InsufficientBuffer:
      return "InsufficientBuffer";
    case cKorvexStatus::NotImplemented:
      return "NotImplemented";
    case cKorvexStatus::Win32Error:
      return "Win32Error";
    case cKorvexStatus::WrongState:
      return "WrongState";
    case cKorvexStatus::Aborted:
      return "Aborted";
    case cKorvexStatus::FileNotFound:
      return "FileNotFound";
    case cKorvexStatus::ValueOverflow:
      return "ValueOverflow";
    case cKorvexStatus::AccessDenied:
      return "AccessDenied";
    case cKorvexStatus::UnknownImageFormat:
      return "UnknownImageFormat";
    case cKorvexStatus::FontFamilyNotFound:
      return "FontFamilyNotFound";
    case cKorvexStatus::FontStyleNotFound:
      return "FontStyleNotFound";
    case cKorvexStatus::NotTrueTypeFont:
      return "NotTrueTypeFont";
    case cKorvexStatus::UnsupportedGdiplusVersion:
      return "UnsupportedGdiplusVersion";
    case cKorvexStatus::GdiplusNotInitialized:
      return "GdiplusNotInitialized";
    case cKorvexStatus::PropertyNotFound:
      return "PropertyNotFound";
    case cKorvexStatus::PropertyNotSupported:
      return "PropertyNotSupported";
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
