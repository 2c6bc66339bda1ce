// Fields of one cKorvex engine, and the access the member families and the
// tests have to them.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "korvex/engine.h"
#include "raster/types.h"

namespace korvex {

namespace pdf {
class cPDF;
}
namespace recognition {
class cRAD;
}
namespace print {
class cPrinter;
}

// Remembered size, resolution and format of an image being rebuilt.
struct SavedImageInfoFields {
  uint32_t width = 0;
  uint32_t height = 0;
  int32_t vertical_resolution = 0;
  int32_t horizontal_resolution = 0;
  int32_t pixel_format = 0;
};

// The document of the Pdf... members, and the separate document of the
// one-call conversions (SaveAsPdf, PdfSaveNativeMultiTIFFtoPDF), so that a
// conversion never disturbs an open document.
struct PdfFields {
  std::shared_ptr<pdf::cPDF> PdfDoc;
  int32_t PdfOpen = 0;       // the document's handle while it is open
  int32_t PdfUnits = 0;      // 0 points, 1 millimetres, 2 centimetres, 3 inches
  int32_t PdfTextColor = 0;  // fill colour of the text members
  int32_t PdfFillCache = 0;  // last fill and stroke colours written to the page
  int32_t PdfStrokeCache = 0;
  std::shared_ptr<pdf::cPDF> Conversion;
};

// Rectangle the pixel effects apply to: mode 1 = whole picture, 2 = set zone.
struct FilterZoneFields {
  int32_t mode = 1;
  int32_t left = 0;
  int32_t top = 0;
  int32_t width = 0;
  int32_t height = 0;
};

struct cKorvex::State {
  std::vector<raster::PropertyItem> SavedTags;
  int32_t NativeImage = 0;
  int32_t MultiPageTarget = 0;
  SavedImageInfoFields SavedImageInfo;
  bool PreserveTags = true;
  int32_t SavedTagCount = 0;
  cKorvexStatus LastStatus = cKorvexStatus::Ok;
  int32_t FontUnit = 3;  // UnitPoint
  PdfFields Pdf;
  FilterZoneFields FilterZone;
  std::vector<uint32_t> Matrices3x3;  // 9 ARGB values per pattern matrix, in creation order
  bool NativeOwned = false;
  std::shared_ptr<recognition::cRAD> Rad;  // made by the first RAD... call
  std::shared_ptr<print::cPrinter> Printer;  // created by the first Print... member
  // HTTP download: set while CreateImageFromURL runs; the client's limits;
  // expires with the engine (host events run during a download may end it).
  bool UrlBusy = false;
  std::shared_ptr<int> UrlLife = std::make_shared<int>(0);
  int32_t UrlMaxLength = 0;  // 0: the process's download limit
  int32_t UrlTimeout = 30;
};

// Access to an engine's fields for the member families and for tests.
struct EngineAccess {
  static cKorvex::State& state(cKorvex& k) { return *k.s_; }
};

}  // namespace korvex
