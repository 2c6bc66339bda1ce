// Image file directories: hand-built and hostile blocks, EXIF blocks written and read back.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <tuple>

#include "codec_test_util.h"
#include "raster/codecs/ifd/ifd.h"

namespace korvex {
namespace {

using namespace testutil;

using raster::PropertyItem;
using enum raster::Status;
using Items = std::vector<PropertyItem>;

// Lays out a TIFF-structured block byte by byte in either byte order.
struct Builder {
  bool be = false;
  Bytes d;
  void put(size_t at, uint64_t v, int n) {
    if (d.size() < at + n) d.resize(at + n);
    for (int i = 0; i < n; ++i) d[at + (be ? n - 1 - i : i)] = static_cast<uint8_t>(v >> (8 * i));
  }
  void header(uint32_t first) { put(0, be ? 0x4D4D : 0x4949, 2), put(2, 42, 2), put(4, first, 4); }
  // Entry i of the directory at `dir`; `value` is the data (n bytes) or its offset.
  void entry(size_t dir, int i, uint16_t tag, uint16_t type, uint32_t count, uint32_t value,
             int n = 4) {
    const size_t at = dir + 2 + 12 * static_cast<size_t>(i);
    put(at, tag, 2), put(at + 2, type, 2), put(at + 4, count, 4), put(at + 8, 0, 4);
    put(at + 8, value, n);
  }
  // A directory's entry count and entries, each as entry() takes them.
  void directory(size_t at,
                 std::initializer_list<std::tuple<int, int, uint32_t, uint32_t, int>> es) {
    put(at, es.size(), 2);
    int i = 0;
    for (const auto& [tag, type, count, value, n] : es) entry(at, i++, tag, type, count, value, n);
  }
};

Items read(const Bytes& block, uint64_t offset = 0, raster::Status expect = Ok) {
  Items items;
  EXPECT_EQ(raster::ifd::read_properties(block.data(), block.size(), offset, items), expect);
  return items;
}

Bytes ids(const Items& items) {  // low bytes of the ids, in order
  Bytes out;
  for (const auto& it : items) out.push_back(static_cast<uint8_t>(it.id));
  return out;
}

TEST(IfdRead, EveryTypeInBothByteOrdersComesBackLittleEndian) {
  for (bool be : {false, true}) {
    SCOPED_TRACE(be ? "MM" : "II");
    // As entry() takes them, then type and bytes read (0: skipped). SBYTE, SSHORT: file order.
    const std::tuple<uint16_t, uint16_t, uint32_t, uint32_t, int, uint16_t, Bytes> entries[] = {
        // clang-format off
        {0x0100, 3, 1, 640, 2, 3, {0x80, 0x02}},                       // SHORT in the entry
        {0x0101, 4, 1, 0x01020304, 4, 4, {4, 3, 2, 1}},                // LONG
        {0x010F, 2, 6, 200, 4, 2, {'M', 'a', 'k', 'e', 'r', 0}},       // ASCII at 200
        {0x011A, 5, 1, 210, 4, 5, {72, 0, 0, 0, 1, 0, 0, 0}},          // RATIONAL at 210
        {0x0200, 6, 3, 0x01FE0300, 4, 1, be ? Bytes{1, 0xFE, 3} : Bytes{0, 3, 0xFE}},  // SBYTE
        {0x0201, 8, 2, 0xFFFE0005, 4, 3, be ? Bytes{0xFE, 0xFF, 5, 0} : Bytes{5, 0, 0xFE, 0xFF}},
        {0x0202, 11, 1, 0x3F800000, 4, 7, {0, 0, 0x80, 0x3F}},         // FLOAT 1.0 -> UNDEFINED
        {0x0203, 12, 1, 220, 4, 7, {0, 0, 0, 0, 0, 0, 0xF0, 0x3F}},    // DOUBLE at 220 -> UNDEFINED
        {0x0204, 13, 1, 0x1234, 4, 4, {0x34, 0x12, 0, 0}},             // IFD -> LONG
        {0x0205, 99, 1, 7, 4, 0, {}},                                  // unknown type
        {0x0206, 1, 0, 0, 4, 0, {}},                                   // no values
        {0x9201, 10, 1, 228, 4, 10, {0xFD, 0xFF, 0xFF, 0xFF, 2, 0, 0, 0}},  // SRATIONAL at 228
        // clang-format on
    };
    Builder b{be, {}};
    b.header(8);
    b.put(8, std::size(entries), 2);
    Items expected;
    int i = 0;
    for (const auto& [tag, type, count, value, n, read_type, bytes] : entries) {
      b.entry(8, i++, tag, type, count, value, n);
      if (read_type != 0) expected.push_back({tag, read_type, bytes});
    }
    for (int k = 0; k < 6; ++k) b.put(200 + k, static_cast<uint8_t>("Maker"[k]), 1);
    b.put(210, 72, 4), b.put(214, 1, 4), b.put(220, 0x3FF0000000000000ull, 8);
    b.put(228, static_cast<uint32_t>(-3), 4), b.put(232, 2, 4);
    EXPECT_EQ(read(b.d), expected);
  }
}

TEST(IfdRead, FollowsSubDirectoriesOnceAndRefusesOrTrimsHostileBlocksWithoutOverreads) {
  // Main directory at 8 -> Exif at 100 (-> interop at 200) and GPS at 300.
  Builder b;
  b.header(8);
  b.directory(8, {{0x0110, 3, 1, 0x10, 2}, {0x8769, 4, 1, 100, 4}, {0x8825, 13, 1, 300, 4}});
  b.directory(100, {{0x9000, 7, 4, 0x30333230, 4}, {0xA005, 4, 1, 200, 4}});
  b.directory(200, {{0x0001, 2, 4, 0x00383952, 4}});  // "R98": same id as GPS's latitude ref
  b.directory(300, {{0x0001, 2, 2, 'N', 4}, {0x0002, 3, 1, 0x02, 2}});
  const Bytes linked = b.d;
  // Main, Exif, GPS, then interop, whose id 1 loses to GPS's; no pointer tags.
  const Items items = read(b.d);
  EXPECT_EQ(ids(items), (Bytes{0x10, 0x00, 0x01, 0x02}));
  EXPECT_EQ(items[2].value, (Bytes{'N', 0}));
  EXPECT_EQ(ids(read(b.d, 100)), (Bytes{0x00, 0x01}));  // from the Exif directory down
  // Interop points at itself, Exif back at the main directory.
  b.entry(200, 0, 0xA005, 4, 1, 200);
  b.put(100, 3, 2);
  b.entry(100, 2, 0x8769, 4, 1, 8);
  EXPECT_EQ(ids(read(b.d)), (Bytes{0x10, 0x00, 0x01, 0x02}));

  for (const Bytes& bad :
       {Bytes{'I', 'I', 43, 0, 8, 0, 0, 0}, Bytes{'X', 'X', 42, 0, 8, 0, 0, 0}}) {
    EXPECT_TRUE(read(bad, 0, GenericError).empty());
  }
  EXPECT_TRUE(read(linked, 5000, GenericError).empty());
  b.d = linked;
  b.entry(8, 2, 0x8825, 4, 1, 0xFFFFFFF0);    // GPS directory outside: ignored
  b.entry(100, 0, 0x9000, 7, 0xFFFFFFFF, 0);  // absurd count: skipped
  b.entry(200, 0, 0x010F, 2, 40, 320);        // runs past the end: skipped
  EXPECT_EQ(ids(read(b.d)), Bytes{0x10});
  b.put(8, 60000, 2);  // far more entries than fit: the ones inside are read
  EXPECT_EQ(ids(read(b.d)), Bytes{0x10});

  // Every prefix in an exact-size buffer: entries of main, Exif, interop (until GPS's id 1
  // replaces it) and GPS's second appear one by one.
  for (size_t n = 0; n <= linked.size(); ++n) {
    const std::unique_ptr<uint8_t[]> copy(new uint8_t[n + 1]);
    std::copy(linked.begin(), linked.begin() + n, copy.get());
    Items prefix;
    EXPECT_EQ(raster::ifd::read_properties(copy.get(), n, 0, prefix), n < 22 ? GenericError : Ok)
        << n;
    EXPECT_EQ(prefix.size(), size_t{n >= 22} + (n >= 114) + (n >= 214) + (n >= 326)) << n;
  }
}

TEST(IfdRead, BigTiffDirectories) {
  Builder b;
  b.put(0, 0x4949, 2), b.put(2, 43, 2), b.put(4, 8, 2), b.put(8, 16, 8), b.put(16, 2, 8);
  b.put(24, 0x0100, 2), b.put(26, 16, 2), b.put(28, 1, 8), b.put(36, 5000000000ull, 8);  // LONG8
  b.put(44, 0x0131, 2), b.put(46, 2, 2), b.put(48, 9, 8), b.put(56, 100, 8);
  for (int i = 0; i < 9; ++i) b.put(100 + i, static_cast<uint8_t>("BigWrite"[i]), 1);
  // LONG8 has no property type.
  EXPECT_EQ(read(b.d), (Items{{0x0131, 2, Bytes{'B', 'i', 'g', 'W', 'r', 'i', 't', 'e', 0}}}));
}

TEST(IfdWrite, KnownLayoutAndRoundTripThroughEveryDirectory) {
  Bytes block;
  ASSERT_EQ(raster::ifd::write_exif_block({{0x0131, 2, {'K', 'o', 'r', 'v', 'e', 'x', 0}}}, block),
            Ok);
  EXPECT_EQ(block, (Bytes{'I', 'I', 42, 0, 8, 0, 0, 0, 1, 0,   0x31, 1,   2,   0,   7,   0, 0,
                          0,   26,  0,  0, 0, 0, 0, 0, 0, 'K', 'o',  'r', 'v', 'e', 'x', 0, 0}));

  const Items items = {
      {0x0132, 2, {'2', '0', '2', '4', 0}},
      {0x9000, 7, {'0', '2', '3', '0'}},
      {0x0002, 5, {51, 0, 0, 0, 1, 0, 0, 0, 30, 0, 0, 0, 1, 0, 0, 0, 0, 0, 0, 0, 1, 0, 0, 0}},
      {0x010F, 2, {'M', 'a', 'k', 'e', 'r', 0}},
      {0x829A, 5, {1, 0, 0, 0, 125, 0, 0, 0}},
      {0x5100, 4, {100, 0, 0, 0}},  // frame delay: in-memory only
      {0x0111, 4, {8, 0, 0, 0}},    // strip offsets of another file
      {0x8769, 4, {0, 0, 0, 0}},    // pointers are the writer's own
      {0x0112, 3, {1, 0, 0}},       // not a whole number of SHORTs
      {0x0113, 6, {1}},             // not a writable type
      {0x0000, 1, {2, 3, 0, 0}},
  };
  ASSERT_EQ(raster::ifd::write_exif_block(items, block), Ok);
  // Main directory sorted, then the Exif directory, then GPS.
  EXPECT_EQ(read(block), (Items{items[3], items[0], items[4], items[1], items[10], items[2]}));
  ASSERT_EQ(raster::ifd::write_exif_block({items[5], items[8]}, block), Ok);
  EXPECT_TRUE(block.empty());
}

// Interoperability items (ids 1 and 2, as GPS's) used to be written among the GPS tags.
TEST(IfdWrite, InteroperabilityItemsGoBackToTheirOwnDirectory) {
  PropertyItem index{0x0001, 2, {'R', '9', '8', 0}};
  index.directory = PropertyItem::kDirectoryInterop;
  const Items items = {index, {0x0001, 2, {'N', 0}}};
  Bytes block;
  ASSERT_EQ(raster::ifd::write_exif_block(items, block), Ok);
  // GPS is read before interoperability, so its id 1 is the one listed...
  EXPECT_EQ(read(block), Items{items[1]});
  // ...and without GPS the index comes back from an interoperability directory.
  ASSERT_EQ(raster::ifd::write_exif_block({index}, block), Ok);
  EXPECT_EQ(read(block), Items{index});
}

TEST(IfdWrite, ItemsAddedToATiffDirectoryLeaveTheEncodersTagsAlone) {
  // A one-entry TIFF: ImageWidth 7 (as an encoder wrote it), then a second directory.
  // clang-format off
  const Bytes file = {'I', 'I', 42, 0, 8, 0, 0, 0,  // header
                      1, 0, 0, 1, 3, 0, 1, 0, 0, 0, 7, 0, 0, 0, 26, 0, 0, 0,
                      1, 0, 0, 1, 3, 0, 1, 0, 0, 0, 9, 0, 0, 0, 0, 0, 0, 0};
  // clang-format on
  const Items items = {
      {0x0100, 3, {99, 0}},                    // the encoder's wins
      {0x0103, 3, {5, 0}},                     // compression: the encoder's own
      {0x013B, 2, {'J', 'o', 0}},              // main
      {0x829A, 5, {1, 0, 0, 0, 60, 0, 0, 0}},  // Exif
      {0x0002, 5, {1, 0, 0, 0, 1, 0, 0, 0}},   // GPS
  };
  // Adds `items` to directory `index` of a sink holding `start`; returns the bytes.
  auto add = [&items](const Bytes& start, uint32_t index, raster::Status expect) {
    Bytes bytes;
    raster::MemorySink sink(bytes);
    sink.write(start.data(), start.size());
    EXPECT_EQ(raster::ifd::add_to_tiff_directory(sink, index, items), expect);
    return bytes;
  };
  const Bytes bytes = add(file, 1, Ok);
  EXPECT_EQ(read(bytes), (Items{{0x0100, 3, {7, 0}}}));
  // The first directory's next offset now names the rewritten second one.
  const uint32_t second = bytes[22] | bytes[23] << 8 | bytes[24] << 16 | bytes[25] << 24;
  EXPECT_EQ(second, file.size());
  EXPECT_EQ(read(bytes, second), (Items{{0x0100, 3, {9, 0}}, items[2], items[3], items[4]}));
  // No such directory, or not a little-endian TIFF: refused, the bytes left alone.
  for (uint32_t index : {2u, 70000u}) EXPECT_EQ(add(file, index, GenericError), file);
  add({'M', 'M', 0, '*', 0, 0, 0, 8}, 0, GenericError);
}

}  // namespace
}  // namespace korvex
