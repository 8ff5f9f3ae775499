#include "numeric/matrix.h"

namespace lumet {

Matrix Multiply(const Matrix& a, const Matrix& b) {
  Matrix p;
  p.Allocate(a.Rows(), b.Cols());
  for (int i = 0; i < a.Rows(); ++i) {
    for (int j = 0; j < b.Cols(); ++j) {
      double sum = 0.0;
      for (int t = 0; t < a.Cols(); ++t) sum += a[i][t] * b[t][j];
      p[i][j] = sum;
    }
  }
  return p;
}

Vector Multiply(const Matrix& a, const Vector& x) {
  Vector y(a.Rows());
  for (int i = 0; i < a.Rows(); ++i) {
    double sum = 0.0;
    for (int t = 0; t < a.Cols(); ++t) sum += a[i][t] * x[t];
    y[i] = sum;
  }
  return y;
}

Matrix Transpose(const Matrix& a) {
  Matrix t(a.Cols(), a.Rows(), 0.0);
  for (int i = 0; i < a.Rows(); ++i) {
    for (int j = 0; j < a.Cols(); ++j) t[j][i] = a[i][j];
  }
  return t;
}

Matrix Inverse(const Matrix& a) {
  Matrix w(a);
  const int n = w.Rows();
  for (int k = 0; k < n; ++k) {
    const double p = w[k][k];
    const double r = 1.0 / p;
    for (int j = 0; j < n; ++j) w[k][j] = r * w[k][j];
    w[k][k] = r;
    for (int i = 0; i < n; ++i) {
      if (i == k) continue;
      const double b = w[i][k];
      for (int j = 0; j < n; ++j) {
        if (j == k) {
          w[i][j] = (-1.0 / p) * b;
        } else {
          w[i][j] = w[i][j] - b * w[k][j];
        }
      }
    }
  }
  return w;
}

}  // namespace lumet
