#include "fit/fit.h"

#include <cmath>

#include "fit/powell.h"
#include "text/format.h"

namespace tubefit {

void Fit(ParamVector& P, Matrix& xi, int32_t NFit, float ftol, int& iter, float& fret, const Objective& F,
         int32_t eps_slot, std::ostream& console) {
  float R2 = F(P);
  WriteList(console, {"Before refinement R2 = ", R2});
  console << FormatLine("(A6)", {"Iter:"});
  int pass = 0;
  for (;;) {
    ++pass;
    console << FormatLine("(I3,A)", {pass, ","});
    console.flush();
    xi.Fill(0.0f);
    for (int i = 1; i <= xi.rows() && i <= xi.cols(); ++i) xi(i, i) = 1.0f;
    powell(P, xi, NFit, ftol, iter, fret, F, console);
    if (iter < NFit || pass == kMaxFitPasses) break;
  }
  if (pass == kMaxFitPasses) {
    WriteList(console);
    WriteList(console, {"**** WARNING it = 100 ****"});
    WriteList(console, {"MaxIt reached, no convergence"});
  }
  for (int i = 1; i <= MxNP; ++i) {
    if (i != eps_slot) P[i] = std::fabs(P[i]);
  }
  R2 = F(P);
  WriteList(console);
  WriteList(console, {"After refinement R2 = ", R2});
}

}  // namespace tubefit
