// The fit report page: one file <model name>.html (a self-contained page with the plots inline) or
// <model name>.md (the same tables in Markdown, without images) that a user can read and share.
#pragma once

#include <cstdint>
#include <ostream>
#include <string>
#include <vector>

#include "core/measurement_set.h"
#include "core/param_set.h"
#include "core/settings.h"
#include "driver/fit_report.h"
#include "plot/plot.h"

namespace tubefit {

// What the page shows of a finished run.
struct ReportContent {
  const Settings* settings = nullptr;
  const MeasurementSet* ms = nullptr;
  const ParamSet* ps = nullptr;
  const FitErrors* errors = nullptr;  // the fit errors of the run
  ParamVector SV{};                  // standard variances in %
  std::vector<ReportRow> operating;  // empty when no operating point is set
  std::string subcircuit_file;       // the .cir file of the model
  std::string subcircuit_text;
  std::vector<RenderedPlot> plots;   // the SVG images (HTML only)
  std::string plot_problem;          // why images are missing, or empty
};

// The page text in the settings' report format (HTML or Markdown).
std::string ReportPageText(const ReportContent& content);

// Renders the plots (HTML only), reads the subcircuit file, writes <model name>.html or .md and names it
// on the console. Stops if the page cannot be written.
void WriteReportPage(ReportContent content, std::ostream& console);

}  // namespace tubefit
