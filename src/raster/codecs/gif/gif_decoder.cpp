// GIF decoding over giflib's record-level interface.
//
// The file is read in two steps. A scan walks every record once, without
// decompressing pixels, and notes for each picture its rectangle, where its
// image descriptor starts, and the graphic control extension that precedes it
// (delay, disposal, transparent index); it also picks up the looping
// extension. Pixels are then decompressed one picture at a time by reopening
// the bytes and jumping straight to that picture's descriptor, so the frames
// of an animation can be decoded lazily, in any order.
//
// Choices where files go wrong (what browsers do, where they agree):
//  - A picture whose data ends early (truncated file) ends the file: the
//    pictures before it are kept. An unknown record byte also ends the file.
//    The first picture must be complete and decode without error, otherwise
//    the file is refused with GenericError.
//  - A later picture with a zero width or height, or with no colour map at
//    all, still counts as a frame (its delay is kept) but draws nothing and
//    its disposal is ignored: the frame shows the canvas left by the frame
//    before. A later picture whose compressed data turns out corrupt draws
//    the rows decoded before the fault.
//  - Picture rectangles reaching outside the logical screen are clipped. A
//    logical screen with a zero width or height takes the extent of the
//    first picture's rectangle.
//  - Pixel indices past the colour map show as opaque black (the map is
//    padded with black); in an 8bppIndexed picture the palette is extended
//    with black entries to cover them and the transparent index.
//  - Disposal methods 4..7 are treated like 0 and 1 (keep the frame).
//  - Pictures with a minimum LZW code size of 9..11, which giflib refuses,
//    are read and decompressed by our own LZW reader (gif_lzw.h); a code
//    size of 12 or more ends the file like any other broken descriptor.
//  - An animation whose composed frames, together with their per-frame
//    delay lists, exceed the pixel memory limit is refused with OutOfMemory,
//    so a small file cannot demand unbounded memory by repeating tiny
//    pictures on a large screen.
#include <gif_lib.h>

#include <algorithm>
#include <cstring>
#include <new>

#include "raster/codecs/gif/gif_codec.h"
#include "raster/codecs/gif/gif_lzw.h"

namespace korvex::raster::gif {

namespace {

// Input handed to giflib's read callback; `pos` may be moved between records
// to jump to a picture.
struct Reader {
  const uint8_t* data = nullptr;
  size_t size = 0;
  size_t pos = 0;
};

int read_input(GifFileType* file, GifByteType* buf, int len) {
  auto* r = static_cast<Reader*>(file->UserData);
  if (len <= 0 || r->pos >= r->size) return 0;
  const size_t n = std::min(static_cast<size_t>(len), r->size - r->pos);
  std::memcpy(buf, r->data + r->pos, n);
  r->pos += n;
  return static_cast<int>(n);
}

struct GifCloser {
  void operator()(GifFileType* file) const {
    int error = 0;
    DGifCloseFile(file, &error);
  }
};
using GifHandle = std::unique_ptr<GifFileType, GifCloser>;

GifHandle open_gif(Reader& r) {
  int error = 0;
  return GifHandle(DGifOpen(&r, &read_input, &error));
}

constexpr uint32_t kOpaqueBlack = 0xFF000000u;

// Opaque ARGB colours of a colour map.
std::vector<uint32_t> map_colors(const ColorMapObject* map) {
  std::vector<uint32_t> out;
  if (map == nullptr || map->Colors == nullptr) return out;
  const int count = std::clamp(map->ColorCount, 0, 256);
  out.reserve(static_cast<size_t>(count));
  for (int i = 0; i < count; ++i) {
    const GifColorType& c = map->Colors[i];
    out.push_back(kOpaqueBlack | static_cast<uint32_t>(c.Red) << 16 |
                  static_cast<uint32_t>(c.Green) << 8 | c.Blue);
  }
  return out;
}

// Opaque ARGB colours of a colour map read straight from the file.
std::vector<uint32_t> raw_colors(const uint8_t* rgb, size_t count) {
  std::vector<uint32_t> out(std::min<size_t>(count, 256));
  for (uint32_t& c : out) {
    c = kOpaqueBlack | static_cast<uint32_t>(rgb[0]) << 16 | static_cast<uint32_t>(rgb[1]) << 8 |
        rgb[2];
    rgb += 3;
  }
  return out;
}

// One picture of the file, as found by the scan.
struct Picture {
  size_t offset = 0;  // of the image separator ','
  int32_t left = 0;
  int32_t top = 0;
  int32_t width = 0;
  int32_t height = 0;
  bool interlaced = false;
  bool has_colors = false;  // a local or global colour map applies
  bool own_lzw = false;     // a code size giflib refuses: decompressed by LzwReader
  int disposal = 0;
  int transparent = -1;
  uint16_t delay = 0;  // hundredths of a second

