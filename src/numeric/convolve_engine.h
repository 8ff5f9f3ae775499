#pragma once

// The register-blocked inner loops of the two-dimensional filters, one copy per instruction
// set. Internal to numeric/ and registration/: callers use ConvolveMirror and SmoothInterior.
// The variant translation units include nothing of the standard library, so no inline
// function compiled for a wider instruction set can be linked into code that runs anywhere.

namespace lumet::detail {

// One filter pass. Output pixel (c, r), for r in the rows handed to the kernel and
// c in 0 .. width - 1, is the sum over dy = -h..h (outer, ascending) and dx = -h..h
// (inner, ascending) of taps[(dy + h) * n + dx + h] * rows[r + dy + h][c + dx + h],
// accumulated from 0.0 either by fused multiply-add or by a rounded product then a sum.
struct FilterJob {
  const double* const* rows = nullptr;  // source row of virtual row v at rows[v + h]
  const double* taps = nullptr;         // n x n, dy major
  double* const* out = nullptr;         // out[r - outFirst]: output row r, width pixels
  int outFirst = 0;
  int n = 1;
  int width = 0;
  bool fused = true;
};

// Rows r0 .. r1 - 1 of a job, each a different instruction set; the same results bit for bit.
void FilterRowsBaseline(const FilterJob& job, int r0, int r1);
void FilterRowsAvx2(const FilterJob& job, int r0, int r1);
void FilterRowsAvx512(const FilterJob& job, int r0, int r1);

// The variant of the active instruction set.
using FilterRowsFunction = void (*)(const FilterJob& job, int r0, int r1);
FilterRowsFunction ActiveFilterRows();

// The rows of a block of the filter loops: ranges of rows that start at a multiple of it
// keep every block full.
inline constexpr int kFilterBlockRows = 4;

// Rows r0 .. r1 - 1 of a job on the active variant, blocks of rows spread over threads.
void RunFilter(const FilterJob& job, int r0, int r1);

}  // namespace lumet::detail
