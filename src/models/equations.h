// The model equations of every tube model, one inline routine per model code, for `Model` and for any
// caller that evaluates many points at once.
//
// Voltages in V, currents in A, everything 32-bit float; every named intermediate is stored in a float
// so the result does not depend on how the compiler keeps temporaries. P is the parameter vector and s
// the slot of every named parameter (slot 0 reads the spare element). The routines write their clamps
// back into P exactly where the model says so; they allocate nothing and never branch on strings.
#pragma once

#include <cmath>
#include <cstdint>

#include "core/param_set.h"

namespace tubefit {

// Stops for a code that reaches a routine of the wrong family (never through `Model`).
[[noreturn]] void StopUnknownINolt();
[[noreturn]] void StopUnknownINoltB();

namespace equations {

constexpr float kCutOff = 1e-6f;  // Koren term: at or below this E1 the term is exactly 0
constexpr float kMuCap = 150.0f;  // triode and variable-mu (Nolt) cap of the amplification factor

// x limited to [lo, hi].
inline float Limit(float x, float lo, float hi) {
  float y = x < lo ? lo : x;
  return y > hi ? hi : y;
}

// Softplus of the Koren form: V * ln(1 + e^t) / kp, or V * t / kp once t >= 10 where the two agree to
// float precision.
inline float KorenSoftplus(float V, float t, float kp) {
  if (t < 10.0f) {
    float lg = std::log(1.0f + std::exp(t));
    return V * lg / kp;
  }
  return V * t / kp;
}

// The Koren triode term from values: t = kp (1/mu + Vg / sqrt(kVB + Va^2)), E1 the softplus, result
// E1^|ex| or 0 when E1 <= 1e-6. kVB must already be non-negative.
inline float KorenCore(float kp, float mu, float kVB, float ex, float Vg, float Va) {
  float root = std::sqrt(kVB + Va * Va);
  float t = kp * (1.0f / mu + Vg / root);
  float E1 = KorenSoftplus(Va, t, kp);
  if (E1 > kCutOff) return std::pow(E1, std::fabs(ex));
  return 0.0f;
}

// The Koren triode term at grid voltage Vg and anode (or screen) voltage Va. Out: P("kVB") = |kVB|.
inline float KorenTermAt(ParamVector& P, const Slots& s, float Vg, float Va) {
  P[s.kVB] = std::fabs(P[s.kVB]);
  return KorenCore(P[s.kp], P[s.mu], P[s.kVB], P[s.ex], Vg, Va);
}

// Diode (code 0): Ia = |Va + eps|^ex / k.
inline void Diode(float Va, const ParamVector& P, const Slots& s, float& Ia) {
  float base = std::fabs(Va + P[s.eps]);
  Ia = std::pow(base, P[s.ex]) / P[s.k];
}

// Koren triode (code 1): Ia = KorenTerm / kG1. Out: P("mu") capped at 150, P("kVB") = |kVB|.
inline void Triode(float Va, float Vg1, ParamVector& P, const Slots& s, float& Ia) {
  if (P[s.mu] > kMuCap) P[s.mu] = kMuCap;
  float E = KorenTermAt(P, s, Vg1, Va);
  Ia = E / P[s.kG1];
}

// Koren pentode (code 2). Anode: softplus in Vs with kp limited to [0.01, 2000] (local copy), raised to
// ex with its sign, shaped by atan(Va / kVB). Screen: (Vg1 + Vs/mu)^ex / kG2 above cut-off, else 0.
inline void KorenPentode(float Va, float Vs, float Vg1, const ParamVector& P, const Slots& s, float& Ia,
                         float& Is) {
  float kp = Limit(P[s.kp], 0.01f, 2000.0f);
  float t = kp * (1.0f / P[s.mu] + Vg1 / Vs);
  // ln(1 + e^t) in this form, except where e^t overflows the float range (t > 88.7): there ln(1 + e^t)
  // equals t to far below float precision, and the plain form would give an infinite current.
  float et = std::exp(t);
  float lg = std::isinf(et) ? t : std::log(1.0f + et);
  float E1 = Vs / kp * lg;
  float shape = std::atan(Va / P[s.kVB]);
  Ia = std::pow(E1, P[s.ex]) / P[s.kG1] * shape;
  float sc = Vg1 + Vs / P[s.mu];
  if (sc > 0.0f) {
    Is = std::pow(sc, P[s.ex]) / P[s.kG2];
  } else {
    Is = 0.0f;
  }
}

// Constants of the Nolt current-division law shared by the screen-grid models.
struct NoltDivision {
  float kG1, kG2, alpha_s, A, alpha, S, base;  // base = 1/kG1 - 1/kG2
};

// alpha = 1 - kG1 (1 + alpha_s) / kG2, S = alpha_s / kG2 + alpha / kG1, A = |A|.
inline NoltDivision NoltCommon(const ParamVector& P, const Slots& s) {
  NoltDivision d;
  d.kG1 = P[s.kG1];
  d.kG2 = P[s.kG2];
  d.alpha_s = P[s.alpha_s];
  d.A = std::fabs(P[s.A]);
  float share = d.kG1 * (1.0f + d.alpha_s);
  d.alpha = 1.0f - share / d.kG2;
  d.S = d.alpha_s / d.kG2 + d.alpha / d.kG1;
  d.base = 1.0f / d.kG1 - 1.0f / d.kG2;
  return d;
}

// Exponential division factor of the NoltE pentodes: exp(-(beta Va)^1.5).
inline float NoltEFactor(float beta, float Va) {
  float x = beta * Va;
  return std::exp(-std::pow(x, 1.5f));
}

// Nolt (12) and NoltI (32) pentode: rational division law, D = 1 + beta Va (12) or 1 + beta Va / Vs (32),
// beta = |beta| without write-back. Out: P("kVB") = |kVB|. Stops for any other code.
inline void INolt(int32_t iModel, float Va, float Vs, float Vg1, ParamVector& P, const Slots& s, float& Ia,
                  float& Is) {
  float D;
  float beta = std::fabs(P[s.beta]);
  if (iModel == 12) {
    D = 1.0f + beta * Va;
  } else if (iModel == 32) {
    D = 1.0f + beta * Va / Vs;
  } else {
    StopUnknownINolt();
  }
  NoltDivision d = NoltCommon(P, s);
  float E = KorenTermAt(P, s, Vg1, Vs);
  float F = d.base - d.S / D + d.A * Va / d.kG1;
  float G = 1.0f + d.alpha_s / D;
  Ia = E * F;
  Is = E * G / d.kG2;
}

// NoltE pentode (22): exponential division law g = exp(-(beta Va)^1.5), beta = |beta| without write-back.
// Out: P("kVB") = |kVB|.
inline void NoltEPentode(float Va, float Vs, float Vg1, ParamVector& P, const Slots& s, float& Ia, float& Is) {
  float beta = std::fabs(P[s.beta]);
  float g = NoltEFactor(beta, Va);
  NoltDivision d = NoltCommon(P, s);
  float E = KorenTermAt(P, s, Vg1, Vs);
  float F = d.base - d.S * g + d.A * Va / d.kG1;
  float G = 1.0f + d.alpha_s * g;
  Ia = E * F;
  Is = E * G / d.kG2;
}

// Secondary-emission term of the beam tetrodes: T = Sc Va (1 + tanh(-a' (Va - Vs/lambda + nu Vg1 + w))),
// with Sc, nu, lambda, w taken by absolute value.
inline float SecondaryEmission(float Va, float Vs, float Vg1, float a_p, const ParamVector& P,
                               const Slots& s) {
  float Sc = std::fabs(P[s.Sc]);
  float nu = std::fabs(P[s.nu]);
  float lambda = std::fabs(P[s.lambda]);
  float w = std::fabs(P[s.w]);
  float arg = Va - Vs / lambda + nu * Vg1 + w;
  float th = std::tanh(-a_p * arg);
  return Sc * Va * (1.0f + th);
}

// Nolt (13) and NoltI (33) beam tetrode: the rational division law plus the secondary-emission term T,
// which moves current from the anode to the screen. Out: P("beta") = |beta|, P("alpha'") capped at 0.1,
// P("kVB") = |kVB|. Stops for any other code.
inline void INoltB(int32_t iModel, float Va, float Vs, float Vg1, ParamVector& P, const Slots& s, float& Ia,
                   float& Is) {
  if (iModel != 13 && iModel != 33) StopUnknownINoltB();
  P[s.beta] = std::fabs(P[s.beta]);
  if (P[s.alpha_p] > 0.1f) P[s.alpha_p] = 0.1f;
  float a_p = P[s.alpha_p];
  float beta = P[s.beta];
  float D;
  if (iModel == 13) {
    D = 1.0f + beta * Va;
  } else {
    D = 1.0f + beta * Va / Vs;
  }
  NoltDivision d = NoltCommon(P, s);
  float E = KorenTermAt(P, s, Vg1, Vs);
  float T = SecondaryEmission(Va, Vs, Vg1, a_p, P, s);
  float F = d.base - d.S / D + d.A * Va / d.kG1 - T / d.kG2;
  float G = 1.0f + d.alpha_s / D + T;
  Ia = E * F;
  Is = E * G / d.kG2;
}

// NoltE beam tetrode (23): g = exp(-x sqrt(x)) with x = beta Va, alpha' used as it stands.
// Out: P("beta") = |beta|, P("kVB") = |kVB|.
inline void NoltEBeamTetrode(float Va, float Vs, float Vg1, ParamVector& P, const Slots& s, float& Ia,
                             float& Is) {
  P[s.beta] = std::fabs(P[s.beta]);
  float a_p = P[s.alpha_p];
  float x = P[s.beta] * Va;
  float g = std::exp(-x * std::sqrt(x));
  NoltDivision d = NoltCommon(P, s);
  float E = KorenTermAt(P, s, Vg1, Vs);
  float T = SecondaryEmission(Va, Vs, Vg1, a_p, P, s);
  float F = d.base - d.S * g + d.A * Va / d.kG1 - T / d.kG2;
  float G = 1.0f + d.alpha_s * g + T;
  Ia = E * F;
  Is = E * G / d.kG2;
}

// Variable-mu pentode, Nolt (16): two Koren sections (mu, ex) and (mu_b, ex_b) blended by svar, divided by
// the rational law. Uses this evaluation's signed kG1, kG2, alpha_s; out: slots 1..12 made non-negative,
// P("mu_b") capped at 150.
inline void VarMuNolt(float Va, float Vs, float Vg1, ParamVector& P, const Slots& s, float& Ia, float& Is) {
  NoltDivision d = NoltCommon(P, s);
  float beta = std::fabs(P[s.beta]);
  for (int32_t i = 1; i <= 12; ++i) P[i] = std::fabs(P[i]);
  float D = 1.0f + beta * Va;
  float F = d.base - d.S / D + d.A * Va / d.kG1;
  float Ea = KorenTermAt(P, s, Vg1, Vs);
  if (P[s.mu_b] > kMuCap) P[s.mu_b] = kMuCap;
  float Eb = KorenCore(P[s.kp], P[s.mu_b], P[s.kVB], P[s.ex_b], Vg1, Vs);
  float svar = P[s.svar];
  float E = (1.0f - std::fabs(svar)) * Ea + svar * Eb;
  float G = 1.0f + d.alpha_s / D;
  Ia = E * F;
  Is = E * G / d.kG2;
}

// Variable-mu pentode, NoltE (26): as 16 with the exponential law and beta = |beta| locally. Out:
// P("ex_b") capped at 3, P("mu_b") at 300, P("kVB") = |kVB|.
inline void VarMuNoltE(float Va, float Vs, float Vg1, ParamVector& P, const Slots& s, float& Ia, float& Is) {
  NoltDivision d = NoltCommon(P, s);
  float beta = std::fabs(P[s.beta]);
  float g = NoltEFactor(beta, Va);
  float F = d.base - d.S * g + d.A * Va / d.kG1;
  float Ea = KorenTermAt(P, s, Vg1, Vs);
  if (P[s.ex_b] > 3.0f) P[s.ex_b] = 3.0f;
  if (P[s.mu_b] > 300.0f) P[s.mu_b] = 300.0f;
  float Eb = KorenCore(P[s.kp], P[s.mu_b], P[s.kVB], P[s.ex_b], Vg1, Vs);
  float svar = P[s.svar];
  float E = (1.0f - std::fabs(svar)) * Ea + svar * Eb;
  float G = 1.0f + d.alpha_s * g;
  Ia = E * F;
  Is = E * G / d.kG2;
}

// g1 control of the hexode and g3 models: the Koren form in Vs with g3 acting through mu3, raised to
// |E1|^ex, without the cut-off threshold. All limits on local copies.
inline float G1Control(float Vs, float Vg1, float Vg3, const ParamVector& P, const Slots& s) {
  float ex = std::fmax(std::fabs(P[s.ex]), 0.1f);
  float kp = Limit(P[s.kp], 0.01f, 2000.0f);
  float kVB = std::fabs(P[s.kVB]);
  float mu3 = std::fmin(std::fabs(P[s.mu3]), 10000.0f);
  float root = std::sqrt(kVB + Vs * Vs);
  float grid = Vg1 + Vg3 / mu3;
  float t1 = kp * (1.0f / P[s.mu] + grid / root);
  float E1 = KorenSoftplus(Vs, t1, kp);
  return std::pow(std::fabs(E1), ex);
}

// Hexode/heptode, Nolt (14): the anode current is the Nolt division of the g1 term times a second Koren
// control of g3 (mu', ex', kp', kVB'); the screen takes the rest of the cathode current. Nothing is
// written back.
inline void Hexode(float Va, float Vs, float Vg1, float Vg3, const ParamVector& P, const Slots& s, float& Ia,
                   float& Is) {
  float mu_p = std::fmax(std::fabs(P[s.mu_p]), 0.1f);
  float ex_p = std::fmax(std::fabs(P[s.ex_p]), 0.001f);
  float kp_p = Limit(std::fmax(std::fabs(P[s.kp_p]), 0.1f), 0.01f, 2000.0f);
  float kVB_p = std::fabs(P[s.kVB_p]);
  float beta = P[s.beta];
  NoltDivision d = NoltCommon(P, s);
  float Ea = G1Control(Vs, Vg1, Vg3, P, s);
  float root = std::sqrt(kVB_p + Vs * Vs);
  float t2 = kp_p * (1.0f / mu_p + Vg3 / root);
  float E2 = KorenSoftplus(Vs, t2, kp_p);
  float Eb = std::pow(std::fabs(E2), ex_p);
  float D = 1.0f + beta * Va;
  float F = d.base + d.A * Va / d.kG1 - d.S / D;
  Ia = F * Eb * Ea / P[s.kG1_p];
  float K = 1.0f + d.A * Va - d.alpha / D;
  float Ik = Ea * K / d.kG1;
  Is = Ik - Ia;
}

// Pentode with g3 modelling, Nolt (15, rational law with signed beta) or NoltE (25, exponential law): the
// anode current is the division of the g1 term times the suppressor control h = 1 - exp(-u^ex' / kG1'),
// u = Va/mu' + Vg3 + V0 (h = 0 for u <= 0); the screen takes the rest of the cathode current. Nothing is
// written back.
inline void G3Pentode(bool noltE, float Va, float Vs, float Vg1, float Vg3, const ParamVector& P,
                      const Slots& s, float& Ia, float& Is) {
  float mu_p = std::fmax(std::fabs(P[s.mu_p]), 0.1f);
  float ex_p = std::fmax(std::fabs(P[s.ex_p]), 0.001f);
  float V0 = std::fmax(std::fabs(P[s.V0]), 0.1f);
  float kG1_p = P[s.kG1_p];
  NoltDivision d = NoltCommon(P, s);
  float Ea = G1Control(Vs, Vg1, Vg3, P, s);
  float u = Va / mu_p + Vg3 + V0;
  float h = 0.0f;
  if (u > 0.0f) {
    float up = std::pow(u, ex_p);
    h = 1.0f - std::exp(-up / kG1_p);
  }
  float F, K;
  if (noltE) {
    float beta = std::fabs(P[s.beta]);
    float g = NoltEFactor(beta, Va);
    F = d.base - d.S * g + d.A * Va / d.kG1;
    K = 1.0f + d.A * Va - d.alpha * g;
  } else {
    float beta = P[s.beta];
    float D = 1.0f + beta * Va;
    F = d.base - d.S / D + d.A * Va / d.kG1;
    K = 1.0f + d.A * Va - d.alpha / D;
  }
  Ia = F * h * Ea;
  float Ik = Ea * K / d.kG1;
  Is = Ik - Ia;
}

}  // namespace equations
}  // namespace tubefit
