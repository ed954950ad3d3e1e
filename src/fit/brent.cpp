#include "fit/brent.h"

#include <algorithm>
#include <cmath>
#include <utility>


namespace tubefit {

namespace {

// |a| with the sign of b (b = 0 counts as positive).
float Sign(float a, float b) { return b >= 0.0f ? std::fabs(a) : -std::fabs(a); }

}  // namespace

void mnbrak(float& ax, float& bx, float& cx, float& fa, float& fb, float& fc, const LineFunction& f) {
  const float kGold = 1.618034f;
  const float kGlimit = 100.0f;
  const float kTiny = 1e-20f;
  const float kFlat = 2e-6f;

  fa = f(ax);
  fb = f(bx);
  if (fb > fa) {
    std::swap(ax, bx);
    std::swap(fa, fb);
  }
  cx = bx + kGold * (bx - ax);
  fc = f(cx);
  if (fc > fb) return;
  while (fb >= fc) {
    // fa is a sum of squares; at exactly 0 the line cannot go lower (and 0/0 would never end the loop).
    if (fa == 0.0f || std::fabs(fa - fb) / fa < kFlat) return;
    const float r = (bx - ax) * (fb - fc);
    const float q = (bx - cx) * (fb - fa);
    float u = bx - ((bx - cx) * q - (bx - ax) * r) / (2.0f * Sign(std::max(std::fabs(q - r), kTiny), q - r));
    const float ulim = bx + kGlimit * (cx - bx);
    float fu;
    if ((bx - u) * (u - cx) > 0.0f) {
      fu = f(u);
      if (fu < fc) {
        ax = bx;
        bx = u;
        fa = fb;
        fb = fu;
        return;
      }
      if (fu > fb) {
        cx = u;
        fc = fu;
        return;
      }
      u = cx + kGold * (cx - bx);
      fu = f(u);
    } else if ((cx - u) * (u - ulim) > 0.0f) {
      fu = f(u);
      if (fu < fc) {
        bx = cx;
        cx = u;
        u = cx + kGold * (cx - bx);
        fb = fc;
        fc = fu;
        fu = f(u);
      }
    } else if ((u - ulim) * (ulim - cx) >= 0.0f) {
      u = ulim;
      fu = f(u);
    } else {
      u = cx + kGold * (cx - bx);
      fu = f(u);
    }
    ax = bx;
    bx = cx;
    cx = u;
    fa = fb;
    fb = fc;
    fc = fu;
  }
}

float brent(float ax, float bx, float cx, const LineFunction& f, float tol, float& xmin, const WarningSink& warn) {
  const int kItmax = 100;
  const float kCgold = 0.381966f;
  const float kZeps = 1e-10f;

  float a = std::min(ax, cx);
  float b = std::max(ax, cx);
  float d = 0.0f;
  float e = 0.0f;
  float x = bx, w = bx, v = bx;
  float fx = f(x);
  float fw = fx, fv = fx;
  for (int iter = 1; iter <= kItmax; ++iter) {
    const float xm = 0.5f * (a + b);
    const float tol1 = tol * std::fabs(x) + kZeps;
    const float tol2 = 2.0f * tol1;
    if (std::fabs(x - xm) <= tol2 - 0.5f * (b - a)) {
      xmin = x;
      return fx;
    }
    bool golden = true;
    if (std::fabs(e) > tol1) {
      const float r = (x - w) * (fx - fv);
      float q = (x - v) * (fx - fw);
      float p = (x - v) * q - (x - w) * r;
      q = 2.0f * (q - r);
      if (q > 0.0f) p = -p;
      q = std::fabs(q);
      const float etemp = e;
      e = d;
      if (!(std::fabs(p) >= std::fabs(0.5f * q * etemp) || p <= q * (a - x) || p >= q * (b - x))) {
        d = p / q;
        const float u = x + d;
        if (u - a < tol2 || b - u < tol2) d = Sign(tol1, xm - x);
        golden = false;
      }
    }
    if (golden) {
      e = x >= xm ? a - x : b - x;
      d = kCgold * e;
    }
    const float u = std::fabs(d) >= tol1 ? x + d : x + Sign(tol1, d);
    const float fu = f(u);
    if (fu <= fx) {
      if (u >= x) {
        a = x;
      } else {
        b = x;
      }
      v = w;
      w = x;
      x = u;
      fv = fw;
      fw = fx;
      fx = fu;
    } else {
      if (u < x) {
        a = u;
      } else {
        b = u;
      }
      if (fu <= fw || w == x) {
        v = w;
        w = u;
        fv = fw;
        fw = fu;
      } else if (fu <= fv || v == x || v == w) {
        v = u;
        fv = fu;
      }
    }
  }
  Warn(warn, "brent exceeds maximum iterations");
  xmin = x;
  return fx;
}

}  // namespace tubefit
