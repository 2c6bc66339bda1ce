#include "raster/codecs/ifd/ifd.h"

#include <algorithm>
#include <cstring>
#include <iterator>
#include <utility>

#include "raster/guard.h"

namespace korvex::raster::ifd {

namespace {

constexpr uint16_t kExifPointer = 0x8769;
constexpr uint16_t kGpsPointer = 0x8825;
constexpr uint16_t kInteropPointer = 0xA005;

// A directory tree of a few levels is all TIFF and EXIF use; more than this
// many directories means the pointers go round in circles or the block is
// hostile.
constexpr size_t kMaxDirectories = 16;

bool is_pointer_tag(uint32_t tag) {
  return tag == kExifPointer || tag == kGpsPointer || tag == kInteropPointer;
}

// How a TIFF field type is stored and which property type it becomes.
struct FieldType {
  uint8_t size = 0;       // bytes per value
  uint8_t unit = 0;       // bytes swapped as one number (rationals swap per half)
  uint16_t property = 0;  // property type; 0 = not returned
  bool offset = false;    // a directory offset (LONG, IFD, LONG8, IFD8)
};

// Indexed by the TIFF type code.
constexpr FieldType kFieldTypes[] = {
    {},                                // 0
    {1, 1, ptype::kByte, false},       // 1 BYTE
    {1, 1, ptype::kAscii, false},      // 2 ASCII
    {2, 2, ptype::kShort, false},      // 3 SHORT
    {4, 4, ptype::kLong, true},        // 4 LONG
    {8, 4, ptype::kRational, false},   // 5 RATIONAL
    {1, 1, ptype::kByte, false},       // 6 SBYTE
    {1, 1, ptype::kUndefined, false},  // 7 UNDEFINED
    {2, 2, ptype::kShort, false},      // 8 SSHORT
    {4, 4, ptype::kSLong, false},      // 9 SLONG
    {8, 4, ptype::kSRational, false},  // 10 SRATIONAL
    {4, 4, ptype::kUndefined, false},  // 11 FLOAT
    {8, 8, ptype::kUndefined, false},  // 12 DOUBLE
    {4, 4, ptype::kLong, true},        // 13 IFD
    {},                                // 14
    {},                                // 15
    {8, 8, 0, true},                   // 16 LONG8 (BigTIFF)
    {8, 8, 0, false},                  // 17 SLONG8 (BigTIFF)
    {8, 8, 0, true},                   // 18 IFD8 (BigTIFF)
};

FieldType field_type(uint16_t type) {
  return type < std::size(kFieldTypes) ? kFieldTypes[type] : FieldType{};
}

// Bounds-checked view of the block. Callers check every range with fits()
// before reading it.
class Block {
 public:
  Block(const uint8_t* data, size_t size) : data_(data), size_(size) {}

  bool parse_header(uint64_t& first_ifd) {
    if (size_ < 8) return false;
    if (data_[0] == 'I' && data_[1] == 'I') {
      big_endian_ = false;
    } else if (data_[0] == 'M' && data_[1] == 'M') {
      big_endian_ = true;
    } else {
      return false;
    }
    const uint16_t magic = u16(2);
    if (magic == 42) {
      first_ifd = u32(4);
      return true;
    }
    // BigTIFF: offset size 8, a zero word, then the 64-bit offset.
    if (magic == 43 && size_ >= 16 && u16(4) == 8 && u16(6) == 0) {
      big_tiff_ = true;
      first_ifd = u64(8);
      return true;
    }
    return false;
  }

  bool fits(uint64_t offset, uint64_t length) const {
    return offset <= size_ && length <= size_ - offset;
  }

  size_t size() const { return size_; }
  bool big_endian() const { return big_endian_; }
  bool big_tiff() const { return big_tiff_; }
  const uint8_t* at(uint64_t offset) const { return data_ + offset; }

  uint16_t u16(uint64_t o) const {
    const uint8_t* p = data_ + o;
    return big_endian_ ? static_cast<uint16_t>(p[0] << 8 | p[1])
                       : static_cast<uint16_t>(p[1] << 8 | p[0]);
  }
  uint32_t u32(uint64_t o) const {
    const uint8_t* p = data_ + o;
    return big_endian_ ? uint32_t{p[0]} << 24 | uint32_t{p[1]} << 16 | uint32_t{p[2]} << 8 | p[3]
                       : uint32_t{p[3]} << 24 | uint32_t{p[2]} << 16 | uint32_t{p[1]} << 8 | p[0];
  }
  uint64_t u64(uint64_t o) const {
    const uint64_t a = u32(o), b = u32(o + 4);
    return big_endian_ ? a << 32 | b : b << 32 | a;
  }

