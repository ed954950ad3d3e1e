// The law of every tube model, each written once as a template over its number type: 32-bit float for
// `Model` (one point), the vector lanes of the fit objective (8 or 16 points), double, and automatic-
// derivative types such as ceres::Jet (models/law_jet.h). models/law_math.h lists what a number type
// supplies.
//
// Each law is a struct of its effective parameters and three steps:
//   Params<T>                the effective parameters: the values the equations use at a point, with every
//                            clamp, cap, limit and absolute value of the law applied;
//   Effective(P, s)          forms them from the parameter vector (a pointer to slot 0, any number type)
//                            without changing it: the only place where a law states its clamps;
//   WriteBack(e, P, s)       the part of them that `Model` writes back into the float parameter vector;
//   Currents(e, x, Ia, Is)   the anode and screen current at one point (or one block of points) from the
//                            effective parameters alone.
// The screen-grid laws split Currents in two: Controls(e, x, k) gives the kControls values that depend on
// the grid and screen voltages only (the Koren terms), and CurrentsWith(e, k, x, Ia, Is) the currents from
// them; Currents is the two in turn. Points of one curve at a constant screen voltage share their controls,
// so the objective forms them once per distinct (Vs, Vg1, Vg3) with the same operations.
// `Model` makes all three at every point; the vector objective makes the first two once per evaluation
// and the third for blocks of points; a derivative-based fit evaluates Effective and Currents with the
// clamps acting as bounds and absolute values, and never writes into its parameters.
//
// Voltages in V, currents in A. Every named intermediate is stored in a T, so in float the result does not
// depend on how the compiler keeps temporaries. `kSlots` lists the parameters a law reads or writes (up to a
// null entry). P points at slot 0 of MxNP + 1 values.
//
// Each law opens with its equations, Va, Vs, Vg1, Vg3 the anode, screen, control-grid and suppressor
// voltages; the shared pieces (the Koren term K, the current division, the secondary emission) come first,
// each with its own equations.
// The clamps of each law (caps, limits, absolute values) are stated in its Effective, its bounds for a
// derivative-based fit next to it.
#pragma once

#include <array>
#include <cstdint>
#include <limits>
#include <type_traits>
#include <vector>

#include "core/param_set.h"
#include "models/law_math.h"

