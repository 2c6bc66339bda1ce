// Octree colour quantiser: colours are added one by one into a tree of eight
// levels (one bit of each channel per level); whenever the tree holds more
// leaves than the palette may have, the deepest node last entered is folded
// into a leaf that averages its children. The leaves give the palette.
//
// Nodes live in one flat array of fixed-size records that grows in steps of
// 1024, with released nodes on a free list that is used first, so adding
// millions of pixels allocates only a handful of times. Nodes waiting to be
// folded are kept on one stack per level, so a fold is a constant-time pop.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace korvex::reduce {

class OcTree {
 public:
  static constexpr int kMaxLevel = 8;

  struct Colour {
    uint8_t red, green, blue;
    friend bool operator==(const Colour&, const Colour&) = default;
  };

  // Empty tree: the root alone, no leaves, no palette. `shortcuts` lets a
  // pixel start from the last leaf or a cached level-4 node when that gives
  // the same walk; without them every pixel walks from the root (tests
  // compare the two).
  explicit OcTree(bool shortcuts = true);

  // Adds one pixel; then folds nodes while there are more than `max_leaves`
  // leaves and a node can be folded.
  void AddPixel(uint8_t b, uint8_t g, uint8_t r, int32_t max_leaves);
  // Adds `n` pixels of one colour, as n calls of AddPixel would.
  void AddRun(uint8_t b, uint8_t g, uint8_t r, uint64_t n, int32_t max_leaves);
  // Adds the pixels of a row of B, G, R(, A) bytes (`step` 3 or 4 bytes a
  // pixel) from right to left, as AddPixel would one by one.
  void AddRow(const uint8_t* row, int step, int32_t width, int32_t max_leaves);
  // Folds the deepest, most recently entered reducible node into a leaf.
  // False when no node is left to fold.
  bool Reduce();
  // Numbers the leaves depth first, children in index order, and makes the
  // palette of their average colours (integer division of the sums).
  void BuildPalette();
  // Palette index of a colour that was added (0 for one that was not).
  uint8_t PaletteIndex(uint8_t b, uint8_t g, uint8_t r) const;

  int32_t leaf_count() const { return leaves_; }
  const std::vector<Colour>& palette() const { return palette_; }
  // Records in the node array (grows in steps of 1024).
  size_t capacity() const { return nodes_.size(); }

  // Child slot of a colour at a level 1..8: 4 R + 2 G + B of the level's bit.
  static int ChildIndex(uint8_t b, uint8_t g, uint8_t r, int level) {
    const int shift = kMaxLevel - level;
    return ((r >> shift) & 1) << 2 | ((g >> shift) & 1) << 1 | ((b >> shift) & 1);
  }

  // Fills a table over the top five bits of each channel (index
  // r5 << 10 | g5 << 5 | b5): the palette index when the walk meets a leaf
  // within five levels, otherwise 0x100 + the level-5 node to go on from.
  void PrefixTable(std::vector<uint16_t>& table, std::vector<int32_t>& nodes) const;
  // Palette index of a colour, walking from the level-5 node `from`.
  uint8_t IndexFrom(int32_t from, uint8_t b, uint8_t g, uint8_t r) const;

 private:
  // Walks down from `from`, entered at `first_level`, to the colour's leaf:
  // its palette index, or 0 when the colour was never added.
  uint8_t Walk(int32_t from, int first_level, uint8_t b, uint8_t g, uint8_t r) const;

  struct Node {
    bool is_leaf = false;
    bool is_reducible = false;
    uint64_t pixel_count = 0;  // a leaf's pixels; an inner node's children
    uint64_t blue_sum = 0, green_sum = 0, red_sum = 0;
    std::array<int32_t, 8> children{};
    int32_t next = 0;  // link in a reducible stack or in the free list
    int32_t palette_index = 0;
    uint32_t generation = 0;  // counts releases, so stale shortcuts are seen
  };
  // Shortcut past the top levels: the node a colour's walk reached at level
  // kShortcutLevel, valid while that record has not been released since.
  static constexpr int kShortcutLevel = 4;
  struct Shortcut {
    int32_t node = 0;
    uint32_t generation = 0;
  };

  int32_t NewNode(int level);
  void AddToLeaf(int32_t n, int depth, uint8_t b, uint8_t g, uint8_t r);
  bool InLastLeaf(uint8_t b, uint8_t g, uint8_t r) const;
  template <int Step>
  void AddRowReversed(const uint8_t* row, int32_t width, int32_t max_leaves);
  void Number(int32_t node);

  std::vector<Node> nodes_;                         // record 0 unused; 1 is the root
  int32_t count_ = 1;                               // records handed out so far
  int32_t free_ = 0;                                // head of the free list
  std::array<int32_t, kMaxLevel + 1> reducible_{};  // stack heads by level
  int32_t leaves_ = 0;
  int32_t last_leaf_ = 0;  // leaf of the last pixel added, until a fold
  uint8_t last_b_ = 0, last_g_ = 0, last_r_ = 0;
  uint8_t last_mask_ = 0;  // the bits of each channel the last leaf fixes
  bool shortcuts_on_ = true;
  std::vector<Colour> palette_;
  std::vector<Shortcut> shortcuts_;  // by the top kShortcutLevel bits of R, G, B
};

}  // namespace korvex::reduce