  bool drawable() const { return width > 0 && height > 0 && has_colors; }
};

struct FileInfo {
  int32_t width = 0;  // logical screen
  int32_t height = 0;
  int background = 0;  // index into the global colour map
  size_t global_colors = 0;
  int loop_count = -1;  // -1: no looping extension
  std::vector<Picture> pictures;
};

// Control values of a graphic control extension, waiting for their picture.
struct PendingControl {
  int disposal = 0;
  int transparent = -1;
  uint16_t delay = 0;
};

bool is_loop_extension_id(const GifByteType* block) {
  return block[0] == 11 && (std::memcmp(block + 1, "NETSCAPE2.0", 11) == 0 ||
                            std::memcmp(block + 1, "ANIMEXTS1.0", 11) == 0);
}

// Reads one extension with its sub-blocks. Returns false when the file ends
// inside it.
bool read_extension(GifFileType* file, PendingControl& control, int& loop_count) {
  int code = 0;
  GifByteType* block = nullptr;
  if (DGifGetExtension(file, &code, &block) != GIF_OK) return false;
  bool first = true;
  bool looping = false;
  while (block != nullptr) {
    if (first && code == GRAPHICS_EXT_FUNC_CODE && block[0] >= 4) {
      control.disposal = (block[1] >> 2) & 0x07;
      control.delay = static_cast<uint16_t>(block[2] | block[3] << 8);
      control.transparent = (block[1] & 0x01) != 0 ? block[4] : -1;
    } else if (first && code == APPLICATION_EXT_FUNC_CODE) {
      looping = is_loop_extension_id(block);
    } else if (!first && looping && block[0] >= 3 && (block[1] & 0x07) == 1) {
      loop_count = block[2] | block[3] << 8;
    }
    first = false;
    if (DGifGetExtensionNext(file, &block) != GIF_OK) return false;
  }
  return true;
}

// Notes a picture whose descriptor giflib refused, when the refusal is for a
// code size our LZW reader handles, and skips its compressed data. Returns the
// offset after the data, or 0 when the picture is not one of those or its data
// ends early.
size_t scan_own_lzw(const uint8_t* data, size_t size, size_t global_colors, Picture& p) {
  RawDescriptor d;
  if (!read_descriptor(data, size, p.offset, d) || d.code_size < kOwnLzwMinCodeSize ||
      d.code_size > kOwnLzwMaxCodeSize) {
    return 0;
  }
  p.left = d.left;
  p.top = d.top;
  p.width = d.width;
  p.height = d.height;
  p.interlaced = d.interlaced;
  p.has_colors = d.local_colors > 0 || global_colors > 0;
  p.own_lzw = true;
  return skip_sub_blocks(data, size, d.data);
}

// Walks the records of the file without decompressing any pixels.
Status scan(const uint8_t* data, size_t size, FileInfo& info) {
  Reader r{data, size, 0};
  GifHandle file = open_gif(r);
  if (!file) return Status::GenericError;  // header, screen or global map cut short
  info.width = file->SWidth;
  info.height = file->SHeight;
  info.background = file->SBackGroundColor;
  info.global_colors = map_colors(file->SColorMap).size();

  PendingControl control;
  for (;;) {
    GifRecordType type = UNDEFINED_RECORD_TYPE;
    if (DGifGetRecordType(file.get(), &type) != GIF_OK) break;  // end of data or unknown record
    if (type == TERMINATE_RECORD_TYPE) break;
    if (type == EXTENSION_RECORD_TYPE) {
      if (!read_extension(file.get(), control, info.loop_count)) break;
      continue;
    }
    // An image descriptor: its separator byte has just been read.
    Picture p;
    p.offset = r.pos - 1;
    p.disposal = control.disposal;
    p.transparent = control.transparent;
    p.delay = control.delay;
    control = PendingControl{};
    if (DGifGetImageDesc(file.get()) != GIF_OK) {
      // giflib reads nothing ahead, so the next record starts where our
      // own walk of the picture's sub-blocks ends.
      const size_t end = scan_own_lzw(data, size, info.global_colors, p);
      if (end == 0) break;
      r.pos = end;
      info.pictures.push_back(p);
      continue;
    }
    const GifImageDesc& desc = file->Image;
    p.left = desc.Left;
    p.top = desc.Top;
    p.width = desc.Width;
    p.height = desc.Height;
    p.interlaced = desc.Interlace;
    p.has_colors =
        (desc.ColorMap != nullptr && desc.ColorMap->ColorCount > 0) || info.global_colors > 0;
    // Skip the compressed data; a picture cut short ends the file.
    int code_size = 0;
    GifByteType* block = nullptr;
    if (DGifGetCode(file.get(), &code_size, &block) != GIF_OK) break;
    bool complete = true;
    while (block != nullptr) {
      if (DGifGetCodeNext(file.get(), &block) != GIF_OK) {
        complete = false;
        break;
      }
    }
    if (!complete) break;
    info.pictures.push_back(p);
  }
  if (info.pictures.empty() || !info.pictures.front().drawable()) return Status::GenericError;
  if (info.width == 0 || info.height == 0) {
    const Picture& first = info.pictures.front();
    info.width = first.left + first.width;
    info.height = first.top + first.height;
  }
  return Status::Ok;
}

// Calls `decode_row(y)` for each row y of a picture in the order the rows
// are stored. Returns GenericError at the first row that fails.
template <class DecodeRow>
Status decode_rows(const Picture& p, DecodeRow&& decode_row) {
  if (!p.interlaced) {
    for (int32_t y = 0; y < p.height; ++y) {
      if (!decode_row(y)) return Status::GenericError;
    }
    return Status::Ok;
  }
  // Interlaced rows come in four passes: every 8th row from 0, every 8th
  // from 4, every 4th from 2, every 2nd from 1.
  static constexpr int32_t kStart[4] = {0, 4, 2, 1};
  static constexpr int32_t kStep[4] = {8, 8, 4, 2};
  for (int pass = 0; pass < 4; ++pass) {
    for (int32_t y = kStart[pass]; y < p.height; y += kStep[pass]) {
      if (!decode_row(y)) return Status::GenericError;
    }
  }
  return Status::Ok;
}

// Decompresses one picture. `begin(colors)` first receives the colours of the
// colour map that applies; then for each row y of the picture (0 = top,
// whatever the interlacing) `target(y)` names the buffer of at least `width`
// bytes the row is decoded into, and `done(y, buffer)` is called once the row
// is complete. Returns Ok when every row decoded, GenericError at the first
// fault (rows done so far stay done).
template <class Begin, class Target, class Done>
Status decode_picture(const EncodedBytes& bytes, const Picture& p, Begin&& begin, Target&& target,
                      Done&& done) {
  Reader r{bytes.data, bytes.size, 0};
  GifHandle file = open_gif(r);
  if (!file || p.width <= 0 || p.height <= 0) return Status::GenericError;
  if (p.own_lzw) {
    RawDescriptor d;
    if (!read_descriptor(bytes.data, bytes.size, p.offset, d)) return Status::GenericError;
    begin(d.local_map != nullptr ? raw_colors(d.local_map, d.local_colors)
                                 : map_colors(file->SColorMap));
    LzwReader lzw(bytes.data, bytes.size, d.data, d.code_size);
    return decode_rows(p, [&](int32_t y) {
      uint8_t* buf = target(y);
      if (!lzw.read(buf, static_cast<size_t>(p.width))) return false;
      done(y, buf);
      return true;
    });
  }
  r.pos = p.offset;
  GifRecordType type = UNDEFINED_RECORD_TYPE;
  if (DGifGetRecordType(file.get(), &type) != GIF_OK || type != IMAGE_DESC_RECORD_TYPE ||
      DGifGetImageDesc(file.get()) != GIF_OK) {
    return Status::GenericError;
  }
  begin(map_colors(file->Image.ColorMap != nullptr ? file->Image.ColorMap : file->SColorMap));
  return decode_rows(p, [&](int32_t y) {
    uint8_t* buf = target(y);
    if (DGifGetLine(file.get(), buf, p.width) != GIF_OK) return false;
    done(y, buf);
    return true;
  });
}

// Columns [x0, x1) and rows [y0, y1) of a picture that fall on the screen.
struct Clip {
  int32_t x0 = 0, x1 = 0, y0 = 0, y1 = 0;
  bool empty() const { return x0 >= x1 || y0 >= y1; }
};

Clip clip_to_screen(const Picture& p, int32_t width, int32_t height) {
  Clip c;
  c.x0 = std::min(p.left, width);
  c.x1 = std::min(p.left + p.width, width);
  c.y0 = std::min(p.top, height);
  c.y1 = std::min(p.top + p.height, height);
  return c;
}

std::vector<PropertyItem> frame_properties(const FileInfo& info) {
  std::vector<PropertyItem> props;
  PropertyItem delays;
  delays.id = kPropertyFrameDelay;
  delays.type = ptype::kLong;
  delays.value.reserve(info.pictures.size() * 4);
  for (const Picture& p : info.pictures) {
    const uint8_t le[4] = {static_cast<uint8_t>(p.delay & 0xFF), static_cast<uint8_t>(p.delay >> 8),
                           0, 0};
    delays.value.insert(delays.value.end(), le, le + 4);
  }
  props.push_back(std::move(delays));
  if (info.loop_count >= 0) {
    PropertyItem loop;
    loop.id = kPropertyLoopCount;
    loop.type = ptype::kShort;
    loop.value = {static_cast<uint8_t>(info.loop_count & 0xFF),
                  static_cast<uint8_t>(info.loop_count >> 8)};
    props.push_back(std::move(loop));
  }
  return props;
}

// ---- single picture: 8bppIndexed ------------------------------------------------

Status decode_single(const EncodedBytes& bytes, const FileInfo& info, Frame& frame) {
  const Picture& p = info.pictures.front();
  Surface& s = frame.pixels;
  if (Status st = allocate_surface(info.width, info.height, pf::k8bppIndexed, s);
      st != Status::Ok) {
    return st;
  }
  // Outside the picture: the transparent index, else the background index
  // (0 when there is no global colour map for it to name). The palette is the
  // picture's own colour map, so with a local map the background index names
  // an entry of that map.
  int fill = p.transparent;
  if (fill < 0) {
    fill = static_cast<size_t>(info.background) < info.global_colors ? info.background : 0;
  }
  for (int32_t y = 0; y < s.height; ++y) std::memset(s.row(y), fill, static_cast<size_t>(s.width));

  const Clip c = clip_to_screen(p, s.width, s.height);
  // A picture spanning the screen's width decodes straight into its rows.
  const bool direct = p.left == 0 && p.width == s.width;
  std::vector<uint8_t> line(static_cast<size_t>(p.width));
  // The fill index only needs a palette entry when some of the screen shows it.
  const bool covered = c.x0 == 0 && c.x1 == s.width && c.y0 == 0 && c.y1 == s.height;
  int max_index = covered ? 0 : fill;
  auto target = [&](int32_t y) {
    const int32_t sy = p.top + y;
    return direct && sy < s.height ? s.row(sy) : line.data();
  };
  auto done = [&](int32_t y, const uint8_t* buf) {
    const int32_t sy = p.top + y;
    if (sy >= s.height || c.x0 >= c.x1) return;
    uint8_t* dst = s.row(sy) + c.x0;
    const uint8_t* src = buf + (c.x0 - p.left);
    const int32_t n = c.x1 - c.x0;
    if (dst != src) std::memcpy(dst, src, static_cast<size_t>(n));
    const int m = *std::max_element(src, src + n);
    max_index = std::max(max_index, m);
  };
  std::vector<uint32_t> colors;
  auto begin = [&](std::vector<uint32_t> map) { colors = std::move(map); };
  if (decode_picture(bytes, p, begin, target, done) != Status::Ok) return Status::GenericError;

  Palette& pal = s.palette;
  pal.flags = 0;
  pal.entries = colors;
  const size_t needed = static_cast<size_t>(std::max(max_index, p.transparent)) + 1;
  if (pal.entries.size() < needed) pal.entries.resize(needed, kOpaqueBlack);
  if (p.transparent >= 0) {
    pal.entries[static_cast<size_t>(p.transparent)] &= 0x00FFFFFFu;
    pal.flags |= Palette::kHasAlpha;
  }
  return Status::Ok;
}

// ---- animation: composed 32bppARGB frames ----------------------------------------

// Composes the frames of an animation on a canvas of the logical screen size.
// Keeps the canvas of the last frame composed, so frames read in order cost
// one picture each; going back starts again from the first frame.
class Animation final : public FrameLoader {
 public:
  Animation(EncodedBytes bytes, FileInfo info, std::vector<PropertyItem> props)
      : bytes_(std::move(bytes)), info_(std::move(info)), props_(std::move(props)) {}