namespace tubefit {
namespace law {

constexpr float kCutOff = 1e-6f;  // Koren term: at or below this E1 the term is exactly 0
constexpr float kMuCap = 150.0f;  // triode and variable-mu (Nolt) cap of the amplification factor

// A bound of one parameter for a derivative-based fit: where the law caps or limits a value, the solver
// keeps the parameter inside [lo, hi]. With `magnitude` the law takes the parameter by its absolute value,
// so the start is made positive first (which the law does not notice) and the bounds then hold for the
// value itself. Every law states its bounds next to its Effective, from the same clamps; a law without
// clamps says NoBounds().
struct Bound {
  SlotKey field;
  double lo, hi;
  bool magnitude;
};
using BoundList = std::vector<Bound>;
constexpr double kInf = std::numeric_limits<double>::infinity();

inline BoundList NoBounds() { return {}; }
// Parameters that a law takes only by their absolute value, kept non-negative: the model sees the same
// values, and the solver meets a bound at 0 instead of the kink of |x|, where it would step back and forth
// across zero.
inline BoundList Magnitudes(std::initializer_list<SlotKey> fields) {
  BoundList b;
  for (SlotKey field : fields) b.push_back({field, 0.0, kInf, true});
  return b;
}
inline BoundList Join(BoundList a, const BoundList& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

// The voltages of one point (or of one block of points).
template <class T>
struct Point {
  T Va, Vs, Vg1, Vg3;
};

// x limited to [lo, hi].
template <class T>
T Limit(const T& x, float lo, float hi) {
  T y = Select(x < T(lo), T(lo), x);
  return Select(y > T(hi), T(hi), y);
}

// x, or hi where x exceeds it.
template <class T>
T Cap(const T& x, float hi) {
  return Select(x > T(hi), T(hi), x);
}

// Softplus of the Koren form: V ln(1 + e^t) / kp, or V t / kp once t >= 10 where the two agree to float
// precision. (Selecting the numerator before the one division gives the same value as dividing on both
// sides.)
template <class T>
T KorenSoftplus(const T& V, const T& t, const T& kp) {
  T lg = Log(T(1.0f) + Exp(t));
  return Select(t < T(10.0f), V * lg, V * t) / kp;
}

// --------------------------------------------------------------------------------------- Koren term

// The Koren term, shared by the triode, the screen-grid laws and the estimators:
//   K(Vg, V) = E1^|ex|,  E1 = V/kp · ln(1 + exp(kp·(1/mu + Vg/sqrt(kVB + V²))))     (0 for E1 <= 1e-6)
// kVB must already be non-negative.
// KorenFrom takes the grid part Vg / sqrt(kVB + Va^2) of t, which two sections in the same voltages share.
template <class T>
T KorenFrom(const T& kp, const T& mu, const T& ex, const T& grid, const T& Va) {
  T t = kp * (T(1.0f) / mu + grid);
  T E1 = KorenSoftplus(Va, t, kp);
  auto above = E1 > T(kCutOff);
  if (!Any<T>(above)) return T(0.0f);  // wholly in cut-off: no power
  return Select(above, Pow(E1, Abs(ex)), T(0.0f));
}

template <class T>
T KorenGrid(const T& kVB, const T& Vg, const T& Va) {
  T root = Sqrt(kVB + Va * Va);
  return Vg / root;
}

template <class T>
T KorenCore(const T& kp, const T& mu, const T& kVB, const T& ex, const T& Vg, const T& Va) {
  return KorenFrom(kp, mu, ex, KorenGrid(kVB, Vg, Va), Va);
}

// The parameters of the Koren term; P("kVB") becomes |kVB| (written back).
template <class T>
struct Koren {
  T kp, mu, kVB, ex;
};

template <class T>
Koren<T> KorenEffective(const T* P, const Slots& s) {
  return {P[s.kp], P[s.mu], Abs(P[s.kVB]), P[s.ex]};
}

inline void KorenWriteBack(const Koren<float>& k, ParamVector& P, const Slots& s) { P[s.kVB] = k.kVB; }

// The Koren term takes kVB and ex by magnitude.
inline BoundList KorenBounds() { return Magnitudes({&Slots::kVB, &Slots::ex}); }

template <class T, class Q>
T KorenAt(const Koren<Q>& k, const T& Vg, const T& Va) {
  return KorenCore(T(k.kp), T(k.mu), T(k.kVB), T(k.ex), Vg, Va);
}

// --------------------------------------------------------------------------------- diode and triode

// Diode (code 0)
//   Ia = |Va + eps|^ex / k
// Nothing is clamped; Is is left as it is.
struct Diode {
  template <class T>
  struct Params {
    T eps, ex, k;
  };
  static constexpr SlotKey kSlots[] = {&Slots::k, &Slots::ex, &Slots::eps};

  template <class T>
  static Params<T> Effective(const T* P, const Slots& s) {
    return {P[s.eps], P[s.ex], P[s.k]};
  }
  static BoundList Bounds() { return NoBounds(); }
  static void WriteBack(const Params<float>&, ParamVector&, const Slots&) {}
  template <class T, class Q>
  static void Currents(const Params<Q>& e, const Point<T>& x, T& Ia, T& /*Is*/) {
    T base = Abs(x.Va + T(e.eps));
    Ia = Pow(base, T(e.ex)) / T(e.k);
  }
};

// Koren triode (code 1)
//   E1 = Va/kp · ln(1 + exp(kp·(1/mu + Vg1/sqrt(kVB + Va²))))
//   Ia = E1^ex / kG1                                        (0 for E1 <= 1e-6)
// mu capped at 150 and kVB = |kVB|, both written back. Is is left as it is.
struct Triode {
  template <class T>
  struct Params {
    Koren<T> koren;
    T kG1;
  };
  static constexpr SlotKey kSlots[] = {&Slots::kVB, &Slots::kG1, &Slots::kp, &Slots::ex, &Slots::mu};

  template <class T>
  static Params<T> Effective(const T* P, const Slots& s) {
    Koren<T> k = KorenEffective(P, s);
    k.mu = Cap(P[s.mu], kMuCap);
    return {k, P[s.kG1]};
  }
  static BoundList Bounds() { return Join(KorenBounds(), {{&Slots::mu, -kInf, kMuCap, false}}); }
  static void WriteBack(const Params<float>& e, ParamVector& P, const Slots& s) {
    P[s.mu] = e.koren.mu;
    KorenWriteBack(e.koren, P, s);
  }
  template <class T, class Q>
  static void Currents(const Params<Q>& e, const Point<T>& x, T& Ia, T& /*Is*/) {
    T E = KorenAt(e.koren, x.Vg1, x.Va);
    Ia = E / T(e.kG1);
  }
};

// ------------------------------------------------------------------------------------ Koren pentode

// Currents of a law that splits them: its controls, then the currents from them (see the top of this file).
template <class Law>
struct SplitCurrents {
  template <class T, class E>
  static void Currents(const E& e, const Point<T>& x, T& Ia, T& Is) {
    T k[Law::kControls];
    Law::Controls(e, x, k);
    Law::CurrentsWith(e, static_cast<const T*>(k), x, Ia, Is);
  }
};

// Koren pentode (code 2)
//   E1 = Vs/kp · ln(1 + exp(kp·(1/mu + Vg1/Vs)))
//   Ia = E1^ex / kG1 · atan(Va/kVB)
//   Is = (Vg1 + Vs/mu)^ex / kG2                             (0 for Vg1 + Vs/mu <= 0)
// kp limited to [0.01, 2000], ex taken with its sign. Nothing is written back.
struct KorenPentode : SplitCurrents<KorenPentode> {
  template <class T>
  struct Params {
    T kp, mu, ex, kVB, kG1, kG2;
  };
  static constexpr SlotKey kSlots[] = {&Slots::mu, &Slots::ex,  &Slots::kG1,
                                               &Slots::kp, &Slots::kVB, &Slots::kG2};

  template <class T>
  static Params<T> Effective(const T* P, const Slots& s) {
    return {Limit(P[s.kp], 0.01f, 2000.0f), P[s.mu], P[s.ex], P[s.kVB], P[s.kG1], P[s.kG2]};
  }
  static BoundList Bounds() { return {{&Slots::kp, 0.01, 2000.0, false}}; }
  static void WriteBack(const Params<float>&, ParamVector&, const Slots&) {}
  // k[0] = E1^ex, k[1] = the screen current.
  static constexpr int kControls = 2;
  template <class T, class Q>
  static void Controls(const Params<Q>& e, const Point<T>& x, T* k) {
    const T kp = T(e.kp), mu = T(e.mu), ex = T(e.ex);
    T t = kp * (T(1.0f) / mu + x.Vg1 / x.Vs);
    // ln(1 + e^t) in this form, except where e^t overflows the float range (t > 88.7): there ln(1 + e^t)
    // equals t to far below float precision, and the plain form would give an infinite current.
    T et = Exp(t);
    T lg = Select(IsInf(et), t, Log(T(1.0f) + et));
    T E1 = x.Vs / kp * lg;
    k[0] = Pow(E1, ex);
    T sc = x.Vg1 + x.Vs / mu;
    k[1] = Select(sc > T(0.0f), Pow(sc, ex) / T(e.kG2), T(0.0f));
  }
  template <class T, class Q>
  static void CurrentsWith(const Params<Q>& e, const T* k, const Point<T>& x, T& Ia, T& Is) {
    T shape = Atan(x.Va / T(e.kVB));
    Ia = k[0] / T(e.kG1) * shape;
    Is = k[1];
  }
};

// ------------------------------------------------------------------------------------- Nolt family

// The Nolt current division: kG1, kG2, alpha_s with their signs, A = |A|, and the constants derived from
// them, alpha = 1 - kG1 (1 + alpha_s) / kG2, S = alpha_s / kG2 + alpha / kG1, base = 1/kG1 - 1/kG2. They
// are formed once for an evaluation, not at every point.
template <class T>
struct Division {
  T kG1, kG2, alpha_s, A, alpha, S, base;
};

template <class T>
Division<T> DivisionEffective(const T* P, const Slots& s) {
  Division<T> r;
  r.kG1 = P[s.kG1];
  r.kG2 = P[s.kG2];
  r.alpha_s = P[s.alpha_s];
  r.A = Abs(P[s.A]);
  T share = r.kG1 * (T(1.0f) + r.alpha_s);
  r.alpha = T(1.0f) - share / r.kG2;
  r.S = r.alpha_s / r.kG2 + r.alpha / r.kG1;
  r.base = T(1.0f) / r.kG1 - T(1.0f) / r.kG2;
  return r;
}

// The division in the number type of the points.
template <class T, class Q>
Division<T> Terms(const Division<Q>& d) {
  return {T(d.kG1), T(d.kG2), T(d.alpha_s), T(d.A), T(d.alpha), T(d.S), T(d.base)};
}

// The division laws in Va: the rational D = 1 + beta Va (Nolt) or 1 + beta Va / Vs (NoltI), and the
// exponential g = exp(-(beta Va)^1.5) (NoltE), which the NoltE beam tetrode computes as exp(-x sqrt(x)).
enum class DivisionLaw { kRational, kRationalVs, kExpPow, kExpSqrt };

constexpr bool IsRational(DivisionLaw law) { return law == DivisionLaw::kRational || law == DivisionLaw::kRationalVs; }

// D of a rational law, or g of an exponential one, at one point; beta already made what the code uses.
template <DivisionLaw L, class T>
T DivisionFactor(const T& beta, const Point<T>& x) {
  if (L == DivisionLaw::kRational) return T(1.0f) + beta * x.Va;
  if (L == DivisionLaw::kRationalVs) return T(1.0f) + beta * x.Va / x.Vs;
  T bv = beta * x.Va;
  if (L == DivisionLaw::kExpPow) return Exp(-Pow(bv, T(1.5f)));
  return Exp(-bv * Sqrt(bv));
}

// Anode factor F = base - S/D (or - S g) + A Va / kG1 and screen factor G = 1 + alpha_s/D (or + alpha_s g).
template <DivisionLaw L, class T>
void Factors(const Division<T>& d, const T& D, const T& Va, T& F, T& G) {
  if (IsRational(L)) {
    F = d.base - d.S / D + d.A * Va / d.kG1;
    G = T(1.0f) + d.alpha_s / D;
  } else {
    F = d.base - d.S * D + d.A * Va / d.kG1;
    G = T(1.0f) + d.alpha_s * D;
  }
}

// Secondary emission of the beam tetrodes, with Sc, nu, lambda, w by magnitude and alpha' as the code
// makes it: T = Sc Va (1 + tanh(-u)), u = a' (Va - Vs/lambda + nu Vg1 + w).
// 1 + tanh(-u) = 2 / (1 + e^2u) is computed as 2 z / (1 + z) with z = e^-2u for u > 0 and as 2 / (1 + z)
// with z = e^2u otherwise: z never exceeds 1, so nothing overflows, and for large u the term keeps its
// relative precision, where 1 + tanh(-u) would be the difference of two nearly equal numbers.
template <class T>
struct Emission {
  T Sc, nu, lambda, w, a_p;
};

template <class T, class Q>
T SecondaryEmission(const Emission<Q>& e, const Point<T>& x) {
  T arg = x.Va - x.Vs / T(e.lambda) + T(e.nu) * x.Vg1 + T(e.w);
  T u = T(e.a_p) * arg;
  auto above = u > T(0.0f);
  T lower = Select(above, -u, u);  // -|u|, with the derivative of the side u is on
  T z = Exp(T(2.0f) * lower);
  T share = T(2.0f) * Select(above, z, T(1.0f)) / (T(1.0f) + z);
  return T(e.Sc) * x.Va * share;
}

// Nolt-family pentodes (codes 12, 22, 32) and beam tetrodes (13, 23, 33)
//   E = K(Vg1, Vs)
//   alpha = 1 - kG1·(1 + alpha_s)/kG2,  S = alpha_s/kG2 + alpha/kG1
//   D = 1 + beta·Va (Nolt), 1 + beta·Va/Vs (NoltI);  g = exp(-(beta·Va)^1.5) (NoltE)
//   Ia = E·F,  F = 1/kG1 - 1/kG2 - S/D + A·Va/kG1            (NoltE: S·g for S/D)
//   Is = E·G/kG2,  G = 1 + alpha_s/D                        (NoltE: alpha_s·g for alpha_s/D)
// The beam tetrodes add the secondary emission T, which moves current from the anode to the screen:
//   T = Sc·Va·(1 + tanh(-alpha'·(Va - Vs/lambda + nu·Vg1 + w)))
//   Ia = E·(F - T/kG2),  Is = E·(G + T)/kG2
//   12 Nolt pentode (kRational), 32 NoltI pentode (kRationalVs), 22 NoltE pentode (kExpPow):
//      beta = |beta| without write-back; kVB = |kVB| written back.
//   13 Nolt and 33 NoltI beam tetrode: beta = |beta| and alpha' capped at 0.1, both written back.
//   23 NoltE beam tetrode (kExpSqrt): beta = |beta| written back, alpha' as it stands.
template <DivisionLaw L, bool kTetrode>
struct Nolt : SplitCurrents<Nolt<L, kTetrode>> {
  template <class T>
  struct Params {
    Koren<T> koren;
    Division<T> division;
    T beta;
    Emission<T> emission;  // tetrodes only
  };
  // (the pentodes end at "A"; a null entry ends the list)
  static constexpr SlotKey kSlots[] = {
      &Slots::kVB, &Slots::kG1, &Slots::kp, &Slots::ex, &Slots::mu, &Slots::kG2, &Slots::alpha_s, &Slots::beta,
      &Slots::A,
      kTetrode ? &Slots::Sc : nullptr, &Slots::nu, &Slots::lambda, &Slots::w, &Slots::alpha_p};

  template <class T>
  static Params<T> Effective(const T* P, const Slots& s) {
    Params<T> e;
    e.koren = KorenEffective(P, s);
    e.division = DivisionEffective(P, s);
    e.beta = Abs(P[s.beta]);
    const T a_p = P[s.alpha_p];
    e.emission = {Abs(P[s.Sc]), Abs(P[s.nu]), Abs(P[s.lambda]), Abs(P[s.w]),
                  L == DivisionLaw::kExpSqrt ? a_p : Cap(a_p, 0.1f)};
    return e;
  }
  // The division takes A and beta by magnitude, the emission Sc, nu, lambda and w.
  static BoundList Bounds() {
    const BoundList division = Join(KorenBounds(), Magnitudes({&Slots::A, &Slots::beta}));
    if (!kTetrode) return division;
    const BoundList emission = Join(division, Magnitudes({&Slots::Sc, &Slots::nu, &Slots::lambda, &Slots::w}));
    if (L == DivisionLaw::kExpSqrt) return emission;
    return Join(emission, {{&Slots::alpha_p, -kInf, 0.1, false}});
  }
  static void WriteBack(const Params<float>& e, ParamVector& P, const Slots& s) {
    if (kTetrode) {
      P[s.beta] = e.beta;
      P[s.alpha_p] = e.emission.a_p;
    }
    KorenWriteBack(e.koren, P, s);
  }
  // k[0] = E, the Koren term in Vg1 and Vs.
  static constexpr int kControls = 1;
  template <class T, class Q>
  static void Controls(const Params<Q>& e, const Point<T>& x, T* k) {
    k[0] = KorenAt(e.koren, x.Vg1, x.Vs);
  }
  template <class T, class Q>
  static void CurrentsWith(const Params<Q>& e, const T* k, const Point<T>& x, T& Ia, T& Is) {
    const Division<T> d = Terms<T>(e.division);
    T D = DivisionFactor<L>(T(e.beta), x);
    T F, G;
    Factors<L>(d, D, x.Va, F, G);
    const T E = k[0];
    if (kTetrode) {
      T Tse = SecondaryEmission(e.emission, x);
      F = F - Tse / d.kG2;
      G = G + Tse;
    }
    Ia = E * F;
    Is = E * G / d.kG2;
  }
};

using NoltPentode = Nolt<DivisionLaw::kRational, false>;        // 12
using NoltEPentode = Nolt<DivisionLaw::kExpPow, false>;         // 22
using NoltIPentode = Nolt<DivisionLaw::kRationalVs, false>;     // 32
using NoltBeamTetrode = Nolt<DivisionLaw::kRational, true>;     // 13
using NoltEBeamTetrode = Nolt<DivisionLaw::kExpSqrt, true>;     // 23
using NoltIBeamTetrode = Nolt<DivisionLaw::kRationalVs, true>;  // 33

// ------------------------------------------------------------------------------------ variable mu

// Variable-mu pentode, Nolt (code 16, rational law) or NoltE (26, exponential law)
//   E = (1 - |svar|)·K(Vg1, Vs; mu, ex) + svar·K(Vg1, Vs; mu_b, ex_b)
//   Ia = E·F,  Is = E·G/kG2                                 (F, G as the Nolt pentode's)
//   16: slots 1..12 are made non-negative and mu_b is capped at 150, all written back; the division uses
//       kG1, kG2 and alpha_s as they stood before (so signed at the first point of an evaluation only).
//   26: ex_b capped at 3 and mu_b at 300, kVB = |kVB|, written back; svar and the division signed.
template <bool kNoltE>
struct VarMu : SplitCurrents<VarMu<kNoltE>> {
  static constexpr DivisionLaw L = kNoltE ? DivisionLaw::kExpPow : DivisionLaw::kRational;
  template <class T>
  struct Params {
    Koren<T> koren;
    Division<T> division;
    T beta, mu_b, ex_b, svar;
  };
  static constexpr SlotKey kSlots[] = {&Slots::alpha_s, &Slots::beta, &Slots::A,  &Slots::kG2,
                                               &Slots::kG1,     &Slots::mu,   &Slots::ex, &Slots::mu_b,
                                               &Slots::ex_b,    &Slots::kp,   &Slots::kVB, &Slots::svar};
  static constexpr int32_t kNonNegative = 12;  // code 16: the slots made non-negative

  template <class T>
  static Params<T> Effective(const T* P, const Slots& s) {
    Params<T> e;
    e.division = DivisionEffective(P, s);
    e.beta = Abs(P[s.beta]);
    if (kNoltE) {
      e.koren = KorenEffective(P, s);
      e.ex_b = Cap(P[s.ex_b], 3.0f);
      e.mu_b = Cap(P[s.mu_b], 300.0f);
      e.svar = P[s.svar];
    } else {
      T Q[MxNP + 1];
      for (int32_t i = 0; i <= MxNP; ++i) Q[i] = i >= 1 && i <= kNonNegative ? Abs(P[i]) : P[i];
      e.koren = KorenEffective(static_cast<const T*>(Q), s);
      e.mu_b = Cap(Q[s.mu_b], kMuCap);
      e.ex_b = Q[s.ex_b];
      e.svar = Q[s.svar];
    }
    return e;
  }
  // Code 16 makes all twelve parameters non-negative after its first point; with every one of them kept
  // non-negative the division sees the same values at every point, as the objective does.
  static BoundList Bounds() {
    if (kNoltE) {
      return Join(Join(KorenBounds(), Magnitudes({&Slots::A, &Slots::beta})),
                  {{&Slots::ex_b, -kInf, 3.0, false}, {&Slots::mu_b, -kInf, 300.0, false}});
    }
    BoundList b;
    for (SlotKey field : kSlots) b.push_back({field, 0.0, field == &Slots::mu_b ? double{kMuCap} : kInf, true});
    return b;
  }
  static void WriteBack(const Params<float>& e, ParamVector& P, const Slots& s) {
    if (!kNoltE) {
      for (int32_t i = 1; i <= kNonNegative; ++i) P[i] = Abs(P[i]);
    } else {
      P[s.ex_b] = e.ex_b;
    }
    P[s.mu_b] = e.mu_b;
    KorenWriteBack(e.koren, P, s);
  }
  // k[0] = Ea, k[1] = Eb: the two Koren sections in Vg1 and Vs.
  static constexpr int kControls = 2;
  template <class T, class Q>
  static void Controls(const Params<Q>& e, const Point<T>& x, T* k) {
    const T kp = T(e.koren.kp);
    T grid = KorenGrid(T(e.koren.kVB), x.Vg1, x.Vs);
    k[0] = KorenFrom(kp, T(e.koren.mu), T(e.koren.ex), grid, x.Vs);
    k[1] = KorenFrom(kp, T(e.mu_b), T(e.ex_b), grid, x.Vs);
  }
  template <class T, class Q>
  static void CurrentsWith(const Params<Q>& e, const T* k, const Point<T>& x, T& Ia, T& Is) {
    const Division<T> d = Terms<T>(e.division);
    T D = DivisionFactor<L>(T(e.beta), x);
    T F, G;
    Factors<L>(d, D, x.Va, F, G);
    const T Ea = k[0], Eb = k[1];
    const T svar = T(e.svar);
    T E = (T(1.0f) - Abs(svar)) * Ea + svar * Eb;
    Ia = E * F;
    Is = E * G / d.kG2;
  }
};

using VarMuNolt = VarMu<false>;  // 16
using VarMuNoltE = VarMu<true>;  // 26

// ------------------------------------------------------------------------- hexode and g3 pentodes

// g1 control of the hexode and g3 models: the Koren form in Vs with g3 acting through mu3, |E1|^ex, without
// the cut-off threshold. ex = max(|ex|, 0.1), kp limited to [0.01, 2000], kVB = |kVB|,
// mu3 = min(|mu3|, 10000), none written back.
template <class T>
struct G1Control {
  T ex, kp, kVB, mu3, mu;
};

template <class T>
G1Control<T> G1ControlEffective(const T* P, const Slots& s) {
  return {Max(Abs(P[s.ex]), T(0.1f)), Limit(P[s.kp], 0.01f, 2000.0f), Abs(P[s.kVB]),
          Min(Abs(P[s.mu3]), T(10000.0f)), P[s.mu]};
}

// The bounds of the g1 control, with A of the division.
inline BoundList G1ControlBounds() {
  return {{&Slots::ex, 0.1, kInf, true},   {&Slots::kp, 0.01, 2000.0, false}, {&Slots::mu3, 0.0, 10000.0, true},
          {&Slots::mu_p, 0.1, kInf, true}, {&Slots::ex_p, 0.001, kInf, true}, {&Slots::kVB, 0.0, kInf, true},
          {&Slots::A, 0.0, kInf, true}};
}

template <class T, class Q>
T G1ControlAt(const G1Control<Q>& g, const Point<T>& x) {
  const T kp = T(g.kp);
  T root = Sqrt(T(g.kVB) + x.Vs * x.Vs);
  T grid = x.Vg1 + x.Vg3 / T(g.mu3);
  T t1 = kp * (T(1.0f) / T(g.mu) + grid / root);
  T E1 = KorenSoftplus(x.Vs, t1, kp);
  return Pow(Abs(E1), T(g.ex));
}

// Hexode/heptode, Nolt (code 14)
//   Ea = |Vs/kp · ln(1 + exp(kp·(1/mu + (Vg1 + Vg3/mu3)/sqrt(kVB + Vs²))))|^ex
//   Eb = |Vs/kp' · ln(1 + exp(kp'·(1/mu' + Vg3/sqrt(kVB' + Vs²))))|^ex'
//   Ia = (1/kG1 - 1/kG2 + A·Va/kG1 - S/D)·Ea·Eb/kG1'        (D = 1 + beta·Va, beta signed)
//   Is = Ea·(1 + A·Va - alpha/D)/kG1 - Ia
// The anode current is the Nolt division of the g1 term times a second Koren control of g3; the screen
// takes the rest of the cathode current. mu' = max(|mu'|, 0.1), ex' = max(|ex'|, 0.001), kp' = max(|kp'|, 0.1) limited to
// [0.01, 2000], kVB' = |kVB'|. Nothing is written back.
struct Hexode : SplitCurrents<Hexode> {
  template <class T>
  struct Params {
    G1Control<T> g1;
    Division<T> division;
    T beta, mu_p, ex_p, kp_p, kVB_p, kG1_p;
  };
  static constexpr SlotKey kSlots[] = {
      &Slots::mu_p, &Slots::ex_p, &Slots::kG1_p, &Slots::kp_p, &Slots::kVB_p, &Slots::mu3, &Slots::alpha_s,
      &Slots::beta, &Slots::A,    &Slots::kG2,   &Slots::kVB,  &Slots::kp,    &Slots::kG1, &Slots::mu, &Slots::ex};

  template <class T>
  static Params<T> Effective(const T* P, const Slots& s) {
    Params<T> e;
    e.g1 = G1ControlEffective(P, s);
    e.division = DivisionEffective(P, s);
    e.beta = P[s.beta];
    e.mu_p = Max(Abs(P[s.mu_p]), T(0.1f));
    e.ex_p = Max(Abs(P[s.ex_p]), T(0.001f));
    e.kp_p = Limit(Max(Abs(P[s.kp_p]), T(0.1f)), 0.01f, 2000.0f);
    e.kVB_p = Abs(P[s.kVB_p]);
    e.kG1_p = P[s.kG1_p];
    return e;
  }
  static BoundList Bounds() {
    return Join(G1ControlBounds(), {{&Slots::kp_p, 0.1, 2000.0, true}, {&Slots::kVB_p, 0.0, kInf, true}});
  }
  static void WriteBack(const Params<float>&, ParamVector&, const Slots&) {}
  // k[0] = Ea, the g1 control, k[1] = Eb, the g3 control.
  static constexpr int kControls = 2;
  template <class T, class Q>
  static void Controls(const Params<Q>& e, const Point<T>& x, T* k) {
    const T kp_p = T(e.kp_p);
    k[0] = G1ControlAt(e.g1, x);
    T root = Sqrt(T(e.kVB_p) + x.Vs * x.Vs);
    T t2 = kp_p * (T(1.0f) / T(e.mu_p) + x.Vg3 / root);
    T E2 = KorenSoftplus(x.Vs, t2, kp_p);
    k[1] = Pow(Abs(E2), T(e.ex_p));
  }
  template <class T, class Q>
  static void CurrentsWith(const Params<Q>& e, const T* k, const Point<T>& x, T& Ia, T& Is) {
    const Division<T> d = Terms<T>(e.division);
    const T Ea = k[0], Eb = k[1];
    T D = DivisionFactor<DivisionLaw::kRational>(T(e.beta), x);
    T F = d.base + d.A * x.Va / d.kG1 - d.S / D;
    Ia = F * Eb * Ea / T(e.kG1_p);
    T K = T(1.0f) + d.A * x.Va - d.alpha / D;
    T Ik = Ea * K / d.kG1;
    Is = Ik - Ia;
  }
};

// Pentode with g3 modelling, Nolt (code 15, rational law with signed beta) or NoltE (25, exponential law
// with |beta|)
//   u = Va/mu' + Vg3 + V0,  h = 1 - exp(-u^ex'/kG1')        (h = 0 for u <= 0)
//   Ia = F·h·Ea,  Is = Ea·(1 + A·Va - alpha/D)/kG1 - Ia      (Ea as the hexode's, F as the Nolt pentode's)
// The anode current is the division of the g1 term times the suppressor control h; the screen takes the
// rest of the cathode current. mu' = max(|mu'|, 0.1), ex' = max(|ex'|, 0.001), V0 = max(|V0|, 0.1). Nothing is
// written back.
template <bool kNoltE>
struct G3Pentode : SplitCurrents<G3Pentode<kNoltE>> {
  static constexpr DivisionLaw L = kNoltE ? DivisionLaw::kExpPow : DivisionLaw::kRational;
  template <class T>
  struct Params {
    G1Control<T> g1;
    Division<T> division;
    T beta, mu_p, ex_p, V0, kG1_p;
  };
  static constexpr SlotKey kSlots[] = {
      &Slots::mu_p,  &Slots::ex_p, &Slots::kG1_p, &Slots::V0,  &Slots::mu3, &Slots::ex,  &Slots::alpha_s,
      &Slots::beta,  &Slots::A,    &Slots::kG2,   &Slots::kVB, &Slots::kp,  &Slots::kG1, &Slots::mu};

  template <class T>
  static Params<T> Effective(const T* P, const Slots& s) {
    Params<T> e;
    e.g1 = G1ControlEffective(P, s);
    e.division = DivisionEffective(P, s);
    e.beta = kNoltE ? Abs(P[s.beta]) : P[s.beta];
    e.mu_p = Max(Abs(P[s.mu_p]), T(0.1f));
    e.ex_p = Max(Abs(P[s.ex_p]), T(0.001f));
    e.V0 = Max(Abs(P[s.V0]), T(0.1f));
    e.kG1_p = P[s.kG1_p];
    return e;
  }
  static BoundList Bounds() {
    if (kNoltE) return Join(G1ControlBounds(), {{&Slots::V0, 0.1, kInf, true}, {&Slots::beta, 0.0, kInf, true}});
    return Join(G1ControlBounds(), {{&Slots::V0, 0.1, kInf, true}});
  }
  static void WriteBack(const Params<float>&, ParamVector&, const Slots&) {}
  // k[0] = Ea, the g1 control.
  static constexpr int kControls = 1;
  template <class T, class Q>
  static void Controls(const Params<Q>& e, const Point<T>& x, T* k) {
    k[0] = G1ControlAt(e.g1, x);
  }
  template <class T, class Q>
  static void CurrentsWith(const Params<Q>& e, const T* k, const Point<T>& x, T& Ia, T& Is) {
    const Division<T> d = Terms<T>(e.division);
    const T Ea = k[0];
    T u = x.Va / T(e.mu_p) + x.Vg3 + T(e.V0);
    T up = Pow(u, T(e.ex_p));
    T h = Select(u > T(0.0f), T(1.0f) - Exp(-up / T(e.kG1_p)), T(0.0f));
    T D = DivisionFactor<L>(T(e.beta), x);
    T F, G;
    Factors<L>(d, D, x.Va, F, G);
    T K = IsRational(L) ? T(1.0f) + d.A * x.Va - d.alpha / D : T(1.0f) + d.A * x.Va - d.alpha * D;
    Ia = F * h * Ea;
    T Ik = Ea * K / d.kG1;
    Is = Ik - Ia;
  }
};

using G3PentodeNolt = G3Pentode<false>;  // 15
using G3PentodeNoltE = G3Pentode<true>;  // 25

// ------------------------------------------------------------------------------------ every law

// A list of law types.
template <class... Laws>
struct LawList {
  static constexpr int32_t size = sizeof...(Laws);
};

// Every law, in the order of their index. A model entry (models/model_info.cpp) names its law; the
// modules that compile code for each law (the objective's kernels for every instruction set, the
// Levenberg-Marquardt residuals) instantiate it from this list and find a code's law by its index.
using AllLaws = LawList<Diode, Triode, KorenPentode, NoltPentode, NoltEPentode, NoltIPentode, NoltBeamTetrode,
                        NoltEBeamTetrode, NoltIBeamTetrode, Hexode, G3PentodeNolt, G3PentodeNoltE, VarMuNolt,
                        VarMuNoltE>;
constexpr int32_t kLawCount = AllLaws::size;

template <class Law, class List>
struct IndexIn;
template <class Law, class... Rest>
struct IndexIn<Law, LawList<Law, Rest...>> {
  static constexpr int32_t value = 0;
};
template <class Law, class First, class... Rest>
struct IndexIn<Law, LawList<First, Rest...>> {
  static constexpr int32_t value = 1 + IndexIn<Law, LawList<Rest...>>::value;
};

// The index of a law in AllLaws (a compile error for a law that is not in it).
template <class Law>
constexpr int32_t kLawIndex = IndexIn<Law, AllLaws>::value;

// f(Law{}) for every law of AllLaws, by index: a module's table of what it compiles for each law.
template <class R, class F, class... Laws>
std::array<R, sizeof...(Laws)> TableOver(LawList<Laws...>, F f) {
  return {{f(Laws{})...}};
}
template <class R, class F>
std::array<R, kLawCount> LawTable(F f) {
  return TableOver<R>(AllLaws{}, f);
}

// The number of grid-and-screen controls of a law (0 for the diode and the triode, whose Koren term
// depends on the anode voltage).
template <class Law, class = void>
struct ControlCount {
  static constexpr int value = 0;
};
template <class Law>
struct ControlCount<Law, std::void_t<decltype(Law::kControls)>> {
  static constexpr int value = Law::kControls;
};

// One point through a law the way `Model` evaluates it: effective parameters, write-back, currents.
template <class Law>
void Evaluate(const Point<float>& x, ParamVector& P, const Slots& s, float& Ia, float& Is) {
  const typename Law::template Params<float> e = Law::Effective(P.data(), s);
  Law::WriteBack(e, P, s);
  Law::Currents(e, x, Ia, Is);
}

}  // namespace law
}  // namespace tubefit
