#pragma once

#include <cstddef>
#include <vector>

namespace lumet {

// Dense row-major matrix with a 0-based view (m[i][j], i and j from 0) and a 1-based view
// (m.At1(i, j), i and j from 1; m.Flat1(k), k from 1) of the same storage.
// Elements of a freshly allocated matrix are zero here (the callers fill what they use).
template <typename T>
class MatrixT {
 public:
  MatrixT() = default;
  MatrixT(int rows, int cols, T value) {
    Allocate(rows, cols);
    Fill(value);
  }
  MatrixT(const MatrixT& other) {
    Allocate(other.rows_, other.cols_);
    CopyFrom(other.Data());
  }
  MatrixT(MatrixT&& other) noexcept { *this = std::move(other); }
  MatrixT& operator=(const MatrixT& other) {
    if (this == &other || (Data() != nullptr && Data() == other.Data())) return *this;
    if (rows_ != other.rows_ || cols_ != other.cols_ || data_.empty()) {
      Release();
      Allocate(other.rows_, other.cols_);
    }
    CopyFrom(other.Data());
    return *this;
  }
  MatrixT& operator=(MatrixT&& other) noexcept {
    if (this == &other) return *this;
    rows_ = other.rows_;
    cols_ = other.cols_;
    size_ = other.size_;
    data_ = std::move(other.data_);
    row_ = std::move(other.row_);
    other.rows_ = other.cols_ = other.size_ = 0;
    other.data_.clear();
    other.row_.clear();
    return *this;
  }

  // Re-dimensions to rows x cols; held storage is released first.
  void Allocate(int rows, int cols) {
    Release();
    if (rows <= 0 || cols <= 0) return;
    rows_ = rows;
    cols_ = cols;
    size_ = rows * cols;
    data_.assign(static_cast<size_t>(size_), T{});
    row_.resize(static_cast<size_t>(rows));
    for (int i = 0; i < rows; ++i) row_[static_cast<size_t>(i)] = data_.data() + static_cast<size_t>(i) * static_cast<size_t>(cols);
  }
  void Release() {
    rows_ = cols_ = size_ = 0;
    data_.clear();
    data_.shrink_to_fit();
    row_.clear();
    row_.shrink_to_fit();
  }
  void Fill(T value) {
    for (auto& v : data_) v = value;
  }
  // Copies Size() elements from a flat row-major array.
  void CopyFrom(const T* source) {
    for (int k = 0; k < size_; ++k) data_[static_cast<size_t>(k)] = source[k];
  }

  int Rows() const { return rows_; }
  int Cols() const { return cols_; }
  int Size() const { return size_; }
  bool Empty() const { return size_ == 0; }

  T* Data() { return data_.empty() ? nullptr : data_.data(); }
  const T* Data() const { return data_.empty() ? nullptr : data_.data(); }

  // 0-based row table.
  T* operator[](int i) { return row_[static_cast<size_t>(i)]; }
  const T* operator[](int i) const { return row_[static_cast<size_t>(i)]; }

  // 1-based views.
  T& At1(int i, int j) { return row_[static_cast<size_t>(i - 1)][j - 1]; }
  const T& At1(int i, int j) const { return row_[static_cast<size_t>(i - 1)][j - 1]; }
  T& Flat1(int k) { return data_[static_cast<size_t>(k - 1)]; }
  const T& Flat1(int k) const { return data_[static_cast<size_t>(k - 1)]; }

 private:
  int rows_ = 0;
  int cols_ = 0;
  int size_ = 0;
  std::vector<T> data_;
  std::vector<T*> row_;
};

using Matrix = MatrixT<double>;
using FloatMatrix = MatrixT<float>;

// Vector of doubles with a 0-based (v[k]) and a 1-based (v.At1(k)) view.
class Vector {
 public:
  Vector() = default;
  explicit Vector(int n) { Allocate(n); }
  void Allocate(int n) {
    data_.assign(n > 0 ? static_cast<size_t>(n) : 0u, 0.0);
  }
  void Release() { data_.clear(); }
  void Fill(double value) {
    for (auto& v : data_) v = value;
  }
  void CopyFrom(const double* source) {
    for (size_t k = 0; k < data_.size(); ++k) data_[k] = source[k];
  }
  int Size() const { return static_cast<int>(data_.size()); }
  double* Data() { return data_.data(); }
  const double* Data() const { return data_.data(); }
  double& operator[](int k) { return data_[static_cast<size_t>(k)]; }
  const double& operator[](int k) const { return data_[static_cast<size_t>(k)]; }
  double& At1(int k) { return data_[static_cast<size_t>(k - 1)]; }
  const double& At1(int k) const { return data_[static_cast<size_t>(k - 1)]; }

 private:
  std::vector<double> data_;
};

// P = A x B, P[i][j] = sum over t = 0..A.Cols()-1 of A[i][t] * B[t][j], ascending t.
// Inner dimensions are not checked: callers pass B.Rows() == A.Cols().
Matrix Multiply(const Matrix& a, const Matrix& b);
// y = A x, y[i] = sum over t = 0..A.Cols()-1 of A[i][t] * x[t], ascending t.
Vector Multiply(const Matrix& a, const Vector& x);
Matrix Transpose(const Matrix& a);
// Gauss-Jordan elimination without pivoting and without any test of the pivot: a zero
// pivot yields infinite or not-a-number entries, returned without a flag.
Matrix Inverse(const Matrix& a);

}  // namespace lumet
