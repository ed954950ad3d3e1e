#include "fit/fit.h"

#include <cmath>

#include "core/matrix.h"
#include "fit/powell.h"

namespace tubefit {

FitSummary Fit(ParamVector& P, const FitFunction& F, const FitOptions& options) {
  FitSummary summary;
  summary.R2_before = F(P, P);
  Matrix xi(MxNP, MxNP);  // the direction set, fresh for every pass
  for (;;) {
    ++summary.passes;
    if (options.on_pass) options.on_pass(summary);
    xi.Fill(0.0f);
    for (int i = 1; i <= MxNP; ++i) xi(i, i) = 1.0f;
    int iter = 0;
    powell(P, xi, options.NFit, options.ftol, iter, summary.fret, F, options.warn);
    summary.iter = iter;
    if (iter < options.NFit || summary.passes == kMaxFitPasses) break;
  }
  summary.pass_limit = summary.passes == kMaxFitPasses;
  for (int i = 1; i <= MxNP; ++i) {
    if (!options.kept_sign[i]) P[i] = std::fabs(P[i]);
  }
  summary.R2_after = F(P, P);
  return summary;
}

}  // namespace tubefit
