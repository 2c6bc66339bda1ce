// Families of documents: running means, distance, relevance and
// classification.
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <limits>
#include <string>
#include <vector>

#include "raster/guard.h"
#include "raster/rounding.h"
#include "raster/strings.h"
#include "recognition/rad.h"

namespace korvex::recognition {

namespace {

constexpr int64_t kInt32Max = std::numeric_limits<int32_t>::max();

int32_t saturate(int64_t v) {
  return static_cast<int32_t>(std::clamp<int64_t>(v, 0, kInt32Max));
}

// round(num / den) for num >= 0, den > 0, halves to even.
int64_t divide_half_even(int64_t num, int64_t den) {
  int64_t q = num / den;
  const int64_t r2 = 2 * (num % den);  // below 2 den, no overflow
  if (r2 > den || (r2 == den && (q & 1) != 0)) ++q;
  return q;
}

// round((a x na + b x nb) / (na + nb)) for values and counts of 32 bits:
// each product stays below 2^62, their sum below 2^63.
int32_t weighted_mean(int64_t a, int64_t na, int64_t b, int64_t nb) {
  return saturate(divide_half_even(a * na + b * nb, na + nb));
}

}  // namespace

int64_t Distance(const Family& f, const Signature& sig) {
  // |f.bin0 - bin0| / 10 rounded half to even, in integers.
  int64_t d = divide_half_even(std::llabs(f.histogram[0] - sig.bins[0]), 10);
  for (int i = 1; i < kBins; ++i) d += std::llabs(f.histogram[i] - sig.bins[i]);
  return d;
}

double Relevance(const Family& f, const Signature& sig) {
  // A family without images has no means to compare with (its area of 0
  // would divide by zero).
  if (f.images <= 0 || f.area <= 0) return 0.0;
  const double area = f.area;
  const double limit = area / 9.0;
  const auto d = static_cast<double>(Distance(f, sig));
  const double patterns = limit >= d ? (1.0 - d / limit) * 100.0 : 0.0;
  const auto own = static_cast<double>(sig.area);
  const double size = std::min(own, area) / std::max(own, area) * 100.0;
  const auto top = static_cast<double>(sig.top_black);
  const double family_top = f.top_black;
  const double most = std::max(top, family_top);
  const double black = most > 0 ? std::min(top, family_top) / most * 100.0 : 0.0;
  return 0.65 * patterns + 0.15 * size + 0.2 * black;
}

raster::Status LearnInto(Family& f, const Signature& sig) {
  if (f.images >= kInt32Max) return raster::Status::ValueOverflow;
  const int64_t n = static_cast<int64_t>(f.images) + 1;
  if (n == 1) {
    f.area = saturate(sig.area);
    f.top_black = saturate(sig.top_black);
    for (int i = 0; i < kBins; ++i) f.histogram[i] = saturate(sig.bins[i]);
  } else {
    f.area = weighted_mean(f.area, n - 1, saturate(sig.area), 1);
    f.top_black = weighted_mean(f.top_black, n - 1, saturate(sig.top_black), 1);
    for (int i = 0; i < kBins; ++i)
      f.histogram[i] = weighted_mean(f.histogram[i], n - 1, saturate(sig.bins[i]), 1);
  }
  f.images = static_cast<int32_t>(n);
  return raster::Status::Ok;
}

raster::Status MergeInto(Family& into, const Family& from) {
  const int64_t n = static_cast<int64_t>(into.images) + from.images;
  if (n > kInt32Max) return raster::Status::ValueOverflow;
  if (into.tag.empty()) into.tag = from.tag;
  if (from.images == 0) return raster::Status::Ok;
  if (into.images == 0) {
    into.histogram = from.histogram;
    into.area = from.area;
    into.top_black = from.top_black;
  } else {
    into.area = weighted_mean(into.area, into.images, from.area, from.images);
    into.top_black = weighted_mean(into.top_black, into.images, from.top_black, from.images);
    for (int i = 0; i < kBins; ++i)
      into.histogram[i] =
          weighted_mean(into.histogram[i], into.images, from.histogram[i], from.images);
  }
  into.images = static_cast<int32_t>(n);
  return raster::Status::Ok;
}

void cRAD::NewConfig() {
  std::vector<Family>().swap(families_);
  std::vector<uint32_t>().swap(buffer_);
  last_ = Signature{};
  last_relevance_ = 0;
}

int32_t cRAD::NewFamily(const std::string& name) {
  Family f;
  f.name = TrimSpaces(name);
  families_.push_back(std::move(f));
  return count();
}

bool cRAD::DeleteFamily(int32_t id) {
  if (!valid(id)) return false;
  families_.erase(families_.begin() + (id - 1));
  return true;
}

bool cRAD::ReinitFamily(int32_t id) {
  Family* f = family(id);
  if (f == nullptr) return false;
  Family fresh;
  fresh.name = std::move(f->name);
  *f = std::move(fresh);
  return true;
}

int32_t cRAD::FindFamily(const std::string& name) const {
  for (size_t i = 0; i < families_.size(); ++i) {
    if (families_[i].name == name) return static_cast<int32_t>(i + 1);
  }
  return 0;
}

raster::Status cRAD::Analyse(raster::Image& img) {
  return raster::guarded([&] { return ComputeSignature(img, last_, buffer_); });
}

raster::Status cRAD::Learn(raster::Image& img, int32_t id) {
  Family* f = family(id);
  if (f == nullptr) return raster::Status::InvalidParameter;
  if (const raster::Status st = Analyse(img); st != raster::Status::Ok) return st;
  return LearnInto(*f, last_);
}

int32_t cRAD::Classify(raster::Image* img, raster::Status& status) {
  last_relevance_ = 0;
  status = img == nullptr ? raster::Status::InvalidParameter : Analyse(*img);
  if (status != raster::Status::Ok) return 0;
  int32_t best = 0;
  double best_relevance = -1.0;
  for (int32_t id = 1; id <= count(); ++id) {
    const double r = Relevance(families_[static_cast<size_t>(id - 1)], last_);
    if (r > best_relevance) {
      best = id;
      best_relevance = r;
    }
  }
  last_relevance_ = best == 0 ? 0.0 : best_relevance;
  return best;
}

void cRAD::FreeMemory() {
  std::vector<uint32_t>().swap(buffer_);
  families_.shrink_to_fit();
}

}  // namespace korvex::recognition
