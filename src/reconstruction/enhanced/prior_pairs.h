#pragma once

namespace lumet::detail {

// The prior's pair terms along one row for one shift: for i < count, with d = a[i] - b[i]
// and root = sqrt(d^2 + ep^2), slope[i] = weight * d / root (the term's derivative in a[i]);
// returns the sum of weight * (root - ep), taken in four partial sums (i % 4, the tail in
// the first) added pairwise. One body, compiled for each instruction set
// (prior_pairs_kernel.inc); every variant gives the same values bit for bit (no fused
// multiply-add; square root and division are correctly rounded in every width).
using PriorPairsFunction = double (*)(const double* a, const double* b, int count, double weight, double ep,
                                      double* slope);

// The variant of the active instruction set (numeric/simd.h).
PriorPairsFunction ActivePriorPairs();

extern const PriorPairsFunction kPriorPairsBaseline;
extern const PriorPairsFunction kPriorPairsAvx2;

}  // namespace lumet::detail
