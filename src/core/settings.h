// The run settings: everything the run configuration file says, filled once by ReadIni.
#pragma once

#include <array>
#include <cstdint>
#include <string>

#include "param.h"

namespace tubefit {

enum class SpiceDialect { kLtspice, kNgspice };
// Digits of the values in the subcircuit files: the fields of the plain files, or every value with the
// digits that read back to the same 32-bit float (always so in the ngspice dialect).
enum class SpicePrecision { kFields, kFull };

// How each fit stage is minimised: the direction-set method (powell) or Levenberg-Marquardt (lm).
enum class Minimiser { kPowell, kLm };

struct Settings {
  std::string IniFile = "Model.ini";
  std::string GnuplotPath;  // trimmed
  int32_t NFiles = 0;
  // Measurement file names without ".utd", trimmed; slots 1..NFiles (slot 0 unused).
  std::array<std::string, kMaxFiles + 1> DataFile{};
  char TubeType = ' ';
  int32_t iModel = 0;
  float Pmax = 0.0f;      // W
  float VgOffset = 0.0f;  // V
  float VaOffset = 0.0f;  // V, never negative
  float Icmax = 1.0f;     // A
  bool RdStart = false;
  std::string StartFile;  // trimmed
  int32_t DebugLevel = 0;

  // Opt-in extensions; their defaults give the plain output.
  SpiceDialect Dialect = SpiceDialect::kLtspice;
  SpicePrecision Precision = SpicePrecision::kFields;
  bool PlotPng = false;
  bool FitReport = false;
  Minimiser minimiser = Minimiser::kPowell;
};

// Tube types whose files are classified by sweep and that have a screen current: P, B, H, F, V.
inline bool IsScreenGridTube(char tube) {
  return tube == 'P' || tube == 'B' || tube == 'H' || tube == 'F' || tube == 'V';
}

}  // namespace tubefit
