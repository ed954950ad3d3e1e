// Start values of the screen-grid parameters of the Nolt-family models. The Koren term of the triode
// part, KorenTerm(P, Vg1, Vs), stands for the cathode current with the screen as the triode's anode; the
// screen voltage of a curve is that of its last point.
#include <cmath>
#include <string>
#include <utility>

#include "estimate/est_common.h"
#include "models/law_math.h"
#include "estimate/estimate.h"
#include "fit/linear.h"
#include "models/model_info.h"
#include "models/models.h"
#include "text/format.h"
#include "text/stop.h"

namespace tubefit {

using est::FitLineChecked;
using est::Note;
using est::Num;

namespace {

constexpr float kScreenFloor = 1.0e-6f;  // A: screen current that counts at a curve's last point
constexpr float kTermFloor = 0.01f;      // Koren term below which a curve says nothing about A or Sc
constexpr float kIsDrop = 1.0e-4f;       // A: screen-current fall that makes a curve usable for alpha_s
constexpr float kAlphaDefault = 1.0f;
constexpr float kBetaDefault = 0.05f;    // 1/V
constexpr float kBetaDefaultI = 10.0f;   // NoltI: beta multiplies Va/Vs, so about 0.05 V^-1 times 200 V
constexpr float kAlphaPrime = 0.05f;

// Shared part of Estalsbe and EstalsbePe; `exponential` selects the NoltE variant.
void EstAlphaBeta(const EstData& d, ParamVector& P, const Slots& s, bool exponential, float& alpha_s,
                  float& beta) {
  const MeasurementSet& ms = d.ms;
  const Family family = ModelInfoFor(d.iModel).family;
  const char* who = exponential ? "EstalsbePe: " : "Estalsbe: ";
  float as_sum = 0.0f;
  float be_sum = 0.0f;
  int32_t used = 0;
  for (int f = 1; f <= d.NFiles; ++f) {
    const MeasFile& file = ms.file[f];
    float s0 = 0.0f;
    float s1 = 0.0f;
    int32_t m = 0;
    for (int c = 1; c <= file.NVg; ++c) {
      const MeasCurve& cv = file.curve[c];
      const int n = cv.NPts;
      if (n < 3) {
        PlainStop({ListDirected({"Error in Estalsbe. Need at least", int32_t{3}, "different values for Va."})});
      }
      const float kG2 = P[s.kG2];
      const float T = KorenTerm(P, s, cv.Vg1, cv.pt[n].Vs);
      const float Iinf = cv.pt[n].Is;
      const float drop = cv.pt[1].Is - Iinf;
      if (!(drop > kIsDrop)) continue;
      float x[4] = {};
      float y[4] = {};
      bool finite = true;
      for (int p = 1; p <= 3; ++p) {
        const float dIs = cv.pt[p].Is - Iinf;
        if (exponential) {
          x[p] = law::Pow(cv.pt[p].Va, 1.5f);
          const float ratio = dIs / T;
          const float z = ratio * kG2;
          if (z < 0.0f) {
            StopWithText("Execution halts", {ListDirected({"EstalsbePe: argument to log negative."})});
          }
          y[p] = law::Log(z);
        } else {
          x[p] = family == Family::kNoltI ? cv.pt[p].Va / cv.pt[n].Vs : cv.pt[p].Va;
          const float den = kG2 * dIs;
          y[p] = T / den;
        }
        if (!std::isfinite(x[p]) || !std::isfinite(y[p])) finite = false;
      }
      float b1 = 0.0f;
      float b0 = 0.0f;
      if (!finite || !FitLineChecked(x, y, 3, b1, b0)) {
        Note(d.console, std::string(who) + "curve " + Num(c) + " of file " + Num(f) +
                            " gives no finite values; curve skipped.");
        continue;
      }
      s0 += b0;
      s1 += exponential ? -b1 : b1;
      ++m;
    }
    if (m == 0) {
      Note(d.console, std::string(who) + "file " + Num(f) +
                          " has no curve whose screen current falls by more than 1.0E-04 A; file skipped.");
      continue;
    }
    const float fm = static_cast<float>(m);
    const float mean0 = s0 / fm;
    const float mean1 = s1 / fm;
    if (exponential) {
      // The exponential law needs a screen current that falls with Va: a negative mean slope has no
      // real fractional power.
      if (mean1 < 0.0f) {
        Note(d.console, std::string(who) + "file " + Num(f) + " gives a screen current that rises with Va; file skipped.");
        continue;
      }
      as_sum += mean0;
      be_sum += law::Pow(mean1, 0.667f);
    } else {
      as_sum += mean0;
      be_sum += mean1;
    }
    ++used;
  }
  float a = 0.0f;
  float b = 0.0f;
  bool ok = used > 0;
  if (ok) {
    const float fu = static_cast<float>(used);
    if (exponential) {
      const float mean_log = as_sum / fu;
      a = law::Exp(mean_log);
      b = be_sum / fu;
    } else {
      const float mean0 = as_sum / fu;
      a = 1.0f / mean0;
      const float mean1 = be_sum / fu;
      b = mean1 * a;
    }
    ok = std::isfinite(a) && std::isfinite(b) && a != 0.0f;
  }
  if (!ok) {
    a = kAlphaDefault;
    b = (!exponential && family == Family::kNoltI) ? kBetaDefaultI : kBetaDefault;
    WriteList(d.console, {std::string(who) + "no usable curve; alpha_s set to", a, " and beta to", b});
  }
  alpha_s = a;
  beta = b;
}

}  // namespace

// In: d.ms, P (Koren triode part). Out: kG2, the mean over the files of
// sum(KorenTerm / Is at the last point, curves with Is > 1e-6 A) / NVg.
void EstkG2(const EstData& d, ParamVector& P, const Slots& s, float& kG2) {
  const MeasurementSet& ms = d.ms;
  float kG2_sum = 0.0f;
  bool any = false;
  for (int f = 1; f <= d.NFiles; ++f) {
    const MeasFile& file = ms.file[f];
    float sum = 0.0f;
    int32_t q = 0;
    for (int c = 1; c <= file.NVg; ++c) {
      const MeasCurve& cv = file.curve[c];
      const MeasPoint& last = cv.pt[cv.NPts];
      if (!(last.Is > kScreenFloor)) continue;
      const float T = KorenTerm(P, s, cv.Vg1, last.Vs);
      const float quotient = T / last.Is;
      sum += quotient;
      ++q;
    }
    if (q > 0) {
      const float per_file = sum / static_cast<float>(file.NVg);
      kG2_sum += per_file;
      any = true;
    }
  }
  const float result = any ? kG2_sum / static_cast<float>(d.NFiles) : 0.0f;
  // The screen current is divided by kG2 in every model: zero or a value that is not finite cannot start.
  if (!(result > 0.0f) || !std::isfinite(result)) {
    StopWithText("Execution halts",
                 {ListDirected({"EstkG2: no curve gives a screen-current estimate (Is above 1.0E-06 A and a "
                                "positive Koren term at its last point)."})});
  }
  kG2 = result;
}

// In: d.ms, P("kG1") and the Koren triode part. Out: A, the mean of slope(Ia, Va over the last four
// points) * kG1 / KorenTerm over the curves with KorenTerm >= 0.01.
void EstA(const EstData& d, ParamVector& P, const Slots& s, float& A) {
  const MeasurementSet& ms = d.ms;
  float sum = 0.0f;
  int32_t counted = 0;
  for (int f = 1; f <= d.NFiles; ++f) {
    const MeasFile& file = ms.file[f];
    for (int c = 1; c <= file.NVg; ++c) {
      const MeasCurve& cv = file.curve[c];
      const int n = cv.NPts;
      if (n < 4) {
        WriteList(d.console, {"Error in EstA. Need at least", int32_t{4}, "different values for Va."});
        WriteList(d.console, {"Setting AEst = 0 "});
        A = 0.0f;
        return;
      }
      float x[5] = {};
      float y[5] = {};
      for (int i = 1; i <= 4; ++i) {
        x[i] = cv.pt[n - 4 + i].Va;
        y[i] = cv.pt[n - 4 + i].Ia;
      }
      float b1 = 0.0f;
      float b0 = 0.0f;
      if (!FitLineChecked(x, y, 4, b1, b0)) continue;
      const float T = KorenTerm(P, s, cv.Vg1, cv.pt[n].Vs);
      if (T >= kTermFloor) {
        const float term = b1 * P[s.kG1] / T;
        sum += term;
        ++counted;
      }
    }
  }
  if (counted == 0) {
    WriteList(d.console, {"Error in EstA. No curve has a Koren term of at least 0.01."});
    WriteList(d.console, {"Setting AEst = 0 "});
    A = 0.0f;
    return;
  }
  A = sum / static_cast<float>(counted);
}

// In: d.ms, d.iModel (NoltI uses Va/Vs), P("kG2") and the Koren triode part. Out: alpha_s and beta of
// T / (kG2 (Is - Is_last)) = (1 + beta x) / alpha_s on the first three points of every curve.
void Estalsbe(const EstData& d, ParamVector& P, const Slots& s, float& alpha_s, float& beta) {
  EstAlphaBeta(d, P, s, false, alpha_s, beta);
}

// In: d.ms, P("kG2") and the Koren triode part. Out: alpha_s and beta of
// (Is - Is_last) kG2 / T = alpha_s exp(-(beta Va)^1.5) on the first three points of every curve.
void EstalsbePe(const EstData& d, ParamVector& P, const Slots& s, float& alpha_s, float& beta) {
  EstAlphaBeta(d, P, s, true, alpha_s, beta);
}

// In: d.ms curve (f, c). Out: Vk, Ik, j, and the derivative table when asked for. Local parabolas through five points give the first
// and second derivative of Is(Va) at points 3..n-2; the knee is the first sign change of the slope, else
// the first sign change of the curvature next to a current of at least 1.3 times the end current.
void EstKnee(const EstData& d, int f, int c, float& Vk, float& Ik, int& j, KneeTable* table) {
  const MeasCurve& cv = d.ms.curve(f, c);
  const int n = cv.NPts;
  float x[kMaxPoints + 1] = {};
  float y[kMaxPoints + 1] = {};
  float sig[kMaxPoints + 1] = {};
  float D1[kMaxPoints + 1] = {};
  float D2[kMaxPoints + 1] = {};
  for (int p = 1; p <= n; ++p) {
    x[p] = cv.pt[p].Va;
    y[p] = cv.pt[p].Is;
    sig[p] = 1.0f;
  }
  const BasisFunctions quadratic = [](float xv, float afunc[], int) {
    afunc[1] = 1.0f;
    afunc[2] = xv;
    afunc[3] = xv * xv;
  };
  const int ia[4] = {0, 1, 1, 1};
  Matrix covar(3, 3);
  for (int jc = 3; jc <= n - 2; ++jc) {
    float a[4] = {};
    float chisq = 0.0f;
    // Five points jc-2 .. jc+2, passed as 1-based arrays.
    lfit(x + jc - 3, y + jc - 3, sig + jc - 3, 5, a, ia, 3, covar, chisq, quadratic,
         [&d](const std::string& text) { WriteList(d.console, {text}); });
    const float curv = 2.0f * a[3];
    const float lin = curv * x[jc];
    D1[jc] = a[2] + lin;
    D2[jc] = curv;
  }
  if (table != nullptr) {
    table->clear();
    for (int p = 1; p <= n; ++p) table->push_back({x[p], y[p], D1[p], D2[p]});
  }
  const float Ith = 1.3f * y[n];
  bool accepted = false;
  int jk = 0;
  float Vk_out = 0.0f;
  for (int jc = 3; jc <= n - 3 && !accepted; ++jc) {
    const float prod = D1[jc] * D1[jc + 1];
    if (!(prod < 0.0f)) continue;
    const float r = D1[jc] / (D1[jc] - D1[jc + 1]);
    const float v = x[jc] + (x[jc + 1] - x[jc]) * r;
    if (!std::isfinite(v)) continue;
    accepted = true;
    jk = jc;
    Vk_out = v;
  }
  for (int jc = 3; jc <= n - 3 && !accepted; ++jc) {
    const float prod = D2[jc] * D2[jc + 1];
    if (!(prod < 0.0f)) continue;
    if (y[jc] < Ith && y[jc + 1] < Ith) continue;
    const float r = std::fabs(D2[jc] / (D2[jc] - D2[jc + 1]));
    const float v = x[jc] + (x[jc + 1] - x[jc]) * r;
    if (!std::isfinite(v)) continue;
    accepted = true;
    jk = jc;
    Vk_out = v;
  }
  if (!accepted) {
    // No sign change of slope or curvature: the curve has no knee, whatever its currents.
    Ik = -1.0f;
    return;
  }
  // A knee whose current lies below 1.3 times the end current is marked unusable.
  float Ik_out = y[jk];
  if (y[jk] < Ith && y[jk + 1] < Ith) Ik_out = -Ik_out;
  Vk = Vk_out;
  Ik = Ik_out;
  j = jk;
}

// In: d.ms, d.iModel (its family), d.DebugLevel, P("kG2"), P("alpha_s"), P("beta"), P("mu")
// and the Koren triode part. Out: Sc, alpha' (0.05), w, nu and lambda (= mu).
void EstSec(const EstData& d, ParamVector& P, const Slots& s, float& Sc, float& alpha_p, float& w, float& nu,
            float& lambda, std::vector<KneeTable>* tables) {
  const MeasurementSet& ms = d.ms;
  const Family family = ModelInfoFor(d.iModel).family;
  const float kG2 = P[s.kG2];
  const float alpha_s = P[s.alpha_s];
  const float beta = P[s.beta];
  const float lambda_v = P[s.mu];
  if (d.DebugLevel >= 1) {
    WriteList(d.console);
    WriteList(d.console, {" Vmax      Imax"});
  }
  float Sc_sum = 0.0f;
  float w_sum = 0.0f;
  float nu_sum = 0.0f;
  int32_t usable = 0;
  float Vk = 0.0f;
  float Ik = 0.0f;
  int j = 0;
  for (int f = 1; f <= d.NFiles; ++f) {
    const MeasFile& file = ms.file[f];
    float Sf = 0.0f;
    int32_t m = 0;
    float xs[kMaxCurves + 1] = {};
    float ys[kMaxCurves + 1] = {};
    for (int c = 1; c <= file.NVg; ++c) {
      const MeasCurve& cv = file.curve[c];
      const float Vs_last = cv.pt[cv.NPts].Vs;
      const float T = KorenTerm(P, s, cv.Vg1, Vs_last);
      KneeTable table;
      EstKnee(d, f, c, Vk, Ik, j, tables != nullptr ? &table : nullptr);
      if (tables != nullptr) tables->push_back(std::move(table));
      if (d.DebugLevel >= 1) WriteList(d.console, {Vk, Ik});
      if (!(Ik > 0.0f)) continue;
      const float Vx = cv.pt[j].Va;
      float G = 0.0f;  // a family without a division law of its own adds nothing
      if (family == Family::kNolt) {
        const float D = 1.0f + beta * Vx;
        G = alpha_s / D;
      } else if (family == Family::kNoltE) {
        const float bx = beta * Vx;
        G = alpha_s * law::Exp(-bx);
      } else if (family == Family::kNoltI) {
        const float bx = beta * Vx;
        const float D = 1.0f + bx / Vs_last;
        G = alpha_s / D;
      }
      const float expected = T * (1.0f + G) / kG2;
      float S = Ik - expected;
      if (S < 0.0f) {
        S = 0.2f * Ik;
        if (d.DebugLevel >= 1) WriteList(d.console, {"SEst negative - setting to default"});
      }
      if (T >= kTermFloor) {
        const float TVx = T * Vx;
        const float contribution = 0.95f * kG2 * S / TVx;
        const float ratio = cv.pt[j].Vs / lambda_v;
        const float yv = 1.1f * Vk - ratio;
        if (!std::isfinite(contribution) || !std::isfinite(yv)) {
          Note(d.console, "EstSec: curve " + Num(c) + " of file " + Num(f) + " gives no finite values; curve skipped.");
          continue;
        }
        ++m;
        Sf += contribution;
        xs[m] = cv.Vg1;
        ys[m] = yv;
      }
    }
    float b1 = 0.0f;
    float b0 = 0.0f;
    if (m >= 2 && FitLineChecked(xs, ys, m, b1, b0)) {
      nu_sum += -b1;
      w_sum += -b0;
      ++usable;
      Sf = Sf / static_cast<float>(m);
    } else {
      Sf = 0.0f;
    }
    Sc_sum += Sf;
  }
  if (usable > 0) {
    const float fu = static_cast<float>(usable);
    Sc = Sc_sum / fu;
    const float wm = w_sum / fu;
    const float num = nu_sum / fu;
    w = wm > 0.0f ? wm : 0.0f;
    nu = num > 0.0f ? num : 0.0f;
  } else {
    Sc = 0.0f;
    w = 0.0f;
    nu = 0.0f;
    WriteList(d.console,
              {"Seems sec emission characteristics difficult", "to find. Try penthode model w/o sec emission."});
  }
  alpha_p = kAlphaPrime;
  if (d.DebugLevel >= 1) WriteList(d.console);
  lambda = lambda_v;
}

// In: d.ms, P("mu'"), P("ex'"), P("kp'"). Out: kG1', the g3 section's Koren term at Vg = 0 and the highest
// screen voltage at the last point of the files' first curves.
void EstkG1g3(const EstData& d, const ParamVector& P, const Slots& s, float& kG1_p) {
  const MeasurementSet& ms = d.ms;
  float Vmax = 0.0f;
  for (int f = 1; f <= d.NFiles; ++f) {
    if (ms.file[f].NVg < 1) continue;
    const MeasCurve& cv = ms.curve(f, 1);
    if (cv.pt[cv.NPts].Vs > Vmax) Vmax = cv.pt[cv.NPts].Vs;
  }
  const float mu_p = P[s.mu_p];
  const float ex_p = std::fabs(P[s.ex_p]);
  const float kp_p = P[s.kp_p];
  const float z = kp_p / mu_p;
  float E = 0.0f;
  if (z < 10.0f) {
    const float lg = law::Log(1.0f + law::Exp(z));
    E = Vmax * lg / kp_p;
  } else {
    E = Vmax * z / kp_p;
  }
  float result = law::Pow(E, ex_p);
  if (!(result > 0.0f) || !std::isfinite(result)) {
    WriteList(d.console, {"EstkG1g3: no usable kG1' from the g3 triode values; kG1' set to", 1.0f});
    result = 1.0f;
  }
  kG1_p = result;
}

}  // namespace tubefit
