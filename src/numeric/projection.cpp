#include "numeric/projection.h"

namespace lumet {

Matrix IdentityHomography() {
  Matrix m(3, 3, 0.0);
  m[0][0] = m[1][1] = m[2][2] = 1.0;
  return m;
}

}  // namespace lumet
