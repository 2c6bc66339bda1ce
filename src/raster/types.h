// Basic value types of the raster layer: statuses, pixel formats, GUIDs,
// rectangles, palettes and property items. Numeric values are those that
// hosts of the imaging engine see (pixel-format codes, status numbers,
// property types), so they can be passed through unchanged.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

namespace korvex::raster {

// Status of a raster operation. 0..21 are the classic imaging-API codes;
// 60 is the refusal of an indexed surface or write under an old raster version.
enum class Status : int32_t {
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
  PixelFormatMustBeConverted = 60,
};

// Pixel format codes: bits 0-7 index, 8-15 bits per pixel, 16+ flags.
using PixelFormat = int32_t;
namespace pf {
inline constexpr PixelFormat kIndexedFlag = 0x00010000;
inline constexpr PixelFormat kGdiFlag = 0x00020000;
inline constexpr PixelFormat kAlphaFlag = 0x00040000;
inline constexpr PixelFormat kPAlphaFlag = 0x00080000;
inline constexpr PixelFormat kExtendedFlag = 0x00100000;
inline constexpr PixelFormat kCanonicalFlag = 0x00200000;

inline constexpr PixelFormat kUndefined = 0;
inline constexpr PixelFormat k1bppIndexed = 0x00030101;
inline constexpr PixelFormat k4bppIndexed = 0x00030402;
inline constexpr PixelFormat k8bppIndexed = 0x00030803;
inline constexpr PixelFormat k16bppGrayScale = 0x00101004;
inline constexpr PixelFormat k16bppRGB555 = 0x00021005;
inline constexpr PixelFormat k16bppRGB565 = 0x00021006;
inline constexpr PixelFormat k16bppARGB1555 = 0x00061007;
inline constexpr PixelFormat k24bppRGB = 0x00021808;
inline constexpr PixelFormat k32bppRGB = 0x00022009;
inline constexpr PixelFormat k32bppARGB = 0x0026200A;
inline constexpr PixelFormat k32bppPARGB = 0x000E200B;
inline constexpr PixelFormat k48bppRGB = 0x0010300C;
inline constexpr PixelFormat k64bppARGB = 0x0034400D;
inline constexpr PixelFormat k64bppPARGB = 0x001C400E;

// The fourteen formats that are stored natively, in ascending depth.
inline constexpr std::array<PixelFormat, 14> kAll = {
    k1bppIndexed, k4bppIndexed,   k8bppIndexed, k16bppGrayScale, k16bppRGB555,
    k16bppRGB565, k16bppARGB1555, k24bppRGB,    k32bppRGB,       k32bppARGB,
    k32bppPARGB,  k48bppRGB,      k64bppARGB,   k64bppPARGB};
}  // namespace pf

inline constexpr int bits_per_pixel(PixelFormat f) {
  return (f >> 8) & 0xFF;
}
inline constexpr bool is_indexed(PixelFormat f) {
  return (f & pf::kIndexedFlag) != 0;
}
inline constexpr bool has_alpha(PixelFormat f) {
  return (f & pf::kAlphaFlag) != 0;
}
inline constexpr bool is_premultiplied(PixelFormat f) {
  return (f & pf::kPAlphaFlag) != 0;
}
// True for the fourteen formats the raster layer stores.
bool is_supported_format(PixelFormat f);
// Name such as "24bppRGB", or "Undefined".
const char* pixel_format_name(PixelFormat f);

// A GUID with the usual four fields; text form "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}".
struct Guid {
  uint32_t data1 = 0;
  uint16_t data2 = 0;
  uint16_t data3 = 0;
  std::array<uint8_t, 8> data4{};

