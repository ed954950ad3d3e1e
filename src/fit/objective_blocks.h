// The block evaluation of the fit objective: the law of a model code (models/law.h) evaluated for one, 8
// or 16 points at once, for FitObjective.
//
// This header is shared by objective.cpp (built for the baseline processor) and by the kernel files that
// are built for AVX2 and AVX-512; it declares the kernels only. The kernels instantiate the laws with
// their own lane types and nothing with float, so that no function compiled for a wider instruction set
// can be picked up by baseline code.
//
// Every path computes the same float operations in the same order, with the laws' own exp, log, pow, tanh
// and atan (models/law_functions.h), so the sums are the same bit for bit on every path. The
// squared errors are added one by one in window order, exactly as the point-by-point sum does.
#pragma once

#include <cstddef>

#include "models/law.h"

namespace tubefit {
namespace blocks {

// The fit window as columns, each padded with zeros to a whole number of kPad points plus one block, so
// that a block may start at any point.
constexpr size_t kPad = 16;
struct Columns {
  const float* Va = nullptr;
  const float* Vs = nullptr;
  const float* Vg1 = nullptr;
  const float* Vg3 = nullptr;
  const float* Ia = nullptr;  // measured
  const float* Is = nullptr;  // measured
  size_t n = 0;               // points in the window (without the padding)
  // The law's grid-and-screen controls of every point, column j from ctrl + j * ctrl_stride, formed once
  // per distinct point voltages (ControlsScalar, ...); null: the kernel forms them at every point.
  const float* ctrl = nullptr;
  size_t ctrl_stride = 0;
};

// S plus the squared errors of the points [begin, end) of the window, in window order, with the law's
// effective parameters e; the screen current enters when `screen` is set. One point at a time, and with
// AVX2 (8 points) and AVX-512 (16 points); the last two are defined only on x86-64 and called only when
// the processor has the instruction set.
template <class Law>
float SumScalar(const Columns& c, size_t begin, size_t end, bool screen, float S,
                const typename Law::template Params<float>& e);
template <class Law>
float SumAvx2(const Columns& c, size_t begin, size_t end, bool screen, float S,
              const typename Law::template Params<float>& e);
template <class Law>
float SumAvx512(const Columns& c, size_t begin, size_t end, bool screen, float S,
                const typename Law::template Params<float>& e);

// The law's controls at the points [0, keys.n) of `keys`, control j of point i to out[j * stride + i];
// `out` holds whole blocks of 16. Nothing for a law without controls. The same three paths.
template <class Law>
void ControlsScalar(const Columns& keys, const typename Law::template Params<float>& e, float* out,
                    size_t stride);
template <class Law>
void ControlsAvx2(const Columns& keys, const typename Law::template Params<float>& e, float* out, size_t stride);
template <class Law>
void ControlsAvx512(const Columns& keys, const typename Law::template Params<float>& e, float* out,
                    size_t stride);

}  // namespace blocks
}  // namespace tubefit
