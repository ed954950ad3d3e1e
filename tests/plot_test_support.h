// Helpers of the plot tests: a fresh working directory, file reading, small measurement sets.
#pragma once

#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "core/measurement_set.h"
#include "core/settings.h"
#include "process_support.h"
#include "test_support.h"

namespace tubefit::plottest {

// A fresh temporary working directory (its name may hold a blank), removed at the end.
class TempDir : public testsupport::TempDir {
 public:
  explicit TempDir(const std::string& stem = "tubefit_plot_") : testsupport::TempDir(stem) {}
};

inline std::string ReadFile(const std::string& name) {
  std::ifstream in(name, std::ios::binary);
  std::ostringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

inline std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  std::string line;
  while (std::getline(in, line)) lines.push_back(line);
  return lines;
}

// A stand-in program of that name (on Windows with .exe) running the actions (see WriteStandIn).
inline std::string WriteExecutable(const std::string& name, const std::string& actions) {
  return testsupport::WriteStandIn(name, actions);
}

inline bool FileNonEmpty(const std::string& name) {
  struct stat st {};
  return stat(name.c_str(), &st) == 0 && st.st_size > 0;
}

// Adds curve c of file f with grid voltage vg1 (and vg3) and the points (Va, Ia A, Is A, Vs).
struct Pt {
  float Va, Ia, Is, Vs;
};
inline void AddCurve(MeasurementSet& ms, int f, float vg1, const std::vector<Pt>& pts, float vg3 = 0.0f) {
  MeasFile& file = ms.file[f];
  const int c = ++file.NVg;
  MeasCurve& cv = file.curve[c];
  cv.Vg1 = vg1;
  cv.Vg3 = vg3;
  cv.NPts = static_cast<int32_t>(pts.size());
  for (size_t k = 0; k < pts.size(); ++k) {
    MeasPoint& p = cv.pt[k + 1];
    p.Va = pts[k].Va;
    p.Ia = pts[k].Ia;
    p.Is = pts[k].Is;
    p.Vs = pts[k].Vs;
  }
  if (ms.NFiles < f) ms.NFiles = f;
}

// Points along Va = from, from + step, ... to with zero currents and screen voltage vs (or Va when vs < 0).
inline std::vector<Pt> Sweep(float from, float to, float step, float vs = -1.0f) {
  std::vector<Pt> pts;
  for (float v = from; v <= to + 1e-3f; v += step) pts.push_back({v, 0.0f, 0.0f, vs < 0.0f ? v : vs});
  return pts;
}

}  // namespace tubefit::plottest
