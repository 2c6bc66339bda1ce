// GIF encoding over giflib's sequential writer: one picture covering the
// logical screen, with a global colour map.
//
// Indexed images (1, 4 and 8 bits) keep their indices. The colour map is the
// palette, grown to cover the largest index used, rounded up to a power of two
// (at least 2 entries) and padded with black. The first palette entry with
// alpha 0 becomes the transparent index.
//
// Other images are mapped, without dithering, to the nearest colour of the
// 8-bit halftone palette (the sixteen standard colours, the 6 x 6 x 6 cube and
// 24 grays). When any pixel has alpha below 128, index 255 (the lightest gray
// of the ramp) is given up to transparency: those pixels take it, the others
// are matched against entries 0..254 only.
//
// A frame delay property (0x5100, LONG, the active frame's entry) is written
// as the picture's delay and a loop count property (0x5101, SHORT or LONG) as
// a NETSCAPE2.0 looping extension. Encoder parameters do not apply to GIF and
// are ignored. Pictures wider or taller than 65535 pixels do not fit the
// format's 16-bit sizes and give InvalidParameter.
#include <gif_lib.h>

#include <algorithm>
#include <cstring>
#include <new>

#include "raster/codecs/gif/gif_codec.h"
#include "raster/convert.h"
#include "raster/guard.h"

