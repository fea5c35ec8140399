// A view that lets the routines read a caller's vector with its 1-based indices (element i at p[i - 1]).
#pragma once

#include <cstdint>

namespace vez::detail {

template <typename T>
class OneBasedView {
public:
  explicit OneBasedView(T* first) : first_(first) {}
  T& operator[](int32_t i) const { return first_[i - 1]; }

private:
  T* first_;
};

using OneBased = OneBasedView<double>;
using OneBasedConst = OneBasedView<const double>;

}  // namespace vez::detail
