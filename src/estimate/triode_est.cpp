// Start values of the Koren triode parameters, each found by inverting one regime of the triode law
// Ia = E1^ex / kG1, E1 = (Va/kp) ln(1 + exp(kp (1/mu + Vg1 / sqrt(kVB + Va^2)))).
#include <cmath>

#include "estimate/est_common.h"
#include "models/law_math.h"
#include "estimate/estimate.h"
#include "text/format.h"

namespace tubefit {

using est::FitLineChecked;
using est::Note;
using est::Num;

namespace {

constexpr float kConducts = 1.0e-6f;  // A: a current above this counts as conduction
constexpr float kMuDefault = 10.0f;
constexpr float kG1Default = 1000.0f;
constexpr float kExDefault = 1.5f;
constexpr float kkpDefault = 100.0f;
constexpr float kkpFloor = 50.0f;
constexpr float kkpCap = 2000.0f;
constexpr float kkVBDefault = 500.0f;

void KpDefaultLine(std::ostream& console) {
  WriteList(console, {"Error in estimation of kp.", "Assume default value of kp"});
}

void KvbDefaultLine(std::ostream& console) {
  WriteList(console, {"Error in estimation of kVB. Setting kVBEst = 500."});
}

}  // namespace

// In: d.ms (files 1..NFiles). Out: mu, the mean over the files of the negated mean slope dVa/dVg1 at the
// current level 0.1 Imax (or just above the first point's current when that is higher).
void EstMu(const EstData& d, float& mu) {
  const MeasurementSet& ms = d.ms;
  float mu_sum = 0.0f;
  int32_t used = 0;
  for (int f = 1; f <= d.NFiles; ++f) {
    const MeasFile& file = ms.file[f];
    float Imax = 0.0f;
    for (int c = 1; c <= file.NVg; ++c)
      for (int p = 1; p <= file.curve[c].NPts; ++p)
        if (file.curve[c].pt[p].Ia > Imax) Imax = file.curve[c].pt[p].Ia;
    float L = 0.1f * Imax;
    const float Ia11 = file.curve[1].pt[1].Ia;
    if (L < Ia11) {
      const float Ia12 = file.curve[1].pt[2].Ia;
      L = 0.9f * Ia11 + 0.1f * Ia12;
    }
    float Vg[kMaxCurves + 1] = {};
    float Vx[kMaxCurves + 1] = {};
    int m = 0;
    for (int c = 1; c <= file.NVg; ++c) {
      const MeasCurve& cv = file.curve[c];
      const int n = cv.NPts;
      int l = 1;
      while (l < n && cv.pt[l].Ia < L) ++l;
      // A curve that crosses the level only at its last point, or already at its first (nothing to
      // interpolate from), gives no pair.
      if (l >= n || l < 2) continue;
      const float t = (L - cv.pt[l - 1].Ia) / (cv.pt[l].Ia - cv.pt[l - 1].Ia);
      const float Va_level = (1.0f - t) * cv.pt[l - 1].Va + t * cv.pt[l].Va;
      ++m;
      Vg[m] = cv.Vg1;
      Vx[m] = Va_level;
    }
    float slope_sum = 0.0f;
    int slopes = 0;
    for (int j = 1; j < m; ++j) {
      const float dVg = Vg[j + 1] - Vg[j];
      if (dVg == 0.0f) continue;  // two curves at one grid voltage give no slope
      const float slope = (Vx[j + 1] - Vx[j]) / dVg;
      slope_sum += slope;
      ++slopes;
    }
    if (slopes == 0) {
      Note(d.console, "EstMu: file " + Num(f) + " has fewer than two curves that reach the current level; file skipped.");
      continue;
    }
    const float mu_f = -slope_sum / static_cast<float>(slopes);
    mu_sum += mu_f;
    ++used;
  }
  float result = used > 0 ? mu_sum / static_cast<float>(used) : 0.0f;
  if (!(result > 0.0f) || !std::isfinite(result)) {
    WriteList(d.console, {"EstMu: no positive mu estimate from the data; mu set to", kMuDefault});
    result = kMuDefault;
  }
  mu = result;
}

// In: d.ms, P("mu"). Out: kG1 and ex, means over the files of exp(-b0) and b1 of the line
// ln Ia = b0 + b1 ln(Vg1 + Va/mu) on the upper two thirds of the conducting part of one curve.
void EstkGExp(const EstData& d, const ParamVector& P, const Slots& s, float& kG1, float& ex) {
  const MeasurementSet& ms = d.ms;
  const float mu = P[s.mu];
  float kG1_sum = 0.0f;
  float ex_sum = 0.0f;
  int32_t used = 0;
  float x[kMaxPoints + 1] = {};
  float y[kMaxPoints + 1] = {};
  for (int f = 1; f <= d.NFiles; ++f) {
    const MeasFile& file = ms.file[f];
    if (file.NVg < 1) {
      Note(d.console, "EstkGExp: file " + Num(f) + " has no curve; file skipped.");
      continue;
    }
    int c = file.curve[file.NVg].Vg1 < file.curve[1].Vg1 ? 2 : file.NVg - 1;
    if (c < 1) c = 1;
    if (c > file.NVg) c = file.NVg;
    const MeasCurve& cv = file.curve[c];
    const int n = cv.NPts;
    auto conducts = [&](int p) {
      const float q = cv.pt[p].Va / mu;
      return q >= -cv.Vg1;
    };
    int p0 = 1;
    while (p0 <= n && !conducts(p0)) ++p0;
    if (p0 > n) {
      Note(d.console, "EstkGExp: curve " + Num(c) + " of file " + Num(f) + " never reaches Vg1 + Va/mu >= 0; file skipped.");
      continue;
    }
    int s3 = p0 + (n - p0) / 3;
    if (s3 > n - 3) s3 = n - 3;
    int p1 = s3 + 1 < 1 ? 1 : s3 + 1;
    while (p1 <= n && !conducts(p1)) ++p1;
    if (p1 > n - 1) {
      WriteList(d.console, {"** Problem in EstkGExp - ", "estimate may be incorrect."});
      p1 = n - 4 < 1 ? 1 : n - 4;
    }
    // The logarithms need Vg1 + Va/mu > 0 and Ia > 0; other points of the range are left out.
    int m = 0;
    for (int p = p1; p <= n; ++p) {
      const float q = cv.pt[p].Va / mu;
      const float arg = q + cv.Vg1;
      if (arg > 0.0f && cv.pt[p].Ia > 0.0f) {
        ++m;
        x[m] = law::Log(arg);
        y[m] = law::Log(cv.pt[p].Ia);
      }
    }
    float b1 = 0.0f;
    float b0 = 0.0f;
    const bool fitted = FitLineChecked(x, y, m, b1, b0);
    const float kf = fitted ? law::Exp(-b0) : 0.0f;
    if (!fitted || !std::isfinite(kf)) {
      Note(d.console, "EstkGExp: curve " + Num(c) + " of file " + Num(f) + " gives fewer than two usable points; file skipped.");
      continue;
    }
    ex_sum += b1;
    kG1_sum += kf;
    ++used;
  }
  if (used == 0) {
    WriteList(d.console, {"EstkGExp: no usable curve; kG1 set to", kG1Default, " and ex to", kExDefault});
    kG1 = kG1Default;
    ex = kExDefault;
    return;
  }
  kG1 = kG1_sum / static_cast<float>(used);
  ex = ex_sum / static_cast<float>(used);
}

// In: d.ms, d.DebugLevel, P("mu"), P("ex"), P("kG1"). Out: kp, the mean of the per-file slopes of
// ln(E1/Va) against 1/mu + Vg1/Va below cut-off, where E1 = (kG1 Ia)^(1/ex), capped at 2000.
void Estkp(const EstData& d, const ParamVector& P, const Slots& s, float& kp) {
  const MeasurementSet& ms = d.ms;
  const float mu = P[s.mu];
  const float ex = P[s.ex];
  const float kG1 = P[s.kG1];
  float kp_sum = 0.0f;
  float x[kMaxPoints + 1] = {};
  float y[kMaxPoints + 1] = {};
  for (int f = 1; f <= d.NFiles; ++f) {
    const MeasFile& file = ms.file[f];
    float Vmin = 1.0e6f;
    int32_t iVmin = 0;
    for (int c = 1; c <= file.NVg; ++c) {
      if (file.curve[c].Vg1 < Vmin) {
        Vmin = file.curve[c].Vg1;
        iVmin = c;
      }
    }
    if (d.DebugLevel >= 2) WriteList(d.console, {"iVmin, Vmin:", iVmin, Vmin});
    const MeasCurve& cv = file.curve[iVmin];
    const float inv_ex = 1.0f / ex;
    const float inv_mu = 1.0f / mu;
    int m = 0;
    for (int p = 2; p <= cv.NPts; ++p) {
      const float Va = cv.pt[p].Va;
      const float kG1Ia = kG1 * cv.pt[p].Ia;
      const float E1 = law::Pow(kG1Ia, inv_ex);
      const float cut = -mu * cv.Vg1;
      if (!(Va < cut) || !(E1 > kConducts) || !(Va > 0.0f)) continue;
      const float ratio = E1 / Va;
      const float yv = law::Log(ratio);
      const float g = cv.Vg1 / Va;
      const float xv = inv_mu + g;
      // ex = 0, mu = 0 or an infinite E1 give values that no straight line can use.
      if (!std::isfinite(xv) || !std::isfinite(yv)) continue;
      ++m;
      x[m] = xv;
      y[m] = yv;
    }
    float b1 = 0.0f;
    float b0 = 0.0f;
    float value = kkpDefault;
    if (m > 2 && FitLineChecked(x, y, m, b1, b0)) {
      value = b1 < kkpFloor ? kkpFloor : b1;
    } else {
      KpDefaultLine(d.console);
    }
    kp_sum += value;
  }
  float result = std::fabs(kp_sum) / static_cast<float>(d.NFiles);
  if (result > kkpCap) result = kkpCap;
  kp = result;
}

// In: d.ms, P("mu"), P("ex"), P("kG1"). Out: kVB, the mean over the files of
// (Vg1/q)^2 - Va^2 with q = E1/Va - 1/mu at the first conducting point of the highest curve.
void EstkVB(const EstData& d, const ParamVector& P, const Slots& s, float& kVB) {
  const MeasurementSet& ms = d.ms;
  const float mu = P[s.mu];
  const float ex = P[s.ex];
  const float kG1 = P[s.kG1];
  float kVB_sum = 0.0f;
  for (int f = 1; f <= d.NFiles; ++f) {
    const MeasFile& file = ms.file[f];
    const int c = file.curve[file.NVg].Vg1 > file.curve[1].Vg1 ? file.NVg : 1;
    const MeasCurve& cv = file.curve[c];
    int p = 1;
    while (p <= cv.NPts && !(cv.pt[p].Ia > kConducts)) ++p;
    if (p > cv.NPts) {
      KvbDefaultLine(d.console);
      kVB = kkVBDefault;
      return;
    }
    const float Va = cv.pt[p].Va;
    const float inv_ex = 1.0f / ex;
    const float kG1Ia = kG1 * cv.pt[p].Ia;
    const float E1 = law::Pow(kG1Ia, inv_ex);
    const float E1Va = E1 / Va;
    const float inv_mu = 1.0f / mu;
    const float q = E1Va - inv_mu;
    const float r = cv.Vg1 / q;
    const float value = r * r - Va * Va;
    // q = 0, ex = 0 or mu = 0 leave no finite value: treated like a curve that never conducts.
    if (!std::isfinite(value)) {
      KvbDefaultLine(d.console);
      kVB = kkVBDefault;
      return;
    }
    kVB_sum += value;
  }
  kVB = std::fabs(kVB_sum) / static_cast<float>(d.NFiles);
}

}  // namespace tubefit