  // A failure may leave the canvas half composed: the next frame asked for
  // starts again from the first.
  Status load(uint32_t index, Frame& out) override {
    const Status s = guarded([&] { return load_frame(index, out); });
    if (s != Status::Ok) shown_ = -1;
    return s;
  }

 private:
  Status load_frame(uint32_t index, Frame& out) {
    if (index >= info_.pictures.size()) return Status::InvalidParameter;
    if (canvas_.scan0 == nullptr) {
      if (Status s = allocate_surface(info_.width, info_.height, pf::k32bppARGB, canvas_);
          s != Status::Ok) {
        return s;
      }
      shown_ = -1;
    }
    if (shown_ > static_cast<int64_t>(index)) shown_ = -1;
    if (shown_ < 0) clear_canvas();
    while (shown_ < static_cast<int64_t>(index)) {
      const Status s = draw_next();
      // Only the first picture must decode cleanly; later ones draw what they can.
      if (s != Status::Ok && shown_ == 0) {
        shown_ = -1;
        return s;
      }
    }
    Surface px;
    if (Status s = allocate_surface(info_.width, info_.height, pf::k32bppARGB, px);
        s != Status::Ok) {
      return s;
    }
    std::memcpy(px.scan0, canvas_.scan0,
                static_cast<size_t>(canvas_.stride) * static_cast<size_t>(canvas_.height));
    // The delay list goes on each frame as it loads, not on all of them up front.
    if (out.properties.empty()) out.properties = props_;
    out.pixels = std::move(px);
    return Status::Ok;
  }

