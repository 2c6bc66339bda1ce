#include "processing/octree.h"

namespace korvex::reduce {

namespace {
constexpr int32_t kGrowth = 1024;
constexpr int kPrefixLevels = 5;
}  // namespace

OcTree::OcTree(bool shortcuts)
    : nodes_(kGrowth), shortcuts_on_(shortcuts), shortcuts_(size_t{1} << (3 * kShortcutLevel)) {}

int32_t OcTree::NewNode(int level) {
  int32_t n;
  if (free_ != 0) {
    n = free_;
    free_ = nodes_[static_cast<size_t>(n)].next;
  } else {
    n = ++count_;
    if (static_cast<size_t>(n) >= nodes_.size()) nodes_.resize(nodes_.size() + kGrowth);
  }
  Node& node = nodes_[static_cast<size_t>(n)];
  const uint32_t generation = node.generation;
  node = Node{};
  node.generation = generation;
  node.is_leaf = level == kMaxLevel;
  return n;
}

void OcTree::AddToLeaf(int32_t n, int depth, uint8_t b, uint8_t g, uint8_t r) {
  Node& leaf = nodes_[static_cast<size_t>(n)];
  if (leaf.pixel_count == 0) ++leaves_;
  ++leaf.pixel_count;
  leaf.blue_sum += b;
  leaf.green_sum += g;
  leaf.red_sum += r;
  last_leaf_ = n;
  last_mask_ = static_cast<uint8_t>(0xFF << (kMaxLevel - depth));
  last_b_ = b;
  last_g_ = g;
  last_r_ = r;
}

bool OcTree::InLastLeaf(uint8_t b, uint8_t g, uint8_t r) const {
  // A leaf at depth d holds every colour whose top d bits it shares; it
  // stays where it is until a fold, which clears last_leaf_. Its ancestors
  // are on their stacks already and its count is not zero, so such a pixel
  // changes neither the leaf count nor the stacks.
  return shortcuts_on_ && last_leaf_ != 0 &&
         (((b ^ last_b_) | (g ^ last_g_) | (r ^ last_r_)) & last_mask_) == 0;
}

void OcTree::AddPixel(uint8_t b, uint8_t g, uint8_t r, int32_t max_leaves) {
  if (InLastLeaf(b, g, r)) {
    Node& leaf = nodes_[static_cast<size_t>(last_leaf_)];
    ++leaf.pixel_count;
    leaf.blue_sum += b;
    leaf.green_sum += g;
    leaf.red_sum += r;
    return;
  }
  // A node on the colour's path at level kShortcutLevel that has not been
  // released still has every ancestor, each already on its reducible stack,
  // so the walk may start there: the same leaf is reached.
  constexpr int kDrop = kMaxLevel - kShortcutLevel;
  Shortcut& cut = shortcuts_[(uint32_t{r} >> kDrop) << (2 * kShortcutLevel) |
                             (uint32_t{g} >> kDrop) << kShortcutLevel | (uint32_t{b} >> kDrop)];
  int32_t node = 1;
  int level = 1;
  if (shortcuts_on_ && cut.node != 0 &&
      nodes_[static_cast<size_t>(cut.node)].generation == cut.generation) {
    if (nodes_[static_cast<size_t>(cut.node)].is_leaf) {
      AddToLeaf(cut.node, kShortcutLevel, b, g, r);
      level = kMaxLevel + 1;  // done
    } else {
      node = cut.node;
      level = kShortcutLevel + 1;
    }
  }
  for (; level <= kMaxLevel; ++level) {
    const int idx = ChildIndex(b, g, r, level);
    int32_t child = nodes_[static_cast<size_t>(node)].children[static_cast<size_t>(idx)];
    if (child == 0) {
      child = NewNode(level);  // may move the records
      nodes_[static_cast<size_t>(node)].children[static_cast<size_t>(idx)] = child;
      ++nodes_[static_cast<size_t>(node)].pixel_count;
    }
    Node& c = nodes_[static_cast<size_t>(child)];
    if (level == kShortcutLevel) cut = {child, c.generation};
    if (c.is_leaf) {
      AddToLeaf(child, level, b, g, r);
      break;
    }
    if (!c.is_reducible) {
      c.is_reducible = true;
      c.next = reducible_[static_cast<size_t>(level)];
      reducible_[static_cast<size_t>(level)] = child;
    }
    node = child;
  }
  while (leaves_ > max_leaves) {
    if (!Reduce()) break;
  }
}

void OcTree::AddRun(uint8_t b, uint8_t g, uint8_t r, uint64_t n, int32_t max_leaves) {
  while (n > 0) {
    if (InLastLeaf(b, g, r)) {
      // The rest of the run adds neither leaves nor folds.
      Node& leaf = nodes_[static_cast<size_t>(last_leaf_)];
      leaf.pixel_count += n;
      leaf.blue_sum += n * b;
      leaf.green_sum += n * g;
      leaf.red_sum += n * r;
      return;
    }
    AddPixel(b, g, r, max_leaves);
    --n;
  }
}

template <int Step>
void OcTree::AddRowReversed(const uint8_t* row, int32_t width, int32_t max_leaves) {
  for (int32_t x = width - 1; x >= 0; --x) {
    const uint8_t* p = row + static_cast<ptrdiff_t>(x) * Step;
    if (InLastLeaf(p[0], p[1], p[2])) {
      Node& leaf = nodes_[static_cast<size_t>(last_leaf_)];
      ++leaf.pixel_count;
      leaf.blue_sum += p[0];
      leaf.green_sum += p[1];
      leaf.red_sum += p[2];
    } else {
      AddPixel(p[0], p[1], p[2], max_leaves);
    }
  }
}

void OcTree::AddRow(const uint8_t* row, int step, int32_t width, int32_t max_leaves) {
  if (step == 3) {
    AddRowReversed<3>(row, width, max_leaves);
  } else {
    AddRowReversed<4>(row, width, max_leaves);
  }
}

bool OcTree::Reduce() {
  int level = kMaxLevel;
  while (level >= 1 && reducible_[static_cast<size_t>(level)] == 0) --level;
  if (level < 1) return false;
  const int32_t n = reducible_[static_cast<size_t>(level)];
  Node& node = nodes_[static_cast<size_t>(n)];
  reducible_[static_cast<size_t>(level)] = node.next;
  node.next = 0;
  uint64_t pixels = 0, bs = 0, gs = 0, rs = 0;
  int32_t merged = 0;
  for (int32_t& child : node.children) {
    if (child == 0) continue;
    Node& c = nodes_[static_cast<size_t>(child)];
    pixels += c.pixel_count;
    bs += c.blue_sum;
    gs += c.green_sum;
    rs += c.red_sum;
    c.next = free_;
    ++c.generation;
    free_ = child;
    child = 0;
    ++merged;
  }
  node.pixel_count = pixels;
  node.blue_sum = bs;
  node.green_sum = gs;
  node.red_sum = rs;
  node.is_leaf = true;
  leaves_ += 1 - merged;
  last_leaf_ = 0;
  return true;
}

void OcTree::Number(int32_t n) {
  Node& node = nodes_[static_cast<size_t>(n)];
  if (node.is_leaf) {
    // At most 256 leaves survive the folds; a count of zero cannot occur
    // for a leaf that exists, but is guarded all the same.
    if (palette_.size() >= 256 || node.pixel_count == 0) return;
    node.palette_index = static_cast<int32_t>(palette_.size());
    palette_.push_back({static_cast<uint8_t>(node.red_sum / node.pixel_count),
                        static_cast<uint8_t>(node.green_sum / node.pixel_count),
                        static_cast<uint8_t>(node.blue_sum / node.pixel_count)});
    return;
  }
  for (int32_t child : node.children) {
    if (child != 0) Number(child);
  }
}

void OcTree::BuildPalette() {
  palette_.clear();
  Number(1);
}

uint8_t OcTree::IndexFrom(int32_t from, uint8_t b, uint8_t g, uint8_t r) const {
  return Walk(from, kPrefixLevels + 1, b, g, r);
}

uint8_t OcTree::PaletteIndex(uint8_t b, uint8_t g, uint8_t r) const {
  return Walk(1, 1, b, g, r);
}

uint8_t OcTree::Walk(int32_t from, int first_level, uint8_t b, uint8_t g, uint8_t r) const {
  int32_t node = from;
  for (int level = first_level; level <= kMaxLevel; ++level) {
    const int32_t child =
        nodes_[static_cast<size_t>(node)].children[static_cast<size_t>(ChildIndex(b, g, r, level))];
    if (child == 0) return 0;
    const Node& c = nodes_[static_cast<size_t>(child)];
    if (c.is_leaf) return static_cast<uint8_t>(c.palette_index);
    node = child;
  }
  return 0;
}

void OcTree::PrefixTable(std::vector<uint16_t>& table, std::vector<int32_t>& nodes) const {
  constexpr int kBits = kPrefixLevels;
  table.assign(size_t{1} << (3 * kBits), 0);
  nodes.clear();
  for (uint32_t key = 0; key < table.size(); ++key) {
    // The prefix bits stand at the top of each channel.
    const auto r = static_cast<uint8_t>(((key >> (2 * kBits)) & 31) << (8 - kBits));
    const auto g = static_cast<uint8_t>(((key >> kBits) & 31) << (8 - kBits));
    const auto b = static_cast<uint8_t>((key & 31) << (8 - kBits));
    int32_t node = 1;
    uint16_t value = 0;  // prefixes no pixel had map to 0; they are never looked up
    for (int level = 1; level <= kBits; ++level) {
      const int32_t child = nodes_[static_cast<size_t>(node)]
                                .children[static_cast<size_t>(ChildIndex(b, g, r, level))];
      if (child == 0) break;
      const Node& c = nodes_[static_cast<size_t>(child)];
      if (c.is_leaf) {
        value = static_cast<uint16_t>(c.palette_index);
        break;
      }
      if (level == kBits) {
        value = static_cast<uint16_t>(256 + nodes.size());
        nodes.push_back(child);
      }
      node = child;
    }
    table[key] = value;
  }
}

}  // namespace korvex::reduce
