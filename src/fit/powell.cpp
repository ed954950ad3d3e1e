#include "fit/powell.h"

#include <cmath>

#include "fit/brent.h"

namespace tubefit {

float f1dim(float x, const LineState& line, const FitFunction& F) {
  ParamVector point;
  for (int j = 0; j <= MxNP; ++j) point[j] = line.base[j] + x * line.direction[j];
  return F(point);
}

void linmin(ParamVector& P, ParamVector& xi, int n, float& fret, const FitFunction& F, const WarningSink& warn) {
  const float kTol = 1e-5f;
  LineState line;
  for (int j = 1; j <= n; ++j) {
    line.base[j] = P[j];
    line.direction[j] = xi[j];
  }
  for (int j = n + 1; j <= MxNP; ++j) line.base[j] = P[j];

  const LineFunction along = [&line, &F](float x) { return f1dim(x, line, F); };
  float ax = 0.0f, xx = 1.0f, bx = 0.0f;
  float fa = 0.0f, fx = 0.0f, fb = 0.0f;
  mnbrak(ax, xx, bx, fa, fx, fb, along);
  float xmin = 0.0f;
  fret = brent(ax, xx, bx, along, kTol, xmin, warn);
  for (int j = 1; j <= n; ++j) {
    xi[j] = xi[j] * xmin;
    P[j] = P[j] + xi[j];
  }
}

void powell(ParamVector& P, Matrix& xi, int n, float ftol, int& iter, float& fret, const FitFunction& F,
            const WarningSink& warn) {
  fret = F(P, P);
  ParamVector pt = P;   // the point at the start of the iteration
  ParamVector ptt = P;  // the extrapolated point; slots beyond n keep the fixed values
  ParamVector xit{};    // the current direction
  iter = 0;
  for (;;) {
    ++iter;
    const float fp = fret;
    int ibig = 0;
    float del = 0.0f;
    for (int i = 1; i <= n; ++i) {
      for (int j = 1; j <= n; ++j) xit[j] = xi(j, i);
      const float fptt = fret;
      linmin(P, xit, n, fret, F, warn);
      if (std::fabs(fptt - fret) > del) {
        del = std::fabs(fptt - fret);
        ibig = i;
      }
    }
    if (2.0f * std::fabs(fp - fret) <= ftol * (std::fabs(fp) + std::fabs(fret))) return;
    if (iter == n) return;
    for (int j = 1; j <= n; ++j) {
      ptt[j] = 2.0f * P[j] - pt[j];
      xit[j] = P[j] - pt[j];
      pt[j] = P[j];
    }
    const float fptt = F(ptt, ptt);
    if (fptt < fp) {
      const float a = fp - fret - del;
      const float b = fp - fptt;
      const float t = 2.0f * (fp - 2.0f * fret + fptt) * (a * a) - del * (b * b);
      // ibig stays 0 only when no direction lowered the objective; there is then no column to replace.
      if (t < 0.0f && ibig > 0) {
        linmin(P, xit, n, fret, F, warn);
        for (int j = 1; j <= n; ++j) {
          xi(j, ibig) = xi(j, n);
          xi(j, n) = xit[j];
        }
      }
    }
  }
}

}  // namespace tubefit
