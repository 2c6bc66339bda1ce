// Document recognition: families of scanned documents (a form, the letters
// of one sender) learned from sample images, and new images told apart by
// the family they resemble most, with a relevance score of 0 to 100.
//
// An image is reduced to its signature: a 512-bin histogram of the 3 x 3
// black-pixel patterns centred on every third pixel of every third row, its
// area and the amount of black in its top third. A family keeps the running
// mean of the signatures it has learned. cRAD holds the families; it works
// on raster images and byte buffers, and leaves files to its caller.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "raster/image.h"
#include "raster/types.h"

namespace korvex::recognition {

inline constexpr int kBins = 512;

// One learned family. Values are the rounded means over `images` images.
struct Family {
  std::string name;  // UTF-8
  std::array<int32_t, kBins> histogram{};
  int32_t area = 0;       // mean width x height, in pixels
  int32_t top_black = 0;  // mean black count of the top third
  int32_t images = 0;     // images learned
  std::string tag;        // the caller's free text, UTF-8

  friend bool operator==(const Family&, const Family&) = default;
};

// The signature of one image.
struct Signature {
  std::array<int64_t, kBins> bins{};
  int64_t top_black = 1;  // starts at 1, so that a blank top third is not 0
  int64_t area = 0;       // width x height
};

// Pattern weights of the 3 x 3 cells, row by row from the top-left: outer
// cells count when opaque black (0xFF000000), the centre (weight 16) when
// its value is 0x00000000. Grid points sit at 1-based columns and rows 2, 5,
// 8 ... up to one before the last, so a page is covered once; the black
// cells of points above row round(height / 3) add to the top black count.
// Reuses `buffer` for converted rows (grown, never shrunk). Statuses: the
// pixel access's (WrongState for an image locked elsewhere).
raster::Status ComputeSignature(raster::Image& img, Signature& sig, std::vector<uint32_t>& buffer);

// round(|f.bin0 - bin0| / 10) plus the sum of |f.bin - bin| over bins 1..511:
// blank paper (pattern 0) weighs a tenth of a mark.
int64_t Distance(const Family& f, const Signature& sig);

// 0.65 x pattern likeness + 0.15 x area likeness + 0.2 x top-black
// likeness, each 0..100; 0 for a family that has learned nothing.
double Relevance(const Family& f, const Signature& sig);

// Learns a signature into a family: images + 1 = n, each value becomes
// round(((n - 1) x old + new) / n), halves to even, in 64-bit integers;
// values beyond the 32-bit range are kept at its top. ValueOverflow (and no
// change) when the family already counts 2^31 - 1 images.
raster::Status LearnInto(Family& f, const Signature& sig);

// Adds `from`'s images to `into` as if `into` had learned them too: counts
// add, values become the count-weighted means (rounded half to even).
raster::Status MergeInto(Family& into, const Family& from);

// The configuration file (little-endian): a 32-bit family count, then per
// family a 16-bit name length and the name's code page 1252 bytes, the 512
// histogram values, area, top black and images as 32-bit integers, and the
// tag as a 16-bit length and its bytes. A count below 1 means no families.
//
// ParseConfig checks every count and length against the bytes that remain
// (each family takes at least kMinFamilyBytes) before it allocates, refuses
// negative values (GenericError: the file is corrupt or truncated), ignores
// bytes after the last family and changes `out` only on success.
inline constexpr size_t kMinFamilyBytes = 2 + 4 * kBins + 3 * 4 + 2;
raster::Status ParseConfig(const uint8_t* data, size_t size, std::vector<Family>& out);
// ValueOverflow when a name or tag does not fit its 16-bit length.
raster::Status WriteConfig(const std::vector<Family>& families, std::vector<uint8_t>& out);

// The families, ids 1..count, and the last analysis.
class cRAD {
 public:
  int32_t count() const { return static_cast<int32_t>(families_.size()); }
  bool valid(int32_t id) const { return id >= 1 && id <= count(); }
  // Null for an invalid id.
  Family* family(int32_t id) {
    return valid(id) ? &families_[static_cast<size_t>(id - 1)] : nullptr;
  }
  const std::vector<Family>& families() const { return families_; }
  // Replaces every family (a loaded configuration, a learned folder).
  void set_families(std::vector<Family> families) { families_ = std::move(families); }

  // No families, buffers released.
  void NewConfig();
  // Appends a family with the name trimmed of spaces and zero values; its id.
  int32_t NewFamily(const std::string& name);
  // Removes a family; later ones move down one id. False for an invalid id.
  bool DeleteFamily(int32_t id);
  // Zero values and an empty tag; the name stays. False for an invalid id.
  bool ReinitFamily(int32_t id);
  // Id of the first family of that exact name, 0 when none.
  int32_t FindFamily(const std::string& name) const;

  // Analyses an image into the last signature.
  raster::Status Analyse(raster::Image& img);
  const Signature& last_signature() const { return last_; }
  // Analyses and learns into a family (InvalidParameter for an invalid id,
  // checked first); a failed analysis leaves the families unchanged.
  raster::Status Learn(raster::Image& img, int32_t id);
  // Analyses and returns the best family: highest relevance, the lower id
  // on a tie, 0 when there is no family. A failed analysis (or no image:
  // InvalidParameter) gives 0 and a last relevance of 0, and its status in
  // `status`.
  int32_t Classify(raster::Image* img, raster::Status& status);
  double last_relevance() const { return last_relevance_; }

  // Releases the pixel buffer and the families' spare storage; the families
  // themselves stay.
  void FreeMemory();

 private:
  std::vector<Family> families_;
  Signature last_;
  double last_relevance_ = 0;
  std::vector<uint32_t> buffer_;
};

}  // namespace korvex::recognition
