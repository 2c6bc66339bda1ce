#include "processing/octree.h"

namespace korvex::reduce {

namespace {
constexpr int32_t kGrowth = 1024;
constexpr int kPrefixLevels = 5;
}  // namespace

OcTree::OcTree() : nodes_(kGrowth) {}

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
  node = Node{};
  node.is_leaf = level == kMaxLevel;
  return n;
}

void OcTree::AddPixel(uint8_t b, uint8_t g, uint8_t r, int32_t max_leaves) {
  if (last_leaf_ != 0 && b == last_b_ && g == last_g_ && r == last_r_) {
    // A run of one colour ends in the same leaf, which already counts.
    Node& leaf = nodes_[static_cast<size_t>(last_leaf_)];
    ++leaf.pixel_count;
    leaf.blue_sum += b;
    leaf.green_sum += g;
    leaf.red_sum += r;
  } else {
    int32_t node = 1;
    for (int level = 1;; ++level) {
      const int idx = ChildIndex(b, g, r, level);
      int32_t child = nodes_[static_cast<size_t>(node)].children[static_cast<size_t>(idx)];
      if (child == 0) {
        child = NewNode(level);  // may move the records
        nodes_[static_cast<size_t>(node)].children[static_cast<size_t>(idx)] = child;
        ++nodes_[static_cast<size_t>(node)].pixel_count;
      }
      Node& c = nodes_[static_cast<size_t>(child)];
      if (c.is_leaf) {
        if (c.pixel_count == 0) ++leaves_;
        ++c.pixel_count;
        c.blue_sum += b;
        c.green_sum += g;
        c.red_sum += r;
        last_leaf_ = child;
        last_b_ = b;
        last_g_ = g;
        last_r_ = r;
        break;
      }
      if (!c.is_reducible) {
        c.is_reducible = true;
        c.next = reducible_[static_cast<size_t>(level)];
        reducible_[static_cast<size_t>(level)] = child;
      }
      node = child;
    }
  }
  while (leaves_ > max_leaves) {
    if (!Reduce()) break;
  }
}

void OcTree::AddRun(uint8_t b, uint8_t g, uint8_t r, uint64_t n, int32_t max_leaves) {
  while (n > 0) {
    if (last_leaf_ != 0 && b == last_b_ && g == last_g_ && r == last_r_) {
      // The colour's leaf already counts and exists: the rest of the run
      // adds neither leaves nor folds.
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
  int32_t node = from;
  for (int level = kPrefixLevels + 1; level <= kMaxLevel; ++level) {
    const int32_t child =
        nodes_[static_cast<size_t>(node)].children[static_cast<size_t>(ChildIndex(b, g, r, level))];
    if (child == 0) return 0;
    const Node& c = nodes_[static_cast<size_t>(child)];
    if (c.is_leaf) return static_cast<uint8_t>(c.palette_index);
    node = child;
  }
  return 0;
}

uint8_t OcTree::PaletteIndex(uint8_t b, uint8_t g, uint8_t r) const {
  int32_t node = 1;
  for (int level = 1; level <= kMaxLevel; ++level) {
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
