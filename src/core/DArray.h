// DArray<T, Lo, Hi>: a fixed array whose indices run from Lo to Hi inclusive.
//
// Tables of the suite keep the index ranges they were defined with (octave bands 1..10, third-octave bands
// 1..30, hourly values 0..23), so code reads a[k] with the index of the domain. operator[] catches an index out
// of range by an assertion in debug builds and through the checked std::array beneath in every build but
// Release; At() checks always and throws EListError.
#pragma once

#include <array>
#include <cassert>
#include <cstddef>
#include <initializer_list>
#include <string>

#include "core/Exceptions.h"

namespace vez {

template <typename T, int Lo, int Hi>
class DArray {
  static_assert(Hi >= Lo, "DArray needs Hi >= Lo");

public:
  using value_type = T;
  using iterator = typename std::array<T, Hi - Lo + 1>::iterator;
  using const_iterator = typename std::array<T, Hi - Lo + 1>::const_iterator;

  static constexpr int Low = Lo;
  static constexpr int High = Hi;
  static constexpr std::size_t Count = static_cast<std::size_t>(Hi - Lo + 1);

  constexpr DArray() : data_{} {}
  // Elements in index order, Lo first; missing trailing elements are value-initialised.
  constexpr DArray(std::initializer_list<T> values) : data_{} {
    assert(values.size() <= Count);
    std::size_t i = 0;
    for (const T& v : values) {
      if (i == Count) break;
      data_[i++] = v;
    }
  }

  constexpr T& operator[](int index) {
    assert(index >= Lo && index <= Hi);
    return data_[static_cast<std::size_t>(index - Lo)];
  }
  constexpr const T& operator[](int index) const {
    assert(index >= Lo && index <= Hi);
    return data_[static_cast<std::size_t>(index - Lo)];
  }
  T& At(int index) {
    Check(index);
    return data_[static_cast<std::size_t>(index - Lo)];
  }
  const T& At(int index) const {
    Check(index);
    return data_[static_cast<std::size_t>(index - Lo)];
  }

  static constexpr bool InRange(int index) { return index >= Lo && index <= Hi; }
  static constexpr std::size_t size() { return Count; }
  constexpr T* data() { return data_.data(); }
  constexpr const T* data() const { return data_.data(); }
  constexpr iterator begin() { return data_.begin(); }
  constexpr iterator end() { return data_.end(); }
  constexpr const_iterator begin() const { return data_.begin(); }
  constexpr const_iterator end() const { return data_.end(); }
  constexpr bool operator==(const DArray&) const = default;

private:
  static void Check(int index) {
    if (!InRange(index))
      throw EListError("Index " + std::to_string(index) + " out of bounds (" + std::to_string(Lo) + ".." +
                       std::to_string(Hi) + ")");
  }
  std::array<T, Count> data_;
};

}  // namespace vez