  friend bool operator==(const Guid&, const Guid&) = default;
  std::string to_string() const;  // upper case, with braces
  static bool parse(const std::string& text, Guid& out);
};

namespace guids {
// Raw (file) formats.
inline constexpr Guid kFormatUndefined{
    0xB96B3CA9, 0x0728, 0x11D3, {0x9D, 0x7B, 0x00, 0x00, 0xF8, 0x1E, 0xF3, 0x2E}};
inline constexpr Guid kFormatMemoryBmp{
    0xB96B3CAA, 0x0728, 0x11D3, {0x9D, 0x7B, 0x00, 0x00, 0xF8, 0x1E, 0xF3, 0x2E}};
inline constexpr Guid kFormatBmp{
    0xB96B3CAB, 0x0728, 0x11D3, {0x9D, 0x7B, 0x00, 0x00, 0xF8, 0x1E, 0xF3, 0x2E}};
inline constexpr Guid kFormatEmf{
    0xB96B3CAC, 0x0728, 0x11D3, {0x9D, 0x7B, 0x00, 0x00, 0xF8, 0x1E, 0xF3, 0x2E}};
inline constexpr Guid kFormatWmf{
    0xB96B3CAD, 0x0728, 0x11D3, {0x9D, 0x7B, 0x00, 0x00, 0xF8, 0x1E, 0xF3, 0x2E}};
inline constexpr Guid kFormatJpeg{
    0xB96B3CAE, 0x0728, 0x11D3, {0x9D, 0x7B, 0x00, 0x00, 0xF8, 0x1E, 0xF3, 0x2E}};
inline constexpr Guid kFormatPng{
    0xB96B3CAF, 0x0728, 0x11D3, {0x9D, 0x7B, 0x00, 0x00, 0xF8, 0x1E, 0xF3, 0x2E}};
inline constexpr Guid kFormatGif{
    0xB96B3CB0, 0x0728, 0x11D3, {0x9D, 0x7B, 0x00, 0x00, 0xF8, 0x1E, 0xF3, 0x2E}};
inline constexpr Guid kFormatTiff{
    0xB96B3CB1, 0x0728, 0x11D3, {0x9D, 0x7B, 0x00, 0x00, 0xF8, 0x1E, 0xF3, 0x2E}};
inline constexpr Guid kFormatExif{
    0xB96B3CB2, 0x0728, 0x11D3, {0x9D, 0x7B, 0x00, 0x00, 0xF8, 0x1E, 0xF3, 0x2E}};
inline constexpr Guid kFormatIcon{
    0xB96B3CB5, 0x0728, 0x11D3, {0x9D, 0x7B, 0x00, 0x00, 0xF8, 0x1E, 0xF3, 0x2E}};
// Frame dimensions.
inline constexpr Guid kFrameDimensionTime{
    0x6AEDBD6D, 0x3FB5, 0x418A, {0x83, 0xA6, 0x7F, 0x45, 0x22, 0x9D, 0xC8, 0x72}};
inline constexpr Guid kFrameDimensionPage{
    0x7462DC86, 0x6180, 0x4C7E, {0x8E, 0x3F, 0xEE, 0x73, 0x33, 0xA7, 0xA4, 0x83}};
}  // namespace guids

struct Rect {
  int32_t x = 0;
  int32_t y = 0;
  int32_t width = 0;
  int32_t height = 0;
};

// A colour palette: flags (1 has alpha, 2 grayscale, 4 halftone) and ARGB entries.
struct Palette {
  enum : uint32_t { kHasAlpha = 1, kGrayScale = 2, kHalftone = 4 };
  uint32_t flags = 0;
  std::vector<uint32_t> entries;  // at most 256

  friend bool operator==(const Palette&, const Palette&) = default;
};

// Default palettes of new indexed bitmaps.
//  1 bit: black, white (grayscale flag).
//  4 bit: the sixteen standard colours (black, the eight dark colours and
//         light gray, then the bright ones; halftone flag).
//  8 bit: the same sixteen colours at 0..15, the 6 x 6 x 6 colour cube with
//         levels 0, 51, ..., 255 at 16 + 36 r + 6 g + b, and 24 grays
//         8, 18, ..., 238 at 232..255 (halftone flag).
Palette default_palette(PixelFormat f);

// Property value types.
namespace ptype {
inline constexpr uint16_t kByte = 1;
inline constexpr uint16_t kAscii = 2;
inline constexpr uint16_t kShort = 3;
inline constexpr uint16_t kLong = 4;
inline constexpr uint16_t kRational = 5;
inline constexpr uint16_t kUndefined = 7;
inline constexpr uint16_t kSLong = 9;
inline constexpr uint16_t kSRational = 10;
}  // namespace ptype

// A metadata item: id, type and raw little-endian bytes (length = value.size()).
struct PropertyItem {
  uint32_t id = 0;
  uint16_t type = 0;
  std::vector<uint8_t> value;
  // The directory of a TIFF-structured block the item was read from, where
  // its id alone does not tell: the interoperability directory's ids (1
  // "R98", 2 "0100") are those of GPS tags, and writing them back among the
  // GPS tags would turn them into a latitude.
  uint8_t directory = kDirectoryById;
  static constexpr uint8_t kDirectoryById = 0;
  static constexpr uint8_t kDirectoryInterop = 1;

  uint32_t length() const { return static_cast<uint32_t>(value.size()); }
  friend bool operator==(const PropertyItem&, const PropertyItem&) = default;
};

// Rotation and flip types, with the classic values (the aliases such as
// RotateNoneFlipY = Rotate180FlipX are the same numbers).
enum class RotateFlip : int32_t {
  RotateNoneFlipNone = 0,
  Rotate90FlipNone = 1,
  Rotate180FlipNone = 2,
  Rotate270FlipNone = 3,
  RotateNoneFlipX = 4,
  Rotate90FlipX = 5,
  Rotate180FlipX = 6,
  Rotate270FlipX = 7,
};

// Lock modes; combine read/write with kUserInputBuffer to use a caller's buffer.
namespace lock {
inline constexpr uint32_t kRead = 1;
inline constexpr uint32_t kWrite = 2;
inline constexpr uint32_t kUserInputBuffer = 4;
}  // namespace lock

}  // namespace korvex::raster