namespace korvex::raster::gif {

namespace {

struct Sink {
  ByteSink* out = nullptr;
  bool failed = false;
};

// giflib is C: a sink that refuses bytes (it never throws) is reported as a
// short write.
int write_output(GifFileType* file, const GifByteType* buf, int len) {
  auto* sink = static_cast<Sink*>(file->UserData);
  if (len <= 0) return 0;
  if (!sink->out->write(buf, static_cast<size_t>(len))) {
    sink->failed = true;
    return 0;
  }
  return len;
}

struct GifCloser {
  void operator()(GifFileType* file) const {
    int error = 0;
    EGifCloseFile(file, &error);
  }
};
using GifHandle = std::unique_ptr<GifFileType, GifCloser>;

struct MapCloser {
  void operator()(ColorMapObject* map) const { GifFreeMapObject(map); }
};
using MapHandle = std::unique_ptr<ColorMapObject, MapCloser>;

// The value at `index` of a LONG or SHORT property, clamped to 16 bits; -1
// when the property is absent or malformed. Out-of-range indices read entry 0.
int property_u16(const Image& img, uint32_t id, size_t index) {
  const PropertyItem* item = img.property(id);
  if (item == nullptr) return -1;
  size_t width = 0;
  if (item->type == ptype::kLong) width = 4;
  if (item->type == ptype::kShort) width = 2;
  if (width == 0 || item->value.size() < width) return -1;
  if ((index + 1) * width > item->value.size()) index = 0;
  uint32_t v = 0;
  for (size_t i = width; i-- > 0;) v = v << 8 | item->value[index * width + i];
  return static_cast<int>(std::min<uint32_t>(v, 0xFFFF));
}

// Palette indices of row y of an indexed surface, one byte each.
void unpack_indices(const Surface& s, int32_t y, uint8_t* out) {
  const uint8_t* row = s.row(y);
  switch (bits_per_pixel(s.format)) {
    case 1:
      for (int32_t x = 0; x < s.width; ++x) out[x] = (row[x >> 3] >> (7 - (x & 7))) & 1;
      break;
    case 4:
      for (int32_t x = 0; x < s.width; ++x) out[x] = (row[x >> 1] >> ((x & 1) ? 0 : 4)) & 0x0F;
      break;
    default:
      std::memcpy(out, row, static_cast<size_t>(s.width));
      break;
  }
}

// Colour map and transparent index of the picture to write.
struct Plan {
  std::vector<uint32_t> colors;  // power-of-two count, 2..256
  int transparent = -1;
};

Plan plan_indexed(const Surface& s, std::vector<uint8_t>& line) {
  Plan plan;
  int max_index = 0;
  for (int32_t y = 0; y < s.height; ++y) {
    unpack_indices(s, y, line.data());
    max_index = std::max<int>(max_index, *std::max_element(line.begin(), line.end()));
  }
  const std::vector<uint32_t>& entries = s.palette.entries;
  const size_t used = std::max(std::min<size_t>(entries.size(), 256), size_t(max_index) + 1);
  size_t count = 2;
  while (count < used) count *= 2;
  plan.colors.assign(count, 0xFF000000u);
  std::copy(entries.begin(),
            entries.begin() + static_cast<std::ptrdiff_t>(std::min(entries.size(), count)),
            plan.colors.begin());
  for (size_t i = 0; i < entries.size() && i < count; ++i) {
    if ((entries[i] >> 24) == 0) {
      plan.transparent = static_cast<int>(i);
      break;
    }
  }
  return plan;
}

// Whether any pixel of a surface with alpha has alpha below 128.
bool has_transparent_pixels(const Surface& s, std::vector<uint32_t>& argb) {
  if (!has_alpha(s.format)) return false;
  for (int32_t y = 0; y < s.height; ++y) {
    load_argb(s.format, s.row(y), 0, s.width, s.palette, argb.data());
    for (uint32_t v : argb) {
      if ((v >> 24) < 128) return true;
    }
  }
  return false;
}

Status encode_image(Image& img, ByteSink& out) {
  if (img.locked()) return Status::WrongState;
  const Surface& s = img.surface();
  if (s.width <= 0 || s.height <= 0 || s.scan0 == nullptr) return Status::InvalidParameter;
  if (s.width > 0xFFFF || s.height > 0xFFFF) return Status::InvalidParameter;

  const size_t width = static_cast<size_t>(s.width);
  std::vector<uint8_t> line(width);
  std::vector<uint32_t> argb;
  Plan plan;
  Palette halftone;
  Palette opaque_halftone;  // the entries an opaque pixel may take
  const bool indexed = is_indexed(s.format);
  if (indexed) {
    plan = plan_indexed(s, line);
  } else {
    argb.resize(width);
    halftone = default_palette(pf::k8bppIndexed);
    opaque_halftone = halftone;
    plan.colors = halftone.entries;
    if (has_transparent_pixels(s, argb)) {
      plan.transparent = 255;
      opaque_halftone.entries.pop_back();
    }
  }

  int bits = 1;
  while ((1u << bits) < plan.colors.size()) ++bits;
  MapHandle map(GifMakeMapObject(1 << bits, nullptr));
  if (!map) return Status::OutOfMemory;
  for (size_t i = 0; i < plan.colors.size(); ++i) {
    map->Colors[i].Red = static_cast<GifByteType>(plan.colors[i] >> 16);
    map->Colors[i].Green = static_cast<GifByteType>(plan.colors[i] >> 8);
    map->Colors[i].Blue = static_cast<GifByteType>(plan.colors[i]);
  }

  Sink sink{&out, false};
  int error = 0;
  GifHandle file(EGifOpen(&sink, &write_output, &error));
  if (!file) return Status::OutOfMemory;
  // A giflib call fails on a short write: the sink's failure.
  auto failure = [&] { return sink.failed ? out.error() : Status::GenericError; };
  EGifSetGifVersion(file.get(), true);
  if (EGifPutScreenDesc(file.get(), s.width, s.height, 8, 0, map.get()) != GIF_OK) {
    return failure();
  }

  const int loop = property_u16(img, kPropertyLoopCount, 0);
  if (loop >= 0) {
    const GifByteType loop_block[3] = {1, static_cast<GifByteType>(loop & 0xFF),
                                       static_cast<GifByteType>(loop >> 8)};
    if (EGifPutExtensionLeader(file.get(), APPLICATION_EXT_FUNC_CODE) != GIF_OK ||
        EGifPutExtensionBlock(file.get(), 11, "NETSCAPE2.0") != GIF_OK ||
        EGifPutExtensionBlock(file.get(), 3, loop_block) != GIF_OK ||
        EGifPutExtensionTrailer(file.get()) != GIF_OK) {
      return failure();
    }
  }

  const int delay = property_u16(img, kPropertyFrameDelay, img.active_frame());
  if (delay >= 0 || plan.transparent >= 0) {
    GraphicsControlBlock gcb{};
    gcb.DisposalMode = DISPOSAL_UNSPECIFIED;
    gcb.UserInputFlag = false;
    gcb.DelayTime = std::max(delay, 0);
    gcb.TransparentColor = plan.transparent;
    GifByteType ext[4];
    const size_t len = EGifGCBToExtension(&gcb, ext);
    if (EGifPutExtension(file.get(), GRAPHICS_EXT_FUNC_CODE, static_cast<int>(len), ext) !=
        GIF_OK) {
      return failure();
    }
  }

  if (EGifPutImageDesc(file.get(), 0, 0, s.width, s.height, false, nullptr) != GIF_OK) {
    return failure();
  }
  if (indexed) {
    for (int32_t y = 0; y < s.height; ++y) {
      unpack_indices(s, y, line.data());
      if (EGifPutLine(file.get(), line.data(), s.width) != GIF_OK) return failure();
    }
  } else {
    PaletteMatcher matcher(opaque_halftone);
    for (int32_t y = 0; y < s.height; ++y) {
      load_argb(s.format, s.row(y), 0, s.width, s.palette, argb.data());
      for (size_t x = 0; x < width; ++x) {
        line[x] = plan.transparent >= 0 && (argb[x] >> 24) < 128
                      ? static_cast<uint8_t>(plan.transparent)
                      : matcher.nearest(argb[x]);
      }
      if (EGifPutLine(file.get(), line.data(), s.width) != GIF_OK) return failure();
    }
  }

  // Closing writes the trailer; the handle is gone whatever the result.
  const int closed = EGifCloseFile(file.release(), &error);
  if (closed != GIF_OK || sink.failed) return failure();
  return Status::Ok;
}

}  // namespace

Status encode(Image& img, const EncoderParams& /*params*/, ByteSink& out) {
  return guarded([&] { return encode_image(img, out); });
}

}  // namespace korvex::raster::gif
