// Array: the one array type of the API for arrays that members re-dimension
// (byte arrays of encoded images, pixel arrays, palettes, point lists).
//
// It carries one to three dimensions, each with its own lower bound; the
// first index runs fastest in memory. Arrays of one dimension with lower
// bound 0 behave like a plain vector.
#pragma once

#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <stdexcept>
#include <utility>
#include <vector>

namespace korvex {

template <typename T>
class Array {
 public:
  struct Bounds {
    int32_t lower;
    int32_t upper;
  };

  Array() = default;
  // One dimension, 0 .. n-1, holding a copy of the values.
  explicit Array(std::vector<T> values) : data_(std::move(values)) {
    if (!data_.empty()) dims_ = {{0, static_cast<int32_t>(data_.size()) - 1}};
  }

  // Re-dimensions to the given bounds (one to three); contents are zeroed.
  // Throws std::length_error for an upper bound below its lower bound minus
  // one or more than three dimensions.
  void Redim(std::initializer_list<Bounds> bounds) {
    if (bounds.size() == 0 || bounds.size() > 3)
      throw std::length_error("Array: 1 to 3 dimensions");
    size_t n = 1;
    for (const Bounds& b : bounds) {
      const int64_t count = static_cast<int64_t>(b.upper) - b.lower + 1;
      if (count < 0) throw std::length_error("Array: upper bound below lower bound");
      n *= static_cast<size_t>(count);
    }
    dims_.assign(bounds.begin(), bounds.end());
    data_.assign(n, T{});
  }
  void Erase() {
    dims_.clear();
    data_.clear();
  }

  int32_t Dims() const { return static_cast<int32_t>(dims_.size()); }
  // Bounds of dimension d (1-based); an empty array has LBound 0 and UBound -1.
  int32_t LBound(int d = 1) const { return valid(d) ? dims_[d - 1].lower : 0; }
  int32_t UBound(int d = 1) const { return valid(d) ? dims_[d - 1].upper : -1; }
  int32_t Count(int d = 1) const { return UBound(d) - LBound(d) + 1; }

  size_t size() const { return data_.size(); }
  bool empty() const { return data_.empty(); }
  T* data() { return data_.data(); }
  const T* data() const { return data_.data(); }
  std::vector<T>& values() { return data_; }
  const std::vector<T>& values() const { return data_; }

  T& operator()(int32_t i) { return data_.at(index({i})); }
  T& operator()(int32_t i, int32_t j) { return data_.at(index({i, j})); }
  T& operator()(int32_t i, int32_t j, int32_t k) { return data_.at(index({i, j, k})); }
  const T& operator()(int32_t i) const { return data_.at(index({i})); }
  const T& operator()(int32_t i, int32_t j) const { return data_.at(index({i, j})); }
  const T& operator()(int32_t i, int32_t j, int32_t k) const { return data_.at(index({i, j, k})); }

 private:
  bool valid(int d) const { return d >= 1 && d <= Dims(); }
  size_t index(std::initializer_list<int32_t> at) const {
    if (at.size() != dims_.size()) throw std::out_of_range("Array: wrong number of indices");
    size_t pos = 0, stride = 1;
    size_t d = 0;
    for (int32_t i : at) {
      const Bounds& b = dims_[d++];
      if (i < b.lower || i > b.upper) throw std::out_of_range("Array: index out of bounds");
      pos += static_cast<size_t>(i - b.lower) * stride;
      stride *= static_cast<size_t>(b.upper - b.lower + 1);
    }
    return pos;
  }

  std::vector<Bounds> dims_;
  std::vector<T> data_;
};

}  // namespace korvex
