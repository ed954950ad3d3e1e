#include "analysis/analysis.h"

#include <cmath>
#include <limits>
#include <sstream>
#include <string>

#include "fit/linear.h"
#include "text/format.h"
#include "text/stop.h"

namespace tubefit {

namespace {

constexpr int32_t kMaxSweeps = 50;
constexpr float kTiny = 1.0e-16f;

std::string NameField(const ParamNameTable& names, int32_t i) { return PadTo(names[i], kNameLength); }

void Rotate(Matrix& a, int i, int j, int k, int l, float s, float tau) {
  const float g = a(i, j);
  const float h = a(k, l);
  a(i, j) = g - s * (h + g * tau);
  a(k, l) = h + s * (g - h * tau);
}

}  // namespace

std::string HinvText(const Matrix& C, int32_t n, const ParamNameTable& names) {
  std::ostringstream os;
  WriteList(os);
  WriteList(os, {"Inverse Hessian matrix:"});
  WriteList(os);
  FmtItems header;
  for (int32_t i = 1; i <= n; ++i) header.emplace_back(NameField(names, i));
  WriteFormatted(os, "(10X,100A10:)", header);
  WrtMat(os, 'E', C, n, names);
  return os.str();
}

std::string EigenText(const float d[], const Matrix& V, int32_t n, const ParamNameTable& names) {
  std::ostringstream os;
  FmtItems values;
  FmtItems normalized;
  for (int32_t i = 1; i <= n; ++i) {
    values.emplace_back(d[i]);
    const float r = d[i] / d[1];
    normalized.emplace_back(r);
  }
  WriteList(os);
  WriteList(os, {"Eigen analysis of Hessian matrix:"});
  WriteList(os);
  WriteList(os, {"Eigenvalues:"});
  WriteFormatted(os, "(7X,100E10.2:)", values);
  WriteList(os, {"Eigenvalues normalized:"});
  WriteFormatted(os, "(7X,100E10.2:)", normalized);
  WriteList(os);
  WriteList(os, {"Eigenvectors:"});
  WriteFormatted(os, "(100A8:)");
  WrtMat(os, 'F', V, n, names);
  return os.str();
}

float HessianStepOf(float h, float Pi) {
  const float step = h * Pi;
  return step != 0.0f ? step : h;
}

void Hessian(const Objective& F, const ParamVector& P, int32_t n, Matrix& H) {
  const float h = kHessianStep;
  ParamVector X = P;
  for (int32_t i = 1; i <= n; ++i) {
    const float hi = HessianStepOf(h, P[i]);
    for (int32_t j = i + 1; j <= n; ++j) {
      const float hj = HessianStepOf(h, P[j]);
      X[i] = P[i] + hi;
      X[j] = P[j] + hj;
      const float f1 = F(X);
      X[i] = P[i] + hi;
      X[j] = P[j] - hj;
      const float f2 = F(X);
      X[i] = P[i] - hi;
      X[j] = P[j] - hj;
      const float f3 = F(X);
      X[i] = P[i] - hi;
      X[j] = P[j] + hj;
      const float f4 = F(X);
      X[i] = P[i];
      X[j] = P[j];
      const float num = f1 - f2 + f3 - f4;
      const float den = 4.0f * hi * hj;
      H(i, j) = H(j, i) = num / den;
    }
    X[i] = P[i] + hi;
    const float fp = F(X);
    X[i] = P[i] - hi;
    const float fm = F(X);
    X[i] = P[i];
    const float f0 = F(X);
    const float num = fp + fm - 2.0f * f0;
    const float den = hi * hi;
    H(i, i) = num / den;
  }
}

void FloorTinyEntries(Matrix& H, int32_t n) {
  for (int32_t i = 1; i <= n; ++i) {
    for (int32_t j = 1; j <= n; ++j) {
      if (std::fabs(H(i, j)) <= kTiny) {
        const float pos = static_cast<float>(i) + 0.1f * static_cast<float>(j);
        H(i, j) = pos * kTiny;
      }
    }
  }
}

void WrtMat(std::ostream& os, char FMT, const Matrix& M, int32_t n, const ParamNameTable& names) {
  const char* format = nullptr;
  if (FMT == 'E') format = "(A6,100E10.2:)";
  else if (FMT == 'F') format = "(A6,100F10.4:)";
  else PlainStop({ListDirected({"WrtMat: unknown FMT specifier."})});
  for (int32_t i = 1; i <= n; ++i) {
    FmtItems items{NameField(names, i)};
    for (int32_t j = 1; j <= n; ++j) items.emplace_back(M(i, j));
    WriteFormatted(os, format, items);
  }
}

bool jacobi(Matrix& a, int32_t n, float d[], Matrix& v, int32_t& nrot) {
  std::array<float, MxNP + 1> b{};
  std::array<float, MxNP + 1> z{};
  for (int ip = 1; ip <= n; ++ip) {
    for (int iq = 1; iq <= n; ++iq) v(ip, iq) = 0.0f;
    v(ip, ip) = 1.0f;
  }
  for (int ip = 1; ip <= n; ++ip) {
    b[ip] = d[ip] = a(ip, ip);
    z[ip] = 0.0f;
  }
  nrot = 0;
  for (int32_t sweep = 1; sweep <= kMaxSweeps; ++sweep) {
    float sm = 0.0f;
    for (int ip = 1; ip <= n - 1; ++ip) {
      for (int iq = ip + 1; iq <= n; ++iq) sm += std::fabs(a(ip, iq));
    }
    if (sm == 0.0f) return true;
    float tresh = 0.0f;
    if (sweep < 4) {
      const float n2 = static_cast<float>(n * n);
      tresh = 0.2f * sm / n2;
    }
    for (int ip = 1; ip <= n - 1; ++ip) {
      for (int iq = ip + 1; iq <= n; ++iq) {
        const float g = 100.0f * std::fabs(a(ip, iq));
        // Stored in floats so that the "negligible" tests compare single-precision sums.
        const float dp = std::fabs(d[ip]);
        const float dq = std::fabs(d[iq]);
        const float dpg = dp + g;
        const float dqg = dq + g;
        if (sweep > 4 && dpg == dp && dqg == dq) {
          a(ip, iq) = 0.0f;
        } else if (std::fabs(a(ip, iq)) > tresh) {
          float h = d[iq] - d[ip];
          float t = 0.0f;
          const float ah = std::fabs(h);
          const float ahg = ah + g;
          if (ahg == ah) {
            t = a(ip, iq) / h;
          } else {
            const float theta = 0.5f * h / a(ip, iq);
            const float root = std::sqrt(1.0f + theta * theta);
            t = 1.0f / (std::fabs(theta) + root);
            if (theta < 0.0f) t = -t;
          }
          const float c = 1.0f / std::sqrt(1.0f + t * t);
          const float s = t * c;
          const float tau = s / (1.0f + c);
          h = t * a(ip, iq);
          z[ip] -= h;
          z[iq] += h;
          d[ip] -= h;
          d[iq] += h;
          a(ip, iq) = 0.0f;
          for (int j = 1; j <= ip - 1; ++j) Rotate(a, j, ip, j, iq, s, tau);
          for (int j = ip + 1; j <= iq - 1; ++j) Rotate(a, ip, j, j, iq, s, tau);
          for (int j = iq + 1; j <= n; ++j) Rotate(a, ip, j, iq, j, s, tau);
          for (int j = 1; j <= n; ++j) Rotate(v, j, ip, j, iq, s, tau);
          ++nrot;
        }
      }
    }
    for (int ip = 1; ip <= n; ++ip) {
      b[ip] += z[ip];
      d[ip] = b[ip];
      z[ip] = 0.0f;
    }
  }
  return false;
}

void eigsrt(float d[], Matrix& v, int32_t n) {
  for (int32_t i = 1; i <= n - 1; ++i) {
    int32_t k = i;
    float p = d[i];
    for (int32_t j = i + 1; j <= n; ++j) {
      if (std::fabs(d[j]) >= std::fabs(p)) {
        k = j;
        p = d[j];
      }
    }
    if (k != i) {
      d[k] = d[i];
      d[i] = p;
      for (int32_t j = 1; j <= n; ++j) std::swap(v(j, i), v(j, k));
    }
  }
}

FitAnalysisResult FitAnalysis(const Objective& F, const ParamVector& P, int32_t n, int32_t N,
                              const WarningSink& warn) {
  FitAnalysisResult r;
  Hessian(F, P, n, r.H);
  FloorTinyEntries(r.H, n);

  for (int32_t i = 1; i <= n; ++i) {
    for (int32_t j = 1; j <= n; ++j) r.C(i, j) = r.H(i, j);
  }
  // Only the inverse is wanted: the right-hand side is a zero column.
  Matrix rhs(MxNP, 1);
  gaussj(r.C, n, rhs, 1, warn);

  const float f = F(P);
  const int32_t dof = N - n;
  const float nan = std::numeric_limits<float>::quiet_NaN();
  // Without degrees of freedom the residual variance, and with it every percentage, is undefined.
  r.s2 = dof > 0 ? f / static_cast<float>(dof) : nan;
  for (int32_t i = 1; i <= n; ++i) {
    for (int32_t j = 1; j <= n; ++j) r.C(i, j) *= r.s2;
    if (P[i] == 0.0f) {
      r.SV[i] = nan;
      continue;
    }
    const float sd = std::sqrt(std::fabs(r.C(i, i)));
    r.SV[i] = 100.0f * sd / P[i];
  }

  // jacobi destroys the strict upper triangle of the matrix it works on.
  Matrix a = r.H;
  r.jacobi_converged = jacobi(a, n, r.d.data(), r.V, r.nrot);
  eigsrt(r.d.data(), r.V, n);
  return r;
}

}  // namespace tubefit
