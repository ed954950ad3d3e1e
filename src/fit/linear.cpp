#include "fit/linear.h"

#include <cmath>
#include <utility>
#include <vector>

#include "text/stop.h"

namespace tubefit {

// Closed-form least-squares line. All sums are single precision. When the x values do not span a line
// (n < 2 distinct values, or D rounds to 0) the slope is undefined: the line is taken flat through the mean
// of y (slope 0, intercept = mean y), and with no points at all both are 0, so callers never see NaN or inf.
void FitLine(const float x[], const float y[], int n, float& slope, float& intercept) {
  if (n < 1) {
    slope = 0.0f;
    intercept = 0.0f;
    return;
  }
  float Sx = 0.0f;
  float Sy = 0.0f;
  float Sxx = 0.0f;
  float Sxy = 0.0f;
  bool distinct = false;
  for (int i = 1; i <= n; ++i) {
    Sx += x[i];
    Sy += y[i];
    const float xx = x[i] * x[i];
    Sxx += xx;
    const float xy = x[i] * y[i];
    Sxy += xy;
    if (x[i] != x[1]) distinct = true;
  }
  const float fn = static_cast<float>(n);
  const float nSxx = fn * Sxx;
  const float SxSx = Sx * Sx;
  const float D = nSxx - SxSx;
  if (!distinct || D == 0.0f) {
    slope = 0.0f;
    intercept = Sy / fn;
    return;
  }
  const float nSxy = fn * Sxy;
  const float SxSy = Sx * Sy;
  slope = (nSxy - SxSy) / D;
  const float SxxSy = Sxx * Sy;
  const float SxSxy = Sx * Sxy;
  intercept = (SxxSy - SxSxy) / D;
}

// Normal equations of the fitted coefficients, solved by gaussj; held coefficients (ia = 0) are moved to the
// data side. Out: a (fitted entries), covar (ma x ma, spread by covsrt), chisq. Stops when nothing is fitted.
void lfit(const float x[], const float y[], const float sig[], int ndat, float a[], const int ia[], int ma,
          Matrix& covar, float& chisq, const BasisFunctions& funcs, const WarningSink& warn) {
  int mfit = 0;
  for (int j = 1; j <= ma; ++j) {
    if (ia[j] != 0) ++mfit;
  }
  if (mfit == 0) StopWithText("lfit: no parameters to be fitted");

  Matrix beta(mfit, 1);
  for (int j = 1; j <= mfit; ++j) {
    for (int k = 1; k <= mfit; ++k) covar(j, k) = 0.0f;
  }
  std::vector<float> afunc(static_cast<size_t>(ma) + 1, 0.0f);

  for (int i = 1; i <= ndat; ++i) {
    funcs(x[i], afunc.data(), ma);
    float ym = y[i];
    if (mfit < ma) {
      for (int j = 1; j <= ma; ++j) {
        if (ia[j] == 0) {
          const float held = a[j] * afunc[j];
          ym -= held;
        }
      }
    }
    const float sig2 = sig[i] * sig[i];
    const float sig2i = 1.0f / sig2;
    int j = 0;
    for (int l = 1; l <= ma; ++l) {
      if (ia[l] == 0) continue;
      const float wt = afunc[l] * sig2i;
      ++j;
      int k = 0;
      for (int m = 1; m <= l; ++m) {
        if (ia[m] == 0) continue;
        ++k;
        const float term = wt * afunc[m];
        covar(j, k) += term;
      }
      const float bterm = ym * wt;
      beta(j, 1) += bterm;
    }
  }
  for (int j = 2; j <= mfit; ++j) {
    for (int k = 1; k < j; ++k) covar(k, j) = covar(j, k);
  }

  gaussj(covar, mfit, beta, 1, warn);

  int j = 0;
  for (int l = 1; l <= ma; ++l) {
    if (ia[l] != 0) a[l] = beta(++j, 1);
  }

  chisq = 0.0f;
  for (int i = 1; i <= ndat; ++i) {
    funcs(x[i], afunc.data(), ma);
    float sum = 0.0f;
    for (int k = 1; k <= ma; ++k) {
      const float term = a[k] * afunc[k];
      sum += term;
    }
    const float r = (y[i] - sum) / sig[i];
    const float r2 = r * r;
    chisq += r2;
  }

  covsrt(covar, ma, ia, mfit);
}

// In/out covar: on entry the leading mfit x mfit block holds the fitted coefficients' covariance in the order
// of their indices; on return every fitted coefficient's entries sit at its own index and held ones are 0.
void covsrt(Matrix& covar, int ma, const int ia[], int mfit) {
  for (int i = mfit + 1; i <= ma; ++i) {
    for (int j = 1; j <= i; ++j) covar(i, j) = covar(j, i) = 0.0f;
  }
  int k = mfit;
  for (int j = ma; j >= 1; --j) {
    if (ia[j] == 0) continue;
    for (int i = 1; i <= ma; ++i) std::swap(covar(i, k), covar(i, j));
    for (int i = 1; i <= ma; ++i) std::swap(covar(k, i), covar(j, i));
    --k;
  }
}

// Gauss-Jordan elimination with full pivoting. In/out: a (n x n) becomes its inverse, b (n x m) the solutions.
// Among pivot candidates of equal magnitude the last one in the scan (rows outer, columns inner) is taken.
// A singular matrix hands "singular matrix in gaussj" to warn and the elimination goes on; a zero pivot gets the
// reciprocal 0, so its row and column of the result are 0 and the rest stays finite.
void gaussj(Matrix& a, int n, Matrix& b, int m, const WarningSink& warn) {
  std::vector<int> ipiv(static_cast<size_t>(n) + 1, 0);
  std::vector<int> indxr(static_cast<size_t>(n) + 1, 0);
  std::vector<int> indxc(static_cast<size_t>(n) + 1, 0);
  // A pass that finds no candidate (only NaN entries left) keeps the previous pass's pivot position.
  int irow = 1;
  int icol = 1;
  for (int i = 1; i <= n; ++i) {
    float big = 0.0f;
    for (int j = 1; j <= n; ++j) {
      if (ipiv[j] == 1) continue;
      for (int k = 1; k <= n; ++k) {
        if (ipiv[k] == 0) {
          const float mag = std::fabs(a(j, k));
          if (mag >= big) {
            big = mag;
            irow = j;
            icol = k;
          }
        } else if (ipiv[k] > 1) {
          Warn(warn, "singular matrix in gaussj");
        }
      }
    }
    ++ipiv[icol];
    if (irow != icol) {
      for (int l = 1; l <= n; ++l) std::swap(a(irow, l), a(icol, l));
      for (int l = 1; l <= m; ++l) std::swap(b(irow, l), b(icol, l));
    }
    indxr[i] = irow;
    indxc[i] = icol;
    float pivinv = 0.0f;
    if (a(icol, icol) == 0.0f) {
      Warn(warn, "singular matrix in gaussj");
    } else {
      pivinv = 1.0f / a(icol, icol);
    }
    a(icol, icol) = 1.0f;
    for (int l = 1; l <= n; ++l) a(icol, l) *= pivinv;
    for (int l = 1; l <= m; ++l) b(icol, l) *= pivinv;
    for (int ll = 1; ll <= n; ++ll) {
      if (ll == icol) continue;
      const float dum = a(ll, icol);
      a(ll, icol) = 0.0f;
      for (int l = 1; l <= n; ++l) {
        const float t = a(icol, l) * dum;
        a(ll, l) -= t;
      }
      for (int l = 1; l <= m; ++l) {
        const float t = b(icol, l) * dum;
        b(ll, l) -= t;
      }
    }
  }
  for (int l = n; l >= 1; --l) {
    if (indxr[l] != indxc[l]) {
      for (int k = 1; k <= n; ++k) std::swap(a(k, indxr[l]), a(k, indxc[l]));
    }
  }
}

}  // namespace tubefit
