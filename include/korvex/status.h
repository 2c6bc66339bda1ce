// Status values of the imaging engine. 0..21 are the raster layer's codes
// passed through unchanged; the others are the engine's own.
#pragma once

#include <cstdint>

namespace korvex {

// The raster layer's codes 0..20, passed through unchanged by both the
// engine's and the viewer's status enumerations (korvex/viewer.h), which take
// them from here: X(name, value) for each.
#define KORVEX_RASTER_STATUS_CODES(X) \
  X(Ok, 0)                            \
  X(GenericError, 1)                  \
  X(InvalidParameter, 2)              \
  X(OutOfMemory, 3)                   \
  X(ObjectBusy, 4)                    \
  X(InsufficientBuffer, 5)            \
  X(NotImplemented, 6)                \
  X(Win32Error, 7)                    \
  X(WrongState, 8)                    \
  X(Aborted, 9)                       \
  X(FileNotFound, 10)                 \
  X(ValueOverflow, 11)                \
  X(AccessDenied, 12)                 \
  X(UnknownImageFormat, 13)           \
  X(FontFamilyNotFound, 14)           \
  X(FontStyleNotFound, 15)            \
  X(NotTrueTypeFont, 16)              \
  X(UnsupportedGdiplusVersion, 17)    \
  X(GdiplusNotInitialized, 18)        \
  X(PropertyNotFound, 19)             \
  X(PropertyNotSupported, 20)
// One enumerator "name = value," of the list above.
#define KORVEX_STATUS_ENUMERATOR(name, value) name = value,

enum class cKorvexStatus : int32_t {
  KORVEX_RASTER_STATUS_CODES(KORVEX_STATUS_ENUMERATOR)  // 0 Ok .. 20 PropertyNotSupported
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
