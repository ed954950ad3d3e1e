// The fit-error report: how far the fitted currents are from the measured ones, curve by curve, in mA.
//
// It reports the fit errors (fit/fit_errors.h) in mA and prints the sum of squared errors as the objective
// itself computes it.
#pragma once

#include <array>
#include <cstdint>
#include <ostream>
#include <string>
#include <vector>

#include "core/measurement_set.h"
#include "core/param_set.h"
#include "core/settings.h"
#include "fit/fit_errors.h"

namespace tubefit {

// The report's lines (without line ends): a heading, one line per curve, the line of all curves, and the
// sum of squared errors. Grid g3 voltages get a column of their own for the tubes that have them (H, F).
std::vector<std::string> FitReportLines(const FitErrors& errors, const Settings& settings);

// One line for every fitted parameter (slots 1..NFit) whose standard variance SV (in %) exceeds 100 %
// in magnitude: the data do not determine it. NaN variances give no line (the table announces them).
std::vector<std::string> UndeterminedParameterLines(int32_t NFit, const ParamVector& SV,
                                                    const std::array<std::string, MxNP + 1>& names);

// Prints the report on the console and writes the same lines to "Fit.txt"; the lines of `more` (the
// operating point) follow the table in both.
void WriteFitReport(const Settings& settings, const FitErrors& errors, std::ostream& console,
                    const std::vector<std::string>& more = {});

// One quantity of a report: its name and its value with unit.
struct ReportRow {
  std::string name, value;
};

// The small-signal values at settings.OperatingPoint from the fitted law with exact derivatives: the
// voltages, Ia (and Is for screen-grid tubes) in mA, gm = dIa/dVg1 in mA/V, ra = 1/(dIa/dVa) in kOhm and
// mu = gm ra (a diode has only Ia and ra). Five significant digits.
std::vector<ReportRow> OperatingPointRows(const Settings& settings, const ParamVector& P, const Slots& slots);

// The console and Fit.txt lines of the rows: a heading with the voltages, then "   name = value".
std::vector<std::string> OperatingPointLines(const std::vector<ReportRow>& rows);

}  // namespace tubefit
