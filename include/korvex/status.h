// Status values of the imaging engine. 0..21 are the raster layer's codes
// passed through unchanged; the others are the engine's own.
#pragma once

#include <cstdint>

namespace korvex {

enum class cKorvexStatus : int32_t {
  Ok = 0,
  GenericError = 1,
  InvalidParameter = 2,
  OutOfMemory = 3,
  ObjectBusy = 4,
  InsufficientBuffer = 5,
  NotImplemented = 6,
  Win32Error = 7,
  WrongState = 8,
  Aborted = 9,
  FileNotFound = 10,
  ValueOverflow = 11,
  AccessDenied = 12,
  UnknownImageFormat = 13,
  FontFamilyNotFound = 14,
  FontStyleNotFound = 15,
  NotTrueTypeFont = 16,
  UnsupportedGdiplusVersion = 17,
  GdiplusNotInitialized = 18,
  PropertyNotFound = 19,
  PropertyNotSupported = 20,
  ProfileNotFound = 21,
  TwainError = 30,
  WrongKxTwainVersion = 31,
  BadTwainState = 32,
  WrongGdiplusVersion = 40,
  InvalidBarCode = 50,
  PixelFormatMustBeConverted = 60,
};

// Name of a status value ("Ok", "InvalidParameter"...), or "" for a value
// outside the enumeration (such as 22 and 23 from memory loading).
const char* StatusName(cKorvexStatus s);

}  // namespace korvex
