// Linear least squares: straight lines, general linear fits by the normal equations, Gauss-Jordan inversion.
// Arrays are 1-based (element 0 unused); matrices are Matrix with 1-based (row, column) access.
#pragma once

#include <functional>

#include "core/matrix.h"
#include "fit/warning_sink.h"

namespace tubefit {

// Ordinary least-squares line y = intercept + slope * x over x[1..n], y[1..n].
void FitLine(const float x[], const float y[], int n, float& slope, float& intercept);

// Fills afunc[1..ma] with the basis functions' values at x.
using BasisFunctions = std::function<void(float x, float afunc[], int ma)>;

// General linear least squares of y[1..ndat] (standard deviations sig) against ma basis functions.
// a[1..ma] in/out; ia[1..ma] non-zero marks a fitted coefficient; covar (at least ma x ma) out.
// Stops ("lfit: no parameters to be fitted") when no coefficient is fitted. gaussj's warnings go to warn.
void lfit(const float x[], const float y[], const float sig[], int ndat, float a[], const int ia[], int ma,
          Matrix& covar, float& chisq, const BasisFunctions& funcs, const WarningSink& warn = {});

// Spreads the covariance of the mfit fitted coefficients back to the positions of all ma coefficients.
void covsrt(Matrix& covar, int ma, const int ia[], int mfit);

// Gauss-Jordan elimination with full pivoting: a (n x n) is replaced by its inverse, b (n x m) by the
// solutions. A singular matrix hands "singular matrix in gaussj" to warn (once for every time it is met)
// and the elimination goes on.
void gaussj(Matrix& a, int n, Matrix& b, int m, const WarningSink& warn = {});

}  // namespace tubefit