  void clear_canvas() {
    std::memset(canvas_.scan0, 0,
                static_cast<size_t>(canvas_.stride) * static_cast<size_t>(canvas_.height));
  }

  uint32_t* canvas_row(int32_t y) const { return reinterpret_cast<uint32_t*>(canvas_.row(y)); }

  // Applies the disposal of the frame shown, then draws the next picture.
  Status draw_next() {
    if (shown_ >= 0) dispose(info_.pictures[static_cast<size_t>(shown_)]);
    ++shown_;
    const Picture& p = info_.pictures[static_cast<size_t>(shown_)];
    if (!p.drawable()) return shown_ == 0 ? Status::GenericError : Status::Ok;
    const Clip c = clip_to_screen(p, canvas_.width, canvas_.height);
    if (p.disposal == DISPOSE_PREVIOUS) save(c);

    // Pixel values to colours; indices past the colour map show as opaque black.
    uint32_t lut[256];
    auto begin = [&](const std::vector<uint32_t>& colors) {
      std::fill(std::begin(lut), std::end(lut), kOpaqueBlack);
      std::copy(colors.begin(), colors.end(), lut);  // at most 256 colours
    };
    std::vector<uint8_t> line(static_cast<size_t>(p.width));
    auto target = [&](int32_t) { return line.data(); };
    auto done = [&](int32_t y, const uint8_t* buf) {
      const int32_t sy = p.top + y;
      if (sy >= c.y1 || c.x0 >= c.x1) return;
      uint32_t* dst = canvas_row(sy) + c.x0;
      const uint8_t* src = buf + (c.x0 - p.left);
      const int32_t n = c.x1 - c.x0;
      const int t = p.transparent;
      for (int32_t x = 0; x < n; ++x) {
        if (src[x] != t) dst[x] = lut[src[x]];
      }
    };
    return decode_picture(bytes_, p, begin, target, done);
  }

