// Program-wide limits of the measurement set and the parameter vector.
#pragma once

namespace tubefit {

constexpr int kMaxFiles = 20;    // measurement files per run
constexpr int kMaxCurves = 20;   // curves (grid voltages) per file
constexpr int kMaxPoints = 500;  // points per curve
constexpr int MxNP = 20;         // parameter slots

}  // namespace tubefit
