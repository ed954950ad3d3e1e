#include "checks/checks.h"

#include <cmath>
#include <string>

#include "core/matrix.h"
#include "fit/linear.h"
#include "models/models.h"
#include "text/format.h"
#include "text/stop.h"

namespace tubefit {

namespace {

constexpr int32_t kMinCurvesTriode = 5;
constexpr int32_t kMinFilesPentode = 3;
constexpr int32_t kMinCurvesPentode = 9;
constexpr int32_t kMinCurvesPerScreenVoltage = 3;  // the number printed with the pentode curve warning
constexpr int32_t kMinCurvesVarMu = 8;
constexpr float kMaxDynamicRange = 10.0f;
constexpr float kCutOffRatio = 0.005f;
constexpr float kScreenCurrentFloor = 1e-6f;   // A
constexpr float kSaturationCurrent = 0.001f;   // A
constexpr float kSaturationVaFraction = 0.25f;
constexpr float kMuLimit = 150.0f;
constexpr float kMuTolerance = 1e-6f;
constexpr int kParabolaPoints = 5;

const char* const kStars = "************************";

bool IsTriodeCheck(char tube) { return tube == 'T' || tube == 'X'; }
bool IsPentodeCheck(char tube) { return tube == 'P' || tube == 'B'; }

int32_t TotalCurves(const MeasurementSet& ms) {
  int32_t total = 0;
  for (int f = 1; f <= ms.NFiles; ++f) total += ms.file[f].NVg;
  return total;
}

// The constant-screen files: all, except the screen-tied-to-anode file that stands last when there is one.
int LastConstantScreenFile(const MeasurementSet& ms) { return ms.VsVaSeen ? ms.NFiles - 1 : ms.NFiles; }

void WarnTooLittleData(std::ostream& console, const std::string& number_text, int32_t number,
                       const char* extra_line) {
  WriteList(console);
  WriteList(console, {"!! CheckSufficientData reports too little data"});
  WriteList(console, {number_text, number});
  if (extra_line != nullptr) WriteList(console, {extra_line});
  WriteList(console, {"Fit will proceed but results may not be trustworthy!!"});
  WriteList(console);
}

// Least-squares parabola y = a1 + a2*x + a3*x^2 through x[1..n], y[1..n], all weights 1; returns a3.
float ParabolaCurvature(const float x[], const float y[], int n, std::ostream& console) {
  constexpr int ma = 3;
  float sig[kParabolaPoints + 1];
  for (int i = 1; i <= n; ++i) sig[i] = 1.0f;
  float a[ma + 1] = {0.0f, 0.0f, 0.0f, 0.0f};
  const int ia[ma + 1] = {0, 1, 1, 1};
  Matrix covar(ma, ma);
  float chisq = 0.0f;
  const BasisFunctions powers = [](float xv, float afunc[], int m) {
    float p = 1.0f;
    for (int j = 1; j <= m; ++j) {
      afunc[j] = p;
      p = p * xv;
    }
  };
  lfit(x, y, sig, n, a, ia, ma, covar, chisq, powers,
       [&console](const std::string& text) { WriteList(console, {text}); });
  return a[3];
}

}  // namespace

int32_t CheckSufficientData(const Settings& s, const MeasurementSet& ms, std::ostream& console) {
  const char tube = s.TubeType;
  const int32_t curves = TotalCurves(ms);
  if (IsTriodeCheck(tube)) {
    if (curves < kMinCurvesTriode) {
      WarnTooLittleData(console, "Number of Vg values should at least be", kMinCurvesTriode, nullptr);
    }
  } else if (tube == 'P' || tube == 'B' || tube == 'V') {
    if (ms.NFiles < kMinFilesPentode) {
      WarnTooLittleData(console, "Number of Vg2 values should at least be", kMinFilesPentode, nullptr);
    }
    if (curves < kMinCurvesPentode) {
      WarnTooLittleData(console, "Number of Vg values should at least be", kMinCurvesPerScreenVoltage,
                        "per Vg2 value.");
    }
    if (tube == 'V') {
      for (int f = 1; f <= ms.NFiles; ++f) {
        if (ms.file[f].NVg < kMinCurvesVarMu) {
          WarnTooLittleData(console, "Number of Vg values should at least be", kMinCurvesVarMu,
                            "per Vg2 value for a variable-mu pentode.");
        }
      }
    }
  }

  int32_t all_points = 0;
  int32_t in_fit = 0;
  int32_t with_current = 0;  // points in the fit with a non-zero anode or screen current
  for (int f = 1; f <= ms.NFiles; ++f) {
    for (int k = 1; k <= ms.file[f].NVg; ++k) {
      const MeasCurve& c = ms.curve(f, k);
      all_points += c.NPts;
      for (int p = 1; p <= c.NPts; ++p) {
        if (!InFitWindow(c.pt[p], s.Pmax, s.Icmax)) continue;
        ++in_fit;
        if (c.pt[p].Ia != 0.0f || c.pt[p].Is != 0.0f) ++with_current;
      }
    }
  }
  if (all_points == 0) PlainStop({ListDirected({"The measurement files hold no datapoints."})});
  // Without a point in the window the objective is zero for any parameters and the fit would hand on
  // whatever the start values were.
  if (in_fit == 0) {
    WriteFormatted(console, "(X,'Total number of datapoints in the fit equals:',I5,'.')", {in_fit});
    StopWithText("Execution halts",
                 {ListDirected({"No datapoint lies inside the fit window Va*Ia < Pmax, Ia+Is < Icmax set in " +
                                TrimRight(s.IniFile) + "."}),
                  ListDirected({"Pmax =", s.Pmax, " W, Icmax =", s.Icmax * 1000.0f, " mA."})});
  }

  // Cut-off points only say that the current is zero. With no more of the others than parameters the fit
  // matches them exactly (or not at all) and would report a perfect fit of nothing.
  ParamSet ps;
  ParamIdent(s.iModel, ps);
  if (with_current <= ps.NFit) {
    WriteFormatted(console, "(X,'Total number of datapoints in the fit equals:',I5,'.')", {in_fit});
    StopWithText("Execution halts",
                 {ListDirected({"Only " + RenderI(with_current, 0) +
                                " of them carry a non-zero current, too few to fit " + RenderI(ps.NFit, 0) +
                                " parameters."}),
                  ListDirected({"Raise Pmax =", s.Pmax, " W or Icmax =", s.Icmax * 1000.0f, " mA set in " +
                                TrimRight(s.IniFile) + "."})});
  }

  WriteFormatted(console, "(X,'Total number of datapoints in the fit equals:',I5,'.')", {in_fit});
  const float percent = 100.0f * static_cast<float>(in_fit) / static_cast<float>(all_points);
  if (in_fit == all_points) {
    // 100.0 does not fit F5.2.
    WriteFormatted(console, "(X,'This is ',F5.1,'% of the total number ',I5,' of datapoints.')",
                   {percent, all_points});
  } else {
    WriteFormatted(console, "(X,'This is ',F5.2,'% of the total number ',I5,' of datapoints.')",
                   {percent, all_points});
  }
  return in_fit;
}

void CheckDynamicRange(const Settings& s, const MeasurementSet& ms, std::ostream& console) {
  if (!IsPentodeCheck(s.TubeType)) return;
  float imin = 1e6f;
  float imax = 0.0f;
  bool any = false;
  for (int f = 1; f <= LastConstantScreenFile(ms); ++f) {
    for (int k = 1; k <= ms.file[f].NVg; ++k) {
      const MeasCurve& c = ms.curve(f, k);
      const float ia = c.pt[c.NPts].Ia;  // at the highest anode voltage
      if (ia > imax) imax = ia;
      if (ia < imin) imin = ia;
      any = true;
    }
  }
  if (!any) return;
  const float imin_ma = imin * 1000.0f;
  const float imax_ma = imax * 1000.0f;
  if (imin <= 0.0f) {
    // No ratio exists: say so rather than divide by zero.
    WriteList(console, {kStars});
    WriteFormatted(console,
                   "(X,'Dynamic range unbounded: Imin(Va,max) = ',F5.2,', Imax(Va,max) = ',F4.0,' mA.')",
                   {imin_ma, imax_ma});
    WriteFormatted(console, "(X,'Best results obtained with dynamic range less than',F5.1,'.')",
                   {kMaxDynamicRange});
    WriteList(console, {kStars});
    return;
  }
  const float range = imax / imin;
  if (range > kMaxDynamicRange) {
    WriteList(console, {kStars});
    WriteFormatted(console,
                   "(X,'Dynamic range equals',F6.0,'; Imin(Va,max) = ',F5.2,', Imax(Va,max) = ',F4.0,' mA.')",
                   {range, imin_ma, imax_ma});
    WriteFormatted(console, "(X,'Best results obtained with dynamic range less than',F5.1,'.')",
                   {kMaxDynamicRange});
    WriteList(console, {kStars});
  }
}

void CheckScreenCurrent(const Settings& s, const MeasurementSet& ms, std::ostream& /*console*/) {
  if (!IsPentodeCheck(s.TubeType)) return;
  for (int f = 1; f <= LastConstantScreenFile(ms); ++f) {
    for (int k = 1; k <= ms.file[f].NVg; ++k) {
      const MeasCurve& c = ms.curve(f, k);
      // A curve of one point is judged on that point.
      const bool second_low = c.NPts < 2 || c.pt[2].Is < kScreenCurrentFloor;
      if (c.pt[1].Is < kScreenCurrentFloor && second_low) {
        const std::string grid = c.Vg1 == 0.0f ? "0" : ShortestReal(c.Vg1, 4);
        const std::string name = f <= s.DataFile.count() ? " (" + TrimRight(s.DataFile[f]) + ".utd)" : "";
        PlainStop({ListDirected({int32_t{f}, int32_t{k}}),
                   ListDirected({"The numbers above are file " + RenderI(f, 0) + name + " and its curve " +
                                 RenderI(k, 0) + " (Vg = " + grid + " V)."}),
                   ListDirected({"Screen current zero for Va(min)!!"}),
                   ListDirected({"Can fit only when Is(Va,min) > 0."}),
                   ListDirected({"Remove complete dataset with Is(Va,min) = 0, and try again."}),
                   ListDirected({"Execution halts."})});
      }
    }
  }
}

void CheckTriodeCutOff(const Settings& s, const MeasurementSet& ms, Console& console) {
  if (!IsTriodeCheck(s.TubeType)) return;
  std::ostream& out = console.out;
  for (int f = 1; f <= ms.NFiles; ++f) {
    for (int k = 1; k <= ms.file[f].NVg; ++k) {
      const MeasCurve& c = ms.curve(f, k);
      const float first = c.pt[1].Ia;        // taken as Va = 0
      const float last = c.pt[c.NPts].Ia;    // at the highest Va
      // Without a positive current at Va,max the ratio has no meaning; the curve is reported.
      const bool no_last_current = !(last > 0.0f);
      bool offends = no_last_current;
      if (!no_last_current) {
        const float ratio = first / last;
        offends = ratio > kCutOffRatio;
      }
      if (!offends) continue;
      WriteList(out);
      WriteList(out, {"!!!!!!"});
      if (no_last_current) {
        WriteFormatted(out, "(X,'Ia(Va=Va,max) is zero or below for datafile',I3,', curve',I3,'.')",
                       {int32_t{f}, int32_t{k}});
      }
      WriteList(out, {"For a triode, Ia(Va=0)/Ia(Va=Va,max)", "should be less than", kCutOffRatio});
      WriteList(out, {"For a good fit of the cut-off region."});
      WriteList(out);
      WriteList(out, {"Press return to continue."});
      console.WaitForReturn();
      return;
    }
  }
}

void CheckSaturation(const Settings& s, const MeasurementSet& ms, Console& console) {
  const char tube = s.TubeType;
  if (!IsTriodeCheck(tube) && !IsPentodeCheck(tube)) return;
  std::ostream& out = console.out;
  bool saturated = false;
  float x[kParabolaPoints + 1] = {};
  float y[kParabolaPoints + 1] = {};
  for (int f = 1; f <= ms.NFiles; ++f) {
    for (int k = 1; k <= ms.file[f].NVg; ++k) {
      const MeasCurve& c = ms.curve(f, k);
      const int n = c.NPts;
      if (n < kParabolaPoints) continue;
      if (IsTriodeCheck(tube)) {
        // Ia against Va over the last five points: bending down at high current is saturation.
        for (int i = 1; i <= kParabolaPoints; ++i) {
          x[i] = c.pt[n - kParabolaPoints + i].Va;
          y[i] = c.pt[n - kParabolaPoints + i].Ia;
        }
        const float a3 = ParabolaCurvature(x, y, kParabolaPoints, out);
        const float curvature = 2.0f * a3;
        if (curvature < 0.0f && c.pt[n - 2].Ia > kSaturationCurrent) {
          WriteFormatted(out, "(X,'Saturation effects detected for datafile',I2,' for Vg = ',F5.1,'.')",
                         {int32_t{f}, c.Vg1});
          saturated = true;
        }
      } else {
        // Is against Va over the first five points: bending down well below the screen voltage.
        for (int i = 1; i <= kParabolaPoints; ++i) {
          x[i] = c.pt[i].Va;
          y[i] = c.pt[i].Is;
        }
        const float a3 = ParabolaCurvature(x, y, kParabolaPoints, out);
        const float curvature = 2.0f * a3;
        const float va_limit = kSaturationVaFraction * c.pt[1].Vs;
        if (curvature < 0.0f && c.pt[3].Va < va_limit) {
          const float vg2 = c.pt[1].Vs + 0.5f;
          WriteFormatted(out, "(X,'Saturation effects detected for Vg2 =',F5.0,' and Vg = ',F5.1,'.')",
                         {vg2, c.Vg1});
          saturated = true;
        }
      }
    }
  }
  if (!saturated) return;
  WriteList(out);
  WriteList(out, {"Saturation effects detected."});
  WriteList(out, {"Fit will continue - but results may be untrustworthy."});
  WriteList(out, {"Hit return to continue."});
  console.WaitForReturn();
}

void CheckMuAtMaximum(char TubeType, const ParamVector& P, const Slots& s, std::ostream& console) {
  if ((TubeType != 'X' && TubeType != 'V') || s.mu == 0) return;
  const float mu = P[s.mu];
  const float distance = std::fabs(mu - kMuLimit);
  if (!(distance < kMuTolerance)) return;
  WriteList(console, {"*** WARNING ***"});
  WriteList(console, {"The fitted value for Mu reached its maximum and is probably unphysically high."});
  if (TubeType == 'X') {
    WriteList(console,
              {"If the measurement is on a variable mu pentode, try to reduce Icmax to only capture the lo-mu "});
    WriteList(console, {"part of the characteristic."});
  } else {
    WriteList(console,
              {"If the measurement is on a variable mu pentode,check if starting mu-value based on triode-fit "});
    WriteList(console, {"is not too high."});
  }
}

}  // namespace tubefit