 private:
  const uint8_t* data_;
  size_t size_;
  bool big_endian_ = false;
  bool big_tiff_ = false;
};

// Reads one directory: its items go to `out` (first occurrence of an id
// wins), the sub-directory pointers it holds to `pointers`. False when the
// directory's entry count lies outside the block, or it declares entries
// and none of them lies inside.
bool read_directory(const Block& b, uint64_t offset, uint8_t directory, std::vector<bool>& seen,
                    std::vector<PropertyItem>& out,
                    std::vector<std::pair<uint64_t, uint8_t>>& pointers) {
  const uint64_t count_size = b.big_tiff() ? 8 : 2;
  const uint64_t entry_size = b.big_tiff() ? 20 : 12;
  const uint64_t inline_size = b.big_tiff() ? 8 : 4;
  if (!b.fits(offset, count_size)) return false;
  const uint64_t declared = b.big_tiff() ? b.u64(offset) : b.u16(offset);
  const uint64_t first = offset + count_size;
  // Only the entries that lie wholly inside the block are read.
  const uint64_t room = b.fits(first, 0) ? std::min(declared, (b.size() - first) / entry_size) : 0;
  if (declared > 0 && room == 0) return false;

  for (uint64_t i = 0; i < room; ++i) {
    const uint64_t e = first + i * entry_size;
    const uint16_t tag = b.u16(e);
    const uint16_t type = b.u16(e + 2);
    const uint64_t count = b.big_tiff() ? b.u64(e + 4) : b.u32(e + 4);
    const uint64_t field = e + (b.big_tiff() ? 12 : 8);
    const FieldType ft = field_type(type);
    if (ft.size == 0 || count == 0) continue;
    // A count larger than the block cannot describe data inside it; checking
    // this first also keeps count * size from overflowing.
    if (count > UINT32_MAX || !b.fits(0, count)) continue;
    const uint64_t length = count * ft.size;
    uint64_t data = field;
    if (length > inline_size) {
      data = b.big_tiff() ? b.u64(field) : b.u32(field);
      if (!b.fits(data, length)) continue;
    }
    if (is_pointer_tag(tag)) {
      if (ft.offset) {
        pointers.emplace_back(ft.size == 8 ? b.u64(data) : b.u32(data),
                              tag == kInteropPointer ? PropertyItem::kDirectoryInterop
                                                     : PropertyItem::kDirectoryById);
      }
      continue;
    }
    if (ft.property == 0 || seen[tag]) continue;
    seen[tag] = true;
    PropertyItem item;
    item.id = tag;
    item.type = ft.property;
    item.directory = directory;
    item.value.assign(b.at(data), b.at(data) + length);
    if (b.big_endian() && ft.unit > 1) {
      for (size_t k = 0; k < item.value.size(); k += ft.unit) {
        std::reverse(item.value.begin() + static_cast<std::ptrdiff_t>(k),
                     item.value.begin() + static_cast<std::ptrdiff_t>(k + ft.unit));
      }
    }
    out.push_back(std::move(item));
  }
  return true;
}

// ---- Writing ----

struct OutEntry {
  uint16_t tag = 0;
  uint16_t type = 0;
  uint32_t count = 0;
  const uint8_t* bytes = nullptr;
  size_t length = 0;
  uint8_t pointer[4] = {};        // value of a sub-directory pointer
  const uint8_t* kept = nullptr;  // a whole 12-byte entry kept as it is
};

uint8_t element_size(uint16_t type) {
  switch (type) {
    case ptype::kByte:
    case ptype::kAscii:
    case ptype::kUndefined:
      return 1;
    case ptype::kShort:
      return 2;
    case ptype::kLong:
    case ptype::kSLong:
      return 4;
    case ptype::kRational:
    case ptype::kSRational:
      return 8;
    default:
      return 0;
  }
}

enum class Home { kSkip, kMain, kExif, kGps, kInterop };

Home home_of(uint32_t id) {
  if (id > 0xFFFF || is_pointer_tag(id)) return Home::kSkip;
  if (id >= 0x5000 && id <= 0x5FFF) return Home::kSkip;  // in-memory properties
  // Strip, tile, free-space and thumbnail offsets and sizes, and sub-IFD
  // pointers, describe the layout of the file they came from and would
  // point into nowhere here.
  static constexpr uint32_t kLayoutTags[] = {0x0111, 0x0117, 0x0120, 0x0121, 0x0144,
                                             0x0145, 0x014A, 0x0201, 0x0202};
  if (std::find(std::begin(kLayoutTags), std::end(kLayoutTags), id) != std::end(kLayoutTags)) {
    return Home::kSkip;
  }
  if (id <= 0x001F) return Home::kGps;
  // The Windows XP title, comment, author, keywords and subject (0x9C9B..
  // 0x9C9F) live in the main directory although they fall among Exif ids.
  if (id >= 0x9C9B && id <= 0x9C9F) return Home::kMain;
  if ((id >= 0x829A && id <= 0x829D) || (id >= 0x8822 && id <= 0x8830) ||
      (id >= 0x9000 && id <= 0x9FFF) || (id >= 0xA000 && id <= 0xA4FF)) {
    return Home::kExif;
  }
  return Home::kMain;
}

uint64_t padded(uint64_t n) {
  return n + (n & 1);
}

// Bytes a directory takes: entry count, entries, next-directory offset, and
// the values too long to stay in their entry (each on an even offset).
uint64_t directory_size(const std::vector<OutEntry>& entries) {
  uint64_t size = 2 + 12 * static_cast<uint64_t>(entries.size()) + 4;
  for (const OutEntry& e : entries) {
    if (e.length > 4) size += padded(e.length);
  }
  return size;
}

void put16(std::vector<uint8_t>& out, size_t at, uint32_t v) {
  out[at] = static_cast<uint8_t>(v);
  out[at + 1] = static_cast<uint8_t>(v >> 8);
}
void put32(std::vector<uint8_t>& out, size_t at, uint32_t v) {
  for (int i = 0; i < 4; ++i) out[at + static_cast<size_t>(i)] = static_cast<uint8_t>(v >> (8 * i));
}

// Writes a directory at `at` in `out`, whose byte 0 lies at file offset
// `base`; values too long for their entry follow the directory.
void write_directory(const std::vector<OutEntry>& entries, size_t at, std::vector<uint8_t>& out,
                     uint64_t base, uint32_t next) {
  put16(out, at, static_cast<uint32_t>(entries.size()));
  size_t entry = at + 2;
  size_t data = entry + 12 * entries.size() + 4;
  put32(out, data - 4, next);
  for (const OutEntry& e : entries) {
    if (e.kept != nullptr) {
      std::memcpy(&out[entry], e.kept, 12);
      entry += 12;
      continue;
    }
    put16(out, entry, e.tag);
    put16(out, entry + 2, e.type);
    put32(out, entry + 4, e.count);
    if (e.length <= 4) {
      if (e.length > 0) std::memcpy(&out[entry + 8], e.bytes, e.length);
    } else {
      put32(out, entry + 8, static_cast<uint32_t>(base + data));
      std::memcpy(&out[data], e.bytes, e.length);
      data += padded(e.length);
    }
    entry += 12;
  }
}

void sort_unique(std::vector<OutEntry>& entries) {
  std::stable_sort(entries.begin(), entries.end(),
                   [](const OutEntry& a, const OutEntry& b) { return a.tag < b.tag; });
  entries.erase(std::unique(entries.begin(), entries.end(),
                            [](const OutEntry& a, const OutEntry& b) { return a.tag == b.tag; }),
                entries.end());
}

}  // namespace

Status read_properties(const uint8_t* data, size_t size, uint64_t ifd_offset,
                       std::vector<PropertyItem>& out) {
  out.clear();
  if (data == nullptr) return Status::GenericError;
  const Status st = guarded([&] {
    Block b(data, size);
    uint64_t first = 0;
    if (!b.parse_header(first)) return Status::GenericError;
    if (ifd_offset != 0) first = ifd_offset;
    if (first == 0) return Status::GenericError;

    std::vector<bool> seen(0x10000, false);
    std::vector<uint64_t> visited;
    // Breadth first: the main directory, then the Exif and GPS directories it
    // names, then the interoperability directory inside the Exif one. When two
    // directories use the same id (GPS and interoperability both start at 1)
    // the item read first is kept.
    std::vector<std::pair<uint64_t, uint8_t>> queue{{first, PropertyItem::kDirectoryById}};
    for (size_t next = 0; next < queue.size() && visited.size() < kMaxDirectories; ++next) {
      const auto [offset, directory] = queue[next];
      if (std::find(visited.begin(), visited.end(), offset) != visited.end()) continue;
      visited.push_back(offset);
      std::vector<std::pair<uint64_t, uint8_t>> pointers;
      if (!read_directory(b, offset, directory, seen, out, pointers)) {
        if (next == 0) {
          out.clear();
          return Status::GenericError;
        }
        continue;
      }
      for (const auto& p : pointers) {
        if (p.first != 0) queue.push_back(p);
      }
    }
    return Status::Ok;
  });
  if (st != Status::Ok) out.clear();
  return st;
}

namespace {

// Sorts the items into the main, Exif and GPS directories (after the entries
// already in `main`, which win over items of the same tag); items of types
// the directories cannot hold, or of no whole number of values, are skipped.
void distribute(const std::vector<PropertyItem>& items, bool (*skip)(uint32_t),
                std::vector<OutEntry>& main, std::vector<OutEntry>& exif,
                std::vector<OutEntry>& gps, std::vector<OutEntry>& interop) {
  for (const PropertyItem& item : items) {
    const uint8_t size = element_size(item.type);
    if (size == 0 || item.value.empty() || item.value.size() % size != 0 ||
        item.value.size() / size > UINT32_MAX || (skip != nullptr && skip(item.id))) {
      continue;
    }
    OutEntry e;
    e.tag = static_cast<uint16_t>(item.id);
    e.type = item.type;
    e.count = static_cast<uint32_t>(item.value.size() / size);
    e.bytes = item.value.data();
    e.length = item.value.size();
    const Home home = home_of(item.id);
    switch (home == Home::kSkip || item.directory != PropertyItem::kDirectoryInterop
                ? home
                : Home::kInterop) {
      case Home::kMain:
        main.push_back(e);
        break;
      case Home::kExif:
        exif.push_back(e);
        break;
      case Home::kGps:
        gps.push_back(e);
        break;
      case Home::kInterop:
        interop.push_back(e);
        break;
      case Home::kSkip:
        break;
    }
  }
}

OutEntry pointer_entry(uint16_t tag) {
  OutEntry e;
  e.tag = tag;
  e.type = ptype::kLong;
  e.count = 1;
  e.length = 4;
  return e;
}

// Points the new pointer entries of a directory at their directories.
void set_pointers(std::vector<OutEntry>& entries, uint64_t exif_at, uint64_t gps_at,
                  uint64_t interop_at) {
  for (OutEntry& e : entries) {
    if (e.kept != nullptr || !is_pointer_tag(e.tag)) continue;
    const uint64_t at = e.tag == kExifPointer  ? exif_at
                        : e.tag == kGpsPointer ? gps_at
                                               : interop_at;
    for (int i = 0; i < 4; ++i) e.pointer[i] = static_cast<uint8_t>(at >> (8 * i));
    e.bytes = e.pointer;
  }
}

// Lays the main directory (with the pointers to the others added), the Exif,
// the GPS and the interoperability directory (named by the Exif one) out one
// after the other, the first at file offset `base`; the main directory's
// next-directory offset is `next`.
Status lay_out(std::vector<OutEntry>& main, std::vector<OutEntry>& exif, std::vector<OutEntry>& gps,
               std::vector<OutEntry>& interop, uint64_t base, uint32_t next,
               std::vector<uint8_t>& out) {
  // Pointer entries take part in their directory's size, so add them before
  // measuring; their values are known once every size is.
  if (!interop.empty()) exif.push_back(pointer_entry(kInteropPointer));
  if (!exif.empty()) main.push_back(pointer_entry(kExifPointer));
  if (!gps.empty()) main.push_back(pointer_entry(kGpsPointer));
  sort_unique(main);
  sort_unique(exif);
  sort_unique(gps);
  sort_unique(interop);

  const uint64_t exif_at = directory_size(main);
  const uint64_t gps_at = exif_at + (exif.empty() ? 0 : directory_size(exif));
  const uint64_t interop_at = gps_at + (gps.empty() ? 0 : directory_size(gps));
  const uint64_t total = interop_at + (interop.empty() ? 0 : directory_size(interop));
  if (base + total > UINT32_MAX) return Status::ValueOverflow;

  set_pointers(main, base + exif_at, base + gps_at, base + interop_at);
  set_pointers(exif, base + exif_at, base + gps_at, base + interop_at);
  out.assign(static_cast<size_t>(total), 0);
  write_directory(main, 0, out, base, next);
  if (!exif.empty()) write_directory(exif, static_cast<size_t>(exif_at), out, base, 0);
  if (!gps.empty()) write_directory(gps, static_cast<size_t>(gps_at), out, base, 0);
  if (!interop.empty()) {
    write_directory(interop, static_cast<size_t>(interop_at), out, base, 0);
  }
  return Status::Ok;
}

// Tags a TIFF encoder sets itself from the pixels and the way it stores
// them: an item of the image must never override them.
bool encoder_owned(uint32_t id) {
  static constexpr uint32_t kOwned[] = {
      0x00FE, 0x00FF, 0x0100, 0x0101, 0x0102, 0x0103, 0x0106, 0x0107, 0x0108, 0x0109, 0x010A,
      0x0115, 0x0116, 0x0118, 0x0119, 0x011A, 0x011B, 0x011C, 0x0122, 0x0123, 0x0124, 0x0125,
      0x0128, 0x012D, 0x013D, 0x0140, 0x0142, 0x0143, 0x0152, 0x0153, 0x0154, 0x0155, 0x0156,
      0x0200, 0x0203, 0x0205, 0x0206, 0x0207, 0x0208, 0x0209, 0x0211, 0x0212, 0x015B};
  return std::find(std::begin(kOwned), std::end(kOwned), id) != std::end(kOwned);
}

bool read_at(ByteSink& sink, uint64_t offset, void* data, size_t n) {
  return sink.seek(offset) && sink.read(data, n) == n;
}

}  // namespace

Status write_exif_block(const std::vector<PropertyItem>& items, std::vector<uint8_t>& out) {
  out.clear();
  const Status st = guarded([&] {
    std::vector<OutEntry> main, exif, gps, interop;
    distribute(items, nullptr, main, exif, gps, interop);
    if (main.empty() && exif.empty() && gps.empty() && interop.empty()) return Status::Ok;
    std::vector<uint8_t> body;
    if (Status s = lay_out(main, exif, gps, interop, 8, 0, body); s != Status::Ok) return s;
    out.reserve(8 + body.size());
    out = {'I', 'I', 42, 0, 8, 0, 0, 0};
    out.insert(out.end(), body.begin(), body.end());
    return Status::Ok;
  });
  if (st != Status::Ok) out.clear();
  return st;
}

Status add_to_tiff_directory(ByteSink& sink, uint32_t index,
                             const std::vector<PropertyItem>& items) {
  return guarded([&] {
    std::vector<OutEntry> main, exif, gps, interop;
    distribute(items, encoder_owned, main, exif, gps, interop);
    if (main.empty() && exif.empty() && gps.empty() && interop.empty()) return Status::Ok;

    const uint64_t size = sink.size();
    uint8_t header[8];
    if (!read_at(sink, 0, header, 8) || std::memcmp(header, "II*\0", 4) != 0) {
      return Status::GenericError;
    }
    Block b(header, 8);
    uint64_t ifd = 0;
    b.parse_header(ifd);
    // Walk to the directory, remembering where its offset is stored.
    uint64_t link = 4;
    std::vector<uint8_t> dir;
    uint64_t count = 0;
    uint32_t next = 0;
    for (uint32_t i = 0;; ++i) {
      uint8_t n[2];
      if (ifd == 0 || ifd >= size || !read_at(sink, ifd, n, 2)) return Status::GenericError;
      count = static_cast<uint64_t>(n[0] | n[1] << 8);
      const uint64_t span = 2 + 12 * count + 4;
      if (span > size - ifd) return Status::GenericError;
      dir.resize(static_cast<size_t>(span));
      if (!read_at(sink, ifd, dir.data(), dir.size())) return Status::GenericError;
      next = Block(dir.data(), dir.size()).u32(span - 4);
      if (i == index) break;
      if (i > 65535) return Status::GenericError;  // a loop of directories
      link = ifd + span - 4;
      ifd = next;
    }
    // The encoder's entries stay as they are (their values where they were);
    // the items go after them, so the encoder's win on equal tags.
    const Block d(dir.data(), dir.size());
    std::vector<OutEntry> merged;
    for (uint64_t k = 0; k < count; ++k) {
      OutEntry e;
      e.tag = d.u16(2 + 12 * k);
      e.kept = dir.data() + 2 + 12 * k;
      merged.push_back(e);
    }
    merged.insert(merged.end(), main.begin(), main.end());

    // The rewritten directory goes at the (even) end of the file and takes
    // the old one's place in the chain.
    const uint64_t at = size + (size & 1);
    std::vector<uint8_t> body;
    if (Status s = lay_out(merged, exif, gps, interop, at, next, body); s != Status::Ok) return s;
    const uint8_t zero = 0;
    const uint8_t link_bytes[4] = {static_cast<uint8_t>(at), static_cast<uint8_t>(at >> 8),
                                   static_cast<uint8_t>(at >> 16), static_cast<uint8_t>(at >> 24)};
    const bool ok = sink.seek(size) && (at == size || sink.write(&zero, 1)) &&
                    sink.write(body.data(), body.size()) && sink.seek(link) &&
                    sink.write(link_bytes, 4);
    if (!ok) return sink.error() != Status::Ok ? sink.error() : Status::GenericError;
    return Status::Ok;
  });
}

}  // namespace korvex::raster::ifd
