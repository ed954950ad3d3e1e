// A small dense float matrix with 1-based (row, column) access, for the numerical routines.
#pragma once

#include <cstddef>
#include <vector>

namespace tubefit {

class Matrix {
 public:
  Matrix() = default;
  Matrix(int rows, int cols) : rows_(rows), cols_(cols), v_(static_cast<std::size_t>(rows) * cols, 0.0f) {}

  int rows() const { return rows_; }
  int cols() const { return cols_; }
  float& operator()(int i, int j) { return v_[static_cast<std::size_t>(i - 1) * cols_ + (j - 1)]; }
  float operator()(int i, int j) const { return v_[static_cast<std::size_t>(i - 1) * cols_ + (j - 1)]; }
  void Fill(float value) { v_.assign(v_.size(), value); }

 private:
  int rows_ = 0;
  int cols_ = 0;
  std::vector<float> v_;
};

}  // namespace tubefit