  void dispose(const Picture& p) {
    if (!p.drawable()) return;
    const Clip c = clip_to_screen(p, canvas_.width, canvas_.height);
    if (c.empty()) return;
    const size_t n = static_cast<size_t>(c.x1 - c.x0);
    if (p.disposal == DISPOSE_BACKGROUND) {
      for (int32_t y = c.y0; y < c.y1; ++y) std::memset(canvas_row(y) + c.x0, 0, n * 4);
    } else if (p.disposal == DISPOSE_PREVIOUS) {
      const uint32_t* src = saved_.data();
      for (int32_t y = c.y0; y < c.y1; ++y, src += n) std::memcpy(canvas_row(y) + c.x0, src, n * 4);
    }
  }

  // Keeps the part of the canvas a picture with "restore previous" covers.
  void save(const Clip& c) {
    saved_.clear();
    if (c.empty()) return;
    const size_t n = static_cast<size_t>(c.x1 - c.x0);
    saved_.resize(n * static_cast<size_t>(c.y1 - c.y0));
    uint32_t* dst = saved_.data();
    for (int32_t y = c.y0; y < c.y1; ++y, dst += n) std::memcpy(dst, canvas_row(y) + c.x0, n * 4);
  }

  EncodedBytes bytes_;
  FileInfo info_;
  std::vector<PropertyItem> props_;  // of every frame
  Surface canvas_;                   // the frame `shown_` as composed
  std::vector<uint32_t> saved_;      // canvas under frame `shown_` before it was drawn (disposal 3)
  int64_t shown_ = -1;               // -1: nothing drawn yet
};

Status decode_bytes(const EncodedBytes& in, std::unique_ptr<Image>& out) {
  if (!sniff(in.data, in.size)) return Status::UnknownImageFormat;
  FileInfo info;
  if (Status s = scan(in.data, in.size, info); s != Status::Ok) return s;

  // Lazily decoded frames need the bytes for as long as the image lives.
  EncodedBytes bytes = in;
  if (!bytes.keep) bytes = own_bytes(std::vector<uint8_t>(in.data, in.data + in.size));

  const size_t count = info.pictures.size();
  std::vector<PropertyItem> props = frame_properties(info);
  if (count == 1) {
    std::vector<Frame> frames(1);
    if (Status s = decode_single(bytes, info, frames[0]); s != Status::Ok) return s;
    frames[0].properties = std::move(props);
    out = Image::from_frames(std::move(frames), guids::kFrameDimensionTime, guids::kFormatGif,
                             nullptr);
    return Status::Ok;
  }

  // Every frame is a full screen of 32-bit pixels and carries the delay list.
  const uint64_t screen_bytes =
      uint64_t{4} * static_cast<uint64_t>(info.width) * static_cast<uint64_t>(info.height);
  const uint64_t per_frame = screen_bytes + uint64_t{4} * count;
  if (count + 1 > pixel_memory_limit() / per_frame) return Status::OutOfMemory;

  auto animation = std::make_shared<Animation>(bytes, std::move(info), std::move(props));
  std::vector<Frame> frames(count);
  for (Frame& f : frames) f.loaded = false;
  if (Status s = animation->load(0, frames[0]); s != Status::Ok) return s;
  frames[0].loaded = true;
  out = Image::from_frames(std::move(frames), guids::kFrameDimensionTime, guids::kFormatGif,
                           std::move(animation));
  return Status::Ok;
}

}  // namespace

bool sniff(const uint8_t* data, size_t size) {
  return data != nullptr && size >= 6 &&
         (std::memcmp(data, "GIF87a", 6) == 0 || std::memcmp(data, "GIF89a", 6) == 0);
}

Status decode(const EncodedBytes& in, std::unique_ptr<Image>& out) {
  return guarded([&] { return decode_bytes(in, out); });
}

}  // namespace korvex::raster::gif
